#include "testsupport.h"

#include "gui/label.h"
#include "imageeditdlg.h"
#include "mainwindow.h"
#include "dialogdriver.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QGridLayout>
#include <QScreen>
#include <QHeaderView>
#include <QIntValidator>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

// Records the addresses the window asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class MainWindowTest : public QObject
{
    Q_OBJECT

    UrlRecorder recorder;

    static QSettings store() { return QSettings("Pelmora", "Korvane"); }

    static bool dragAccepted(MainWindow& window, const QStringList& files)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        data.setUrls(urls);
        QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        event.ignore();
        window.dragEnterEvent(&event);
        return event.isAccepted();
    }

    static QStringList actionTexts(const QList<QAction*>& actions)
    {
        QStringList texts;
        for (QAction* action : actions)
            texts << (action->isSeparator() ? QString("|") : action->text());
        return texts;
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

    void actionsAndShortcuts()
    {
        MainWindow window;
        struct Expect { QAction* action; const char* text; const char* tip; bool icon; };
        const QList<Expect> expected = {
            {window.pAddSrcFilesAct, "Add Source(s)", "Add one or more source files", true},
            {window.pAddSrcFolderAct, "Add Folder", "Add a source file folder", true},
            {window.pExitAct, "E&xit", "Exit the application", false},
            {window.pSelectAllAct, "Select All", "Select all the source file(s)", true},
            {window.pRemoveAct, "Remove", "Remove the selected source file(s)", true},
            {window.pEditAct, "Edit Source(s)", "Open the edit dialog to edit source image(s)", true},
            {window.pResizeAct, "Resize", "Resize the image", true},
            {window.pFlipAct, "Flip", "Flip the image", true},
            {window.pRotateAct, "Rotate", "Rotate the image", true},
            {window.pWatermarkTextAct, "Watermark Text", "Add text watermark onto the image", true},
            {window.pWatermarkImageAct, "Watermark Image", "Add image watermark onto the image", true},
            {window.pConvertAct, "Convert Source(s)", "Convert the selected source file(s)", true},
            {window.pOpenTargetAct, "Open Target(s)", "Open the target(s) folder", true},
            {window.pSettingsAct, "Settings", "Settings", true},
            {window.pAboutAct, "&About", "Show the application's  About box", false},
        };
        for (const Expect& e : expected) {
            QCOMPARE(e.action->text(), QString(e.text));
            QCOMPARE(e.action->toolTip(), QString(e.tip));
            QCOMPARE(e.action->parent(), &window);
            // Every named icon resolves to a real picture in the resources.
            QCOMPARE(!e.action->icon().pixmap(32, 32).isNull(), e.icon);
        }
        QCOMPARE(window.pAddSrcFilesAct->shortcut(), QKeySequence("Alt+A"));
        QCOMPARE(window.pEditAct->shortcut(), QKeySequence("Alt+E"));
        QCOMPARE(window.pConvertAct->shortcut(), QKeySequence("Alt+C"));
        QCOMPARE(window.pOpenTargetAct->shortcut(), QKeySequence("Alt+T"));
        QCOMPARE(window.pExitAct->shortcuts(), QKeySequence::keyBindings(QKeySequence::Quit));
        QCOMPARE(window.pSelectAllAct->shortcuts(), QKeySequence::keyBindings(QKeySequence::SelectAll));
        QCOMPARE(window.pRemoveAct->shortcuts(), QKeySequence::keyBindings(QKeySequence::Delete));
        QVERIFY(window.pAddSrcFolderAct->shortcut().isEmpty());
    }

    void menusAndToolBar()
    {
        MainWindow window;
        QStringList menus;
        for (QAction* action : window.menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, QStringList({"&File", "Edit", "Settings", "&Help"}));
        QCOMPARE(actionTexts(window.pFileMenu->actions()),
                 QStringList({"Add Source(s)", "Add Folder", "|", "Convert Source(s)", "Open Target(s)", "|", "E&xit"}));
        QCOMPARE(actionTexts(window.pEditMenu->actions()),
                 QStringList({"Resize", "Flip", "Rotate", "Watermark Text", "Watermark Image"}));
        QCOMPARE(actionTexts(window.pSettingsMenu->actions()), QStringList({"Settings"}));
        QCOMPARE(actionTexts(window.pHelpMenu->actions()), QStringList({"&About"}));

        QCOMPARE(window.pToolBar->windowTitle(), QString("Korvane Image Converter"));
        QVERIFY(!window.pToolBar->isMovable());
        QCOMPARE(window.pToolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QStringList tools;
        for (QAction* action : window.pToolBar->actions()) {
            if (window.pToolBar->widgetForAction(action) == window.pEditToolBtn)
                tools << "[edit button]";
            else
                tools << (action->isSeparator() ? QString("|") : action->text());
        }
        QCOMPARE(tools, QStringList({"Add Source(s)", "Add Folder", "|", "Select All", "Remove", "|",
                                     "[edit button]", "|", "Convert Source(s)", "Open Target(s)", "|",
                                     "Settings", "|"}));

        QCOMPARE(window.pEditToolBtn->popupMode(), QToolButton::MenuButtonPopup);
        QCOMPARE(window.pEditToolBtn->defaultAction(), window.pEditAct);
        QCOMPARE(actionTexts(window.pEditToolBtn->menu()->actions()),
                 QStringList({"Resize", "Flip", "Rotate", "Watermark Text", "Watermark Image"}));

        // Clicking the button runs "Edit Source(s)".
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy editSpy(window.pEditAct, &QAction::triggered);
        QSignalSpy resizeSpy(window.pResizeAct, &QAction::triggered);
        KorvaneTest::AnswerNextModal<EditDlg>([](EditDlg* dialog) { dialog->reject(); });
        QTest::mouseClick(window.pEditToolBtn, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(editSpy.count(), 1);
        QCOMPARE(resizeSpy.count(), 0);
    }

    void listsAndPreviews()
    {
        MainWindow window;
        QCOMPARE(window.centralWidget(), window.pMainSplitter);
        QCOMPARE(window.pMainSplitter->orientation(), Qt::Vertical);
        QCOMPARE(window.pMainSplitter->widget(0), window.pListSplitter);
        QCOMPARE(window.pMainSplitter->widget(1), window.pTgtPanel);
        QCOMPARE(window.pListSplitter->orientation(), Qt::Horizontal);
        QCOMPARE(window.pListSplitter->widget(0), window.pSrcTreeView);
        QCOMPARE(window.pListSplitter->widget(1), window.pPreviewSplitter);
        QCOMPARE(window.pListSplitter->widget(2), window.pTgtTreeView);
        QCOMPARE(window.pPreviewSplitter->orientation(), Qt::Vertical);
        QVERIFY(window.pPreviewSplitter->widget(0)->isAncestorOf(window.pSrcPreviewLbl));
        QVERIFY(window.pPreviewSplitter->widget(0)->isAncestorOf(window.pSrcInfoLbl));
        QVERIFY(window.pPreviewSplitter->widget(1)->isAncestorOf(window.pTgtPreviewLbl));
        QCOMPARE(window.pSrcPreviewLbl->text(), QString("Source Preview"));
        QCOMPARE(window.pTgtPreviewLbl->text(), QString("Converted Target"));
        QCOMPARE(window.pSrcPreviewLbl->minimumSize(), QSize(205, 154));
        QVERIFY(window.pSrcPreviewLbl->hasScaledContents());

        QCOMPARE(window.pSrcModel->columnCount(), 6);
        QCOMPARE(window.pSrcModel->rowCount(), 0);
        QStringList srcHeaders;
        for (int column = 0; column < 5; ++column)
            srcHeaders << window.pSrcModel->headerData(column, Qt::Horizontal).toString();
        QCOMPARE(srcHeaders, QStringList({"Source", "Format", "Size(MB)", "Folder", "Convert"}));
        QCOMPARE(window.pSrcModel->headerData(5, Qt::Horizontal, Qt::UserRole).toString(), QString("SourceFileListIndex"));
        QVERIFY(window.pSrcModel->headerData(5, Qt::Horizontal).toString().isEmpty());
        QVERIFY(window.pSrcTreeView->isColumnHidden(5));
        QVERIFY(window.pSrcTreeView->isSortingEnabled());
        QCOMPARE(window.pSrcTreeView->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(window.pSrcTreeView->columnWidth(0), 100);
        QCOMPARE(window.pSrcTreeView->columnWidth(3), 80);
        QCOMPARE(window.pSrcSelModel, window.pSrcTreeView->selectionModel());

        QCOMPARE(window.pTgtModel->columnCount(), 5);
        QCOMPARE(window.pTgtModel->headerData(0, Qt::Horizontal).toString(), QString("Target (Read-Only)"));
        QCOMPARE(window.pTgtModel->headerData(4, Qt::Horizontal, Qt::UserRole).toString(), QString("TgtFileListIndex"));
        QVERIFY(window.pTgtTreeView->isColumnHidden(4));
        QCOMPARE(window.pTgtTreeView->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(window.pTgtTreeView->columnWidth(0)
                >= window.pTgtTreeView->header()->fontMetrics().horizontalAdvance("Target (Read-Only)") + 20);

        QVERIFY(window.acceptDrops());
        QCOMPARE(window.minimumSize(), QSize(780, 540));
        QVERIFY(window.pStatusLbl->text().startsWith("Korvane Image Converter 1.0.4"));
        QVERIFY(window.statusBar()->isAncestorOf(window.pStatusLbl));
    }

    void targetPanelLayout()
    {
        MainWindow window;
        auto* grid = qobject_cast<QGridLayout*>(window.pTgtPanel->layout());
        QVERIFY(grid);
        auto at = [grid](int row, int column) {
            QLayoutItem* item = grid->itemAtPosition(row, column);
            return item ? item->widget() : nullptr;
        };
        QCOMPARE(qobject_cast<QLabel*>(at(0, 0))->text(), QString("Target Folder:"));
        QCOMPARE(at(0, 1), window.pTgtFoldersCmB);
        QCOMPARE(at(0, 4), window.pTgtFoldersCmB);   // spans columns 1 to 4
        QCOMPARE(qobject_cast<QPushButton*>(at(0, 5))->text(), QString("Browse..."));
        QCOMPARE(qobject_cast<QLabel*>(at(1, 0))->text(), QString("Target Format:"));
        QCOMPARE(at(1, 1), window.pTgtFmtCmB);
        QCOMPARE(at(1, 2), window.pTgtFmtSettingsBtn);
        QCOMPARE(qobject_cast<QLabel*>(at(1, 4))->text(), QString("Save Target:"));
        QCOMPARE(at(1, 5), window.pTgtExistsCmB);
        QCOMPARE(qobject_cast<QLabel*>(at(2, 0))->text(), QString("Target DPI/PPI:"));
        QCOMPARE(at(2, 1), window.pTgtDPICmB);
        QCOMPARE(at(2, 2), window.pTgtDPICB);
        QCOMPARE(at(2, 4), window.pKeepMdCB);
        QCOMPARE(at(1, 3), nullptr);

        QVERIFY(window.pTgtFoldersCmB->isEditable());
        QCOMPARE(window.pTgtFmtCmB->maxVisibleItems(), 20);
        QCOMPARE(window.pTgtDPICmB->toolTip(), QString("Dots/Pixels per inch when printing the target file"));
        QCOMPARE(window.pTgtDPILbl->toolTip(), window.pTgtDPICmB->toolTip());
        auto* validator = qobject_cast<const QIntValidator*>(window.pTgtDPICmB->lineEdit()->validator());
        QVERIFY(validator);
        QCOMPARE(validator->bottom(), 60);
        QCOMPARE(validator->top(), 2400);
        // Defaults: same resolution as the source, so the DPI combo is off.
        QVERIFY(window.pTgtDPICB->isChecked());
        QVERIFY(!window.pTgtDPICmB->isEnabled());
        QVERIFY(!window.pKeepMdCB->isChecked());

        // A bigger window gives its room to the lists: the panel's rows keep
        // their spacing.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int rowSpan = window.pTgtDPICmB->y() - window.pTgtFoldersCmB->y();
        const int listHeight = window.pSrcTreeView->height();
        window.resize(1600, 1200);
        QTRY_VERIFY(window.pSrcTreeView->height() > listHeight + 500);
        QCOMPARE(window.pTgtDPICmB->y() - window.pTgtFoldersCmB->y(), rowSpan);
    }

    void panelFollowsStoredOptions()
    {
        {
            QSettings s = store();
            s.setValue("CSettings/TgtFormat", ".jpeg");
            s.setValue("CSettings/TgtID", 10);
            s.setValue("CSettings/Exists", 7);          // corrupt: neither policy
            s.setValue("CSettings/TgtDPISameSrc", false);
            s.setValue("CSettings/TgtDPI", 200);
            s.setValue("CSettings/KeepMd", true);
            s.setValue("TgtDPI/Count", 1);
            s.setValue("TgtDPI/0", "200");
        }
        MainWindow window;
        QCOMPARE(window.pTgtFmtCmB->currentText(), QString("JPEG (.jpeg)"));
        QCOMPARE(window.pTgtFmtCmB->currentData().toInt(), (3 << 16) | 10);
        QCOMPARE(window.pTgtExistsCmB->currentText(), QString("Append with unique number"));
        QCOMPARE(window.pTgtDPICmB->currentText(), QString("200"));
        QVERIFY(!window.pTgtDPICB->isChecked());
        QVERIFY(window.pTgtDPICmB->isEnabled());
        QVERIFY(window.pKeepMdCB->isChecked());
        QVERIFY(window.pKeepMdCB->isEnabled());           // JPEG keeps metadata
        QVERIFY(window.pTgtFmtSettingsBtn->isEnabled());  // JPEG has options
        // "Same as source file" is the stored default folder.
        QCOMPARE(window.pTgtFoldersCmB->currentText(), QString("Same as source file"));
    }

    void formatListAndEnabledStates()
    {
        MainWindow window;
        QCOMPARE(window.pTgtFmtCmB->count(), 35);
        QCOMPARE(window.pTgtFmtCmB->currentText(), QString("PNG (.png)"));
        for (int i = 0; i < window.pTgtFmtCmB->count(); ++i) {
            const int data = window.pTgtFmtCmB->itemData(i).toInt();
            const PLMImageCodec codec{PLMImageCodecID(data & 0xFFFF)};
            QCOMPARE(window.pTgtFmtCmB->itemText(i),
                     codec.GetName() + " (" + codec.GetExtension(data >> 16) + ")");
        }
        auto choose = [&window](const QString& text) {
            const int index = window.pTgtFmtCmB->findText(text);
            QVERIFY2(index >= 0, qPrintable(text));
            window.pTgtFmtCmB->setCurrentIndex(index);
        };
        choose("BMP (.bmp)");
        QVERIFY(!window.pTgtFmtSettingsBtn->isEnabled());
        QVERIFY(!window.pKeepMdCB->isEnabled());
        QVERIFY(window.pTgtDPICB->isEnabled());
        choose("TIFF (.tif)");
        QVERIFY(window.pKeepMdCB->isEnabled());
        choose("PDF (.pdf)");
        QVERIFY(window.pTgtFmtSettingsBtn->isEnabled());
        QVERIFY(!window.pTgtDPICmB->isEnabled());
        QVERIFY(!window.pTgtDPICB->isEnabled());
        QVERIFY(!window.pTgtDPILbl->isEnabled());
        choose("WEBP (.webp)");
        QVERIFY(window.pTgtDPILbl->isEnabled());
        QVERIFY(window.pTgtDPICB->isEnabled());
        QVERIFY(!window.pTgtDPICmB->isEnabled());
        window.pTgtDPICB->setChecked(false);
        QVERIFY(window.pTgtDPICmB->isEnabled());
        window.pTgtDPICB->setCheckState(Qt::PartiallyChecked);
        QVERIFY(window.pTgtDPICmB->isEnabled());
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
        QCOMPARE(window.pTgtFoldersCmB->count(), 11);
        QCOMPARE(window.pTgtFoldersCmB->itemText(10), folders.at(9));
        QCOMPARE(window.pTgtFoldersCmB->currentText(), folders.at(2));
        QCOMPARE(window.pTgtFmtCmB->currentText(), QString("JPEG (.jpeg)"));
        QCOMPARE(window.pTgtExistsCmB->currentText(), QString("Overwrite"));
        QCOMPARE(window.pTgtDPICmB->count(), 6);
        QCOMPARE(window.pTgtDPICmB->itemText(5), QString("200"));
        QCOMPARE(window.pTgtDPICmB->currentText(), QString("200"));
        QVERIFY(window.pKeepMdCB->isChecked());
    }

    void standardDpiIsNotStoredAsCustom()
    {
        {
            MainWindow window;
            window.pTgtDPICB->setChecked(false);
            window.pTgtDPICmB->setEditText("72");
        }
        QCOMPARE(store().value("TgtDPI/Count").toInt(), 0);
        QCOMPARE(store().value("CSettings/TgtDPI").toInt(), 72);
    }

    void firstCloseOpensTheProductPageOnce()
    {
        // A font whose tool bar fits the test screen (800 pixels wide).
        struct FontGuard
        {
            const QFont font = QApplication::font();
            FontGuard() { QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 8)); }
            ~FontGuard() { QApplication::setFont(font); }
        } guard;
        MainWindow window;
        QCOMPARE(window.pos(), QPoint(200, 200));
        QCOMPARE(window.height(), 540);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Wide enough for every tool-bar action: no overflow arrow.
        QWidget* overflow = window.pToolBar->findChild<QWidget*>("qt_toolbar_ext_button");
        QVERIFY(overflow && !overflow->isVisible());
        window.move(240, 260);
        window.resize(790, 560);
        QVERIFY(window.close());
        QCOMPARE(recorder.opened.size(), 1);
        QCOMPARE(recorder.opened.first().scheme(), QString("https"));
        QCOMPARE(store().value("MainWindow/FirstRun"), QVariant(false));
        QCOMPARE(store().value("MainWindow/Size").toSize(), QSize(790, 560));
        QCOMPARE(store().value("MainWindow/Position").toPoint(), window.pos());

        window.show();
        QVERIFY(window.close());
        QCOMPARE(recorder.opened.size(), 1);

        MainWindow second;
        QCOMPARE(second.size(), QSize(790, 560));
        QCOMPARE(second.pos(), store().value("MainWindow/Position").toPoint());
    }

    // A damaged store still opens the window at once: histories no longer
    // than they are kept, the geometry on the screen.
    void damagedStoreStillOpensTheWindow()
    {
        store().setValue("MainWindow/Size", QSize(100000, 100000));
        store().setValue("MainWindow/Position", QPoint(-50000, 90000));
        store().setValue("TgtFolder/Count", 2147483647);
        store().setValue("TgtFolder/3", "/tmp");
        store().setValue("TgtDPI/Count", 2147483647);
        store().setValue("TgtDPI/0", "0");
        store().setValue("TgtDPI/1", "200");
        MainWindow window;
        QCOMPARE(window.pTgtFoldersCmB->count(), 2);                 // "Same as source file", /tmp
        QCOMPARE(window.pTgtDPICmB->count(), 6);                     // 60 72 96 150 300 and 200
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(window.width() <= qMax(screen.width(), 780));
        QVERIFY(window.height() <= qMax(screen.height(), 540));
        QVERIFY(screen.contains(window.pos()));
    }

    void exitLeavesGeometryButStoresClosed()
    {
        store().setValue("MainWindow/Closed", false);
        {
            MainWindow window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.resize(1000, 700);
            // Exit inside a running loop, as in the program: a quit with no
            // loop running would end every later modal loop of this test at once.
            QTimer::singleShot(0, window.pExitAct, &QAction::trigger);
            QCoreApplication::exec();
        }
        QVERIFY(!store().contains("MainWindow/Size"));
        QVERIFY(!store().contains("MainWindow/Position"));
        QVERIFY(!store().contains("MainWindow/FirstRun"));
        QCOMPARE(store().value("MainWindow/Closed").toBool(), true);
        QVERIFY(recorder.opened.isEmpty());
    }

    void dragEnterAcceptsKnownImageFiles()
    {
        MainWindow window;
        QVERIFY(dragAccepted(window, {"/tmp/notes.txt", "/tmp/picture.png"}));
        QVERIFY(dragAccepted(window, {"/tmp/HOLIDAY.JPG"}));
        QVERIFY(dragAccepted(window, {"/tmp/thumbs.ithmb"}));
        QVERIFY(!dragAccepted(window, {"/tmp/a.txt", "/tmp/b.txt"}));
        QVERIFY(!dragAccepted(window, {"/tmp/README"}));
        QVERIFY(!dragAccepted(window, {}));

        // Remote URLs have no local file and are refused.
        QMimeData data;
        data.setUrls({QUrl("https://example.org/picture.png")});
        QDragEnterEvent event(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        event.ignore();
        window.dragEnterEvent(&event);
        QVERIFY(!event.isAccepted());
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
    }

    void actionsFollowTheSelection()
    {
        MainWindow window;
        QVERIFY(!window.pRemoveAct->isEnabled());
        QVERIFY(!window.pConvertAct->isEnabled());
        QVERIFY(!window.pSelectAllAct->isEnabled());     // nothing to select
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
