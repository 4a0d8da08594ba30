#include "testsupport.h"

#include "mainwindow.h"

#include <QProcess>
#include <QSettings>

class StartupTest : public QObject
{
    Q_OBJECT

    static QVariant stored(const QString& key)
    {
        return QSettings("Pelmora", "Korvane").value(key);
    }

private slots:
    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
    }

    void firstRunNeedsNoReportAndArmsTheFlag()
    {
        QVERIFY(!stored("MainWindow/Closed").isValid());
        QVERIFY(!LastRunCrashed());
        QCOMPARE(stored("MainWindow/Closed"), QVariant(false));
    }

    void cleanEndThenKilledRunThenCleanEnd()
    {
        QVERIFY(!LastRunCrashed());
        { MainWindow window; }                     // a run that ends normally
        QCOMPARE(stored("MainWindow/Closed").toBool(), true);

        QVERIFY(!LastRunCrashed());                // next start: clean
        // ...and this run is killed: the window is never destroyed.
        QVERIFY(LastRunCrashed());                 // the start after it reports once
        QCOMPARE(stored("MainWindow/Closed").toBool(), false);
        { MainWindow window; }
        QVERIFY(!LastRunCrashed());
    }

    void reportCrashOffSuppressesButStillRearms()
    {
        SetReportCrash(false);
        QCOMPARE(stored("Settings/ReportCrash"), QVariant(false));
        QVERIFY(!LastRunCrashed());
        QVERIFY(!LastRunCrashed());                // killed twice: still no report
        QCOMPARE(stored("MainWindow/Closed").toBool(), false);
        { MainWindow window; }
        QCOMPARE(stored("MainWindow/Closed").toBool(), true);
        SetReportCrash(true);
        QVERIFY(!LastRunCrashed());
        QVERIFY(LastRunCrashed());
    }

    void unreadableClosedValueCountsAsClean()
    {
        QSettings("Pelmora", "Korvane").setValue("MainWindow/Closed", "garbage");
        QVERIFY(!LastRunCrashed());
    }

    void programPluginFolderComesFirst()
    {
        const QString folder = ProgramPluginFolder();
        QVERIFY2(!folder.isEmpty(), "the tests run beside the program, next to its imageformats folder");
        QVERIFY(QDir(folder).exists("imageformats"));
        QCOMPARE(QCoreApplication::libraryPaths().first(), folder);
    }

    // The real program, started and killed: the switches are written, the
    // flag is armed; started again and quit cleanly, it stores "Closed".
    void realProgramArmsTheFlagAndWritesTheSwitches()
    {
        const QString program = QCoreApplication::applicationDirPath() + "/korvane";
        if (!QFileInfo::exists(program))
            QSKIP("the program is not built beside the tests");
        QTemporaryDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        {
            QSettings plugins(config.path() + "/Pelmora/Plugins.conf", QSettings::IniFormat);
            plugins.setValue("Ithmb", false);
        }

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, QStringList());
        QVERIFY(process.waitForStarted());
        const QString store = config.path() + "/Pelmora/Korvane.conf";
        QTRY_VERIFY_WITH_TIMEOUT(QSettings(store, QSettings::IniFormat).contains("MainWindow/Closed"), 20000);
        process.kill();
        process.waitForFinished();

        QCOMPARE(QSettings(store, QSettings::IniFormat).value("MainWindow/Closed").toBool(), false);
        QSettings plugins(config.path() + "/Pelmora/Plugins.conf", QSettings::IniFormat);
        QCOMPARE(plugins.value("FreeImage").toBool(), true);
        QCOMPARE(plugins.value("Xpdf").toBool(), true);
        QCOMPARE(plugins.value("Ithmb").toBool(), true);

        // A normal end (SIGTERM is not one; quit through the event loop instead)
        // is covered in-process above; here only check that the killed run left
        // no main-window options behind, since its destructor never ran.
        QVERIFY(!QSettings(store, QSettings::IniFormat).contains("CSettings/TgtFormat"));
    }
};

KORVANE_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
