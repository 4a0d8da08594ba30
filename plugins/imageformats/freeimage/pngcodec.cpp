#include "pngcodec.h"

#include "filibrary.h"
#include "pngdeflate.h"
#include "pnginflate.h"
#include "codecthreads.h"

#include <QColorSpace>
#include <QIODevice>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <libdeflate.h>
#include <png.h>

namespace {

const qint64 kMaxPixels = qint64(1) << 28;
const QString kXmpField = QStringLiteral("XMLPacket");

void Error(png_structp png, png_const_charp message)
{
    qCDebug(lcKorvaneFi) << "libpng:" << message;
    png_longjmp(png, 1);
}

void Warning(png_structp, png_const_charp message)
{
    qCDebug(lcKorvaneFi) << "libpng:" << message;
}

struct Source
{
    const QByteArray* file;
    size_t position;
};

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length)
{
    Source* source = static_cast<Source*>(png_get_io_ptr(png));
    if (source->position + length > size_t(source->file->size()))
        png_error(png, "read past the end of the file");
    std::memcpy(data, source->file->constData() + source->position, length);
    source->position += length;
}

// The profile of the iCCP chunk (name, 0, compression method 0, zlib data),
// taken from the chunk itself: libpng refuses some valid profiles.
QByteArray Profile(const QByteArray& file)
{
    qint64 pos = 8;
    while (pos + 12 <= file.size()) {
        const uchar* chunk = reinterpret_cast<const uchar*>(file.constData()) + pos;
        const qint64 length = (qint64(chunk[0]) << 24) | (chunk[1] << 16) | (chunk[2] << 8) | chunk[3];
        if (length < 0 || pos + 12 + length > file.size())
            break;
        const QByteArray type = file.mid(int(pos) + 4, 4);
        if (type == "IDAT" || type == "IEND")
            break;
        if (type == "iCCP") {
            const QByteArray data = file.mid(int(pos) + 8, int(length));
            const int nameEnd = data.indexOf('\0');
            if (nameEnd < 1 || nameEnd + 2 >= data.size() || data.at(nameEnd + 1) != 0)
                return QByteArray();
            // qUncompress takes the expected size first and grows as needed.
            return qUncompress(QByteArray(4, '\0') + data.mid(nameEnd + 2));
        }
        pos += 12 + length;
    }
    return QByteArray();
}

// Reads the header and sets the transformations into the layout of format.
bool ReadHeader(png_structp png, png_infop info, QImage::Format* format, png_uint_32* width, png_uint_32* height)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    int depth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png, info, width, height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (*width == 0 || *height == 0 || qint64(*width) * *height > kMaxPixels)
        return false;
    bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (transparency && colourType == PNG_COLOR_TYPE_GRAY && depth < 16) {
        // A grey value the samples cannot take marks nothing transparent
        // (libpng would cut it to the depth's low bits and hide another).
        png_color_16p grey = nullptr;
        png_get_tRNS(png, info, nullptr, nullptr, &grey);
        if (!grey || grey->gray >= (1 << depth)) {
            png_free_data(png, info, PNG_FREE_TRNS, 0);
            transparency = false;
        }
    }
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) || transparency;
    const bool grey = !(colourType & PNG_COLOR_MASK_COLOR);
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (grey && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (transparency)
        png_set_tRNS_to_alpha(png);
    const bool deep = depth == 16;
    if (grey && !alpha) {
        *format = deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
    } else {
        if (grey)
            png_set_gray_to_rgb(png);
        if (deep) {
            *format = alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
            if (!alpha)
                png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
        } else {
            // B, G, R, A bytes: ARGB32 (and RGB32 with a 0xFF filler).
            png_set_bgr(png);
            *format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
            if (!alpha)
                png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        }
    }
    if (deep && Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool ReadRows(png_structp png, std::vector<png_bytep>* rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows->data());
    return true;
}

// Keywords are 1 to 79 printable Latin-1 characters.
QByteArray Keyword(const QString& name)
{
    QByteArray key;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        key.append((u >= 0x20 && u < 0x7F) || (u >= 0xA1 && u <= 0xFF) ? char(u) : '_');
    }
    return key.trimmed().left(79);
}

void AppendChunk(QByteArray& file, const char* type, const QByteArray& data)
{
    uchar length[4];
    qToBigEndian(quint32(data.size()), length);
    file.append(reinterpret_cast<const char*>(length), 4);
    const int start = file.size();
    file.append(type, 4);
    file += data;
    uchar crc[4];
    qToBigEndian(quint32(libdeflate_crc32(0, file.constData() + start, size_t(file.size() - start))), crc);
    file.append(reinterpret_cast<const char*>(crc), 4);
}

QByteArray ZlibCompressed(const QByteArray& data)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(9);
    if (!compressor)
        return QByteArray();
    QByteArray out(int(libdeflate_zlib_compress_bound(compressor, size_t(data.size()))), Qt::Uninitialized);
    const size_t size = libdeflate_zlib_compress(compressor, data.constData(), size_t(data.size()), out.data(),
                                                 size_t(out.size()));
    libdeflate_free_compressor(compressor);
    out.resize(int(size));
    return out;
}

// A profile as readers accept it: whole, and of the picture's colour space.
bool ProfileFits(const QByteArray& profile, int colourType)
{
    if (profile.size() < 132 || qFromBigEndian<quint32>(profile.constData()) != quint32(profile.size())
        || profile.mid(36, 4) != "acsp")
        return false;
    return profile.mid(16, 4) == ((colourType & 2) ? QByteArray("RGB ") : QByteArray("GRAY"));
}

