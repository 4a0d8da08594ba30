// Real files from other imaging projects' test suites (peer/README.md names
// each one's source): each reads as its reference shows it, and no value in
// their metadata can crash a read or a conversion that keeps it.
#include "fifixtures.h"
#include "imageconvertthread.h"
#include "testsupport.h"

#include <QDir>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QLibraryInfo>
#include <QPluginLoader>

#include <memory>

using namespace FiFixtures;

namespace {

QString Peer(const QString& name)
{
    return QStringLiteral(KORVANE_PEER_DIR "/") + name;
}

// What Debian's Qt alone reads from a file: the plugin of Qt's own folder,
// loaded by hand (the program's plugin takes its keys, so Qt never loads it).
struct QtAlone
{
    QList<QImage> frames;
    QList<int> delays;
    int loops = 0;
    int transformation = 0;   // of the first frame
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

// An animated GIF coded with 10-bit LZW codes (minimum code size 9), which
// Qt reads and FreeImage refuses: three frames on a 16 x 12 screen, each a
// block drawn over the ones before, 30 ms apart, repeated twice.
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
        // A literal per pixel, a clear code (512) every 200 so that the codes
        // stay 10 bits wide, then the end code (513).
        QByteArray data;
        quint32 bits = 0;
        int count = 0;
        const auto put = [&](int code) {
            bits |= quint32(code) << count;
            for (count += 10; count >= 8; count -= 8, bits >>= 8)
                data.append(char(bits & 0xFF));
        };
        for (int i = 0; i < 7 * 5; ++i) {
            if (i % 200 == 0)
                put(512);
            put((frame * 80 + i * 3) & 0xFF);
        }
        put(513);
        if (count > 0)
            data.append(char(bits & 0xFF));
        for (int at = 0; at < data.size(); at += 255)
            gif.append(char(qMin(255, data.size() - at))).append(data.mid(at, 255));
        gif.append('\0');
    }
    return gif.append(';');
}

// A Radiance picture stored bottom row first ("+Y"), which FreeImage refuses
// and kimageformats reads: 7 x 5 uncompressed RGBE pixels.
QByteArray UpwardHdr()
{
    QByteArray hdr("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+Y 5 +X 7\n");
    for (int i = 0; i < 7 * 5; ++i)
        hdr.append(char(i * 7)).append(char(250 - i * 5)).append(char(i * 3 + 20)).append(char(128));
    return hdr;
}

// Where the Exif orientation (1 to 8) puts a stored pixel when the picture is
// shown upright.
QImage Upright(const QImage& stored, int orientation)
{
    const int w = stored.width();
    const int h = stored.height();
    QImage shown(orientation >= 5 ? h : w, orientation >= 5 ? w : h, stored.format());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QPoint at[] = {{x, y},         {w - 1 - x, y},         {w - 1 - x, h - 1 - y}, {x, h - 1 - y},
                                 {y, x},         {h - 1 - y, x},         {h - 1 - y, w - 1 - x}, {y, w - 1 - x}};
            shown.setPixel(at[orientation - 1], stored.pixel(x, y));
        }
    }
    return shown;
}

} // namespace

class TestFiPeerFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    int cases = 0;

