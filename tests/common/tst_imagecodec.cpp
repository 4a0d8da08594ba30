// The codec table: lookups, names, capabilities and the read filter.
#include "testsupport.h"

#include "graphics/imagecodec.h"

#include <QSet>

// Vetoes every codec but PNG and TIFF.
class OnlyPngTiffVetoer : public PLMImageCodecVetoer
{
public:
    bool IsEnabled(PLMImageCodecID id, PLMImageIOType type) const override
    {
        return (id == PLMCodecPNG || id == PLMCodecTIFF) && PLMImageCodecVetoer::IsEnabled(id, type);
    }
};

class ImageCodecTest : public QObject
{
    Q_OBJECT

private slots:
    void lookupByExtension_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("id");
        QTest::newRow("lower jpg") << ".jpg" << 10;
        QTest::newRow("upper JPG") << ".JPG" << 10;
        QTest::newRow("mixed Jpeg") << ".Jpeg" << 10;
        QTest::newRow("without dot") << "jpg" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("dot only") << "." << -1;
        QTest::newRow("ithmb") << ".ithmb" << 8;
        QTest::newRow("pic is PICT") << ".pic" << 20;
        QTest::newRow("last codec") << ".xpm" << 60;
        QTest::newRow("first codec") << ".bmp" << 0;
        QTest::newRow("sinar ia") << ".ia" << 50;
        QTest::newRow("svgz") << ".SVGZ" << 54;
    }
    void lookupByExtension()
    {
        QFETCH(QString, extension);
        QFETCH(int, id);
        QCOMPARE(int(PLMImageCodec::GetID(extension)), id);
    }

    void codecFromFileName_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("id");
        QTest::newRow("tar.gz looks up .gz") << "/tmp/archive.tar.gz" << -1;
        QTest::newRow("ithmb") << "/var/photos/F1234_1.ithmb" << 8;
        QTest::newRow("upper case") << "C:/pictures/HOLIDAY.JPG" << 10;
        QTest::newRow("no dot") << "/tmp/README" << -1;
        QTest::newRow("dot folder") << "/tmp/a.png/file" << -1;
        QTest::newRow("last suffix counts") << "/tmp/photo.png.tif" << 56;
    }
    void codecFromFileName()
    {
        QFETCH(QString, fileName);
        QFETCH(int, id);
        QCOMPARE(int(PLMImageCodec(fileName).ID()), id);
    }

    void extensionsByIndex()
    {
        const PLMImageCodec jpeg(PLMCodecJPEG);
        QCOMPARE(jpeg.GetExtensions(), QStringList({".jif", ".jpe", ".jpg", ".jpeg"}));
        QCOMPARE(jpeg.GetExtension(3), QString(".jpeg"));
        QCOMPARE(jpeg.GetExtension(4), QString());
        QCOMPARE(jpeg.GetExtension(-1), QString());
    }

    // Every extension maps back to the codec that lists it, the runs are
    // contiguous and in codec order, and the table holds 100 entries.
    void extensionTableIsConsistent()
    {
        QCOMPARE(PLMImageCodec::ExtensionCount(), 100);
        int total = 0;
        QSet<QString> seen;
        for (int id = 0; id < PLMCodecCount; ++id) {
            const QStringList extensions = PLMImageCodec(PLMImageCodecID(id)).GetExtensions();
            QVERIFY2(!extensions.isEmpty(), qPrintable(QString::number(id)));
            for (const QString& extension : extensions) {
                QVERIFY(extension.startsWith('.'));
                QCOMPARE(extension, extension.toLower());
                QVERIFY2(!seen.contains(extension), qPrintable(extension));
                seen.insert(extension);
                QCOMPARE(int(PLMImageCodec::GetID(extension)), id);
            }
            total += extensions.size();
        }
        QCOMPARE(total, 100);
    }

    void identifiersOutsideTheTableAreHarmless()
    {
        for (int id : {-1, 64, 65, 1000, -5}) {
            const PLMImageCodec codec{PLMImageCodecID(id)};
            QCOMPARE(int(codec.ID()), id);
            QVERIFY(codec.GetName().isEmpty() && codec.GetDescription().isEmpty());
            QVERIFY(codec.GetExtensions().isEmpty() && codec.GetExtension(0).isEmpty());
            QVERIFY(!PLMImageCodec::HasOptions(PLMImageCodecID(id)) && !PLMImageCodec::CanKeepMetadata(PLMImageCodecID(id)));
            QVERIFY(!PLMImageCodecVetoer().IsEnabled(PLMImageCodecID(id), PLMImageIORead));
        }
    }

    void capabilities()
    {
        const PLMImageCodecVetoer vetoer;
        QStringList writable;
        QList<int> withOptions;
        QList<int> withMetadata;
        for (int id = 0; id < PLMCodecCount; ++id) {
            const PLMImageCodecID codec = PLMImageCodecID(id);
            QVERIFY(vetoer.IsEnabled(codec, PLMImageIORead));
            QVERIFY(!vetoer.IsEnabled(codec, PLMImageIONone));
            QVERIFY(!vetoer.IsEnabled(codec, PLMImageIOType(3)));
            QVERIFY(!vetoer.IsEnabled(codec, PLMImageIOType(-1)));
            if (vetoer.IsEnabled(codec, PLMImageIOWrite))
                writable << PLMImageCodec(codec).GetName();
            if (PLMImageCodec::HasOptions(codec))
                withOptions << id;
            if (PLMImageCodec::CanKeepMetadata(codec))
                withMetadata << id;
        }
        QCOMPARE(writable, QStringList({"BMP", "GIF", "HDR", "ICO", "JNG", "JPEG", "JPEG2000", "JPEG XR", "PDF",
                                        "PFM", "PNG", "PNM", "TGA", "TIFF", "WBMP", "WEBP", "XBM", "XPM",
                                        "HEIF", "AVIF", "JPEG XL"}));
        QCOMPARE(withOptions, QList<int>({6, 10, 11, 12, 18, 58, 61, 62, 63}));
        QCOMPARE(withMetadata, QList<int>({4, 10, 21, 56, 61, 62, 63}));
    }

    // "All Images" first, then every codec by description, sorted case-sensitively.
    void readFilter()
    {
        QString filter = "stale text";
        GetReadFilter(filter, PLMImageCodecVetoer());
        QVERIFY(filter.startsWith("All Images (*.bmp;*.dds;"));
        const int groupEnd = filter.indexOf(");; ");
        QVERIFY(groupEnd > 0);
        const QStringList patterns = filter.mid(12, groupEnd - 12).split(';');
        QCOMPARE(patterns.size(), 100);
        QCOMPARE(patterns.last(), QString("*.jxl"));
        const QStringList entries = filter.mid(groupEnd + 4).split(";; ");
        QCOMPARE(entries.size(), 64);
        QCOMPARE(entries.first(), QString("AV1 Image File Format (*.avif)"));
        QCOMPARE(entries.last(), QString("iOS Thumnail Image (*.ithmb)"));
        QVERIFY(entries.contains("Joint Photographic Experts Group (*.jif;*.jpe;*.jpg;*.jpeg)"));
        QStringList sorted = entries;
        sorted.sort(Qt::CaseSensitive);
        QCOMPARE(entries, sorted);
    }

    void readFilterHonoursTheVetoerButNotInAllImages()
    {
        QString filter;
        GetReadFilter(filter, OnlyPngTiffVetoer());
        QCOMPARE(filter.count("*."), 100 + 3);
        QVERIFY(filter.endsWith(");; Portable Network Graphics (*.png);; Tagged Image File Format (*.tif;*.tiff)"));
    }
};

KORVANE_TEST_MAIN(ImageCodecTest)
#include "tst_imagecodec.moc"
