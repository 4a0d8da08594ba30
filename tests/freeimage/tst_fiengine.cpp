// The converter's engine with the program's plugins in front, as the program
// runs: one picture with alpha, Exif, XMP and a colour profile converted to
// every writable target, each file checked by a decoder outside the program;
// and metadata carried between JPEG and TIFF only with "Keep Metadata".
#include "fifixtures.h"
#include "gen/plugins.h"
#include "imageconvertthread.h"
#include "testsupport.h"

#include <QColorSpace>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>

using namespace FiFixtures;

namespace {

const int kWidth = 128;
const int kHeight = 96;
const QString kTitle = QStringLiteral("Harbour; at dusk & calm");
const QString kComment = QStringLiteral("Shot from the pier");

// How a target's pixels are checked against the source as an outside
// decoder reads it. mean bounds the mean channel difference, max the largest
// single difference for lossless targets and the largest 4 x 4 block mean
// for lossy ones.
enum class Check {
    Exact,       // every channel, alpha included (colours where alpha is 0 aside)
    Lossy,       // the same within the bounds
    Opaque,      // colours as stored, alpha dropped by the format
    OpaqueLossy, // the same within the bounds
    Grey,        // one grey channel
    Bilevel,     // black and white, dithered: grey 8 x 8 block means within mean
    Palette,     // up to 256 colours, pixels under half opacity transparent
    ZeroAlpha,   // colours exact, only fully transparent pixels transparent
    Icon,        // the selected sizes
    Pdf          // one page
};

struct Target
{
    const char* name;
    const char* extension;
    PLMImageCodecID id;
    Check check;
    double mean;
    double max;
};

QJsonObject ExifTool(const QString& path, const QStringList& tags)
{
    QByteArray output;
    QStringList arguments{QStringLiteral("-j")};
    for (const QString& tag : tags)
        arguments << QLatin1Char('-') + tag;
    if (!Run(QStringLiteral("exiftool"), arguments << path, &output))
        return QJsonObject();
    return QJsonDocument::fromJson(output).array().at(0).toObject();
}

QByteArray IccOf(const QString& path)
{
    QByteArray profile;
    Run(QStringLiteral("exiftool"), {QStringLiteral("-b"), QStringLiteral("-ICC_Profile"), path}, &profile);
    return profile;
}

QImage Opaque(const QImage& image)
{
    QImage opaque = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < opaque.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(opaque.scanLine(y));
        for (int x = 0; x < opaque.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    return opaque;
}

// Mean absolute difference of the grey 8 x 8 block means.
double BlockDifference(const QImage& a, const QImage& b)
{
    const QImage ga = a.convertToFormat(QImage::Format_Grayscale8);
    const QImage gb = b.convertToFormat(QImage::Format_Grayscale8);
    double total = 0;
    int blocks = 0;
    for (int by = 0; by + 8 <= ga.height(); by += 8) {
        for (int bx = 0; bx + 8 <= ga.width(); bx += 8) {
            int sa = 0, sb = 0;
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x) {
                    sa += ga.constScanLine(y)[x];
                    sb += gb.constScanLine(y)[x];
                }
            total += std::abs(sa - sb) / 64.0;
            ++blocks;
        }
    }
    return blocks ? total / blocks : 255;
}

ConvertSettings SettingsFor(const QString& folder, const QString& extension, PLMImageCodecID id, bool keep)
{
    ConvertSettings settings;
    settings.TgtFolder = folder;
    settings.TgtFormat = extension;
    settings.TgtID = id;
    settings.Exists = 1;
    settings.KeepMd = keep;
    return settings;
}

QStringList Convert(const QString& source, const ConvertSettings& settings)
{
    ImageConvertData job;
    job.srcFile = source;
    job.settings = &settings;
    const ItemConvertResult result = ThreadFunction(job);
    return result.state == ConvertSucceeded ? result.tgtFiles : QStringList();
}

} // namespace

