// korvane-convert run as a user runs it: exit status, the files it leaves, its JSON lines, watermarks where the
// editor puts them, and Ctrl+C.
#include "testsupport.h"

#include "tst_multipagetiff.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>
#include <unistd.h>

namespace {

struct Run { int code; QByteArray out, err; };

Run Convert(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(KORVANE_CONVERT), arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// The JSON lines by the file name of their source.
QMap<QString, QJsonObject> Results(const QByteArray& out)
{
    QMap<QString, QJsonObject> results;
    for (const QByteArray& line : out.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            results.insert(QFileInfo(object.value("source").toString()).fileName(), object);
    }
    return results;
}

// Every entry of a folder, hidden ones too.
QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Width and height of each file as ImageMagick reads them, warnings as errors.
QStringList Sizes(const QString& folder, const QStringList& files)
{
    QProcess identify;
    identify.setWorkingDirectory(folder);
    identify.start(QStringLiteral("identify"), QStringList{"-regard-warnings", "-format", "%wx%h\n"} + files);
    identify.waitForFinished(60000);
    return identify.exitCode() == 0 ? QString::fromLatin1(identify.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)
                                    : QStringList{QStringLiteral("unreadable")};
}

QImage Picture(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, colour.lighter(100 + (x + y) % 40).rgb());
    return image;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir root;
    int folders = 0;
    QString NewFolder()
    {
        const QString path = root.filePath(QString::number(++folders));
        QDir().mkpath(path);
        return path;
    }

private slots:
    void mixedFolder()
    {
        const QString src = NewFolder();
        const QString out = root.filePath(QStringLiteral("mixed-out"));
        QDir(src).mkpath(QStringLiteral("sub"));
        QVERIFY(Picture(120, 90, Qt::darkGreen).save(src + "/a.jpg", "JPEG", 90));
        QVERIFY(Picture(50, 70, Qt::blue).save(src + "/sub/b.png"));
        QVERIFY(Write(src + "/scan.tif", MakeMultiPageTiff({Picture(64, 48, Qt::red), Picture(32, 24, Qt::gray),
                                                            Picture(16, 12, Qt::cyan)})));
        QFile whole(src + "/a.jpg");
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QVERIFY(Write(src + "/broken.jpg", whole.read(whole.size() / 2)));     // cut off in the middle of its data
        const Run run = Convert({"-r", "--json", "-j", "2", "-f", "png", "-o", out, src});
        QCOMPARE(run.code, 1);
        const QStringList files{"a.png", "b.png", "scan-page1.png", "scan-page2.png", "scan-page3.png"};
        QCOMPARE(Entries(out), files);
        QCOMPARE(Sizes(out, files), QStringList({"120x90", "50x70", "64x48", "32x24", "16x12"}));
        const QMap<QString, QJsonObject> results = Results(run.out);
        QCOMPARE(results.keys(), QStringList({"a.jpg", "b.png", "broken.jpg", "scan.tif"}));
        QCOMPARE(results["a.jpg"].value("state").toString(), QStringLiteral("succeeded"));
        QCOMPARE(results["a.jpg"].value("targets").toArray().first().toString(), out + "/a.png");
        QCOMPARE(results["scan.tif"].value("targets").toArray().size(), 3);
        const QJsonObject failed = results["broken.jpg"];
        const QString why = failed.value("error").toString();
        QVERIFY(failed.value("state").toString() == "failed" && failed.value("targets").toArray().isEmpty() && !why.isEmpty());
        // Standard error is no terminal: the failure alone, with its reason.
        QCOMPARE(QString::fromLocal8Bit(run.err), QStringLiteral("korvane-convert: %1/broken.jpg: %2\n").arg(src, why));
        QVERIFY(!QFile::exists(KorvaneTest::StoreFile(QStringLiteral("Korvane"))));
    }

    void existingTargets_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("unique") << QStringList() << false;
        QTest::newRow("overwrite, saved") << QStringList{"--exists", "overwrite", "--save-settings"} << true;
    }

