// The PDF plugin through Qt's reader and writer and the converter's worker: pages, document info,
// broken documents; files as the poppler tools see them, pages on one writer, PDF sources to
// numbered targets, a render canceled mid-page; the "Xpdf" switch.
#include "imageconvertthread.h"
#include "graphics/plugincontract.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QPainter>
#include <QPdfWriter>
#include <QPluginLoader>
#include <QRegularExpression>
#include <QSettings>
#include <QtConcurrent>

namespace {

struct Page { QSizeF sizePoints; QRectF box; QColor colour; };
using Info = QList<QPair<QByteArray, QByteArray>>;

// Pages of a size in points, a box (points, from the top left) filled, written with QPdfWriter.
QByteArray WrittenPdf(const QList<Page>& pages)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        QPainter painter;
        for (int i = 0; i < pages.size(); ++i) {
            writer.setPageLayout(QPageLayout(QPageSize(pages.at(i).sizePoints, QPageSize::Point), QPageLayout::Portrait,
                                             QMarginsF(), QPageLayout::Point));
            (void)(i == 0 ? painter.begin(&writer) : writer.newPage());
            painter.fillRect(pages.at(i).box, pages.at(i).colour);
        }
    }
    return buffer.data();
}

// Three pages of different sizes (A4, Letter landscape, 144 x 72), each with one box.
QList<Page> ThreePages()
{
    return {{QSizeF(595, 842), QRectF(100, 100, 100, 100), QColor(Qt::red)},
            {QSizeF(792, 612), QRectF(300, 50, 60, 40), QColor(Qt::blue)},
            {QSizeF(144, 72), QRectF(0, 0, 72, 72), QColor(Qt::green)}};
}

// Objects numbered from 1 in list order, then the cross-reference table.
QByteArray Assemble(const QList<QByteArray>& objects, const QByteArray& trailer)
{
    QByteArray pdf("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    QByteArray xref = "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    return pdf + xref + "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R " + trailer
         + " >>\nstartxref\n" + QByteArray::number(pdf.size()) + "\n%%EOF\n";
}
QByteArray Stream(const QByteArray& dictionary, const QByteArray& content)
{
    return "<< " + dictionary + " /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content
         + "\nendstream";
}

// One page written by hand: pageSize points, (10, 10)-(60, 60) red from the bottom left, the info
// entries ({"Title", "(Report)"}); locked: encrypted with a user password (whose check fails).
QByteArray HandPdf(const Info& info = Info(), QSizeF pageSize = QSizeF(200, 100), bool locked = false)
{
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(pageSize.width()) + " "
            + QByteArray::number(pageSize.height()) + "] /Contents 4 0 R /Resources << >> >>",
        Stream("", "1 0 0 rg 10 10 50 50 re f\n")};
    const QByteArray id = QByteArray(16, 'k').toHex();
    QByteArray trailer = "/ID [<" + id + "> <" + id + ">]";
    if (!info.isEmpty()) {
        QByteArray dict = "<<";
        for (const auto& entry : info)
            dict += " /" + entry.first + " " + entry.second;
        objects << dict + " >>";
        trailer += " /Info 5 0 R";
    }
    if (locked) {
        objects << "<< /Filter /Standard /V 1 /R 2 /O <" + QByteArray(32, 'o').toHex() + "> /U <" + QByteArray(32, 'u').toHex()
                       + "> /P -4 >>";
        trailer += " /Encrypt " + QByteArray::number(objects.size()) + " 0 R";
    }
    return Assemble(objects, trailer);
}

// One page drawing a form (object 5 on) that draws the next twice, depth times: 2^depth draws.
QByteArray FormsDrawingFormsPdf(int depth)
{
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R /Resources << /XObject << /F 5 0 R >> >> >>",
        Stream("", "/F Do")};
    for (int level = 0; level < depth; ++level) {
        const bool last = level + 1 == depth;
        objects << Stream("/Type /XObject /Subtype /Form /BBox [0 0 200 200]"
                              + (last ? QByteArray() : " /Resources << /XObject << /F " + QByteArray::number(6 + level)
                                                           + " 0 R >> >>"),
                          last ? "0 0 1 rg 10 10 50 50 re f" : "/F Do /F Do");
    }
    return Assemble(objects, QByteArray());
}

// Writes bytes to dir/name and answers the path.
QString Save(const QString& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir + '/' + name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}

