// The main window: its target panel, stored options and geometry, the crash flag, drags, the target folder action,
// and the source list (adding files, folders and drops, sorting, removing, the selection and what follows it).
#include "testsupport.h"

#include "imageeditdlg.h"
#include "mainwindow.h"
#include "dialogdriver.h"

#include <sys/stat.h>

class MainWindowTest : public QObject
{
    Q_OBJECT

    KorvaneTest::UrlRecorder recorder;

    static QSettings store() { return QSettings("Pelmora", "Korvane"); }

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

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler("https", &recorder, "open");
        QDesktopServices::setUrlHandler("http", &recorder, "open");
    }

    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
        recorder.opened.clear();
    }

    // The edit button runs "Edit Source(s)", its menu the single tools.
    void theEditButton()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy editSpy(window.pEditAct, &QAction::triggered);
        QSignalSpy resizeSpy(window.pResizeAct, &QAction::triggered);
        KorvaneTest::AnswerNextModal<EditDlg>([](EditDlg* dialog) { dialog->reject(); });
        QTest::mouseClick(window.pEditToolBtn, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(editSpy.count() * 10 + resizeSpy.count(), 10);
    }

    // Stored options fill the panel; a damaged store still opens the window at once: histories no longer than they
    // are kept, the geometry on the screen.
    void panelFollowsStoredOptions()
    {
        {
            QSettings s = store();
            s.setValue("MainWindow/Size", QSize(100000, 100000));
            s.setValue("MainWindow/Position", QPoint(-50000, 90000));
            s.setValue("TgtFolder/Count", 2147483647);
            s.setValue("TgtFolder/3", "/tmp");
            s.setValue("CSettings/TgtFormat", ".jpeg");
            s.setValue("CSettings/TgtID", 10);
            s.setValue("CSettings/Exists", 7);          // corrupt: neither policy
            s.setValue("CSettings/TgtDPISameSrc", false);
            s.setValue("CSettings/TgtDPI", 200);
            s.setValue("CSettings/KeepMd", true);
            s.setValue("TgtDPI/Count", 2147483647);
            s.setValue("TgtDPI/0", "0");
            s.setValue("TgtDPI/1", "200");
        }
        MainWindow window;
        // "Same as source file" is the stored default folder; the history holds it and /tmp, the resolutions 60 72 96
        // 150 300 and 200.
        QCOMPARE(QStringList({window.pTgtFmtCmB->currentText(), window.pTgtExistsCmB->currentText(),
                              window.pTgtDPICmB->currentText(), window.pTgtFoldersCmB->currentText()}),
                 QStringList({"JPEG (.jpeg)", "Append with unique number", "200", "Same as source file"}));
        QCOMPARE(window.pTgtFmtCmB->currentData().toInt(), (3 << 16) | 10);
        QVERIFY(!window.pTgtDPICB->isChecked() && window.pTgtDPICmB->isEnabled());
        // JPEG keeps metadata and has options.
        QVERIFY(window.pKeepMdCB->isChecked() && window.pKeepMdCB->isEnabled() && window.pTgtFmtSettingsBtn->isEnabled());
        QCOMPARE(QSize(window.pTgtFoldersCmB->count(), window.pTgtDPICmB->count()), QSize(2, 6));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(window.width() <= qMax(screen.width(), 780) && window.height() <= qMax(screen.height(), 540));
        QVERIFY(screen.contains(window.pos()));
    }

    void optionsAndHistoriesSurviveARestart()
    {
        const QTemporaryDir root;
        QStringList folders;
        for (int i = 0; i < 12; ++i) {
            folders << root.path() + QString("/folder-%1-\u00e9t\u00e9").arg(i, 2, 10, QChar('0'));
            QVERIFY(QDir().mkpath(folders.last()));
        }
        {
            MainWindow window;
            window.pTgtFoldersCmB->clear();
            window.pTgtFoldersCmB->addItem("Same as source file");
            for (const QString& folder : folders)
                window.pTgtFoldersCmB->addItem(folder);
            window.pTgtFoldersCmB->setCurrentIndex(3);
            window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("JPEG (.jpeg)"));
            window.pTgtExistsCmB->setCurrentIndex(1);
            window.pTgtDPICB->setChecked(false);
            window.pTgtDPICmB->setEditText("200");
            window.pKeepMdCB->setChecked(true);
        }
        QCOMPARE(store().value("TgtFolder/Count").toInt(), 10);
        QCOMPARE(store().value("CSettings/TgtFormat").toString(), QString(".jpeg"));
        QCOMPARE(store().value("CSettings/TgtID").toInt(), 10);
        MainWindow window;
        QCOMPARE(QSize(window.pTgtFoldersCmB->count(), window.pTgtDPICmB->count()), QSize(11, 6));
        QCOMPARE(QStringList({window.pTgtFoldersCmB->itemText(10), window.pTgtFoldersCmB->currentText(),
                              window.pTgtFmtCmB->currentText(), window.pTgtExistsCmB->currentText(),
                              window.pTgtDPICmB->itemText(5), window.pTgtDPICmB->currentText()}),
                 QStringList({folders.at(9), folders.at(2), "JPEG (.jpeg)", "Overwrite", "200", "200"}));
        QVERIFY(window.pKeepMdCB->isChecked());
        // A standard resolution typed in is not kept as a custom one.
        {
            MainWindow again;
            again.pTgtDPICmB->setEditText("72");
        }
        QCOMPARE(store().value("TgtDPI/Count").toInt(), 1);
        QCOMPARE(store().value("CSettings/TgtDPI").toInt(), 72);
    }

    void firstCloseOpensTheProductPageOnce()
    {
        MainWindow window;
        QCOMPARE(window.pos(), QPoint(200, 200));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(240, 260);
        window.resize(790, 560);
        QVERIFY(window.close());
        QVERIFY(recorder.opened.size() == 1 && recorder.opened.first().scheme() == "https");
        QCOMPARE(store().value("MainWindow/FirstRun"), QVariant(false));
        const QRect stored(store().value("MainWindow/Position").toPoint(), store().value("MainWindow/Size").toSize());
        QCOMPARE(stored, QRect(window.pos(), QSize(790, 560)));
        window.show();
        QVERIFY(window.close());
        QCOMPARE(recorder.opened.size(), 1);
        MainWindow second;
        QCOMPARE(QRect(second.pos(), second.size()), stored);
    }

    void exitLeavesGeometryButStoresClosed()
    {
        store().setValue("MainWindow/Closed", false);
        {
            MainWindow window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.resize(1000, 700);
            // Exit inside a running loop, as in the program: a quit with no loop running would end every later modal
            // loop of this test at once.
            QTimer::singleShot(0, window.pExitAct, &QAction::trigger);
            QCoreApplication::exec();
        }
        for (const char* key : {"MainWindow/Size", "MainWindow/Position", "MainWindow/FirstRun"})
            QVERIFY2(!store().contains(key), key);
        QVERIFY(store().value("MainWindow/Closed").toBool() && recorder.opened.isEmpty());
    }

    // A drag is taken when one of its local files has a known image suffix.
    void dragEnter()
    {
        MainWindow window;
        const QList<QPair<QStringList, bool>> rows = {
            {{"/tmp/notes.txt", "/tmp/picture.png"}, true}, {{"/tmp/HOLIDAY.JPG"}, true}, {{"/tmp/t.ithmb"}, true},
            {{"/tmp/a.txt", "/tmp/README"}, false}, {{}, false}, {{"https://example.org/picture.png"}, false}};
        for (const auto& row : rows) {
            QMimeData data;
            QList<QUrl> list;
            for (const QString& url : row.first)
                list << (url.startsWith('/') ? QUrl::fromLocalFile(url) : QUrl(url));
            data.setUrls(list);
            QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            event.ignore();
            window.dragEnterEvent(&event);
            QVERIFY2(event.isAccepted() == row.second, qPrintable(row.first.join(' ')));
        }
    }

    void openTargetFollowsTheFolderText()
    {
        MainWindow window;
        window.pTgtFoldersCmB->setEditText("");
        QVERIFY(!window.pOpenTargetAct->isEnabled());
        window.pTgtFoldersCmB->setEditText("/somewhere");
        QVERIFY(window.pOpenTargetAct->isEnabled());
        window.pTgtFoldersCmB->setCurrentIndex(0);      // "Same as source file", nothing selected
        QVERIFY(!window.pOpenTargetAct->isEnabled());
        // No file manager to take the folder: a message names it.
        QTemporaryDir folder;
        window.pTgtFoldersCmB->setEditText(folder.path());
        QString message;
        KorvaneTest::AnswerNextModal<QMessageBox>([&message](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
        window.pOpenTargetAct->trigger();
        QVERIFY2(message.contains(folder.path()), qPrintable(message));
        QDesktopServices::setUrlHandler("file", &recorder, "open");
        window.pOpenTargetAct->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(folder.path())});
        // "Same as source file" opens the folder of one selected source, and only of one.
        const QString a = makeFile("open/a.png");
        const QString b = makeFile("open/b.png");
        // A single selected source is previewed: a real picture, or the preview's message would wait.
        QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(a, "PNG"));
        window.pTgtFoldersCmB->setCurrentIndex(0);
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a});
        QVERIFY(window.pOpenTargetAct->isEnabled());
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a, b});
        QVERIFY(!window.pOpenTargetAct->isEnabled());
    }

    void addFilesFromTheDialog()
    {
        const QString small = makeFile("add/small.png", 1000);
        const QString exact = makeFile("add/exact.tif", 1048576);
        const QString big = makeFile("add/big.jpg", 10485760);
        MainWindow window;
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {small, exact});
        QCOMPARE(window.SourceFileList.size(), 2);
        QCOMPARE(selectedPaths(window), QStringList({exact, small}));
        QCOMPARE(window.pSelCountLbl->text(), QString("2 / 2 source files selected"));
        QCOMPARE(QSettings("Pelmora", "Korvane").value("SourceFolder/Current").toString(), dir.path() + "/add");
        QVERIFY(window.pConvertAct->isEnabled() && !window.pSelectAllAct->isEnabled());
        const int row = window.pSrcModel->findItems("small").first()->row();
        QStringList columns;
        for (int column = 1; column <= 4; ++column)
            columns << window.pSrcModel->index(row, column).data().toString();
        QCOMPARE(columns, QStringList({"PNG", "0.1 MB", dir.path() + "/add", ""}));
        QVERIFY(!(window.pSrcModel->itemFromIndex(window.pSrcModel->index(row, 0))->flags() & Qt::ItemIsEditable));
        const int exactRow = window.pSrcModel->findItems("exact").first()->row();
        QCOMPARE(window.pSrcModel->index(exactRow, 2).data().toString(), QString("1.0 MB"));
        // A second add replaces the selection with the new file only.
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {big});
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
        // The selection follows its files through the sort, adjacent rows as one range (a scattered selection is
        // costly to read back).
        QCOMPARE(selectedPaths(window), QStringList({big, two}));
        QCOMPARE(QPoint(window.pSrcSelModel->selectedRows().size(), window.pSrcSelModel->selection().size()), QPoint(2, 1));
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
        QVERIFY(window.SourceFileList.isEmpty() && window.updatesEnabled());
        QCOMPARE(QSettings("Pelmora", "Korvane").value("SourceFolder/Current").toString(), QString("/nowhere"));
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
        QCOMPARE(window.SourceFileList.size() + window.pSrcModel->rowCount(), 6);
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
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a});
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
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {first, second, third});
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
        QVERIFY(window.lSelSrcFiles.isEmpty() && !window.pRemoveAct->isEnabled());
        QCOMPARE(window.pSelCountLbl->text(), QString("0 / 2 source files selected"));
        // The removed path can be added again, and lands once.
        KorvaneTest::DropFiles(&window, {second, third});
        QCOMPARE(window.SourceFileList, QStringList({first, third, second}));
        QCOMPARE(window.pSrcModel->rowCount(), 3);
    }

    // Every other row of a list sorted backwards goes: every row left still names its own file, the indexes are
    // renumbered 0..n-1.
    void removingScatteredRows()
    {
        for (int i = 0; i < 12; ++i)
            makeFile(QString("many/f%1.png").arg(i, 2, 10, QChar('0')));
        MainWindow window;
        KorvaneTest::ChooseFolder(dir.path() + "/many");
        window.pAddSrcFolderAct->trigger();
        window.pSrcTreeView->sortByColumn(0, Qt::DescendingOrder);
        QItemSelection every2nd;
        for (int row = 0; row < 12; row += 2)
            every2nd.select(window.pSrcModel->index(row, 0), window.pSrcModel->index(row, 5));
        window.pSrcSelModel->select(every2nd, QItemSelectionModel::ClearAndSelect);
        QCOMPARE(window.lSelSrcFiles.size(), 6);
        window.pRemoveAct->trigger();
        QCOMPARE(window.SourceFileList.size(), 6);
        QCOMPARE(window.pSrcModel->rowCount(), 6);
        QSet<int> indexes;
        QStringList names;
        for (int row = 0; row < 6; ++row) {
            const int index = window.pSrcModel->index(row, 5).data(Qt::UserRole).toInt();
            indexes.insert(index);
            names << window.pSrcModel->index(row, 0).data().toString();
            QCOMPARE(QFileInfo(window.SourceFileList.value(index)).baseName(), names.last());
        }
        QCOMPARE(indexes, (QSet<int>{0, 1, 2, 3, 4, 5}));
        QCOMPARE(names, QStringList({"f10", "f08", "f06", "f04", "f02", "f00"}));
        // Files of one size keep the order they had, either way: the sort is stable.
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            window.pSrcTreeView->sortByColumn(2, order);
            QStringList sorted;
            for (const QString& path : rowPaths(window))
                sorted << QFileInfo(path).baseName();
            QCOMPARE(sorted, names);
        }
        window.pSelectAllAct->trigger();
        QCOMPARE(window.pSelCountLbl->text(), QString("6 / 6 source files selected"));
    }

    void vectorSourcesTakeOverTheDpiControls()
    {
        const QString pdf = makeFile("vector/doc.PDF");
        const QString png = makeFile("vector/pic.png");
        MainWindow window;
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {png});
        QVERIFY(window.pTgtDPICB->isEnabled() && !window.pTgtDPICmB->isEnabled());
        KorvaneTest::DropFiles(&window, {pdf});
        QVERIFY(window.bVectorSrcSel && !window.pTgtDPICB->isEnabled() && window.pTgtDPICmB->isEnabled());
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {png});                 // selects only the PNG again
        QVERIFY(!window.bVectorSrcSel && window.pTgtDPICB->isEnabled() && !window.pTgtDPICmB->isEnabled());
        // A bad value typed, then "Same as source file" ticked again: a vector source brings the field back with the
        // last valid value.
        window.pTgtDPICB->setChecked(false);
        window.pTgtDPICmB->setEditText("300");
        window.pTgtDPICmB->setEditText("5");
        window.pTgtDPICB->setChecked(true);
        KorvaneTest::DropFiles(&window, {pdf});
        QVERIFY(window.pTgtDPICmB->isEnabled());
        QCOMPARE(window.pTgtDPICmB->currentText(), QString("300"));
    }

    // The crash flag across runs: the first run needs no report and arms the flag.
    void cleanEndThenKilledRunThenCleanEnd()
    {
        QVERIFY(!LastRunCrashed());
        QCOMPARE(store().value("MainWindow/Closed"), QVariant(false));
        { MainWindow window; }                     // a run that ends normally
        QCOMPARE(store().value("MainWindow/Closed").toBool(), true);
        QVERIFY(!LastRunCrashed());                // next start: clean
        // ...and this run is killed: the window is never destroyed.
        QVERIFY(LastRunCrashed());                 // the start after it reports once
        QCOMPARE(store().value("MainWindow/Closed").toBool(), false);
        { MainWindow window; }
        QVERIFY(!LastRunCrashed());
        // A value that is no boolean counts as a clean end.
        QSettings("Pelmora", "Korvane").setValue("MainWindow/Closed", "garbage");
        QVERIFY(!LastRunCrashed());
    }

    void reportCrashOffSuppressesButStillRearms()
    {
        SetReportCrash(false);
        QCOMPARE(store().value("Settings/ReportCrash"), QVariant(false));
        for (int run = 0; run < 2; ++run)          // killed twice: still no report
            QVERIFY(!LastRunCrashed());
        QCOMPARE(store().value("MainWindow/Closed").toBool(), false);
        { MainWindow window; }
        QCOMPARE(store().value("MainWindow/Closed").toBool(), true);
        SetReportCrash(true);
        QVERIFY(!LastRunCrashed());
        QVERIFY(LastRunCrashed());
    }

    void programPluginFolderComesFirst()
    {
        const QString folder = ProgramPluginFolder();
        QVERIFY2(!folder.isEmpty(), "the tests run beside the program, next to its imageformats folder");
        QVERIFY(QDir(folder).exists("imageformats"));
        QCOMPARE(QCoreApplication::libraryPaths().first(), folder);
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
