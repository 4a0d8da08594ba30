// The conversion options record and its storage in group "CSettings".
#include "convertsettings.h"
#include "testsupport.h"

#include <QSettings>

class ConvertSettingsTest : public QObject
{
    Q_OBJECT

private:
    static void ClearStore() { QSettings(QStringLiteral("Pelmora"), QStringLiteral("Korvane")).clear(); }
    static void WriteRaw(const QString& key, const QVariant& value)
    {
        QSettings(QStringLiteral("Pelmora"), QStringLiteral("Korvane")).setValue(QStringLiteral("CSettings/") + key, value);
    }

    // The group as sorted "key=value" texts.
    static QStringList Stored()
    {
        QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
        settings.beginGroup(QStringLiteral("CSettings"));
        QStringList entries;
        for (const QString& key : settings.childKeys())
            entries << key + QLatin1Char('=') + settings.value(key).toString();
        entries.sort(Qt::CaseInsensitive);
        return entries;
    }

private slots:
    void init() { ClearStore(); }

    // Loading an empty store gives the defaults (and touches only the options, never the edits); saving writes every
    // option.
    void loadFromEmptyStoreGivesDefaults()
    {
        ConvertSettings settings;
        settings.TgtFolder = QStringLiteral("/somewhere");
        settings.TgtDPI = 300;
        settings.KeepMd = true;
        settings.edited = true;
        settings.Load();
        QVERIFY(settings.edited);
        settings.Save();
        QCOMPARE(Stored(), QStringList({"Align=0", "AVIFCmpsnQuality=80", "AVIFLlCmpsn=false", "Exists=0",
                                        "HEIFCmpsnQuality=80", "ICODim=32", "J2000CmpsnRate=1", "J2000LlCmpsn=false",
                                        "JPEGCmpsnQuality=100", "JPEGXRCmpsnQuality=99", "JPEGXRLlCmpsn=false",
                                        "JXLCmpsnQuality=80", "JXLLlCmpsn=false", "KeepMd=false", "PageOri=0",
                                        "PageSize=0", "TgtDPI=72", "TgtDPISameSrc=true", "TgtFolder=Same as source file",
                                        "TgtFormat=.png", "TgtID=21", "WEBPCmpsnQuality=100", "WEBPLlCmpsn=false"}));
    }

    // Every option saved comes back: a second save writes the same store.
    void saveThenLoadReproducesEveryField()
    {
        ConvertSettings saved;
        saved.TgtFolder = QStringLiteral("/tmp/Фото 写真 Ünïcødé");
        saved.TgtFormat = QStringLiteral(".jpeg");
        saved.TgtID = PLMCodecJPEG;
        saved.J2000LlCmpsn = saved.WEBPLlCmpsn = saved.JPEGXRLlCmpsn = saved.AVIFLlCmpsn = saved.JXLLlCmpsn = true;
        saved.J2000CmpsnRate = 37;
        saved.WEBPCmpsnQuality = 41;
        saved.JPEGXRCmpsnQuality = 43;
        saved.JPEGCmpsnQuality = 47;
        saved.HEIFCmpsnQuality = 53;
        saved.AVIFCmpsnQuality = 59;
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
        const QStringList store = Stored();
        QCOMPARE(store.size(), 23);
        QVERIFY(store.contains("TgtFolder=" + saved.TgtFolder));
        ConvertSettings loaded;
        loaded.Load();
        ClearStore();
        loaded.Save();
        QCOMPARE(Stored(), store);
    }

    // A value outside what its option can hold (a damaged or hand-edited store) loads as the default, and is then
    // saved as that.
    void loadReplacesOutOfRangeValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("loaded");
        struct Row { const char* key; QVariant stored; const char* loaded; };
        const Row rows[] = {
            {"TgtDPI", 0, "72"}, {"TgtDPI", 5000, "72"}, {"TgtDPI", 2400, "2400"}, {"JPEGCmpsnQuality", 99999, "100"},
            {"JPEGCmpsnQuality", "very high", "100"}, {"JPEGCmpsnQuality", 1, "1"}, {"JPEGXRCmpsnQuality", 100, "99"},
            {"WEBPCmpsnQuality", -5, "100"}, {"AVIFCmpsnQuality", 256, "80"}, {"J2000CmpsnRate", 0, "1"},
            {"PageSize", 99, "0"}, {"PageSize", 1, "0"}, {"PageSize", 3, "3"}, {"PageSize", QStringList{"a", "b"}, "0"},
            {"PageOri", 2, "0"}, {"Align", -1, "0"}, {"ICODim", -1, "32"}, {"ICODim", 0, "32"}, {"ICODim", 64, "32"},
            {"ICODim", 63, "63"}, {"Exists", 7, "0"}, {"TgtID", 999, "21"}, {"TgtID", -2147483647 - 1, "21"},
            {"TgtID", 1, "21"},     // DDS, not writable
            {"TgtID", 58, "58"}};
        for (const Row& row : rows)
            QTest::addRow("%s %s", row.key, qPrintable(row.stored.toString())) << row.key << row.stored << row.loaded;
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
