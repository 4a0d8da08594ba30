// The "Xpdf" switch of the "Plugins" store turns the PDF plugin on and off.
// Qt creates the plugin object once and keeps it; these tests delete it so
// that the next use creates it again and reads the switch anew.
#include "testsupport.h"

#include "pdffixtures.h"

#include <QBuffer>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QSettings>

using namespace PdfFixtures;

class PdfSwitchTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString sPdf;

    // Sets the switch (an invalid variant removes it) and answers a freshly
    // created plugin object.
    QImageIOPlugin* FreshPlugin(const QVariant& value)
    {
        {
            QSettings store("Pelmora", "Plugins");
            if (value.isValid())
                store.setValue("Xpdf", value);
            else
                store.remove("Xpdf");
        }
        delete Plugin();
        return Plugin();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        sPdf = Save(dir.path(), "page.pdf", HandPdf());
        QVERIFY(!sPdf.isEmpty());
    }

    void offClaimsNothing_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("absent") << QVariant();
        QTest::newRow("false") << QVariant(false);
        QTest::newRow("stored as text") << QVariant(QString("false"));
    }

    void offClaimsNothing()
    {
        QFETCH(QVariant, value);
        QImageIOPlugin* plugin = FreshPlugin(value);
        QVERIFY(plugin);
        QFile file(sPdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(plugin->capabilities(nullptr, "pdf"), QImageIOPlugin::Capabilities());
        QCOMPARE(plugin->capabilities(&file, "pdf"), QImageIOPlugin::Capabilities());
        QCOMPARE(plugin->capabilities(&file, ""), QImageIOPlugin::Capabilities());
        QVERIFY(!plugin->create(&file, "pdf"));

        QVERIFY(QImageReader(sPdf).read().isNull());
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QImage image(10, 10, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(!QImageWriter(&out, "pdf").write(image));
    }

    void onReadsAndWrites()
    {
        QImageIOPlugin* plugin = FreshPlugin(true);
        QCOMPARE(plugin->capabilities(nullptr, "pdf"), QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite);
        QCOMPARE(QImageReader(sPdf).read().size(), QSize(200, 100));

        // Read once: turning the switch off later does not affect this object.
        QSettings("Pelmora", "Plugins").setValue("Xpdf", false);
        QCOMPARE(plugin->capabilities(nullptr, "pdf"), QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite);
        QCOMPARE(QImageReader(sPdf).read().size(), QSize(200, 100));
    }
};

KORVANE_TEST_MAIN(PdfSwitchTest)
#include "tst_pdfswitch.moc"
