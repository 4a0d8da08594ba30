// How the window stays responsive while the source preview follows a quick
// run of selections. Opens the real window (offscreen unless QT_QPA_PLATFORM
// says otherwise) with a large source list: a few thousand small entries and
// ten 24-megapixel photo-like JPEGs it makes itself. It selects the JPEGs one
// after the other as fast as events allow and prints the longest stall of the
// GUI thread (the worst gap between ticks of a 5 ms timer) and the time from
// the last selection until its picture is on screen. Run it by hand:
//   build/bin/previewbench [entry count, default 3000]
#include "gen/plugins.h"
#include "gui/label.h"
#include "mainwindow.h"
#include "startup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>
#include <QtMath>

#include <cstdio>

// Drives the window's private members the way the widget tests do.
class MainWindowTest
{
public:
    explicit MainWindowTest(MainWindow& w) : window(w) {}

    void addFolder(const QString& folder)
    {
        QTimer::singleShot(0, [folder]() {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->setDirectory(folder);
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        window.pAddSrcFolderAct->trigger();
    }
    int rows() const { return window.pSrcModel->rowCount(); }
    void select(const QString& path)
    {
        const int row = window.SrcRowOf(path);
        window.pSrcSelModel->select(window.pSrcModel->index(row, 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    bool pictureShown() const { return !window.pSrcPreviewLbl->pixmap(Qt::ReturnByValue).isNull(); }
    QString dimension() const { return window.pSrcInfoLbl->text(); }

private:
    MainWindow& window;
};

// A photo-like picture: smooth colour fields with fine detail, different for
// every seed, so that the decoder has real work to do.
static QImage MakePhoto(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 noise = 2463534242u + quint32(seed) * 7919u;
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double u = double(x) / width;
            const int grain = int(noise & 31) - 16;
            const int r = int(127 + 100 * qSin(6.0 * u + seed) + grain);
            const int g = int(127 + 100 * qCos(5.0 * v + 2.0 * u) + grain);
            const int b = int(127 + 100 * qSin(4.0 * (u + v) - seed) + grain);
            line[x] = qRgb(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255));
        }
    }
    return image;
}

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DiscardMessageHandler);
    // The program's own format plugins read the pictures, as in the program.
    PLMInitPlugins();
    PrependProgramPluginFolder();
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 3000;
    QTextStream out(stdout);

    QTemporaryDir folder;
    for (int i = 0; i < count; ++i) {
        QFile file(folder.path() + QStringLiteral("/entry-%1.png").arg(i, 6, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.write("x");
    }
    const int photoCount = 10;
    const QSize photoSize(6000, 4000);
    QStringList photos;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < photoCount; ++i) {
        const QString path = folder.path() + QStringLiteral("/photo-%1.jpg").arg(i);
        if (!MakePhoto(photoSize.width(), photoSize.height(), i).save(path, "JPEG", 90)) {
            out << "cannot write " << path << "\n";
            return 1;
        }
        photos << path;
    }
    out << QStringLiteral("made %1 JPEGs of %2 x %3 in %4 ms\n")
               .arg(photoCount).arg(photoSize.width()).arg(photoSize.height()).arg(timer.elapsed());
    out.flush();

    MainWindow window;
    window.resize(1280, 800);
    window.show();
    MainWindowTest drive(window);
    timer.restart();
    drive.addFolder(folder.path());
    out << QStringLiteral("added %1 entries in %2 ms\n").arg(drive.rows()).arg(timer.elapsed());
    out.flush();

    // The GUI thread's pulse: the worst gap between ticks of a 5 ms timer.
    QElapsedTimer pulse;
    qint64 lastTick = 0;
    qint64 worstGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&]() {
        const qint64 now = pulse.elapsed();
        worstGap = qMax(worstGap, now - lastTick);
        lastTick = now;
    });

    // One selection per turn of the event loop, then wait for the last picture.
    int next = 0;
    qint64 lastClick = -1;
    qint64 shownAt = -1;
    QTimer clicker;
    clicker.setInterval(0);
    QObject::connect(&clicker, &QTimer::timeout, [&]() {
        if (next < photos.size()) {
            drive.select(photos.at(next++));
            if (next == photos.size())
                lastClick = pulse.elapsed();
            return;
        }
        if (drive.pictureShown()) {
            shownAt = pulse.elapsed();
            clicker.stop();
            ticker.stop();
            app.quit();
        } else if (pulse.elapsed() - lastClick > 60000) {
            clicker.stop();
            ticker.stop();
            app.quit();
        }
    });
    pulse.start();
    ticker.start();
    clicker.start();
    app.exec();

    out << QStringLiteral("selected %1 JPEGs, one per event-loop turn, in %2 ms\n").arg(photos.size()).arg(lastClick);
    out << QStringLiteral("longest GUI-thread stall (5 ms timer gap): %1 ms\n").arg(worstGap);
    if (shownAt < 0)
        out << "the last picture was not shown within 60 s\n";
    else
        out << QStringLiteral("last picture on screen %1 ms after the last selection (%2)\n")
                   .arg(shownAt - lastClick).arg(drive.dimension());
    return shownAt < 0 ? 1 : 0;
}
