// The drumlet plugin loaded from the program's plugin folder, through QImageReader and the
// converter's worker; CTest runs pluginSwitch again with DRUMLET_TEST_SWITCH absent/false.
#include "imageconvertthread.h"
#include "ithmbfixtures.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"

#include <QImageReader>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QSettings>

using namespace Ithmb;

Q_DECLARE_METATYPE(QList<QImage>)

class TestDrumletReader : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray jpegA, jpegB;
    const QByteArray mode = qgetenv("DRUMLET_TEST_SWITCH");

    QString Write(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
        if (mode == "false")
            settings.setValue(QStringLiteral("Ithmb"), false);
        else if (mode == "absent")
            settings.remove(QStringLiteral("Ithmb"));
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(dir.isValid());   // Qt creates the plugins, which read the switch, at the first image:
        jpegA = Jpeg(40, 24, QColor(200, 30, 30), QStringLiteral("Ann")), jpegB = Jpeg(16, 48, QColor(20, 40, 220), QStringLiteral("Bert"));
    }

    // On, the plugin reads two 32 x 32 frames; off (absent or false) it claims nothing.
    void pluginSwitch()
    {
        QPluginLoader loader(QCoreApplication::applicationDirPath() + QStringLiteral("/imageformats/libdrumlet.so"));
        QImageIOPlugin* plugin = qobject_cast<QImageIOPlugin*>(loader.instance());
        QVERIFY2(plugin, qPrintable(loader.errorString()));
        const int on = mode.isEmpty() ? int(QImageIOPlugin::CanRead) : 0;
        QByteArray bytes = Noise(4096, 1);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(int(plugin->capabilities(nullptr, "ithmb")) + 2 * int(plugin->capabilities(&buffer, "ithmb")), 3 * on);
        QCOMPARE(std::unique_ptr<QImageIOHandler>(plugin->create(&buffer, "ithmb")) != nullptr, bool(on));
        QImageReader reader(Write(QStringLiteral("frames.ithmb"), bytes));
        QCOMPARE(reader.canRead(), bool(on));
        QCOMPARE(reader.read().size(), on ? QSize(32, 32) : QSize(0, 0));
    }

    // Embedded JPEGs: a marker without the JFIF tag in a header or between
    // pictures neither starts nor ends one; the byte range the raw copy is
    // told; stepping through them; a picture cut after its JFIF segment fails alone.
    void jpegStream()
    {
        const QByteArray fake = QByteArrayLiteral("\xFF\xD8\xFF\xE0\x00\x10JFIX\x00");
        const QByteArray header = QByteArrayLiteral("ITHMB-HEADER") + fake + Noise(50, 1);
        const QByteArray between = fake + Noise(30, 2);
        QImageReader reader(Write(QStringLiteral("headed.ithmb"), header + jpegA + between + jpegB));
        QVERIFY(!reader.size().isValid());   // nothing counted yet
        QCOMPARE(reader.imageCount(), 2);
        QCOMPARE(reader.size(), PluginContract::EmbeddedJpegSpan(header.size(), jpegA.size() + between.size()));
        QVERIFY(reader.textKeys().isEmpty());   // nothing decoded yet
        const QImage first = reader.read();
        QCOMPARE(first.size(), QSize(40, 24));
        QVERIFY(qAbs(QColor(first.pixel(20, 12)).red() - 200) < 8);
        QCOMPARE(reader.text(QStringLiteral("Author")), QStringLiteral("Ann"));
        QCOMPARE(reader.currentImageNumber(), 1);
        QCOMPARE(reader.size(), PluginContract::EmbeddedJpegSpan(header.size() + jpegA.size() + between.size(), jpegB.size()));
        const QImage second = reader.read();
        QCOMPARE(second.size(), QSize(16, 48));
        QVERIFY(qAbs(QColor(second.pixel(8, 24)).blue() - 220) < 8);
        QCOMPARE(reader.currentImageNumber(), -1);   // past the last frame reads fail until a jump back
        QVERIFY(reader.read().isNull());
        QVERIFY(reader.jumpToImage(0));
        QCOMPARE(reader.read().size(), QSize(40, 24));
        QVERIFY(!reader.jumpToImage(-1) && !reader.jumpToImage(2));
        QCOMPARE(reader.currentImageNumber(), 1);
        QImageReader cut(Write(QStringLiteral("cut.ithmb"), jpegA + jpegB.left(20)));
        QCOMPARE(cut.imageCount(), 2);
        QVERIFY(!cut.read().isNull() && cut.read().isNull());
    }

    // Raw frames: geometry from the file size, pixels from the layouts, the contrast stretch.
    void rawFrames_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<QImage>>("frames");
        const auto frame = [](int w, int h, const QByteArray& pixels, QRgb (*expect)(const QByteArray&, int)) {
            return Frame(w, h, [&](int x, int y) { return expect(pixels, y * w + x); });
        };
        // 307200 bytes: one 320 x 240 frame of 32-bit pixels (not two 16-bit ones).
        const QByteArray rgbx = StretchNeutral(320 * 240, 4, 3);
        QTest::newRow("rgbx") << rgbx << QList<QImage>{frame(320, 240, rgbx, ExpectRgbx)};
        // 4096 bytes: two 32 x 32 frames of big-endian 5-6-5 words.
        const QByteArray a565 = StretchNeutral(1024, 2, 4), b565 = StretchNeutral(1024, 2, 5);
        QTest::newRow("rgb565") << a565 + b565 << QList<QImage>{frame(32, 32, a565, ExpectRgb565), frame(32, 32, b565, ExpectRgb565)};
        // 1343200 bytes: two 640 x 480 frames of little-endian words 18800 bytes into 671600.
        const QByteArray a16 = StretchNeutral(640 * 480, 2, 6), b16 = StretchNeutral(640 * 480, 2, 7);
        const QByteArray gap = Noise(671600 - 18800 - a16.size(), 8);
        QTest::newRow("rgb16 little-endian") << Noise(18800, 9) + a16 + gap + Noise(18800, 10) + b16 + gap
                                             << QList<QImage>{frame(640, 480, a16, ExpectRgb16Le), frame(640, 480, b16, ExpectRgb16Le)};
        // 691200 bytes: one 720 x 480 interlaced YUV frame, not stretched.
        QTest::newRow("yuv interlaced") << YuvFrame(720, 480) << QList<QImage>{Frame(720, 480, ExpectYuv)};
        QTest::newRow("no frame size") << Noise(1000, 11) << QList<QImage>();
        // Red: 1152 pixels (1.5 %) at 5, 2000 at 40, 1000 at 145, then 200,
        // the last 1920 (2.5 %) at 250: bounds 40 and 250, so 5 and 40 -> 0,
        // 145 -> 128, 200 -> 194, 250 -> 255. Constant green 77 and blue 0 stay.
        const int n = 320 * 240;
        QByteArray stretch(n * 4, '\0');
        for (int k = 0; k < n; ++k) {
            stretch[4 * k] = char(k < 1152 ? 5 : k < 3152 ? 40 : k < 4152 ? 145 : k < n - 1920 ? 200 : 250);
            stretch[4 * k + 1] = char(77);
        }
        QTest::newRow("contrast stretch") << stretch << QList<QImage>{Frame(320, 240, [n](int x, int y) {
            const int k = y * 320 + x;
            return qRgb(k < 3152 ? 0 : k < 4152 ? 128 : k < n - 1920 ? 194 : 255, 77, 0);
        })};
        // A uniform frame keeps its colour; 16-bit words 0xFFFF have red 251.
        QTest::newRow("uniform 16-bit") << QByteArray(12640, '\xFF')
                                        << QList<QImage>{Frame(80, 79, [](int, int) { return qRgb(251, 255, 255); })};
    }

    void rawFrames()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<QImage>, frames);
        QImageReader reader(Write(QStringLiteral("raw.ithmb"), file));
        QCOMPARE(reader.imageCount(), frames.size());
        for (const QImage& frame : frames)
            QVERIFY(reader.read().convertToFormat(QImage::Format_RGB32) == frame);
        QVERIFY(reader.read().isNull());
    }

    // The converter's worker: a JPEG target with metadata kept copies the
    // pictures byte for byte, any other decodes them, each with the file's
    // metadata; a page that fails ends the job, named, the pages before it written.
    void rawCopyOrDecode()
    {
        ConvertSettings settings;
        settings.TgtFolder = dir.path();
        settings.KeepMd = true;
        settings.TgtFormat = QStringLiteral(".jpg"), settings.TgtID = PLMCodecJPEG;
        ImageConvertData job;
        job.srcFile = Write(QStringLiteral("thumbs.ithmb"), jpegA + jpegB);
        job.settings = &settings;
        const ItemConvertResult copied = ThreadFunction(job);
        QCOMPARE(int(copied.state), int(ConvertSucceeded));
        QCOMPARE(copied.tgtFiles, QStringList({dir.filePath(QStringLiteral("thumbs-page1.jpg")), dir.filePath(QStringLiteral("thumbs-page2.jpg"))}));
        QFile a(copied.tgtFiles.at(0)), b(copied.tgtFiles.at(1));
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QCOMPARE(a.readAll() + b.readAll(), jpegA + jpegB);
        settings.TgtFormat = QStringLiteral(".png"), settings.TgtID = PLMCodecPNG;
        const ItemConvertResult decoded = ThreadFunction(job);
        QCOMPARE(int(decoded.state), int(ConvertSucceeded));
        QCOMPARE(decoded.tgtFiles.size(), 2);
        QImageReader first(decoded.tgtFiles.at(0)), second(decoded.tgtFiles.at(1));
        QCOMPARE(first.format() + ' ' + second.format(), QByteArray("png png"));
        QCOMPARE(QList<QSize>({first.size(), second.size()}), QList<QSize>({QSize(40, 24), QSize(16, 48)}));
        QCOMPARE(second.text(QStringLiteral("Author")), QStringLiteral("Ann"));
        job.srcFile = Write(QStringLiteral("cut.ithmb"), jpegA + jpegB.left(20));
        const ItemConvertResult cut = ThreadFunction(job);
        QCOMPARE(int(cut.state), int(ConvertFailed));
        QVERIFY2(cut.error.startsWith(QStringLiteral("Page 2: ")), qPrintable(cut.error));
        QCOMPARE(cut.tgtFiles, QStringList(dir.filePath(QStringLiteral("cut-page1.png"))));
    }
};

KORVANE_TEST_MAIN(TestDrumletReader)
#include "tst_drumletreader.moc"
