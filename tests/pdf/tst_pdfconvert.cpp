// The converter's per-file worker with PDF sources and PDF targets, through
// the program's plugin, checked with the poppler command-line tools.
#include "imageconvertthread.h"
#include "testsupport.h"

#include "pdffixtures.h"

#include <QElapsedTimer>
#include <QImageReader>
#include <QtConcurrent>
#include <QLoggingCategory>
#include <QSettings>

using namespace PdfFixtures;

class PdfConvertTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    ConvertSettings Settings(const QString& format, PLMImageCodecID id)
    {
        ConvertSettings settings;
        settings.TgtFolder = dir.path();
        settings.Exists = 1;
        settings.TgtFormat = format;
        settings.TgtID = id;
        return settings;
    }

private slots:
    void initTestCase()
    {
        QSettings("Pelmora", "Plugins").setValue("Xpdf", true);
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(dir.isValid());
    }

    void pagesBecomeNumberedTargets()
    {
        const QList<Page> pages = {
            {QSizeF(595, 842), QRectF(100, 100, 100, 100), QColor(Qt::red)},
            {QSizeF(792, 612), QRectF(300, 50, 60, 40), QColor(Qt::blue)},
            {QSizeF(144, 72), QRectF(0, 0, 72, 72), QColor(Qt::green)},
        };
        ImageConvertData job;
        job.srcFile = Save(dir.path(), "three.pdf", WrittenPdf(pages));
        ConvertSettings settings = Settings(".png", PLMCodecPNG);
        settings.TgtDPI = 144;   // PDF sources render at the target DPI even with "same as source"
        job.settings = &settings;

        const ItemConvertResult result = ThreadFunction(job);
        QCOMPARE(int(result.state), int(ConvertSucceeded));
        QCOMPARE(result.tgtFiles, QStringList({dir.filePath("three-page1.png"), dir.filePath("three-page2.png"),
                                               dir.filePath("three-page3.png")}));
        for (int i = 0; i < 3; ++i) {
            const QImage image(result.tgtFiles.at(i));
            QCOMPARE(image.size(), (pages.at(i).sizePoints * 2).toSize());
            QCOMPARE(image.dotsPerMeterX(), 5669);
            QCOMPARE(image.pixelColor((pages.at(i).box.center() * 2).toPoint()), pages.at(i).colour);
        }
    }

    // Poppler renders in a child process: a page that would render for
    // minutes ends as soon as its job is canceled, and leaves nothing.
    void cancelEndsARenderingPage()
    {
        ImageConvertData job;
        job.srcFile = Save(dir.path(), "forms.pdf", FormsDrawingFormsPdf(40));
        ConvertSettings settings = Settings(".png", PLMCodecPNG);
        settings.TgtFolder = dir.filePath("forms");
        QVERIFY(QDir().mkpath(settings.TgtFolder));
        job.settings = &settings;
        ConvertCancelFlag cancel;
        job.cancelFlag = &cancel;
        QFuture<ItemConvertResult> running = QtConcurrent::run(ThreadFunction, job);
        QTest::qWait(1500);
        QVERIFY(!running.isFinished());
        QElapsedTimer clock;
        clock.start();
        cancel.Cancel();
        running.waitForFinished();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(running.result().state != ConvertSucceeded);
        QVERIFY(QDir(settings.TgtFolder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    void pngToPdf_data()
    {
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QSize>("page");      // points
        QTest::addColumn<QRectF>("where");    // points

        // 200 x 100 pixels at 144 DPI are 100 x 50 points.
        const QImage picture = Picture(200, 100, 144);
        for (const PageCase& c : PageCases())
            QTest::newRow(c.name.constData()) << c.pageSize << c.orientation << c.alignment << picture << c.page << c.where;
        QTest::newRow("too large for the page") << 3 << 1 << 0 << Picture(2016, 612, 72) << QSize(1008, 612)
                                                << QRectF(0, 153, 1008, 306);
    }

    void pngToPdf()
    {
        if (!HaveTools())
            QSKIP("pdfinfo, pdfimages and pdftoppm (poppler-utils) are not installed");
        QFETCH(int, pageSize);
        QFETCH(int, orientation);
        QFETCH(int, alignment);
        QFETCH(QImage, image);
        QFETCH(QSize, page);
        QFETCH(QRectF, where);
        ImageConvertData job;
        job.srcFile = dir.filePath("picture.png");
        QVERIFY(image.save(job.srcFile));
        ConvertSettings settings = Settings(".pdf", PLMCodecPDF);
        settings.PageSize = pageSize;
        settings.PageOri = orientation;
        settings.Align = alignment;
        job.settings = &settings;

        const ItemConvertResult result = ThreadFunction(job);
        QCOMPARE(int(result.state), int(ConvertSucceeded));
        QCOMPARE(result.tgtFiles, QStringList(dir.filePath("picture.pdf")));
        CheckWithTools(result.tgtFiles.at(0), image.size(), page, where);
    }
};

KORVANE_TEST_MAIN(PdfConvertTest)
#include "tst_pdfconvert.moc"
