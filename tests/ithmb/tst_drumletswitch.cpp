// The "Ithmb" switch, read once per process: this executable runs twice,
// once with the key absent and once (DRUMLET_TEST_SWITCH=false) with it false.
// Either way the loaded plugin must claim nothing.
#include "ithmbfixtures.h"
#include "testsupport.h"

#include <QImageIOPlugin>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QSettings>

class TestDrumletSwitch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
        if (qgetenv("DRUMLET_TEST_SWITCH") == "false")
            settings.setValue(QStringLiteral("Ithmb"), false);
        else
            settings.remove(QStringLiteral("Ithmb"));
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void switchedOff()
    {
        QPluginLoader loader(QCoreApplication::applicationDirPath() + QStringLiteral("/imageformats/libdrumlet.so"));
        QImageIOPlugin* plugin = qobject_cast<QImageIOPlugin*>(loader.instance());
        QVERIFY2(plugin, qPrintable(loader.errorString()));

        // Two 32 x 32 frames, which the switched-on plugin reads.
        QByteArray bytes = Ithmb::Noise(4096, 1);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(int(plugin->capabilities(nullptr, "ithmb")), 0);
        QCOMPARE(int(plugin->capabilities(&buffer, "ithmb")), 0);
        QCOMPARE(plugin->create(&buffer, "ithmb"), nullptr);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("frames.ithmb"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QImageReader reader(path);
        QVERIFY(!reader.canRead());
        QVERIFY(reader.read().isNull());
    }
};

KORVANE_TEST_MAIN(TestDrumletSwitch)
#include "tst_drumletswitch.moc"
