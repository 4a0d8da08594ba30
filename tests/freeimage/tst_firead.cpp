// Reading through the FreeImage plugin as the program reads: every extension it claims, from
// files made by Debian's tools (or by hand), its claims next to Qt's own handlers, its switch;
// damaged files of every format fail (or read at a sane size) without crashing or touching
// memory they do not own; real files of other projects' test suites (peer/README.md) and files
// of the keys shared with Qt's own plugins read as a reference or Debian's Qt alone shows them.
#include "fifixtures.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QRandomGenerator>
#include <QSettings>
#include <QThread>
#include <QtEndian>

#include <cstring>

using namespace FiFixtures;

namespace {

const int kWidth = 96, kHeight = 64;

QByteArray Be(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
    return out;
}

QByteArray IffChunk(const char* id, const QByteArray& data)
{
    return QByteArray(id, 4) + Be(quint32(data.size()), 4) + data + (data.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

// An uncompressed 37 x 9 ILBM (rows end inside a 16-bit word): values spread over the bit
// planes, a mask plane when masking is 1, a colour map of `entries`, display modes (no CAMG
// when negative), the chunks in extra. Hold-and-modify rows start from a colour register.
QByteArray IlbmFile(int planes, int entries, qint64 modes, int masking, const QByteArray& extra)
{
    const int width = 37, height = 9;
    QByteArray colourMap, body;
    for (int i = 0; i < entries; ++i)
        colourMap.append(char(i * 37 + 11)).append(char(i * 91 + 50)).append(char(255 - i * 13));
    const bool ham = modes >= 0 && (modes & 0x800);
    const auto value = [planes, ham](int x, int y) {
        const quint32 v = quint32(x * 7 + y * 29 + x * y) % (1u << planes);
        return ham && x == 0 ? v & ((1u << (planes - 2)) - 1) : v;
    };
    // Size, origin, planes, masking, transparent colour 5, aspect, page size.
    const QByteArray header = Be(width, 2) + Be(height, 2) + Be(0, 4) + char(planes) + char(masking) + Be(0, 2) + Be(5, 2)
                            + Be(0x0101, 2) + Be(width, 2) + Be(height, 2);
    for (int y = 0; y < height; ++y) {
        for (int plane = 0; plane < planes + (masking == 1 ? 1 : 0); ++plane) {
            QByteArray row((width + 15) / 16 * 2, '\0');
            for (int x = 0; x < width; ++x)
                if (plane < planes ? (value(x, y) >> plane) & 1 : (x + 2 * y) % 3 != 0)
                    row[x / 8] = char(uchar(row.at(x / 8)) | (0x80 >> (x % 8)));
            body += row;
        }
    }
    const QByteArray form = "ILBM" + IffChunk("BMHD", header) + (colourMap.isEmpty() ? QByteArray() : IffChunk("CMAP", colourMap))
                          + (modes >= 0 ? IffChunk("CAMG", Be(quint32(modes), 4)) : QByteArray()) + extra + IffChunk("BODY", body);
    return "FORM" + Be(quint32(form.size()), 4) + form;
}

// Sets a JPEG XR file's orientation in its container's TRANSFORMATION tag (0xBC02), or with
// inHeader in bits 5 to 3 of the image header's tenth byte, the tag (which wins) taken out.
bool SetJxrOrientation(QByteArray& file, int orientation, bool inHeader)
{
    if (file.size() < 8)
        return false;
    const int directory = int(qFromLittleEndian<quint32>(file.constData() + 4));
    if (directory + 2 > file.size())
        return false;
    int count = qFromLittleEndian<quint16>(file.constData() + directory), imageHeader = -1;
    for (int i = 0; i < count; ++i)
        if (qFromLittleEndian<quint16>(file.constData() + directory + 2 + 12 * i) == 0xBCC0)
            imageHeader = int(qFromLittleEndian<quint32>(file.constData() + directory + 2 + 12 * i + 8));
    for (int i = 0; i < count; ++i) {
        const int entry = directory + 2 + 12 * i;
        if (qFromLittleEndian<quint16>(file.constData() + entry) != 0xBC02)
            continue;
        if (!inHeader) {
            qToLittleEndian<quint32>(quint32(orientation), file.data() + entry + 8);
            return true;
        }
        std::memmove(file.data() + entry, file.constData() + entry + 12, size_t(12 * (count - i - 1) + 4));
        qToLittleEndian<quint16>(quint16(--count), file.data() + directory);
        break;
    }
    if (!inHeader || imageHeader < 0 || imageHeader + 10 > file.size() || !file.mid(imageHeader).startsWith("WMPHOTO"))
        return false;
    file[imageHeader + 9] = char((uchar(file.at(imageHeader + 9)) & ~0x38) | (orientation << 3));
    return true;
}

QString Peer(const QString& name) { return QStringLiteral(KORVANE_PEER_DIR "/") + name; }

// What Debian's Qt alone reads from a file: the plugin of Qt's own folder, loaded by hand.
struct QtAlone
{
    QList<QImage> frames;
    QList<int> delays;
    int loops = 0, transformation = 0;   // of the first frame
};

QImageIOPlugin* QtPlugin(const QString& library)
{
    QPluginLoader loader(QLibraryInfo::location(QLibraryInfo::PluginsPath) + QStringLiteral("/imageformats/") + library);
    return qobject_cast<QImageIOPlugin*>(loader.instance());
}

QtAlone ReadAsQtAlone(const QString& file, const QString& library, const QByteArray& key)
{
    QtAlone result;
    QImageIOPlugin* plugin = QtPlugin(library);
    QFile device(file);
    if (!plugin || !device.open(QIODevice::ReadOnly))
        return result;
    std::unique_ptr<QImageIOHandler> handler(plugin->create(&device, key));
    result.loops = handler->loopCount();
    const int count = qMax(1, handler->imageCount());
    for (QImage frame; result.frames.size() < count && handler->read(&frame); frame = QImage()) {
        if (result.frames.isEmpty() && handler->supportsOption(QImageIOHandler::ImageTransformation))
            result.transformation = handler->option(QImageIOHandler::ImageTransformation).toInt();
        result.frames << frame;
        result.delays << handler->nextImageDelay();
    }
    return result;
}

// An animated GIF of 10-bit LZW codes (minimum code size 9), which Qt reads and FreeImage
// refuses: three blocks drawn over each other on 16 x 12, 30 ms apart, repeated twice.
QByteArray WideCodeGif()
{
    QByteArray gif("GIF89a\x10\x00\x0C\x00\xF7\x00\x00", 13);
    for (int i = 0; i < 256; ++i)
        gif.append(char(i)).append(char(255 - i)).append(char(i * 7));
    gif.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x02\x00\x00", 19);
    for (int frame = 0; frame < 3; ++frame) {
        gif.append("\x21\xF9\x04\x04\x03\x00\x00\x00", 8);   // left in place, 3/100 s
        const char descriptor[] = {',', char(1 + 4 * frame), 0, char(1 + 3 * frame), 0, 7, 0, 5, 0, 0};
        gif.append(descriptor, sizeof(descriptor)).append(char(9));
        // A clear code (512), a literal per pixel, the end code (513).
        QByteArray data;
        quint32 bits = 0;
        int count = 0;
        const auto put = [&](int code) {
            bits |= quint32(code) << count;
            for (count += 10; count >= 8; count -= 8, bits >>= 8)
                data.append(char(bits & 0xFF));
        };
        put(512);
        for (int i = 0; i < 7 * 5; ++i)
            put((frame * 80 + i * 3) & 0xFF);
        put(513);
        if (count > 0)
            data.append(char(bits & 0xFF));
        for (int at = 0; at < data.size(); at += 255)
            gif.append(char(qMin(255, data.size() - at))).append(data.mid(at, 255));
        gif.append('\0');
    }
    return gif.append(';');
}

// A 7 x 5 Radiance picture stored bottom row first ("+Y"): FreeImage refuses, kimageformats reads.
QByteArray UpwardHdr()
{
    QByteArray hdr("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+Y 5 +X 7\n");
    for (int i = 0; i < 7 * 5; ++i)
        hdr.append(char(i * 7)).append(char(250 - i * 5)).append(char(i * 3 + 20)).append(char(128));
    return hdr;
}

// Where the Exif orientation (1 to 8) puts a stored pixel when the picture is shown upright.
QImage Upright(const QImage& stored, int orientation)
{
    const int w = stored.width(), h = stored.height();
    QImage shown(orientation >= 5 ? h : w, orientation >= 5 ? w : h, stored.format());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QPoint at[] = {{x, y}, {w - 1 - x, y}, {w - 1 - x, h - 1 - y}, {x, h - 1 - y},
                                 {y, x}, {h - 1 - y, x}, {h - 1 - y, w - 1 - x}, {y, w - 1 - x}};
            shown.setPixel(at[orientation - 1], stored.pixel(x, y));
        }
    return shown;
}

} // namespace

class TestFiRead : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QImage picture, opaque;   // with alpha, without
    int cases = 0;
    // CTest runs pluginSwitch alone again with FI_TEST_SWITCH "absent" and "false".
    const QByteArray mode = qgetenv("FI_TEST_SWITCH");

