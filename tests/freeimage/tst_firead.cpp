// Reading through the FreeImage plugin, the way the program reads: every
// extension of the codec table the plugin claims, from files made at run time
// by Debian's tools (or by hand for formats no installed tool writes), and
// the plugin's claims next to Qt's own handlers.
#include "fifixtures.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDirIterator>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QThread>
#include <QtEndian>

#include <cstring>
#include <functional>

using namespace FiFixtures;

namespace {

const int kWidth = 96;
const int kHeight = 64;

struct Case
{
    QString extension;
    QString recipe;
    double mean;   // mean channel difference allowed
    int max;       // largest channel difference allowed
};

void PutBe(QByteArray& out, quint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

QByteArray IffChunk(const char* id, const QByteArray& data)
{
    QByteArray chunk(id, 4);
    PutBe(chunk, quint32(data.size()), 4);
    chunk += data;
    if (data.size() % 2)
        chunk.append('\0');
    return chunk;
}

// An uncompressed ILBM made by hand: each pixel's value spread over the bit
// planes, a mask plane when opaque is given, then the chunks in extra and
// the colour map and display modes when given.
struct Ilbm
{
    int planes = 4;
    QByteArray colourMap;
    qint64 modes = -1;   // no CAMG when negative
    int masking = 0;
    int transparent = 0;
    QByteArray extra;
};

QByteArray IlbmFile(const Ilbm& p, int width, int height, const std::function<quint32(int, int)>& value,
                    const std::function<bool(int, int)>& opaque)
{
    QByteArray header;
    PutBe(header, quint32(width), 2);
    PutBe(header, quint32(height), 2);
    PutBe(header, 0, 4);
    header.append(char(p.planes)).append(char(p.masking)).append('\0').append('\0');
    PutBe(header, quint32(p.transparent), 2);
    header.append(char(1)).append(char(1));
    PutBe(header, quint32(width), 2);
    PutBe(header, quint32(height), 2);
    const int rowBytes = (width + 15) / 16 * 2;
    QByteArray body;
    for (int y = 0; y < height; ++y) {
        for (int plane = 0; plane < p.planes + (p.masking == 1 ? 1 : 0); ++plane) {
            QByteArray row(rowBytes, '\0');
            for (int x = 0; x < width; ++x) {
                const bool set = plane < p.planes ? (value(x, y) >> plane) & 1 : opaque(x, y);
                if (set)
                    row[x / 8] = char(uchar(row.at(x / 8)) | (0x80 >> (x % 8)));
            }
            body += row;
        }
    }
    QByteArray form("ILBM");
    form += IffChunk("BMHD", header);
    if (!p.colourMap.isEmpty())
        form += IffChunk("CMAP", p.colourMap);
    if (p.modes >= 0) {
        QByteArray modes;
        PutBe(modes, quint32(p.modes), 4);
        form += IffChunk("CAMG", modes);
    }
    form += p.extra + IffChunk("BODY", body);
    QByteArray file("FORM");
    PutBe(file, quint32(form.size()), 4);
    return file + form;
}

// A JPEG XR file's orientation set: the TRANSFORMATION tag (0xBC02) of its
// container, or with inHeader the three SPATIAL_XFRM_SUBORDINATE bits of the
// image header (bits 5 to 3 of its tenth byte) with the tag taken out, since
// the tag takes precedence.
bool SetJxrOrientation(QByteArray& file, int orientation, bool inHeader)
{
    if (file.size() < 8)
        return false;
    const int directory = int(qFromLittleEndian<quint32>(file.constData() + 4));
    if (directory + 2 > file.size())
        return false;
    int count = qFromLittleEndian<quint16>(file.constData() + directory);
    int imageHeader = -1;
    for (int i = 0; i < count; ++i) {
        const int entry = directory + 2 + 12 * i;
        const quint16 tag = qFromLittleEndian<quint16>(file.constData() + entry);
        if (tag == 0xBCC0)
            imageHeader = int(qFromLittleEndian<quint32>(file.constData() + entry + 8));
    }
    for (int i = 0; i < count; ++i) {
        const int entry = directory + 2 + 12 * i;
        if (qFromLittleEndian<quint16>(file.constData() + entry) != 0xBC02)
            continue;
        if (!inHeader) {
            qToLittleEndian<quint32>(quint32(orientation), file.data() + entry + 8);
            return true;
        }
        // The later entries and the next-directory offset move up.
        const int rest = 12 * (count - i - 1) + 4;
        std::memmove(file.data() + entry, file.constData() + entry + 12, size_t(rest));
        qToLittleEndian<quint16>(quint16(--count), file.data() + directory);
        break;
    }
    if (!inHeader || imageHeader < 0 || imageHeader + 10 > file.size() || !file.mid(imageHeader).startsWith("WMPHOTO"))
        return false;
    file[imageHeader + 9] = char((uchar(file.at(imageHeader + 9)) & ~0x38) | (orientation << 3));
    return true;
}

} // namespace

class TestFiRead : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QImage picture;   // with alpha
    QImage opaque;

