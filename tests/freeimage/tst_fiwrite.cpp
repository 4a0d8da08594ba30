// Writer options and layouts of the FreeImage plugin that the engine test
// does not reach: several icon sizes through one writer, the quality and
// compression scales, 16-bit and greyscale targets, exact GIF palettes.
#include "fifixtures.h"
#include "testsupport.h"

#include "graphics/plugincontract.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QThread>

using namespace FiFixtures;

namespace {

// The picture with per-pixel noise, which compresses as a photograph does.
QImage Noisy(int width, int height, bool alpha)
{
    QImage image = Picture(width, height, alpha);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(random.bounded(9)) - 4;
            const QRgb p = line[x];
            line[x] = qRgba(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) - n, 255), qBound(0, qBlue(p) + n / 2, 255),
                            qAlpha(p));
        }
    }
    return image;
}

QByteArray Written(const QImage& image, const QByteArray& format, int quality = -1, int compression = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setCompression(compression);
    return writer.write(image) ? bytes : QByteArray();
}

} // namespace

class TestFiWrite : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        SwitchPluginOn();
        FI_REQUIRE_TOOLS(QStringLiteral("convert"), QStringLiteral("identify"), QStringLiteral("icotool"));
        QVERIFY(dir.isValid());
    }

    // Every write on one writer adds a size to the same icon file; a picture
    // too large for an icon fails without spoiling what was written.
    void iconSizesThroughOneWriter()
    {
        const QString path = Path(QStringLiteral("sizes.ico"));
        const QImage picture = Picture(256, 256, true);
        {
            QImageWriter writer(path);
            for (const int side : {256, 48, 16})
                QVERIFY(writer.write(picture.scaled(side, side)));
            QVERIFY(!writer.write(Picture(300, 300, false)));
        }
        QByteArray list;
        QVERIFY(Run(QStringLiteral("icotool"), {QStringLiteral("-l"), path}, &list));
        QCOMPARE(list.count("--icon"), 3);
        QImageReader reader(path);
        QCOMPARE(reader.imageCount(), 3);
        for (const int side : {256, 48, 16}) {
            const QImage read = reader.read();
            QCOMPARE(read.size(), QSize(side, side));
            QCOMPARE(Compare(picture.scaled(side, side), read).max, 0);
        }
    }

    // JPEG and WebP quality trade size for fidelity, 0 included; WebP above
    // 100 is lossless, 100 itself is not. PNG quality is the zlib level as in
    // Qt's writer: 90 and above store, 0 compresses hardest.
    void qualityScales()
    {
        const QImage picture = Picture(200, 150, false);
        for (const char* format : {"jpg", "webp"}) {
            const QByteArray low = Written(picture, format, 0);
            const QByteArray high = Written(picture, format, 95);
            QVERIFY(!low.isEmpty() && !high.isEmpty());
            QVERIFY2(low.size() * 2 < high.size(), format);
            const Difference lowDifference = Compare(picture, QImage::fromData(low));
            const Difference highDifference = Compare(picture, QImage::fromData(high));
            QVERIFY(highDifference.mean < lowDifference.mean);
        }
        QVERIFY(Compare(picture, QImage::fromData(Written(picture, "webp", 256))).max == 0);
        QVERIFY(Compare(picture, QImage::fromData(Written(picture, "webp", 100))).max > 0);

        const QByteArray stored = Written(picture, "png", 95);
        const QByteArray fast = Written(picture, "png", 80);
        const QByteArray hardest = Written(picture, "png", 0);
        QVERIFY(stored.size() > 200 * 150 * 3);
        QVERIFY(fast.size() < stored.size() / 2);
        QVERIFY(hardest.size() < fast.size());
        for (const QByteArray& png : {stored, fast, hardest})
            QCOMPARE(Compare(picture, QImage::fromData(png)).max, 0);

        // TIFF: compression 0 stores, anything else uses LZW.
        const QString raw = Path(QStringLiteral("raw.tif"));
        const QString lzw = Path(QStringLiteral("lzw.tif"));
        QVERIFY(Save(raw, Written(picture, "tif", -1, 0)));
        QVERIFY(Save(lzw, Written(picture, "tif")));
        QCOMPARE(Identify(raw, QStringLiteral("%C")), QStringLiteral("None"));
        QCOMPARE(Identify(lzw, QStringLiteral("%C")), QStringLiteral("LZW"));
    }

    // PNG at several efforts and on several threads (the program's grant on
    // the writing thread cuts the picture into bands, one IDAT chunk each):
    // ImageMagick reads back every pixel, and at the default effort a
    // photograph takes no more room than libpng's default zlib level.
    void pngEffortsAndBands_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("threads");
        QTest::addColumn<bool>("alpha");
        QTest::newRow("default, one thread") << -1 << 1 << false;
        QTest::newRow("default, two threads") << -1 << 2 << false;
        QTest::newRow("default, three threads, alpha") << -1 << 3 << true;
        QTest::newRow("stored, two threads") << 95 << 2 << false;
        QTest::newRow("hardest, two threads") << 0 << 2 << true;
    }

    void pngEffortsAndBands()
    {
        QFETCH(int, quality);
        QFETCH(int, threads);
        QFETCH(bool, alpha);
        const QImage picture = Noisy(700, 500, alpha).convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
        const QByteArray png = Written(picture, "png", quality);
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
        const QString path = Path(QStringLiteral("bands.png"));
        QVERIFY(Save(path, png));
        QCOMPARE(Compare(picture, MagickDecode(path)).max, 0);
        QCOMPARE(png.count("IDAT"), threads);
        if (quality < 0) {
            // libpng through ImageMagick: zlib level 6, adaptive filters.
            QByteArray samples;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x) {
                    const QRgb p = picture.pixel(x, y);
                    samples += char(qRed(p));
                    samples += char(qGreen(p));
                    samples += char(qBlue(p));
                    if (alpha)
                        samples += char(qAlpha(p));
                }
            const QString raw = Path(QStringLiteral("bands.raw"));
            const QString libpng = Path(QStringLiteral("libpng6.png"));
            QVERIFY(Save(raw, samples));
            QVERIFY(Run(QStringLiteral("convert"),
                        {QStringLiteral("-size"), QStringLiteral("700x500"), QStringLiteral("-depth"), QStringLiteral("8"),
                         (alpha ? QStringLiteral("rgba:") : QStringLiteral("rgb:")) + raw, QStringLiteral("-quality"),
                         QStringLiteral("65"), libpng}));
            QVERIFY2(png.size() <= QFileInfo(libpng).size(),
                     qPrintable(QStringLiteral("%1 > %2").arg(png.size()).arg(QFileInfo(libpng).size())));
        }
    }

    // 16-bit pictures stay 16-bit in PNG and TIFF, to the last bit; greyscale
    // stays one channel; other targets take 8 bits.
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
            const QString path = Path(name);
            QVERIFY(QImageWriter(path).write(deep));
            QCOMPARE(Identify(path, QStringLiteral("%z")), QStringLiteral("16"));
            QCOMPARE(QImageReader(path).read(), deep);

            const QString greyPath = Path(QStringLiteral("grey-") + name);
            QVERIFY(QImageWriter(greyPath).write(grey));
            QCOMPARE(Identify(greyPath, QStringLiteral("%z %[channels]")).left(7), QStringLiteral("16 gray"));
            QCOMPARE(QImageReader(greyPath).read(), grey);
        }
        const QString jpeg = Path(QStringLiteral("deep.jpg"));
        QVERIFY(QImageWriter(jpeg).write(deep));
        QCOMPARE(Identify(jpeg, QStringLiteral("%z")), QStringLiteral("8"));
    }

    // Targa files read upright in ImageMagick whatever the layout the picture
    // is written in.
    void targaUpright_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("grey") << int(QImage::Format_Grayscale8);
        QTest::newRow("colour") << int(QImage::Format_RGB32);
        QTest::newRow("alpha") << int(QImage::Format_ARGB32);
    }

    void targaUpright()
    {
        QFETCH(int, format);
        const QImage picture = Picture(40, 30, format == QImage::Format_ARGB32)
                                   .convertToFormat(QImage::Format(format));
        const QString path = Path(QStringLiteral("upright.targa"));
        QVERIFY(QImageWriter(path).write(picture));
        QCOMPARE(Compare(picture, MagickDecode(QStringLiteral("tga:") + path)).max, 0);
    }

    // A picture of at most 255 colours keeps them exactly in GIF, with the
    // transparent pixels transparent.
    void exactGifPalette()
    {
        QImage picture(40, 30, QImage::Format_ARGB32);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                picture.setPixel(x, y, x < 4 ? 0u : qRgb(x / 5 * 30 + 1, y / 5 * 40 + 2, (x + y) % 3 * 100));
        const QString path = Path(QStringLiteral("palette.gif"));
        QVERIFY(QImageWriter(path).write(picture));
        QCOMPARE(Compare(picture, MagickDecode(path)).max, 0);
    }
};

KORVANE_TEST_MAIN(TestFiWrite)
#include "tst_fiwrite.moc"
