// Damaged files of every format the FreeImage plugin reads: truncated at many
// lengths and with bytes overwritten, they must fail to read (or read as a
// picture of a sane size) without crashing or touching memory they do not
// own. Meant for the AddressSanitizer and UndefinedBehaviorSanitizer build.
#include "fifixtures.h"
#include "testsupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>

using namespace FiFixtures;

class TestFiCorrupt : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

    // Everything a reader is asked by the program: count, size, metadata and
    // every page. Null pictures are fine; others must be of a sane size.
    static void Exercise(const QString& path, const QByteArray& bytes, bool mustFail)
    {
        QVERIFY(Save(path, bytes));
        QImageReader reader(path);
        const int count = reader.imageCount();
        reader.size();
        reader.textKeys();
        bool anything = false;
        for (int page = 0; page < qMin(qMax(count, 1), 4); ++page) {
            const QImage image = reader.read();
            if (image.isNull())
                break;
            anything = true;
            QVERIFY(image.width() > 0 && image.height() > 0);
            QVERIFY(qint64(image.width()) * image.height() <= (qint64(1) << 28));
        }
        if (mustFail)
            QVERIFY2(!anything, qPrintable(path));
    }

private slots:
    void initTestCase()
    {
        SwitchPluginOn();
        FI_REQUIRE_TOOLS(QStringLiteral("convert"), QStringLiteral("ppmtopict"), QStringLiteral("ppmtoilbm"));
        QVERIFY(dir.isValid());
    }

    void damaged_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("file");

        // Formats the plugin writes: written by it, two pages where it can.
        const QImage picture = Picture(kHandWidth, kHandHeight, true);
        for (const char* extension : {"jpg", "png", "gif", "tif", "ico", "webp", "jng", "j2k", "jp2", "jxr",
                                      "hdr", "pfm", "targa", "wbmp"}) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            QVERIFY(buffer.open(QIODevice::WriteOnly));
            QImageWriter writer(&buffer, extension);
            QVERIFY2(writer.write(QByteArray(extension) == "ico" ? picture.scaled(48, 48) : picture), extension);
            if (QByteArray(extension) == "ico")
                QVERIFY(writer.write(picture.scaled(16, 16)));
            QTest::newRow(extension) << QString::fromLatin1(extension) << bytes;
        }

        // Read-only formats: made by Debian's tools or by hand.
        const QString ppm = Path(QStringLiteral("source.ppm"));
        QVERIFY(QImageWriter(ppm).write(Picture(kHandWidth, kHandHeight, false)));
        const QString few = Path(QStringLiteral("few.ppm"));
        QVERIFY(Run(QStringLiteral("convert"), {ppm, QStringLiteral("-colors"), QStringLiteral("100"), few}));
        QByteArray pict, ilbm;
        QVERIFY(Run(QStringLiteral("ppmtopict"), {few}, &pict));
        QVERIFY(Run(QStringLiteral("ppmtoilbm"), {ppm}, &ilbm));
        const QString dds = Path(QStringLiteral("source.dds"));
        QVERIFY(Run(QStringLiteral("convert"), {ppm, QStringLiteral("-define"), QStringLiteral("dds:compression=dxt1"), dds}));
        const QString pcd = Path(QStringLiteral("source.pcd"));
        QVERIFY(Run(QStringLiteral("convert"), {ppm, pcd}));
        QByteArray ham;
        QVERIFY(Run(QStringLiteral("ppmtoilbm"), {QStringLiteral("-ham6"), ppm}, &ham));
        const QString plainDds = Path(QStringLiteral("plain.dds"));
        QVERIFY(Run(QStringLiteral("convert"), {ppm, QStringLiteral("-define"), QStringLiteral("dds:compression=none"),
                                                plainDds}));
        QTest::newRow("pict") << QStringLiteral("pict") << pict;
        QTest::newRow("lbm") << QStringLiteral("lbm") << ilbm;
        QTest::newRow("lbm ham6") << QStringLiteral("lbm") << ham;
        QTest::newRow("dds") << QStringLiteral("dds") << Load(dds);
        QTest::newRow("dds uncompressed") << QStringLiteral("dds") << Load(plainDds);
        QTest::newRow("pcd") << QStringLiteral("pcd") << Load(pcd);
        QTest::newRow("cut") << QStringLiteral("cut") << HandCut();
        QTest::newRow("koa") << QStringLiteral("koa") << HandKoala();
        QTest::newRow("dng") << QStringLiteral("dng") << HandDng();
    }

    void damaged()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, file);
        QVERIFY(file.size() > 64);
        const QString path = Path(QStringLiteral("damaged.") + extension);

        // The intact file reads.
        QVERIFY(Save(path, file));
        QVERIFY2(!QImageReader(path).read().isNull(), "the intact file must read");

        // Truncated: too short for any header, then at fractions of the file.
        for (const int length : {0, 1, 8, 16})
            Exercise(path, file.left(length), true);
        for (const int tenth : {1, 2, 3, 5, 7, 9})
            Exercise(path, file.left(file.size() * tenth / 10), false);
        Exercise(path, file.left(file.size() - 1), false);

        // Overwritten: bytes of the header region and of the whole file, and
        // runs of 0xFF where sizes and counts live.
        QRandomGenerator random(quint32(qHash(extension)));
        for (int round = 0; round < 40; ++round) {
            QByteArray bytes = file;
            const int span = round % 2 ? bytes.size() : qMin(bytes.size(), 1024);
            for (int i = 0; i < 1 + round % 6; ++i)
                bytes[random.bounded(span)] = char(random.bounded(256));
            if (round % 5 == 0) {
                const int at = random.bounded(qMin(bytes.size(), 600));
                for (int i = at; i < qMin(bytes.size(), at + 4); ++i)
                    bytes[i] = '\xFF';
            }
            Exercise(path, bytes, false);
        }
    }
};

KORVANE_TEST_MAIN(TestFiCorrupt)
#include "tst_ficorrupt.moc"
