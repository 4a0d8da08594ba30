// The conversion options record and its storage in group "CSettings".
#include "convertsettings.h"
#include "testsupport.h"

#include <QSettings>

class ConvertSettingsTest : public QObject
{
    Q_OBJECT

private:
    static void ClearStore()
    {
        QSettings(QStringLiteral("Pelmora"), QStringLiteral("Korvane")).clear();
    }

    static void WriteRaw(const QString& key, const QVariant& value)
    {
        QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
        settings.setValue(QStringLiteral("CSettings/") + key, value);
    }

private slots:
    void init() { ClearStore(); }

    void loadFromEmptyStoreGivesDefaults()
    {
        ConvertSettings settings;
        settings.TgtFolder = QStringLiteral("/somewhere");
        settings.TgtDPI = 300;
        settings.KeepMd = true;
        settings.Load();
        QCOMPARE(settings.TgtFolder, QStringLiteral("Same as source file"));
        QCOMPARE(settings.TgtFormat, QStringLiteral(".png"));
        QCOMPARE(int(settings.TgtID), 21);
        QCOMPARE(settings.J2000LlCmpsn, false);
        QCOMPARE(settings.J2000CmpsnRate, 1);
        QCOMPARE(settings.WEBPLlCmpsn, false);
        QCOMPARE(settings.WEBPCmpsnQuality, 100);
        QCOMPARE(settings.JPEGXRLlCmpsn, false);
        QCOMPARE(settings.JPEGXRCmpsnQuality, 99);
        QCOMPARE(settings.JPEGCmpsnQuality, 100);
        QCOMPARE(settings.PageSize, 0);
        QCOMPARE(settings.PageOri, 0);
        QCOMPARE(settings.Align, 0);
        QCOMPARE(settings.ICODim, 32);
        QCOMPARE(settings.Exists, 0);
        QCOMPARE(settings.TgtDPISameSrc, true);
        QCOMPARE(settings.TgtDPI, 72);
        QCOMPARE(settings.KeepMd, false);
        // Loading touches only the options, never the edits.
        QCOMPARE(settings.edited, false);
    }

