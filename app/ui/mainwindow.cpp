// Main window: construction, actions, menus, tool bar, geometry and drags.
#include "mainwindow.h"

#include "convertdlgs.h"
#include "graphics/imagecodec.h"
#include "gui/aboutdlg.h"
#include "gui/label.h"
#include "gui/toolbox.h"
#include "imageeditdlg.h"
#include "imageedittool.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QGridLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char* const kProductPage = "https://www.pelmora.com/korvane";

QAction* MakeAction(QObject* parent, const QString& text, const char* icon, const QString& toolTip)
{
    QAction* action = icon ? new QAction(QIcon(QString::fromLatin1(icon)), text, parent)
                           : new QAction(text, parent);
    action->setToolTip(toolTip);
    return action;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    qDebug() << "MainWindow::MainWndow";
    CreateActions();
    CreateMenus();
    CreateToolBar();

    CreateSrcList();
    CreateTgtList();
    pSrcPreviewLbl = new PLMLabel(tr("Source Preview"));
    pSrcInfoLbl = new QLabel;
    pTgtPreviewLbl = new PLMLabel(tr("Converted Target"));
    pTgtInfoLbl = new QLabel;
    pPreviewSplitter = new QSplitter(Qt::Vertical);
    pPreviewSplitter->addWidget(CreatePreviewColumn(pSrcPreviewLbl, pSrcInfoLbl));
    pPreviewSplitter->addWidget(CreatePreviewColumn(pTgtPreviewLbl, pTgtInfoLbl));

    pListSplitter = new QSplitter(Qt::Horizontal);
    pListSplitter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pListSplitter->addWidget(pSrcTreeView);
    pListSplitter->addWidget(pPreviewSplitter);
    pListSplitter->addWidget(pTgtTreeView);

    pMainSplitter = new QSplitter(Qt::Vertical);
    pMainSplitter->addWidget(pListSplitter);
    pMainSplitter->addWidget(CreateTgtPanel());
    // A larger window gives its room to the lists; the panel's rows stay together.
    pMainSplitter->setStretchFactor(0, 1);
    pMainSplitter->setStretchFactor(1, 0);
    setCentralWidget(pMainSplitter);

    CreateConnections();

    setMinimumSize(780, 540);
    {
        // The first start is wide enough to show every tool-bar action and
        // tall enough for both previews with their dimension lines.
        statusBar();
        const QSize firstSize(qMax(780, pToolBar->sizeHint().width() + 24), qMax(540, minimumSizeHint().height()));
        QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
        settings.beginGroup(QStringLiteral("MainWindow"));
        QPoint position = settings.value(QStringLiteral("Position"), QPoint(200, 200)).toPoint();
        QSize windowSize = settings.value(QStringLiteral("Size"), firstSize).toSize();
        settings.endGroup();
        // A stored geometry (from another screen, or damaged) is kept on the
        // screen: no larger than it, and not out of sight.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            windowSize = windowSize.expandedTo(minimumSize()).boundedTo(available.size()).expandedTo(minimumSize());
            const QRect placed(position, windowSize);
            if (!available.intersects(placed) || (available & placed).width() < 100 || (available & placed).height() < 50)
                position = available.topLeft() + QPoint(20, 20);
        }
        resize(windowSize);
        move(position);
    }

    pSelCountLbl = new QLabel;
    statusBar()->addPermanentWidget(pSelCountLbl, 1);
    pStatusLbl = new QLabel(tr("Korvane Image Converter 1.0.4") + QStringLiteral("  \u00b7  Pelmora"));
    statusBar()->addPermanentWidget(pStatusLbl);
    setAcceptDrops(true);

    convertSettings.Load();
    InitTgtFoldersCmB();
    InitTgtFmtCmB();
    InitTgtExistsCmB();
    InitTgtDPI();
    pKeepMdCB->setChecked(convertSettings.KeepMd);

    UpdateActions();
    UpdateStatusBar();
}

