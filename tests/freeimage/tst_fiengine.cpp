// Writing: the converter's engine with the program's plugins in front, a picture with alpha, Exif,
// XMP and a colour profile to every writable target, checked by outside decoders; metadata between
// JPEG and TIFF only with "Keep Metadata"; HEIF, AVIF and JPEG XL both ways, decoded by their own
// tools, HEIF pages and orientation; writer options the engine does not reach (quality and
// compression scales, PNG on several threads, 16-bit and grey, Targa layouts, GIF palettes).
#include "fifixtures.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"

#include <libheif/heif.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QTransform>

#include <cmath>

using namespace FiFixtures;

namespace {

const int kWidth = 128, kHeight = 96;
const QString kTitle = QStringLiteral("Harbour; at dusk & calm");
const QString kComment = QStringLiteral("Shot from the pier");

// How a target's pixels are checked against the source as an outside decoder reads it: mean
// bounds the mean difference, max the largest (lossless) or largest 4 x 4 block mean (lossy).
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

// The picture with per-pixel noise, which compresses as a photograph does.
QImage Noisy(int width, int height, bool alpha)
{
    QImage image = Picture(width, height, alpha);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int n = int(random.bounded(9)) - 4;
            const QRgb p = image.pixel(x, y);
            image.setPixel(x, y, qRgba(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) - n, 255),
                                       qBound(0, qBlue(p) + n / 2, 255), qAlpha(p)));
        }
    return image;
}

QByteArray Written(const QImage& image, const QByteArray& format, int quality = -1, int compression = -1)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setCompression(compression);
    return writer.write(image) ? buffer.data() : QByteArray();
}

// Odd on purpose: 4:2:0 and the codecs' block sizes must not crop or pad.
const int kBoxWidth = 241, kBoxHeight = 163;

// A JPEG target at quality 100 against its source (4:2:0 chroma twice) stays above this.
const double kJpegPsnr = 35;

// Peak signal-to-noise ratio over the colour channels; infinite when equal.
double Psnr(const QImage& first, const QImage& second)
{
    if (first.size() != second.size() || first.isNull())
        return 0;
    const QImage a = first.convertToFormat(QImage::Format_RGB32);
    const QImage b = second.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (const int shift : {0, 8, 16}) {
                const int d = int((a.pixel(x, y) >> shift) & 0xFF) - int((b.pixel(x, y) >> shift) & 0xFF);
                sum += d * d;
            }
    return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * 3 * a.width() * a.height() / sum);
}

// The file as the format's own Debian tool decodes it, through a PNG.
QImage OracleDecode(const QString& tool, const QString& path)
{
    return Run(tool, {path, path + ".png"}) ? MagickDecode(path + ".png") : QImage();
}