    QString Path(const QString& name) const { return dir.filePath(name); }

    // Makes the fixture of a recipe at path; answers the picture it should
    // decode to (null: compare with ImageMagick's decoding of the file).
    bool Make(const QString& recipe, const QString& path, QImage& expected, QString& error)
    {
        const QString rgba = QStringLiteral("rgba:") + Path(QStringLiteral("source.rgba"));
        const QString rgb = QStringLiteral("rgb:") + Path(QStringLiteral("source.rgb"));
        const QStringList size = {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(kWidth).arg(kHeight),
                                  QStringLiteral("-depth"), QStringLiteral("8")};
        auto magick = [&](const QString& input, const QStringList& options, const QString& output) {
            return Run(QStringLiteral("convert"), size + QStringList{input} + options + QStringList{output},
                       nullptr, &error);
        };
        auto into = [&](const QString& tool, const QStringList& arguments) {
            QByteArray output;
            return Run(tool, arguments, &output, &error) && Save(path, output);
        };
        const QString tif = Path(QStringLiteral("source.tif"));
        expected = picture;
        if (recipe == QLatin1String("jpeg")) {
            expected = opaque;
            return magick(rgb, {QStringLiteral("-quality"), QStringLiteral("95")}, QStringLiteral("jpeg:") + path);
        }
        if (recipe == QLatin1String("png") || recipe == QLatin1String("jng") || recipe == QLatin1String("tiff"))
            return magick(rgba, {}, recipe + QLatin1Char(':') + path);
        if (recipe == QLatin1String("tga")) {
            // Left alone, ImageMagick stores the rows top first under a
            // bottom-left origin flag, which Netpbm and FreeImage read upside
            // down; with the top-left flag every reader agrees.
            return magick(rgba, {QStringLiteral("-orient"), QStringLiteral("TopLeft")}, QStringLiteral("tga:") + path);
        }
        if (recipe == QLatin1String("gif")) {
            expected = QImage();
            return magick(rgba, {}, QStringLiteral("gif:") + path);
        }
        if (recipe == QLatin1String("dds"))
            return magick(rgba, {QStringLiteral("-define"), QStringLiteral("dds:compression=none")},
                          QStringLiteral("dds:") + path);
        if (recipe == QLatin1String("hdr") || recipe == QLatin1String("pfm")) {
            expected = opaque;
            return magick(rgb, {}, recipe + QLatin1Char(':') + path);
        }
        if (recipe == QLatin1String("wbmp")) {
            expected = QImage();
            return magick(rgb, {QStringLiteral("-threshold"), QStringLiteral("50%")}, QStringLiteral("wbmp:") + path);
        }
        if (recipe == QLatin1String("pcd")) {
            expected = QImage();
            return magick(rgb, {}, QStringLiteral("pcd:") + path);
        }
        if (recipe == QLatin1String("webp")) {
            const QString png = Path(QStringLiteral("webp-source.png"));
            return magick(rgba, {}, png)
                && Run(QStringLiteral("cwebp"), {QStringLiteral("-quiet"), QStringLiteral("-lossless"),
                                                 QStringLiteral("-exact"), png, QStringLiteral("-o"), path},
                       nullptr, &error);
        }
        if (recipe == QLatin1String("j2k") || recipe == QLatin1String("jp2")) {
            // opj_compress picks its codec by the output suffix; lossless by default.
            const QString named = Path(QStringLiteral("opj.") + recipe);
            return Run(QStringLiteral("opj_compress"), {QStringLiteral("-i"), tif, QStringLiteral("-o"), named},
                       nullptr, &error)
                && QFile::rename(named, path);
        }
        if (recipe == QLatin1String("jxr")) {
            const QString named = Path(QStringLiteral("jxrenc.jxr"));
            return Run(QStringLiteral("JxrEncApp"), {QStringLiteral("-i"), tif, QStringLiteral("-o"), named,
                                                     QStringLiteral("-q"), QStringLiteral("1")}, nullptr, &error)
                && QFile::rename(named, path);
        }
        if (recipe == QLatin1String("ilbm")) {
            expected = opaque;
            return into(QStringLiteral("ppmtoilbm"), {Path(QStringLiteral("source.ppm"))});
        }
        if (recipe == QLatin1String("pict")) {
            // ppmtopict takes at most 256 colours.
            const QString few = Path(QStringLiteral("few.ppm"));
            if (!magick(rgb, {QStringLiteral("-colors"), QStringLiteral("200")}, few))
                return false;
            expected = MagickDecode(few);
            return into(QStringLiteral("ppmtopict"), {few});
        }
        if (recipe == QLatin1String("cut")) {
            expected = QImage();
            return Save(path, HandCut());
        }
        error = QStringLiteral("unknown recipe ") + recipe;
        return false;
    }

private slots:
    void initTestCase()
    {
        SwitchPluginOn();
        FI_REQUIRE_TOOLS(QStringLiteral("convert"), QStringLiteral("identify"), QStringLiteral("cwebp"),
                         QStringLiteral("opj_compress"), QStringLiteral("JxrEncApp"), QStringLiteral("JxrDecApp"),
                         QStringLiteral("ppmtopict"), QStringLiteral("ppmtoilbm"), QStringLiteral("ilbmtoppm"));
        QVERIFY(dir.isValid());
        picture = Picture(kWidth, kHeight, true);
        opaque = Picture(kWidth, kHeight, false);
        QByteArray rgba, rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const QRgb p = picture.pixel(x, y);
                const QRgb q = opaque.pixel(x, y);
                rgba.append(char(qRed(p))).append(char(qGreen(p))).append(char(qBlue(p))).append(char(qAlpha(p)));
                rgb.append(char(qRed(q))).append(char(qGreen(q))).append(char(qBlue(q)));
            }
        }
        QVERIFY(Save(Path(QStringLiteral("source.rgba")), rgba));
        QVERIFY(Save(Path(QStringLiteral("source.rgb")), rgb));
        QString error;
        const QStringList size = {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(kWidth).arg(kHeight),
                                  QStringLiteral("-depth"), QStringLiteral("8")};
        QVERIFY2(Run(QStringLiteral("convert"), size + QStringList{QStringLiteral("rgba:") + Path(QStringLiteral("source.rgba")),
                                                                   Path(QStringLiteral("source.tif"))}, nullptr, &error),
                 qPrintable(error));
        QVERIFY2(Run(QStringLiteral("convert"), size + QStringList{QStringLiteral("rgb:") + Path(QStringLiteral("source.rgb")),
                                                                   Path(QStringLiteral("source.ppm"))}, nullptr, &error),
                 qPrintable(error));
    }

    void everyExtension_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("recipe");
        QTest::addColumn<double>("mean");
        QTest::addColumn<int>("max");
        const QList<Case> cases = {
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
        for (const Case& c : cases)
            QTest::newRow(qPrintable(c.extension)) << c.extension << c.recipe << c.mean << c.max;
    }

    // Each extension decodes to the picture it was made from (or to what
    // ImageMagick decodes the same file to), at its size.
    void everyExtension()
    {
        QFETCH(QString, extension);
        QFETCH(QString, recipe);
        QFETCH(double, mean);
        QFETCH(int, max);
        const QString path = Path(QStringLiteral("fixture.") + extension);
        QImage expected;
        QString error;
        QVERIFY2(Make(recipe, path, expected, error), qPrintable(error));
        if (expected.isNull()) {
            const QString prefix = recipe == QLatin1String("wbmp") || recipe == QLatin1String("cut")
                                 ? recipe + QLatin1Char(':') : QString();
            expected = MagickDecode(prefix + path);
            QVERIFY2(!expected.isNull(), "ImageMagick cannot decode the fixture");
        }

        QImageReader reader(path);
        QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
        QCOMPARE(reader.size(), expected.size());
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        const Difference d = Compare(expected, image, expected.hasAlphaChannel());
        QVERIFY(d.sameSize);
        QVERIFY2(d.mean <= mean && d.max <= max,
                 qPrintable(QStringLiteral("mean %1, max %2").arg(d.mean).arg(d.max)));
    }

    // JPEG XR: the eight orientations, set in the container's tag or in the
    // image header, show the picture as JxrDecApp decodes it stored upright,
    // turned by ImageMagick as the format defines them (90 degrees clockwise
    // first, then mirrored left to right, then top to bottom); alpha comes
    // through whether interleaved or planar.
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
            QTest::newRow(qPrintable(QStringLiteral("orientation %1").arg(orientation)))
                << "0" << QString() << orientation << false << turns.at(orientation);
        for (const int orientation : {5, 6})
            QTest::newRow(qPrintable(QStringLiteral("orientation %1 in the image header").arg(orientation)))
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
        const QString tif = Path(QStringLiteral("source.tif"));
        QString source = tif;
        if (format == QLatin1String("0")) {
            source = Path(QStringLiteral("source.bmp"));
            QVERIFY2(Run(QStringLiteral("convert"), {tif, QStringLiteral("-alpha"), QStringLiteral("off"),
                                                     QStringLiteral("bmp3:") + source}, nullptr, &error), qPrintable(error));
        } else if (format == QLatin1String("23")) {
            source = Path(QStringLiteral("source16.tif"));
            QVERIFY2(Run(QStringLiteral("convert"), {tif, QStringLiteral("-depth"), QStringLiteral("16"), source},
                         nullptr, &error), qPrintable(error));
        }
        const QString stored = Path(QStringLiteral("stored.jxr"));
        QStringList encode = {QStringLiteral("-i"), source, QStringLiteral("-o"), stored, QStringLiteral("-c"), format,
                              QStringLiteral("-q"), QStringLiteral("1")};
        if (!alpha.isEmpty())
            encode << QStringLiteral("-a") << alpha;
        QVERIFY2(Run(QStringLiteral("JxrEncApp"), encode, nullptr, &error), qPrintable(error));
        const QString decoded = Path(QStringLiteral("jxrdec.tif"));
        const QString upright = Path(QStringLiteral("upright.png"));
        QVERIFY2(Run(QStringLiteral("JxrDecApp"), {QStringLiteral("-i"), stored, QStringLiteral("-o"), decoded,
                                                   QStringLiteral("-c"), format}, nullptr, &error), qPrintable(error));
        QVERIFY2(Run(QStringLiteral("convert"), QStringList{decoded} + turn + QStringList{upright}, nullptr, &error),
                 qPrintable(error));
        const QImage expected = MagickDecode(upright);
        QVERIFY(!expected.isNull());

        QByteArray file = Load(stored);
        QVERIFY(SetJxrOrientation(file, orientation, inHeader));
        const QString path = Path(QStringLiteral("oriented.jxr"));
        QVERIFY(Save(path, file));
        QImageReader reader(path);
        QCOMPARE(reader.size(), expected.size());
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        const Difference d = Compare(expected, image);
        QVERIFY(d.sameSize);
        QVERIFY2(d.max <= 1, qPrintable(QStringLiteral("max %1").arg(d.max)));
    }

    // IFF pictures in the display modes FreeImage shows in wrong colours read
    // as Netpbm's ilbmtoppm reads them (its mask file giving the alpha);
    // modes whose colours change along the picture, CMYK maps and dual
    // playfields are refused.
    void ilbmModes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("readable");
        const auto colourMap = [](int entries) {
            QByteArray map;
            for (int i = 0; i < entries; ++i)
                map.append(char(i * 37 + 11)).append(char(i * 91 + 50)).append(char(255 - i * 13));
            return map;
        };
        // Rows of hold-and-modify pictures start from a colour register:
        // decoders differ in the colour a line starts from.
        const auto values = [](int planes, bool ham) {
            return [planes, ham](int x, int y) {
                const quint32 value = quint32(x * 7 + y * 29 + x * y) % (1u << planes);
                return ham && x == 0 ? value & ((1u << (planes - 2)) - 1) : value;
            };
        };
        const auto opaque = [](int x, int y) { return (x + 2 * y) % 3 != 0; };
        const int width = 37;   // rows end inside a 16-pixel word
        const int height = 9;
        const auto make = [&](int planes, int entries, qint64 modes, int masking, const QByteArray& extra) {
            Ilbm ilbm;
            ilbm.planes = planes;
            ilbm.colourMap = colourMap(entries);
            ilbm.modes = modes;
            ilbm.masking = masking;
            ilbm.transparent = 5;
            ilbm.extra = extra;
            return IlbmFile(ilbm, width, height, values(planes, modes >= 0 && (modes & 0x800)), opaque);
        };
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
        const QString path = Path(QStringLiteral("modes.iff"));
        QVERIFY(Save(path, file));
        const QImage image = QImageReader(path).read();
        if (!readable) {
            QVERIFY(image.isNull());
            return;
        }
        const QString mask = Path(QStringLiteral("modes-mask.pbm"));
        QFile::remove(mask);
        QByteArray ppm;
        QString error;
        QVERIFY2(Run(QStringLiteral("ilbmtoppm"), {QStringLiteral("-maskfile"), mask, path}, &ppm, &error),
                 qPrintable(error));
        QImage expected = QImage::fromData(ppm, "PPM").convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!expected.isNull());
        if (QFile::exists(mask)) {
            const QImage opaque(mask);   // black where opaque
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x)
                    if (opaque.pixel(x, y) != qRgb(0, 0, 0))
                        expected.setPixel(x, y, 0);
        }
        const Difference d = Compare(expected, image);
        QVERIFY(d.sameSize);
        QCOMPARE(d.max, 0);
    }

    // Koala pictures: 320 x 200, pixels twice as wide as high, four colours
    // from the three colour sources and the background.
    void koala()
    {
        const QString path = Path(QStringLiteral("c64.koa"));
        QVERIFY(Save(path, HandKoala()));
        const QImage image = QImageReader(path).read();
        QCOMPARE(image.size(), QSize(320, 200));
        for (int x = 0; x < 8; x += 2)
            QCOMPARE(image.pixel(x, 0), image.pixel(x + 1, 0));
        QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
        QVERIFY(qRed(image.pixel(2, 0)) > qGreen(image.pixel(2, 0)));    // red
        QVERIFY(qGreen(image.pixel(4, 0)) > qRed(image.pixel(4, 0)));    // green
        QVERIFY(qBlue(image.pixel(6, 0)) > qRed(image.pixel(6, 0)));     // blue
        QCOMPARE(image.pixel(8, 7), image.pixel(0, 0));
        QCOMPARE(image.pixel(318, 199), image.pixel(6, 0));
    }

    // Photo CD: ImageMagick writes the picture centred in the 768 x 512 base
    // image on light grey. Its colour conversion differs from FreeImage's
    // (FreeImage's is brighter), so the picture is checked by its place and
    // hues; and ImageMagick leaves the orientation byte FreeImage reads at 0,
    // which FreeImage takes for bottom-up, so it is set to upright here.
    void photoCd()
    {
        const QString path = Path(QStringLiteral("photo.pcd"));
        QImage expected;
        QString error;
        QVERIFY2(Make(QStringLiteral("pcd"), path, expected, error), qPrintable(error));
        QByteArray bytes = Load(path);
        QVERIFY(bytes.size() > 0x30000);
        bytes[72] = 8;
        QVERIFY(Save(path, bytes));

        const QImage image = QImageReader(path).read();
        QCOMPARE(image.size(), QSize(768, 512));
        QVERIFY(qGray(image.pixel(10, 10)) > 230);
        const QPoint origin((768 - kWidth) / 2, (512 - kHeight) / 2);
        const QRgb topLeft = image.pixel(origin + QPoint(3, 3));
        const QRgb bottomLeft = image.pixel(origin + QPoint(3, kHeight - 4));
        const QRgb topRight = image.pixel(origin + QPoint(kWidth - 4, 3));
        QVERIFY(qBlue(topLeft) > qRed(topLeft) && qBlue(topLeft) > qGreen(topLeft));
        QVERIFY(qGreen(bottomLeft) > qRed(bottomLeft));
        QVERIFY(qRed(topRight) > qGreen(topRight));
    }

    // Camera raw through LibRaw, for every raw extension of the table (LibRaw
    // knows the file by its content), with the camera's Exif.
    void cameraRaw()
    {
        const QByteArray dng = HandDng();
        const QStringList extensions = {
            "dng", "3fr", "arw", "bay", "cap", "cine", "cr2", "crw", "cs1", "dc2", "dcr", "drf", "dsc", "erf",
            "fff", "ia", "iiq", "k25", "kc2", "kdc", "mdc", "mef", "mos", "mrw", "nef", "nrw", "orf", "pef",
            "ptx", "pxn", "qtk", "r3d", "raf", "raw", "rdc", "rw2", "rwl", "rwz", "sr2", "srf", "srw", "sti", "x3f"};
        for (const QString& extension : extensions) {
            const QString path = Path(QStringLiteral("camera.") + extension);
            QVERIFY(Save(path, dng));
            QImageReader reader(path);
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(extension));
            QCOMPARE(image.size(), QSize(kWidth, kHeight));
            QVERIFY2(qGray(image.pixel(kWidth / 4, kHeight / 2)) + 40 < qGray(image.pixel(3 * kWidth / 4, kHeight / 2)),
                     qPrintable(extension));
            if (extension == QLatin1String("dng")) {
                QCOMPARE(reader.text(QStringLiteral("FIM01Make")), QStringLiteral("Korvane"));
                QCOMPARE(reader.text(QStringLiteral("FIM01Model")), QStringLiteral("DngTest"));
            }
        }
    }

    // Several images in one file: TIFF pages, GIF frames with their timing,
    // icon sizes; in order, and from any position.
    void multiImage()
    {
        QString error;
        const QString tiff = Path(QStringLiteral("pages.tif"));
        const QString gif = Path(QStringLiteral("frames.gif"));
        const QString ico = Path(QStringLiteral("sizes.ico"));
        const QStringList colours = {QStringLiteral("xc:red"), QStringLiteral("xc:lime"), QStringLiteral("xc:blue")};
        const QStringList size = {QStringLiteral("-size"), QStringLiteral("40x30")};
        QVERIFY2(Run(QStringLiteral("convert"), size + colours + QStringList{tiff}, nullptr, &error), qPrintable(error));
        QVERIFY2(Run(QStringLiteral("convert"), QStringList{QStringLiteral("-delay"), QStringLiteral("20")} + size
                     + colours + QStringList{QStringLiteral("-loop"), QStringLiteral("0"), gif}, nullptr, &error),
                 qPrintable(error));
        QVERIFY2(Run(QStringLiteral("convert"), {Path(QStringLiteral("source.tif")), QStringLiteral("-define"),
                                                 QStringLiteral("icon:auto-resize=48,32,16"), ico}, nullptr, &error),
                 qPrintable(error));

        const QList<QRgb> rgb = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
        for (const QString& path : {tiff, gif}) {
            QImageReader reader(path);
            QCOMPARE(reader.imageCount(), 3);
            for (int i = 0; i < 3; ++i) {
                const QImage page = reader.read();
                QCOMPARE(page.size(), QSize(40, 30));
                QCOMPARE(page.pixel(20, 15) | 0xFF000000u, rgb.at(i));
                if (path == gif)
                    QCOMPARE(reader.nextImageDelay(), 200);
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
        QList<int> sides;
        for (int i = 0; i < 3; ++i)
            sides << icon.read().width();
        std::sort(sides.begin(), sides.end());
        QCOMPARE(sides, QList<int>({16, 32, 48}));
    }

    // 16-bit sources keep 16 bits; resolution arrives as dots per metre; a
    // scaled JPEG read is exactly the size asked for.
    void depthResolutionAndScaling()
    {
        QString error;
        const QString rgba = QStringLiteral("rgba:") + Path(QStringLiteral("source.rgba"));
        const QStringList size = {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(kWidth).arg(kHeight),
                                  QStringLiteral("-depth"), QStringLiteral("8"), rgba, QStringLiteral("-depth"),
                                  QStringLiteral("16")};
        for (const QString& name : {QStringLiteral("deep.png"), QStringLiteral("deep.tif")}) {
            // ImageMagick stores 8-bit data in 8-bit PNG unless told otherwise.
            const QStringList deepPng = {QStringLiteral("-define"), QStringLiteral("png:bit-depth=16")};
            QVERIFY2(Run(QStringLiteral("convert"), size + deepPng + QStringList{Path(name)}, nullptr, &error),
                     qPrintable(error));
            const QImage deep = QImageReader(Path(name)).read();
            QCOMPARE(deep.format(), QImage::Format_RGBA64);
            const QRgba64 sample = deep.pixelColor(70, 10).rgba64();
            QCOMPARE(int(sample.red()), qRed(picture.pixel(70, 10)) * 257);
            QCOMPARE(int(sample.green()), qGreen(picture.pixel(70, 10)) * 257);
            const QString grey = QStringLiteral("grey-") + name;
            QVERIFY2(Run(QStringLiteral("convert"), size + deepPng + QStringList{QStringLiteral("-alpha"), QStringLiteral("off"),
                                                                                 QStringLiteral("-colorspace"), QStringLiteral("gray"),
                                                                                 Path(grey)}, nullptr, &error), qPrintable(error));
            QCOMPARE(QImageReader(Path(grey)).read().format(), QImage::Format_Grayscale16);
        }

        const QString dense = Path(QStringLiteral("dense.jpg"));
        QVERIFY2(Run(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("640x480"),
                                                 QStringLiteral("gradient:red-blue"), QStringLiteral("-units"),
                                                 QStringLiteral("PixelsPerInch"), QStringLiteral("-density"),
                                                 QStringLiteral("300"), dense}, nullptr, &error), qPrintable(error));
        const QImage full = QImageReader(dense).read();
        QCOMPARE(full.dotsPerMeterX(), 11811);
        QImageReader scaled(dense);
        scaled.setScaledSize(QSize(80, 50));
        const QImage small = scaled.read();
        QCOMPARE(small.size(), QSize(80, 50));
        QVERIFY(Compare(full.scaled(80, 50, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), small).max <= 12);
    }

    // A large JPEG read with the program's grant of more threads is decoded
    // in bands, and reads as ImageMagick reads it, either way.
    void jpegInBands()
    {
        const QString bmp = Path(QStringLiteral("large.bmp"));
        const QString jpeg = Path(QStringLiteral("large.jpg"));
        QVERIFY(Picture(2400, 1800, false).save(bmp, "BMP"));
        QString error;
        QVERIFY2(Run(QStringLiteral("convert"), {bmp, QStringLiteral("-quality"), QStringLiteral("90"),
                                                 QStringLiteral("-sampling-factor"), QStringLiteral("2x2"), jpeg},
                     nullptr, &error), qPrintable(error));
        const QImage oracle = MagickDecode(jpeg);
        for (const int threads : {1, 2, 3}) {
            QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
            const QImage read = QImageReader(jpeg).read();
            QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
            QCOMPARE(Compare(oracle, read).max, 0);
        }
    }

    // The plugin answers for its own keys only (Qt's built-in formats stay
    // Qt's), claims the formats it reads through Qt's readers in a child
    // process (SVG also by its content: the program's icons have no suffix,
    // and still load with the plugin in front), and leaves a ".pic" file
    // that is neither PICT nor Softimage alone.
    void claims()
    {
        QImageIOPlugin* plugin = Plugin();
        QVERIFY(plugin);
        for (const char* foreign : {"xpm", "ppm", "xbm", "cur"})
            QCOMPARE(int(plugin->capabilities(nullptr, foreign)), 0);
        for (const char* apart : {"svg", "svgz", "pcx", "psd", "mng", "ras", "sgi", "rgb", "bw", "bmp"})
            QCOMPARE(int(plugin->capabilities(nullptr, apart)), int(QImageIOPlugin::CanRead));
        QCOMPARE(int(plugin->capabilities(nullptr, "tga")), int(QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite));
        QCOMPARE(int(plugin->capabilities(nullptr, "png")), int(QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite));
        QCOMPARE(int(plugin->capabilities(nullptr, "dds")), int(QImageIOPlugin::CanRead));

        QByteArray svg("<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"/>");
        QBuffer svgBuffer(&svg);
        QVERIFY(svgBuffer.open(QIODevice::ReadOnly));
        QCOMPARE(int(plugin->capabilities(&svgBuffer, QByteArray())), int(QImageIOPlugin::CanRead));
        QCOMPARE(int(plugin->capabilities(&svgBuffer, "pic")), 0);

        QByteArray png = Load(Path(QStringLiteral("fixture.png")));
        QVERIFY(!png.isEmpty());
        QBuffer pngBuffer(&png);
        QVERIFY(pngBuffer.open(QIODevice::ReadOnly));
        QCOMPARE(int(plugin->capabilities(&pngBuffer, QByteArray())), int(QImageIOPlugin::CanRead));
        QCOMPARE(pngBuffer.pos(), qint64(0));

        int icons = 0;
        QDirIterator resources(QStringLiteral(":/"));
        while (resources.hasNext()) {
            const QString resource = resources.next();
            if (!QFileInfo(resource).fileName().startsWith(QLatin1String("IMG_")))
                continue;
            QImageReader reader(resource);
            QVERIFY2(!reader.read().isNull(), qPrintable(resource + QStringLiteral(": ") + reader.errorString()));
            ++icons;
        }
        QVERIFY(icons > 10);
    }
};

KORVANE_TEST_MAIN(TestFiRead)
#include "tst_firead.moc"