MainWindow::~MainWindow()
{
    qDebug() << "MainWindow::~MainWindow";
    lConvertData.clear();
    SaveTgtFolders();
    SaveTgtDPIs();
    UpdateConvertSettings();
    convertSettings.Save();
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.setValue(QStringLiteral("MainWindow/Closed"), true);
}

void MainWindow::CreateActions()
{
    pAddSrcFilesAct = MakeAction(this, tr("Add Source(s)"), ":IMG_ADD_FILE", tr("Add one or more source files"));
    pAddSrcFilesAct->setShortcut(QKeySequence(tr("Alt+A")));
    pAddSrcFolderAct = MakeAction(this, tr("Add Folder"), ":IMG_ADD_FOLDER", tr("Add a source file folder"));
    pExitAct = MakeAction(this, tr("E&xit"), nullptr, tr("Exit the application"));
    pExitAct->setShortcuts(QKeySequence::Quit);
    pSelectAllAct = MakeAction(this, tr("Select All"), ":IMG_SELECT_ALL", tr("Select all the source file(s)"));
    pSelectAllAct->setShortcuts(QKeySequence::SelectAll);
    pRemoveAct = MakeAction(this, tr("Remove"), ":IMG_REMOVE", tr("Remove the selected source file(s)"));
    pRemoveAct->setShortcuts(QKeySequence::Delete);
    pEditAct = MakeAction(this, tr("Edit Source(s)"), ":IMG_EDIT", tr("Open the edit dialog to edit source image(s)"));
    pEditAct->setShortcut(QKeySequence(tr("Alt+E")));
    pResizeAct = MakeAction(this, tr("Resize"), ":IMG_RESIZE", tr("Resize the image"));
    pFlipAct = MakeAction(this, tr("Flip"), ":IMG_FLIP", tr("Flip the image"));
    pRotateAct = MakeAction(this, tr("Rotate"), ":IMG_ROTATE", tr("Rotate the image"));
    pWatermarkTextAct = MakeAction(this, tr("Watermark Text"), ":IMG_WATERMARK_TEXT", tr("Add text watermark onto the image"));
    pWatermarkImageAct = MakeAction(this, tr("Watermark Image"), ":IMG_WATERMARK_IMAGE", tr("Add image watermark onto the image"));
    pConvertAct = MakeAction(this, tr("Convert Source(s)"), ":IMG_CONVERT", tr("Convert the selected source file(s)"));
    pConvertAct->setShortcut(QKeySequence(tr("Alt+C")));
    pOpenTargetAct = MakeAction(this, tr("Open Target(s)"), ":IMG_OPENTARGET", tr("Open the target(s) folder"));
    pOpenTargetAct->setShortcut(QKeySequence(tr("Alt+T")));
    pSettingsAct = MakeAction(this, tr("Settings"), ":IMG_SETTINGS", tr("Settings"));
    pAboutAct = MakeAction(this, tr("&About"), nullptr, tr("Show the application's  About box"));
}

void MainWindow::CreateMenus()
{
    pFileMenu = menuBar()->addMenu(tr("&File"));
    pFileMenu->addAction(pAddSrcFilesAct);
    pFileMenu->addAction(pAddSrcFolderAct);
    pFileMenu->addSeparator();
    pFileMenu->addAction(pConvertAct);
    pFileMenu->addAction(pOpenTargetAct);
    pFileMenu->addSeparator();
    pFileMenu->addAction(pExitAct);

    pEditMenu = menuBar()->addMenu(tr("Edit"));
    pEditMenu->addAction(pResizeAct);
    pEditMenu->addAction(pFlipAct);
    pEditMenu->addAction(pRotateAct);
    pEditMenu->addAction(pWatermarkTextAct);
    pEditMenu->addAction(pWatermarkImageAct);

    pSettingsMenu = menuBar()->addMenu(tr("Settings"));
    pSettingsMenu->addAction(pSettingsAct);

    pHelpMenu = menuBar()->addMenu(tr("&Help"));
    pHelpMenu->addAction(pAboutAct);
}