// The bounding box of the pixels that differ from white by more than a little.
QRect InkBox(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) + qGreen(p) + qBlue(p) < 3 * 255 - 60)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// The program's PDF plugin object, loaded from the build.
QImageIOPlugin* Plugin()
{
    QPluginLoader loader(QStringLiteral(KORVANE_PDF_PLUGIN_FILE));
    return qobject_cast<QImageIOPlugin*>(loader.instance());
}

// A picture whose left half is red and right half blue, at dpi.
QImage Picture(int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(width / 2, 0, width - width / 2, height, QColor(0, 0, 255));
    image.setDotsPerMeterX(qRound(dpi * 1000 / 25.4));
    image.setDotsPerMeterY(image.dotsPerMeterX());
    return image;
}

// Checks that page shows Picture() inside where (pixels), on white.
void CheckPage(const QImage& page, const QRectF& where)
{
    // Edges within the antialiased pixel; colours within a step or two of resampling.
    const QRect ink = InkBox(page);
    QVERIFY2(qAbs(ink.left() - where.left()) <= 1 && qAbs(ink.top() - where.top()) <= 1
                 && qAbs(ink.right() + 1 - where.right()) <= 1 && qAbs(ink.bottom() + 1 - where.bottom()) <= 1,
             qPrintable(QString("ink at %1,%2 %3x%4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height())));
    const auto near = [](QRgb actual, QRgb expected) {
        return qAbs(qRed(actual) - qRed(expected)) <= 2 && qAbs(qGreen(actual) - qGreen(expected)) <= 2
            && qAbs(qBlue(actual) - qBlue(expected)) <= 2;
    };
    const int y = qRound(where.center().y());
    QVERIFY(near(page.pixel(qRound(where.left() + where.width() / 4), y), qRgb(255, 0, 0)));
    QVERIFY(near(page.pixel(qRound(where.right() - where.width() / 4), y), qRgb(0, 0, 255)));
}

// Checks a one-page PDF as pdfinfo, pdfimages and pdftoppm see it: page size (points), one lossless
// RGB image of imageSize pixels, and at 72 DPI the picture at where (points).
void CheckWithTools(const QString& path, const QSize& imageSize, const QSize& page, const QRectF& where)
{
    const auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(60000) && process.exitCode() == 0 ? QString(process.readAllStandardOutput())
                                                                         : QString();
    };
    const QString info = run("pdfinfo", {path});
    QVERIFY2(info.contains(QRegularExpression(QString("Page size:\\s+%1 x %2 pts").arg(page.width()).arg(page.height())))
                 && info.contains(QRegularExpression("Pages:\\s+1\\n")),
             qPrintable(info));
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    const QStringList rows = run("pdfimages", {"-list", path}).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 3);
    const QStringList row = rows.at(2).simplified().split(' ');
    QCOMPARE(row.mid(2, 7), QStringList({"image", QString::number(imageSize.width()),
                                         QString::number(imageSize.height()), "rgb", "3", "8", "image"}));
    QVERIFY2(qAbs(row.at(12).toDouble() - imageSize.width() * 72.0 / where.width()) <= 1, qPrintable(rows.at(2)));
    QTemporaryDir dir;
    run("pdftoppm", {"-r", "72", "-png", "-singlefile", path, dir.path() + "/page"});
    const QImage rendered(dir.path() + "/page.png");
    QCOMPARE(rendered.size(), page);
    CheckPage(rendered.convertToFormat(QImage::Format_RGB32), where);
}

QList<QImage> ReadAll(QIODevice* device)
{
    QList<QImage> pages;
    QImageReader reader(device, "pdf");
    for (int i = 0; i < reader.imageCount(); ++i)
        pages << reader.read();
    return pages;
}

QList<QImage> ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? ReadAll(&file) : QList<QImage>();
}

// A device that takes no byte.
class FullDevice : public QIODevice
{
protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }
};

} // namespace

class PdfTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString sThreePages;

    ConvertSettings Settings(const QString& format, PLMImageCodecID id)
    {
        ConvertSettings settings;
        settings.TgtFolder = dir.path(), settings.Exists = 1, settings.TgtFormat = format, settings.TgtID = id;
        return settings;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(dir.isValid());
        QVERIFY(QImageReader::supportedMimeTypes().contains("application/pdf"));
        sThreePages = Save(dir.path(), "three.pdf", WrittenPdf(ThreePages()));
        QVERIFY(!sThreePages.isEmpty());
    }

    // The quality's high 16 bits are the resolution; pages of their own sizes,
    // opaque, in order, then nothing; jumps within the pages only; the size
    // answered for a resolution is the size rendered, also between two pixels.
    void pagesAtResolution_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("dpi");
        QTest::newRow("no quality") << -1 << 72;
        QTest::newRow("144 DPI") << PluginContract::PackRenderDpi(144) << 144;
        QTest::newRow("low bits ignored") << (PluginContract::PackRenderDpi(50) | 1) << 50;
        QTest::newRow("97 DPI") << PluginContract::PackRenderDpi(97) << 97;
    }

    void pagesAtResolution()
    {
        QFETCH(int, quality);
        QFETCH(int, dpi);
        QImageReader reader(sThreePages);
        reader.setQuality(quality);
        QCOMPARE(reader.imageCount(), 3);
        QCOMPARE(reader.format(), QByteArray("pdf"));
        for (int i = 0; i < 3; ++i) {
            const Page page = ThreePages().at(i);
            QCOMPARE(reader.currentImageNumber(), i);
            const QImage image = reader.read();
            QCOMPARE(image.size(), (page.sizePoints * dpi / 72).toSize());
            QCOMPARE(image.dotsPerMeterX(), qRound(dpi * 1000 / 25.4));
            QCOMPARE(image.dotsPerMeterY(), image.dotsPerMeterX());
            QVERIFY(!image.hasAlphaChannel());
            QCOMPARE(image.pixelColor((page.box.center() * dpi / 72).toPoint()), page.colour);
        }
        QVERIFY(!reader.canRead() && reader.read().isNull());
        QVERIFY(reader.jumpToImage(1) && !reader.jumpToImage(3) && !reader.jumpToImage(-1));
        QCOMPARE(reader.currentImageNumber(), 1);
        QCOMPARE(reader.read().size(), (ThreePages().at(1).sizePoints * dpi / 72).toSize());
        std::unique_ptr<QImageIOHandler> handler(Plugin()->create(nullptr, "pdf"));
        QFile odd(Save(dir.path(), "odd.pdf", HandPdf({}, QSizeF(100.5, 33.3))));
        QVERIFY(odd.open(QIODevice::ReadOnly));
        handler->setDevice(&odd);
        handler->setOption(QImageIOHandler::Quality, quality);
        const QSize answered = handler->option(QImageIOHandler::Size).toSize();
        QImage rendered;
        QVERIFY(handler->read(&rendered));
        QCOMPARE(rendered.size(), answered);
    }

    // The information dictionary as text keys of the reader and of every
    // page; none without.
    void documentInformationAsTextKeys()
    {
        const Info info = {{"Title", "(Quarterly report)"}, {"Author", "<FEFF0047007200FC00DF0065>"},   // "Grüße" in UTF-16
                           {"Subject", "(First line\\n\\nsecond   line)"}, {"Keywords", "(alpha; beta: gamma)"},
                           {"Creator", "(Scanner app)"}, {"Producer", "(Some producer)"},
                           {"CreationDate", "(D:20240102030405Z)"}, {"ModDate", "(D:20240203040506Z)"}, {"Trapped", "/False"}};
        QImageReader reader(Save(dir.path(), "info.pdf", HandPdf(info)));
        const QStringList keys = {"PDF10", "PDF10Author", "PDF10CreationDate", "PDF10Creator", "PDF10Keywords",
                                  "PDF10ModDate", "PDF10Producer", "PDF10Subject", "PDF10Title"};
        QCOMPARE(reader.textKeys(), keys);
        const QStringList values = {"", QString::fromUtf8("Grüße"), "2024-01-02T03:04:05Z", "Scanner app", "alpha; beta: gamma",
                                    "2024-02-03T04:05:06Z", "Some producer", "First line second line", "Quarterly report"};
        for (int i = 0; i < keys.size(); ++i) {
            const QString text = reader.text(keys.at(i));
            QCOMPARE(keys.at(i).endsWith("Date") ? QDateTime::fromString(text, Qt::ISODate).toUTC().toString(Qt::ISODate) : text,
                     values.at(i));
        }
        const QImage image = reader.read();
        QCOMPARE(image.textKeys(), keys);
        QCOMPARE(image.text("PDF10Producer"), QString("Some producer"));
        QImageReader plain(Save(dir.path(), "plain.pdf", HandPdf()));
        QVERIFY(plain.textKeys().isEmpty());
        QCOMPARE(plain.read().pixelColor(35, 65), QColor(Qt::red));
    }

    void brokenDocumentsFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray whole = WrittenPdf(ThreePages());
        QByteArray noise("%PDF-1.7\n");
        for (quint32 state = 12345; noise.size() < 4096; noise.append(char(state >> 24)))
            state = state * 1103515245u + 12345u;
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("signature only") << QByteArray("%PDF-");
        QTest::newRow("noise after the signature") << noise;
        // The catalogue and the page tree come last: a cut anywhere loses them.
        for (const int cut : {1, 8, 16, 24, 31})
            QTest::addRow("cut at %d/32", cut) << whole.left(whole.size() * cut / 32);
        QTest::newRow("no pages") << Assemble({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}, {});
        QTest::newRow("user password") << HandPdf({{"Title", "(Secret)"}}, QSizeF(200, 100), true);
        QTest::newRow("page too large to render") << HandPdf({}, QSizeF(14400, 14400));
    }

    void brokenDocumentsFailCleanly()
    {
        QFETCH(QByteArray, bytes);
        const QString path = Save(dir.path(), "broken.pdf", bytes);
        for (const QByteArray& format : {QByteArray(), QByteArray("pdf")}) {
            QImageReader reader(path, format);
            reader.setQuality(PluginContract::PackRenderDpi(600));
            QVERIFY(reader.imageCount() <= 1);
            QVERIFY(reader.read().isNull());
            QVERIFY(reader.textKeys().isEmpty());
        }
    }

    // Through the converter, every layout the dialog offers (200 x 100 pixels at 144 DPI are
    // 100 x 50 points); through a writer, layouts it never packs fall back to A4, portrait,
    // centre; pictures too large shrink to the page, aspect kept. As poppler's tools see it.
    void pageLayouts_data()
    {
        QTest::addColumn<QList<int>>("layout");   // page size, orientation, alignment: through the converter
        QTest::addColumn<int>("quality");         // else: through a writer with this quality
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QSize>("page");          // points
        QTest::addColumn<QRectF>("where");        // points
        const struct { int id; const char* name; QSize portrait; } papers[] = {
            {0, "A4", QSize(595, 842)}, {2, "Letter", QSize(612, 792)}, {3, "Legal", QSize(612, 1008)}};
        for (const auto& paper : papers) {
            for (int orientation : {0, 1}) {
                const QSize page = orientation ? paper.portrait.transposed() : paper.portrait;
                for (int alignment : {0, 1}) {
                    QTest::addRow("%s %s %s", paper.name, orientation ? "landscape" : "portrait", alignment ? "top left" : "centre")
                        << QList<int>{paper.id, orientation, alignment} << 0 << Picture(200, 100, 144) << page
                        << (alignment ? QRectF(0, 0, 100, 50) : QRectF((page.width() - 100) / 2.0, (page.height() - 50) / 2.0, 100, 50));
                }
            }
        }
        const QImage small = Picture(100, 50, 72);
        const QRectF a4Centre(247.5, 396, 100, 50);
        QTest::newRow("too large for the page") << QList<int>{3, 1, 0} << 0 << Picture(2016, 612, 72) << QSize(1008, 612)
                                                << QRectF(0, 153, 1008, 306);
        QTest::newRow("writer, too wide, top left") << QList<int>() << PluginContract::PackPdfLayout(0, 0, 1) << Picture(2000, 1000, 72)
                                                    << QSize(595, 842) << QRectF(0, 0, 595, 297.5);
        QTest::newRow("writer, too tall, centre") << QList<int>() << PluginContract::PackPdfLayout(0, 0, 0) << Picture(500, 3000, 72)
                                                  << QSize(595, 842) << QRectF((595 - 500 * 842 / 3000.0) / 2, 0, 500 * 842 / 3000.0, 842);
        QTest::newRow("writer, exactly the page") << QList<int>() << PluginContract::PackPdfLayout(2, 1, 0) << Picture(1584, 1224, 144)
                                                  << QSize(792, 612) << QRectF(0, 0, 792, 612);
        QTest::newRow("writer, no quality") << QList<int>() << -1 << small << QSize(595, 842) << a4Centre;
        QTest::newRow("writer, bit 0 clear") << QList<int>() << (PluginContract::PackPdfLayout(2, 1, 1) & ~1) << small << QSize(595, 842) << a4Centre;
        QTest::newRow("writer, unknown values") << QList<int>() << PluginContract::PackPdfLayout(200, 7, 7) << small << QSize(595, 842) << a4Centre;
        QTest::newRow("writer, unknown alignment in the sign bit") << QList<int>() << PluginContract::PackPdfLayout(2, 1, 9) << small
                                                                   << QSize(792, 612) << QRectF(346, 281, 100, 50);
    }

    void pageLayouts()
    {
        QFETCH(QList<int>, layout);
        QFETCH(int, quality);
        QFETCH(QImage, image);
        QFETCH(QSize, page);
        QFETCH(QRectF, where);
        QString path = dir.filePath("picture.pdf");
        if (layout.isEmpty()) {
            QImageWriter writer(path);
            writer.setQuality(quality);
            QVERIFY2(writer.write(image), qPrintable(writer.errorString()));
        } else {
            ImageConvertData job;
            job.srcFile = dir.filePath("picture.png");
            QVERIFY(image.save(job.srcFile));
            ConvertSettings settings = Settings(".pdf", PLMCodecPDF);
            settings.PageSize = layout.at(0), settings.PageOri = layout.at(1), settings.Align = layout.at(2);
            job.settings = &settings;
            const ItemConvertResult result = ThreadFunction(job);
            QCOMPARE(int(result.state), int(ConvertSucceeded));
            QCOMPARE(result.tgtFiles, QStringList(path));
        }
        CheckWithTools(path, image.size(), page, where);
    }

    // Writes on one writer build one document, complete whichever goes first, writer or
    // device: a file it opened, a buffer that outlives it, a file its owner closed (nothing
    // more added), a device destroyed unclosed (the writer's end touches nothing gone).
    // A device that refuses bytes fails the write.
    void oneWriterManyPages()
    {
        const QImage picture = Picture(100, 50, 72);
        const auto writeAll = [&](QImageWriter& writer) {
            for (int layout : {PluginContract::PackPdfLayout(0, 0, 0), PluginContract::PackPdfLayout(2, 1, 1), PluginContract::PackPdfLayout(3, 0, 1)}) {
                writer.setQuality(layout);
                if (!writer.write(picture))
                    return false;
            }
            return true;
        };
        auto checkPages = [&](const QList<QImage>& pages) {
            QCOMPARE(pages.size(), 3);
            const QList<QSize> sizes = {QSize(595, 842), QSize(792, 612), QSize(612, 1008)};
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(pages.at(i).size(), sizes.at(i));
                CheckPage(pages.at(i), i == 0 ? QRectF(247.5, 396, 100, 50) : QRectF(0, 0, 100, 50));
            }
        };
        {
            QImageWriter writer(dir.path() + "/pages.pdf");
            QVERIFY(writeAll(writer));
        }
        checkPages(ReadAll(dir.path() + "/pages.pdf"));
        QBuffer outlives;
        outlives.open(QIODevice::WriteOnly);
        {
            QImageWriter writer(&outlives, "pdf");
            QVERIFY(writeAll(writer));
            QVERIFY(!outlives.data().endsWith("%%EOF\n"));
        }
        outlives.close();
        outlives.open(QIODevice::ReadOnly);
        checkPages(ReadAll(&outlives));
        QFile closed(dir.path() + "/closed.pdf");
        QVERIFY(closed.open(QIODevice::WriteOnly));
        QImageWriter writer(&closed, "pdf");
        QVERIFY(writeAll(writer));
        closed.close();
        const qint64 atClose = closed.size();
        QVERIFY(closed.open(QIODevice::WriteOnly | QIODevice::Append));
        QVERIFY(!writer.write(picture));
        closed.close();
        QCOMPARE(closed.size(), atClose);
        checkPages(ReadAll(closed.fileName()));
        auto gone = new QBuffer;
        gone->open(QIODevice::WriteOnly);
        QImageWriter orphan(gone, "pdf");
        QVERIFY(orphan.write(picture));
        delete gone;
        FullDevice full;
        full.open(QIODevice::WriteOnly);
        QVERIFY(!QImageWriter(&full, "pdf").write(picture));
    }

    // Writers and readers on several threads at once.
    void severalThreads()
    {
        QList<QFuture<QList<QImage>>> running;
        for (int i = 0; i < 6; ++i) {
            running << QtConcurrent::run([this, i]() {
                const QString path = dir.path() + QString("/thread%1.pdf").arg(i);
                QImageWriter writer(path);
                writer.setQuality(PluginContract::PackPdfLayout(i % 2 ? 2 : 0, 0, 1));
                const bool written = writer.write(Picture(40 + 10 * i, 30, 72)) && writer.write(Picture(30, 20, 72));
                writer.setDevice(nullptr);
                return written ? ReadAll(path) : QList<QImage>();
            });
        }
        for (int i = 0; i < 6; ++i) {
            const QList<QImage> pages = running[i].result();
            QCOMPARE(pages.size(), 2);
            QCOMPARE(pages.at(0).width(), i % 2 ? 612 : 595);
            CheckPage(pages.at(0), QRectF(0, 0, 40 + 10 * i, 30));
            CheckPage(pages.at(1), QRectF(0, 0, 30, 20));
        }
    }

    // PDF sources render at the target DPI even with "same as source", each page a numbered target.
    void pagesBecomeNumberedTargets()
    {
        const QList<Page> pages = ThreePages();
        ImageConvertData job;
        job.srcFile = Save(dir.path(), "three.pdf", WrittenPdf(pages));
        ConvertSettings settings = Settings(".png", PLMCodecPNG);
        settings.TgtDPI = 144;
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

    // Poppler renders in a child process: a page that would render for minutes ends as soon
    // as its job is canceled, and leaves nothing.
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

    // Probing by content finds PDF data without consuming it and never
    // claims writing; a PNG named .pdf still reads as PNG. Qt keeps the
    // plugin object; deleting it makes the next use read the switch anew.
    // Off (absent, false, or "false" as text) it claims nothing; read once.
    void pluginSwitch_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("absent") << QVariant();
        QTest::newRow("false") << QVariant(false);
        QTest::newRow("stored as text") << QVariant(QString("false"));
        QTest::newRow("true") << QVariant(true);
    }

    void pluginSwitch()
    {
        QFETCH(QVariant, value);
        QSettings("Pelmora", "Plugins").remove("Xpdf");
        if (value.isValid())
            QSettings("Pelmora", "Plugins").setValue("Xpdf", value);
        delete Plugin();
        QImageIOPlugin* plugin = Plugin();
        QVERIFY(plugin);
        const int on = value.toBool() ? ~0 : 0;
        QSettings("Pelmora", "Plugins").setValue("Xpdf", !on);
        QFile pdf(sThreePages);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QByteArray png = QByteArray::fromBase64(
            "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGP4z8DwHwAFAAH/iZk9HQAAAABJRU5ErkJggg==");
        QBuffer pngBuffer(&png);
        pngBuffer.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        const int read = QImageIOPlugin::CanRead, write = QImageIOPlugin::CanWrite;
        const struct { QIODevice* device; const char* format; int expected; } cases[] = {
            {nullptr, "PDF", read | write}, {nullptr, "pdf", read | write}, {nullptr, "", 0}, {nullptr, "png", 0},
            {&pdf, "", read}, {&pdf, "pdf", read}, {&pngBuffer, "pdf", 0}, {&pngBuffer, "", 0}, {&out, "pdf", write}, {&out, "", 0}};
        for (const auto& c : cases)
            QCOMPARE(int(plugin->capabilities(c.device, c.format)), c.expected & on);
        QCOMPARE(pdf.pos(), qint64(0));
        QCOMPARE(!!std::unique_ptr<QImageIOHandler>(plugin->create(&pdf, "pdf")), !!on);
        QCOMPARE(QImageReader(sThreePages).read().width(), on ? 595 : 0);
        QCOMPARE(QImageWriter(&out, "pdf").write(Picture(10, 10, 72)), !!on);
        QImageReader misnamed(Save(dir.path(), "misnamed.pdf", png));
        QCOMPARE(misnamed.format(), QByteArray("png"));
        QCOMPARE(misnamed.read().size(), QSize(1, 1));
    }
};

KORVANE_TEST_MAIN(PdfTest)
#include "tst_pdf.moc"