    QString Path(const QString& name) const { return dir.filePath(name); }

    // Makes the fixture of a recipe at path; answers the picture it should decode to (null:
    // as ImageMagick decodes it). ImageMagick's Targa needs the top-left flag to read upright.
    bool Make(const QString& recipe, const QString& path, QImage& expected, QString& error)
    {
        static const QMap<QString, QStringList> magick = {
            {"jpeg", {"-quality", "95"}}, {"png", {}}, {"jng", {}}, {"tiff", {}}, {"gif", {}},
            {"tga", {"-orient", "TopLeft"}}, {"dds", {"-define", "dds:compression=none"}}, {"hdr", {}}, {"pfm", {}},
            {"wbmp", {"-threshold", "50%"}}, {"pcd", {}}};
        static const QStringList withAlpha = {"png", "jng", "tiff", "gif", "tga", "dds", "webp", "j2k", "jp2", "jxr"};
        static const QStringList asMagickReads = {"gif", "wbmp", "pcd", "cut"};
        const bool alpha = withAlpha.contains(recipe);
        expected = asMagickReads.contains(recipe) ? QImage() : alpha ? picture : opaque;
        if (magick.contains(recipe))
            return MagickEncode(alpha ? picture : opaque, alpha, magick.value(recipe), recipe + ':' + path, &error);
        const QString tif = Path("source.tif");
        const QString named = Path("named." + recipe);   // the tools pick their codec by the suffix
        auto into = [&](const QString& tool, const QString& input) {
            QByteArray output;
            return Run(tool, {input}, &output, &error) && Save(path, output);
        };
        if (recipe == "webp")
            return MagickEncode(picture, true, {}, named + ".png", &error)
                && Run("cwebp", {"-quiet", "-lossless", "-exact", named + ".png", "-o", path}, nullptr, &error);
        if (recipe == "j2k" || recipe == "jp2")   // lossless by default
            return Run("opj_compress", {"-i", tif, "-o", named}, nullptr, &error) && QFile::rename(named, path);
        if (recipe == "jxr")
            return Run("JxrEncApp", {"-i", tif, "-o", named, "-q", "1"}, nullptr, &error) && QFile::rename(named, path);
        if (recipe == "ilbm")
            return into("ppmtoilbm", Path("source.ppm"));
        if (recipe == "pict") {   // ppmtopict takes at most 256 colours
            if (!MagickEncode(opaque, false, {"-colors", "200"}, Path("few.ppm"), &error))
                return false;
            expected = MagickDecode(Path("few.ppm"));
            return into("ppmtopict", Path("few.ppm"));
        }
        if (recipe == "cut")
            return Save(path, HandCut());
        error = "unknown recipe " + recipe;
        return false;
    }