void MainWindow::CreateToolBar()
{
    pToolBar = addToolBar(tr("Korvane Image Converter"));
    pToolBar->setMovable(false);
    pToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    pToolBar->addAction(pAddSrcFilesAct);
    pToolBar->addAction(pAddSrcFolderAct);
    pToolBar->addSeparator();
    pToolBar->addAction(pSelectAllAct);
    pToolBar->addAction(pRemoveAct);
    pToolBar->addSeparator();

    pEditToolBtn = new QToolButton;
    pEditToolBtn->setPopupMode(QToolButton::MenuButtonPopup);
    pEditToolBtn->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    pEditToolBtn->setDefaultAction(pEditAct);
    QMenu* editMenu = new QMenu(pEditToolBtn);
    editMenu->addAction(pResizeAct);
    editMenu->addAction(pFlipAct);
    editMenu->addAction(pRotateAct);
    editMenu->addAction(pWatermarkTextAct);
    editMenu->addAction(pWatermarkImageAct);
    pEditToolBtn->setMenu(editMenu);
    pToolBar->addWidget(pEditToolBtn);
    pToolBar->addSeparator();

    pToolBar->addAction(pConvertAct);
    pToolBar->addAction(pOpenTargetAct);
    pToolBar->addSeparator();
    pToolBar->addAction(pSettingsAct);
    pToolBar->addSeparator();
}

void MainWindow::CreateSrcList()
{
    pSrcTreeView = new QTreeView;
    pSrcTreeView->setRootIsDecorated(false);
    pSrcTreeView->setUniformRowHeights(true);   // one line a row; keeps long lists fast
    pSrcTreeView->setSortingEnabled(true);
    pSrcTreeView->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    pSrcTreeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    pSrcTreeView->header()->setStretchLastSection(true);
    pSrcTreeView->header()->setDefaultAlignment(Qt::AlignCenter);

    pSrcModel = new FileListModel(6, this);
    const QStringList headers = {tr("Source"), tr("Format"), tr("Size(MB)"), tr("Folder"), tr("Convert")};
    for (int column = 0; column < headers.size(); ++column)
        pSrcModel->setHeaderData(column, Qt::Horizontal, headers.at(column));
    QStandardItem* indexHeader = new QStandardItem;
    indexHeader->setData(QStringLiteral("SourceFileListIndex"), Qt::UserRole);
    pSrcModel->setHorizontalHeaderItem(5, indexHeader);

    pSrcTreeView->setModel(pSrcModel);
    // Names from A to Z until the user clicks a header (Qt starts descending).
    pSrcTreeView->sortByColumn(0, Qt::AscendingOrder);
    pSrcTreeView->setColumnHidden(5, true);
    pSrcTreeView->setColumnWidth(0, 100);
    for (int column = 1; column <= 4; ++column)
        pSrcTreeView->setColumnWidth(column, 80);
    pSrcSelModel = pSrcTreeView->selectionModel();
    pSrcModel->SetSelectionModel(pSrcSelModel);
}

