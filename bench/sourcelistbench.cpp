// How long the source list takes to take in, sort, select and thin out a
// folder of many files. Prints its figures; run it by hand:
//   build/bin/sourcelistbench [file count, default 20000]
#include "mainwindow.h"
#include "startup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

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
    int selected() const { return window.lSelSrcFiles.size(); }
    void sortBy(int column, Qt::SortOrder order) { window.pSrcTreeView->sortByColumn(column, order); }
    void selectAll() { window.pSelectAllAct->trigger(); }
    void selectEveryOtherRow()
    {
        QItemSelection selection;
        for (int row = 0; row < rows(); row += 2)
            selection.select(window.pSrcModel->index(row, 0), window.pSrcModel->index(row, 5));
        window.pSrcSelModel->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    void remove() { window.pRemoveAct->trigger(); }

private:
    MainWindow& window;
};

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DiscardMessageHandler);
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20000;

    QTemporaryDir folder;
    for (int i = 0; i < count; ++i) {
        QFile file(folder.path() + QStringLiteral("/photo-%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.write("x");
    }

    MainWindow window;
    window.show();
    MainWindowTest drive(window);
    QTextStream out(stdout);
    QElapsedTimer timer;
    auto report = [&](const char* step) {
        out << QStringLiteral("%1 %2 ms  (rows %3, selected %4)\n")
                   .arg(QString::fromLatin1(step), -34).arg(timer.elapsed(), 7).arg(drive.rows()).arg(drive.selected());
        out.flush();
        timer.restart();
    };

    out << "source list with " << count << " files\n";
    timer.start();
    drive.addFolder(folder.path());
    report("add the folder");
    drive.addFolder(folder.path());
    report("add it again (all duplicates)");
    drive.sortBy(2, Qt::DescendingOrder);
    report("sort by size");
    drive.sortBy(0, Qt::DescendingOrder);
    report("sort by name");
    drive.selectAll();
    report("select all");
    drive.selectEveryOtherRow();
    report("select every other row");
    drive.remove();
    report("remove them");
    drive.selectAll();
    drive.remove();
    report("remove the rest");
    return 0;
}
