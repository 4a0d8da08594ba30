// The converter's per-file worker on an ".ithmb" file of embedded JPEGs, read
// through the real drumlet plugin: a JPEG target with metadata kept copies the
// pictures byte for byte, any other target decodes them.
#include "imageconvertthread.h"
#include "ithmbfixtures.h"
#include "testsupport.h"

#include <QImageReader>
#include <QLoggingCategory>
#include <QSettings>

class TestDrumletRawCopy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QSettings(QStringLiteral("Pelmora"), QStringLiteral("Plugins")).setValue(QStringLiteral("Ithmb"), true);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    void copiesOrDecodes()
    {
        QTemporaryDir dir;
        const QByteArray jpegA = Ithmb::Jpeg(40, 24, Qt::red, QStringLiteral("Ann"));
        const QByteArray jpegB = Ithmb::Jpeg(16, 48, Qt::blue, QStringLiteral("Bert"));
        const QString src = dir.filePath(QStringLiteral("thumbs.ithmb"));
        QFile file(src);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(jpegA + jpegB);
        file.close();

        ConvertSettings settings;
        settings.TgtFolder = dir.path();
        settings.Exists = 0;
        settings.KeepMd = true;
        settings.TgtFormat = QStringLiteral(".jpg");
        settings.TgtID = PLMCodecJPEG;
        ImageConvertData job;
        job.srcFile = src;
        job.settings = &settings;

        const ItemConvertResult copied = ThreadFunction(job);
        QCOMPARE(int(copied.state), int(ConvertSucceeded));
        QCOMPARE(copied.tgtFiles, QStringList({ dir.filePath(QStringLiteral("thumbs-page1.jpg")),
                                                dir.filePath(QStringLiteral("thumbs-page2.jpg")) }));
        for (int i = 0; i < 2; ++i) {
            QFile target(copied.tgtFiles.at(i));
            QVERIFY(target.open(QIODevice::ReadOnly));
            QCOMPARE(target.readAll(), i == 0 ? jpegA : jpegB);
        }

        settings.TgtFormat = QStringLiteral(".png");
        settings.TgtID = PLMCodecPNG;
        const ItemConvertResult decoded = ThreadFunction(job);
        QCOMPARE(int(decoded.state), int(ConvertSucceeded));
        QCOMPARE(decoded.tgtFiles.size(), 2);
        QImageReader first(decoded.tgtFiles.at(0));
        QCOMPARE(first.format(), QByteArray("png"));
        QCOMPARE(first.size(), QSize(40, 24));
        QCOMPARE(QImageReader(decoded.tgtFiles.at(1)).size(), QSize(16, 48));
    }
};

KORVANE_TEST_MAIN(TestDrumletRawCopy)
#include "tst_drumletrawcopy.moc"
