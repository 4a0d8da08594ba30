// Writes a folder of the files an attacker or an unlucky user hands a desktop
// image converter, with an index.tsv for corpussweep that marks every one of
// them damaged: each must fail cleanly (no crash, no hang, no runaway
// allocation), and a conversion that succeeds on one of them is a wrong
// success.
//
//   hostilefiles OUTDIR
//
// OUTDIR must not exist or be empty. It gets
//   bomb-*     headers (and a token of data) declaring huge pictures;
//   trunc50-*, trunc90-*
//              a 400x300 picture in many formats, cut at 50 % and 90 %;
//   hdr-*      the same pictures with one header byte set to 0xFF or 0x00 on
//              a size or depth field (in PNG and MNG chunks the CRC is
//              recomputed, except in the variants named "stale-crc", so that
//              the reader gets as far as the field);
//   pdf-*      PDFs whose form XObjects draw themselves;
//   pipe.png   a FIFO; a reader that opens it without a writer blocks;
//   empty.*    zero-byte files;
// and valid/, outside the index, with the intact pictures the truncated and
// changed files come from. The intact pictures are written with Qt's own
// plugins where Qt writes the format, with ImageMagick's convert otherwise
// (skipped with a note when it is not installed), JPEG XR with JxrEncApp and
// PDF with QPdfWriter. Everything is deterministic: the same bytes each run.
#include "graphics/imagecodec.h"

#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLibraryInfo>
#include <QLinearGradient>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QProcess>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>
#include <zlib.h>

namespace {

// ----- bytes ------------------------------------------------------------------

// A byte string written field by field in one byte order.
class Bytes
{
public:
    explicit Bytes(QDataStream::ByteOrder order)
        : stream(&data, QIODevice::WriteOnly)
    {
        stream.setByteOrder(order);
    }

    Bytes& U8(quint32 value) { stream << quint8(value); return *this; }
    Bytes& U16(quint32 value) { stream << quint16(value); return *this; }
    Bytes& U32(quint32 value) { stream << quint32(value); return *this; }
    Bytes& Raw(const QByteArray& bytes)
    {
        stream.writeRawData(bytes.constData(), bytes.size());
        return *this;
    }
    Bytes& Raw(const char* text, int size) { return Raw(QByteArray(text, size)); }
    Bytes& Text(const char* text) { return Raw(QByteArray(text)); }
    Bytes& Fill(int count, char value) { return Raw(QByteArray(count, value)); }

    const QByteArray& Data() const { return data; }

private:
    QByteArray data;
    QDataStream stream;
};

constexpr QDataStream::ByteOrder BE = QDataStream::BigEndian;
constexpr QDataStream::ByteOrder LE = QDataStream::LittleEndian;

quint32 ReadBe32(const QByteArray& bytes, int at)
{
    const auto byte = [&](int i) { return quint32(quint8(bytes.at(at + i))); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

void WriteBe32(QByteArray& bytes, int at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (24 - 8 * i));
}

quint32 Crc(const QByteArray& bytes)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
}

QByteArray Deflate(const QByteArray& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray out(int(size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
                  uLong(raw.size()), 9) != Z_OK)
        return QByteArray();
    out.resize(int(size));
    return out;
}

// ----- PNG and MNG chunks -----------------------------------------------------

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);
const QByteArray kMngSignature("\x8aMNG\r\n\x1a\n", 8);

QByteArray Chunk(const char* type, const QByteArray& body)
{
    const QByteArray typed = QByteArray(type, 4) + body;
    return Bytes(BE).U32(quint32(body.size())).Raw(typed).U32(Crc(typed)).Data();
}

QByteArray Ihdr(quint32 width, quint32 height, int depth, int colourType)
{
    return Chunk("IHDR", Bytes(BE).U32(width).U32(height).U8(depth).U8(colourType).U8(0).U8(0).U8(0).Data());
}

// The offset of the first chunk of this type (its length field), or -1.
int FindChunk(const QByteArray& file, const char* type)
{
    int at = 8;
    while (at + 8 <= file.size()) {
        if (file.mid(at + 4, 4) == QByteArray(type, 4))
            return at;
        const quint32 length = ReadBe32(file, at);
        if (length > quint32(file.size()))
            return -1;
        at += 12 + int(length);
    }
    return -1;
}

