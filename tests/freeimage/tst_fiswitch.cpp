// The "FreeImage" switch, read once per process: this executable runs twice,
// once with the key absent and once (FI_TEST_SWITCH=false) with it false.
// Either way the plugin claims nothing, and the formats only it serves fail.
#include "fifixtures.h"
#include "testsupport.h"

#include <QBuffer>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QSettings>

class TestFiSwitch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
        if (qgetenv("FI_TEST_SWITCH") == "false")
            settings.setValue(QStringLiteral("FreeImage"), false);
        else
            settings.remove(QStringLiteral("FreeImage"));
    }

    void switchedOff()
    {
        QImageIOPlugin* plugin = FiFixtures::Plugin();
        QVERIFY(plugin);
        QByteArray png = QByteArray::fromBase64(
            "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGP4z8DwHwAFAAH/iZk9HQAAAABJRU5ErkJggg==");
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        for (const char* format : {"png", "jpg", "dds", "jxr", ""}) {
            QCOMPARE(int(plugin->capabilities(&buffer, format)), 0);
            QCOMPARE(int(plugin->capabilities(nullptr, format)), 0);
            QCOMPARE(plugin->create(&buffer, format), nullptr);
        }

        // PNG still reads through Qt's own handler; JPEG XR has no other.
        QVERIFY(!QImageReader(&buffer, "png").read().isNull());
        QBuffer target;
        QVERIFY(target.open(QIODevice::WriteOnly));
        QVERIFY(!QImageWriter(&target, "jxr").write(QImage(4, 4, QImage::Format_RGB32)));
    }
};

KORVANE_TEST_MAIN(TestFiSwitch)
#include "tst_fiswitch.moc"