// A HEIC made with libheif, stored as taken and shown turned 90 degrees clockwise (irot).
bool WriteTurnedHeic(const QImage& source, const QString& path)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    bool ok = !heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code
              && !heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code
              && !heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code;
    int stride = 0;
    uint8_t* plane = ok ? heif_image_get_plane(image, heif_channel_interleaved, &stride) : nullptr;
    for (int y = 0; plane && y < rgb.height(); ++y)
        memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    ok = ok && !heif_encoder_set_lossy_quality(encoder, 90).code
         && !heif_context_encode_image(context, image, encoder, options, nullptr).code
         && !heif_context_write_to_file(context, QFile::encodeName(path).constData()).code;
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return ok;
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

    QString boxPng, boxPhoto;   // a photo-like picture softened as a lens does; as a JPEG with Exif
    QImage boxReference;        // the JPEG as ImageMagick decodes it

    QString Path(const QString& name) const { return dir.filePath(name); }
    QString BoxPath(const QString& name) const { return Path(QString(QTest::currentDataTag()).replace(' ', '-') + name); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("default.debug=false");
        FI_REQUIRE_TOOLS("convert", "identify", "exiftool", "webpinfo", "opj_dump", "JxrDecApp", "icotool", "pdfinfo",
                         "heif-enc", "heif-convert", "avifenc", "avifdec", "cjxl", "djxl");
        QVERIFY(dir.isValid());
        picture = Picture(kWidth, kHeight, true);
        profile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
        // Made outside the program: an 8-bit RGBA PNG by ImageMagick, tagged by exiftool.
        QVERIFY(Save(Path("adobe.icc"), profile) && QDir().mkpath(Path("in")));
        source = Path("in/picture.png");
        QString error;
        QVERIFY2(MagickEncode(picture, true, {"-define", "png:color-type=6"}, source, &error), qPrintable(error));
        QVERIFY2(Run("exiftool", {"-q", "-overwrite_original", "-EXIF:Make=Acme", "-EXIF:Model=Lens 5",
                                  "-EXIF:DateTimeOriginal=2021:02:03 04:05:06", "-XMP-dc:Title=" + kTitle,
                                  "-PNG:Comment=" + kComment, "-icc_profile<=" + Path("adobe.icc"), source},
                     nullptr, &error), qPrintable(error));
        reference = MagickDecode(source);
        QVERIFY(Compare(picture, reference).max == 0);
        boxPng = BoxPath("picture.png");
        boxPhoto = BoxPath("photo.jpg");
        QVERIFY(Picture(kBoxWidth, kBoxHeight, false).convertToFormat(QImage::Format_RGB888).save(boxPng));
        QVERIFY(Run("convert", {boxPng, "-blur", "0x1.5", boxPng}) && Run("convert", {boxPng, "-quality", "92", boxPhoto}));
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-Make=Acme", "-DateTimeOriginal=2021:02:03 04:05:06",
                                 boxPhoto}));
        boxReference = MagickDecode(boxPhoto);
        QCOMPARE(boxReference.size(), QSize(kBoxWidth, kBoxHeight));
    }

    void everyTarget_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("check");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("max");
        QTest::addColumn<int>("option");   // the lossless switch, or the quality or rate
        const struct { const char* name; const char* extension; PLMImageCodecID id; Check check; double mean, max; int option; } targets[] = {
            {"bmp", ".bmp", PLMCodecBMP, Check::Opaque, 0, 0, 0},
            {"gif", ".gif", PLMCodecGIF, Check::Palette, 3, 12, 0},
            {"hdr", ".hdr", PLMCodecHDR, Check::Opaque, 1.0, 3, 0},
            {"ico", ".ico", PLMCodecICO, Check::Icon, 0, 0, 0},
            {"jng", ".jng", PLMCodecJNG, Check::Lossy, 2, 20, 0},
            {"jpeg", ".jpg", PLMCodecJPEG, Check::OpaqueLossy, 2, 16, 90},
            {"jpeg2000 lossless", ".jp2", PLMCodecJPEG2000, Check::Exact, 0, 0, 1},
            {"jpeg2000 rate", ".j2k", PLMCodecJPEG2000, Check::Lossy, 3, 24, 20},
            {"jpegxr lossless", ".jxr", PLMCodecJPEGXR, Check::Exact, 0, 0, 1},
            {"jpegxr quality", ".wdp", PLMCodecJPEGXR, Check::Lossy, 2, 16, 80},
            {"pdf", ".pdf", PLMCodecPDF, Check::Pdf, 0, 0, 0},
            {"pfm", ".pfm", PLMCodecPFM, Check::Opaque, 0, 1, 0},
            {"png", ".png", PLMCodecPNG, Check::Exact, 0, 0, 0},
            {"ppm", ".ppm", PLMCodecPNM, Check::Opaque, 0, 0, 0},
            {"pgm", ".pgm", PLMCodecPNM, Check::Grey, 0.5, 2, 0},
            {"pbm", ".pbm", PLMCodecPNM, Check::Bilevel, 24, 0, 0},
            {"tga", ".tga", PLMCodecTGA, Check::Exact, 0, 0, 0},
            {"targa", ".targa", PLMCodecTGA, Check::Exact, 0, 0, 0},
            {"tiff", ".tif", PLMCodecTIFF, Check::Exact, 0, 0, 0},
            {"wbmp", ".wbmp", PLMCodecWBMP, Check::Bilevel, 24, 0, 0},
            {"wap", ".wap", PLMCodecWBMP, Check::Bilevel, 24, 0, 0},
            {"webp lossless", ".webp", PLMCodecWEBP, Check::Exact, 0, 0, 1},
            {"webp quality 100", ".webp", PLMCodecWEBP, Check::Lossy, 1.5, 16, 100},
            {"xbm", ".xbm", PLMCodecXBM, Check::Bilevel, 24, 0, 0},
            {"xpm", ".xpm", PLMCodecXPM, Check::ZeroAlpha, 0, 0, 0},
        };
        for (const auto& t : targets)
            QTest::newRow(t.name) << QString(t.extension) << int(t.id) << int(t.check) << t.mean << t.max << t.option;
    }

    // Sizes and pixels as an outside decoder reads them, lossless modes lossless, and the colour
    // profile and metadata where the target holds them.
    void everyTarget()
    {
        QFETCH(QString, extension);
        QFETCH(int, id);
        QFETCH(int, check);
        QFETCH(double, mean);
        QFETCH(double, max);
        QFETCH(int, option);
        const QStringList targets = Convert(source, Path(QString("out-%1").arg(QTest::currentDataTag()).replace(' ', '-')),
                                            extension, PLMImageCodecID(id), true, [option](ConvertSettings& settings) {
            settings.ICODim = 32 | 2 | 1;
            settings.JPEGCmpsnQuality = settings.J2000CmpsnRate = settings.JPEGXRCmpsnQuality = option;
            settings.WEBPCmpsnQuality = option;
            settings.J2000LlCmpsn = settings.JPEGXRLlCmpsn = settings.WEBPLlCmpsn = option == 1;
        });
        QCOMPARE(targets.size(), 1);
        const QString target = targets.first();
        QByteArray info;
        if (Check(check) == Check::Pdf) {
            QVERIFY(Run("pdfinfo", {target}, &info));
            QVERIFY2(QString(info).contains(QRegularExpression("Pages:\\s+1\\n")), info.constData());
            return;
        }
        if (Check(check) == Check::Icon) {
            QVERIFY(Run("icotool", {"-l", target}, &info));
            QCOMPARE(info.count("--icon"), 3);
            for (int frame = 0; frame < 3; ++frame) {
                const QImage decoded = MagickDecode("ico:" + target, frame);
                const int side = decoded.width();
                QVERIFY2(info.contains(QString("--width=%1 --height=%1 --bit-depth=32").arg(side).toLatin1()), info.constData());
                QVERIFY(side == 256 || side == 32 || side == 16);
                QCOMPARE(Compare(reference.scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation), decoded).max, 0);
            }
            return;
        }
        QString spec = extension == ".targa" ? "tga:" + target : extension == ".wap" ? "wbmp:" + target : target;
        if (id == PLMCodecJPEGXR) {
            spec = Path(QString("jxrdec-%1.tif").arg(option));
            QVERIFY(Run("JxrDecApp", {"-i", target, "-o", spec}));
        }
        const QImage decoded = MagickDecode(spec);
        QCOMPARE(decoded.size(), picture.size());
        QImage expected = reference;
        const bool lossy = Check(check) == Check::Lossy || Check(check) == Check::OpaqueLossy || Check(check) == Check::Palette;
        if (Check(check) == Check::Opaque || Check(check) == Check::OpaqueLossy)
            expected = reference.convertToFormat(QImage::Format_RGB32);
        if (Check(check) == Check::Grey)
            expected = reference.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_Grayscale8);
        if (Check(check) == Check::Palette || Check(check) == Check::ZeroAlpha) {
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const QRgb p = expected.pixel(x, y);
                    const bool clear = Check(check) == Check::Palette ? qAlpha(p) < 128 : qAlpha(p) == 0;
                    expected.setPixel(x, y, clear ? 0u : p | 0xFF000000u);
                }
        }
        if (Check(check) == Check::Bilevel) {
            // Grey 8 x 8 block means, compared over the three colour channels.
            const auto blocks = [](const QImage& image) {
                return image.convertToFormat(QImage::Format_Grayscale8)
                    .scaled(kWidth / 8, kHeight / 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            };
            const double blockMean = Compare(blocks(reference.convertToFormat(QImage::Format_RGB32)), blocks(decoded)).mean * 4 / 3;
            QVERIFY2(blockMean <= mean, qPrintable(QString::number(blockMean)));
            return;
        }
        const Difference d = Compare(expected, decoded);
        QVERIFY2(d.sameSize && d.mean <= mean && (lossy ? d.blockMax : d.max) <= max,
                 qPrintable(QString("mean %1, max %2, block max %3").arg(d.mean).arg(d.max).arg(d.blockMax)));
        if (id == PLMCodecWEBP) {
            QVERIFY(Run("webpinfo", {target}, &info));
            QVERIFY2(info.contains(option == 1 ? "Format: Lossless" : "Format: Lossy"), info.constData());
        }
        if (id == PLMCodecJPEG2000) {
            // Lossless is the reversible 5-3 wavelet; rate 20 keeps a twentieth of the bytes (and headers).
            QVERIFY(Run("opj_dump", {"-i", target}, &info));
            QVERIFY2(info.contains("qmfbid=1"), info.constData());
            QVERIFY(option == 1 || QFileInfo(target).size() < kWidth * kHeight * 4 / option + 600);
        }
        if (id == PLMCodecJPEG || id == PLMCodecPNG || id == PLMCodecTIFF || id == PLMCodecWEBP) {
            QVERIFY(Run("exiftool", {"-b", "-ICC_Profile", target}, &info));
            QVERIFY2(info == profile, "colour profile lost");
        }
        const QJsonObject tags = ExifTool(target, {"Make", "DateTimeOriginal", "XMP:Title", "Comment"});
        if (id == PLMCodecJPEG || id == PLMCodecTIFF) {
            QCOMPARE(tags.value("Make").toString(), QString("Acme"));
            QCOMPARE(tags.value("DateTimeOriginal").toString(), QString("2021:02:03 04:05:06"));
        }
        if (id == PLMCodecPNG || id == PLMCodecGIF)
            QCOMPARE(tags.value("Comment").toString(), kComment);
        if (id == PLMCodecJPEG || id == PLMCodecTIFF || id == PLMCodecPNG)
            QCOMPARE(tags.value("Title").toString(), kTitle);
    }

    // Make, model, date, IPTC keywords (";" and UTF-8 in them), an XMP title with ";" and the
    // comment survive with "Keep Metadata", none without; the colour profile either way; no Exif
    // thumbnail becomes a page.
    void keepMetadata_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("charset");   // of the IPTC keyword, written without a marker
        QTest::newRow("jpeg to jpeg") << ".jpg" << ".jpg" << int(PLMCodecJPEG) << "utf8";
        QTest::newRow("jpeg to jpeg, Latin-1 IPTC") << ".jpg" << ".jpg" << int(PLMCodecJPEG) << "latin1";
        QTest::newRow("jpeg to tiff") << ".jpg" << ".tif" << int(PLMCodecTIFF) << "utf8";
        QTest::newRow("tiff to jpeg") << ".tif" << ".jpeg" << int(PLMCodecJPEG) << "utf8";
    }

    void keepMetadata()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(int, id);
        QFETCH(QString, charset);
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '-');
        QVERIFY(QDir().mkpath(Path(tag)));
        const QString photo = Path(tag + "/photo" + from);
        QVERIFY(Run("convert", {"-size", "64x48", "gradient:orange-navy", photo}));
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-Make=Acme", "-Model=Lens 5",
                                 "-DateTimeOriginal=2021:02:03 04:05:06", "-Keywords=sea;salt",
                                 "-XMP-dc:Title=" + kTitle, (from == ".tif" ? "-ImageDescription=" : "-Comment=") + kComment,
                                 photo}));
        // An IPTC keyword in UTF-8 or Latin-1 without the character set marker: the target has it
        // in UTF-8, marked.
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-E", "-charset", "iptc=" + charset, "-Keywords+=Gr&uuml;&szlig;e",
                                 "-icc_profile<=" + Path("adobe.icc"), photo}));
        const QString commentTag = to == ".tif" ? "ImageDescription" : "Comment";
        for (const bool keep : {true, false}) {
            const QStringList targets = Convert(photo, Path(tag + (keep ? "/kept" : "/dropped")), to, PLMImageCodecID(id), keep);
            QCOMPARE(targets.size(), 1);
            QByteArray icc;   // kept either way: dropping it would change the colours
            QVERIFY(Run("exiftool", {"-b", "-ICC_Profile", targets.first()}, &icc) && icc == profile);
            const QJsonObject tags = ExifTool(targets.first(), {"Make", "Model", "DateTimeOriginal", "Keywords", "XMP:Title",
                                                                "Comment", "ImageDescription"});
            const QList<QPair<QString, QVariant>> expected = {
                {"Make", "Acme"}, {"Model", "Lens 5"}, {"DateTimeOriginal", "2021:02:03 04:05:06"},
                {"Keywords", QStringList{"sea;salt", QString::fromUtf8("Grüße")}}, {"Title", kTitle}, {commentTag, kComment}};
            for (const auto& entry : expected) {
                QCOMPARE(tags.contains(entry.first), keep);
                if (keep)
                    QCOMPARE(tags.value(entry.first).toVariant(), entry.second);
            }
            QCOMPARE(QImageReader(targets.first()).imageCount(), 1);
        }
    }

    // JPEG and WebP quality trade size for fidelity, 0 included; WebP above 100 is lossless, 100 is
    // not. PNG quality is the zlib level as in Qt's writer: 90 and above store, 0 compresses
    // hardest. TIFF compression 0 stores, anything else uses LZW.
    void qualityScales()
    {
        const QImage picture = Picture(200, 150, false);
        for (const char* format : {"jpg", "webp"}) {
            const QByteArray low = Written(picture, format, 0);
            const QByteArray high = Written(picture, format, 95);
            QVERIFY2(!low.isEmpty() && low.size() * 2 < high.size(), format);
            QVERIFY(Compare(picture, QImage::fromData(high)).mean < Compare(picture, QImage::fromData(low)).mean);
        }
        QCOMPARE(Compare(picture, QImage::fromData(Written(picture, "webp", PluginContract::LosslessQuality))).max, 0);
        QVERIFY(Compare(picture, QImage::fromData(Written(picture, "webp", 100))).max > 0);
        const QByteArray stored = Written(picture, "png", 95);
        const QByteArray fast = Written(picture, "png", 80);
        const QByteArray hardest = Written(picture, "png", 0);
        QVERIFY(stored.size() > 200 * 150 * 3 && fast.size() < stored.size() / 2 && hardest.size() < fast.size());
        QVERIFY(Save(Path("raw.tif"), Written(picture, "tif", -1, 0)) && Save(Path("lzw.tif"), Written(picture, "tif")));
        QCOMPARE(Identify(Path("raw.tif"), "%C"), QString("None"));
        QCOMPARE(Identify(Path("lzw.tif"), "%C"), QString("LZW"));
    }

    // PNG at several efforts and threads granted (the banded path): ImageMagick reads every pixel
    // back, and at the default effort a photograph takes no more room than libpng's level 6.
    void pngEffortsAndBands_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("threads");
        QTest::addColumn<bool>("alpha");
        QTest::newRow("default, one thread") << -1 << 1 << false;
        QTest::newRow("default, two threads") << -1 << 2 << false;
        QTest::newRow("default, three threads, alpha") << -1 << 3 << true;
        QTest::newRow("stored, two threads") << 95 << 2 << false;
        QTest::newRow("fast, one thread") << 80 << 1 << false;
        QTest::newRow("hardest, two threads") << 0 << 2 << true;
        QTest::newRow("large, default, two threads") << -1 << 2 << false;   // several bands
        QTest::newRow("large, stored, three threads") << 95 << 3 << true;
    }

    void pngEffortsAndBands()
    {
        QFETCH(int, quality);
        QFETCH(int, threads);
        QFETCH(bool, alpha);
        const QSize size = QByteArray(QTest::currentDataTag()).startsWith("large") ? QSize(2000, 1500) : QSize(700, 500);
        const QImage picture = Noisy(size.width(), size.height(), alpha).convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
        const QByteArray png = Written(picture, "png", quality);
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
        QVERIFY(Save(Path("bands.png"), png));
        const Difference read = Compare(picture, MagickDecode(Path("bands.png")));
        QVERIFY(read.sameSize);
        QCOMPARE(read.max, 0);
        if (quality < 0) {   // libpng through ImageMagick: zlib level 6, adaptive filters
            QVERIFY(MagickEncode(picture, alpha, {"-quality", "65"}, Path("libpng6.png")));
            const qint64 libpng = QFileInfo(Path("libpng6.png")).size();
            QVERIFY2(png.size() <= libpng, qPrintable(QString("%1 > %2").arg(png.size()).arg(libpng)));
        }
    }

    // Pictures in other layouts are written a slice of rows at a time: ImageMagick reads what
    // Qt's own conversion of the whole picture shows.
    void pngFromOtherLayouts_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("threads");
        for (const int threads : {1, 3}) {
            const QByteArray suffix = threads == 1 ? ", one thread" : ", three threads";
            QTest::newRow("premultiplied" + suffix) << int(QImage::Format_ARGB32_Premultiplied) << threads;
            QTest::newRow("rgb888" + suffix) << int(QImage::Format_RGB888) << threads;
            QTest::newRow("indexed with transparency" + suffix) << int(QImage::Format_Indexed8) << threads;
            QTest::newRow("mono" + suffix) << int(QImage::Format_Mono) << threads;
            QTest::newRow("rgba8888" + suffix) << int(QImage::Format_RGBA8888) << threads;
        }
    }

    void pngFromOtherLayouts()
    {
        QFETCH(int, format);
        QFETCH(int, threads);
        QImage picture = Noisy(900, 700, true).convertToFormat(QImage::Format(format));
        if (picture.format() == QImage::Format_Indexed8)
            picture.setColor(0, qRgba(0, 0, 0, 0));
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
        const QByteArray png = Written(picture, "png");
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
        QVERIFY(Save(Path("layout.png"), png));
        const Difference read = Compare(picture.convertToFormat(QImage::Format_ARGB32), MagickDecode(Path("layout.png")));
        QVERIFY(read.sameSize);
        QCOMPARE(read.max, 0);
    }

    // A device that takes no more bytes fails the write, wherever it stops (a negative limit
    // counts back from the whole file's size).
    void pngWriteFails_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("threads");
        QTest::newRow("nothing taken") << qint64(0) << 1;
        QTest::newRow("inside the header") << qint64(40) << 2;
        QTest::newRow("inside the first band") << qint64(100000) << 1;
        QTest::newRow("in the last band") << qint64(-1000) << 2;
    }

    void pngWriteFails()
    {
        QFETCH(qint64, limit);
        QFETCH(int, threads);
        class Refusing : public QIODevice
        {
        public:
            explicit Refusing(qint64 bytes) : left(bytes) { open(WriteOnly); }
            qint64 readData(char*, qint64) override { return -1; }
            qint64 writeData(const char*, qint64 length) override
            {
                if (length > left)
                    return -1;
                left -= length;
                return length;
            }
            qint64 left;
        };
        const QImage picture = Noisy(1500, 1100, false).convertToFormat(QImage::Format_RGB32);
        Refusing device(limit >= 0 ? limit : Written(picture, "png").size() + limit);
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
        QImageWriter writer(&device, "png");
        const bool written = writer.write(picture);
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
        QVERIFY(!written);
    }

    // 16-bit pictures stay 16-bit in PNG and TIFF to the last bit, grey one channel; others take 8 bits.
    void deepAndGrey()
    {
        QImage deep(64, 32, QImage::Format_RGBA64);
        QImage grey(64, 32, QImage::Format_Grayscale16);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                deep.setPixelColor(x, y, QColor(QRgba64::fromRgba64(quint16(x * 1021 + 3), quint16(y * 2039 + 1),
                                                                    quint16(x * y * 17), quint16(65535 - x * 7))));
                reinterpret_cast<quint16*>(grey.scanLine(y))[x] = quint16(x * 1000 + y + 1);
            }
        for (const QString& name : {QStringLiteral("deep.png"), QStringLiteral("deep.tif")}) {
            QVERIFY(QImageWriter(Path(name)).write(deep));
            QCOMPARE(Identify(Path(name), "%z"), QString("16"));
            QCOMPARE(QImageReader(Path(name)).read(), deep);
            QVERIFY(QImageWriter(Path("grey-" + name)).write(grey));
            QCOMPARE(Identify(Path("grey-" + name), "%z %[channels]").left(7), QString("16 gray"));
            QCOMPARE(QImageReader(Path("grey-" + name)).read(), grey);
        }
        QVERIFY(QImageWriter(Path("deep.jpg")).write(deep));
        QCOMPARE(Identify(Path("deep.jpg"), "%z"), QString("8"));
    }

    // Pixels ImageMagick reads exactly: Targa upright in every layout; at most 255 colours in GIF,
    // transparent pixels transparent.
    void exactInMagick_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QString>("spec");
        QTest::newRow("targa grey") << Picture(40, 30, false).convertToFormat(QImage::Format_Grayscale8) << "tga:x.targa";
        QTest::newRow("targa colour") << Picture(40, 30, false).convertToFormat(QImage::Format_RGB32) << "tga:x.targa";
        QTest::newRow("targa alpha") << Picture(40, 30, true) << "tga:x.targa";
        QImage few(40, 30, QImage::Format_ARGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                few.setPixel(x, y, x < 4 ? 0u : qRgb(x / 5 * 30 + 1, y / 5 * 40 + 2, (x + y) % 3 * 100));
        QTest::newRow("gif palette") << few << "gif:x.gif";
    }

    void exactInMagick()
    {
        QFETCH(QImage, picture);
        QFETCH(QString, spec);
        const QString path = Path(spec.mid(spec.indexOf(':') + 1));
        QVERIFY(QImageWriter(path).write(picture));
        QCOMPARE(Compare(picture, MagickDecode(spec.left(spec.indexOf(':') + 1) + path)).max, 0);
    }

    void formats_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<double>("minPsnr");        // of a lossy target against the source
        QTest::addColumn<QString>("decoder");       // the format's own tool
        QTest::addColumn<QStringList>("encoder");   // tool and options; lossless ones read the PNG
        QTest::addColumn<bool>("sourceExif");       // a source's Exif reaches the JPEG
        QTest::newRow("heic") << ".heic" << int(PLMCodecHEIF) << false << 35.0 << "heif-convert"
                              << QStringList{"heif-enc", "-q", "80", "-o"} << true;
        QTest::newRow("avif") << ".avif" << int(PLMCodecAVIF) << false << 34.0 << "avifdec"
                              << QStringList{"avifenc", "-s", "8"} << false;
        QTest::newRow("avif lossless") << ".avif" << int(PLMCodecAVIF) << true << 0.0 << "avifdec"
                                       << QStringList{"avifenc", "-l", "-s", "8"} << false;
        QTest::newRow("jxl") << ".jxl" << int(PLMCodecJXL) << false << 34.0 << "djxl"
                             << QStringList{"cjxl", "-q", "80"} << false;
        QTest::newRow("jxl lossless") << ".jxl" << int(PLMCodecJXL) << true << 0.0 << "djxl"
                                      << QStringList{"cjxl", "-d", "0"} << false;
    }

    // JPEG to the format: its own decoder reads the source (exactly when lossless), Exif kept. The
    // format's own encoder's file (Exif carried where it can) to JPEG: the picture its decoder reads.
    void formats()
    {
        QFETCH(QString, extension);
        QFETCH(int, id);
        QFETCH(bool, lossless);
        QFETCH(double, minPsnr);
        QFETCH(QString, decoder);
        QFETCH(QStringList, encoder);
        QFETCH(bool, sourceExif);
        const QStringList targets = Convert(boxPhoto, BoxPath("-to"), extension, PLMImageCodecID(id), true, [lossless](ConvertSettings& s) {
            s.HEIFCmpsnQuality = s.AVIFCmpsnQuality = s.JXLCmpsnQuality = 80;
            s.AVIFLlCmpsn = s.JXLLlCmpsn = lossless;
        });
        QCOMPARE(targets.size(), 1);
        const double psnr = Psnr(boxReference, OracleDecode(decoder, targets.first()));
        QVERIFY2(lossless ? std::isinf(psnr) : psnr >= minPsnr, qPrintable(QString::number(psnr)));
        const QJsonObject tags = ExifTool(targets.first(), {"Make", "DateTimeOriginal"});
        QCOMPARE(tags.value("Make").toString(), QStringLiteral("Acme"));
        QCOMPARE(tags.value("DateTimeOriginal").toString(), QStringLiteral("2021:02:03 04:05:06"));
        const QString source = BoxPath("-made") + extension;
        QStringList arguments = encoder.mid(1);
        arguments << (arguments.endsWith("-o") ? QStringList{source, lossless ? boxPng : boxPhoto}
                                               : QStringList{lossless ? boxPng : boxPhoto, source});
        QVERIFY(Run(encoder.first(), arguments));
        const QImage original = OracleDecode(decoder, source);
        const QStringList jpegs = Convert(source, BoxPath("-jpeg"), ".jpg", PLMCodecJPEG, true);
        QCOMPARE(jpegs.size(), 1);
        const double back = Psnr(original, MagickDecode(jpegs.first()));
        QVERIFY2(back >= kJpegPsnr, qPrintable(QString::number(back)));
        if (sourceExif)
            QCOMPARE(ExifTool(jpegs.first(), {"Make"}).value("Make").toString(), QStringLiteral("Acme"));
    }

    // Every image of a HEIF file is a page; a turned HEIC comes out as its transform shows it,
    // whatever its Exif orientation says.
    void heifPagesAndOrientation()
    {
        const QString burst = BoxPath("burst.heif");
        QVERIFY(boxReference.scaled(kBoxWidth / 2, kBoxHeight / 2).save(BoxPath("small.png")));
        QVERIFY(Run("heif-enc", {"-o", burst, boxPng, BoxPath("small.png")}));
        const QStringList pages = Convert(burst, BoxPath("pages"), ".png", PLMCodecPNG, true);
        QCOMPARE(pages.size(), 2);
        QVERIFY(pages.at(1).endsWith("burst-page2.png"));
        QCOMPARE(QImage(pages.at(0)).size(), QSize(kBoxWidth, kBoxHeight));
        QCOMPARE(QImage(pages.at(1)).size(), QSize(kBoxWidth / 2, kBoxHeight / 2));
        const QString turned = BoxPath("turned.heic");
        QVERIFY(WriteTurnedHeic(boxReference, turned));
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-n", "-Orientation=6", turned}));
        const QImage shown = OracleDecode("heif-convert", turned);
        const double turnedPsnr = Psnr(shown, boxReference.transformed(QTransform().rotate(90)));
        QVERIFY2(turnedPsnr > 35, qPrintable(QString::number(turnedPsnr)));
        const QStringList jpeg = Convert(turned, BoxPath("upright"), ".jpg", PLMCodecJPEG, true);
        QCOMPARE(jpeg.size(), 1);
        const double jpegPsnr = Psnr(shown, MagickDecode(jpeg.first()));
        QVERIFY2(jpegPsnr > kJpegPsnr, qPrintable(QString::number(jpegPsnr)));
        QCOMPARE(ExifTool(jpeg.first(), {"Orientation"}, {"-n"}).value("Orientation").toInt(1), 1);
    }
};

KORVANE_TEST_MAIN(TestFiEngine)
#include "tst_fiengine.moc"