void MainWindow::CreateTgtList()
{
    pTgtTreeView = new QTreeView;
    pTgtTreeView->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    pTgtTreeView->setRootIsDecorated(false);
    pTgtTreeView->setSortingEnabled(true);
    pTgtTreeView->header()->setStretchLastSection(true);
    pTgtTreeView->header()->setDefaultAlignment(Qt::AlignCenter);

    pTgtModel = new FileListModel(5, this);
    const QStringList headers = {tr("Target (Read-Only)"), tr("Format"), tr("Size(MB)"), tr("Folder")};
    for (int column = 0; column < headers.size(); ++column)
        pTgtModel->setHeaderData(column, Qt::Horizontal, headers.at(column));
    QStandardItem* indexHeader = new QStandardItem;
    indexHeader->setData(QStringLiteral("TgtFileListIndex"), Qt::UserRole);
    pTgtModel->setHorizontalHeaderItem(4, indexHeader);

    pTgtTreeView->setModel(pTgtModel);
    pTgtTreeView->sortByColumn(0, Qt::AscendingOrder);
    pTgtTreeView->setColumnHidden(4, true);
    // Wide enough for its header text and sort arrow in any font.
    const QFontMetrics metrics(pTgtTreeView->header()->font());
    pTgtTreeView->setColumnWidth(0, qMax(110, metrics.horizontalAdvance(headers.first()) + 36));
    pTgtSelModel = pTgtTreeView->selectionModel();
    pTgtModel->SetSelectionModel(pTgtSelModel);
}

QWidget* MainWindow::CreatePreviewColumn(PLMLabel* pPreviewLbl, QLabel* pInfoLbl)
{
    pPreviewLbl->setAlignment(Qt::AlignCenter);
    pPreviewLbl->setBackgroundRole(QPalette::Base);
    pPreviewLbl->setMinimumSize(205, 154);
    pPreviewLbl->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pPreviewLbl->setScaledContents(true);
    pPreviewLbl->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    pInfoLbl->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    pInfoLbl->setAlignment(Qt::AlignCenter);

    QWidget* column = new QWidget;
    column->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pPreviewLbl);
    layout->addWidget(pInfoLbl);
    return column;
}

QWidget* MainWindow::CreateTgtPanel()
{
    pTgtPanel = new QWidget;
    pTgtPanel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    QGridLayout* grid = new QGridLayout(pTgtPanel);

    pTgtFolderLbl = new QLabel(tr("Target Folder:"));
    pTgtFoldersCmB = new QComboBox;
    pTgtFoldersCmB->setEditable(true);
    pTgtFoldersCmB->setDuplicatesEnabled(false);
    pTgtFoldersCmB->setInsertPolicy(QComboBox::InsertAlphabetically);
    pTgtFolderBrowseBtn = new QPushButton(tr("Browse..."));
    grid->addWidget(pTgtFolderLbl, 0, 0);
    grid->addWidget(pTgtFoldersCmB, 0, 1, 1, 4);
    grid->addWidget(pTgtFolderBrowseBtn, 0, 5);

    pTgtFmtLbl = new QLabel(tr("Target Format:"));
    pTgtFmtCmB = new QComboBox;
    pTgtFmtCmB->setMaxVisibleItems(20);
    pTgtFmtSettingsBtn = new QPushButton(tr("Format Settings..."));
    pTgtExistsLbl = new QLabel(tr("Save Target:"));
    pTgtExistsCmB = new QComboBox;
    grid->addWidget(pTgtFmtLbl, 1, 0);
    grid->addWidget(pTgtFmtCmB, 1, 1);
    grid->addWidget(pTgtFmtSettingsBtn, 1, 2);
    grid->addWidget(pTgtExistsLbl, 1, 4);
    grid->addWidget(pTgtExistsCmB, 1, 5);

    const QString dpiToolTip = tr("Dots/Pixels per inch when printing the target file");
    pTgtDPILbl = new QLabel(tr("Target DPI/PPI:"));
    pTgtDPILbl->setToolTip(dpiToolTip);
    pTgtDPICmB = new QComboBox;
    pTgtDPICmB->setToolTip(dpiToolTip);
    pTgtDPICmB->setEnabled(false);
    pTgtDPICmB->setEditable(true);
    pTgtDPICmB->lineEdit()->setValidator(new QIntValidator(60, 2400, pTgtDPICmB));
    pTgtDPICmB->setDuplicatesEnabled(false);
    pTgtDPICmB->setInsertPolicy(QComboBox::InsertAlphabetically);
    pTgtDPICB = new QCheckBox(tr("Same as source file"));
    pTgtDPICB->setChecked(true);
    pKeepMdCB = new QCheckBox(tr("Keep Metadata"));
    pKeepMdCB->setChecked(false);
    grid->addWidget(pTgtDPILbl, 2, 0);
    grid->addWidget(pTgtDPICmB, 2, 1);
    grid->addWidget(pTgtDPICB, 2, 2);
    grid->addWidget(pKeepMdCB, 2, 4);
    // Extra width goes to the gap in the middle (and so to the folder field
    // that spans it), extra height below the last row.
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(3, 1);
    return pTgtPanel;
}