// Comments and custom fields as tEXt (zTXt past 1 KiB) when Latin-1, else
// as UTF-8 iTXt; the XMP packet as the iTXt chunk its readers look for.
void AppendTexts(QByteArray& file, const FiMetadata& fields)
{
    for (const FiMetadataField& field : fields) {
        if (field.category == FiMetadataIO::Xmp && field.name == kXmpField) {
            const QByteArray xmp = FiMetadataIO::UprightXmp(field.value).toUtf8();
            AppendChunk(file, "iTXt", QByteArray("XML:com.adobe.xmp") + QByteArray(5, '\0') + xmp);
            continue;
        }
        if (field.category != FiMetadataIO::Comments && field.category != FiMetadataIO::Custom)
            continue;
        const QByteArray key = Keyword(field.name);
        if (key.isEmpty())
            continue;
        QString value = field.value;
        value.remove(QChar(0));
        bool latin1 = true;
        for (const QChar c : qAsConst(value))
            latin1 = latin1 && c.unicode() <= 0xFF;
        if (!latin1)
            AppendChunk(file, "iTXt", key + QByteArray(5, '\0') + value.toUtf8());
        else if (value.size() > 1024)
            AppendChunk(file, "zTXt", key + QByteArray(2, '\0') + ZlibCompressed(value.toLatin1()));
        else
            AppendChunk(file, "tEXt", key + '\0' + value.toLatin1());
    }
}

// Any PNG, with libpng: the layouts and the damage PngInflate leaves alone.
QImage DecodeWithLibpng(const QByteArray& file)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Error, Warning);
    if (!png)
        return QImage();
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return QImage();
    }
    png_set_benign_errors(png, 1);
    png_set_crc_action(png, PNG_CRC_WARN_USE, PNG_CRC_WARN_USE);
    Source source = {&file, 0};
    png_set_read_fn(png, &source, ReadFromMemory);

    QImage image;
    QImage::Format format = QImage::Format_Invalid;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (ReadHeader(png, info, &format, &width, &height)) {
        image = QImage(int(width), int(height), format);
        std::vector<png_bytep> rows(height);
        for (png_uint_32 y = 0; y < height && !image.isNull(); ++y)
            rows[y] = image.scanLine(int(y));
        if (image.isNull() || !ReadRows(png, &rows))
            image = QImage();
    }
    if (!image.isNull()) {
        png_uint_32 x = 0, y = 0;
        int unit = 0;
        if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x > 0 && y > 0
            && x < 1000000 && y < 1000000) {
            image.setDotsPerMeterX(int(x));
            image.setDotsPerMeterY(int(y));
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

} // namespace

namespace PngCodec {

QImage Decode(const QByteArray& file)
{
    QImage image = PngInflate::Decode(file, kMaxPixels);
    if (image.isNull())
        image = DecodeWithLibpng(file);
    if (!image.isNull()) {
        const QByteArray profile = Profile(file);
        if (!profile.isEmpty()) {
            const QColorSpace space = QColorSpace::fromIccProfile(profile);
            if (space.isValid())
                image.setColorSpace(space);
        }
    }
    return image;
}

bool Encode(const QImage& image, int level, const QByteArray& profile, const FiMetadata& fields, QIODevice* device)
{
    if (image.isNull() || !device)
        return false;
    PngFilter::Layout layout;
    if (!PngFilter::LayoutOf(image, layout))
        return false;
    QByteArray head("\x89PNG\r\n\x1A\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian(quint32(image.width()), header.data());
    qToBigEndian(quint32(image.height()), header.data() + 4);
    header[8] = char(layout.depth);
    header[9] = char(layout.colourType);
    AppendChunk(head, "IHDR", header);
    if (!profile.isEmpty() && ProfileFits(profile, layout.colourType))
        AppendChunk(head, "iCCP", QByteArray("ICC profile") + QByteArray(2, '\0') + ZlibCompressed(profile));
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        QByteArray resolution(9, '\1');
        qToBigEndian(quint32(image.dotsPerMeterX()), resolution.data());
        qToBigEndian(quint32(image.dotsPerMeterY()), resolution.data() + 4);
        AppendChunk(head, "pHYs", resolution);
    }
    AppendTexts(head, fields);
    if (device->write(head) != head.size())
        return false;
    // Without a level asked for, the sample of rows that chooses the filter
    // also chooses between the two fastest levels (pngdeflate.h).
    const int effort = level < 0 ? -1 : qBound(0, level, 9);
    const auto sink = [device](const char* data, size_t size) {
        return size <= size_t(std::numeric_limits<qint64>::max()) && device->write(data, qint64(size)) == qint64(size);
    };
    if (!PngDeflate::WriteImageData(image, layout, effort, CodecThreads::Granted(), sink))
        return false;
    QByteArray end;
    AppendChunk(end, "IEND", QByteArray());
    return device->write(end) == end.size();
}

QSize Size(const QByteArray& file)
{
    // Signature, then the IHDR chunk: length 13, type, width, height.
    if (file.size() < 24 || !file.startsWith("\x89PNG\r\n\x1A\n") || file.mid(12, 4) != "IHDR")
        return QSize();
    const uchar* bytes = reinterpret_cast<const uchar*>(file.constData());
    const quint32 width = qFromBigEndian<quint32>(bytes + 16);
    const quint32 height = qFromBigEndian<quint32>(bytes + 20);
    if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu)
        return QSize();
    return QSize(int(width), int(height));
}

} // namespace PngCodec