void RefreshCrc(QByteArray& file, int chunk)
{
    const int length = int(ReadBe32(file, chunk));
    WriteBe32(file, chunk + 8 + length, Crc(file.mid(chunk + 4, 4 + length)));
}

// ----- huge declared sizes ----------------------------------------------------

// The logical screen is 65535x65535; its only frame is 1x1.
QByteArray GifScreenBomb()
{
    return Bytes(LE)
        .Text("GIF89a").U16(65535).U16(65535)
        .U8(0x80).U8(0).U8(0)                       // a global table of two colours
        .Raw("\0\0\0\xff\xff\xff", 6)
        .U8(0x2c).U16(0).U16(0).U16(1).U16(1).U8(0) // the frame
        .Raw("\x02\x02\x44\x01\x00", 5)              // LZW: clear, 0, end
        .U8(0x3b)
        .Data();
}

QByteArray PngBomb(quint32 side, int depth, int bytesPerPixel)
{
    // One row of zeros: a decoder that starts allocates first.
    const QByteArray row(1 + int(side) * bytesPerPixel * depth / 8, '\0');
    return kPngSignature + Ihdr(side, side, depth, 6) + Chunk("IDAT", Deflate(row)) + Chunk("IEND", QByteArray());
}

QByteArray TgaHeaderBomb()
{
    return Bytes(LE).U8(0).U8(0).U8(2).Fill(5, 0).U16(0).U16(0).U16(23170).U16(23170).U8(32).U8(0x28).Data();
}

QByteArray SvgBomb()
{
    return QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2000in\" height=\"2000in\">"
                      "<rect width=\"9\" height=\"9\"/></svg>\n");
}

// A baseline YCbCr JPEG of 65500x65500 with one quantisation table, Huffman
// tables of one code each and a few bytes of scan: enough for a decoder to start.
QByteArray JpegBomb()
{
    Bytes b(BE);
    b.U16(0xffd8);
    b.U16(0xffdb).U16(67).U8(0).Fill(64, 1);
    b.U16(0xffc0).U16(17).U8(8).U16(65500).U16(65500).U8(3);
    for (int component = 1; component <= 3; ++component)
        b.U8(component).U8(0x11).U8(0);
    b.U16(0xffc4).U16(2 + 2 * 18);
    for (int tableClass = 0; tableClass < 2; ++tableClass)
        b.U8(tableClass << 4).U8(1).Fill(15, 0).U8(0); // one code of length 1: DC 0, or AC end of block
    b.U16(0xffda).U16(12).U8(3);
    for (int component = 1; component <= 3; ++component)
        b.U8(component).U8(0);
    b.U8(0).U8(63).U8(0);
    b.Fill(64, 0);
    b.U16(0xffd9);
    return b.Data();
}

// 100000x100000 8-bit grey, one strip far past the end of the file.
QByteArray TiffBomb()
{
    Bytes b(LE);
    b.Text("II").U16(42).U32(8);
    struct Entry { quint16 tag, type; quint32 value; };
    const Entry entries[] = {
        {256, 4, 100000},     // width
        {257, 4, 100000},     // height
        {258, 3, 8},          // bits per sample
        {259, 3, 1},          // no compression
        {262, 3, 1},          // black is zero
        {273, 4, 1000000000}, // strip offset
        {277, 3, 1},          // samples per pixel
        {278, 4, 100000},     // rows per strip
        {279, 4, 4000000000u},// strip byte count
        {284, 3, 1},          // contiguous
    };
    b.U16(sizeof entries / sizeof entries[0]);
    for (const Entry& entry : entries) {
        b.U16(entry.tag).U16(entry.type).U32(1);
        if (entry.type == 3)
            b.U16(entry.value).U16(0);
        else
            b.U32(entry.value);
    }
    b.U32(0).Fill(16, 0);
    return b.Data();
}

QByteArray BmpBomb()
{
    return Bytes(LE)
        .Text("BM").U32(54).U32(0).U32(54)
        .U32(40).U32(50000).U32(50000).U16(1).U16(24).U32(0).U32(0).U32(2835).U32(2835).U32(0).U32(0)
        .Data();
}

QByteArray PsdBomb()
{
    return Bytes(BE)
        .Text("8BPS").U16(1).Fill(6, 0).U16(3).U32(30000).U32(30000).U16(8).U16(3)
        .U32(0).U32(0).U32(0)   // colour mode data, image resources, layers
        .U16(0).Fill(16, 0)     // raw image data, a token of it
        .Data();
}

