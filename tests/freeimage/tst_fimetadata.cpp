// Metadata through the FreeImage plugin: the keys the preview parses, the
// packed entry written back into JPEG, TIFF, PNG and GIF as exiftool sees it,
// colour profiles carried without it, and all of it from several threads.
#include "fifixtures.h"
#include "graphics/metadatapacking.h"
#include "testsupport.h"

#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtConcurrent>

#include <functional>

using namespace FiFixtures;

namespace {

const QString kTitle = QStringLiteral("Harbour; at dusk & calm");
const QString kComment = QStringLiteral("Shot from the pier");

// The tags exiftool reads from a file, as one JSON object.
QJsonObject ExifTool(const QString& path, const QStringList& tags)
{
    QByteArray output;
    QStringList arguments{QStringLiteral("-j")};
    for (const QString& tag : tags)
        arguments << QLatin1Char('-') + tag;
    arguments << path;
    if (!Run(QStringLiteral("exiftool"), arguments, &output))
        return QJsonObject();
    return QJsonDocument::fromJson(output).array().at(0).toObject();
}

QStringList Strings(const QJsonValue& value)
{
    QStringList strings;
    if (value.isArray()) {
        for (const QJsonValue& item : value.toArray())
            strings << item.toVariant().toString();
    } else if (!value.isUndefined()) {
        strings << value.toVariant().toString();
    }
    return strings;
}

// The packed entry the program hands the writer for a file it read.
void PackedEntry(QImageReader& reader, QString& keys, QString& values)
{
    QStringList valueList;
    const QStringList keyList = reader.textKeys();
    for (const QString& key : keyList)
        valueList << reader.text(key);
    MetadataPacking::Pack(keyList, valueList, keys, values);
}

bool WriteWith(const QImage& image, const QString& path, const QString& keys, const QString& values)
{
    QImageWriter writer(path);
    if (!keys.isEmpty())
        writer.setText(keys, values);
    return writer.write(image);
}

const QStringList kTags = {"Make", "Model", "DateTimeOriginal", "Keywords", "XMP:Title", "Comment",
                           "ImageDescription"};

} // namespace

