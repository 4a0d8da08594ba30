// Metadata through the FreeImage plugin's reader and writer: the packed entry the program hands
// the writer, the keys the preview parses, orientation written upright, several threads.
// (Between formats, and colour profiles without metadata: tst_fiengine.)
#include "fifixtures.h"
#include "graphics/metadatapacking.h"
#include "testsupport.h"

#include <QImageReader>
#include <QImageWriter>
#include <QRegularExpression>
#include <QtConcurrent>

using namespace FiFixtures;

namespace {

const QString kComment = QStringLiteral("Shot from the pier");

// Writes image to path with the packed entry the program makes of reader's texts (none: null).
bool WriteWith(const QImage& image, const QString& path, QImageReader* reader)
{
    QImageWriter writer(path);
    if (reader) {
        QStringList values;
        const QStringList keys = reader->textKeys();
        for (const QString& key : keys)
            values << reader->text(key);
        QString packedKeys, packedValues;
        MetadataPacking::Pack(keys, values, packedKeys, packedValues);
        writer.setText(packedKeys, packedValues);
    }
    return writer.write(image);
}

} // namespace

class TestFiMetadata : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString jpeg, tiff;   // photos with Exif, GPS, IPTC, XMP and a comment (the TIFF's as its description)

    QString Path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        FI_REQUIRE_TOOLS("convert", "exiftool");
        QVERIFY(dir.isValid());
        jpeg = Path("photo.jpg"), tiff = Path("photo.tif");
        for (const QString& path : {jpeg, tiff}) {
            QVERIFY(Run("convert", {"-size", "64x48", "gradient:orange-navy", path}));
            QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-Make=Acme", "-Model=Lens 5",
                                     "-DateTimeOriginal=2021:02:03 04:05:06", "-GPSLatitude=52.5", "-GPSLatitudeRef=N",
                                     "-ExposureCompensation#=inf", "-Keywords=pier", "-Keywords=sea;salt", "-XMP-dc:Title=Harbour; at dusk & calm",
                                     (path == jpeg ? "-Comment=" : "-ImageDescription=") + kComment, path}));
        }
    }

    // The packed entry of the program (packing) and the plugin (unpacking): separators and escapes
    // inside keys and values do not shift the pairs; empty keys are skipped; an entry packed
    // without escaping stays aligned by key, the surplus dropped, never shifted into a missing key.
    void packing_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("separators in values") << QStringList{"FIM06Keywords", "FIM07XMLPacket", "FIM00Comment"}
                                              << QStringList{"one;two", "<x a=\"&amp;\">T; x</x>", "last"};
        QTest::newRow("escapes") << QStringList{"a\\;b", "c\\"} << QStringList{"\\", "x\\\\;y;"};
        QTest::newRow("empty values") << QStringList{"A", "B", "C"} << QStringList{"", "", ""};
        QTest::newRow("key ending like the suffix") << QStringList{"XFIMD"} << QStringList{"v"};
        QTest::newRow("empty key skipped") << QStringList{"A", "", "B"} << QStringList{"1", "skipped", "2"};
    }

    void packing()
    {
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        QString packedKeys, packedValues;
        MetadataPacking::Pack(keys, values, packedKeys, packedValues);
        QVERIFY(packedKeys.endsWith(QLatin1String("FIMD")));
        QStringList outKeys, outValues;
        QVERIFY(MetadataPacking::Unpack(packedKeys, packedValues, outKeys, outValues));
        for (int i = keys.size() - 1; i >= 0; --i)
            if (keys.at(i).isEmpty())
                keys.removeAt(i), values.removeAt(i);
        QCOMPARE(outKeys, keys);
        QCOMPARE(outValues, values);
        MetadataPacking::Pack({}, {}, packedKeys, packedValues);
        QVERIFY(packedKeys.isEmpty() && packedValues.isEmpty());
        QVERIFY(!MetadataPacking::Unpack("A;B", "1;2", outKeys, outValues));
        QVERIFY(MetadataPacking::Unpack("A;BFIMD", "1", outKeys, outValues) && outValues == QStringList({"1", ""}));
        QVERIFY(MetadataPacking::Unpack("AFIMD", "x;y", outKeys, outValues) && outValues == QStringList({"x"}));
    }

    // The preview's layout: five-character keys declare the categories by their last two digits,
    // fields follow as that key plus their name (each in one category); the raw Exif block is the
    // file's own, byte for byte.
    void readingLayout()
    {
        QImageReader reader(jpeg);
        const QStringList keys = reader.textKeys();
        QVERIFY(!keys.isEmpty());
        for (const QString& key : keys) {
            const QRegularExpressionMatch match = QRegularExpression("^FIM(\\d\\d)(\\S*)$").match(key);
            QVERIFY2(match.hasMatch() && match.captured(1).toInt() <= 11, qPrintable(key));
            QVERIFY2(match.captured(2).isEmpty() || keys.contains(key.left(5)), qPrintable(key));
        }
        const QList<QPair<QString, QString>> fields = {
            {"FIM00Comment", kComment}, {"FIM01Make", "Acme"}, {"FIM02DateTimeOriginal", "2021:02:03 04:05:06"},
            {"FIM06Keywords", "pier"}, {"FIM06Keywords[2]", "sea;salt"},
            {"FIM02ExposureBiasValue", "1/0"}};   // a fraction that divides by 0 shown as it is
        for (const auto& field : fields)
            QCOMPARE(reader.text(field.first), field.second);
        QVERIFY(keys.contains("FIM03GPSLatitude"));
        QCOMPARE(keys.filter(QRegularExpression("^FIM\\d\\dMake$")), QStringList{"FIM01Make"});   // one category each
        QVERIFY(reader.text("FIM07XMLPacket").contains("Harbour; at dusk &amp; calm"));
        const QByteArray exif = QByteArray::fromBase64(reader.text("FIM11ExifRaw").toLatin1());
        QVERIFY(exif.startsWith(QByteArray("Exif\0\0", 6)) && Load(jpeg).contains(exif));
        QVERIFY(!reader.read().isNull());
        QCOMPARE(reader.text("FIM01Model"), QString("Lens 5"));
        QImageReader fromTiff(tiff);
        QCOMPARE(fromTiff.text("FIM00Comment"), kComment);
        QCOMPARE(fromTiff.text("FIM01Make"), QString("Acme"));
        QVERIFY(QByteArray::fromBase64(fromTiff.text("FIM11ExifRaw").toLatin1()).size() > 40);
    }

    // Pictures are read upright, so a target keeping a turned photo's metadata says Orientation 1
    // in Exif and XMP: no viewer turns it twice.
    void orientationWrittenUpright()
    {
        const QString turned = Path("turned.jpg");
        QVERIFY(QFile::copy(jpeg, turned));
        QVERIFY(Run("exiftool", {"-q", "-overwrite_original", "-EXIF:Orientation#=6", "-XMP-tiff:Orientation#=6", turned}));
        QImageReader reader(turned);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        for (const QString& name : {QStringLiteral("upright.jpg"), QStringLiteral("upright.tif")}) {
            QVERIFY(WriteWith(image, Path(name), &reader));
            const QJsonObject tags = ExifTool(Path(name), {"Orientation"}, {"-n", "-G"});
            QCOMPARE(tags.value("EXIF:Orientation").toInt(), 1);
            QCOMPARE(tags.value("XMP:Orientation").toInt(), 1);
        }
    }

    // Reading and writing with metadata on several threads gives every thread the same files.
    void severalThreads()
    {
        const QList<int> jobs = {0, 1, 2, 3, 4, 5, 6, 7};
        const std::function<QByteArray(int)> convert = [this](int job) {
            QImageReader reader(job % 2 ? tiff : jpeg);
            const QString path = Path(QString("thread%1.%2").arg(job).arg(job % 2 ? "jpg" : "tif"));
            return WriteWith(reader.read(), path, &reader) ? Load(path) : QByteArray();
        };
        const QList<QByteArray> results = QtConcurrent::blockingMapped<QList<QByteArray>>(jobs, convert);
        for (int job = 0; job < jobs.size(); ++job) {
            QVERIFY(!results.at(job).isEmpty());
            QCOMPARE(results.at(job), results.at(job % 2));
        }
    }
};

KORVANE_TEST_MAIN(TestFiMetadata)
#include "tst_fimetadata.moc"
