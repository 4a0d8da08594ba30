// Damaged files of every format the FreeImage plugin reads: truncated at many
// lengths and with bytes overwritten, they must fail to read (or read as a
// picture of a sane size) without crashing or touching memory they do not
// own. Meant for the AddressSanitizer and UndefinedBehaviorSanitizer build.
#include "fifixtures.h"
#include "testsupport.h"

#include <QBuffer>
#include <QElapsedTimer>
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

    // The CRC of a PNG-style chunk (type and data).
    static quint32 Crc(const QByteArray& bytes)
    {
        quint32 crc = 0xFFFFFFFFu;
        for (const char byte : bytes) {
            crc ^= uchar(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    }

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
                                      "hdr", "pfm", "targa", "wbmp", "tga", "bmp"}) {
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
        // Picture data that ends early is a failure, not a picture grey or
        // black where data is missing, for the formats of one picture whose
        // structure tells.
        static const QStringList endsEarlyFails = {"jpg", "png", "webp", "jxr", "targa", "wbmp", "tga", "bmp"};
        for (const int tenth : {1, 2, 3, 5, 7, 9})
            Exercise(path, file.left(file.size() * tenth / 10), endsEarlyFails.contains(extension));
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

    // Headers that declare enormous pictures, in formats read through Qt's
    // own readers: decoded in a child process with a memory limit, they fail
    // instead of ending the program (libmng crashed on the MNG) or filling
    // its memory (the PSD reader allocated gigabytes for minutes).
    void hugeHeadersFail_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("file");
        const auto be32 = [](quint32 value) {
            QByteArray bytes(4, '\0');
            qToBigEndian(value, bytes.data());
            return bytes;
        };
        QByteArray mhdr = QByteArray("MHDR") + be32(100000) + be32(100000) + be32(1) + be32(0) + be32(0) + be32(0)
                          + be32(0);
        QTest::newRow("mng") << "mng"
                             << QByteArray("\x8AMNG\r\n\x1A\n", 8) + be32(28) + mhdr + be32(Crc(mhdr))
                                    + be32(0) + QByteArray("MEND") + be32(Crc("MEND"));
        QByteArray psd("8BPS\0\x01\0\0\0\0\0\0\0\x03", 14);
        psd += be32(30000) + be32(30000) + QByteArray("\0\x08\0\x03", 4) + be32(0) + be32(0) + be32(0)
               + QByteArray("\0\0", 2);
        QTest::newRow("psd") << "psd" << psd;
        QByteArray tga(18, '\0');
        tga[2] = 2;
        qToLittleEndian<quint16>(23170, tga.data() + 12);
        qToLittleEndian<quint16>(23170, tga.data() + 14);
        tga[16] = 32;
        QTest::newRow("tga header only") << "tga" << tga;
    }

    void hugeHeadersFail()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, file);
        const QString path = Path(QStringLiteral("huge.") + extension);
        QElapsedTimer clock;
        clock.start();
        Exercise(path, file, true);
        QVERIFY2(clock.elapsed() < 25000, "a decode that stalls is ended at its time limit");
    }
};

KORVANE_TEST_MAIN(TestFiCorrupt)
#include "tst_ficorrupt.moc"