// An extended WebP whose canvas is 16383x16383, with no image chunk.
QByteArray WebpBomb()
{
    Bytes b(LE);
    b.Text("RIFF").U32(4 + 8 + 10).Text("WEBP").Text("VP8X").U32(10).U32(0);
    for (int i = 0; i < 2; ++i)
        b.U8(16382 & 0xff).U8(16382 >> 8).U8(0);
    return b.Data();
}

QByteArray MngBomb()
{
    const QByteArray mhdr = Bytes(BE).U32(100000).U32(100000).U32(1).U32(0).U32(0).U32(0).U32(1).Data();
    return kMngSignature + Chunk("MHDR", mhdr) + Ihdr(1, 1, 8, 0) + Chunk("IDAT", Deflate(QByteArray(2, '\0')))
           + Chunk("IEND", QByteArray()) + Chunk("MEND", QByteArray());
}

// 65534x65534, three planes of 8 bits, with a few runs of zeros.
QByteArray PcxBomb()
{
    Bytes b(LE);
    b.U8(0x0a).U8(5).U8(1).U8(8).U16(0).U16(0).U16(65533).U16(65533).U16(72).U16(72).Fill(48, 0);
    b.U8(0).U8(3).U16(65534).U16(1).U16(0).U16(0).Fill(54, 0);
    for (int i = 0; i < 8; ++i)
        b.U8(0xff).U8(0);
    return b.Data();
}

// 65535x65535, three channels, uncompressed.
QByteArray SgiBomb()
{
    Bytes b(BE);
    b.U16(474).U8(0).U8(1).U16(3).U16(65535).U16(65535).U16(3).U32(0).U32(255).U32(0);
    b.Raw(QByteArray("huge").leftJustified(80, '\0'));
    b.U32(0).Fill(404, 0).Fill(16, 0);
    return b.Data();
}

// A JPEG 2000 codestream whose SIZ declares one 60000x60000 tile of three components.
QByteArray J2kBomb()
{
    Bytes b(BE);
    b.U16(0xff4f);
    b.U16(0xff51).U16(38 + 3 * 3).U16(0).U32(60000).U32(60000).U32(0).U32(0).U32(60000).U32(60000).U32(0).U32(0).U16(3);
    for (int component = 0; component < 3; ++component)
        b.U8(7).U8(1).U8(1);
    b.U16(0xff52).U16(12).U8(0).U8(0).U16(1).U8(1).U8(5).U8(4).U8(4).U8(0).U8(1);
    b.U16(0xff5c).U16(19).U8(0x40).U8(0x40);
    for (int level = 0; level < 5; ++level)
        b.U8(0x48).U8(0x48).U8(0x50);
    b.U16(0xff90).U16(10).U16(0).U32(0).U8(0).U8(1);
    b.U16(0xff93).Fill(8, 0);
    b.U16(0xffd9);
    return b.Data();
}

// ----- PDFs whose forms draw themselves ---------------------------------------

// Objects numbered from 1, with a correct cross-reference table.
QByteArray PdfFile(const QList<QByteArray>& objects)
{
    QByteArray file("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << file.size();
        file += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const int xref = file.size();
    file += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int offset : offsets)
        file += QString::asprintf("%010d 00000 n \n", offset).toLatin1();
    file += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R /Info 2 0 R >>\nstartxref\n"
            + QByteArray::number(xref) + "\n%%EOF\n";
    return file;
}

QByteArray Stream(const QByteArray& dictionary, const QByteArray& content)
{
    return "<< " + dictionary + " /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content
           + "\nendstream";
}

// A form that paints a frame, shrinks and draws the named form inside it.
QByteArray NestingForm(const QByteArray& colour, const QByteArray& drawn, const QByteArray& resources)
{
    const QByteArray content = "q\n" + colour + " rg\n0 0 200 200 re f\n1 1 1 RG 2 w\n4 4 192 192 re S\n"
                               "0.9 0 0 0.9 10 10 cm\n/" + drawn + " Do\nQ";
    return Stream("/Type /XObject /Subtype /Form /FormType 1 /BBox [0 0 200 200] /Resources " + resources, content);
}

