// Reading PDF documents through Qt's image reader and the program's plugin.
#include "testsupport.h"

#include "pdffixtures.h"

#include <QBuffer>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QSettings>
#include <QtConcurrent>

using namespace PdfFixtures;

namespace {

int Dpm(int dpi)
{
    return qRound(dpi * 1000 / 25.4);
}

QSize AtDpi(const QSizeF& points, int dpi)
{
    return QSize(qRound(points.width() * dpi / 72), qRound(points.height() * dpi / 72));
}

QPoint AtDpi(const QPointF& points, int dpi)
{
    return QPoint(qRound(points.x() * dpi / 72), qRound(points.y() * dpi / 72));
}

// Three pages of different sizes, each with one coloured box.
const QList<Page> Pages = {
    {QSizeF(595, 842), QRectF(100, 100, 100, 100), QColor(Qt::red)},
    {QSizeF(792, 612), QRectF(300, 50, 60, 40), QColor(Qt::blue)},
    {QSizeF(144, 72), QRectF(0, 0, 72, 72), QColor(Qt::green)},
};

} // namespace

class PdfReadTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString sThreePages;

private slots:
    void initTestCase()
    {
        QSettings("Pelmora", "Plugins").setValue("Xpdf", true);
        QImageIOPlugin* plugin = Plugin();
        QVERIFY(plugin);
        QCOMPARE(plugin->capabilities(nullptr, "pdf"), QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite);
        QVERIFY(dir.isValid());
        sThreePages = Save(dir.path(), "three.pdf", WrittenPdf(Pages));
        QVERIFY(!sThreePages.isEmpty());
    }

    void registeredWithQt()
    {
        QVERIFY(QImageReader::supportedImageFormats().contains("pdf"));
        QVERIFY(QImageWriter::supportedImageFormats().contains("pdf"));
        QVERIFY(QImageReader::supportedMimeTypes().contains("application/pdf"));
    }

    void capabilitiesFollowSignatureAndFormat()
    {
        QImageIOPlugin* plugin = Plugin();
        QByteArray pdf = WrittenPdf({Pages.at(2)});
        QBuffer pdfBuffer(&pdf);
        pdfBuffer.open(QIODevice::ReadOnly);
        QByteArray png;
        QBuffer pngBuffer(&png);
        pngBuffer.open(QIODevice::WriteOnly);
        QImage(4, 4, QImage::Format_RGB32).save(&pngBuffer, "png");
        pngBuffer.close();
        pngBuffer.open(QIODevice::ReadOnly);
        QBuffer out;
        out.open(QIODevice::WriteOnly);

        using C = QImageIOPlugin::Capabilities;
        QCOMPARE(plugin->capabilities(nullptr, "PDF"), C(QImageIOPlugin::CanRead | QImageIOPlugin::CanWrite));
        QCOMPARE(plugin->capabilities(nullptr, ""), C());
        QCOMPARE(plugin->capabilities(nullptr, "png"), C());
        // Probing by content finds PDF data but never claims writing.
        QCOMPARE(plugin->capabilities(&pdfBuffer, ""), C(QImageIOPlugin::CanRead));
        QCOMPARE(plugin->capabilities(&pdfBuffer, "pdf"), C(QImageIOPlugin::CanRead));
        QCOMPARE(plugin->capabilities(&pngBuffer, "pdf"), C());
        QCOMPARE(plugin->capabilities(&pngBuffer, ""), C());
        QCOMPARE(plugin->capabilities(&out, "pdf"), C(QImageIOPlugin::CanWrite));
        QCOMPARE(plugin->capabilities(&out, ""), C());
        QCOMPARE(pdfBuffer.pos(), qint64(0));   // probing does not consume

        // A PNG that carries a .pdf name is still read as a PNG.
        const QString misnamed = Save(dir.path(), "misnamed.pdf", png);
        QImageReader reader(misnamed);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.read().size(), QSize(4, 4));
    }

    void pagesAtResolution_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("dpi");
        QTest::newRow("no quality") << -1 << 72;
        QTest::newRow("72 DPI") << (72 << 16) << 72;
        QTest::newRow("144 DPI") << (144 << 16) << 144;
        QTest::newRow("low bits ignored") << ((50 << 16) | 1) << 50;
    }

    void pagesAtResolution()
    {
        QFETCH(int, quality);
        QFETCH(int, dpi);
        QImageReader reader(sThreePages);
        reader.setQuality(quality);
        QCOMPARE(reader.imageCount(), 3);
        QCOMPARE(reader.format(), QByteArray("pdf"));
        for (int i = 0; i < Pages.size(); ++i) {
            const Page& page = Pages.at(i);
            QCOMPARE(reader.currentImageNumber(), i);
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.size(), AtDpi(page.sizePoints, dpi));
            QCOMPARE(image.dotsPerMeterX(), Dpm(dpi));
            QCOMPARE(image.dotsPerMeterY(), Dpm(dpi));
            QVERIFY(!image.hasAlphaChannel());
            QCOMPARE(image.pixelColor(AtDpi(page.box.center(), dpi)), page.colour);
            // Just outside the box the paper is white.
            const QPoint outside = AtDpi(page.box.bottomRight() + QPointF(3, 3), dpi);
            if (QRect(QPoint(), image.size()).contains(outside))
                QCOMPARE(image.pixelColor(outside), QColor(Qt::white));
            // The box's edges land where its points say, within the antialiased pixel.
            const QRect ink = InkBox(image);
            const QRect box = QRect(AtDpi(page.box.topLeft(), dpi), AtDpi(page.box.bottomRight(), dpi) - QPoint(1, 1));
            QVERIFY2(qAbs(ink.left() - box.left()) <= 1 && qAbs(ink.top() - box.top()) <= 1
                         && qAbs(ink.right() - box.right()) <= 1 && qAbs(ink.bottom() - box.bottom()) <= 1,
                     qPrintable(QString("ink %1,%2 %3x%4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height())));
        }
        QVERIFY(!reader.canRead());
        QVERIFY(reader.read().isNull());
    }

    void jumpsAndSizeAgree()
    {
        QImageReader reader(sThreePages);
        QCOMPARE(reader.size(), QSize(595, 842));
        QVERIFY(reader.jumpToImage(1));
        QCOMPARE(reader.currentImageNumber(), 1);
        QCOMPARE(reader.size(), QSize(792, 612));
        QImage image = reader.read();
        QCOMPARE(image.pixelColor(330, 70), QColor(Qt::blue));
        QVERIFY(reader.jumpToImage(0));
        QCOMPARE(reader.read().size(), QSize(595, 842));
        QVERIFY(!reader.jumpToImage(3));
        QVERIFY(!reader.jumpToImage(-1));
        QCOMPARE(reader.currentImageNumber(), 1);

        // The size answered for a resolution is the size rendered at it, also
        // where points times the scale fall between two pixels.
        std::unique_ptr<QImageIOHandler> handler(Plugin()->create(nullptr, "pdf"));
        QFile file(Save(dir.path(), "odd.pdf", HandPdf({}, QSizeF(100.5, 33.3))));
        QVERIFY(file.open(QIODevice::ReadOnly));
        handler->setDevice(&file);
        for (int dpi : {72, 97, 150, 300}) {
            QVERIFY(handler->jumpToImage(0));
            handler->setOption(QImageIOHandler::Quality, dpi << 16);
            const QSize answered = handler->option(QImageIOHandler::Size).toSize();
            QImage rendered;
            QVERIFY(handler->read(&rendered));
            QCOMPARE(rendered.size(), answered);
        }
    }

    void documentInformationAsTextKeys()
    {
        const Info info = {
            {"Title", "(Quarterly report)"},
            {"Author", "<FEFF0047007200FC00DF0065>"},   // "Grüße" in UTF-16
            {"Subject", "(First line\\n\\nsecond   line)"},
            {"Keywords", "(alpha; beta: gamma)"},
            {"Creator", "(Scanner app)"},
            {"Producer", "(Some producer)"},
            {"CreationDate", "(D:20240102030405Z)"},
            {"ModDate", "(D:20240203040506Z)"},
            {"Trapped", "/False"},
        };
        const QString path = Save(dir.path(), "info.pdf", HandPdf(info));
        QImageReader reader(path);
        const QStringList expectedKeys = {"PDF10", "PDF10Author", "PDF10CreationDate", "PDF10Creator",
                                          "PDF10Keywords", "PDF10ModDate", "PDF10Producer", "PDF10Subject",
                                          "PDF10Title"};
        QCOMPARE(reader.textKeys(), expectedKeys);
        QCOMPARE(reader.text("PDF10"), QString());
        QCOMPARE(reader.text("PDF10Title"), QString("Quarterly report"));
        QCOMPARE(reader.text("PDF10Author"), QString::fromUtf8("Grüße"));
        QCOMPARE(reader.text("PDF10Subject"), QString("First line second line"));
        QCOMPARE(reader.text("PDF10Keywords"), QString("alpha; beta: gamma"));
        QCOMPARE(QDateTime::fromString(reader.text("PDF10CreationDate"), Qt::ISODate),
                 QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC));
        QCOMPARE(QDateTime::fromString(reader.text("PDF10ModDate"), Qt::ISODate),
                 QDateTime(QDate(2024, 2, 3), QTime(4, 5, 6), Qt::UTC));

        // Every page carries the same text, on the image too.
        const QImage image = reader.read();
        QCOMPARE(image.textKeys(), expectedKeys);
        QCOMPARE(image.text("PDF10Producer"), QString("Some producer"));

        // Without an information dictionary there are no keys at all, not even
        // the category.
        QImageReader plain(Save(dir.path(), "plain.pdf", HandPdf()));
        QVERIFY(plain.textKeys().isEmpty());
        QVERIFY(!plain.read().isNull());
    }

    void brokenDocumentsFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray whole = WrittenPdf(Pages);
        QByteArray noise("%PDF-1.7\n");
        quint32 state = 12345;
        while (noise.size() < 4096) {
            state = state * 1103515245u + 12345u;
            noise.append(char(state >> 24));
        }
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("signature only") << QByteArray("%PDF-");
        QTest::newRow("noise after the signature") << noise;
        QTest::newRow("truncated to the header") << whole.left(64);
        QTest::newRow("no pages") << PagelessPdf();
        QTest::newRow("user password") << HandPdf({{"Title", "(Secret)"}}, QSizeF(200, 100), "secret", "owner");
        QTest::newRow("page too large to render") << HandPdf({}, QSizeF(14400, 14400));
    }

    void brokenDocumentsFailCleanly()
    {
        QFETCH(QByteArray, bytes);
        const QString path = Save(dir.path(), "broken.pdf", bytes);
        for (const QByteArray& format : {QByteArray(), QByteArray("pdf")}) {
            QImageReader reader(path, format);
            reader.setQuality(600 << 16);
            QVERIFY(reader.imageCount() <= 1);
            QVERIFY(reader.read().isNull());
            QVERIFY(reader.textKeys().isEmpty());
        }
    }

    void truncatedDocuments()
    {
        // The PDF engine writes the catalogue and the page tree last: a cut
        // anywhere loses them and the document cannot be opened.
        const QByteArray whole = WrittenPdf(Pages);
        for (int cut = 1; cut < 32; ++cut) {
            const QString path = Save(dir.path(), "cut.pdf", whole.left(whole.size() * cut / 32));
            QImageReader reader(path);
            QCOMPARE(reader.imageCount(), 0);
            QVERIFY(reader.read().isNull());
        }
        // A document whose cross-reference offsets are wrong is repaired by
        // the renderer and still reads.
        QByteArray hand = HandPdf();
        const int table = hand.indexOf("\nxref\n") + 1;
        hand.replace(table, 4, "junk");
        hand.replace(hand.lastIndexOf("startxref\n") + 10, QByteArray::number(table).size(), QByteArray::number(table + 7));
        QImageReader repaired(Save(dir.path(), "badxref.pdf", hand));
        QCOMPARE(repaired.imageCount(), 1);
        const QImage image = repaired.read();
        QCOMPARE(image.size(), QSize(200, 100));
        QCOMPARE(image.pixelColor(35, 65), QColor(Qt::red));
    }

    void ownerPasswordOnlyStillReads()
    {
        const QString path = Save(dir.path(), "owner.pdf",
                                  HandPdf({{"Title", "(Protected title)"}}, QSizeF(200, 100), QByteArray(), "owner"));
        QImageReader reader(path);
        const QImage image = reader.read();
        QVERIFY(!image.isNull());
        // The decrypted content: a red square 10 points from the bottom left.
        QCOMPARE(image.pixelColor(35, 100 - 35), QColor(Qt::red));
        QCOMPARE(image.pixelColor(100, 50), QColor(Qt::white));
        QCOMPARE(reader.text("PDF10Title"), QString("Protected title"));
    }

    void readersOnSeveralThreads()
    {
        QStringList paths;
        for (int i = 0; i < 8; ++i)
            paths << Save(dir.path(), QString("parallel%1.pdf").arg(i),
                          WrittenPdf({{QSizeF(100 + 10 * i, 100), QRectF(10, 10, 20 + i, 20), QColor(Qt::red)},
                                      Pages.at(2)}));
        auto inkOfEveryPage = [](const QString& path) {
            QList<QRect> boxes;
            QImageReader reader(path);
            reader.setQuality(144 << 16);
            for (int i = 0; i < reader.imageCount(); ++i)
                boxes << InkBox(reader.read());
            return boxes;
        };
        QList<QList<QRect>> expected;
        for (const QString& path : paths)
            expected << inkOfEveryPage(path);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(expected.at(i).size(), 2);
        QList<QFuture<QList<QRect>>> running;
        for (const QString& path : paths)
            running << QtConcurrent::run(inkOfEveryPage, path);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(running[i].result(), expected.at(i));
    }
};

KORVANE_TEST_MAIN(PdfReadTest)
#include "tst_pdfread.moc"
