#include "photometadata.h"

#include "fimetadata.h"
#include "jpegcodec.h"

#include <QtEndian>

namespace {

const QByteArray kExifHeader("Exif\0\0", 6);
const QByteArray kXmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);

// An APP1 segment's payload is at most this long.
const int kMaxSegmentPayload = 0xFFFF - 2;

bool IsTiff(const QByteArray& bytes)
{
    return bytes.startsWith(QByteArray("II*\0", 4)) || bytes.startsWith(QByteArray("MM\0*", 4));
}

QByteArray Segment(const QByteArray& payload)
{
    QByteArray segment("\xFF\xE1", 2);
    const int length = payload.size() + 2;
    segment.append(char(length >> 8)).append(char(length & 0xFF));
    return segment + payload;
}

// A small picture the segments ride in.
QByteArray Vehicle()
{
    QImage dot(8, 8, QImage::Format_RGB32);
    dot.fill(Qt::gray);
    QByteArray jpeg;
    JpegCodec::Encode(dot, 75, QByteArray(), jpeg);
    return jpeg;
}

// The APP1 payloads of a JPEG stream, up to its first scan.
QList<QByteArray> App1Payloads(const QByteArray& file)
{
    QList<QByteArray> payloads;
    int pos = 2;
    while (pos + 4 <= file.size() && uchar(file.at(pos)) == 0xFF) {
        const int marker = uchar(file.at(pos + 1));
        if (marker == 0xDA || marker == 0xD9)
            break;
        const int length = (uchar(file.at(pos + 2)) << 8) | uchar(file.at(pos + 3));
        if (length < 2 || pos + 2 + length > file.size())
            break;
        if (marker == 0xE1)
            payloads << file.mid(pos + 4, length - 2);
        pos += 2 + length;
    }
    return payloads;
}

} // namespace

namespace PhotoMetadata {

Blocks ForTarget(const QString& description, const QImage& image)
{
    Blocks blocks;
    const FiMetadata fields = FiMetadataIO::FromDescription(description);
    if (fields.isEmpty())
        return blocks;
    QByteArray jpeg = Vehicle();
    if (jpeg.isEmpty() || !FiMetadataIO::ApplyWithExiv2(jpeg, fields, image))
        return blocks;
    for (const QByteArray& payload : App1Payloads(jpeg)) {
        if (blocks.exif.isEmpty() && payload.startsWith(kExifHeader) && IsTiff(payload.mid(kExifHeader.size())))
            blocks.exif = payload.mid(kExifHeader.size());
        else if (blocks.xmp.isEmpty() && payload.startsWith(kXmpHeader))
            blocks.xmp = payload.mid(kXmpHeader.size());
    }
    return blocks;
}

QString Describe(const Blocks& blocks)
{
    QByteArray segments;
    if (IsTiff(blocks.exif) && kExifHeader.size() + blocks.exif.size() <= kMaxSegmentPayload)
        segments += Segment(kExifHeader + blocks.exif);
    if (!blocks.xmp.isEmpty() && kXmpHeader.size() + blocks.xmp.size() <= kMaxSegmentPayload)
        segments += Segment(kXmpHeader + blocks.xmp);
    const QByteArray vehicle = Vehicle();
    if (segments.isEmpty() || vehicle.size() < 2)
        return QString();
    FiMetadata fields;
    if (!FiMetadataIO::FromExiv2(vehicle.left(2) + segments + vehicle.mid(2), FIF_JPEG, fields))
        return QString();
    return FiMetadataIO::ToDescription(fields);
}

QByteArray ExifFromOffsetBlock(const QByteArray& block)
{
    if (block.size() < 4)
        return QByteArray();
    const quint32 offset = qFromBigEndian<quint32>(block.constData());
    if (offset > quint32(block.size() - 4))
        return QByteArray();
    QByteArray exif = block.mid(4 + int(offset));
    if (exif.startsWith(kExifHeader))
        exif.remove(0, kExifHeader.size());
    return IsTiff(exif) ? exif : QByteArray();
}

QByteArray OffsetBlockFromExif(const QByteArray& exif)
{
    return QByteArray(4, '\0') + exif;
}

} // namespace PhotoMetadata