    // The CRC of a PNG-style chunk (type and data).
    static quint32 Crc(const QByteArray& bytes)
    {
        quint32 crc = 0xFFFFFFFFu;
        for (const char byte : bytes) {
            crc ^= uchar(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    }

    // What the program asks a reader: count, size, metadata, every page (null, or of a sane size).
    static void Exercise(const QString& path, const QByteArray& bytes, bool mustFail)
    {
        QVERIFY(Save(path, bytes));
        QImageReader reader(path);
        const int count = reader.imageCount();
        reader.size();
        reader.textKeys();
        bool anything = false;
        for (int page = 0; page < qMin(qMax(count, 1), 4); ++page) {
            const QImage image = reader.read();
            if (image.isNull())
                break;
            anything = true;
            QVERIFY(image.width() > 0 && image.height() > 0);
            QVERIFY(qint64(image.width()) * image.height() <= (qint64(1) << 28));
        }
        if (mustFail)
            QVERIFY2(!anything, qPrintable(path));
    }

private slots:
    void initTestCase()
    {
        QSettings settings("Pelmora", "Plugins");
        if (mode == "false")
            settings.setValue("FreeImage", false);
        else if (mode == "absent")
            settings.remove("FreeImage");
        FI_REQUIRE_TOOLS("convert", "identify", "cwebp", "opj_compress", "JxrEncApp", "JxrDecApp", "ppmtopict",
                         "ppmtoilbm", "ilbmtoppm");
        QVERIFY(dir.isValid());
        picture = Picture(kWidth, kHeight, true);
        opaque = Picture(kWidth, kHeight, false);
        QString error;
        QVERIFY2(MagickEncode(picture, true, {}, Path("source.tif"), &error), qPrintable(error));
        QVERIFY2(MagickEncode(opaque, false, {}, Path("source.ppm"), &error), qPrintable(error));
    }

    // Off (absent or false) the plugin claims nothing, formats only it serves fail, PNG reads through Qt.
    void pluginSwitch()
    {
        QImageIOPlugin* plugin = Plugin();
        QVERIFY(plugin);
        const bool on = mode.isEmpty();
        QByteArray png = QByteArray::fromBase64(
            "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGP4z8DwHwAFAAH/iZk9HQAAAABJRU5ErkJggg==");
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        for (const char* format : {"png", "jpg", "dds", "jxr", ""}) {
            QCOMPARE(plugin->capabilities(&buffer, format) != 0, on);
            QCOMPARE(plugin->capabilities(nullptr, format) != 0, on && *format);
            QCOMPARE(std::unique_ptr<QImageIOHandler>(plugin->create(&buffer, format)) != nullptr, on);
        }
        QVERIFY(!QImageReader(&buffer, "png").read().isNull());
        QBuffer target;
        QVERIFY(target.open(QIODevice::WriteOnly));
        QCOMPARE(QImageWriter(&target, "jxr").write(QImage(4, 4, QImage::Format_RGB32)), on);
    }

    void everyExtension_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("recipe");
        QTest::addColumn<double>("mean");   // mean channel difference allowed
        QTest::addColumn<int>("max");       // largest channel difference allowed
        const struct { const char* extension; const char* recipe; double mean; int max; } cases[] = {
            {"jpg", "jpeg", 1.5, 24}, {"jpeg", "jpeg", 1.5, 24}, {"jpe", "jpeg", 1.5, 24},
            {"jif", "jpeg", 1.5, 24}, {"jps", "jpeg", 1.5, 24},
            {"png", "png", 0, 0},     {"tif", "tiff", 0, 0},    {"tiff", "tiff", 0, 0},
            {"gif", "gif", 0, 0},     {"webp", "webp", 0, 0},   {"jng", "jng", 3, 48},
            {"j2k", "j2k", 0, 0},     {"j2c", "j2k", 0, 0},     {"jp2", "jp2", 0, 0},
            {"jxr", "jxr", 0, 0},     {"hdp", "jxr", 0, 0},     {"wdp", "jxr", 0, 0},
            {"hdr", "hdr", 0.6, 3},   {"pfm", "pfm", 0, 1},     {"targa", "tga", 0, 0},
            {"wap", "wbmp", 0, 0},    {"wbm", "wbmp", 0, 0},    {"dds", "dds", 0, 0},
            {"iff", "ilbm", 0, 0},    {"lbm", "ilbm", 0, 0},
            {"pct", "pict", 0, 0},    {"pict", "pict", 0, 0},   {"pic", "pict", 0, 0},
            {"cut", "cut", 0, 0},
        };
        for (const auto& c : cases)
            QTest::newRow(c.extension) << c.extension << c.recipe << c.mean << c.max;
    }

    // Each extension decodes to the picture it was made from (or as ImageMagick decodes it).
    void everyExtension()
    {
        QFETCH(QString, extension);
        QFETCH(QString, recipe);
        QFETCH(double, mean);
        QFETCH(int, max);
        const QString path = Path("fixture." + extension);
        QImage expected;
        QString error;
        QVERIFY2(Make(recipe, path, expected, error), qPrintable(error));
        if (expected.isNull()) {
            expected = MagickDecode((recipe == "wbmp" || recipe == "cut" ? recipe + ':' : QString()) + path);
            QVERIFY2(!expected.isNull(), "ImageMagick cannot decode the fixture");
        }
        QImageReader reader(path);
        QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
        QCOMPARE(reader.size(), expected.size());
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        const Difference d = Compare(expected, image, expected.hasAlphaChannel());
        QVERIFY2(d.sameSize && d.mean <= mean && d.max <= max, qPrintable(QString("mean %1, max %2").arg(d.mean).arg(d.max)));
    }

    // JPEG XR: the eight orientations (tag or image header) show JxrDecApp's upright decoding
    // turned by ImageMagick (90 degrees clockwise, then left-right, then top-bottom); alpha
    // comes through interleaved or planar.
    void jpegXr_data()
    {
        QTest::addColumn<QString>("format");   // JxrEncApp's and JxrDecApp's -c
        QTest::addColumn<QString>("alpha");    // JxrEncApp's -a
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("inHeader");
        QTest::addColumn<QStringList>("turn");
        const QList<QStringList> turns = {
            {}, {"-flip"}, {"-flop"}, {"-flop", "-flip"}, {"-rotate", "90"}, {"-rotate", "90", "-flip"},
            {"-rotate", "90", "-flop"}, {"-rotate", "90", "-flop", "-flip"}};
        for (int orientation = 0; orientation < 8; ++orientation)
            QTest::addRow("orientation %d", orientation) << "0" << QString() << orientation << false << turns.at(orientation);
        for (const int orientation : {5, 6})
            QTest::addRow("orientation %d in the image header", orientation)
                << "0" << QString() << orientation << true << turns.at(orientation);
        QTest::newRow("BGRA interleaved") << "22" << "3" << 0 << false << QStringList();
        QTest::newRow("BGRA planar") << "22" << "2" << 0 << false << QStringList();
        QTest::newRow("RGBA64 interleaved") << "23" << "3" << 0 << false << QStringList();
    }

    void jpegXr()
    {
        QFETCH(QString, format);
        QFETCH(QString, alpha);
        QFETCH(int, orientation);
        QFETCH(bool, inHeader);
        QFETCH(QStringList, turn);
        QString error;
        const QString tif = Path("source.tif");
        const QString source = format == "0" ? Path("source.bmp") : format == "23" ? Path("source16.tif") : tif;
        if (source != tif)
            QVERIFY2(Run("convert", {tif, "-depth", format == "0" ? "8" : "16", "-alpha", format == "0" ? "off" : "on",
                                     (format == "0" ? "bmp3:" : "tiff:") + source}, nullptr, &error), qPrintable(error));
        const QString stored = Path("stored.jxr");
        const QStringList encode = QStringList{"-i", source, "-o", stored, "-c", format, "-q", "1"}
                                 + (alpha.isEmpty() ? QStringList() : QStringList{"-a", alpha});
        QVERIFY2(Run("JxrEncApp", encode, nullptr, &error), qPrintable(error));
        QVERIFY2(Run("JxrDecApp", {"-i", stored, "-o", Path("jxrdec.tif"), "-c", format}, nullptr, &error), qPrintable(error));
        QVERIFY2(Run("convert", QStringList{Path("jxrdec.tif")} + turn + QStringList{Path("upright.png")}, nullptr, &error),
                 qPrintable(error));
        const QImage expected = MagickDecode(Path("upright.png"));
        QByteArray file = Load(stored);
        QVERIFY(SetJxrOrientation(file, orientation, inHeader));
        QVERIFY(Save(Path("oriented.jxr"), file));
        QImageReader reader(Path("oriented.jxr"));
        QCOMPARE(reader.size(), expected.size());
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        const Difference d = Compare(expected, image);
        QVERIFY2(d.sameSize && d.max <= 1, qPrintable(QString("max %1").arg(d.max)));
    }

    // IFF display modes FreeImage shows wrongly read as Netpbm's ilbmtoppm reads them (its mask
    // giving alpha); changing palettes, CMYK maps and dual playfields are refused.
    void ilbmModes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("readable");
        const auto make = IlbmFile;
        QTest::newRow("HAM6") << make(6, 16, 0x800, 0, QByteArray()) << true;
        QTest::newRow("HAM8") << make(8, 64, 0x800, 0, QByteArray()) << true;
        QTest::newRow("Extra-Half-Brite") << make(6, 32, 0x80, 0, QByteArray()) << true;
        QTest::newRow("mask plane") << make(4, 16, -1, 1, QByteArray()) << true;
        QTest::newRow("transparent colour") << make(5, 32, -1, 2, QByteArray()) << true;
        QTest::newRow("palette changes") << make(4, 16, -1, 0, IffChunk("PCHG", QByteArray(20, '\0'))) << false;
        QTest::newRow("CMYK colour map") << make(4, 0, -1, 0, IffChunk("CMYK", QByteArray(64, '\x40'))) << false;
        QTest::newRow("dual playfield") << make(4, 16, 0x400, 0, QByteArray()) << false;
    }

