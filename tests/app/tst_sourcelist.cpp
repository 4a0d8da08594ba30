#include "testsupport.h"

#include "dialogdriver.h"
#include "mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QSettings>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTreeView>

#include <sys/stat.h>

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString makeFile(const QString& relative, qint64 bytes = 100)
    {
        const QString path = dir.path() + "/" + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(QByteArray(int(bytes), 'x'));
        return path;
    }

    // Path shown by each row, read through the hidden index column.
    static QStringList rowPaths(MainWindow& window)
    {
        QStringList paths;
        for (int row = 0; row < window.pSrcModel->rowCount(); ++row) {
            const int index = window.pSrcModel->index(row, 5).data(Qt::UserRole).toInt();
            paths << window.SourceFileList.value(index);
        }
        return paths;
    }

    static QStringList selectedPaths(MainWindow& window)
    {
        QStringList paths = window.lSelSrcFiles;
        paths.sort();
        return paths;
    }

    static void addFiles(MainWindow& window, const QStringList& files)
    {
        KorvaneTest::ChooseFiles(files);
        window.pAddSrcFilesAct->trigger();
    }

private slots:
    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
    }

    void addFilesFromTheDialog()
    {
        const QString small = makeFile("add/small.png", 1000);
        const QString exact = makeFile("add/exact.tif", 1048576);
        const QString big = makeFile("add/big.jpg", 10485760);
        MainWindow window;
        addFiles(window, {small, exact});
        QCOMPARE(window.SourceFileList.size(), 2);
        QCOMPARE(selectedPaths(window), QStringList({exact, small}));
        QCOMPARE(window.pSelCountLbl->text(), QString("2 / 2 source files selected"));
        QCOMPARE(QSettings("Pelmora", "Korvane").value("SourceFolder/Current").toString(), dir.path() + "/add");
        QVERIFY(window.pConvertAct->isEnabled());
        QVERIFY(!window.pSelectAllAct->isEnabled());

        const int row = window.pSrcModel->findItems("small").first()->row();
        QCOMPARE(window.pSrcModel->index(row, 1).data().toString(), QString("PNG"));
        QCOMPARE(window.pSrcModel->index(row, 2).data().toString(), QString("0.1 MB"));
        QCOMPARE(window.pSrcModel->index(row, 3).data().toString(), dir.path() + "/add");
        QCOMPARE(window.pSrcModel->index(row, 4).data().toString(), QString());
        QVERIFY(!(window.pSrcModel->itemFromIndex(window.pSrcModel->index(row, 0))->flags() & Qt::ItemIsEditable));
        const int exactRow = window.pSrcModel->findItems("exact").first()->row();
        QCOMPARE(window.pSrcModel->index(exactRow, 2).data().toString(), QString("1.0 MB"));

        // A second add replaces the selection with the new file only.
        addFiles(window, {big});
        QCOMPARE(selectedPaths(window), QStringList({big}));
        QCOMPARE(window.pSelCountLbl->text(), QString("1 / 3 source files selected"));
        QVERIFY(window.pSelectAllAct->isEnabled());

        // Sizes sort as sizes, not as the texts "10.0 MB" < "2.0 MB".
        const QString two = makeFile("add/two.gif", 2 * 1048576);
        KorvaneTest::DropFiles(&window, {two});
        window.pSrcTreeView->sortByColumn(2, Qt::AscendingOrder);
        QCOMPARE(rowPaths(window), QStringList({small, exact, two, big}));
        window.pSrcTreeView->sortByColumn(2, Qt::DescendingOrder);
        QCOMPARE(rowPaths(window), QStringList({big, two, exact, small}));
        // The selection follows its files through the sort.
        QCOMPARE(selectedPaths(window), QStringList({big, two}));
        QCOMPARE(window.pSrcSelModel->selectedRows().size(), 2);

        // A menu's status tip does not hide the count.
        window.show();
        window.statusBar()->showMessage("Add one or more source files");
        QVERIFY(window.pSelCountLbl->isVisible());
        QCOMPARE(window.pSelCountLbl->text(), QString("2 / 4 source files selected"));
    }

    // What Qt's own file dialog lists in a folder with the filter it is given.
    void theDialogFilterShowsEveryImage()
    {
        for (const char* name : {"a.jpg", "B.JPG", "c.tif", "d.ithmb", "e.svgz", "notes.txt", "f.jpeg"})
            makeFile(QString("dialog/") + name);
        const QString folder = dir.path() + "/dialog";
        QStringList shown;
        QString filterShown;
        KorvaneTest::AnswerNextModal<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setDirectory(folder);
            filterShown = dialog->selectedNameFilter();
            QListView* list = dialog->findChild<QListView*>("listView");
            QTRY_VERIFY_WITH_TIMEOUT(list && list->model()->rowCount(list->rootIndex()) > 0, 5000);
            QTest::qWait(200);
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
                shown << list->model()->index(row, 0, list->rootIndex()).data().toString();
            dialog->reject();
        });
        MainWindow window;
        window.pAddSrcFilesAct->trigger();
        QVERIFY(filterShown.startsWith("All Images (*.bmp *.dds "));
        shown.sort();
        QCOMPARE(shown, QStringList({"B.JPG", "a.jpg", "c.tif", "d.ithmb", "e.svgz", "f.jpeg"}));
    }

    void cancellingChangesNothing()
    {
        QSettings("Pelmora", "Korvane").setValue("SourceFolder/Current", "/nowhere");
        MainWindow window;
        KorvaneTest::ChooseFiles({});
        window.pAddSrcFilesAct->trigger();
        KorvaneTest::ChooseFolder(QString());
        window.pAddSrcFolderAct->trigger();
        QCOMPARE(window.SourceFileList.size(), 0);
        QCOMPARE(QSettings("Pelmora", "Korvane").value("SourceFolder/Current").toString(), QString("/nowhere"));
        QVERIFY(window.updatesEnabled());
    }

    void folderWalkAddsEveryFileWithADot()
    {
        const QString root = dir.path() + "/walk";
        const QString picture = makeFile("walk/picture.png");
        const QString notes = makeFile("walk/notes.txt");
        const QString nested = makeFile("walk/deeper/nested.gif");
        makeFile("walk/README");
        // Not a regular file: reading it would block for good.
        const QString fifo = dir.path() + "/walk/pipe.png";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        MainWindow window;
        KorvaneTest::ChooseFolder(root);
        window.pAddSrcFolderAct->trigger();
        QStringList listed = window.SourceFileList;
        listed.sort();
        QStringList expected = {picture, notes, nested};
        expected.sort();
        QCOMPARE(listed, expected);
        QCOMPARE(selectedPaths(window), expected);
        KorvaneTest::DropFiles(&window, {fifo});
        QCOMPARE(window.SourceFileList.size(), 3);
        QCOMPARE(QSettings("Pelmora", "Korvane").value("SourceFolder/Current").toString(), root);

        // Walking the same folder again adds no duplicates.
        KorvaneTest::ChooseFolder(root);
        window.pAddSrcFolderAct->trigger();
        QCOMPARE(window.SourceFileList.size(), 3);
        QCOMPARE(window.pSrcModel->rowCount(), 3);
        // Listed by name from A to Z.
        QCOMPARE(window.pSrcModel->index(0, 0).data().toString(), QString("nested"));
        QCOMPARE(window.pSrcModel->index(2, 0).data().toString(), QString("picture"));
    }

    void dropsAddToTheSelectionAndSkipUnknownFiles()
    {
        const QString a = makeFile("drop/a.png");
        const QString b = makeFile("drop/b.bmp");
        const QString c = makeFile("drop/c.webp");
        const QString text = makeFile("drop/d.txt");
        MainWindow window;
        addFiles(window, {a});
        QVERIFY(KorvaneTest::DropFiles(&window, {b, text, dir.path() + "/drop/missing.png"}));
        QCOMPARE(window.SourceFileList, QStringList({a, b}));
        QCOMPARE(selectedPaths(window), QStringList({a, b}));

        QVERIFY(!KorvaneTest::DropFiles(&window, {text}));

        // A duplicate drop selects the row it already has; nothing is added.
        window.pSrcSelModel->clearSelection();
        KorvaneTest::DropFiles(&window, {a, c});
        QCOMPARE(window.SourceFileList, QStringList({a, b, c}));
        QCOMPARE(window.pSrcModel->rowCount(), 3);
        QCOMPARE(selectedPaths(window), QStringList({a, c}));
        QCOMPARE(window.pSelCountLbl->text(), QString("2 / 3 source files selected"));
    }

    void removingTheMiddleRenumbersTheRest()
    {
        const QString first = makeFile("remove/1.png");
        const QString second = makeFile("remove/2.png");
        const QString third = makeFile("remove/3.png");
        MainWindow window;
        window.show();
        addFiles(window, {first, second, third});
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.pSrcTreeView->sortByColumn(0, Qt::DescendingOrder);   // rows: 3, 2, 1
        window.pSrcSelModel->select(window.pSrcModel->index(1, 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(window.lSelSrcFiles, QStringList({second}));

        window.pSrcTreeView->setFocus();
        QTest::keySequence(window.pSrcTreeView, QKeySequence(QKeySequence::Delete));
        QCOMPARE(window.SourceFileList, QStringList({first, third}));
        QCOMPARE(rowPaths(window), QStringList({third, first}));
        QCOMPARE(window.pSrcModel->index(0, 5).data(Qt::UserRole).toInt(), 1);   // was 2
        QVERIFY(window.lSelSrcFiles.isEmpty());
        QCOMPARE(window.pSelCountLbl->text(), QString("0 / 2 source files selected"));
        QVERIFY(!window.pRemoveAct->isEnabled());

        // The removed path can be added again, and lands once.
        KorvaneTest::DropFiles(&window, {second, third});
        QCOMPARE(window.SourceFileList, QStringList({first, third, second}));
        QCOMPARE(window.pSrcModel->rowCount(), 3);
    }

    void removingScatteredRowsOfALargeList()
    {
        QStringList files;
        for (int i = 0; i < 600; ++i)
            files << makeFile(QString("many/f%1.png").arg(i, 4, 10, QChar('0')));
        MainWindow window;
        KorvaneTest::ChooseFolder(dir.path() + "/many");
        window.pAddSrcFolderAct->trigger();
        QCOMPARE(window.SourceFileList.size(), 600);
        window.pSrcTreeView->sortByColumn(0, Qt::DescendingOrder);

        QItemSelection every2nd;
        for (int row = 0; row < 600; row += 2)
            every2nd.select(window.pSrcModel->index(row, 0), window.pSrcModel->index(row, 5));
        window.pSrcSelModel->select(every2nd, QItemSelectionModel::ClearAndSelect);
        QCOMPARE(window.lSelSrcFiles.size(), 300);
        window.pRemoveAct->trigger();

        QCOMPARE(window.SourceFileList.size(), 300);
        QCOMPARE(window.pSrcModel->rowCount(), 300);
        // Every row still names its own file, and the indexes are 0..299.
        QSet<int> indexes;
        for (int row = 0; row < 300; ++row) {
            const int index = window.pSrcModel->index(row, 5).data(Qt::UserRole).toInt();
            indexes.insert(index);
            QCOMPARE(QFileInfo(window.SourceFileList.value(index)).baseName(),
                     window.pSrcModel->index(row, 0).data().toString());
        }
        QCOMPARE(indexes.size(), 300);
        QVERIFY(!indexes.contains(300));

        window.pSelectAllAct->trigger();
        QCOMPARE(window.lSelSrcFiles.size(), 300);
        QCOMPARE(window.pSelCountLbl->text(), QString("300 / 300 source files selected"));
    }

    void vectorSourcesTakeOverTheDpiControls()
    {
        const QString pdf = makeFile("vector/doc.PDF");
        const QString png = makeFile("vector/pic.png");
        MainWindow window;
        addFiles(window, {png});
        QVERIFY(window.pTgtDPICB->isEnabled());
        QVERIFY(!window.pTgtDPICmB->isEnabled());
        KorvaneTest::DropFiles(&window, {pdf});
        QVERIFY(window.bVectorSrcSel);
        QVERIFY(!window.pTgtDPICB->isEnabled());
        QVERIFY(window.pTgtDPICmB->isEnabled());
        addFiles(window, {png});                 // selects only the PNG again
        QVERIFY(!window.bVectorSrcSel);
        QVERIFY(window.pTgtDPICB->isEnabled());
        QVERIFY(!window.pTgtDPICmB->isEnabled());

        // A bad value typed, then "Same as source file" ticked again: a vector
        // source brings the field back with the last valid value.
        window.pTgtDPICB->setChecked(false);
        window.pTgtDPICmB->setEditText("300");
        window.pTgtDPICmB->setEditText("5");
        window.pTgtDPICB->setChecked(true);
        KorvaneTest::DropFiles(&window, {pdf});
        QVERIFY(window.pTgtDPICmB->isEnabled());
        QCOMPARE(window.pTgtDPICmB->currentText(), QString("300"));
    }

    void openTargetWithSameAsSourceNeedsOneSource()
    {
        const QString a = makeFile("open/a.png");
        const QString b = makeFile("open/b.png");
        // A single selected source is previewed: it must be a real picture,
        // or the preview's failure message would wait for an answer.
        QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(a, "PNG"));
        MainWindow window;
        window.pTgtFoldersCmB->setCurrentIndex(0);
        addFiles(window, {a});
        QVERIFY(window.pOpenTargetAct->isEnabled());
        addFiles(window, {a, b});
        QVERIFY(!window.pOpenTargetAct->isEnabled());
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_sourcelist.moc"
