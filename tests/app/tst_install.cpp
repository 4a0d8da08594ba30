// The installed program: `cmake --install` into a temporary DESTDIR, the installed korvane started offscreen with
// files and a folder on its command line (a preloaded probe reports what it shows), and the desktop files.
#include "ithmbfixtures.h"
#include "testsupport.h"

#include "imagecodecvetoer.h"

#include <QMimeDatabase>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace {

// Exit code (-1 when it crashed or hung) and everything printed.
QPair<int, QByteArray> Run(const QString& program, const QStringList& arguments,
                           QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                           const QString& folder = QString())
{
    QProcess process;
    environment.remove(QStringLiteral("QT_PLUGIN_PATH"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    if (!ended)
        process.kill();
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput() + process.readAllStandardError()};
}

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dest;
    QString Usr(const QString& path) const { return dest.path() + QStringLiteral("/usr/") + path; }

private slots:
    void initTestCase()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), dest.path());
        const auto install = Run(QStringLiteral(KORVANE_CMAKE_COMMAND), {"--install", KORVANE_BUILD_DIR, "--prefix", "/usr"}, environment);
        QVERIFY2(install.first == 0, install.second.constData());
    }

    void infoOptionsNeedNoDisplay_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("version") << "--version" << QByteArray("korvane " KORVANE_VERSION "\n");
        QTest::newRow("help") << "-h" << QByteArray("Usage: korvane [OPTION]... [FILE | FOLDER]...\n");
    }

    // Answered with no display at all, before the settings are touched.
    void infoOptionsNeedNoDisplay()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, answer);
        QTemporaryDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("XDG_CONFIG_HOME", config.path());
        const auto outcome = Run(Usr("bin/korvane"), {option}, environment);
        QCOMPARE(outcome.first, 0);
        QVERIFY2(outcome.second.startsWith(answer), outcome.second.constData());
        QVERIFY(QDir(config.path()).isEmpty());
    }

    // Named files land in the source list as dropped ones do, a folder as "Add Folder" walks it; the plugins come
    // from the installed folder; the preview has the screen's pixels.
    void startsWithFilesFromTheCommandLine()
    {
        QTemporaryDir work;
        QImage photo(64, 48, QImage::Format_RGB32);
        photo.fill(Qt::darkGreen);
        QVERIFY(photo.save(work.filePath("photo.jpg")));
        Write(work.filePath("album/sub/thumbs.ithmb"), Ithmb::Jpeg(40, 24, Qt::red, QString()) + Ithmb::Jpeg(16, 48, Qt::blue, QString()));
        Write(work.filePath("album/notes.txt"), "walked like Add Folder");
        Write(work.filePath("album/README"), "no dot: not walked");
        Write(work.filePath("unknown.xyz"), "no codec: not dropped");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", work.filePath("config"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("QT_SCALE_FACTOR", "2");
        environment.insert("LD_PRELOAD", KORVANE_PROBE);
        environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");   // sanitizer builds
        environment.insert("KORVANE_PROBE_OUT", work.filePath("report"));
        environment.insert("KORVANE_PROBE_READ", work.filePath("photo.jpg") + ' ' + work.filePath("album/sub/thumbs.ithmb"));
        const auto outcome = Run(Usr("bin/korvane"), {"photo.jpg", "album/", "unknown.xyz", "missing.jpg"},
                                 environment, work.path());
        QVERIFY2(outcome.first == 0, outcome.second.constData());
        QFile file(work.filePath("report"));
        QVERIFY2(file.open(QIODevice::ReadOnly), "the probe wrote no report");
        const QStringList report = QString::fromUtf8(file.readAll()).split('\n');
        QCOMPARE(report.size(), 5);
        QStringList rows = report.at(0).split(' ');
        rows.sort();
        QCOMPARE(rows, QStringList({"notes|TXT|" + work.filePath("album"), "photo|JPG|" + work.path(),
                                    "thumbs|ITHMB|" + work.filePath("album/sub")}));
        QVERIFY2(report.at(1).contains("3 / 3 source files selected"), qPrintable(report.at(1)));
        QCOMPARE(report.at(2), QStringLiteral("64x48 40x24"));
        const QString plugins = Usr(KORVANE_INSTALL_PLUGIN_DIR "/");
        QStringList loaded = report.at(3).split(' ');
        loaded.sort();
        QVERIFY2(loaded == QStringList({plugins + "libdrumlet.so", plugins + "libkorvanefi.so"}), qPrintable(report.at(3)));
        // Pixel ratio, pixels wide, label width; the label's frame may have grown it a little since the picture was
        // made for it.
        const QStringList preview = report.at(4).split(' ');
        QCOMPARE(preview.at(0), QStringLiteral("2"));
        QVERIFY2(qAbs(preview.at(1).toInt() - 2 * preview.at(2).toInt()) <= 8, qPrintable(report.at(4)));
        // It wrote the plugin switches, and its clean end disarmed the crash flag.
        const QSettings switches(work.filePath("config/Pelmora/Plugins.conf"), QSettings::IniFormat);
        for (const char* plugin : {"FreeImage", "Xpdf", "Ithmb"})
            QVERIFY2(switches.value(plugin).toBool(), plugin);
        QCOMPARE(QSettings(work.filePath("config/Pelmora/Korvane.conf"), QSettings::IniFormat).value("MainWindow/Closed").toBool(), true);
    }

    void validates_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList{Usr("share/applications/com.pelmora.Korvane.desktop")};
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{"validate", "--no-net", Usr("share/metainfo/com.pelmora.Korvane.metainfo.xml")};
    }

    void validates()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(tool);
        if (program.isEmpty())
            QSKIP("the validator is not installed (desktop-file-utils, appstream)");
        const auto outcome = Run(program, arguments);
        QVERIFY2(outcome.first == 0 && !outcome.second.contains("warning"), outcome.second.constData());
    }

    // Every MIME type the entry offers the program for is one whose own suffix names a readable format; the installed
    // package defines .ithmb.
    void offeredTypesAreReadable()
    {
        const QString updater = QStandardPaths::findExecutable("update-mime-database");
        if (updater.isEmpty())
            QSKIP("update-mime-database is not installed (shared-mime-info)");
        QCOMPARE(Run(updater, {Usr("share/mime")}).first, 0);
        // Read when the first database of this process is made.
        qputenv("XDG_DATA_DIRS", QFile::encodeName(Usr("share")) + ":/usr/local/share:/usr/share");
        QFile entry(Usr("share/applications/com.pelmora.Korvane.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        const QStringList types = QRegularExpression("^MimeType=(.*)$", QRegularExpression::MultilineOption)
                                      .match(text).captured(1).split(';', Qt::SkipEmptyParts);
        QVERIFY(types.contains("image/jpeg") && types.contains("image/x-ithmb"));
        for (const QString& name : types) {
            // Not any suffix: packet captures share .cap with Phase One raw files.
            const QString suffix = QMimeDatabase().mimeTypeForName(name).preferredSuffix();
            const PLMImageCodecID id = PLMImageCodec::GetID('.' + suffix);
            QVERIFY2(id != PLMCodecInvalid && ImageCodecVetoer().IsEnabled(id, PLMImageIORead), qPrintable(name));
        }
    }
};

KORVANE_TEST_MAIN(InstallTest)
#include "tst_install.moc"