// Objects: 1 catalog, 2 info, 3 pages, 4 page, 5 page content, 6... forms.
QByteArray SelfDrawingPdf(bool mutual)
{
    const QByteArray page = QByteArray("<< /Type /Page /Parent 3 0 R /MediaBox [0 0 200 200] ")
                            + "/Resources << /XObject << /Fm0 6 0 R >> >> /Contents 5 0 R >>";
    QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 3 0 R >>",
        mutual ? "<< /Title (Two forms that draw each other) /Producer (hostilefiles) >>"
               : "<< /Title (A form that draws itself) /Producer (hostilefiles) >>",
        "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        page,
        Stream(QByteArray(), "q\n/Fm0 Do\nQ"),
    };
    if (mutual) {
        objects << NestingForm("0.2 0.4 0.8", "Fm1", "<< /XObject << /Fm1 7 0 R >> >>")
                << NestingForm("0.8 0.4 0.2", "Fm0", "<< /XObject << /Fm0 6 0 R >> >>");
    } else {
        objects << NestingForm("0.2 0.4 0.8", "Fm0", "<< /XObject << /Fm0 6 0 R >> >>");
    }
    return PdfFile(objects);
}

// ----- the picture and its intact files ---------------------------------------

// Photo-like: smooth gradients, soft light and hard-edged shapes.
QImage Picture()
{
    QRandomGenerator random(0x686f7374u);
    QImage image(400, 300, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(38, 86, 168));
    sky.setColorAt(0.55, QColor(232, 188, 146));
    sky.setColorAt(1, QColor(70, 60, 50));
    painter.fillRect(image.rect(), sky);
    QRadialGradient sun(300, 80, 70);
    sun.setColorAt(0, QColor(255, 250, 222));
    sun.setColorAt(0.3, QColor(255, 226, 160, 220));
    sun.setColorAt(1, QColor(255, 200, 120, 0));
    painter.fillRect(image.rect(), sun);
    for (int hill = 0; hill < 3; ++hill) {
        QPainterPath path(QPointF(0, 300));
        for (int x = 0; x <= 400; x += 25)
            path.lineTo(x, 140 + 45 * hill + random.bounded(35));
        path.lineTo(400, 300);
        path.closeSubpath();
        QLinearGradient green(0, 140 + 45 * hill, 0, 300);
        green.setColorAt(0, QColor::fromHsv(85 + 15 * hill, 110, 170 - 35 * hill));
        green.setColorAt(1, QColor::fromHsv(100 + 15 * hill, 170, 50));
        painter.setPen(QPen(QColor(24, 36, 20), 1.5));
        painter.setBrush(green);
        painter.drawPath(path);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int house = 0; house < 7; ++house) {
        const QRect wall(20 + house * 52 + random.bounded(10), 215 + random.bounded(30), 30 + random.bounded(12),
                         26 + random.bounded(16));
        painter.setPen(Qt::black);
        painter.setBrush(QColor::fromHsv(random.bounded(360), 80 + random.bounded(100), 150 + random.bounded(100)));
        painter.drawRect(wall);
        painter.setBrush(QColor(250, 235, 140));
        painter.drawRect(wall.left() + 6, wall.top() + 6, 7, 7);
        painter.drawRect(wall.right() - 13, wall.top() + 6, 7, 7);
    }
    return image;
}

bool Save(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
           && file.flush();
}

QByteArray Load(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Run(const QString& program, const QStringList& arguments, QString& error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        error = process.errorString();
        return false;
    }
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        error = QStringLiteral("timed out");
        return false;
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    error = QString::fromLocal8Bit(process.readAll()).simplified().left(300);
    if (error.isEmpty())
        error = QStringLiteral("exit code %1").arg(process.exitCode());
    return false;
}

struct BaseSpec
{
    const char* extension;
    const char* magick;     // ImageMagick's name of the format
    int quality;            // for Qt's writer; -1: its default
    int compression;        // for Qt's writer; -1: its default
    QSize size;             // scaled to this; empty: 400x300
};

const BaseSpec kBases[] = {
    {"png", "png", -1, -1, {}},
    {"jpg", "jpg", 85, -1, {}},
    {"gif", "gif", -1, -1, {}},
    {"tif", "tiff", -1, 1, {}},
    {"webp", "webp", 80, -1, {}},
    {"bmp", "bmp", -1, -1, {}},
    {"tga", "tga", -1, -1, {}},
    {"pcx", "pcx", -1, -1, {}},
    {"ppm", "ppm", -1, -1, {}},
    {"rgb", "sgi", -1, -1, {}},
    {"ras", "sun", -1, -1, {}},
    {"psd", "psd", -1, -1, {}},
    {"jp2", "jp2", -1, -1, {}},
    {"ico", "ico", -1, -1, {256, 192}},
    {"mng", "mng", -1, -1, {}},
};

