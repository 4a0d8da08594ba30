// HEIF, AVIF and JPEG XL through the real engine with the program's plugins
// in front: a JPEG with Exif to each, every target decoded by the format's
// own Debian tool and compared with the source; files made by those tools to
// JPEG; the pages and the orientation of HEIF files.
#include "fifixtures.h"
#include "imageconvertthread.h"
#include "testsupport.h"

#include <libheif/heif.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTransform>

#include <cmath>
#include <functional>

using namespace FiFixtures;

namespace {

// Odd on purpose: 4:2:0 and the codecs' block sizes must not crop or pad.
const int kWidth = 241;
const int kHeight = 163;

// A JPEG target at quality 100 against the picture it was made from: its
// 4:2:0 chroma on a picture decoded from 4:2:0 (as ImageMagick's own JPEG of
// it) stays above this.
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

// Converts with "Keep Metadata" into a fresh folder; the targets written.
QStringList Convert(const QString& source, const QString& folder, const QString& extension, PLMImageCodecID id,
                    const std::function<void(ConvertSettings&)>& options = {})
{
    QDir().mkpath(folder);
    ConvertSettings settings;
    settings.TgtFolder = folder;
    settings.TgtFormat = extension;
    settings.TgtID = id;
    settings.KeepMd = true;
    if (options)
        options(settings);
    ImageConvertData job;
    job.srcFile = source;
    job.settings = &settings;
    const ItemConvertResult result = ThreadFunction(job);
    return result.state == ConvertSucceeded ? result.tgtFiles : QStringList();
}

QJsonObject ExifTool(const QString& path)
{
    QByteArray output;
    Run(QStringLiteral("exiftool"), {"-j", "-n", "-Make", "-DateTimeOriginal", "-Orientation", path}, &output);
    return QJsonDocument::fromJson(output).array().at(0).toObject();
}

// The file as the format's own Debian tool decodes it, through a PNG.
QImage OracleDecode(const QString& tool, const QString& path)
{
    return Run(tool, {path, path + ".png"}) ? MagickDecode(path + ".png") : QImage();
}

// A HEIC made with libheif itself, stored as taken and shown turned 90
// degrees clockwise by the file's transform (irot).
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

class TestFiBoxedFormats : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString png;        // a photo-like picture, softened as a lens does
    QString photo;      // the same as a JPEG with Exif
    QImage reference;   // the JPEG as ImageMagick decodes it

    QString Path(const QString& name) const
    {
        return dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-') + name);
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        FI_REQUIRE_TOOLS("convert", "exiftool", "heif-enc", "heif-convert", "avifenc", "avifdec", "cjxl", "djxl");
        png = Path("picture.png");
        photo = Path("photo.jpg");
        QVERIFY(Picture(kWidth, kHeight, false).convertToFormat(QImage::Format_RGB888).save(png));
        QVERIFY(Run("convert", {png, "-blur", "0x1.5", png}) && Run("convert", {png, "-quality", "92", photo}));
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-Make=Acme", "-DateTimeOriginal=2021:02:03 04:05:06",
                                 photo}));
        reference = MagickDecode(photo);
        QCOMPARE(reference.size(), QSize(kWidth, kHeight));
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

    // JPEG to the format: what its own decoder reads is the source (exactly,
    // when lossless), with the Exif kept. The format's own encoder's file
    // (from the JPEG, whose Exif it carries where it can) to JPEG: the
    // picture its decoder reads.
    void formats()
    {
        QFETCH(QString, extension);
        QFETCH(int, id);
        QFETCH(bool, lossless);
        QFETCH(double, minPsnr);
        QFETCH(QString, decoder);
        QFETCH(QStringList, encoder);
        QFETCH(bool, sourceExif);

        const QStringList targets = Convert(photo, Path("-to"), extension, PLMImageCodecID(id), [lossless](ConvertSettings& s) {
            s.HEIFCmpsnQuality = s.AVIFCmpsnQuality = s.JXLCmpsnQuality = 80;
            s.AVIFLlCmpsn = s.JXLLlCmpsn = lossless;
        });
        QCOMPARE(targets.size(), 1);
        const double psnr = Psnr(reference, OracleDecode(decoder, targets.first()));
        QVERIFY2(lossless ? std::isinf(psnr) : psnr >= minPsnr, qPrintable(QString::number(psnr)));
        const QJsonObject tags = ExifTool(targets.first());
        QCOMPARE(tags.value("Make").toString(), QStringLiteral("Acme"));
        QCOMPARE(tags.value("DateTimeOriginal").toString(), QStringLiteral("2021:02:03 04:05:06"));

        const QString source = Path("-made") + extension;
        QStringList arguments = encoder.mid(1);
        arguments << (arguments.endsWith("-o") ? QStringList{source, lossless ? png : photo}
                                               : QStringList{lossless ? png : photo, source});
        QVERIFY(Run(encoder.first(), arguments));
        const QImage original = OracleDecode(decoder, source);
        const QStringList jpegs = Convert(source, Path("-jpeg"), ".jpg", PLMCodecJPEG);
        QCOMPARE(jpegs.size(), 1);
        const double back = Psnr(original, MagickDecode(jpegs.first()));
        QVERIFY2(back >= kJpegPsnr, qPrintable(QString::number(back)));
        if (sourceExif)
            QCOMPARE(ExifTool(jpegs.first()).value("Make").toString(), QStringLiteral("Acme"));
    }

    // Every image of a HEIF file is a page; a turned HEIC comes out as its
    // transform shows it, whatever its Exif orientation says.
    void heifPagesAndOrientation()
    {
        const QString burst = Path("burst.heif");
        QVERIFY(reference.scaled(kWidth / 2, kHeight / 2).save(Path("small.png")));
        QVERIFY(Run("heif-enc", {"-o", burst, png, Path("small.png")}));
        const QStringList pages = Convert(burst, Path("pages"), ".png", PLMCodecPNG);
        QCOMPARE(pages.size(), 2);
        QVERIFY(pages.at(1).endsWith("burst-page2.png"));
        QCOMPARE(QImage(pages.at(0)).size(), QSize(kWidth, kHeight));
        QCOMPARE(QImage(pages.at(1)).size(), QSize(kWidth / 2, kHeight / 2));

        const QString turned = Path("turned.heic");
        QVERIFY(WriteTurnedHeic(reference, turned));
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-n", "-Orientation=6", turned}));
        const QImage shown = OracleDecode("heif-convert", turned);
        const double turnedPsnr = Psnr(shown, reference.transformed(QTransform().rotate(90)));
        QVERIFY2(turnedPsnr > 35, qPrintable(QString::number(turnedPsnr)));
        const QStringList jpeg = Convert(turned, Path("upright"), ".jpg", PLMCodecJPEG);
        QCOMPARE(jpeg.size(), 1);
        const double jpegPsnr = Psnr(shown, MagickDecode(jpeg.first()));
        QVERIFY2(jpegPsnr > kJpegPsnr, qPrintable(QString::number(jpegPsnr)));
        QCOMPARE(ExifTool(jpeg.first()).value("Orientation").toInt(1), 1);
    }
};

KORVANE_TEST_MAIN(TestFiBoxedFormats)
#include "tst_fiboxedformats.moc"
