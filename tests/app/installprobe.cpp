// Preloaded into the installed program by tst_install. Once the program's
// event loop runs it writes to KORVANE_PROBE_OUT, one line each: the source
// rows, the status line, what the files of KORVANE_PROBE_READ read as here,
// the program's plugins loaded (from /proc/self/maps); then, with the row
// "photo" alone selected, its preview's pixel ratio, pixel width and the
// label's width. Then it quits through the event loop.
#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QTreeView>

namespace {

QMainWindow* Window()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("MainWindow") && widget->isVisible())
            return qobject_cast<QMainWindow*>(widget);
    }
    return nullptr;
}

void Preview(QMainWindow* window, QStringList report, int triesLeft)
{
    for (QLabel* label : window->findChildren<QLabel*>()) {
        const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
        if (!pixmap.isNull())
            report << QStringLiteral("%1 %2 %3").arg(pixmap.devicePixelRatio()).arg(pixmap.width()).arg(label->width());
    }
    if (report.size() < 5 && triesLeft > 0) {
        QTimer::singleShot(50, [=]() { Preview(window, report, triesLeft - 1); });
        return;
    }
    QFile out(qEnvironmentVariable("KORVANE_PROBE_OUT"));
    if (out.open(QIODevice::WriteOnly))
        out.write(report.join(QLatin1Char('\n')).toUtf8());
    QCoreApplication::quit();
}

void Probe()
{
    QMainWindow* window = Window();
    if (QThread::currentThread()->loopLevel() == 0 || !window) {
        QTimer::singleShot(50, &Probe);
        return;
    }
    QStringList rows, status, reads, plugins;
    QTreeView* sources = nullptr;
    for (QTreeView* view : window->findChildren<QTreeView*>()) {
        if (view->model()->headerData(0, Qt::Horizontal).toString() == QLatin1String("Source"))
            sources = view;
    }
    int photoRow = 0;
    for (int row = 0; row < sources->model()->rowCount(); ++row) {
        const QModelIndex name = sources->model()->index(row, 0);
        rows << QStringLiteral("%1|%2|%3").arg(name.data().toString(), name.siblingAtColumn(1).data().toString(),
                                               name.siblingAtColumn(3).data().toString());
        if (name.data().toString() == QLatin1String("photo"))
            photoRow = row;
    }
    for (QLabel* label : window->statusBar()->findChildren<QLabel*>())
        status << label->text();
    for (const QString& path : qEnvironmentVariable("KORVANE_PROBE_READ").split(QLatin1Char(' '))) {
        const QSize size = QImageReader(path).read().size();
        reads << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    }
    QFile maps(QStringLiteral("/proc/self/maps"));
    maps.open(QIODevice::ReadOnly);
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
        if ((path.contains(QLatin1String("/libdrumlet")) || path.contains(QLatin1String("/libkorvane")))
            && !plugins.contains(path))
            plugins << path;
    }
    sources->selectionModel()->select(sources->model()->index(photoRow, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Preview(window, {rows.join(QLatin1Char(' ')), status.join(QLatin1Char(' ')), reads.join(QLatin1Char(' ')),
                     plugins.join(QLatin1Char(' '))}, 400);
}

void Install()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), []() { Probe(); }, Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