    void saveThenLoadReproducesEveryField()
    {
        ConvertSettings saved;
        saved.TgtFolder = QStringLiteral("/tmp/Фото 写真 Ünïcødé");
        saved.TgtFormat = QStringLiteral(".jpeg");
        saved.TgtID = PLMCodecJPEG;
        saved.J2000LlCmpsn = true;
        saved.J2000CmpsnRate = 37;
        saved.WEBPLlCmpsn = true;
        saved.WEBPCmpsnQuality = 41;
        saved.JPEGXRLlCmpsn = true;
        saved.JPEGXRCmpsnQuality = 43;
        saved.JPEGCmpsnQuality = 47;
        saved.HEIFCmpsnQuality = 53;
        saved.AVIFLlCmpsn = true;
        saved.AVIFCmpsnQuality = 59;
        saved.JXLLlCmpsn = true;
        saved.JXLCmpsnQuality = 61;
        saved.PageSize = 3;
        saved.PageOri = 1;
        saved.Align = 1;
        saved.ICODim = 1 | 4 | 32;
        saved.Exists = 1;
        saved.TgtDPISameSrc = false;
        saved.TgtDPI = 2400;
        saved.KeepMd = true;
        saved.Save();

        {
            QSettings store(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
            store.beginGroup(QStringLiteral("CSettings"));
            QCOMPARE(store.childKeys().size(), 23);
            QCOMPARE(store.value(QStringLiteral("TgtFolder")).toString(), saved.TgtFolder);
        }

        ConvertSettings loaded;
        loaded.Load();
        QCOMPARE(loaded.TgtFolder, saved.TgtFolder);
        QCOMPARE(loaded.TgtFormat, saved.TgtFormat);
        QCOMPARE(loaded.TgtID, saved.TgtID);
        QCOMPARE(loaded.J2000LlCmpsn, saved.J2000LlCmpsn);
        QCOMPARE(loaded.J2000CmpsnRate, saved.J2000CmpsnRate);
        QCOMPARE(loaded.WEBPLlCmpsn, saved.WEBPLlCmpsn);
        QCOMPARE(loaded.WEBPCmpsnQuality, saved.WEBPCmpsnQuality);
        QCOMPARE(loaded.JPEGXRLlCmpsn, saved.JPEGXRLlCmpsn);
        QCOMPARE(loaded.JPEGXRCmpsnQuality, saved.JPEGXRCmpsnQuality);
        QCOMPARE(loaded.JPEGCmpsnQuality, saved.JPEGCmpsnQuality);
        QCOMPARE(loaded.HEIFCmpsnQuality, saved.HEIFCmpsnQuality);
        QCOMPARE(loaded.AVIFLlCmpsn, saved.AVIFLlCmpsn);
        QCOMPARE(loaded.AVIFCmpsnQuality, saved.AVIFCmpsnQuality);
        QCOMPARE(loaded.JXLLlCmpsn, saved.JXLLlCmpsn);
        QCOMPARE(loaded.JXLCmpsnQuality, saved.JXLCmpsnQuality);
        QCOMPARE(loaded.PageSize, saved.PageSize);
        QCOMPARE(loaded.PageOri, saved.PageOri);
        QCOMPARE(loaded.Align, saved.Align);
        QCOMPARE(loaded.ICODim, saved.ICODim);
        QCOMPARE(loaded.Exists, saved.Exists);
        QCOMPARE(loaded.TgtDPISameSrc, saved.TgtDPISameSrc);
        QCOMPARE(loaded.TgtDPI, saved.TgtDPI);
        QCOMPARE(loaded.KeepMd, saved.KeepMd);
    }

    // A value outside what its option can hold (a damaged or hand-edited
    // store) loads as the default, and is then saved as that.
    void loadReplacesOutOfRangeValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("DPI 0") << "TgtDPI" << QVariant(0) << "72";
        QTest::newRow("DPI 5000") << "TgtDPI" << QVariant(5000) << "72";
        QTest::newRow("DPI 2400 kept") << "TgtDPI" << QVariant(2400) << "2400";
        QTest::newRow("JPEG quality 99999") << "JPEGCmpsnQuality" << QVariant(99999) << "100";
        QTest::newRow("JPEG quality text") << "JPEGCmpsnQuality" << QVariant("very high") << "100";
        QTest::newRow("JPEG quality 1 kept") << "JPEGCmpsnQuality" << QVariant(1) << "1";
        QTest::newRow("JPEG XR quality 100") << "JPEGXRCmpsnQuality" << QVariant(100) << "99";
        QTest::newRow("WebP quality -5") << "WEBPCmpsnQuality" << QVariant(-5) << "100";
        QTest::newRow("AVIF quality 256") << "AVIFCmpsnQuality" << QVariant(256) << "80";
        QTest::newRow("JPEG 2000 rate 0") << "J2000CmpsnRate" << QVariant(0) << "1";
        QTest::newRow("page size 99") << "PageSize" << QVariant(99) << "0";
        QTest::newRow("page size 1") << "PageSize" << QVariant(1) << "0";
        QTest::newRow("page size 3 kept") << "PageSize" << QVariant(3) << "3";
        QTest::newRow("page size list") << "PageSize" << QVariant(QStringList{"a", "b"}) << "0";
        QTest::newRow("orientation 2") << "PageOri" << QVariant(2) << "0";
        QTest::newRow("alignment -1") << "Align" << QVariant(-1) << "0";
        QTest::newRow("icon sizes -1") << "ICODim" << QVariant(-1) << "32";
        QTest::newRow("icon sizes 0") << "ICODim" << QVariant(0) << "32";
        QTest::newRow("icon sizes 64") << "ICODim" << QVariant(64) << "32";
        QTest::newRow("icon sizes 63 kept") << "ICODim" << QVariant(63) << "63";
        QTest::newRow("exists 7") << "Exists" << QVariant(7) << "0";
        QTest::newRow("codec 999") << "TgtID" << QVariant(999) << "21";
        QTest::newRow("codec INT_MIN") << "TgtID" << QVariant(-2147483647 - 1) << "21";
        QTest::newRow("codec DDS, not writable") << "TgtID" << QVariant(1) << "21";
        QTest::newRow("codec WebP kept") << "TgtID" << QVariant(58) << "58";
    }

    void loadReplacesOutOfRangeValues()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QString, loaded);
        WriteRaw(key, stored);
        ConvertSettings settings;
        settings.Load();
        settings.Save();
        const QVariant saved = QSettings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"))
                                   .value(QStringLiteral("CSettings/") + key);
        QCOMPARE(saved.toString(), loaded);
    }

    // The extension must be one of the codec's own.
    void targetFormatFollowsTheCodec()
    {
        WriteRaw(QStringLiteral("TgtID"), 58);
        ConvertSettings settings;
        settings.Load();
        QCOMPARE(settings.TgtFormat, QStringLiteral(".webp"));
        WriteRaw(QStringLiteral("TgtID"), 10);
        WriteRaw(QStringLiteral("TgtFormat"), QStringLiteral(".JPEG"));
        settings.Load();
        QCOMPARE(settings.TgtID, PLMCodecJPEG);
        QCOMPARE(settings.TgtFormat, QStringLiteral(".JPEG"));
    }

    void setTgtFolderAcceptsOnlySameAsSourceOrExistingFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ConvertSettings settings;
        QVERIFY(settings.SetTgtFolder(dir.path()));
        QCOMPARE(settings.TgtFolder, dir.path());
        QVERIFY(settings.SetTgtFolder(QStringLiteral("Same as source file")));
        QCOMPARE(settings.TgtFolder, QStringLiteral("Same as source file"));

        // Compared case-sensitively: another spelling is a path, and no such folder exists.
        QVERIFY(!settings.SetTgtFolder(QStringLiteral("same as source file")));
        QVERIFY(!settings.SetTgtFolder(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!settings.SetTgtFolder(QString()));
        QCOMPARE(settings.TgtFolder, QStringLiteral("Same as source file"));
    }
};

KORVANE_TEST_MAIN(ConvertSettingsTest)
#include "tst_convertsettings.moc"
