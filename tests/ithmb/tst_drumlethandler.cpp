// The handler and plugin compiled in under AddressSanitizer and UBSan, driven through devices.
#include "drumlethandler.h"
#include "ithmbfixtures.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"

#include <QLoggingCategory>

using namespace Ithmb;

namespace {

// A buffer that claims `reported` bytes (or to be sequential) and counts what it serves.
class FakeDevice : public QBuffer
{
public:
    FakeDevice(qint64 reported, const QByteArray& content, bool sequential = false) : reported(reported), sequential(sequential)
    {
        setData(content);
        open(ReadOnly);
    }
    qint64 size() const override { return reported; }
    bool isSequential() const override { return sequential; }
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = QBuffer::readData(data, maxSize);
        served += qMax<qint64>(0, n);
        return n;
    }
    qint64 reported, served = 0;
    bool sequential;
};

// The warnings a piece of work logs.
QStringList Warnings(const std::function<void()>& work)
{
    static QStringList captured;
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtWarningMsg)
            captured << text;
    });
    work();
    qInstallMessageHandler(previous);
    return captured;
}

} // namespace

class TestDrumletHandler : public QObject
{
    Q_OBJECT

    QByteArray jpegA = Jpeg(24, 16, Qt::red, QStringLiteral("Ann"));
    QByteArray jpegB = Jpeg(16, 24, Qt::blue, QStringLiteral("Bert"));

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    // Readable devices with the exact key only; options are answered, never
    // set; the text tells the picture decoded; raw frames have neither text
    // nor byte range; reading past the last frame fails with no warning.
    void options()
    {
        DrumletPlugin plugin;
        QByteArray bytes = jpegA + jpegB;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QBuffer writeOnly;
        writeOnly.open(QIODevice::WriteOnly);
        const int read = QImageIOPlugin::CanRead;
        QCOMPARE(QList<int>({int(plugin.capabilities(nullptr, "ithmb")), int(plugin.capabilities(&buffer, "ithmb")),
                             int(plugin.capabilities(&buffer, "ITHMB")), int(plugin.capabilities(&buffer, QByteArray())),
                             int(plugin.capabilities(&writeOnly, "ithmb"))}), QList<int>({read, read, 0, 0, 0}));
        QScopedPointer<QImageIOHandler> created(plugin.create(&buffer, "ithmb"));
        QVERIFY(created && created->device() == &buffer && created->canRead());
        DrumletHandler handler;
        handler.setDevice(&buffer);
        QVERIFY(!handler.option(QImageIOHandler::Size).isValid());   // not counted yet
        QVERIFY(handler.supportsOption(QImageIOHandler::Description));
        handler.setOption(QImageIOHandler::Size, QSize(7, 7));
        handler.setOption(QImageIOHandler::Description, QStringLiteral("x: y"));
        QCOMPARE(handler.option(QImageIOHandler::Size).toSize(), PluginContract::EmbeddedJpegSpan(0, jpegA.size()));
        QVERIFY(handler.option(QImageIOHandler::Description).toString().isEmpty());
        QImage image;
        QVERIFY(handler.jumpToImage(1) && handler.read(&image));
        QVERIFY(handler.jumpToImage(0) && handler.read(&image));
        QCOMPARE(image.size(), QSize(24, 16));
        const QString text = handler.option(QImageIOHandler::Description).toString();
        QVERIFY2(text.contains(QStringLiteral("Author: Bert\n\n")) && !text.contains(QStringLiteral("Ann")), qPrintable(text));
        QVERIFY(handler.read(&image));
        QCOMPARE(Warnings([&] { QVERIFY(!handler.read(&image)); }), QStringList());
        QByteArray raw(2048, '\0');
        QBuffer rawBuffer(&raw);
        rawBuffer.open(QIODevice::ReadOnly);
        DrumletHandler rawHandler;
        rawHandler.setDevice(&rawBuffer);
        QVERIFY(!rawHandler.supportsOption(QImageIOHandler::Description));
        QVERIFY(!rawHandler.option(QImageIOHandler::Size).isValid() && !rawHandler.option(QImageIOHandler::Description).isValid());
    }

    // Refused: empty, sequential (frames are read back by seeking), too large for 32-bit
    // offsets (4 GiB + 4096 would wrap to two frames) without reading a byte; 1000 bytes
    // find no frame quietly; a frame cut after 1024 zero bytes reads the rest as white.
    void devices()
    {
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        FakeDevice sequential(jpegA.size(), jpegA, true);
        for (const auto& device : QList<QPair<QIODevice*, const char*>>{
                 {&empty, "DrumletHandlerPrivate::imageCount   QByteArray is invalid"},
                 {&sequential, "DrumletHandlerPrivate::imageCount   sequential device"}}) {
            DrumletHandler handler;
            handler.setDevice(device.first);
            QTest::ignoreMessage(QtWarningMsg, device.second);
            QCOMPARE(handler.imageCount(), 0);
        }
        QImage image;
        for (const qint64 size : {Q_INT64_C(1) << 31, (Q_INT64_C(1) << 32) + 4096}) {
            FakeDevice huge(size, jpegA);
            DrumletHandler handler;
            handler.setDevice(&huge);
            QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   file too large");
            QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   file too large");
            QCOMPARE(handler.imageCount(), 0);
            QVERIFY(!handler.read(&image));
            QCOMPARE(huge.served, 0);
        }
        QByteArray odd = Noise(1000, 1);
        QBuffer oddBuffer(&odd);
        oddBuffer.open(QIODevice::ReadOnly);
        DrumletHandler oddHandler;
        oddHandler.setDevice(&oddBuffer);
        QCOMPARE(Warnings([&] { QVERIFY(!oddHandler.read(&image)); }), QStringList());
        QTest::ignoreMessage(QtWarningMsg, "DrumletHandlerPrivate::imageCount   QByteArray is invalid");
        QCOMPARE(oddHandler.imageCount(), 0);
        FakeDevice cut(2048, QByteArray(1024, '\0'));
        DrumletHandler cutHandler;
        cutHandler.setDevice(&cut);
        QVERIFY(cutHandler.read(&image));
        QCOMPARE(image.convertToFormat(QImage::Format_RGB32),
                 Frame(32, 32, [](int, int y) { return y < 16 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); }));
    }
};

KORVANE_TEST_MAIN(TestDrumletHandler)
#include "tst_drumlethandler.moc"
