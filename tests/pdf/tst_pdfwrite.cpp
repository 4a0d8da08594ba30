// Writing PDF files through Qt's image writer and the program's plugin, read
// back through the plugin.
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
    file.open(QIODevice::ReadOnly);
    return ReadAll(&file);
}

} // namespace

class PdfWriteTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QSettings("Pelmora", "Plugins").setValue("Xpdf", true);
        QVERIFY(Plugin());
        QVERIFY(dir.isValid());
        // The packing the engine uses, against its documented values.
        QCOMPARE(PackedLayout(2, 1, 1), 285343745);
        QCOMPARE(PackedLayout(3, 0, 0), 196609);
        QCOMPARE(PackedLayout(0, 0, 0), 1);
    }

    void pageLayouts_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QSize>("page");      // points
        QTest::addColumn<QRectF>("where");    // points

        // 200 x 100 pixels at 144 DPI are 100 x 50 points.
        const QImage picture = Picture(200, 100, 144);
        for (const PageCase& c : PageCases())
            QTest::newRow(c.name.constData()) << PackedLayout(c.pageSize, c.orientation, c.alignment) << picture << c.page << c.where;
        // Too large pictures shrink to the page with their aspect kept.
        QTest::newRow("too wide, top left") << PackedLayout(0, 0, 1) << Picture(2000, 1000, 72) << QSize(595, 842)
                                            << QRectF(0, 0, 595, 297.5);
        QTest::newRow("too tall, centre") << PackedLayout(0, 0, 0) << Picture(500, 3000, 72) << QSize(595, 842)
                                          << QRectF((595 - 500 * 842 / 3000.0) / 2, 0, 500 * 842 / 3000.0, 842);
        QTest::newRow("exactly the page") << PackedLayout(2, 1, 0) << Picture(1584, 1224, 144) << QSize(792, 612)
                                          << QRectF(0, 0, 792, 612);
        // Values the page dialog never produces fall back to A4, portrait, centre.
        QTest::newRow("no quality") << -1 << Picture(100, 50, 72) << QSize(595, 842) << QRectF(247.5, 396, 100, 50);
        QTest::newRow("bit 0 clear") << (PackedLayout(2, 1, 1) & ~1) << Picture(100, 50, 72) << QSize(595, 842)
                                     << QRectF(247.5, 396, 100, 50);
        QTest::newRow("unknown values") << PackedLayout(200, 7, 7) << Picture(100, 50, 72) << QSize(595, 842)
                                        << QRectF(247.5, 396, 100, 50);
        QTest::newRow("unknown alignment in the sign bit") << PackedLayout(2, 1, 9) << Picture(100, 50, 72)
                                                           << QSize(792, 612) << QRectF(346, 281, 100, 50);
    }

    void pageLayouts()
    {
        QFETCH(int, quality);
        QFETCH(QImage, image);
        QFETCH(QSize, page);
        QFETCH(QRectF, where);
        const QString path = dir.path() + "/layout.pdf";
        {
            QImageWriter writer(path);
            writer.setQuality(quality);
            QVERIFY2(writer.write(image), qPrintable(writer.errorString()));
        }
        const QList<QImage> pages = ReadAll(path);
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.at(0).size(), page);   // rendered at 72 DPI: pixels are points
        CheckPage(pages.at(0), where);
    }

    void picturesAreNotRecompressed()
    {
        QImage noise(64, 48, QImage::Format_RGB32);
        quint32 state = 7;
        for (int y = 0; y < noise.height(); ++y) {
            for (int x = 0; x < noise.width(); ++x) {
                state = state * 1664525u + 1013904223u;
                noise.setPixel(x, y, 0xFF000000u | (state >> 8));
            }
        }
        noise.setDotsPerMeterX(2835);
        noise.setDotsPerMeterY(2835);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QImageWriter writer(&buffer, "pdf");
            writer.setQuality(PackedLayout(0, 0, 1));
            QVERIFY(writer.write(noise));
        }
        QVERIFY(!buffer.data().contains("/DCTDecode"));
        buffer.close();
        buffer.open(QIODevice::ReadOnly);
        const QList<QImage> pages = ReadAll(&buffer);
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.at(0).copy(0, 0, 64, 48), noise.convertToFormat(pages.at(0).format()));
    }

    // Consecutive writes on one writer build one document; it is complete
    // whichever goes first, the writer or its device.
    void oneWriterManyPages()
    {
        const QList<int> layouts = {PackedLayout(0, 0, 0), PackedLayout(2, 1, 1), PackedLayout(3, 0, 1)};
        const QList<QSize> sizes = {QSize(595, 842), QSize(792, 612), QSize(612, 1008)};
        const QImage picture = Picture(100, 50, 72);
        auto writeAll = [&](QImageWriter& writer) {
            for (int layout : layouts) {
                writer.setQuality(layout);
                if (!writer.write(picture))
                    return false;
            }
            return true;
        };
        auto checkPages = [&](const QList<QImage>& pages) {
            QCOMPARE(pages.size(), 3);
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(pages.at(i).size(), sizes.at(i));
                CheckPage(pages.at(i), i == 0 ? QRectF(247.5, 396, 100, 50) : QRectF(0, 0, 100, 50));
            }
        };

        // A writer that opened the file itself deletes the file first.
        const QString path = dir.path() + "/pages.pdf";
        {
            QImageWriter writer(path);
            QVERIFY(writeAll(writer));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith("%%EOF\n"));
        file.close();
        checkPages(ReadAll(path));

        // A device that outlives the writer.
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

        // A file closed by its owner before the writer goes: complete at the
        // close, and nothing more can be added.
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

        // A device destroyed without being closed: the rest is dropped, and
        // the writer's end touches nothing that is gone.
        auto gone = new QBuffer;
        gone->open(QIODevice::WriteOnly);
        QImageWriter orphan(gone, "pdf");
        QVERIFY(orphan.write(picture));
        delete gone;
    }

    void writersOnSeveralThreads()
    {
        QList<QFuture<bool>> running;
        for (int i = 0; i < 6; ++i) {
            running << QtConcurrent::run([this, i]() {
                QImageWriter writer(dir.path() + QString("/thread%1.pdf").arg(i));
                writer.setQuality(PackedLayout(i % 2 ? 2 : 0, 0, 1));
                return writer.write(Picture(40 + 10 * i, 30, 72)) && writer.write(Picture(30, 20, 72));
            });
        }
        for (int i = 0; i < 6; ++i) {
            QVERIFY(running[i].result());
            const QList<QImage> pages = ReadAll(dir.path() + QString("/thread%1.pdf").arg(i));
            QCOMPARE(pages.size(), 2);
            QCOMPARE(pages.at(0).width(), i % 2 ? 612 : 595);
            CheckPage(pages.at(0), QRectF(0, 0, 40 + 10 * i, 30));
            CheckPage(pages.at(1), QRectF(0, 0, 30, 20));
        }
    }
};

KORVANE_TEST_MAIN(PdfWriteTest)
#include "tst_pdfwrite.moc"
