// Target naming, the page writer and the per-file worker, on files made here.
#include "imageconvertthread.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"
#include "tst_enginesupport.h"

#include <QDirIterator>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTransform>
#include <QPainter>
#include <QPdfWriter>
#include <QSemaphore>
#include <QSettings>
#include <QThreadPool>
#include <QtConcurrent>

#include <sys/stat.h>

namespace {

QImage Filled(int width, int height, const QColor& color, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(color);
    return image;
}

// What the recording writer was given, by key.
QMap<QString, QString> Recorded(const QString& path)
{
    QMap<QString, QString> values;
    const QStringList lines = QString::fromUtf8(ReadFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines)
        values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    return values;
}

QStringList FilesIn(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

bool Touch(const QString& path)
{
    return WriteFile(path, QByteArray("x"));
}

QString TakePath(int page, const QString& srcFile, const ConvertSettings& settings)
{
    QString path;
    MakeTgtFilePath(path, page, srcFile, settings);
    ReleaseTgtFilePath(path);
    return path;
}

} // namespace

class ImageConvertTest : public QObject
{
    Q_OBJECT

private:
    TestFolders folders;

    QString NewFolder() { return folders.New(); }

    QString SavePng(const QString& folder, const QString& name, const QImage& image)
    {
        const QString path = QDir(folder).filePath(name);
        image.save(path, "PNG");
        return path;
    }

private slots:
    void initTestCase()
    {
        UseTestImageFormats();
        // The PDF reader claims no file unless its switch is on.
        QSettings(QStringLiteral("Pelmora"), QStringLiteral("Plugins")).setValue(QStringLiteral("Xpdf"), true);
        QVERIFY(folders.IsValid());
        QVERIFY(QImageWriter::supportedImageFormats().contains("kvrec"));
    }

    void targetNames()
    {
        const QString folder = NewFolder();
        ConvertSettings settings = SettingsFor(folder, QStringLiteral(".png"), PLMCodecPNG);
        const QString src = QStringLiteral("/elsewhere/a.jpg");
        const QDir dir(folder);
        QCOMPARE(TakePath(-1, src, settings), dir.filePath(QStringLiteral("a.png")));
        QVERIFY(Touch(dir.filePath(QStringLiteral("a.png"))));
        QVERIFY(Touch(dir.filePath(QStringLiteral("a-1.png"))));
        QCOMPARE(TakePath(-1, src, settings), dir.filePath(QStringLiteral("a-2.png")));

        // Pages count from 1; numbering goes after the page.
        QCOMPARE(TakePath(1, src, settings), dir.filePath(QStringLiteral("a-page2.png")));
        QVERIFY(Touch(dir.filePath(QStringLiteral("a-page2.png"))));
        QCOMPARE(TakePath(1, src, settings), dir.filePath(QStringLiteral("a-page2-1.png")));

        // Only the last suffix goes.
        QCOMPARE(TakePath(-1, QStringLiteral("/x/scan.final.tif"), settings),
                 dir.filePath(QStringLiteral("scan.final.png")));

        settings.Exists = 1;
        QCOMPARE(TakePath(-1, src, settings), dir.filePath(QStringLiteral("a.png")));
        for (int policy : {2, -1}) {
            settings.Exists = policy;
            QString path = QStringLiteral("stale");
            QVERIFY(!MakeTgtFilePath(path, -1, src, settings));
            QVERIFY(path.isEmpty());
        }
        settings.Exists = 0;
        settings.TgtFolder.clear();
        QVERIFY(TakePath(-1, src, settings).isEmpty());

        // Next to the source, compared case-sensitively: another spelling is a folder name.
        const QString nextTo = QDir(NewFolder()).filePath(QStringLiteral("pic.bmp"));
        settings.TgtFolder = QStringLiteral("Same as source file");
        QCOMPARE(TakePath(-1, nextTo, settings), QFileInfo(nextTo).absolutePath() + QStringLiteral("/pic.png"));
        settings.TgtFolder = QStringLiteral("same as source file");
        QVERIFY(TakePath(-1, nextTo, settings).endsWith(QStringLiteral("/same as source file/pic.png")));
    }

    // A link in the target folder is a taken name, and a target written over
    // it replaces the link, never the file it points to.
    void linksInTheTargetFolder_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<bool>("dangling");
        QTest::addColumn<QString>("written");
        QTest::newRow("unique, dangling link") << 0 << true << "a-1.png";
        QTest::newRow("unique, link to a file") << 0 << false << "a-1.png";
        QTest::newRow("overwrite, dangling link") << 1 << true << "a.png";
        QTest::newRow("overwrite, link to a file") << 1 << false << "a.png";
    }