// The intact pictures, written into valid/ and kept by extension.
class Bases
{
public:
    Bases(const QDir& folder, const QImage& picture)
        : folder(folder), picture(picture)
    {
        convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
        jxrEncoder = QStandardPaths::findExecutable(QStringLiteral("JxrEncApp"));
    }

    void MakeAll()
    {
        for (const BaseSpec& spec : kBases)
            Make(spec);
        MakeJxr();
        MakePdf();
    }

    QByteArray Get(const QString& extension) const { return bytes.value(extension); }
    QStringList Extensions() const { return order; }
    QStringList Notes() const { return notes; }
    QString Origins() const
    {
        QStringList parts;
        for (auto it = madeBy.cbegin(); it != madeBy.cend(); ++it)
            parts << it.key() + QStringLiteral(": ") + it.value().join(QLatin1Char(' '));
        return parts.join(QStringLiteral("; "));
    }

private:
    QDir folder;
    QImage picture;
    QString convert, jxrEncoder;
    QMap<QString, QByteArray> bytes;
    QStringList order, notes;
    QMap<QString, QStringList> madeBy;

    QString PathOf(const QString& extension) const
    {
        return folder.filePath(QStringLiteral("photo.") + extension);
    }

    void Keep(const QString& extension, const QString& by)
    {
        const QByteArray made = Load(PathOf(extension));
        if (made.isEmpty()) {
            notes << QStringLiteral("%1 wrote an empty photo.%2: skipped").arg(by, extension);
            return;
        }
        bytes.insert(extension, made);
        order << extension;
        madeBy[by] << extension;
    }

    void Make(const BaseSpec& spec)
    {
        const QString extension = QLatin1String(spec.extension);
        const QImage image = spec.size.isEmpty()
                                 ? picture
                                 : picture.scaled(spec.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QByteArray key = extension == QLatin1String("jpg")   ? QByteArray("jpeg")
                               : extension == QLatin1String("tif") ? QByteArray("tiff")
                                                                   : extension.toLatin1();
        if (QImageWriter::supportedImageFormats().contains(key)) {
            QImageWriter writer(PathOf(extension), key);
            if (spec.quality >= 0)
                writer.setQuality(spec.quality);
            if (spec.compression >= 0)
                writer.setCompression(spec.compression);
            if (writer.write(image)) {
                Keep(extension, QStringLiteral("Qt"));
                return;
            }
            QFile::remove(PathOf(extension));
        }
        if (convert.isEmpty()) {
            notes << QStringLiteral("ImageMagick's convert is not installed and Qt does not write %1: no photo.%1, "
                                    "its truncated and changed files are skipped").arg(extension);
            return;
        }
        if (!bytes.contains(QStringLiteral("png"))) {
            notes << QStringLiteral("no photo.png for ImageMagick to start from: photo.%1 skipped").arg(extension);
            return;
        }
        QStringList arguments{PathOf(QStringLiteral("png")), QStringLiteral("-strip")};
        if (!spec.size.isEmpty())
            arguments << QStringLiteral("-resize") << QStringLiteral("%1x%2!").arg(spec.size.width()).arg(spec.size.height());
        arguments << QStringLiteral("+set") << QStringLiteral("date:create") << QStringLiteral("+set")
                  << QStringLiteral("date:modify") << QStringLiteral("-define")
                  << QStringLiteral("png:exclude-chunks=date,time")
                  << QLatin1String(spec.magick) + QLatin1Char(':') + PathOf(extension);
        QString error;
        if (!Run(convert, arguments, error)) {
            notes << QStringLiteral("convert could not write photo.%1 (%2): skipped").arg(extension, error);
            return;
        }
        Keep(extension, QStringLiteral("ImageMagick"));
    }

    // JPEG XR from the 24-bit BMP, with libjxr's own encoder.
    void MakeJxr()
    {
        if (jxrEncoder.isEmpty()) {
            notes << QStringLiteral("JxrEncApp is not installed: no photo.jxr");
            return;
        }
        if (!bytes.contains(QStringLiteral("bmp"))) {
            notes << QStringLiteral("no photo.bmp for JxrEncApp: no photo.jxr");
            return;
        }
        QString error;
        if (!Run(jxrEncoder, {QStringLiteral("-i"), PathOf(QStringLiteral("bmp")), QStringLiteral("-o"),
                              PathOf(QStringLiteral("jxr")), QStringLiteral("-q"), QStringLiteral("0.9")},
                 error)) {
            notes << QStringLiteral("JxrEncApp could not write photo.jxr (%1)").arg(error);
            return;
        }
        Keep(QStringLiteral("jxr"), QStringLiteral("JxrEncApp"));
    }

    // One 400x300 pt page with the picture. The creation date is replaced by
    // a fixed one so that the file is the same each run.
    void MakePdf()
    {
        const QString path = PathOf(QStringLiteral("pdf"));
        {
            QPdfWriter pdf(path);
            pdf.setResolution(72);
            pdf.setCreator(QStringLiteral("hostilefiles"));
            pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(400, 300), QPageSize::Point, QString(), QPageSize::ExactMatch),
                                          QPageLayout::Portrait, QMarginsF()));
            QPainter painter;
            if (!painter.begin(&pdf)) {
                notes << QStringLiteral("QPdfWriter could not write photo.pdf");
                return;
            }
            painter.drawImage(QRect(0, 0, 400, 300), picture);
        }
        QByteArray pdf = Load(path);
        static const char fixed[] = "20000101000000";
        for (int at = pdf.indexOf("(D:"); at >= 0; at = pdf.indexOf("(D:", at + 1)) {
            int digit = 0;
            for (int i = at + 3; i < pdf.size() && pdf.at(i) != ')'; ++i) {
                if (pdf.at(i) >= '0' && pdf.at(i) <= '9')
                    pdf[i] = digit < 14 ? fixed[digit++] : '0';
            }
        }
        if (!Save(path, pdf)) {
            notes << QStringLiteral("could not rewrite photo.pdf");
            return;
        }
        Keep(QStringLiteral("pdf"), QStringLiteral("QPdfWriter"));
    }
};

