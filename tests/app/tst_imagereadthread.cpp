// The background reader: pages, restarts, stopping, destruction during a read,
// metadata, orientation and preview-sized decoding.
#define QT_STATICPLUGIN   // the gated test format below is linked into this test
#include "testsupport.h"

#include "imagereadthread.h"
#include "tst_multipagetiff.h"

#include <QImageIOPlugin>
#include <QProcess>

#include <thread>

// "kvpages": a text file "<pages>\n<description>". Every read appends its page
// and a blank to "<file>.log", waits until "<file>.go" exists and answers an
// 8 × 8 picture whose text "Page" names the page.
class GatedPagesHandler : public QImageIOHandler
{
public:
    bool canRead() const override { return true; }
    bool read(QImage* image) override
    {
        QFile log(path() + ".log");
        log.open(QIODevice::Append);
        log.write(QByteArray::number(current) + ' ');
        log.close();
        for (int waited = 0; !QFile::exists(path() + ".go"); waited += 2) {
            if (waited > 30000)
                return false;
            QThread::msleep(2);
        }
        *image = QImage(8, 8, QImage::Format_RGB32);
        image->setText("Page", QString::number(current));
        return true;
    }
    int imageCount() const override { return header().section('\n', 0, 0).toInt(); }
    bool jumpToImage(int number) override { return number >= 0 && number < imageCount() && (current = number, true); }
    bool supportsOption(ImageOption option) const override { return option == Description; }
    QVariant option(ImageOption) const override { return header().section('\n', 1); }

private:
    QString path() const { return static_cast<QFile*>(device())->fileName(); }
    QString header() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    int current = 0;
};

class GatedPagesPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "tst_imagereadthread.json")
public:
    Capabilities capabilities(QIODevice*, const QByteArray& format) const override
    {
        return format == "kvpages" ? CanRead : Capabilities();
    }
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override
    {
        QImageIOHandler* handler = new GatedPagesHandler;
        handler->setDevice(device);
        handler->setFormat(format);
        return handler;
    }
};
Q_IMPORT_PLUGIN(GatedPagesPlugin)

class ImageReadThreadTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;

    QString gatedFile(int pages, const QString& description = QString())
    {
        const QString path = dir.filePath(QString("g%1.kvpages").arg(++counter));
        write(path, QString("%1\n%2").arg(pages).arg(description).toUtf8());
        return path;
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static void go(const QString& path) { write(path + ".go", ""); }
    static QString log(const QString& path)
    {
        QFile file(path + ".log");
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
    // Every signal the thread sent has arrived.
    static void settle(ImageReadThread& thread)
    {
        QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), 30000);
        QCoreApplication::processEvents();
    }
    static QImage last(const QSignalSpy& spy) { return spy.last().at(0).value<QImage>(); }
    static QRgb pageColor(int page) { return QColor::fromHsv(page * 60, 255, 220).rgb(); }