    void ilbmModes()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, readable);
        const QString path = Path("modes.iff");
        QVERIFY(Save(path, file));
        const QImage image = QImageReader(path).read();
        QCOMPARE(!image.isNull(), readable);
        if (!readable)
            return;
        const QString mask = Path("modes-mask.pbm");
        QFile::remove(mask);
        QByteArray ppm;
        QString error;
        QVERIFY2(Run("ilbmtoppm", {"-maskfile", mask, path}, &ppm, &error), qPrintable(error));
        QImage expected = QImage::fromData(ppm, "PPM").convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!expected.isNull());
        const QImage opaque = QFile::exists(mask) ? QImage(mask) : QImage();   // black where opaque
        for (int y = 0; y < opaque.height(); ++y)
            for (int x = 0; x < opaque.width(); ++x)
                if (opaque.pixel(x, y) != qRgb(0, 0, 0))
                    expected.setPixel(x, y, 0);
        const Difference d = Compare(expected, image);
        QVERIFY(d.sameSize);
        QCOMPARE(d.max, 0);
    }

    // Koala: 320 x 200, pixels twice as wide as high, colours from three sources and the background.
    void koala()
    {
        QVERIFY(Save(Path("c64.koa"), HandKoala()));
        const QImage image = QImageReader(Path("c64.koa")).read();
        QCOMPARE(image.size(), QSize(320, 200));
        const QRgb black = image.pixel(0, 0), red = image.pixel(2, 0), green = image.pixel(4, 0), blue = image.pixel(6, 0);
        QCOMPARE(black, qRgb(0, 0, 0));
        QVERIFY(qRed(red) > qGreen(red) && qGreen(green) > qRed(green) && qBlue(blue) > qRed(blue));
        for (int x = 0; x < 8; x += 2)
            QCOMPARE(image.pixel(x, 0), image.pixel(x + 1, 0));
        QCOMPARE(image.pixel(8, 7), black);
        QCOMPARE(image.pixel(318, 199), blue);
    }

    // Photo CD: ImageMagick centres the picture in the 768 x 512 base image on light grey, in
    // other colours than FreeImage's (checked by place and hue), orientation byte 0 (set upright).
    void photoCd()
    {
        QImage expected;
        QString error;
        QVERIFY2(Make("pcd", Path("photo.pcd"), expected, error), qPrintable(error));
        QByteArray bytes = Load(Path("photo.pcd"));
        QVERIFY(bytes.size() > 0x30000);
        bytes[72] = 8;
        QVERIFY(Save(Path("photo.pcd"), bytes));
        const QImage image = QImageReader(Path("photo.pcd")).read();
        QCOMPARE(image.size(), QSize(768, 512));
        QVERIFY(qGray(image.pixel(10, 10)) > 230);
        const QPoint origin((768 - kWidth) / 2, (512 - kHeight) / 2);
        const QRgb topLeft = image.pixel(origin + QPoint(3, 3));
        const QRgb bottomLeft = image.pixel(origin + QPoint(3, kHeight - 4));
        const QRgb topRight = image.pixel(origin + QPoint(kWidth - 4, 3));
        QVERIFY(qBlue(topLeft) > qRed(topLeft) && qBlue(topLeft) > qGreen(topLeft));
        QVERIFY(qGreen(bottomLeft) > qRed(bottomLeft) && qRed(topRight) > qGreen(topRight));
    }

    // Camera raw through LibRaw for every raw extension (known by content), with the camera's Exif.
    void cameraRaw()
    {
        const QByteArray dng = HandDng();
        for (const char* extension : {"dng", "3fr", "arw", "bay", "cap", "cine", "cr2", "crw", "cs1", "dc2", "dcr", "drf",
                                      "dsc", "erf", "fff", "ia", "iiq", "k25", "kc2", "kdc", "mdc", "mef", "mos", "mrw",
                                      "nef", "nrw", "orf", "pef", "ptx", "pxn", "qtk", "r3d", "raf", "raw", "rdc", "rw2",
                                      "rwl", "rwz", "sr2", "srf", "srw", "sti", "x3f"}) {
            const QString path = Path(QString("camera.") + extension);
            QVERIFY(Save(path, dng));
            QImageReader reader(path);
            const QImage image = reader.read();
            QVERIFY2(image.size() == QSize(kWidth, kHeight), extension);
            QVERIFY2(qGray(image.pixel(kWidth / 4, kHeight / 2)) + 40 < qGray(image.pixel(3 * kWidth / 4, kHeight / 2)),
                     extension);
        }
        QImageReader reader(Path("camera.dng"));
        QCOMPARE(reader.text("FIM01Make"), QString("Korvane"));
        QCOMPARE(reader.text("FIM01Model"), QString("DngTest"));
    }

    // Several images in one file: TIFF pages, GIF frames with timing, icon sizes; in order and by jump.
    void multiImage()
    {
        const QString tiff = Path("pages.tif");
        const QString gif = Path("frames.gif");
        const QString ico = Path("sizes.ico");
        const QStringList frames = {"-size", "40x30", "xc:red", "xc:lime", "xc:blue"};
        QVERIFY(Run("convert", frames + QStringList{tiff}));
        QVERIFY(Run("convert", QStringList{"-delay", "20"} + frames + QStringList{"-loop", "0", gif}));
        QVERIFY(Run("convert", {Path("source.tif"), "-define", "icon:auto-resize=48,32,16", ico}));
        const QList<QRgb> rgb = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
        for (const QString& path : {tiff, gif}) {
            QImageReader reader(path);
            QCOMPARE(reader.imageCount(), 3);
            for (int i = 0; i < 3; ++i) {
                const QImage page = reader.read();
                QCOMPARE(page.size(), QSize(40, 30));
                QCOMPARE(page.pixel(20, 15) | 0xFF000000u, rgb.at(i));
                QCOMPARE(reader.nextImageDelay(), path == gif ? 200 : 0);
            }
            QVERIFY(reader.read().isNull());
            QImageReader again(path);
            QVERIFY(again.jumpToImage(2));
            QCOMPARE(again.read().pixel(0, 0) | 0xFF000000u, rgb.at(2));
        }
        QImageReader animation(gif);
        QVERIFY(animation.supportsAnimation());
        QCOMPARE(animation.loopCount(), -1);
        QImageReader icon(ico);
        QCOMPARE(icon.imageCount(), 3);
        QSet<int> sides;
        for (int i = 0; i < 3; ++i)
            sides << icon.read().width();
        QCOMPARE(sides, QSet<int>({16, 32, 48}));
    }

    // Resolution arrives as dots per metre; a scaled JPEG is the size asked. (16 bits: tst_fiengine.)
    void resolutionAndScaling()
    {
        const QString dense = Path("dense.jpg");
        QVERIFY(Run("convert", {"-size", "640x480", "gradient:red-blue", "-units", "PixelsPerInch", "-density", "300", dense}));
        const QImage full = QImageReader(dense).read();
        QCOMPARE(full.dotsPerMeterX(), 11811);
        QImageReader scaled(dense);
        scaled.setScaledSize(QSize(80, 50));
        const QImage small = scaled.read();
        QCOMPARE(small.size(), QSize(80, 50));
        QVERIFY(Compare(full.scaled(80, 50, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), small).max <= 12);
    }

    // A large JPEG read with a grant of more threads (decoded in bands) reads as ImageMagick reads it.
    void jpegInBands()
    {
        const QString jpeg = Path("large.jpg");
        QVERIFY(MagickEncode(Picture(2400, 1800, false), false, {"-quality", "90", "-sampling-factor", "2x2"}, jpeg));
        const QImage oracle = MagickDecode(jpeg);
        for (const int threads : {1, 2, 3}) {
            QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
            const QImage read = QImageReader(jpeg).read();
            QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
            QCOMPARE(Compare(oracle, read).max, 0);
        }
    }

    // Its own keys only (Qt's built-in formats stay Qt's); the formats it reads through Qt's readers
    // in a child process (SVG also by content: the program's icons load with it in front); a ".pic"
    // neither PICT nor Softimage is left alone; probing does not consume.
    void claims()
    {
        QImageIOPlugin* plugin = Plugin();
        QVERIFY(plugin);
        for (const char* foreign : {"xpm", "ppm", "xbm", "cur"})
            QCOMPARE(int(plugin->capabilities(nullptr, foreign)), 0);
        for (const char* apart : {"svg", "svgz", "pcx", "psd", "mng", "ras", "sgi", "rgb", "bw", "bmp", "dds"})
            QCOMPARE(int(plugin->capabilities(nullptr, apart)), int(QImageIOPlugin::CanRead));
        for (const char* both : {"tga", "png"})
            QCOMPARE(int(plugin->capabilities(nullptr, both)), int(QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite));
        QByteArray svg("<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"/>");
        QBuffer svgBuffer(&svg);
        QVERIFY(svgBuffer.open(QIODevice::ReadOnly));
        QCOMPARE(int(plugin->capabilities(&svgBuffer, QByteArray())), int(QImageIOPlugin::CanRead));
        QCOMPARE(int(plugin->capabilities(&svgBuffer, "pic")), 0);
        QByteArray png = Load(Path("fixture.png"));
        QBuffer pngBuffer(&png);
        QVERIFY(!png.isEmpty() && pngBuffer.open(QIODevice::ReadOnly));
        QCOMPARE(int(plugin->capabilities(&pngBuffer, QByteArray())), int(QImageIOPlugin::CanRead));
        QCOMPARE(pngBuffer.pos(), qint64(0));
        int icons = 0;
        for (QDirIterator resources(":/"); resources.hasNext(); ) {
            const QString resource = resources.next();
            if (!QFileInfo(resource).fileName().startsWith("IMG_"))
                continue;
            QImageReader reader(resource);
            QVERIFY2(!reader.read().isNull(), qPrintable(resource + ": " + reader.errorString()));
            ++icons;
        }
        QVERIFY(icons > 10);
    }

    void damaged_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("file");
        // Formats the plugin writes: written by it (an icon of two sizes).
        for (const char* extension : {"jpg", "png", "gif", "tif", "ico", "webp", "jng", "j2k", "jp2", "jxr",
                                      "hdr", "pfm", "targa", "wbmp", "tga", "bmp"}) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            QVERIFY(buffer.open(QIODevice::WriteOnly));
            QImageWriter writer(&buffer, extension);
            QVERIFY2(writer.write(QByteArray(extension) == "ico" ? picture.scaled(48, 48) : picture), extension);
            if (QByteArray(extension) == "ico")
                QVERIFY(writer.write(picture.scaled(16, 16)));
            QTest::newRow(extension) << QString::fromLatin1(extension) << bytes;
        }
        const QString ppm = Path("source.ppm");
        QVERIFY(Run("convert", {ppm, "-colors", "100", Path("damaged-few.ppm")}));
        QByteArray pict, ilbm, ham;
        QVERIFY(Run("ppmtopict", {Path("damaged-few.ppm")}, &pict) && Run("ppmtoilbm", {ppm}, &ilbm)
                && Run("ppmtoilbm", {"-ham6", ppm}, &ham));
        QVERIFY(Run("convert", {ppm, "-define", "dds:compression=dxt1", Path("damaged-source.dds")})
                && Run("convert", {ppm, "-define", "dds:compression=none", Path("damaged-plain.dds")})
                && Run("convert", {ppm, Path("damaged-source.pcd")}));
        QTest::newRow("pict") << "pict" << pict;
        QTest::newRow("lbm") << "lbm" << ilbm;
        QTest::newRow("lbm ham6") << "lbm" << ham;
        QTest::newRow("dds") << "dds" << Load(Path("damaged-source.dds"));
        QTest::newRow("dds uncompressed") << "dds" << Load(Path("damaged-plain.dds"));
        QTest::newRow("pcd") << "pcd" << Load(Path("damaged-source.pcd"));
        QTest::newRow("cut") << "cut" << HandCut();
        QTest::newRow("koa") << "koa" << HandKoala();
        QTest::newRow("dng") << "dng" << HandDng();
    }

    void damaged()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, file);
        QVERIFY(file.size() > 64);
        const QString path = Path(QStringLiteral("damaged.") + extension);
        QVERIFY(Save(path, file));
        QVERIFY2(!QImageReader(path).read().isNull(), "the intact file must read");
        for (const int length : {0, 1, 8, 16})
            Exercise(path, file.left(length), true);
        // Data that ends early fails (no picture grey where data is missing) where the structure tells.
        static const QStringList endsEarlyFails = {"jpg", "png", "webp", "jxr", "targa", "wbmp", "tga", "bmp"};
        for (const int tenth : {1, 2, 3, 5, 7, 9})
            Exercise(path, file.left(file.size() * tenth / 10), endsEarlyFails.contains(extension));
        Exercise(path, file.left(file.size() - 1), false);
        // Overwritten bytes in the header region and the whole file, runs of 0xFF where sizes live.
        QRandomGenerator random(quint32(qHash(extension)));
        for (int round = 0; round < 40; ++round) {
            QByteArray bytes = file;
            const int span = round % 2 ? bytes.size() : qMin(bytes.size(), 1024);
            for (int i = 0; i < 1 + round % 6; ++i)
                bytes[random.bounded(span)] = char(random.bounded(256));
            if (round % 5 == 0) {
                const int at = random.bounded(qMin(bytes.size(), 600));
                for (int i = at; i < qMin(bytes.size(), at + 4); ++i)
                    bytes[i] = '\xFF';
            }
            Exercise(path, bytes, false);
        }
    }

    // Enormous declared pictures in formats read through Qt's readers, in a child process with a
    // memory limit, fail instead of crashing (libmng) or filling the memory (the PSD reader).
    void hugeHeadersFail_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("file");
        const auto be32 = [](quint32 value) {
            QByteArray bytes(4, '\0');
            qToBigEndian(value, bytes.data());
            return bytes;
        };
        QByteArray mhdr = QByteArray("MHDR") + be32(100000) + be32(100000) + be32(1) + be32(0) + be32(0) + be32(0)
                          + be32(0);
        QTest::newRow("mng") << "mng"
                             << QByteArray("\x8AMNG\r\n\x1A\n", 8) + be32(28) + mhdr + be32(Crc(mhdr))
                                    + be32(0) + QByteArray("MEND") + be32(Crc("MEND"));
        QByteArray psd("8BPS\0\x01\0\0\0\0\0\0\0\x03", 14);
        psd += be32(30000) + be32(30000) + QByteArray("\0\x08\0\x03", 4) + be32(0) + be32(0) + be32(0)
               + QByteArray("\0\0", 2);
        QTest::newRow("psd") << "psd" << psd;
        QByteArray tga(18, '\0');
        tga[2] = 2;
        qToLittleEndian<quint16>(23170, tga.data() + 12);
        qToLittleEndian<quint16>(23170, tga.data() + 14);
        tga[16] = 32;
        QTest::newRow("tga header only") << "tga" << tga;
    }

    void hugeHeadersFail()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, file);
        const QString path = Path(QStringLiteral("huge.") + extension);
        QElapsedTimer clock;
        clock.start();
        Exercise(path, file, true);
        QVERIFY2(clock.elapsed() < 25000, "a decode that stalls is ended at its time limit");
    }

    // Read as the program reads (turned upright), each file equals its reference (premultiplied,
    // within a mean difference), keeps its samples (no alpha where none, 16 bits kept), has every
    // page at its size; no metadata value crashes reading or a conversion that keeps it; a
    // damaged file fails the read without taking the process along.
    void peerFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference");   // empty: none
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<QString>("samples");     // "grey 8", "rgba 16"...; empty: not checked
        QTest::addColumn<QList<QSize>>("pages");  // empty: not checked
        QTest::addColumn<QString>("key");         // a text key the reader must answer; empty: none
        const struct { const char* name; const char* file; const char* reference; double tolerance; const char* samples; } rows[] = {
            {"tiff orientation 3", "rgb_orientation_3.tiff", "rgb_orientation_1.png", 0, ""},
            {"tiff orientation 6", "rgb_orientation_6.tiff", "rgb_orientation_1.png", 0, ""},
            {"tiff associated alpha", "rgba_adobedeflate_littleendian.tif", "rgba_adobedeflate_littleendian.png", 0, "rgba 8"},
            {"tiff grey, no alpha", "8bit.s.tif", "8bit.s.png", 0, "grey 8"},
            {"tiff cmyk, tiled jpeg", "tiff_tiled_cmyk_jpeg.tif", "pil_sample_cmyk.png", 0.5, ""},
            {"bigtiff 16-bit", "big_16bpc.tiff", "big_16bpc.png", 0, "rgb 16"},
            {"tiff 2-bit grey", "hopper2.tif", "hopper2.png", 0, ""},
            {"tiff 12-bit grey", "12bit.cropped.tif", "12bit.cropped.png", 0, "grey 16"},
            {"tiff tiled planar 16-bit associated alpha", "tiff_tiled_planar_16bit_RGBa.tiff", "tiff_16bit_RGBa_target.png", 0.5, "rgba 16"},
            {"gif, lzw code size 11", "gif_lzw_code_size_11.gif", "gif_lzw_code_size_11.png", 0, ""},
            {"webp animation, first frame", "webp_animated.webp", "webp_animated.png", 0, ""},
            {"dds luminance and alpha", "uncompressed_la.dds", "uncompressed_la.png", 0, ""},
            {"dds 8-bit palette", "palette.dds", "palette.png", 0, ""},
            {"dds A4R4G4B4", "A4R4G4B4.dds", "A4R4G4B4.png", 0, ""},
            {"dds A1R5G5B5", "A1R5G5B5.dds", "A1R5G5B5.png", 0, ""},
            {"dds dx10 R8G8B8A8 sRGB", "DXGI_FORMAT_R8G8B8A8_UNORM_SRGB.dds", "DXGI_FORMAT_R8G8B8A8_UNORM_SRGB.png", 0, ""},
            {"dds bc4 (ati1)", "ati1.dds", "ati1.png", 0, ""},
            {"dds dxt1, 50 x 50", "DXT1.dds", "DXT1.png", 0, ""},
            {"dds dxt5, colour end points in dxt1's 3-colour order", "dxt5-colorblock-alpha-issue-4142.dds",
             "dxt5-colorblock-alpha-issue-4142.png", 0, ""},
            {"png 1-bit grey, tRNS value out of range", "1_trns.png", "1_trns_qt.png", 0, ""},
        };
        for (const auto& row : rows)
            QTest::newRow(row.name) << row.file << row.reference << row.tolerance << row.samples << QList<QSize>() << QString();
        QTest::newRow("tiff, three pages") << "multipage.tiff" << "" << 0.0 << "" << QList<QSize>{{10, 10}, {10, 10}, {20, 20}}
                                           << QString();
        QTest::newRow("tiff, damaged") << "libtiff_segfault.tif" << "" << 0.0 << "" << QList<QSize>() << QString();
        QTest::newRow("exif signed rational 0x7fffffff/0x80000000") << "exif_gps.jpg" << "" << 0.0 << "" << QList<QSize>()
                                                                    << "FIM02ExposureBiasValue";
        QTest::newRow("exif cut short") << "truncated_exif_dpi.jpg" << "" << 0.0 << "" << QList<QSize>() << "FIM11ExifRaw";
    }

    void peerFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(double, tolerance);
        QFETCH(QString, samples);
        QFETCH(QList<QSize>, pages);
        QFETCH(QString, key);
        QImageReader reader(Peer(file));
        reader.setAutoTransform(true);
        if (!key.isEmpty()) {
            QVERIFY(reader.size().isValid());
            QVERIFY2(reader.textKeys().contains(key), qPrintable(reader.textKeys().join(' ')));
            const QStringList targets = Convert(Peer(file), dir.filePath(QString::number(++cases)), ".jpg", PLMCodecJPEG, true);
            QCOMPARE(targets.size(), 1);
            QCOMPARE(QImage(targets.first()).size(), reader.size());
        }
        if (!pages.isEmpty())
            QCOMPARE(reader.imageCount(), pages.size());
        for (int page = 1; page < pages.size(); ++page) {
            QImageReader pager(Peer(file));
            QVERIFY(pager.jumpToImage(page));
            QCOMPARE(pager.size(), pages.at(page));
            QCOMPARE(pager.read().size(), pages.at(page));
        }
        const QImage image = reader.read();
        QCOMPARE(image.isNull(), file == "libtiff_segfault.tif");
        if (!pages.isEmpty())
            QCOMPARE(image.size(), pages.first());
        if (!reference.isEmpty()) {
            const QImage expected(Peer(reference));
            QVERIFY(!expected.isNull());
            const Difference difference = Compare(image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                                                  expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
            QVERIFY2(difference.sameSize && difference.mean <= tolerance,
                     qPrintable(QString("%1x%2, %3").arg(image.width()).arg(image.height()).arg(difference.mean)));
        }
        if (!samples.isEmpty()) {
            const QPixelFormat format = image.pixelFormat();
            const bool grey = format.colorModel() == QPixelFormat::Grayscale;
            QCOMPARE(QString("%1 %2").arg(grey ? "grey" : image.hasAlphaChannel() ? "rgba" : "rgb")
                         .arg(grey ? format.bitsPerPixel() : format.redSize()), samples);
        }
    }

    // Files of keys shared with Qt's own plugins read frame by frame as Qt alone reads them: those
    // ours decodes and those only Qt's reads (the Softimage picture by kimageformats' writer).
    void readsAsQtAlone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes");   // written to file when not empty
        QTest::addColumn<QString>("library");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("webp animation") << Peer("webp_animated.webp") << QByteArray() << "libqwebp.so"
                                        << QByteArray("webp");
        QTest::newRow("gif animation, 10-bit codes") << "wide.gif" << WideCodeGif() << "libqgif.so"
                                                     << QByteArray("gif");
        QTest::newRow("the same, named .jpg") << "wide.jpg" << WideCodeGif() << "libqgif.so" << QByteArray("gif");
        QTest::newRow("hdr, bottom row first") << "upward.hdr" << UpwardHdr() << "kimg_hdr.so" << QByteArray("hdr");
        QTest::newRow("softimage pic") << "softimage.pic" << QByteArray() << "kimg_pic.so" << QByteArray("pic");
    }

    void readsAsQtAlone()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, library);
        QFETCH(QByteArray, key);
        const QString path = QFileInfo(file).isAbsolute() ? file : dir.filePath(file);
        if (!bytes.isEmpty()) {
            QVERIFY(Save(path, bytes));
        } else if (key == "pic") {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && QtPlugin(library));
            std::unique_ptr<QImageIOHandler> writer(QtPlugin(library)->create(&out, key));
            QVERIFY(writer->write(Picture(40, 30, true)));
        }
        const QtAlone qt = ReadAsQtAlone(path, library, key);
        QVERIFY(!qt.frames.isEmpty());
        QImageReader reader(path);
        QVERIFY(reader.canRead());
        QCOMPARE(reader.imageCount(), qt.frames.size());
        QCOMPARE(reader.loopCount(), qt.loops);
        QCOMPARE(reader.supportsAnimation(), qt.frames.size() > 1);
        for (int page : QList<int>{0, 1, 2, 3, 41, 1}) {
            if (page >= qt.frames.size())
                continue;
            QVERIFY(page == 0 || reader.jumpToImage(page));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(QStringLiteral("page %1: %2").arg(page).arg(reader.errorString())));
            const Difference difference = Compare(image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                                                  qt.frames.at(page).convertToFormat(QImage::Format_ARGB32_Premultiplied));
            QVERIFY2(difference.sameSize && difference.max == 0, qPrintable(QStringLiteral("page %1").arg(page)));
            QCOMPARE(reader.nextImageDelay(), qt.delays.at(page));
        }
    }

    // A photo turns upright as Qt alone turns it: a JPEG's Exif orientation (Intel order when odd,
    // Motorola when even), a TIFF's tag, set by exiftool; a damaged Exif block turns nothing.
    void turnsUpright_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("damaged");
        for (const char* suffix : {"jpg", "tif"}) {
            for (int orientation = 1; orientation <= 8; ++orientation)
                QTest::addRow("%s %d", suffix, orientation) << suffix << orientation << false;
        }
        QTest::newRow("jpg, exif offset past the end") << "jpg" << 6 << true;
    }

    void turnsUpright()
    {
        QFETCH(QString, suffix);
        QFETCH(int, orientation);
        QFETCH(bool, damaged);
        FI_REQUIRE_TOOLS("exiftool");
        const QString path = dir.filePath(QString("turned%1.%2").arg(++cases).arg(suffix));
        QImageWriter writer(path);
        writer.setQuality(100);
        QVERIFY(writer.write(Picture(48, 32, false)));
        QVERIFY(Run("exiftool", {orientation % 2 ? "-ExifByteOrder=II" : "-ExifByteOrder=MM",
                                 QString("-Orientation#=%1").arg(orientation), "-overwrite_original", path}));
        if (damaged) {
            QByteArray bytes = Load(path);
            const int tiff = bytes.indexOf(QByteArray("Exif\0\0", 6)) + 6;
            QVERIFY(tiff > 6);
            QVERIFY(Save(path, bytes.replace(tiff + 4, 4, QByteArray(4, '\x7F'))));
        }
        const QtAlone qt = ReadAsQtAlone(path, suffix == "jpg" ? "libqjpeg.so" : "libqtiff.so", suffix.toLatin1());
        QCOMPARE(qt.transformation != 0, orientation > 1 && !damaged);
        const QImage picture = QImageReader(path).read();
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        QVERIFY(!picture.isNull() && !image.isNull());
        QCOMPARE(int(reader.transformation()), qt.transformation);
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32),
                 Upright(picture.convertToFormat(QImage::Format_RGB32), damaged ? 1 : orientation));
    }
};

KORVANE_TEST_MAIN(TestFiRead)
#include "tst_firead.moc"
