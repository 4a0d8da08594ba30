// Target naming, the page writer and the per-file worker, on files made here.
#include "imageconvertthread.h"
#include "graphics/metadatapacking.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"
#include "tst_enginesupport.h"

#include <sys/stat.h>

namespace {

// What the recording writer was given, by key.
QMap<QString, QString> Recorded(const QString& path)
{
    QMap<QString, QString> values;
    for (const QString& line : QString::fromUtf8(ReadFile(path)).split('\n', Qt::SkipEmptyParts))
        values.insert(line.section('=', 0, 0), line.section('=', 1));
    return values;
}

QStringList FilesIn(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.sort();
    return names;
}

bool Touch(const QString& path) { return WriteFile(path, QByteArray("x")); }

QString TakePath(int page, const QString& srcFile, const ConvertSettings& settings)
{
    QString path;
    MakeTgtFilePath(path, page, srcFile, settings);
    ReleaseTgtFilePath(path);
    return path;
}

ItemConvertResult Convert(const QString& src, const ConvertSettings* settings, const ConvertCancelFlag* cancel = nullptr)
{
    return ThreadFunction(JobFor(src, settings, cancel));
}

// The targets of a conversion that succeeded; else its state and message.
QStringList Converted(const QString& src, const ConvertSettings* settings)
{
    const ItemConvertResult result = Convert(src, settings);
    return result.state == ConvertSucceeded ? result.tgtFiles : QStringList{QString::number(result.state), result.error};
}

ConvertState WritePage(QImage page, const QString& path, const ConvertSettings& settings,
                        const ConvertCancelFlag* cancel = nullptr)
{
    return ImageConvert::ConvertPage(page, path, PLMCodecBMP, QString(), QString(), settings, cancel);
}

bool IsMostlyRed(const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }

} // namespace

class ImageConvertTest : public QObject
{
    Q_OBJECT

    TestFolders folders;

    QString NewFolder() { return folders.New(); }
    // A file of these bytes in a folder of its own (no bytes: a FIFO).
    QString Source(const QString& name, const QByteArray& bytes)
    {
        const QString path = QDir(NewFolder()).filePath(name);
        const bool made = bytes.isNull() ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 : WriteFile(path, bytes);
        return made ? path : QString();
    }
    QString SavePng(const QString& folder, const QString& name, const QImage& image)
    {
        const QString path = QDir(folder).filePath(name);
        return image.save(path, "PNG") ? path : QString();
    }
    ConvertSettings Into(const QString& format, PLMImageCodecID id) { return SettingsFor(NewFolder(), format, id); }

private slots:
    void initTestCase()
    {
        UseTestImageFormats();
        // The PDF reader claims no file unless its switch is on.
        QSettings("Pelmora", "Plugins").setValue("Xpdf", true);
        QVERIFY(folders.IsValid());
        QVERIFY(QImageWriter::supportedImageFormats().contains("kvrec"));
    }

    void targetNames()
    {
        ConvertSettings settings = Into(".png", PLMCodecPNG);
        const QString src = "/elsewhere/a.jpg";
        const QDir dir(settings.TgtFolder);
        QCOMPARE(TakePath(-1, src, settings), dir.filePath("a.png"));
        QVERIFY(Touch(dir.filePath("a.png")) && Touch(dir.filePath("a-1.png")));
        QCOMPARE(TakePath(-1, src, settings), dir.filePath("a-2.png"));
        // Pages count from 1; numbering goes after the page.
        QCOMPARE(TakePath(1, src, settings), dir.filePath("a-page2.png"));
        QVERIFY(Touch(dir.filePath("a-page2.png")));
        QCOMPARE(TakePath(1, src, settings), dir.filePath("a-page2-1.png"));
        // Only the last suffix goes.
        QCOMPARE(TakePath(-1, "/x/scan.final.tif", settings), dir.filePath("scan.final.png"));
        settings.Exists = 1;
        QCOMPARE(TakePath(-1, src, settings), dir.filePath("a.png"));
        for (int policy : {2, -1}) {
            settings.Exists = policy;
            QString path = "stale";
            QVERIFY(!MakeTgtFilePath(path, -1, src, settings) && path.isEmpty());
        }
        settings.Exists = 0;
        settings.TgtFolder.clear();
        QVERIFY(TakePath(-1, src, settings).isEmpty());
        // Next to the source, compared case-sensitively: another spelling is a folder name.
        const QString nextTo = QDir(NewFolder()).filePath("pic.bmp");
        settings.TgtFolder = "Same as source file";
        QCOMPARE(TakePath(-1, nextTo, settings), QFileInfo(nextTo).absolutePath() + "/pic.png");
        settings.TgtFolder = "same as source file";
        QVERIFY(TakePath(-1, nextTo, settings).endsWith("/same as source file/pic.png"));
        // A name handed out stays taken until it is released, file or no file.
        QString first, second, third;
        QVERIFY(MakeUniqueTgtFilePath(first, dir.path(), "photo", ".png"));
        QVERIFY(MakeUniqueTgtFilePath(second, dir.path(), "photo", ".png"));
        QCOMPARE(QFileInfo(second).fileName(), QString("photo-1.png"));
        ReleaseTgtFilePath(first);
        QVERIFY(MakeUniqueTgtFilePath(third, dir.path(), "photo", ".png"));
        QCOMPARE(third, dir.filePath("photo.png"));
        ReleaseTgtFilePath(second);
        ReleaseTgtFilePath(third);
    }