class TestFiMetadata : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString jpeg;   // a photo with Exif, GPS, IPTC, XMP and a comment
    QString tiff;   // the same tags in a TIFF, its comment as the description

    QString Path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        SwitchPluginOn();
        FI_REQUIRE_TOOLS(QStringLiteral("convert"), QStringLiteral("exiftool"));
        QVERIFY(dir.isValid());
        jpeg = Path(QStringLiteral("photo.jpg"));
        tiff = Path(QStringLiteral("photo.tif"));
        QString error;
        const QStringList tags = {
            QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-Make=Acme"),
            QStringLiteral("-Model=Lens 5"), QStringLiteral("-DateTimeOriginal=2021:02:03 04:05:06"),
            QStringLiteral("-GPSLatitude=52.5"), QStringLiteral("-GPSLatitudeRef=N"),
            QStringLiteral("-Keywords=pier"), QStringLiteral("-Keywords=sea;salt"),
            QStringLiteral("-XMP-dc:Title=") + kTitle};
        for (const QString& path : {jpeg, tiff}) {
            QVERIFY2(Run(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("64x48"),
                                                     QStringLiteral("gradient:orange-navy"), path}, nullptr, &error),
                     qPrintable(error));
            const QString comment = path == jpeg ? QStringLiteral("-Comment=") : QStringLiteral("-ImageDescription=");
            QVERIFY2(Run(QStringLiteral("exiftool"), tags + QStringList{comment + kComment, path}, nullptr, &error),
                     qPrintable(error));
        }
    }

    // The preview's layout: five-character keys declare the categories by
    // their last two digits, fields follow as that key plus their name, and
    // the raw Exif block is the file's own, byte for byte.
    void readingLayout()
    {
        QImageReader reader(jpeg);
        const QStringList keys = reader.textKeys();
        QVERIFY(!keys.isEmpty());
        const QRegularExpression layout(QStringLiteral("^FIM(\\d\\d)(\\S*)$"));
        for (const QString& key : keys) {
            const QRegularExpressionMatch match = layout.match(key);
            QVERIFY2(match.hasMatch(), qPrintable(key));
            QVERIFY(match.captured(1).toInt() <= 11);
            if (!match.captured(2).isEmpty())
                QVERIFY2(keys.contains(key.left(5)), qPrintable(key));
        }
        QCOMPARE(reader.text(QStringLiteral("FIM00Comment")), kComment);
        QCOMPARE(reader.text(QStringLiteral("FIM01Make")), QStringLiteral("Acme"));
        QCOMPARE(reader.text(QStringLiteral("FIM02DateTimeOriginal")), QStringLiteral("2021:02:03 04:05:06"));
        QVERIFY(keys.contains(QStringLiteral("FIM03GPSLatitude")));
        QCOMPARE(reader.text(QStringLiteral("FIM06Keywords")), QStringLiteral("pier"));
        QCOMPARE(reader.text(QStringLiteral("FIM06Keywords[2]")), QStringLiteral("sea;salt"));
        QVERIFY(reader.text(QStringLiteral("FIM07XMLPacket")).contains(QStringLiteral("Harbour; at dusk &amp; calm")));

        const QByteArray exif = QByteArray::fromBase64(reader.text(QStringLiteral("FIM11ExifRaw")).toLatin1());
        QVERIFY(exif.startsWith(QByteArray("Exif\0\0", 6)));
        QVERIFY(Load(jpeg).contains(exif));
        QVERIFY(!reader.read().isNull());
        QCOMPARE(reader.text(QStringLiteral("FIM01Model")), QStringLiteral("Lens 5"));

        QImageReader fromTiff(tiff);
        QCOMPARE(fromTiff.text(QStringLiteral("FIM00Comment")), kComment);
        QCOMPARE(fromTiff.text(QStringLiteral("FIM01Make")), QStringLiteral("Acme"));
        QVERIFY(QByteArray::fromBase64(fromTiff.text(QStringLiteral("FIM11ExifRaw")).toLatin1()).size() > 40);
    }

    void packedEntryWritten_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::newRow("jpeg to jpeg") << "photo.jpg" << "out.jpg";
        QTest::newRow("jpeg to tiff") << "photo.jpg" << "out.tif";
        QTest::newRow("tiff to jpeg") << "photo.tif" << "out.jpeg";
        QTest::newRow("jpeg to png") << "photo.jpg" << "out.png";
        QTest::newRow("tiff to gif") << "photo.tif" << "out.gif";
    }

    // The packed entry goes back into the categories it came from, as far as
    // the target holds them; ";" in keywords and titles shifts nothing.
    void packedEntryWritten()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QImageReader reader(Path(source));
        const QImage image = reader.read();
        QVERIFY(!image.isNull());
        QString keys, values;
        PackedEntry(reader, keys, values);
        const QString path = Path(target);
        QVERIFY(WriteWith(image, path, keys, values));

        const QJsonObject tags = ExifTool(path, kTags);
        const QString suffix = QFileInfo(path).suffix();
        if (suffix == QLatin1String("png")) {
            QCOMPARE(tags.value(QStringLiteral("Title")).toString(), kTitle);
            QCOMPARE(tags.value(QStringLiteral("Comment")).toString(), kComment);
            return;
        }
        if (suffix == QLatin1String("gif")) {
            QCOMPARE(tags.value(QStringLiteral("Comment")).toString(), kComment);
            return;
        }
        QCOMPARE(tags.value(QStringLiteral("Make")).toString(), QStringLiteral("Acme"));
        QCOMPARE(tags.value(QStringLiteral("Model")).toString(), QStringLiteral("Lens 5"));
        QCOMPARE(tags.value(QStringLiteral("DateTimeOriginal")).toString(), QStringLiteral("2021:02:03 04:05:06"));
        QCOMPARE(Strings(tags.value(QStringLiteral("Keywords"))), QStringList({"pier", "sea;salt"}));
        QCOMPARE(tags.value(QStringLiteral("Title")).toString(), kTitle);
        const QString comment = suffix == QLatin1String("tif") ? QStringLiteral("ImageDescription")
                                                                : QStringLiteral("Comment");
        QCOMPARE(tags.value(comment).toString(), kComment);
        // Still a single picture: no Exif thumbnail became a second page.
        QCOMPARE(QImageReader(path).imageCount(), 1);
    }

    // The program reads pictures turned upright, so a target that keeps the
    // metadata of a turned photo says Orientation 1 in its Exif and its XMP:
    // no viewer turns it a second time.
    void orientationWrittenUpright_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("jpeg") << "upright.jpg";
        QTest::newRow("tiff") << "upright.tif";
    }

    void orientationWrittenUpright()
    {
        QFETCH(QString, target);
        const QString turned = Path(QStringLiteral("turned.jpg"));
        if (!QFile::exists(turned)) {
            QVERIFY(QFile::copy(jpeg, turned));
            QString error;
            QVERIFY2(Run(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                      QStringLiteral("-EXIF:Orientation#=6"),
                                                      QStringLiteral("-XMP-tiff:Orientation#=6"), turned},
                         nullptr, &error), qPrintable(error));
        }
        QImageReader reader(turned);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        QVERIFY(!image.isNull());
        QString keys, values;
        PackedEntry(reader, keys, values);
        const QString path = Path(target);
        QVERIFY(WriteWith(image, path, keys, values));

        QByteArray output;
        QVERIFY(Run(QStringLiteral("exiftool"), {QStringLiteral("-j"), QStringLiteral("-n"), QStringLiteral("-G"),
                                                 QStringLiteral("-Orientation"), path}, &output));
        const QJsonObject tags = QJsonDocument::fromJson(output).array().at(0).toObject();
        QCOMPARE(tags.value(QStringLiteral("EXIF:Orientation")).toInt(), 1);
        QCOMPARE(tags.value(QStringLiteral("XMP:Orientation")).toInt(), 1);
    }

    // Without the entry nothing is carried, but a colour profile is: dropping
    // it would change the colours.
    // Texts set on a writer by name come back under that name, as through
    // Qt's own handlers; a name Qt's reader would split at its colon is only
    // kept in the category layout.
    void namedTextsKeepQtConventions()
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        for (const QString& name : {QStringLiteral("named.png"), QStringLiteral("named.jpg")}) {
            QImageWriter writer(Path(name));
            writer.setText(QStringLiteral("Author"), QStringLiteral("Ann Example"));
            writer.setText(QStringLiteral("date:create"), QStringLiteral("2026-12-06"));
            QVERIFY2(writer.write(image), qPrintable(writer.errorString()));
            QImageReader reader(Path(name));
            QCOMPARE(reader.text(QStringLiteral("Author")), QStringLiteral("Ann Example"));
            QVERIFY2(!reader.textKeys().contains(QStringLiteral("date")), qPrintable(reader.textKeys().join(',')));
        }
    }

    void profileWithoutMetadata()
    {
        const QByteArray profile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
        QVERIFY(!profile.isEmpty());
        const QString icc = Path(QStringLiteral("adobe.icc"));
        QVERIFY(Save(icc, profile));
        const QString tagged = Path(QStringLiteral("tagged.jpg"));
        QString error;
        QVERIFY(QFile::copy(jpeg, tagged));
        QVERIFY2(Run(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                  QStringLiteral("-icc_profile<=") + icc, tagged}, nullptr, &error),
                 qPrintable(error));
        const QImage image = QImageReader(tagged).read();
        QCOMPARE(image.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));

        for (const QString& name : QStringList{"plain.jpg", "plain.tif", "plain.png", "plain.webp"}) {
            const QString path = Path(name);
            QVERIFY(WriteWith(image, path, QString(), QString()));
            QByteArray written;
            QVERIFY(Run(QStringLiteral("exiftool"), {QStringLiteral("-b"), QStringLiteral("-ICC_Profile"), path},
                        &written));
            QVERIFY2(written == profile, qPrintable(name));
            const QJsonObject tags = ExifTool(path, kTags);
            for (const QString& tag : QStringList{"Make", "Keywords", "Title", "Comment", "DateTimeOriginal"})
                QVERIFY2(!tags.contains(tag), qPrintable(name + QStringLiteral(": ") + tag));
        }
    }

    // Reading and writing with metadata on several threads at once gives
    // every thread the same files.
    void severalThreads()
    {
        const QList<int> jobs = {0, 1, 2, 3, 4, 5, 6, 7};
        const std::function<QByteArray(int)> convert = [this](int job) {
            QImageReader reader(job % 2 ? tiff : jpeg);
            const QImage image = reader.read();
            QString keys, values;
            PackedEntry(reader, keys, values);
            const QString path = Path(QStringLiteral("thread%1.%2").arg(job).arg(job % 2 ? "jpg" : "tif"));
            if (!WriteWith(image, path, keys, values))
                return QByteArray();
            return Load(path);
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