    void existingTargets()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, replaced);
        QFile::remove(KorvaneTest::StoreFile(QStringLiteral("Korvane")));
        const QString folder = NewFolder();
        QVERIFY(Picture(40, 30, Qt::yellow).save(folder + "/a.png"));
        QDir().mkpath(folder + "/out");
        QVERIFY(Write(folder + "/out/a.png", "old"));
        const Run run = Convert(options + QStringList{"--json", "-o", folder + "/out", folder + "/a.png"});
        QCOMPARE(run.code, 0);
        const QString target = folder + (replaced ? "/out/a.png" : "/out/a-1.png");
        QCOMPARE(Results(run.out)["a.png"].value("targets").toArray(), QJsonArray{target});
        QCOMPARE(Entries(folder + "/out"), replaced ? QStringList{"a.png"} : QStringList({"a-1.png", "a.png"}));
        QCOMPARE(Sizes(folder + "/out", {QFileInfo(target).fileName()}), QStringList{"40x30"});
        // The window's store is written only when asked, with what was asked.
        QSettings store(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
        QCOMPARE(store.value("CSettings/Exists", -1).toInt(), replaced ? 1 : -1);
    }

    // Given in percent, the watermarks land in percent of the page: the logo 25 % of 400 wide, half as high, at the
    // centre; the red text at 10 %, 20 %.
    void watermarksInPercent()
    {
        const QString folder = NewFolder();
        QVERIFY(Picture(400, 300, QColor(90, 90, 90)).save(folder + "/page.png"));
        QImage logo(40, 20, QImage::Format_ARGB32);
        logo.fill(QColor(0, 0, 255, 200));
        QVERIFY(logo.save(folder + "/logo.png"));
        const Run run = Convert({"-o", folder + "/cli", folder + "/page.png", "--text", "Kv", "--text-font",
                                 "DejaVu Sans", "--text-size", "10%", "--text-color", "red", "--text-position",
                                 "10%,20%", "--image", folder + "/logo.png", "--image-size", "25%",
                                 "--image-position", "50%,50%", "--image-opacity", "100"});
        QCOMPARE(run.code, 0);
        const QImage cli = QImage(folder + "/cli/page.png").convertToFormat(QImage::Format_RGB32);
        for (const QPoint& inside : {QPoint(200, 150), QPoint(299, 199)})
            QVERIFY(cli.pixelColor(inside).blue() > 200);
        for (const QPoint& outside : {QPoint(199, 175), QPoint(300, 175), QPoint(250, 200), QPoint(250, 149)})
            QVERIFY(cli.pixelColor(outside).blue() < 150);
        // The text box at 40, 60 (its ink a few pixels in), capitals 30 pixels of font high.
        QRect red;
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x)
                if (cli.pixelColor(x, y).red() > 200 && cli.pixelColor(x, y).green() < 80)
                    red |= QRect(x, y, 1, 1);
        QVERIFY2(qAbs(red.left() - 47) <= 4 && qAbs(red.top() - 70) <= 6 && qAbs(red.height() - 22) <= 4,
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(red.x()).arg(red.y()).arg(red.width()).arg(red.height())));
    }

    // Ctrl+C in the middle of a batch of multi-page files: what is on disk is exactly the targets reported as
    // written, each of them whole.
    void interruptLeavesNoPartialFile()
    {
        const QString folder = NewFolder();
        QDir().mkpath(folder + "/src");
        const QString tiff = folder + "/scan.tif";
        QVERIFY(Write(tiff, MakeMultiPageTiff({Picture(1200, 900, Qt::red), Picture(1200, 900, Qt::blue),
                                               Picture(1200, 900, Qt::green), Picture(1200, 900, Qt::gray)})));
        const int count = 40;
        for (int i = 0; i < count; ++i)
            QCOMPARE(::link(qPrintable(tiff), qPrintable(folder + QStringLiteral("/src/s%1.tif").arg(i))), 0);
        QProcess process;
        process.start(QStringLiteral(KORVANE_CONVERT), {"-r", "--json", "-j", "2", "-o", folder + "/out", folder + "/src"});
        QVERIFY(process.waitForReadyRead(60000));
        QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
        QVERIFY(process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + SIGINT);
        const QMap<QString, QJsonObject> results = Results(process.readAllStandardOutput());
        QCOMPARE(results.size(), count);
        QStringList written;
        int canceled = 0;
        for (const QJsonObject& result : results) {
            QVERIFY2(result.value("state").toString() != QLatin1String("failed"), qPrintable(result.value("error").toString()));
            canceled += result.value("state").toString() == QLatin1String("canceled");
            for (const QJsonValue& target : result.value("targets").toArray())
                written << QFileInfo(target.toString()).fileName();
        }
        QVERIFY(canceled > 0);
        written.sort();
        QCOMPARE(Entries(folder + "/out"), written);
        QCOMPARE(Sizes(folder + "/out", written), QVector<QString>(written.size(), QStringLiteral("1200x900")).toList());
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no target folder") << QStringList{"a.png"};
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "-o", "OUT", "a.png"};
        QTest::newRow("format not writable") << QStringList{"-f", "dds", "-o", "OUT", "a.png"};
        QTest::newRow("quality of png") << QStringList{"--quality", "80", "-o", "OUT", "a.png"};
        QTest::newRow("lossless jpeg") << QStringList{"-f", "jpg", "--lossless", "-o", "OUT", "a.png"};
        QTest::newRow("height alone") << QStringList{"--resize", "x300", "-o", "OUT", "a.png"};
        QTest::newRow("text size before text") << QStringList{"--text-size", "12", "--text", "x", "-o", "OUT", "a.png"};
        QTest::newRow("folder without -r") << QStringList{"-o", "OUT", "."};
    }

    void badUsage()
    {
        QFETCH(QStringList, arguments);
        const QString out = root.filePath(QStringLiteral("never"));
        arguments.replaceInStrings(QStringLiteral("OUT"), out);
        const Run run = Convert(arguments);
        QCOMPARE(run.code, 2);
        QVERIFY(run.err.endsWith("Try 'korvane-convert --help'.\n") && run.out.isEmpty() && !QFileInfo::exists(out));
    }
};

KORVANE_TEST_MAIN(CliTest)
#include "tst_cli.moc"