// ----- one changed header byte ------------------------------------------------

struct Change
{
    QString what;       // for the file name
    int offset;
    char value;
    int crcChunk;       // the chunk whose CRC is recomputed, or -1
};

// The offset of the first image descriptor of a GIF, or -1.
int GifFrame(const QByteArray& gif)
{
    if (gif.size() < 13)
        return -1;
    const auto byte = [&](int at) { return at < gif.size() ? int(quint8(gif.at(at))) : -1; };
    int at = 13;
    if (byte(10) & 0x80)
        at += 3 << ((byte(10) & 7) + 1);
    while (at < gif.size()) {
        if (byte(at) == 0x2c)
            return at;
        if (byte(at) != 0x21)
            return -1;
        at += 2;
        while (byte(at) > 0)
            at += byte(at) + 1;
        if (byte(at) < 0)
            return -1;
        ++at;
    }
    return -1;
}

// Size and depth fields of each format's header; empty when the base is not
// laid out as expected.
QList<Change> HeaderChanges(const QString& extension, const QByteArray& base)
{
    const char ff = char(0xff), zero = 0;
    if (extension == QLatin1String("png") && FindChunk(base, "IHDR") == 8) {
        return {{QStringLiteral("png-ihdr-width-ff"), 16, ff, 8},
                {QStringLiteral("png-ihdr-depth-00"), 24, zero, 8},
                {QStringLiteral("png-ihdr-height-ff-stale-crc"), 20, ff, -1}};
    }
    if (extension == QLatin1String("mng") && FindChunk(base, "MHDR") == 8) {
        const int ihdr = FindChunk(base, "IHDR");
        if (ihdr < 0)
            return {};
        return {{QStringLiteral("mng-mhdr-width-ff"), 16, ff, 8},
                {QStringLiteral("mng-ihdr-height-ff"), ihdr + 12, ff, ihdr},
                {QStringLiteral("mng-ihdr-depth-00-stale-crc"), ihdr + 16, zero, -1}};
    }
    if (extension == QLatin1String("gif")) {
        const int frame = GifFrame(base);
        if (frame < 0)
            return {};
        int lzw = frame + 10;
        if (quint8(base.at(frame + 9)) & 0x80)
            lzw += 3 << ((quint8(base.at(frame + 9)) & 7) + 1);
        return {{QStringLiteral("gif-flags-00"), 10, zero, -1},
                {QStringLiteral("gif-frame-height-ff"), frame + 8, ff, -1},
                {QStringLiteral("gif-lzw-size-ff"), lzw, ff, -1}};
    }
    if (extension == QLatin1String("tga"))
        return {{QStringLiteral("tga-width-ff"), 13, ff, -1},
                {QStringLiteral("tga-height-ff"), 15, ff, -1},
                {QStringLiteral("tga-depth-00"), 16, zero, -1}};
    if (extension == QLatin1String("psd"))
        return {{QStringLiteral("psd-channels-ff"), 13, ff, -1},
                {QStringLiteral("psd-height-ff"), 14, ff, -1},
                {QStringLiteral("psd-depth-00"), 23, zero, -1}};
    if (extension == QLatin1String("pcx"))
        return {{QStringLiteral("pcx-bpp-00"), 3, zero, -1},
                {QStringLiteral("pcx-ymax-ff"), 11, ff, -1},
                {QStringLiteral("pcx-planes-ff"), 65, ff, -1}};
    if (extension == QLatin1String("rgb"))
        return {{QStringLiteral("sgi-bpc-ff"), 3, ff, -1},
                {QStringLiteral("sgi-ysize-ff"), 8, ff, -1},
                {QStringLiteral("sgi-zsize-00"), 11, zero, -1}};
    if (extension == QLatin1String("ras"))
        return {{QStringLiteral("ras-width-ff"), 4, ff, -1},
                {QStringLiteral("ras-height-ff"), 9, ff, -1},
                {QStringLiteral("ras-depth-00"), 15, zero, -1}};
    return {};
}