private slots:
    void initTestCase()
    {
        SwitchPluginOn();
        QVERIFY(dir.isValid());
    }

    // Read as the program reads a source (orientation applied), each file
    // equals its reference: a picture another decoder made of it, compared
    // as premultiplied ARGB within a mean absolute difference per channel.
    void readsAsItsReference_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<double>("tolerance");
        // Rows: file in peer/, reference in peer/, tolerance.
        QTest::newRow("tiff orientation 3") << "rgb_orientation_3.tiff" << "rgb_orientation_1.png" << 0.0;
        QTest::newRow("tiff orientation 6") << "rgb_orientation_6.tiff" << "rgb_orientation_1.png" << 0.0;
        QTest::newRow("tiff associated alpha")
            << "rgba_adobedeflate_littleendian.tif" << "rgba_adobedeflate_littleendian.png" << 0.0;
        QTest::newRow("tiff grey, no alpha") << "8bit.s.tif" << "8bit.s.png" << 0.0;
        QTest::newRow("tiff cmyk, tiled jpeg") << "tiff_tiled_cmyk_jpeg.tif" << "pil_sample_cmyk.png" << 0.5;
        QTest::newRow("bigtiff 16-bit") << "big_16bpc.tiff" << "big_16bpc.png" << 0.0;
        QTest::newRow("tiff 2-bit grey") << "hopper2.tif" << "hopper2.png" << 0.0;
        QTest::newRow("tiff 12-bit grey") << "12bit.cropped.tif" << "12bit.cropped.png" << 0.0;
        QTest::newRow("tiff tiled planar 16-bit associated alpha")
            << "tiff_tiled_planar_16bit_RGBa.tiff" << "tiff_16bit_RGBa_target.png" << 0.5;
        QTest::newRow("gif, lzw code size 11") << "gif_lzw_code_size_11.gif" << "gif_lzw_code_size_11.png" << 0.0;
        QTest::newRow("webp animation, first frame") << "webp_animated.webp" << "webp_animated.png" << 0.0;
        QTest::newRow("dds luminance and alpha") << "uncompressed_la.dds" << "uncompressed_la.png" << 0.0;
        QTest::newRow("dds 8-bit palette") << "palette.dds" << "palette.png" << 0.0;
        QTest::newRow("dds A4R4G4B4") << "A4R4G4B4.dds" << "A4R4G4B4.png" << 0.0;
        QTest::newRow("dds A1R5G5B5") << "A1R5G5B5.dds" << "A1R5G5B5.png" << 0.0;
        QTest::newRow("dds dx10 R8G8B8A8 sRGB")
            << "DXGI_FORMAT_R8G8B8A8_UNORM_SRGB.dds" << "DXGI_FORMAT_R8G8B8A8_UNORM_SRGB.png" << 0.0;
        QTest::newRow("dds bc4 (ati1)") << "ati1.dds" << "ati1.png" << 0.0;
        QTest::newRow("dds dxt1, 50 x 50") << "DXT1.dds" << "DXT1.png" << 0.0;
        QTest::newRow("dds dxt5, colour end points in dxt1's 3-colour order")
            << "dxt5-colorblock-alpha-issue-4142.dds" << "dxt5-colorblock-alpha-issue-4142.png" << 0.0;
        QTest::newRow("png 1-bit grey, tRNS value out of range") << "1_trns.png" << "1_trns_qt.png" << 0.0;
    }

    void readsAsItsReference()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(double, tolerance);
        QImageReader reader(Peer(file));
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        const QImage expected(Peer(reference));
        QVERIFY(!expected.isNull());
        const Difference difference = Compare(image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                                              expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        QVERIFY2(difference.sameSize, qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
        QVERIFY2(difference.mean <= tolerance, qPrintable(QString::number(difference.mean)));
    }

    // The picture keeps what the file stores (tiffinfo's samples per pixel,
    // extra samples and bits): no alpha where there is none, 16 bits kept.
    void keepsItsSamples_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<int>("bits");
        QTest::newRow("8-bit grey") << "8bit.s.tif" << true << false << 8;
        QTest::newRow("12-bit grey") << "12bit.cropped.tif" << true << false << 16;
        QTest::newRow("16-bit rgb") << "big_16bpc.tiff" << false << false << 16;
        QTest::newRow("16-bit rgb, alpha") << "tiff_tiled_planar_16bit_RGBa.tiff" << false << true << 16;
        QTest::newRow("8-bit rgb, alpha") << "rgba_adobedeflate_littleendian.tif" << false << true << 8;
    }

    void keepsItsSamples()
    {
        QFETCH(QString, file);
        QFETCH(bool, grey);
        QFETCH(bool, alpha);
        QFETCH(int, bits);
        const QImage image(Peer(file));
        QVERIFY(!image.isNull());
        const QPixelFormat format = image.pixelFormat();
        QCOMPARE(format.colorModel() == QPixelFormat::Grayscale, grey);
        QCOMPARE(image.hasAlphaChannel(), alpha);
        QCOMPARE(grey ? int(format.bitsPerPixel()) : int(format.redSize()), bits);
    }

    // Every page reads at the size tiffinfo gives it; a damaged file fails
    // the read without taking the process along.
    void pages_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::newRow("tiff, three pages") << "multipage.tiff" << QList<QSize>{{10, 10}, {10, 10}, {20, 20}};
        QTest::newRow("tiff, damaged") << "libtiff_segfault.tif" << QList<QSize>();
    }

    void pages()
    {
        QFETCH(QString, file);
        QFETCH(QList<QSize>, sizes);
        QImageReader reader(Peer(file));
        QImage image;
        if (sizes.isEmpty()) {
            QVERIFY(!reader.read(&image));
            return;
        }
        QCOMPARE(reader.imageCount(), sizes.size());
        for (int page = 0; page < sizes.size(); ++page) {
            QVERIFY(reader.jumpToImage(page));
            QCOMPARE(reader.size(), sizes.at(page));
            QVERIFY2(reader.read(&image), qPrintable(reader.errorString()));
            QCOMPARE(image.size(), sizes.at(page));
        }
    }

    // Files of the keys the plugin shares with Qt's own plugins read, frame
    // by frame, as Debian's Qt alone reads them: those ours decodes, and
    // those only Qt's plugin reads (made here; the Softimage picture by
    // kimageformats' own writer).
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

        // Page by page as the conversion engine reads, then one page again.
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

    // A photograph or scan turns upright as Debian's Qt turns it: the Exif
    // orientation of a JPEG (Intel byte order for odd orientations, Motorola
    // for even ones), the Orientation tag of a TIFF, both set by exiftool; a
    // damaged Exif block turns nothing.
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
        const QString path = dir.filePath(QStringLiteral("turned%1.%2").arg(++cases).arg(suffix));
        QImageWriter writer(path);
        writer.setQuality(100);
        QVERIFY(writer.write(Picture(48, 32, false)));
        QString error;
        const QString order = orientation % 2 ? QStringLiteral("II") : QStringLiteral("MM");
        QVERIFY2(Run(QStringLiteral("exiftool"), {QStringLiteral("-ExifByteOrder=") + order,
                                                   QStringLiteral("-Orientation#=%1").arg(orientation),
                                                   QStringLiteral("-overwrite_original"), path}, nullptr, &error),
                 qPrintable(error));
        if (damaged) {
            // The first IFD's offset, right after the TIFF header's byte order and 42.
            QByteArray bytes = Load(path);
            const int tiff = bytes.indexOf(QByteArray("Exif\0\0", 6)) + 6;
            QVERIFY(tiff > 6);
            bytes.replace(tiff + 4, 4, QByteArray(4, '\x7F'));
            QVERIFY(Save(path, bytes));
        }
        const QtAlone qt = ReadAsQtAlone(path, suffix == "jpg" ? "libqjpeg.so" : "libqtiff.so", suffix.toLatin1());
        QCOMPARE(qt.transformation != 0, orientation > 1 && !damaged);

        QImageReader stored(path);
        const QImage picture = stored.read();
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        QVERIFY(!picture.isNull() && !image.isNull());
        QCOMPARE(int(reader.transformation()), qt.transformation);
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32),
                 Upright(picture.convertToFormat(QImage::Format_RGB32), damaged ? 1 : orientation));
    }

    // A writer's transformation turns the pixels, since no target format
    // stores one.
    void writerTurnsThePixels()
    {
        const QString path = dir.filePath(QStringLiteral("turned.png"));
        const QImage picture = Picture(24, 16, false).convertToFormat(QImage::Format_RGB32);
        QImageWriter writer(path);
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(picture));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), Upright(picture, 6));
    }

    // Reading the size and the text asks the metadata; a conversion that
    // keeps it writes it again.
    void metadataIsSafe_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("key");
        QTest::newRow("signed rational 0x7fffffff/0x80000000") << "exif_gps.jpg" << "FIM02ExposureBiasValue";
        QTest::newRow("Exif cut short") << "truncated_exif_dpi.jpg" << "FIM11ExifRaw";
    }

    void metadataIsSafe()
    {
        QFETCH(QString, file);
        QFETCH(QString, key);
        QImageReader reader(Peer(file));
        QVERIFY(reader.size().isValid());
        QVERIFY2(reader.textKeys().contains(key), qPrintable(reader.textKeys().join(QLatin1Char(' '))));

        const QString folder = dir.filePath(QString::number(++cases));
        QVERIFY(QDir().mkpath(folder));
        ConvertSettings settings;
        settings.TgtFolder = folder;
        settings.TgtFormat = QStringLiteral(".jpg");
        settings.TgtID = PLMCodecJPEG;
        settings.KeepMd = true;
        ImageConvertData job;
        job.srcFile = Peer(file);
        job.settings = &settings;
        const ItemConvertResult result = ThreadFunction(job);
        QCOMPARE(result.state, ConvertSucceeded);
        QCOMPARE(QImage(result.tgtFiles.value(0)).size(), reader.size());
    }
};

KORVANE_TEST_MAIN(TestFiPeerFiles)
#include "tst_fipeerfiles.moc"