    void linksInTheTargetFolder()
    {
        QFETCH(int, policy);
        QFETCH(bool, dangling);
        QFETCH(QString, written);
        const QString elsewhere = QDir(NewFolder()).filePath(QStringLiteral("x.png"));
        if (!dangling)
            QVERIFY(WriteFile(elsewhere, "not to be touched"));
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        settings.Exists = policy;
        QVERIFY(QFile::link(elsewhere, QDir(settings.TgtFolder).filePath(QStringLiteral("a.png"))));
        const QString src = SavePng(NewFolder(), QStringLiteral("a.png"), Filled(6, 4, Qt::green));

        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        const QFileInfo target(QDir(settings.TgtFolder).filePath(written));
        QCOMPARE(result.tgtFiles, QStringList{target.absoluteFilePath()});
        QVERIFY(!target.isSymLink());
        QCOMPARE(QImage(target.absoluteFilePath()).size(), QSize(6, 4));
        QCOMPARE(QFileInfo::exists(elsewhere), !dangling);
        if (!dangling)
            QCOMPARE(ReadFile(elsewhere), QByteArray("not to be touched"));
        // Nothing else in the folder: no temporary file left.
        QCOMPARE(FilesIn(settings.TgtFolder).size(), policy == 0 ? 2 : 1);
    }

    // Overwrite never replaces a source of the running batch or one of its
    // earlier targets: photo.jpg's target photo.png is itself a source, and a
    // page of scan.tif would land on scan-page2.png, another source.
    void overwriteSparesTheBatchsOwnFiles()
    {
        const QString folder = NewFolder();
        const QString jpeg = QDir(folder).filePath(QStringLiteral("photo.jpg"));
        QVERIFY(Filled(8, 8, Qt::red).save(jpeg, "JPEG"));
        const QString png = SavePng(folder, QStringLiteral("photo.png"), Filled(9, 9, Qt::blue));
        const QString tiff = QDir(folder).filePath(QStringLiteral("scan.tif"));
        QVERIFY(WriteFile(tiff, MakeMultiPageTiff({Filled(5, 5, Qt::red), Filled(6, 6, Qt::green)})));
        const QString page2 = SavePng(folder, QStringLiteral("scan-page2.png"), Filled(3, 3, Qt::white));
        const QByteArray pngBytes = ReadFile(png);
        const QByteArray page2Bytes = ReadFile(page2);

        ConvertSettings settings = SettingsFor(QString::fromLatin1(kSameAsSourceFile), QStringLiteral(".png"), PLMCodecPNG);
        settings.Exists = 1;
        BatchTargets batch({jpeg, png, tiff, page2});
        int renamed = 0;
        QStringList written;
        for (const QString& source : {jpeg, png, tiff, page2}) {
            ImageConvertData job = JobFor(source, &settings);
            job.batchTargets = &batch;
            const ItemConvertResult result = ThreadFunction(job);
            QCOMPARE(result.state, ConvertSucceeded);
            renamed += result.renamed;
            written << result.tgtFiles;
        }
        QCOMPARE(ReadFile(png), pngBytes);
        QCOMPARE(ReadFile(page2), page2Bytes);
        // photo.jpg, photo.png, scan page 2 and scan-page2.png took numbers;
        // scan page 1 overwrote nothing of the batch.
        QCOMPARE(renamed, 4);
        QCOMPARE(written.size(), 5);
        QCOMPARE(QSet<QString>(written.begin(), written.end()).size(), 5);
        QVERIFY(written.contains(QDir(folder).filePath(QStringLiteral("scan-page1.png"))));
    }

    // A name as long as the file system allows still converts, is still
    // overwritten, and still takes a number (its base name shortened).
    void namesAtTheLengthLimit()
    {
        const QString source = SavePng(NewFolder(), QString(251, QLatin1Char('n')) + QStringLiteral(".png"),
                                       Filled(4, 4, Qt::red));
        QVERIFY(QFileInfo::exists(source));
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        QStringList names;
        for (int policy : {0, 1, 0}) {
            settings.Exists = policy;
            const ItemConvertResult result = ThreadFunction(JobFor(source, &settings));
            QCOMPARE(result.state, ConvertSucceeded);
            names << QFileInfo(result.tgtFiles.value(0)).fileName();
        }
        QCOMPARE(names.at(0), QFileInfo(source).fileName());
        QCOMPARE(names.at(1), names.at(0));
        QCOMPARE(names.at(2), QString(249, QLatin1Char('n')) + QStringLiteral("-1.png"));
        QCOMPARE(FilesIn(settings.TgtFolder).size(), 2);
    }