// ----- the folder and its index -----------------------------------------------

enum Group { GroupBomb, GroupTruncated, GroupHeader, GroupPdf, GroupFifo, GroupEmpty, GroupCount };

class Corpus
{
public:
    explicit Corpus(const QDir& root) : root(root) {}

    void Add(Group group, const QString& name, const QByteArray& bytes)
    {
        if (!Save(root.filePath(name), bytes)) {
            std::fprintf(stderr, "hostilefiles: cannot write %s\n", qPrintable(root.filePath(name)));
            failed = true;
            return;
        }
        Index(group, name);
    }

    void AddFifo(const QString& name)
    {
        if (mkfifo(QFile::encodeName(root.filePath(name)).constData(), 0644) != 0) {
            std::fprintf(stderr, "hostilefiles: cannot make the FIFO %s\n", qPrintable(root.filePath(name)));
            failed = true;
            return;
        }
        Index(GroupFifo, name);
    }

    bool WriteIndex()
    {
        const QByteArray text = "file\tformat\toracle\treference\ttolerance\tdamaged\n" + lines.join('\n') + '\n';
        if (!Save(root.filePath(QStringLiteral("index.tsv")), text)) {
            std::fprintf(stderr, "hostilefiles: cannot write the index\n");
            failed = true;
        }
        return !failed;
    }

    int Count(Group group) const { return counts[group]; }
    int Total() const { return lines.size(); }
    bool Failed() const { return failed; }

private:
    QDir root;
    QList<QByteArray> lines;
    int counts[GroupCount] = {};
    bool failed = false;

    void Index(Group group, const QString& name)
    {
        lines << (name + QLatin1Char('\t') + PLMImageCodec(name).GetName() + QStringLiteral("\t\t\t\t1")).toUtf8();
        ++counts[group];
    }
};