void MainWindow::CreateConnections()
{
    connect(pAddSrcFilesAct, SIGNAL(triggered()), this, SLOT(AddSrcFiles()));
    connect(pAddSrcFolderAct, SIGNAL(triggered()), this, SLOT(AddSrcFolder()));
    connect(pExitAct, SIGNAL(triggered()), this, SLOT(Exit()));
    connect(pSelectAllAct, SIGNAL(triggered()), this, SLOT(SelectAllSrc()));
    connect(pRemoveAct, SIGNAL(triggered()), this, SLOT(RemoveSrc()));
    connect(pEditAct, SIGNAL(triggered()), this, SLOT(Edit()));
    connect(pResizeAct, SIGNAL(triggered()), this, SLOT(Resize()));
    connect(pFlipAct, SIGNAL(triggered()), this, SLOT(Flip()));
    connect(pRotateAct, SIGNAL(triggered()), this, SLOT(Rotate()));
    connect(pWatermarkTextAct, SIGNAL(triggered()), this, SLOT(WatermarkText()));
    connect(pWatermarkImageAct, SIGNAL(triggered()), this, SLOT(WatermarkImage()));
    connect(pSettingsAct, SIGNAL(triggered()), this, SLOT(Settings()));

    connect(pTgtFoldersCmB, SIGNAL(currentIndexChanged(QString)), this, SLOT(UpdateOpenTgtBtn(QString)));
    connect(pTgtFoldersCmB, SIGNAL(editTextChanged(QString)), this, SLOT(UpdateOpenTgtBtn(QString)));
    connect(pTgtFolderBrowseBtn, SIGNAL(clicked()), this, SLOT(BrowseTgtFolder()));
    connect(pTgtFmtCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(TgtFmtChanged(int)));
    connect(pTgtFmtSettingsBtn, SIGNAL(clicked()), this, SLOT(TgtFmtSettingsClicked()));
    connect(pTgtDPICB, SIGNAL(stateChanged(int)), this, SLOT(TgtDPICBChecked(int)));
    connect(pTgtDPICmB, SIGNAL(editTextChanged(QString)), this, SLOT(TgtDPITextChanged(QString)));

    connect(pConvertAct, SIGNAL(triggered()), this, SLOT(Convert()));
    connect(pOpenTargetAct, SIGNAL(triggered()), this, SLOT(OpenTarget()));
    connect(pAboutAct, SIGNAL(triggered()), this, SLOT(About()));

    connect(pSrcSelModel, SIGNAL(selectionChanged(QItemSelection, QItemSelection)),
            this, SLOT(SrcSelChanged(QItemSelection, QItemSelection)));
    connect(pSrcTreeView, SIGNAL(doubleClicked(QModelIndex)), this, SLOT(PreviewSrc(QModelIndex)));
    connect(pSrcPreviewLbl, SIGNAL(mouseDoubleClicked(QMouseEvent*)), this, SLOT(PreviewSrc(QMouseEvent*)));
    connect(pTgtSelModel, SIGNAL(selectionChanged(QItemSelection, QItemSelection)),
            this, SLOT(TgtSelChanged(QItemSelection, QItemSelection)));
    connect(pTgtTreeView, SIGNAL(doubleClicked(QModelIndex)), this, SLOT(PreviewTgt(QModelIndex)));
    connect(pTgtPreviewLbl, SIGNAL(mouseDoubleClicked(QMouseEvent*)), this, SLOT(PreviewTgt(QMouseEvent*)));
    connect(&convertWatcher, SIGNAL(resultReadyAt(int)), this, SLOT(ConvertResultReadyAt(int)));
}

