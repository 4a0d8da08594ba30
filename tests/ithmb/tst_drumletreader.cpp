// The drumlet plugin as the program meets it: switched on, loaded by Qt's
// plugin loader from the program's plugin folder, driven by QImageReader.
#include "ithmbfixtures.h"
#include "testsupport.h"

#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QSettings>

using namespace Ithmb;

class TestDrumletReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QByteArray jpegA;
    QByteArray jpegB;

    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QByteArray Slice(const QString& path, const QSize& range)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        file.seek(range.width());
        return file.read(range.height());
    }

private slots:
    void initTestCase()
    {
        // The switch must be in place before Qt creates the plugin object.
        QSettings(QStringLiteral("Pelmora"), QStringLiteral("Plugins")).setValue(QStringLiteral("Ithmb"), true);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(dir.isValid());
        jpegA = Jpeg(40, 24, QColor(200, 30, 30), QStringLiteral("Ann"));
        jpegB = Jpeg(16, 48, QColor(20, 40, 220), QStringLiteral("Bert"));
    }

    void metadata()
    {
        QPluginLoader loader(QCoreApplication::applicationDirPath() + QStringLiteral("/imageformats/libdrumlet.so"));
        const QJsonObject meta = loader.metaData();
        QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral("org.qt-project.Qt.QImageIOHandlerFactoryInterface"));
        QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("DrumletPlugin"));
        const QJsonObject data = meta.value(QStringLiteral("MetaData")).toObject();
        QCOMPARE(data.value(QStringLiteral("Keys")).toArray(), QJsonArray({ QStringLiteral("ithmb") }));
        QCOMPARE(data.value(QStringLiteral("MimeTypes")).toArray(), QJsonArray({ QStringLiteral("image/iOS Thumnail Image") }));
        QVERIFY(QImageReader::supportedImageFormats().contains("ithmb"));
        QVERIFY(QImageReader::supportedMimeTypes().contains("image/iOS Thumnail Image"));
    }

    // Embedded JPEGs: where they are found, what the program's raw copy is
    // told about them, and stepping through them.
    void jpegStream()
    {
        const QString plain = Write(QStringLiteral("plain.ithmb"), jpegA + jpegB);
        QImageReader pair(plain);
        QVERIFY(!pair.size().isValid());   // nothing counted yet
        QVERIFY(pair.supportsOption(QImageIOHandler::Description));
        QCOMPARE(pair.imageCount(), 2);
        QCOMPARE(Slice(plain, pair.size()), jpegA);
        QVERIFY(pair.jumpToImage(1));
        QCOMPARE(Slice(plain, pair.size()), jpegB);

        // A header holding a marker without the tag, and such a marker again
        // between the pictures: neither starts nor ends a frame.
        const QByteArray fake = QByteArrayLiteral("\xFF\xD8\xFF\xE0\x00\x10JFIX\x00");
        const QByteArray header = QByteArrayLiteral("ITHMB-HEADER") + fake + Noise(50, 1);
        const QByteArray between = fake + Noise(30, 2);
        const QString path = Write(QStringLiteral("headed.ithmb"), header + jpegA + between + jpegB);
        QImageReader reader(path);
        QCOMPARE(reader.imageCount(), 2);
        QCOMPARE(reader.size(), QSize(header.size(), jpegA.size() + between.size()));
        QVERIFY(reader.textKeys().isEmpty());   // nothing decoded yet
        const QImage first = reader.read();
        QCOMPARE(first.size(), QSize(40, 24));
        QVERIFY(qAbs(QColor(first.pixel(20, 12)).red() - 200) < 8);
        QCOMPARE(reader.text(QStringLiteral("Author")), QStringLiteral("Ann"));
        QCOMPARE(reader.currentImageNumber(), 1);
        QCOMPARE(reader.size(), QSize(header.size() + jpegA.size() + between.size(), jpegB.size()));
        const QImage second = reader.read();
        QCOMPARE(second.size(), QSize(16, 48));
        QVERIFY(qAbs(QColor(second.pixel(8, 24)).blue() - 220) < 8);

        // Past the last frame reads fail until a jump back.
        QCOMPARE(reader.currentImageNumber(), -1);
        QVERIFY(reader.read().isNull());
        QVERIFY(reader.jumpToImage(0));
        QCOMPARE(reader.read().size(), QSize(40, 24));
        QVERIFY(!reader.jumpToImage(-1));
        QVERIFY(!reader.jumpToImage(2));
        QCOMPARE(reader.currentImageNumber(), 1);
    }

    void brokenJpegFails()
    {
        // The second picture is cut off after its JFIF segment.
        const QString path = Write(QStringLiteral("cut.ithmb"), jpegA + jpegB.left(20));
        QImageReader reader(path);
        QCOMPARE(reader.imageCount(), 2);
        QVERIFY(!reader.read().isNull());
        QImage image;
        QVERIFY(!reader.read(&image));
        QVERIFY(image.isNull());
    }

    // Raw frames: geometry from the file size, pixels from the layouts.
    void rawLayouts()
    {
        // 307200 bytes: one 320 x 240 frame of 32-bit pixels (not two 16-bit ones).
        const QByteArray rgbx = StretchNeutral(320 * 240, 4, 3);
        QImageReader r3(Write(QStringLiteral("rgbx.ithmb"), rgbx));
        QCOMPARE(r3.imageCount(), 1);
        QVERIFY(!r3.supportsOption(QImageIOHandler::Description));
        QVERIFY(SamePixels(r3.read(), 320, 240, [&](int x, int y) { return ExpectRgbx(rgbx, y * 320 + x); }));

        // 4096 bytes: two 32 x 32 frames of big-endian 5-6-5 words.
        const QByteArray a565 = StretchNeutral(1024, 2, 4);
        const QByteArray b565 = StretchNeutral(1024, 2, 5);
        QImageReader r2(Write(QStringLiteral("rgb565.ithmb"), a565 + b565));
        QCOMPARE(r2.imageCount(), 2);
        QVERIFY(!r2.size().isValid());
        QVERIFY(SamePixels(r2.read(), 32, 32, [&](int x, int y) { return ExpectRgb565(a565, y * 32 + x); }));
        QVERIFY(SamePixels(r2.read(), 32, 32, [&](int x, int y) { return ExpectRgb565(b565, y * 32 + x); }));

        // 1343200 bytes: two 640 x 480 frames of little-endian 16-bit words,
        // whose pixels start 18800 bytes into each 671600-byte frame.
        const QByteArray a16 = StretchNeutral(640 * 480, 2, 6);
        const QByteArray b16 = StretchNeutral(640 * 480, 2, 7);
        const QByteArray gap = Noise(671600 - 18800 - a16.size(), 8);
        QByteArray file = Noise(18800, 9) + a16 + gap + Noise(18800, 10) + b16 + gap;
        QCOMPARE(file.size(), 1343200);
        QImageReader r1(Write(QStringLiteral("rgb16.ithmb"), file));
        QCOMPARE(r1.imageCount(), 2);
        QVERIFY(SamePixels(r1.read(), 640, 480, [&](int x, int y) { return ExpectRgb16Le(a16, y * 640 + x); }));
        QVERIFY(SamePixels(r1.read(), 640, 480, [&](int x, int y) { return ExpectRgb16Le(b16, y * 640 + x); }));

        // 691200 bytes: one 720 x 480 interlaced YUV frame, not stretched.
        QImageReader r0(Write(QStringLiteral("yuv.ithmb"), YuvFrame(720, 480)));
        QCOMPARE(r0.imageCount(), 1);
        QVERIFY(SamePixels(r0.read(), 720, 480, ExpectYuv));

        // 1000 bytes match no frame size.
        QImageReader none(Write(QStringLiteral("odd.ithmb"), Noise(1000, 11)));
        QCOMPARE(none.imageCount(), 0);
        QVERIFY(none.read().isNull());
    }

    void contrastStretch()
    {
        // Red: 1152 pixels (1.5 %) at 5, 2000 at 40, 1000 at 145, the rest
        // but 1920 (2.5 %) at 200, and those 1920 at 250. So the low bound is
        // 40 and the high bound 250: 5 and 40 -> 0, 145 -> 128, 200 -> 194,
        // 250 -> 255. Green is constant 77 and blue constant 0: both keep
        // their level.
        const int n = 320 * 240;
        QByteArray bytes(n * 4, '\0');
        for (int k = 0; k < n; ++k) {
            const int red = k < 1152 ? 5 : k < 3152 ? 40 : k < 4152 ? 145 : k < n - 1920 ? 200 : 250;
            bytes[4 * k] = char(red);
            bytes[4 * k + 1] = char(77);
        }
        QImageReader reader(Write(QStringLiteral("stretch.ithmb"), bytes));
        const QImage image = reader.read();
        QVERIFY(SamePixels(image, 320, 240, [&](int x, int y) {
            const int k = y * 320 + x;
            const int red = k < 3152 ? 0 : k < 4152 ? 128 : k < n - 1920 ? 194 : 255;
            return qRgb(red, 77, 0);
        }));

        // Uniform frames keep their colour: white and black 5-6-5 frames, and
        // 16-bit words 0xFFFF, whose red is 251.
        QImageReader uniform(Write(QStringLiteral("uniform.ithmb"), QByteArray(2048, '\xFF') + QByteArray(2048, '\0')));
        QVERIFY(SamePixels(uniform.read(), 32, 32, [](int, int) { return qRgb(255, 255, 255); }));
        QVERIFY(SamePixels(uniform.read(), 32, 32, [](int, int) { return qRgb(0, 0, 0); }));
        QImageReader white16(Write(QStringLiteral("white16.ithmb"), QByteArray(12640, '\xFF')));
        QVERIFY(SamePixels(white16.read(), 80, 79, [](int, int) { return qRgb(251, 255, 255); }));
    }

    void hugeFilesRefused()
    {
        // Sparse files: 2 GiB exactly, and 4 GiB + 4096, which a 32-bit size
        // would take for two 32 x 32 frames. A JPEG at the start is not found.
        for (const qint64 size : { Q_INT64_C(1) << 31, (Q_INT64_C(1) << 32) + 4096 }) {
            const QString path = Write(QStringLiteral("huge.ithmb"), jpegA);
            QFile file(path);
            if (!file.resize(size))
                QSKIP("no sparse files here");
            QImageReader reader(path);
            QCOMPARE(reader.imageCount(), 0);
            QVERIFY(!reader.supportsOption(QImageIOHandler::Description));
            QVERIFY(reader.read().isNull());
            QVERIFY(file.remove());
        }
    }
};

KORVANE_TEST_MAIN(TestDrumletReader)
#include "tst_drumletreader.moc"