class TestFiEngine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QImage picture;
    QByteArray profile;
    QString source;
    QImage reference;   // the source as ImageMagick decodes it

    QString Path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        PLMInitPlugins();   // the switches, as the program writes them at start
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        FI_REQUIRE_TOOLS(QStringLiteral("convert"), QStringLiteral("identify"), QStringLiteral("exiftool"),
                         QStringLiteral("webpinfo"), QStringLiteral("opj_dump"), QStringLiteral("JxrDecApp"),
                         QStringLiteral("icotool"), QStringLiteral("pdfinfo"));
        QVERIFY(dir.isValid());
        picture = Picture(kWidth, kHeight, true);
        profile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();

        // The source is made outside the program: raw samples through
        // ImageMagick into an 8-bit RGBA PNG, tagged by exiftool.
        QByteArray rgba;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const QRgb p = picture.pixel(x, y);
                rgba.append(char(qRed(p))).append(char(qGreen(p))).append(char(qBlue(p))).append(char(qAlpha(p)));
            }
        QVERIFY(Save(Path(QStringLiteral("picture.rgba")), rgba));
        QVERIFY(Save(Path(QStringLiteral("adobe.icc")), profile));
        QDir().mkpath(Path(QStringLiteral("in")));
        source = Path(QStringLiteral("in/picture.png"));
        QString error;
        QVERIFY2(Run(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("%1x%2").arg(kWidth).arg(kHeight),
                                                 QStringLiteral("-depth"), QStringLiteral("8"),
                                                 QStringLiteral("rgba:") + Path(QStringLiteral("picture.rgba")),
                                                 QStringLiteral("-define"), QStringLiteral("png:color-type=6"), source},
                     nullptr, &error), qPrintable(error));
        QVERIFY2(Run(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                  QStringLiteral("-EXIF:Make=Acme"), QStringLiteral("-EXIF:Model=Lens 5"),
                                                  QStringLiteral("-EXIF:DateTimeOriginal=2021:02:03 04:05:06"),
                                                  QStringLiteral("-XMP-dc:Title=") + kTitle,
                                                  QStringLiteral("-PNG:Comment=") + kComment,
                                                  QStringLiteral("-icc_profile<=") + Path(QStringLiteral("adobe.icc")),
                                                  source}, nullptr, &error), qPrintable(error));
        // ImageMagick keeps no colour under alpha 0: the reference has its
        // colours there, the picture's elsewhere.
        reference = MagickDecode(source);
        QVERIFY(Compare(picture, reference).max == 0);
    }

    void everyTarget_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("check");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("max");
        QTest::addColumn<int>("option");   // the lossless switch, or the quality or rate
        const Target targets[] = {
            {"bmp", ".bmp", PLMCodecBMP, Check::Opaque, 0, 0},
            {"gif", ".gif", PLMCodecGIF, Check::Palette, 3, 12},
            {"hdr", ".hdr", PLMCodecHDR, Check::Opaque, 1.0, 3},
            {"ico", ".ico", PLMCodecICO, Check::Icon, 0, 0},
            {"jng", ".jng", PLMCodecJNG, Check::Lossy, 2, 20},
            {"jpeg", ".jpg", PLMCodecJPEG, Check::OpaqueLossy, 2, 16},
            {"jpeg2000 lossless", ".jp2", PLMCodecJPEG2000, Check::Exact, 0, 0},
            {"jpeg2000 rate", ".j2k", PLMCodecJPEG2000, Check::Lossy, 3, 24},
            {"jpegxr lossless", ".jxr", PLMCodecJPEGXR, Check::Exact, 0, 0},
            {"jpegxr quality", ".wdp", PLMCodecJPEGXR, Check::Lossy, 2, 16},
            {"pdf", ".pdf", PLMCodecPDF, Check::Pdf, 0, 0},
            {"pfm", ".pfm", PLMCodecPFM, Check::Opaque, 0, 1},
            {"png", ".png", PLMCodecPNG, Check::Exact, 0, 0},
            {"ppm", ".ppm", PLMCodecPNM, Check::Opaque, 0, 0},
            {"pgm", ".pgm", PLMCodecPNM, Check::Grey, 0.5, 2},
            {"pbm", ".pbm", PLMCodecPNM, Check::Bilevel, 24, 0},
            {"tga", ".tga", PLMCodecTGA, Check::Exact, 0, 0},
            {"targa", ".targa", PLMCodecTGA, Check::Exact, 0, 0},
            {"tiff", ".tif", PLMCodecTIFF, Check::Exact, 0, 0},
            {"wbmp", ".wbmp", PLMCodecWBMP, Check::Bilevel, 24, 0},
            {"wap", ".wap", PLMCodecWBMP, Check::Bilevel, 24, 0},
            {"webp lossless", ".webp", PLMCodecWEBP, Check::Exact, 0, 0},
            {"webp quality 100", ".webp", PLMCodecWEBP, Check::Lossy, 1.5, 16},
            {"xbm", ".xbm", PLMCodecXBM, Check::Bilevel, 24, 0},
            {"xpm", ".xpm", PLMCodecXPM, Check::ZeroAlpha, 0, 0},
        };
        for (const Target& t : targets) {
            const QString name = QLatin1String(t.name);
            const int option = name.endsWith(QLatin1String("lossless")) ? 1
                             : name == QLatin1String("jpeg2000 rate") ? 20
                             : name == QLatin1String("jpegxr quality") ? 80
                             : name == QLatin1String("webp quality 100") ? 100
                             : name == QLatin1String("jpeg") ? 90 : 0;
            QTest::newRow(t.name) << QString::fromLatin1(t.extension) << int(t.id) << int(t.check) << t.mean
                                  << t.max << option;
        }
    }

    // Sizes and pixels as an outside decoder reads them, lossless modes
    // really lossless, and the colour profile and metadata where the target
    // holds them.
    void everyTarget()
    {
        QFETCH(QString, extension);
        QFETCH(int, id);
        QFETCH(int, check);
        QFETCH(double, mean);
        QFETCH(double, max);
        QFETCH(int, option);
        const QString folder = Path(QStringLiteral("out-") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(folder));
        ConvertSettings settings = SettingsFor(folder, extension, PLMImageCodecID(id), true);
        settings.ICODim = 32 | 2 | 1;
        settings.JPEGCmpsnQuality = option;
        settings.J2000LlCmpsn = option == 1;
        settings.J2000CmpsnRate = option;
        settings.JPEGXRLlCmpsn = option == 1;
        settings.JPEGXRCmpsnQuality = option;
        settings.WEBPLlCmpsn = option == 1;
        settings.WEBPCmpsnQuality = option;
        const QStringList targets = Convert(source, settings);
        QCOMPARE(targets.size(), 1);
        const QString target = targets.first();
        QString error;

        // Decoded outside the program: JPEG XR through libjxr's own decoder.
        QString spec = target;
        if (id == PLMCodecJPEGXR) {
            spec = Path(QStringLiteral("jxrdec-%1.tif").arg(option));
            QVERIFY2(Run(QStringLiteral("JxrDecApp"), {QStringLiteral("-i"), target, QStringLiteral("-o"), spec},
                         nullptr, &error), qPrintable(error));
        } else if (extension == QLatin1String(".targa")) {
            spec = QStringLiteral("tga:") + target;
        } else if (extension == QLatin1String(".wap")) {
            spec = QStringLiteral("wbmp:") + target;
        }

        switch (Check(check)) {
        case Check::Pdf: {
            QByteArray info;
            QVERIFY(Run(QStringLiteral("pdfinfo"), {target}, &info));
            QVERIFY2(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")).match(QString::fromLatin1(info)).hasMatch(),
                     info.constData());
            return;
        }
        case Check::Icon: {
            QByteArray list;
            QVERIFY(Run(QStringLiteral("icotool"), {QStringLiteral("-l"), target}, &list));
            QCOMPARE(list.count("--icon"), 3);
            for (const int side : {256, 32, 16}) {
                QVERIFY2(list.contains(QStringLiteral("--width=%1 --height=%1 --bit-depth=32").arg(side).toLatin1()),
                         list.constData());
            }
            for (int frame = 0; frame < 3; ++frame) {
                const QImage decoded = MagickDecode(QStringLiteral("ico:") + target, frame);
                const QImage expected = reference.scaled(decoded.width(), decoded.width(), Qt::IgnoreAspectRatio,
                                                         Qt::FastTransformation);
                QVERIFY(decoded.width() == 256 || decoded.width() == 32 || decoded.width() == 16);
                QCOMPARE(Compare(expected, decoded).max, 0);
            }
            return;
        }
        default:
            break;
        }

        const QImage decoded = MagickDecode(spec);
        QVERIFY2(!decoded.isNull(), qPrintable(spec));
        QCOMPARE(decoded.size(), picture.size());
        QImage expected = reference;
        bool lossy = false;
        switch (Check(check)) {
        case Check::Lossy:
            lossy = true;
            break;
        case Check::OpaqueLossy:
            lossy = true;
            expected = Opaque(reference);
            break;
        case Check::Opaque:
            expected = Opaque(reference);
            break;
        case Check::Grey:
            expected = Opaque(reference).convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_ARGB32);
            break;
        case Check::Palette:
        case Check::ZeroAlpha:
            lossy = Check(check) == Check::Palette;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const QRgb p = expected.pixel(x, y);
                    const bool clear = Check(check) == Check::Palette ? qAlpha(p) < 128 : qAlpha(p) == 0;
                    expected.setPixel(x, y, clear ? 0u : p | 0xFF000000u);
                }
            break;
        case Check::Bilevel: {
            const double blocks = BlockDifference(Opaque(reference), decoded);
            QVERIFY2(blocks <= mean, qPrintable(QString::number(blocks)));
            return;
        }
        default:
            break;
        }
        const Difference d = Compare(expected, decoded);
        QVERIFY2(d.sameSize && d.mean <= mean && (lossy ? d.blockMax : d.max) <= max,
                 qPrintable(QStringLiteral("mean %1, max %2, block max %3").arg(d.mean).arg(d.max).arg(d.blockMax)));

        if (id == PLMCodecWEBP) {
            QByteArray info;
            QVERIFY(Run(QStringLiteral("webpinfo"), {target}, &info));
            QVERIFY2(info.contains(option == 1 ? "Format: Lossless" : "Format: Lossy"), info.constData());
        }
        if (id == PLMCodecJPEG2000) {
            // Lossless is the reversible 5-3 wavelet; a rate of 20 keeps at
            // most a twentieth of the samples' bytes (and some headers).
            QByteArray dump;
            QVERIFY(Run(QStringLiteral("opj_dump"), {QStringLiteral("-i"), target}, &dump));
            QVERIFY2(dump.contains("qmfbid=1"), dump.constData());
            if (option > 1)
                QVERIFY(QFileInfo(target).size() < kWidth * kHeight * 4 / option + 600);
        }
        if (id == PLMCodecJPEG || id == PLMCodecPNG || id == PLMCodecTIFF || id == PLMCodecWEBP)
            QVERIFY2(IccOf(target) == profile, "colour profile lost");
        if (id == PLMCodecJPEG || id == PLMCodecTIFF) {
            const QJsonObject tags = ExifTool(target, {"Make", "Model", "DateTimeOriginal", "XMP:Title"});
            QCOMPARE(tags.value(QStringLiteral("Make")).toString(), QStringLiteral("Acme"));
            QCOMPARE(tags.value(QStringLiteral("DateTimeOriginal")).toString(), QStringLiteral("2021:02:03 04:05:06"));
            QCOMPARE(tags.value(QStringLiteral("Title")).toString(), kTitle);
        }
        if (id == PLMCodecPNG || id == PLMCodecGIF) {
            const QJsonObject tags = ExifTool(target, {"Comment", "XMP:Title"});
            QCOMPARE(tags.value(QStringLiteral("Comment")).toString(), kComment);
            if (id == PLMCodecPNG)
                QCOMPARE(tags.value(QStringLiteral("Title")).toString(), kTitle);
        }
    }

    void keepMetadata_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("id");
        QTest::newRow("jpeg to jpeg") << ".jpg" << ".jpg" << int(PLMCodecJPEG);
        QTest::newRow("jpeg to tiff") << ".jpg" << ".tif" << int(PLMCodecTIFF);
        QTest::newRow("tiff to jpeg") << ".tif" << ".jpeg" << int(PLMCodecJPEG);
    }

    // Make, model, date, an IPTC keyword, an XMP title with ";" and the
    // comment survive with "Keep Metadata" and none of them without it.
    void keepMetadata()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(int, id);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
        QDir().mkpath(Path(tag));
        const QString photo = Path(tag + QStringLiteral("/photo") + from);
        QString error;
        QVERIFY2(Run(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("64x48"),
                                                 QStringLiteral("gradient:orange-navy"), photo}, nullptr, &error),
                 qPrintable(error));
        const QString comment = from == QLatin1String(".tif") ? QStringLiteral("-ImageDescription=")
                                                              : QStringLiteral("-Comment=");
        QVERIFY2(Run(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                  QStringLiteral("-Make=Acme"), QStringLiteral("-Model=Lens 5"),
                                                  QStringLiteral("-DateTimeOriginal=2021:02:03 04:05:06"),
                                                  QStringLiteral("-Keywords=pier"), QStringLiteral("-Keywords=sea;salt"),
                                                  QStringLiteral("-XMP-dc:Title=") + kTitle, comment + kComment, photo},
                     nullptr, &error), qPrintable(error));

        for (const bool keep : {true, false}) {
            const QString folder = Path(tag + (keep ? QStringLiteral("/kept") : QStringLiteral("/dropped")));
            QDir().mkpath(folder);
            const QStringList targets = Convert(photo, SettingsFor(folder, to, PLMImageCodecID(id), keep));
            QCOMPARE(targets.size(), 1);
            const QJsonObject tags = ExifTool(targets.first(), {"Make", "Model", "DateTimeOriginal", "Keywords",
                                                                "XMP:Title", "Comment", "ImageDescription"});
            const QString commentTag = to == QLatin1String(".tif") ? QStringLiteral("ImageDescription")
                                                                   : QStringLiteral("Comment");
            if (!keep) {
                for (const QString& name : QStringList{"Make", "Model", "DateTimeOriginal", "Keywords", "Title", commentTag})
                    QVERIFY2(!tags.contains(name), qPrintable(name));
                continue;
            }
            QCOMPARE(tags.value(QStringLiteral("Make")).toString(), QStringLiteral("Acme"));
            QCOMPARE(tags.value(QStringLiteral("Model")).toString(), QStringLiteral("Lens 5"));
            QCOMPARE(tags.value(QStringLiteral("DateTimeOriginal")).toString(), QStringLiteral("2021:02:03 04:05:06"));
            QCOMPARE(tags.value(QStringLiteral("Keywords")).toVariant().toStringList(), QStringList({"pier", "sea;salt"}));
            QCOMPARE(tags.value(QStringLiteral("Title")).toString(), kTitle);
            QCOMPARE(tags.value(commentTag).toString(), kComment);
        }
    }
};

KORVANE_TEST_MAIN(TestFiEngine)
#include "tst_fiengine.moc"