void MainWindow::UpdateActions()
{
    const int selected = lSelSrcFiles.size();
    pSelectAllAct->setEnabled(selected < SourceFileList.size());
    pRemoveAct->setEnabled(selected > 0);
    pConvertAct->setEnabled(selected > 0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    qDebug() << "MainWindow::closeEvent";
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("MainWindow"));
    settings.setValue(QStringLiteral("Position"), pos());
    settings.setValue(QStringLiteral("Size"), size());
    if (settings.value(QStringLiteral("FirstRun"), true).toBool()) {
        OpenKorvaneWebsite();
        settings.setValue(QStringLiteral("FirstRun"), false);
    }
    settings.endGroup();
    QMainWindow::closeEvent(event);
}

void MainWindow::OpenKorvaneWebsite()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProductPage)));
}

void MainWindow::Exit()
{
    qWarning() << "MainWindow::Exit";
    QCoreApplication::quit();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl& url : urls) {
        const PLMImageCodecID id = PLMImageCodec(url.toLocalFile()).ID();
        if (id != PLMCodecInvalid && id != PLMCodecCount) {
            event->acceptProposedAction();
            return;
        }
    }
}

namespace {

// Tool sections of the edit dialog that an edit action folds away.
enum EditSections { ResizeSection = 1, FlipSection = 2, RotateSection = 4 };

// Runs the edit dialog on the one selected source (none: a neutral page).
// OK writes the edits into settings itself.
void RunEditDlg(QWidget* parent, const QStringList& selected, EditSettings* settings, int collapsed)
{
    EditDlg dialog(selected.size() == 1 ? selected.first() : QString(), settings, parent);
    dialog.GetToolBox()->SetItemExpanded(dialog.GetResizeTool(), !(collapsed & ResizeSection));
    dialog.GetToolBox()->SetItemExpanded(dialog.GetFlipTool(), !(collapsed & FlipSection));
    dialog.GetToolBox()->SetItemExpanded(dialog.GetRotateTool(), !(collapsed & RotateSection));
    dialog.exec();
}

} // namespace

void MainWindow::Edit()
{
    qDebug() << "MainWindow::Edit";
    RunEditDlg(this, lSelSrcFiles, &convertSettings, 0);
}

void MainWindow::Resize()
{
    qDebug() << "MainWindow::Resize";
    RunEditDlg(this, lSelSrcFiles, &convertSettings, FlipSection | RotateSection);
}

void MainWindow::Flip()
{
    qDebug() << "MainWindow::Flip";
    RunEditDlg(this, lSelSrcFiles, &convertSettings, ResizeSection | RotateSection);
}

void MainWindow::Rotate()
{
    qDebug() << "MainWindow::Rotate";
    RunEditDlg(this, lSelSrcFiles, &convertSettings, ResizeSection | FlipSection);
}

void MainWindow::WatermarkText()
{
    qDebug() << "MainWindow::WatermarkText";
    RunEditDlg(this, lSelSrcFiles, &convertSettings, ResizeSection | FlipSection | RotateSection);
}

void MainWindow::WatermarkImage()
{
    qDebug() << "MainWindow::WatermarkImage";
    RunEditDlg(this, lSelSrcFiles, &convertSettings, ResizeSection | FlipSection | RotateSection);
}

void MainWindow::Settings()
{
    qDebug() << "MainWindow::Settings";
    SettingsDlg dialog(this);
    dialog.exec();
}

void MainWindow::About()
{
    qDebug() << "MainWindow::About";
    PLMAboutDlg dialog;
    dialog.exec();
}