private slots:
    // The first pass reads the first page and counts the pages; a finished
    // thread reads any page asked for.
    void pages()
    {
        QList<QImage> pages;
        for (int p = 0; p < 5; ++p) {
            pages << QImage(12, 10, QImage::Format_RGB32);
            pages.last().fill(pageColor(p));
        }
        const QString path = dir.filePath("pages.tif");
        write(path, MakeMultiPageTiff(pages));
        ImageReadThread thread;
        QSignalSpy spy(&thread, SIGNAL(readImage(QImage)));
        thread.Read(path, false);
        settle(thread);
        QCOMPARE(last(spy).pixel(3, 3), pageColor(0));
        QCOMPARE(thread.GetPageCount(), 5);
        for (int page : {3, 0, 4}) {
            thread.ReadPage(page);
            settle(thread);
            QCOMPARE(last(spy).pixel(3, 3), pageColor(page));
        }
        QCOMPARE(spy.count(), 4);
    }

    // Pages asked for during a read: one more read, of the last page asked
    // for, and one picture. A file of no pages is read once.
    void restartsCollapse_data()
    {
        QTest::addColumn<int>("pageCount");
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<QString>("reads");
        QTest::newRow("three asked for") << 5 << QList<int>{2, 4, 3} << "0 3 ";
        QTest::newRow("none asked for") << 5 << QList<int>{} << "0 ";
        QTest::newRow("file of no pages") << 0 << QList<int>{2} << "0 ";
    }
    void restartsCollapse()
    {
        QFETCH(int, pageCount);
        QFETCH(QList<int>, asked);
        QFETCH(QString, reads);
        const QString path = gatedFile(pageCount);
        ImageReadThread thread;
        QSignalSpy spy(&thread, SIGNAL(readImage(QImage)));
        thread.Read(path, false);
        QTRY_COMPARE(log(path), QString("0 "));
        for (int page : asked)
            thread.ReadPage(page);
        go(path);
        settle(thread);
        QCOMPARE(log(path), reads);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(last(spy).text("Page"), reads.section(' ', -2, -2));
        QCOMPARE(thread.GetPageCount(), pageCount);
    }

    // Stopped reads and a thread destroyed during a read (which waits for the
    // read to end) send nothing; a read asked for but not begun is not made.
    void stoppedReadsSendNothing_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::addColumn<bool>("pageAsked");
        QTest::newRow("Stop") << false << false;
        QTest::newRow("Stop after ReadPage") << false << true;
        QTest::newRow("destroyed") << true << false;
    }
    void stoppedReadsSendNothing()
    {
        QFETCH(bool, destroy);
        QFETCH(bool, pageAsked);
        const QString path = gatedFile(3);
        ImageReadThread* thread = new ImageReadThread;
        QSignalSpy spy(thread, SIGNAL(readImage(QImage)));
        thread->Read(path, false);
        QTRY_COMPARE(log(path), QString("0 "));
        if (pageAsked)
            thread->ReadPage(2);
        if (destroy) {
            std::thread opener([path]() { QThread::msleep(150); go(path); });
            delete thread;
            QVERIFY(QFile::exists(path + ".go"));   // returned only after the read
            opener.join();
        } else {
            thread->Stop();
            go(path);
            settle(*thread);
            delete thread;
        }
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(log(path), QString("0 "));
    }

    void metadata_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("two keys") << "Title: Harbour\n\nAuthor: Ann Lee" << true
                                  << QStringList{"Author", "Title"} << QStringList{"Ann Lee", "Harbour"};
        QTest::newRow("no keys") << "" << true << QStringList() << QStringList();
        QTest::newRow("not asked for") << "Title: Harbour" << false << QStringList() << QStringList();
    }
    void metadata()
    {
        QFETCH(QString, description);
        QFETCH(bool, asked);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        const QString path = gatedFile(1, description);
        go(path);
        ImageReadThread thread;
        QSignalSpy plain(&thread, SIGNAL(readImage(QImage)));
        QSignalSpy withText(&thread, SIGNAL(readImage(QImage, QStringList, QStringList)));
        thread.Read(path, asked);
        settle(thread);
        QCOMPARE(plain.count() + withText.count(), 1);
        QCOMPARE(withText.count(), int(asked));
        if (asked)
            QCOMPARE(withText.at(0).mid(1), QVariantList({keys, values}));
    }

    // Pictures arrive upright (orientation written by exiftool); with a bound
    // much smaller than the picture it is decoded to fit the bound, and the
    // thread still reports the file's own upright size.
    void uprightAndBounded_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("bound");
        QTest::addColumn<QSize>("delivered");
        QTest::addColumn<QSize>("fileSize");
        QTest::newRow("upright") << 1 << QSize() << QSize(400, 200) << QSize(400, 200);
        QTest::newRow("turned") << 6 << QSize() << QSize(200, 400) << QSize(200, 400);
        QTest::newRow("turned, small bound") << 6 << QSize(50, 50) << QSize(25, 50) << QSize(200, 400);
        QTest::newRow("upright, small bound") << 1 << QSize(100, 100) << QSize(100, 50) << QSize(400, 200);
        QTest::newRow("bound not much smaller") << 1 << QSize(300, 300) << QSize(400, 200) << QSize(400, 200);
    }
    void uprightAndBounded()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, bound);
        QFETCH(QSize, delivered);
        QFETCH(QSize, fileSize);
        const QString path = dir.filePath(QString("o%1.jpg").arg(++counter));
        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(image.save(path, "JPEG"));
        QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-n",
                                                QString("-Orientation=%1").arg(orientation), path}), 0);
        ImageReadThread thread;
        thread.SetMaxPreviewSize(bound);
        QSignalSpy spy(&thread, SIGNAL(readImage(QImage)));
        thread.Read(path, false);
        settle(thread);
        QCOMPARE(last(spy).size(), delivered);
        QCOMPARE(thread.GetImageSize(), fileSize);
    }
};

KORVANE_TEST_MAIN(ImageReadThreadTest)
#include "tst_imagereadthread.moc"