bool PrepareFolder(const QString& path, QString& error)
{
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isDir()) {
            error = path + QStringLiteral(" exists and is not a folder");
            return false;
        }
        if (!QDir(path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            error = path + QStringLiteral(" is not empty");
            return false;
        }
    }
    if (!QDir().mkpath(path) || !QDir(path).mkpath(QStringLiteral("valid"))) {
        error = QStringLiteral("cannot make ") + path;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Qt's own plugins only: the intact pictures must not come from the
    // program's plugins, which may sit beside this tool.
    QCoreApplication::setLibraryPaths({QLibraryInfo::location(QLibraryInfo::PluginsPath)});

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 || arguments.at(1).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: hostilefiles OUTDIR\n"
                             "  writes damaged and hostile image files and an index.tsv for corpussweep into\n"
                             "  OUTDIR, which must not exist or be empty\n");
        return 2;
    }
    const QString outDir = QFileInfo(arguments.at(1)).absoluteFilePath();
    QString error;
    if (!PrepareFolder(outDir, error)) {
        std::fprintf(stderr, "hostilefiles: %s\n", qPrintable(error));
        return 1;
    }
    const QDir root(outDir);
    Corpus corpus(root);

    corpus.Add(GroupBomb, QStringLiteral("bomb-gif-screen-65535.gif"), GifScreenBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-png-rgba16-30000.png"), PngBomb(30000, 16, 4));
    corpus.Add(GroupBomb, QStringLiteral("bomb-png-rgba-65535.png"), PngBomb(65535, 8, 4));
    corpus.Add(GroupBomb, QStringLiteral("bomb-tga-rgba-23170-header-only.tga"), TgaHeaderBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-svg-2000in.svg"), SvgBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-jpeg-sof-65500.jpg"), JpegBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-tiff-100000-strip-past-end.tif"), TiffBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-bmp-50000-no-pixels.bmp"), BmpBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-psd-rgb-30000.psd"), PsdBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-webp-vp8x-16383-no-image.webp"), WebpBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-mng-mhdr-100000.mng"), MngBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-pcx-65534.pcx"), PcxBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-sgi-65535.rgb"), SgiBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-j2k-siz-60000.j2k"), J2kBomb());
    corpus.Add(GroupBomb, QStringLiteral("bomb-ppm-p6-40000.ppm"), QByteArray("P6\n40000 40000\n255\n") + QByteArray(16, '\0'));
    corpus.Add(GroupBomb, QStringLiteral("bomb-pfm-40000.pfm"), QByteArray("PF\n40000 40000\n-1.0\n") + QByteArray(16, '\0'));

    Bases bases(QDir(root.filePath(QStringLiteral("valid"))), Picture());
    bases.MakeAll();
    for (const QString& extension : bases.Extensions()) {
        const QByteArray base = bases.Get(extension);
        for (int percent : {50, 90}) {
            corpus.Add(GroupTruncated, QStringLiteral("trunc%1-photo.%2").arg(percent).arg(extension),
                       base.left(int(qint64(base.size()) * percent / 100)));
        }
    }

    QStringList notes = bases.Notes();
    for (const char* extension : {"mng", "gif", "png", "tga", "psd", "pcx", "rgb", "ras"}) {
        const QByteArray base = bases.Get(QLatin1String(extension));
        if (base.isEmpty())
            continue;
        const QList<Change> changes = HeaderChanges(QLatin1String(extension), base);
        if (changes.isEmpty())
            notes << QStringLiteral("photo.%1 is not laid out as expected: no changed header bytes").arg(extension);
        for (const Change& change : changes) {
            QByteArray changed = base;
            if (change.offset >= changed.size() || changed.at(change.offset) == change.value) {
                notes << QStringLiteral("hdr-%1: the byte is already that value, skipped").arg(change.what);
                continue;
            }
            changed[change.offset] = change.value;
            if (change.crcChunk >= 0)
                RefreshCrc(changed, change.crcChunk);
            corpus.Add(GroupHeader, QStringLiteral("hdr-%1.%2").arg(change.what, QLatin1String(extension)), changed);
        }
    }

    corpus.Add(GroupPdf, QStringLiteral("pdf-form-draws-itself.pdf"), SelfDrawingPdf(false));
    corpus.Add(GroupPdf, QStringLiteral("pdf-forms-draw-each-other.pdf"), SelfDrawingPdf(true));
    corpus.AddFifo(QStringLiteral("pipe.png"));
    for (const char* extension : {"jpg", "png", "tif", "pdf", "ithmb"})
        corpus.Add(GroupEmpty, QStringLiteral("empty.") + QLatin1String(extension), QByteArray());

    if (!corpus.WriteIndex())
        return 1;
    for (const QString& note : notes)
        std::fprintf(stderr, "hostilefiles: %s\n", qPrintable(note));
    std::fprintf(stderr, "hostilefiles: intact pictures in valid/ by %s\n", qPrintable(bases.Origins()));
    std::printf("hostilefiles: %d bombs, %d truncated, %d with a changed header byte, %d self-drawing PDFs, "
                "%d FIFO, %d empty: %d files in %s/index.tsv, all marked damaged\n",
                corpus.Count(GroupBomb), corpus.Count(GroupTruncated), corpus.Count(GroupHeader),
                corpus.Count(GroupPdf), corpus.Count(GroupFifo), corpus.Count(GroupEmpty), corpus.Total(),
                qPrintable(outDir));
    return corpus.Failed() ? 1 : 0;
}
