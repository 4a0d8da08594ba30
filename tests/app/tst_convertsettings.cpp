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
            QCOMPARE(store.childKeys().size(), 18);
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
        QCOMPARE(loaded.PageSize, saved.PageSize);
        QCOMPARE(loaded.PageOri, saved.PageOri);
        QCOMPARE(loaded.Align, saved.Align);
        QCOMPARE(loaded.ICODim, saved.ICODim);
        QCOMPARE(loaded.Exists, saved.Exists);
        QCOMPARE(loaded.TgtDPISameSrc, saved.TgtDPISameSrc);
        QCOMPARE(loaded.TgtDPI, saved.TgtDPI);
        QCOMPARE(loaded.KeepMd, saved.KeepMd);
    }

    void loadSurvivesCorruptStore()
    {
        // Values are taken as stored; the range checks belong to the batch start.
        WriteRaw(QStringLiteral("TgtDPI"), 5000);
        WriteRaw(QStringLiteral("Exists"), 7);
        WriteRaw(QStringLiteral("TgtID"), 999);
        WriteRaw(QStringLiteral("JPEGCmpsnQuality"), QStringLiteral("very high"));
        WriteRaw(QStringLiteral("PageSize"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
        ConvertSettings settings;
        settings.Load();
        QCOMPARE(settings.TgtDPI, 5000);
        QCOMPARE(settings.Exists, 7);
        // A value that does not convert gives the conversion's zero, not the default.
        QCOMPARE(settings.JPEGCmpsnQuality, 0);
        QCOMPARE(settings.PageSize, 0);
        // An identifier outside the codec table means no codec.
        QCOMPARE(settings.TgtID, PLMCodecInvalid);

        WriteRaw(QStringLiteral("TgtID"), -2147483647 - 1);
        settings.Load();
        QCOMPARE(settings.TgtID, PLMCodecInvalid);
        WriteRaw(QStringLiteral("TgtID"), 58);
        settings.Load();
        QCOMPARE(settings.TgtID, PLMCodecWEBP);
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
