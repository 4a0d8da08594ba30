// The handler and plugin classes compiled straight into this executable with
// AddressSanitizer and UndefinedBehaviorSanitizer, driven through devices.
#include "drumlethandler.h"
#include "ithmbfixtures.h"
#include "testsupport.h"

#include <QLoggingCategory>
#include <QSettings>

using namespace Ithmb;

namespace {

// A random-access device that claims `reported` bytes but holds only
// `content`, and counts what it hands out.
class FakeDevice : public QIODevice
{
public:
    FakeDevice(qint64 reported, const QByteArray& content) : reported(reported), content(content)
    {
        open(QIODevice::ReadOnly);
    }
    qint64 size() const override { return reported; }
    qint64 served = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 left = qMax<qint64>(0, content.size() - pos());
        const qint64 n = qMin(left, maxSize);
        memcpy(data, content.constData() + pos(), size_t(n));
        served += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 reported;
    QByteArray content;
};

class SequentialBuffer : public QBuffer
{
public:
    bool isSequential() const override { return true; }
};

QStringList capturedWarnings;

void CaptureWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        capturedWarnings << message;
}

} // namespace

class TestDrumletHandler : public QObject
{
    Q_OBJECT

private:
    QByteArray jpegA = Jpeg(24, 16, Qt::red, QStringLiteral("Ann"));
    QByteArray jpegB = Jpeg(16, 24, Qt::blue, QStringLiteral("Bert"));

private slots:
    void initTestCase()
    {
        QSettings(QStringLiteral("Pelmora"), QStringLiteral("Plugins")).setValue(QStringLiteral("Ithmb"), true);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void capabilities()
    {
        DrumletPlugin plugin;
        QByteArray bytes = jpegA;
        QBuffer readable(&bytes);
        readable.open(QIODevice::ReadOnly);
        QBuffer writeOnly;
        writeOnly.open(QIODevice::WriteOnly);
        QCOMPARE(int(plugin.capabilities(nullptr, "ithmb")), int(QImageIOPlugin::CanRead));
        QCOMPARE(int(plugin.capabilities(&readable, "ithmb")), int(QImageIOPlugin::CanRead));
        QCOMPARE(int(plugin.capabilities(&readable, "ITHMB")), 0);
        QCOMPARE(int(plugin.capabilities(&readable, QByteArray())), 0);
        QCOMPARE(int(plugin.capabilities(&writeOnly, "ithmb")), 0);

        QScopedPointer<QImageIOHandler> handler(plugin.create(&readable, "ithmb"));
        QVERIFY(handler);
        QCOMPARE(handler->device(), &readable);
        QVERIFY(handler->canRead());
    }

    void options()
    {
        QByteArray bytes = jpegA + jpegB;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        DrumletHandler handler;
        handler.setDevice(&buffer);
        handler.setFormat("ithmb");
        QVERIFY(handler.supportsOption(QImageIOHandler::Size));
        QVERIFY(!handler.option(QImageIOHandler::Size).isValid());   // not counted yet
        QVERIFY(handler.supportsOption(QImageIOHandler::Description));
        const QVariant before = handler.option(QImageIOHandler::Description);
        QVERIFY(before.isValid() && before.toString().isEmpty());
        handler.setOption(QImageIOHandler::Size, QSize(7, 7));
        handler.setOption(QImageIOHandler::Description, QStringLiteral("x: y"));
        QCOMPARE(handler.option(QImageIOHandler::Size).toSize(), QSize(0, jpegA.size()));
        QVERIFY(handler.option(QImageIOHandler::Description).toString().isEmpty());

        // The text tells the first picture decoded, whichever that is.
        QImage image;
        QVERIFY(handler.jumpToImage(1) && handler.read(&image));
        QVERIFY(handler.jumpToImage(0) && handler.read(&image));
        QCOMPARE(image.size(), QSize(24, 16));
        const QString text = handler.option(QImageIOHandler::Description).toString();
        QVERIFY2(text.contains(QStringLiteral("Author: Bert\n\n")) && !text.contains(QStringLiteral("Ann")),
                 qPrintable(text));

        // Raw frames have no description and no byte range.
        QByteArray raw(2048, '\0');
        QBuffer rawBuffer(&raw);
        rawBuffer.open(QIODevice::ReadOnly);
        DrumletHandler rawHandler;
        rawHandler.setDevice(&rawBuffer);
        QVERIFY(!rawHandler.supportsOption(QImageIOHandler::Description));
        QVERIFY(rawHandler.supportsOption(QImageIOHandler::Size));
        QVERIFY(!rawHandler.option(QImageIOHandler::Size).isValid());
        QVERIFY(!rawHandler.option(QImageIOHandler::Description).isValid());
    }

    void refusedDevices()
    {
        DrumletHandler handler;
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        handler.setDevice(&empty);
        QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   QByteArray is invalid");
        QCOMPARE(handler.imageCount(), 0);

        // Too large for 32-bit offsets: refused without reading a byte.
        for (const qint64 size : { Q_INT64_C(1) << 31, (Q_INT64_C(1) << 32) + 4096 }) {
            FakeDevice huge(size, jpegA);
            DrumletHandler hugeHandler;
            hugeHandler.setDevice(&huge);
            // Refused again by the read, which finds the frames not counted.
            QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   file too large");
            QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   file too large");
            QCOMPARE(hugeHandler.imageCount(), 0);
            QImage image;
            QVERIFY(!hugeHandler.read(&image));
            QCOMPARE(huge.served, 0);
        }

        // Frames are read back by seeking, which a sequential device cannot do.
        SequentialBuffer sequential;
        sequential.setData(jpegA);
        sequential.open(QIODevice::ReadOnly);
        DrumletHandler sequentialHandler;
        sequentialHandler.setDevice(&sequential);
        QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   sequential device");
        QCOMPARE(sequentialHandler.imageCount(), 0);

        // No frame size divides 1000 bytes: nothing found, nothing to warn about.
        QByteArray odd = Noise(1000, 1);
        QBuffer oddBuffer(&odd);
        oddBuffer.open(QIODevice::ReadOnly);
        DrumletHandler oddHandler;
        oddHandler.setDevice(&oddBuffer);
        capturedWarnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(CaptureWarnings);
        QImage image;
        const bool read = oddHandler.read(&image);
        qInstallMessageHandler(previous);
        QVERIFY(!read);
        // A second count starts where the first one left the device.
        QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   QByteArray is invalid");
        QCOMPARE(oddHandler.imageCount(), 0);
        QCOMPARE(capturedWarnings, QStringList());
    }

    void shortRead()
    {
        // A 2048-byte frame of which only 1024 zero bytes arrive: the rest
        // reads as FF, so the lower half is white.
        FakeDevice cut(2048, QByteArray(1024, '\0'));
        DrumletHandler handler;
        handler.setDevice(&cut);
        QImage image;
        QVERIFY(handler.read(&image));
        QVERIFY(SamePixels(image, 32, 32, [](int, int y) { return y < 16 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); }));
    }
};

KORVANE_TEST_MAIN(TestDrumletHandler)
#include "tst_drumlethandler.moc"