    // A header that declares more pixels than the budget fails before any
    // decoding, with a message that names the size; a multi-page source is
    // checked page by page, and its pages before the large one are written.
    void declaredSizesOverTheBudget_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("written");
        QTest::newRow("SVG of 2000 inches") << "huge.svg"
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2000in\" height=\"1000in\"><rect width=\"9\" height=\"9\"/></svg>")
            << "180000 × 90000" << 0;
        QByteArray tiff = MakeMultiPageTiff({Filled(4, 4, Qt::red), Filled(4, 4, Qt::blue)});
        // The second page's width and height entries (its first two), made huge.
        const quint32 firstIfd = qFromLittleEndian<quint32>(tiff.constData() + 4);
        const quint32 nextIfd = qFromLittleEndian<quint32>(tiff.constData() + firstIfd + 2 + 10 * 12);
        qToLittleEndian<quint32>(60000, reinterpret_cast<uchar*>(tiff.data()) + nextIfd + 2 + 8);
        qToLittleEndian<quint32>(50000, reinterpret_cast<uchar*>(tiff.data()) + nextIfd + 2 + 12 + 8);
        QTest::newRow("TIFF with a huge second page") << "scan.tif" << tiff << "60000 × 50000" << 1;
    }

    void declaredSizesOverTheBudget()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(QString, size);
        QFETCH(int, written);
        const QString src = QDir(NewFolder()).filePath(name);
        QVERIFY(WriteFile(src, file));
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertFailed);
        QVERIFY2(result.error.contains(size) && result.error.contains(QStringLiteral("GiB")), qPrintable(result.error));
        QCOMPARE(result.tgtFiles.size(), written);
        QCOMPARE(FilesIn(settings.TgtFolder).size(), written);
    }

    // Only regular files are read: a FIFO would block the reader in open().
    void aFifoIsNoSource()
    {
        const QString fifo = QDir(NewFolder()).filePath(QStringLiteral("pipe.png"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        QCOMPARE(ThreadFunction(JobFor(fifo, &settings)).state, ConvertFailed);
        QVERIFY(FilesIn(settings.TgtFolder).isEmpty());
    }

    void chosenNamesStayReservedUntilReleased()
    {
        const QString folder = NewFolder();
        QString first;
        QString second;
        QVERIFY(MakeUniqueTgtFilePath(first, folder, QStringLiteral("photo"), QStringLiteral(".png")));
        QVERIFY(MakeUniqueTgtFilePath(second, folder, QStringLiteral("photo"), QStringLiteral(".png")));
        QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("photo.png"));
        QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("photo-1.png"));
        ReleaseTgtFilePath(first);
        QString third;
        QVERIFY(MakeUniqueTgtFilePath(third, folder, QStringLiteral("photo"), QStringLiteral(".png")));
        QCOMPARE(third, first);
        ReleaseTgtFilePath(second);
        ReleaseTgtFilePath(third);
    }

    void exhaustedNumbersFail()
    {
        const QString folder = NewFolder();
        const QDir dir(folder);
        QVERIFY(Touch(dir.filePath(QStringLiteral("full.png"))));
        for (int n = 1; n <= 9999; ++n)
            QVERIFY(Touch(dir.filePath(QStringLiteral("full-%1.png").arg(n))));
        QString path = QStringLiteral("stale");
        QVERIFY(!MakeUniqueTgtFilePath(path, folder, QStringLiteral("full"), QStringLiteral(".png")));
        QVERIFY(path.isEmpty());

        // The worker reports it as a failure and writes nothing.
        const QString src = SavePng(NewFolder(), QStringLiteral("full.png"), Filled(4, 4, Qt::red));
        const ConvertSettings settings = SettingsFor(folder, QStringLiteral(".png"), PLMCodecPNG);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertFailed);
        QVERIFY(result.tgtFiles.isEmpty());
        QCOMPARE(FilesIn(folder).size(), 10000);
    }

    // Sources with one base name converted into one folder at the same time.
    void concurrentJobsNeverShareATarget()
    {
        QThreadPool::globalInstance()->setMaxThreadCount(8);
        const QString target = NewFolder();
        QList<ImageConvertData> jobs;
        QSet<QRgb> colours;
        const ConvertSettings settings = SettingsFor(target, QStringLiteral(".bmp"), PLMCodecBMP);
        for (int i = 0; i < 12; ++i) {
            const QColor colour(20 * i, 255 - 20 * i, 7 * i);
            colours.insert(colour.rgb());
            jobs << JobFor(SavePng(NewFolder(), QStringLiteral("photo.png"), Filled(700, 500, colour)), &settings);
        }
        const QList<ItemConvertResult> results = QtConcurrent::blockingMapped(jobs, ThreadFunction);
        QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());

        QSet<QString> written;
        QSet<QRgb> found;
        for (const ItemConvertResult& result : results) {
            QCOMPARE(result.state, ConvertSucceeded);
            QCOMPARE(result.tgtFiles.size(), 1);
            written.insert(result.tgtFiles.first());
            const QImage image(result.tgtFiles.first());
            QCOMPARE(image.size(), QSize(700, 500));
            found.insert(image.pixel(350, 250));
        }
        QCOMPARE(written.size(), 12);
        QCOMPARE(found, colours);
        QStringList expected{QStringLiteral("photo.bmp")};
        for (int n = 1; n < 12; ++n)
            expected << QStringLiteral("photo-%1.bmp").arg(n);
        expected.sort();
        QCOMPARE(FilesIn(target), expected);
    }

    void writerOptions_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<int>("value");
        QTest::addColumn<QVector<int>>("pdfLayout");    // page size, orientation, alignment
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("compression");
        const QVector<int> a4 = {0, 0, 0};
        QTest::newRow("jpeg 100") << int(PLMCodecJPEG) << false << 100 << a4 << 100 << -1;
        QTest::newRow("jpeg 37") << int(PLMCodecJPEG) << true << 37 << a4 << 37 << -1;
        const int lossless = PluginContract::LosslessQuality;
        QTest::newRow("webp lossless") << int(PLMCodecWEBP) << true << 50 << a4 << lossless << -1;
        QTest::newRow("webp lossy") << int(PLMCodecWEBP) << false << 50 << a4 << 50 << -1;
        QTest::newRow("heif quality") << int(PLMCodecHEIF) << true << 42 << a4 << 42 << -1;
        QTest::newRow("avif lossless") << int(PLMCodecAVIF) << true << 42 << a4 << lossless << -1;
        QTest::newRow("avif lossy") << int(PLMCodecAVIF) << false << 42 << a4 << 42 << -1;
        QTest::newRow("jxl lossless") << int(PLMCodecJXL) << true << 42 << a4 << lossless << -1;
        QTest::newRow("jxl lossy") << int(PLMCodecJXL) << false << 42 << a4 << 42 << -1;
        QTest::newRow("jpeg xr lossless") << int(PLMCodecJPEGXR) << true << 63 << a4 << 100 << -1;
        QTest::newRow("jpeg xr lossy") << int(PLMCodecJPEGXR) << false << 63 << a4 << 63 << -1;
        QTest::newRow("jpeg 2000 lossless") << int(PLMCodecJPEG2000) << true << 20 << a4 << -1 << 1;
        QTest::newRow("jpeg 2000 rate") << int(PLMCodecJPEG2000) << false << 20 << a4 << -1 << 20;
        QTest::newRow("pdf defaults") << int(PLMCodecPDF) << false << 0 << a4 << 1 << -1;
        QTest::newRow("pdf legal portrait centre") << int(PLMCodecPDF) << false << 0 << QVector<int>{3, 0, 0} << 196609 << -1;
        QTest::newRow("pdf letter landscape top left") << int(PLMCodecPDF) << false << 0 << QVector<int>{2, 1, 1} << 285343745 << -1;
        QTest::newRow("png has no option") << int(PLMCodecPNG) << false << 0 << a4 << -1 << -1;
        QTest::newRow("bmp has no option") << int(PLMCodecBMP) << false << 0 << a4 << -1 << -1;
    }

    // The options go by the target codec; the writer by the file name.
    void writerOptions()
    {
        QFETCH(int, codec);
        QFETCH(bool, lossless);
        QFETCH(int, value);
        QFETCH(QVector<int>, pdfLayout);
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".kvrec"), PLMImageCodecID(codec));
        settings.JPEGCmpsnQuality = value;
        settings.WEBPLlCmpsn = settings.JPEGXRLlCmpsn = settings.J2000LlCmpsn = lossless;
        settings.AVIFLlCmpsn = settings.JXLLlCmpsn = lossless;
        settings.WEBPCmpsnQuality = settings.JPEGXRCmpsnQuality = settings.J2000CmpsnRate = value;
        settings.HEIFCmpsnQuality = settings.AVIFCmpsnQuality = settings.JXLCmpsnQuality = value;
        settings.PageSize = pdfLayout.at(0);
        settings.PageOri = pdfLayout.at(1);
        settings.Align = pdfLayout.at(2);
        const QString path = QDir(settings.TgtFolder).filePath(QStringLiteral("page.kvrec"));
        QImage page = Filled(5, 4, Qt::green);
        QCOMPARE(ImageConvert::ConvertPage(page, path, PLMCodecBMP, QString(), QString(), settings, nullptr),
                 ConvertSucceeded);
        const QMap<QString, QString> recorded = Recorded(path);
        QCOMPARE(recorded.value(QStringLiteral("size")), QStringLiteral("5x4"));
        QTEST(recorded.value(QStringLiteral("quality")).toInt(), "quality");
        QTEST(recorded.value(QStringLiteral("compression")).toInt(), "compression");
    }

    // A page written while other pool threads stand idle may use them too:
    // the grant on the writing thread counts them, and is gone afterwards.
    void codecThreadsGrant_data()
    {
        QTest::addColumn<int>("busy");
        QTest::addColumn<int>("threads");
        QTest::newRow("alone on the pool") << 0 << 3;
        QTest::newRow("one other job") << 1 << 2;
        QTest::newRow("pool full") << 2 << 1;
    }

    void codecThreadsGrant()
    {
        QFETCH(int, busy);
        QThreadPool* pool = QThreadPool::globalInstance();
        pool->setMaxThreadCount(3);
        QSemaphore release;
        QSemaphore running;
        for (int i = 0; i < busy; ++i)
            pool->start([&] {
                running.release();
                release.acquire();
            });
        running.acquire(busy);
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".kvrec"), PLMCodecBMP);
        const QString path = QDir(settings.TgtFolder).filePath(QStringLiteral("page.kvrec"));
        const bool clearedAfter = QtConcurrent::run([&] {
            QImage page = Filled(5, 4, Qt::green);
            ImageConvert::ConvertPage(page, path, PLMCodecBMP, QString(), QString(), settings, nullptr);
            return !QThread::currentThread()->property(PluginContract::CodecThreadsProperty).isValid();
        }).result();
        release.release(busy);
        pool->waitForDone();
        pool->setMaxThreadCount(QThread::idealThreadCount());
        QTEST(Recorded(path).value(QStringLiteral("threads")).toInt(), "threads");
        QVERIFY(clearedAfter);
    }

    void metadataIsPackedIntoOneEntry()
    {
        QImage source = Filled(6, 6, Qt::yellow);
        source.setText(QStringLiteral("Author"), QStringLiteral("Ann Example"));
        source.setText(QStringLiteral("Comment"), QStringLiteral("two;parts"));
        const QString src = SavePng(NewFolder(), QStringLiteral("meta.png"), source);
        const QString bare = SavePng(NewFolder(), QStringLiteral("bare.png"), Filled(6, 6, Qt::yellow));

        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".kvrec"), PLMCodecTIFF);
        settings.KeepMd = true;
        ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QCOMPARE(Recorded(result.tgtFiles.first()).value(QStringLiteral("description")),
                 QStringLiteral("Author;CommentFIMD: Ann Example;two\\;parts"));

        // No keys, or metadata not kept: no text on the writer.
        result = ThreadFunction(JobFor(bare, &settings));
        QCOMPARE(Recorded(result.tgtFiles.first()).value(QStringLiteral("description")), QString());
        settings.KeepMd = false;
        result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(Recorded(result.tgtFiles.first()).value(QStringLiteral("description")), QString());

        // A real PNG target carries the packed entry as one text chunk.
        settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        settings.KeepMd = true;
        result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QImageReader reader(result.tgtFiles.first());
        QCOMPARE(reader.text(QStringLiteral("Author;CommentFIMD")), QStringLiteral("Ann Example;two\\;parts"));
    }

    void resolutionStamping()
    {
        QImage source = Filled(10, 10, Qt::cyan);
        source.setDotsPerMeterX(3937);      // 100 DPI
        source.setDotsPerMeterY(3937);
        const QString src = SavePng(NewFolder(), QStringLiteral("dpi.png"), source);
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        settings.TgtDPI = 300;

        // A raster source keeps its own resolution unless a target one is asked for.
        ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(QImage(result.tgtFiles.first()).dotsPerMeterX(), 3937);
        settings.TgtDPISameSrc = false;
        result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(QImage(result.tgtFiles.first()).dotsPerMeterX(), 11811);
        QCOMPARE(QImage(result.tgtFiles.first()).dotsPerMeterY(), 11811);

        // Vector sources always get the target resolution they were rendered at.
        settings.TgtDPISameSrc = true;
        settings.TgtDPI = 72;
        for (PLMImageCodecID vector : {PLMCodecPDF, PLMCodecSVG}) {
            QImage page = source;
            const QString path = QDir(settings.TgtFolder).filePath(QStringLiteral("vector%1.png").arg(vector));
            QCOMPARE(ImageConvert::ConvertPage(page, path, vector, QString(), QString(), settings, nullptr),
                     ConvertSucceeded);
            QCOMPARE(QImage(path).dotsPerMeterX(), 2835);
        }
    }

    void svgRenderedAtTargetResolution()
    {
        const QString folder = NewFolder();
        const QString src = QDir(folder).filePath(QStringLiteral("shape.svg"));
        QVERIFY(WriteFile(src, "<svg xmlns='http://www.w3.org/2000/svg' width='50' height='40'>"
                               "<rect x='0' y='0' width='10' height='10' fill='red'/></svg>"));
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".jpg"), PLMCodecJPEG);
        settings.TgtDPI = 144;
        ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QImage image(result.tgtFiles.first());
        QCOMPARE(image.size(), QSize(100, 80));
        QCOMPARE(image.dotsPerMeterX(), 5669);
        // No alpha in JPEG: the uncovered area is white, not black.
        QVERIFY(image.pixelColor(70, 60).lightness() > 245);
        QVERIFY(IsMostlyRed(image.pixelColor(5, 5)));

        settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        settings.TgtDPI = 144;
        result = ThreadFunction(JobFor(src, &settings));
        image = QImage(result.tgtFiles.first());
        QCOMPARE(image.size(), QSize(100, 80));
        QCOMPARE(image.pixelColor(70, 60).alpha(), 0);
    }

    void pdfRenderedAtTargetResolution()
    {
        if (!QImageReader::supportedImageFormats().contains("pdf"))
            QSKIP("no PDF reader installed");
        const QString src = QDir(NewFolder()).filePath(QStringLiteral("doc.pdf"));
        {
            QPdfWriter pdf(src);
            pdf.setPageLayout(QPageLayout(QPageSize(QSizeF(72, 36), QPageSize::Point), QPageLayout::Portrait,
                                          QMarginsF()));
            QPainter painter(&pdf);
            painter.fillRect(QRect(0, 0, pdf.width(), pdf.height()), Qt::blue);
        }
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        settings.TgtDPI = 144;
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        const QImage image(result.tgtFiles.first());
        QCOMPARE(image.size(), QSize(144, 72));
        QCOMPARE(image.dotsPerMeterX(), 5669);
    }

    void iconWithSeveralSizes()
    {
        QImage page = Filled(300, 200, QColor(0, 0, 255, 128), QImage::Format_ARGB32);
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".ico"), PLMCodecICO);
        settings.ICODim = 32 | 4 | 1;
        const QString path = QDir(settings.TgtFolder).filePath(QStringLiteral("app.ico"));
        QCOMPARE(ImageConvert::ConvertPage(page, path, PLMCodecPNG, QString(), QString(), settings, nullptr),
                 ConvertSucceeded);
        QImageReader reader(path);
        QCOMPARE(reader.imageCount(), 3);
        QList<QSize> sizes;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage icon = reader.read();
            sizes << icon.size();
            QCOMPARE(icon.pixelColor(icon.width() / 2, icon.height() / 2).blue(), 255);
        }
        QCOMPARE(sizes, (QList<QSize>{QSize(256, 256), QSize(48, 48), QSize(16, 16)}));

        // No size selected: nothing to write is a failure, and no file.
        settings.ICODim = 0;
        const QString none = QDir(settings.TgtFolder).filePath(QStringLiteral("none.ico"));
        QCOMPARE(ImageConvert::ConvertPage(page, none, PLMCodecPNG, QString(), QString(), settings, nullptr),
                 ConvertFailed);
        QVERIFY(!QFileInfo::exists(none));

        // A size that cannot be written stops the icon with nothing written.
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter failing(&buffer, "kvfail");
        QCOMPARE(ImageConvert::ConvertToICO(page, failing, 32 | 1), ConvertFailed);
        QCOMPARE(buffer.size(), qint64(0));
    }

    // A writer that fails halfway, or no writer at all, leaves neither a
    // partial target nor a damaged existing one.
    void failedWriteLeavesNoTrace_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("exists");
        QTest::newRow("fails halfway, overwrite") << QStringLiteral(".kvfail") << 1;
        QTest::newRow("fails halfway, numbered") << QStringLiteral(".kvfail") << 0;
        QTest::newRow("no writer, overwrite") << QStringLiteral(".gif") << 1;
    }

    void failedWriteLeavesNoTrace()
    {
        QFETCH(QString, format);
        QFETCH(int, exists);
        const QString folder = NewFolder();
        const QString src = SavePng(folder, QStringLiteral("doc.png"), Filled(64, 64, Qt::magenta));
        const QString existing = QDir(folder).filePath(QStringLiteral("doc") + format);
        QVERIFY(WriteFile(existing, "precious bytes"));
        const QStringList before = FilesIn(folder);

        ConvertSettings settings = SettingsFor(QStringLiteral("Same as source file"), format, PLMCodecBMP);
        settings.Exists = exists;
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertFailed);
        QVERIFY(result.tgtFiles.isEmpty());
        QCOMPARE(FilesIn(folder), before);
        QCOMPARE(ReadFile(existing), QByteArray("precious bytes"));
    }

    void convertingAFileOntoItself()
    {
        const QString folder = NewFolder();
        QImage source = Filled(40, 20, Qt::white);
        source.setPixelColor(0, 0, Qt::red);
        const QString src = SavePng(folder, QStringLiteral("self.png"), source);
        ConvertSettings settings = SettingsFor(QStringLiteral("Same as source file"), QStringLiteral(".png"), PLMCodecPNG);
        settings.Exists = 1;
        settings.edited = true;
        settings.rfr.angle = 90;
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QCOMPARE(result.tgtFiles, QStringList{src});
        const QImage written(src);
        QCOMPARE(written.size(), QSize(20, 40));
        QCOMPARE(written.pixelColor(19, 0), QColor(Qt::red));
        QCOMPARE(FilesIn(folder), QStringList{QStringLiteral("self.png")});
    }

    // Check points of the page writer: before the edits, after them, after the options.
    void pageWriterCancelPoints_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::addColumn<int>("tripAt");
        QTest::addColumn<int>("state");
        QTest::newRow("before the edits") << false << 1 << 2;
        QTest::newRow("after the edits") << false << 2 << 2;
        QTest::newRow("after the options") << false << 3 << 2;
        QTest::newRow("not canceled") << false << 4 << 0;
        // With edits on, the edits poll once more (after the page transform).
        QTest::newRow("inside the edits") << true << 2 << 2;
        QTest::newRow("after the options, edited") << true << 4 << 2;
        QTest::newRow("not canceled, edited") << true << 5 << 0;
    }

    void pageWriterCancelPoints()
    {
        QFETCH(bool, edited);
        QFETCH(int, tripAt);
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        settings.edited = edited;
        const QString path = QDir(settings.TgtFolder).filePath(QStringLiteral("page.png"));
        QImage page = Filled(8, 8, Qt::gray);
        const TrippingCancelFlag cancel(tripAt);
        QTEST(int(ImageConvert::ConvertPage(page, path, PLMCodecPNG, QString(), QString(), settings, &cancel)), "state");
        QFETCH(int, state);
        QCOMPARE(QFileInfo::exists(path), state == 0);
        QCOMPARE(FilesIn(settings.TgtFolder).size(), state == 0 ? 1 : 0);
    }

    // A photo's recorded orientation turns it upright: every one of the
    // eight, from a JPEG whose Exif says how it is to be shown (set by
    // exiftool), as Qt's reader maps them.
    void orientationIsApplied_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("transformation");
        const int transformations[] = {0, 1, 3, 2, 6, 4, 5, 7};
        for (int orientation = 1; orientation <= 8; ++orientation)
            QTest::newRow(qPrintable(QStringLiteral("orientation %1").arg(orientation)))
                << orientation << transformations[orientation - 1];
    }

    void orientationIsApplied()
    {
        QFETCH(int, orientation);
        QFETCH(int, transformation);
        // An upright picture with a red top-left corner and a blue strip on the right.
        QImage upright = Filled(40, 24, Qt::white);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                upright.setPixelColor(x, y, Qt::red);
        for (int y = 0; y < 24; ++y)
            for (int x = 34; x < 40; ++x)
                upright.setPixelColor(x, y, Qt::blue);
        // Stored turned the other way, with the turn back recorded: a reader
        // mirrors and flips first, then turns by 90 degrees (270 on its own).
        const auto turn = QImageIOHandler::Transformations(transformation);
        QImage stored = upright;
        if (turn == QImageIOHandler::TransformationRotate270) {
            stored = upright.transformed(QTransform().rotate(90));
        } else {
            if (turn & QImageIOHandler::TransformationRotate90)
                stored = stored.transformed(QTransform().rotate(-90));
            stored = stored.mirrored(turn & QImageIOHandler::TransformationMirror,
                                     turn & QImageIOHandler::TransformationFlip);
        }
        const QString src = QDir(NewFolder()).filePath(QStringLiteral("phone.jpg"));
        QVERIFY(stored.save(src, "JPEG", 100));
        QProcess exiftool;
        exiftool.start(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                                    QStringLiteral("-Orientation#=%1").arg(orientation), src});
        QVERIFY2(exiftool.waitForFinished(30000) && exiftool.exitCode() == 0, "exiftool (libimage-exiftool-perl)");
        QImageReader check(src);
        QCOMPARE(int(check.transformation()), transformation);

        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        const QImage written(result.tgtFiles.value(0));
        QCOMPARE(written.size(), upright.size());
        QVERIFY(qRed(written.pixel(2, 2)) > 200 && qBlue(written.pixel(2, 2)) < 60);
        QVERIFY(qBlue(written.pixel(38, 12)) > 200 && qRed(written.pixel(38, 12)) < 60);
        QVERIFY(qRed(written.pixel(20, 20)) > 200 && qBlue(written.pixel(20, 20)) > 200);
    }

    void threePageTiff()
    {
        const QList<QImage> pages{Filled(30, 20, Qt::red), Filled(31, 20, Qt::green), Filled(32, 20, Qt::blue)};
        const QString folder = NewFolder();
        const QString src = QDir(folder).filePath(QStringLiteral("scan.tif"));
        QVERIFY(WriteFile(src, MakeMultiPageTiff(pages)));
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        const QDir target(settings.TgtFolder);
        QCOMPARE(result.tgtFiles, (QStringList{target.filePath(QStringLiteral("scan-page1.png")),
                                               target.filePath(QStringLiteral("scan-page2.png")),
                                               target.filePath(QStringLiteral("scan-page3.png"))}));
        // Each target holds its own page, not the first one again.
        for (int i = 0; i < 3; ++i) {
            const QImage written(result.tgtFiles.at(i));
            QCOMPARE(written.size(), pages.at(i).size());
            QCOMPARE(written.pixel(1, 1), pages.at(i).pixel(1, 1));
        }
    }

    void threePageTiffWithBrokenSecondPage()
    {
        const QList<QImage> pages{Filled(30, 20, Qt::red), Filled(31, 20, Qt::green), Filled(32, 20, Qt::blue)};
        const QString src = QDir(NewFolder()).filePath(QStringLiteral("scan.tif"));
        QVERIFY(WriteFile(src, MakeMultiPageTiff(pages, 1)));
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertFailed);
        QCOMPARE(result.tgtFiles, QStringList{QDir(settings.TgtFolder).filePath(QStringLiteral("scan-page1.png"))});
        QCOMPARE(FilesIn(settings.TgtFolder), QStringList{QStringLiteral("scan-page1.png")});
    }

    // One check as the job starts; per page one before writing and three
    // inside the page writer. A canceled job takes back the pages it wrote.
    void multiPageCancelBetweenPages()
    {
        const QList<QImage> pages{Filled(8, 8, Qt::red), Filled(8, 8, Qt::green), Filled(8, 8, Qt::blue)};
        const QString src = QDir(NewFolder()).filePath(QStringLiteral("scan.tif"));
        QVERIFY(WriteFile(src, MakeMultiPageTiff(pages)));
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        const TrippingCancelFlag cancel(6);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings, &cancel));
        QCOMPARE(result.state, ConvertCanceled);
        QVERIFY(result.tgtFiles.isEmpty());
        QVERIFY(FilesIn(settings.TgtFolder).isEmpty());
        QCOMPARE(cancel.Polls(), 6);
    }

    void unreadableSourceFails()
    {
        const QString folder = NewFolder();
        const QString src = QDir(folder).filePath(QStringLiteral("broken.png"));
        QVERIFY(WriteFile(src, "not an image at all"));
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".png"), PLMCodecPNG);
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertFailed);
        QVERIFY(FilesIn(settings.TgtFolder).isEmpty());
        ImageConvertData noSettings = JobFor(src, nullptr);
        QCOMPARE(ThreadFunction(noSettings).state, ConvertFailed);
    }

    void thumbnailJpegsAreCopiedByteForByte()
    {
        QImage first = Filled(40, 30, Qt::red);
        first.setText(QStringLiteral("Description"), QStringLiteral("own metadata"));
        const QByteArray jpeg1 = EncodeImage(first, "JPEG", 35);
        const QByteArray jpeg2 = EncodeImage(Filled(20, 10, Qt::blue), "JPEG", 90);
        const QString folder = NewFolder();
        const QString several = QDir(folder).filePath(QStringLiteral("thumbs.ithmb"));
        const QString single = QDir(folder).filePath(QStringLiteral("one.ithmb"));
        QVERIFY(WriteFile(several, MakeFakeThumbnailFile({jpeg1, jpeg2}, true)));
        QVERIFY(WriteFile(single, MakeFakeThumbnailFile({jpeg2}, true)));

        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".jpg"), PLMCodecJPEG);
        settings.KeepMd = true;
        settings.edited = true;             // no edit applies to copied pictures
        settings.rfr.angle = 90;
        ItemConvertResult result = ThreadFunction(JobFor(several, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QCOMPARE(result.tgtFiles.size(), 2);
        QVERIFY(result.tgtFiles.at(0).endsWith(QStringLiteral("/thumbs-page1.jpg")));
        QCOMPARE(ReadFile(result.tgtFiles.at(0)), jpeg1);
        QCOMPARE(ReadFile(result.tgtFiles.at(1)), jpeg2);

        result = ThreadFunction(JobFor(single, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QVERIFY(result.tgtFiles.first().endsWith(QStringLiteral("/one.jpg")));
        QCOMPARE(ReadFile(result.tgtFiles.first()), jpeg2);

        // Overwrite replaces the existing target whole; numbering keeps it.
        settings.Exists = 1;
        QVERIFY(WriteFile(result.tgtFiles.first(), "an older and rather longer file than the picture"));
        result = ThreadFunction(JobFor(single, &settings));
        QCOMPARE(ReadFile(result.tgtFiles.first()), jpeg2);
        settings.Exists = 0;
        result = ThreadFunction(JobFor(single, &settings));
        QVERIFY(result.tgtFiles.first().endsWith(QStringLiteral("/one-1.jpg")));

        // Canceled after the first picture: it is taken back, nothing listed.
        const QStringList before = FilesIn(settings.TgtFolder);
        const TrippingCancelFlag cancel(2);
        result = ThreadFunction(JobFor(several, &settings, &cancel));
        QCOMPARE(result.state, ConvertCanceled);
        QVERIFY(result.tgtFiles.isEmpty());
        QCOMPARE(FilesIn(settings.TgtFolder), before);

        // A damaged embedded picture (cut short, or garbage after its start)
        // is a failure, not a copied file no viewer opens.
        for (const QByteArray& damaged : {jpeg2.left(jpeg2.size() - 40), QByteArray("\xFF\xD8garbage\xFF\xD9")}) {
            QVERIFY(WriteFile(single, MakeFakeThumbnailFile({damaged}, true)));
            result = ThreadFunction(JobFor(single, &settings));
            QCOMPARE(result.state, ConvertFailed);
            QVERIFY(result.tgtFiles.isEmpty());
            QCOMPARE(FilesIn(settings.TgtFolder), before);
        }
    }

    void thumbnailsOtherwiseDecoded_data()
    {
        QTest::addColumn<bool>("embedded");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("keepMd");
        QTest::newRow("jpeg without metadata") << true << QStringLiteral(".jpg") << false;
        QTest::newRow("png target") << true << QStringLiteral(".png") << true;
        QTest::newRow("decoded frames") << false << QStringLiteral(".jpg") << true;
    }

    void thumbnailsOtherwiseDecoded()
    {
        QFETCH(bool, embedded);
        QFETCH(QString, format);
        QFETCH(bool, keepMd);
        const QByteArray jpeg = EncodeImage(Filled(40, 30, Qt::red), "JPEG", 20);
        const QString src = QDir(NewFolder()).filePath(QStringLiteral("thumb.ithmb"));
        QVERIFY(WriteFile(src, MakeFakeThumbnailFile({jpeg}, embedded)));
        ConvertSettings settings =
            SettingsFor(NewFolder(), format, format == QStringLiteral(".png") ? PLMCodecPNG : PLMCodecJPEG);
        settings.KeepMd = keepMd;
        settings.JPEGCmpsnQuality = 95;
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertSucceeded);
        QVERIFY(ReadFile(result.tgtFiles.first()) != jpeg);
        const QImage written(result.tgtFiles.first());
        QCOMPARE(written.size(), QSize(40, 30));
        QVERIFY(IsMostlyRed(written.pixelColor(20, 15)));
    }

    void corruptThumbnailSpanFails()
    {
        const QByteArray jpeg = EncodeImage(Filled(40, 30, Qt::red), "JPEG");
        QByteArray file = MakeFakeThumbnailFile({jpeg}, true);
        file.chop(10);      // the picture now reaches past the end
        const QString src = QDir(NewFolder()).filePath(QStringLiteral("cut.ithmb"));
        QVERIFY(WriteFile(src, file));
        ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".jpg"), PLMCodecJPEG);
        settings.KeepMd = true;
        const ItemConvertResult result = ThreadFunction(JobFor(src, &settings));
        QCOMPARE(result.state, ConvertFailed);
        QVERIFY(FilesIn(settings.TgtFolder).isEmpty());
    }

private:
    static bool IsMostlyRed(const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
};

KORVANE_TEST_MAIN(ImageConvertTest)
#include "tst_imageconvert.moc"