    // A link in the target folder is a taken name, and a target written over it replaces the link, never the file it
    // points to.
    void linksInTheTargetFolder_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<bool>("dangling");
        for (int policy : {0, 1})
            for (bool dangling : {true, false})
                QTest::addRow("policy %d, %s", policy, dangling ? "dangling link" : "link to a file") << policy << dangling;
    }

    void linksInTheTargetFolder()
    {
        QFETCH(int, policy);
        QFETCH(bool, dangling);
        const QString elsewhere = QDir(NewFolder()).filePath("x.png");
        if (!dangling)
            QVERIFY(WriteFile(elsewhere, "not to be touched"));
        ConvertSettings settings = Into(".png", PLMCodecPNG);
        settings.Exists = policy;
        QVERIFY(QFile::link(elsewhere, QDir(settings.TgtFolder).filePath("a.png")));
        const QFileInfo target(QDir(settings.TgtFolder).filePath(policy ? "a.png" : "a-1.png"));
        QCOMPARE(Converted(SavePng(NewFolder(), "a.png", Filled(6, 4, Qt::green)), &settings), QStringList{target.absoluteFilePath()});
        QVERIFY(!target.isSymLink());
        QCOMPARE(QImage(target.absoluteFilePath()).size(), QSize(6, 4));
        QCOMPARE(QFileInfo::exists(elsewhere), !dangling);
        if (!dangling)
            QCOMPARE(ReadFile(elsewhere), QByteArray("not to be touched"));
        // Nothing else in the folder: no temporary file left.
        QCOMPARE(FilesIn(settings.TgtFolder).size(), policy == 0 ? 2 : 1);
    }

    // Overwrite never replaces a source of the running batch or one of its earlier targets: photo.jpg's target
    // photo.png is itself a source, and a page of scan.tif would land on scan-page2.png, another source.
    void overwriteSparesTheBatchsOwnFiles()
    {
        const QString folder = NewFolder();
        const QString jpeg = QDir(folder).filePath("photo.jpg");
        QVERIFY(Filled(8, 8, Qt::red).save(jpeg, "JPEG"));
        const QString png = SavePng(folder, "photo.png", Filled(9, 9, Qt::blue));
        const QString tiff = QDir(folder).filePath("scan.tif");
        QVERIFY(WriteFile(tiff, MakeMultiPageTiff({Filled(5, 5, Qt::red), Filled(6, 6, Qt::green)})));
        const QString page2 = SavePng(folder, "scan-page2.png", Filled(3, 3, Qt::white));
        const QByteArray pngBytes = ReadFile(png), page2Bytes = ReadFile(page2);
        ConvertSettings settings = SettingsFor(kSameAsSourceFile, ".png", PLMCodecPNG);
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
        // photo.jpg, photo.png, scan page 2 and scan-page2.png took numbers; scan page 1 overwrote nothing of the batch.
        QCOMPARE(renamed, 4);
        QCOMPARE(QSet<QString>(written.begin(), written.end()).size(), 5);
        QVERIFY(written.size() == 5 && written.contains(QDir(folder).filePath("scan-page1.png")));
    }

    // A name as long as the file system allows still converts, is still overwritten, and still takes a number (its
    // base name shortened).
    void namesAtTheLengthLimit()
    {
        const QString source = SavePng(NewFolder(), QString(251, 'n') + ".png", Filled(4, 4, Qt::red));
        QVERIFY(QFileInfo::exists(source));
        ConvertSettings settings = Into(".png", PLMCodecPNG);
        QStringList names;
        for (int policy : {0, 1, 0}) {
            settings.Exists = policy;
            names << QFileInfo(Converted(source, &settings).value(0)).fileName();
        }
        const QString name = QFileInfo(source).fileName();
        QCOMPARE(names, QStringList({name, name, QString(249, 'n') + "-1.png"}));
        QCOMPARE(FilesIn(settings.TgtFolder).size(), 2);
    }

    // Numbers go up to 9999; past that the name is refused and the worker reports a failure with nothing written.
    void exhaustedNumbersFail()
    {
        const ConvertSettings settings = Into(".png", PLMCodecPNG);
        const QString folder = settings.TgtFolder;
        QVERIFY(Touch(QDir(folder).filePath("full.png")));
        for (int n = 1; n <= 9998; ++n)
            QVERIFY(Touch(QDir(folder).filePath(QString("full-%1.png").arg(n))));
        QString path;
        QVERIFY(MakeUniqueTgtFilePath(path, folder, "full", ".png"));
        QCOMPARE(path, QDir(folder).filePath("full-9999.png"));
        ReleaseTgtFilePath(path);
        QVERIFY(Touch(path));
        path = "stale";
        QVERIFY(!MakeUniqueTgtFilePath(path, folder, "full", ".png") && path.isEmpty());
        const ItemConvertResult result = Convert(SavePng(NewFolder(), "full.png", Filled(4, 4, Qt::red)), &settings);
        QCOMPARE(result.state, ConvertFailed);
        QVERIFY(result.tgtFiles.isEmpty());
        QCOMPARE(FilesIn(folder).size(), 10000);
    }

    // Sources with one base name converted into one folder at the same time: every one gets its own name and keeps
    // its own pixels.
    void concurrentJobsNeverShareATarget()
    {
        QThreadPool::globalInstance()->setMaxThreadCount(8);
        const ConvertSettings settings = Into(".bmp", PLMCodecBMP);
        QList<ImageConvertData> jobs;
        QSet<QRgb> colours, found;
        QStringList expected{"photo.bmp"};
        for (int i = 0; i < 12; ++i) {
            const QColor colour(20 * i, 255 - 20 * i, 7 * i);
            colours.insert(colour.rgb());
            jobs << JobFor(SavePng(NewFolder(), "photo.png", Filled(700, 500, colour)), &settings);
            if (i)
                expected << QString("photo-%1.bmp").arg(i);
        }
        const QList<ItemConvertResult> results = QtConcurrent::blockingMapped(jobs, ThreadFunction);
        QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
        for (const ItemConvertResult& result : results) {
            QCOMPARE(result.state, ConvertSucceeded);
            found.insert(QImage(result.tgtFiles.value(0)).pixel(350, 250));
        }
        QCOMPARE(found, colours);
        expected.sort();
        QCOMPARE(FilesIn(settings.TgtFolder), expected);
    }

    // The options go by the target codec; the writer by the file name. PDF: page size, orientation, alignment, packed
    // as the writer reads them (size in bits 16-23, orientation 24-27, alignment 28-31, bit 0 set).
    void writerOptions_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<int>("value");
        QTest::addColumn<QVector<int>>("pdfLayout");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("compression");
        const QVector<int> a4 = {0, 0, 0};
        const int lossless = PluginContract::LosslessQuality;
        const auto row = [&a4](const char* name, PLMImageCodecID codec, bool ll, int value, int quality, int compression = -1) {
            QTest::newRow(name) << int(codec) << ll << value << a4 << quality << compression;
        };
        row("jpeg 100", PLMCodecJPEG, false, 100, 100); row("jpeg 37", PLMCodecJPEG, true, 37, 37);
        row("webp lossless", PLMCodecWEBP, true, 50, lossless); row("webp lossy", PLMCodecWEBP, false, 50, 50);
        row("heif quality", PLMCodecHEIF, true, 42, 42);
        row("avif lossless", PLMCodecAVIF, true, 42, lossless); row("avif lossy", PLMCodecAVIF, false, 42, 42);
        row("jxl lossless", PLMCodecJXL, true, 42, lossless); row("jxl lossy", PLMCodecJXL, false, 42, 42);
        row("jpeg xr lossless", PLMCodecJPEGXR, true, 63, PluginContract::JpegXrLosslessQuality); row("jpeg xr lossy", PLMCodecJPEGXR, false, 63, 63);
        row("jpeg 2000 lossless", PLMCodecJPEG2000, true, 20, -1, 1); row("jpeg 2000 rate", PLMCodecJPEG2000, false, 20, -1, 20);
        row("pdf defaults", PLMCodecPDF, false, 0, 1);
        row("png has no option", PLMCodecPNG, false, 0, -1); row("bmp has no option", PLMCodecBMP, false, 0, -1);
        QTest::newRow("pdf legal portrait centre") << int(PLMCodecPDF) << false << 0 << QVector<int>{3, 0, 0} << PluginContract::PackPdfLayout(3, 0, 0) << -1;
        QTest::newRow("pdf letter landscape top left") << int(PLMCodecPDF) << false << 0 << QVector<int>{2, 1, 1}
                                                       << PluginContract::PackPdfLayout(2, 1, 1) << -1;
    }

    void writerOptions()
    {
        QFETCH(int, codec);
        QFETCH(bool, lossless);
        QFETCH(int, value);
        QFETCH(QVector<int>, pdfLayout);
        ConvertSettings settings = Into(".kvrec", PLMImageCodecID(codec));
        settings.WEBPLlCmpsn = settings.JPEGXRLlCmpsn = settings.J2000LlCmpsn = lossless;
        settings.AVIFLlCmpsn = settings.JXLLlCmpsn = lossless;
        settings.JPEGCmpsnQuality = settings.WEBPCmpsnQuality = settings.JPEGXRCmpsnQuality = value;
        settings.J2000CmpsnRate = settings.HEIFCmpsnQuality = settings.AVIFCmpsnQuality = settings.JXLCmpsnQuality = value;
        std::tie(settings.PageSize, settings.PageOri, settings.Align) = std::make_tuple(pdfLayout[0], pdfLayout[1], pdfLayout[2]);
        const QString path = QDir(settings.TgtFolder).filePath("page.kvrec");
        QCOMPARE(WritePage(Filled(5, 4, Qt::green), path, settings), ConvertSucceeded);
        const QMap<QString, QString> recorded = Recorded(path);
        QCOMPARE(recorded.value("size"), QString("5x4"));
        QTEST(recorded.value("quality").toInt(), "quality");
        QTEST(recorded.value("compression").toInt(), "compression");
    }

    // A page written while other pool threads stand idle may use them too: of three threads, one busy elsewhere, the
    // writer's grant is two; gone afterwards.
    void codecThreadsGrant()
    {
        QThreadPool* pool = QThreadPool::globalInstance();
        pool->setMaxThreadCount(3);
        QSemaphore release, running;
        pool->start([&] {
            running.release();
            release.acquire();
        });
        running.acquire();
        const ConvertSettings settings = Into(".kvrec", PLMCodecBMP);
        const QString path = QDir(settings.TgtFolder).filePath("page.kvrec");
        // Started on the pool, not through QtConcurrent: QFuture::result() may run a queued task on the caller.
        bool clearedAfter = false;
        pool->start([&] {
            WritePage(Filled(5, 4, Qt::green), path, settings);
            clearedAfter = !QThread::currentThread()->property(PluginContract::CodecThreadsProperty).isValid();
            running.release();
        });
        running.acquire();
        release.release();
        pool->waitForDone();
        pool->setMaxThreadCount(QThread::idealThreadCount());
        QCOMPARE(Recorded(path).value("threads").toInt(), 2);
        QVERIFY(clearedAfter);
    }

    void metadataIsPackedIntoOneEntry()
    {
        QImage source = Filled(6, 6, Qt::yellow);
        source.setText("Author", "Ann Example");
        source.setText("Comment", "two;parts");
        const QString src = SavePng(NewFolder(), "meta.png", source);
        const QString bare = SavePng(NewFolder(), "bare.png", Filled(6, 6, Qt::yellow));
        ConvertSettings settings = Into(".kvrec", PLMCodecTIFF);
        settings.KeepMd = true;
        const auto description = [&settings](const QString& file, int page = 0) {
            return Recorded(Convert(file, &settings).tgtFiles.value(page)).value("description");
        };
        const QString packedKey = QString("Author;Comment") + MetadataPacking::PackedKeySuffix();
        QCOMPARE(description(src), packedKey + ": Ann Example;two\\;parts");
        // Every page of a multi-page source carries the first page's metadata.
        QImage first = Filled(8, 8, Qt::red), second = Filled(8, 8, Qt::blue);
        first.setText("Description", "first");
        second.setText("Description", "second");
        const QString pages = Source("pages.ithmb", MakeFakeThumbnailFile({EncodeImage(first, "JPEG"), EncodeImage(second, "JPEG")}, false));
        QCOMPARE(Convert(pages, &settings).tgtFiles.size(), 2);
        const QString firstPage = description(pages, 0);
        QVERIFY2(firstPage.contains("first"), qPrintable(firstPage));
        QCOMPARE(description(pages, 1), firstPage);
        // No keys, or metadata not kept: no text on the writer.
        QCOMPARE(description(bare), QString());
        settings.KeepMd = false;
        QCOMPARE(description(src), QString());
        // A real PNG target carries the packed entry as one text chunk.
        settings = Into(".png", PLMCodecPNG);
        settings.KeepMd = true;
        QCOMPARE(QImageReader(Converted(src, &settings).value(0)).text(packedKey), QString("Ann Example;two\\;parts"));
    }

    // A raster source keeps its own resolution (100 DPI) unless a target one is asked for.
    void resolutionStamping()
    {
        QImage source = Filled(10, 10, Qt::cyan);
        source.setDotsPerMeterX(3937);
        source.setDotsPerMeterY(3937);
        const QString src = SavePng(NewFolder(), "dpi.png", source);
        ConvertSettings settings = Into(".png", PLMCodecPNG);
        settings.TgtDPI = 300;
        QCOMPARE(QImage(Convert(src, &settings).tgtFiles.first()).dotsPerMeterX(), 3937);
        settings.TgtDPISameSrc = false;
        const QImage stamped(Convert(src, &settings).tgtFiles.first());
        QCOMPARE(QSize(stamped.dotsPerMeterX(), stamped.dotsPerMeterY()), QSize(11811, 11811));
    }

    // Vector sources are drawn and stamped at the target resolution even when the source's own is asked for; where
    // they draw nothing a JPEG target is white, a PNG one transparent.
    void vectorRenderedAtTargetResolution_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QColor>("uncovered");
        const QByteArray svg("<svg xmlns='http://www.w3.org/2000/svg' width='50' height='40'>"
                             "<rect x='0' y='0' width='10' height='10' fill='red'/></svg>");
        QTest::newRow("svg to jpeg") << "shape.svg" << svg << ".jpg" << QSize(100, 80) << QColor(Qt::white);
        QTest::newRow("svg to png") << "shape.svg" << svg << ".png" << QSize(100, 80) << QColor(Qt::transparent);
        QByteArray pdf;
        {
            QBuffer buffer(&pdf);
            buffer.open(QIODevice::WriteOnly);
            QPdfWriter writer(&buffer);
            writer.setPageLayout(QPageLayout(QPageSize(QSizeF(72, 36), QPageSize::Point), QPageLayout::Portrait, QMarginsF()));
            QPainter(&writer).fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::red);
        }
        QTest::newRow("pdf to png") << "doc.pdf" << pdf << ".png" << QSize(144, 72) << QColor();
    }

    void vectorRenderedAtTargetResolution()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(QString, format);
        QFETCH(QColor, uncovered);
        if (name.endsWith(".pdf") && !QImageReader::supportedImageFormats().contains("pdf"))
            QSKIP("no PDF reader installed");
        ConvertSettings settings = Into(format, format == ".jpg" ? PLMCodecJPEG : PLMCodecPNG);
        settings.TgtDPI = 144;
        QVERIFY(settings.TgtDPISameSrc);
        const QImage image(Converted(Source(name, file), &settings).value(0));
        QTEST(image.size(), "size");
        QCOMPARE(image.dotsPerMeterX(), 5669);
        QVERIFY(IsMostlyRed(image.pixelColor(5, 5)));
        const QColor corner = image.pixelColor(image.width() - 5, image.height() - 5);
        if (uncovered.isValid())
            QCOMPARE(corner.alpha() == 0 ? corner.alpha() : corner.lightness() > 245 ? 255 : -1, uncovered.alpha());
    }

    void iconWithSeveralSizes()
    {
        QImage page = Filled(300, 200, QColor(0, 0, 255, 128), QImage::Format_ARGB32);
        ConvertSettings settings = Into(".ico", PLMCodecICO);
        settings.ICODim = 32 | 4 | 1;
        const QString path = QDir(settings.TgtFolder).filePath("app.ico");
        QCOMPARE(WritePage(page, path, settings), ConvertSucceeded);
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
        const QString none = QDir(settings.TgtFolder).filePath("none.ico");
        QCOMPARE(WritePage(page, none, settings), ConvertFailed);
        QVERIFY(!QFileInfo::exists(none));
        // A size that cannot be written, or is written as something else than an icon (a cursor), stops the icon with
        // nothing written.
        for (const char* format : {"kvfail", "kvcur"}) {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            QImageWriter failing(&buffer, format);
            QCOMPARE(ImageConvert::ConvertToICO(page, failing, 32 | 1), ConvertFailed);
            QCOMPARE(buffer.size(), qint64(0));
        }
    }

    // A writer that fails halfway, or no writer at all, leaves neither a partial target nor a damaged existing one.
    void failedWriteLeavesNoTrace_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("exists");
        QTest::newRow("fails halfway, overwrite") << ".kvfail" << 1;
        QTest::newRow("fails halfway, numbered") << ".kvfail" << 0;
        QTest::newRow("no writer, overwrite") << ".gif" << 1;
    }

    void failedWriteLeavesNoTrace()
    {
        QFETCH(QString, format);
        const QString folder = NewFolder();
        const QString src = SavePng(folder, "doc.png", Filled(64, 64, Qt::magenta));
        const QString existing = QDir(folder).filePath("doc" + format);
        QVERIFY(WriteFile(existing, "precious bytes"));
        const QStringList before = FilesIn(folder);
        ConvertSettings settings = SettingsFor(kSameAsSourceFile, format, PLMCodecBMP);
        QFETCH(int, exists);
        settings.Exists = exists;
        const ItemConvertResult result = Convert(src, &settings);
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
        const QString src = SavePng(folder, "self.png", source);
        ConvertSettings settings = SettingsFor(kSameAsSourceFile, ".png", PLMCodecPNG);
        settings.Exists = 1;
        settings.edited = true;
        settings.rfr.angle = 90;
        QCOMPARE(Converted(src, &settings), QStringList{src});
        const QImage written(src);
        QCOMPARE(written.size(), QSize(20, 40));
        QCOMPARE(written.pixelColor(19, 0), QColor(Qt::red));
        QCOMPARE(FilesIn(folder), QStringList{"self.png"});
    }

    // Check points of the page writer: before the edits, after them, after the options; with edits on, the edits
    // poll once more (after the page transform).
    void pageWriterCancelPoints_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::addColumn<int>("tripAt");
        QTest::addColumn<int>("state");
        const QList<QVector<int>> rows{{0, 1, 2}, {0, 2, 2}, {0, 3, 2}, {0, 4, 0}, {1, 2, 2}, {1, 4, 2}, {1, 5, 0}};
        for (const QVector<int>& row : rows)
            QTest::addRow("%s, poll %d", row[0] ? "edited" : "plain", row[1]) << bool(row[0]) << row[1] << row[2];
    }

    void pageWriterCancelPoints()
    {
        QFETCH(bool, edited);
        QFETCH(int, tripAt);
        QFETCH(int, state);
        ConvertSettings settings = Into(".png", PLMCodecPNG);
        settings.edited = edited;
        const QString path = QDir(settings.TgtFolder).filePath("page.png");
        const TrippingCancelFlag cancel(tripAt);
        QCOMPARE(int(WritePage(Filled(8, 8, Qt::gray), path, settings, &cancel)), state);
        QCOMPARE(QFileInfo::exists(path), state == 0);
        QCOMPARE(FilesIn(settings.TgtFolder).size(), state == 0 ? 1 : 0);
    }

    // A photo's recorded orientation (set by exiftool: 3 half a turn, 6 a quarter clockwise, 8 counter-clockwise)
    // turns it upright.
    void orientationIsApplied_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("turn");      // clockwise, to show it upright
        for (const QPoint& row : {QPoint(3, 180), QPoint(6, 90), QPoint(8, 270)})
            QTest::addRow("%d", row.x()) << row.x() << row.y();
    }

    void orientationIsApplied()
    {
        QFETCH(int, orientation);
        QFETCH(int, turn);
        // An upright picture with a red top-left corner and a blue strip on the right.
        QImage upright = Filled(40, 24, Qt::white);
        QPainter(&upright).fillRect(0, 0, 8, 8, Qt::red);
        QPainter(&upright).fillRect(34, 0, 6, 24, Qt::blue);
        const QString src = QDir(NewFolder()).filePath("phone.jpg");
        QVERIFY(upright.transformed(QTransform().rotate(-turn)).save(src, "JPEG", 100));
        QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", QString("-Orientation#=%1").arg(orientation), src}), 0);
        const ConvertSettings settings = Into(".png", PLMCodecPNG);
        const QImage written(Converted(src, &settings).value(0));
        QCOMPARE(written.size(), upright.size());
        QVERIFY(qRed(written.pixel(2, 2)) > 200 && qBlue(written.pixel(2, 2)) < 60);
        QVERIFY(qBlue(written.pixel(38, 12)) > 200 && qRed(written.pixel(38, 12)) < 60);
        QVERIFY(qRed(written.pixel(20, 20)) > 200 && qBlue(written.pixel(20, 20)) > 200);
    }

    // What a source leaves in the target folder: one target per page, each holding its own page; a page that cannot
    // be read stops the file with the pages before it kept; a source that is no picture (or no regular file: a FIFO
    // would block the reader) leaves nothing. The job checks for a cancel as it starts, and per page once before
    // writing and three times in the page writer: a canceled job takes back the pages it wrote. A header that
    // declares more pixels than the budget fails before any decoding, with a message that names the size; a
    // multi-page source is checked page by page.
    void sourcesAndTheirTargets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");       // null: a FIFO
        QTest::addColumn<int>("cancelAt");          // the poll that reports a cancel, 0: none
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("targets");
        QTest::addColumn<QString>("error");         // part of the message
        const QList<QImage> pages{Filled(30, 20, Qt::red), Filled(31, 20, Qt::green), Filled(32, 20, Qt::blue)};
        const QStringList first{"scan-page1.png"};
        QTest::newRow("three pages") << "scan.tif" << MakeMultiPageTiff(pages) << 0 << int(ConvertSucceeded)
                                     << QStringList{"scan-page1.png", "scan-page2.png", "scan-page3.png"} << "";
        QTest::newRow("second page broken") << "scan.tif" << MakeMultiPageTiff(pages, 1) << 0 << int(ConvertFailed) << first << "";
        QTest::newRow("canceled before page 2") << "scan.tif" << MakeMultiPageTiff(pages) << 6 << int(ConvertCanceled)
                                                << QStringList() << "";
        QTest::newRow("not an image") << "broken.png" << QByteArray("not an image") << 0 << int(ConvertFailed) << QStringList() << "";
        QTest::newRow("fifo") << "pipe.png" << QByteArray() << 0 << int(ConvertFailed) << QStringList() << "";
        QByteArray cut = MakeFakeThumbnailFile({EncodeImage(Filled(40, 30, Qt::red), "JPEG")}, true);
        cut.chop(10);       // the picture now reaches past the end
        QTest::newRow("thumbnail span past the end") << "cut.ithmb" << cut << 0 << int(ConvertFailed) << QStringList() << "";
        QTest::newRow("SVG of 2000 inches") << "huge.svg"
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2000in\" height=\"1000in\"><rect width=\"9\" height=\"9\"/></svg>")
            << 0 << int(ConvertFailed) << QStringList() << "180000 × 90000";
        QByteArray tiff = MakeMultiPageTiff(pages.mid(0, 2));
        // The second page's width and height entries (its first two), made huge.
        const quint32 firstIfd = qFromLittleEndian<quint32>(tiff.constData() + 4);
        const quint32 nextIfd = qFromLittleEndian<quint32>(tiff.constData() + firstIfd + 2 + 10 * 12);
        qToLittleEndian<quint32>(60000, reinterpret_cast<uchar*>(tiff.data()) + nextIfd + 2 + 8);
        qToLittleEndian<quint32>(50000, reinterpret_cast<uchar*>(tiff.data()) + nextIfd + 2 + 12 + 8);
        QTest::newRow("TIFF with a huge second page") << "scan.tif" << tiff << 0 << int(ConvertFailed) << first << "60000 × 50000";
    }

    void sourcesAndTheirTargets()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, targets);
        QFETCH(int, cancelAt);
        QFETCH(QString, error);
        const QString src = Source(name, file);
        QVERIFY(!src.isEmpty());
        const bool ithmb = name.endsWith(".ithmb");
        ConvertSettings settings = Into(ithmb ? ".jpg" : ".png", ithmb ? PLMCodecJPEG : PLMCodecPNG);
        settings.KeepMd = true;
        const TrippingCancelFlag cancel(cancelAt ? cancelAt : INT_MAX);
        const ItemConvertResult result = Convert(src, &settings, &cancel);
        QTEST(int(result.state), "state");
        if (cancelAt)
            QCOMPARE(cancel.Polls(), cancelAt);
        // A broken page is named, counting from 1.
        QCOMPARE(result.error.startsWith("Page 2: "), targets.size() == 1);
        QVERIFY2(result.error.contains(error) && (error.isEmpty() || result.error.contains("GiB")), qPrintable(result.error));
        QStringList written;
        for (int i = 0; i < result.tgtFiles.size(); ++i) {
            written << QFileInfo(result.tgtFiles.at(i)).fileName();
            QCOMPARE(QFileInfo(result.tgtFiles.at(i)).absolutePath(), settings.TgtFolder);
            QCOMPARE(QImage(result.tgtFiles.at(i)).width(), 30 + i);
        }
        QCOMPARE(written, targets);
        QCOMPARE(FilesIn(settings.TgtFolder), targets);
        if (!file.isNull())
            QCOMPARE(Convert(src, nullptr).state, ConvertFailed);
    }

    // Embedded JPEGs go to a JPEG target byte for byte when metadata is kept (no edit applies to them); overwrite
    // replaces a target whole.
    void thumbnailJpegsAreCopiedByteForByte()
    {
        QImage first = Filled(40, 30, Qt::red);
        first.setText("Description", "own metadata");
        const QByteArray jpeg1 = EncodeImage(first, "JPEG", 35);
        const QByteArray jpeg2 = EncodeImage(Filled(20, 10, Qt::blue), "JPEG", 90);
        const QString several = Source("thumbs.ithmb", MakeFakeThumbnailFile({jpeg1, jpeg2}, true));
        const QString single = Source("one.ithmb", MakeFakeThumbnailFile({jpeg2}, true));
        ConvertSettings settings = Into(".jpg", PLMCodecJPEG);
        settings.KeepMd = settings.edited = true;
        settings.rfr.angle = 90;
        const QDir target(settings.TgtFolder);
        QCOMPARE(Converted(several, &settings), QStringList({target.filePath("thumbs-page1.jpg"), target.filePath("thumbs-page2.jpg")}));
        QCOMPARE(ReadFile(target.filePath("thumbs-page1.jpg")) + ReadFile(target.filePath("thumbs-page2.jpg")), jpeg1 + jpeg2);
        ItemConvertResult result;
        // A single picture takes no page number.
        QVERIFY(WriteFile(target.filePath("one.jpg"), "an older and rather longer file than the picture"));
        for (int exists : {1, 0}) {
            settings.Exists = exists;
            result = Convert(single, &settings);
            QCOMPARE(result.tgtFiles, QStringList{target.filePath(exists ? "one.jpg" : "one-1.jpg")});
            QCOMPARE(ReadFile(result.tgtFiles.first()), jpeg2);
        }
        // Canceled after the first picture: it is taken back, nothing listed. A damaged embedded picture (cut short,
        // or garbage after its start) is a failure, not a copied file no viewer opens.
        const QStringList before = FilesIn(settings.TgtFolder);
        const TrippingCancelFlag cancel(2);
        result = Convert(several, &settings, &cancel);
        QCOMPARE(result.state, ConvertCanceled);
        QVERIFY(result.tgtFiles.isEmpty());
        for (const QByteArray& damaged : {jpeg2.left(jpeg2.size() - 40), QByteArray("\xFF\xD8garbage\xFF\xD9")}) {
            QVERIFY(WriteFile(single, MakeFakeThumbnailFile({damaged}, true)));
            result = Convert(single, &settings);
            QCOMPARE(result.state, ConvertFailed);
            QVERIFY(result.tgtFiles.isEmpty());
        }
        QCOMPARE(FilesIn(settings.TgtFolder), before);
    }

    // Otherwise the thumbnail is decoded and encoded again: a JPEG target without metadata, a PNG target, frames that
    // are no embedded JPEGs.
    void thumbnailsOtherwiseDecoded()
    {
        const QByteArray jpeg = EncodeImage(Filled(40, 30, Qt::red), "JPEG", 20);
        for (const QString& row : QStringList{"embedded .jpg", "embedded .png keep", "frames .jpg keep"}) {
            const QString format = row.section(' ', 1, 1);
            ConvertSettings settings = Into(format, format == ".png" ? PLMCodecPNG : PLMCodecJPEG);
            settings.KeepMd = row.endsWith("keep");
            settings.JPEGCmpsnQuality = 95;
            const QString src = Source("thumb.ithmb", MakeFakeThumbnailFile({jpeg}, row.startsWith("embedded")));
            const QString written = Converted(src, &settings).value(0);
            QVERIFY2(ReadFile(written) != jpeg, qPrintable(row));
            QCOMPARE(QImage(written).size(), QSize(40, 30));
            QVERIFY(IsMostlyRed(QImage(written).pixelColor(20, 15)));
        }
    }
};

KORVANE_TEST_MAIN(ImageConvertTest)
#include "tst_imageconvert.moc"
