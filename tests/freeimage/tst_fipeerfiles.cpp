// Real files from other imaging projects' test suites (peer/README.md names
// each one's source): each reads as its reference shows it, and no value in
// their metadata can crash a read or a conversion that keeps it.
#include "fifixtures.h"
#include "imageconvertthread.h"
#include "testsupport.h"

#include <QDir>
#include <QImageReader>

using namespace FiFixtures;

namespace {

QString Peer(const QString& name)
{
    return QStringLiteral(KORVANE_PEER_DIR "/") + name;
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

    // Reading the size and the text asks the metadata; a conversion that
    // keeps it writes it again.
    void metadataIsSafe_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("key");
        QTest::newRow("signed rational 0x7fffffff/0x80000000") << "exif_gps.jpg" << "FIM02ExposureBiasValue";
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
