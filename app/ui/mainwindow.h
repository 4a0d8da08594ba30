// The converter's main window.
#ifndef KORVANE_MAINWINDOW_H
#define KORVANE_MAINWINDOW_H

#include "convertsettings.h"
#include "filelistmodel.h"
#include "imageconvertthread.h"

#include <QFutureWatcher>
#include <QHash>
#include <QItemSelection>
#include <QList>
#include <QMainWindow>
#include <QModelIndex>
#include <QSharedPointer>
#include <QStringList>
#include <QVector>

class ImageReadThread;
class PLMLabel;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QMouseEvent;
class QPushButton;
class QSplitter;
class QStandardItem;
class QStandardItemModel;
class QToolBar;
class QToolButton;
class QTreeView;

class MainWindow : public QMainWindow
{
    Q_OBJECT
    friend class MainWindowTest;

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Files and folders named at start: a file is added as if dropped on the
    // window, a folder is walked as "Add Folder" walks it.
    void AddStartupPaths(const QStringList& paths);

public slots:
    void AddSrcFiles();
    void AddSrcFolder();
    void Exit();
    void SrcSelChanged(const QItemSelection& refSelected, const QItemSelection& refDeselected);
    void TgtSelChanged(const QItemSelection& refSelected, const QItemSelection& refDeselected);
    void UpdateSrcPreview(const QImage& srcImage);
    void UpdateTgtPreview(const QImage& targetImage);
    void SelectAllSrc();
    void RemoveSrc();
    void PreviewSrc(QModelIndex index);
    void PreviewTgt(QModelIndex index);
    void PreviewSrc(QMouseEvent* pEvent);
    void PreviewTgt(QMouseEvent* pEvent);
    void Edit();
    void Resize();
    void Flip();
    void Rotate();
    void WatermarkText();
    void WatermarkImage();
    void BrowseTgtFolder();
    void TgtFmtChanged(int iFmtCBIndex);
    void TgtFmtSettingsClicked();
    void TgtDPICBChecked(int iState);
    void TgtDPITextChanged(const QString& text);
    void Convert();
    void ConvertResultReadyAt(int iCurSelSrcIndex);
    void ConvertCanceled();
    void OpenTarget();
    void UpdateOpenTgtBtn();
    void UpdateOpenTgtBtn(QString sTgtFolder);
    void Settings();
    void About();
    void OpenKorvaneWebsite();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateSrcList();
    void CreateTgtList();
    QWidget* CreatePreviewColumn(PLMLabel* pPreviewLbl, QLabel* pInfoLbl);
    QWidget* CreateTgtPanel();
    void CreateConnections();

    // Target panel (fill, save, gather).
    void InitTgtFoldersCmB();
    void InitTgtFmtCmB();
    void InitTgtExistsCmB();
    void InitTgtDPI();
    void SaveTgtFolders();
    void SaveTgtDPIs();
    void UpdateConvertSettings();
    bool CheckTgtFolder(const QString& folder);
    bool CheckTgtPanel(QString& folderText);
    void PutTgtFolderFirst(const QString& folder);
    void EnableDPIForVectorSources();
    PLMImageCodecID CurrentTgtCodec() const;

    // Source and target lists.
    static QString SizeText(qint64 bytes);
    static QStandardItem* SizeItem(qint64 bytes);
    int SrcRowOf(const QString& path) const;
    QList<int> SelectedSrcRows() const;
    void AddSrcFile(const QString& path);
    bool AddDroppedFile(const QString& path);
    void AddFolderFiles(const QString& folder);    // what "Add Folder" adds
    void FinishAddingSrc(int previousCount);
    QStandardItem* SrcIndexItem(int index) const;
    void UpdateSrcPreview();
    void UpdateTgtPreview();
    void StartPreviewReader(QList<QSharedPointer<ImageReadThread>>& readers, const QString& path,
                            const char* slot, const QSize& bound);
    bool IsNewestReader(const QList<QSharedPointer<ImageReadThread>>& readers, QSize& imageSize) const;
    void Preview(const QString& path);
    const QString& GetSrcFmtFilter();
    void UpdateStatusBar();
    void UpdateActions();
    // The outcome of the row's last conversion; why it failed as its tool tip.
    void MarkSrcRow(int row, const QString& outcome, const QString& icon, const QString& why = QString());
    void UpdateTgtList();
    void AddTgtFile(const QString& path, int index);
    void ShowConvertResults();

    QMenu* pFileMenu = nullptr;
    QMenu* pEditMenu = nullptr;
    QMenu* pSettingsMenu = nullptr;
    QMenu* pHelpMenu = nullptr;
    QToolBar* pToolBar = nullptr;
    QSplitter* pMainSplitter = nullptr;
    QTreeView* pSrcTreeView = nullptr;
    QTreeView* pTgtTreeView = nullptr;
    PLMLabel* pSrcPreviewLbl = nullptr;
    PLMLabel* pTgtPreviewLbl = nullptr;
    QLabel* pSrcInfoLbl = nullptr;
    QLabel* pTgtInfoLbl = nullptr;
    QSplitter* pPreviewSplitter = nullptr;
    QSplitter* pListSplitter = nullptr;

    QWidget* pTgtPanel = nullptr;
    QLabel* pTgtFolderLbl = nullptr;
    QComboBox* pTgtFoldersCmB = nullptr;
    QPushButton* pTgtFolderBrowseBtn = nullptr;
    QLabel* pTgtFmtLbl = nullptr;
    QComboBox* pTgtFmtCmB = nullptr;
    QPushButton* pTgtFmtSettingsBtn = nullptr;
    QLabel* pTgtExistsLbl = nullptr;
    QComboBox* pTgtExistsCmB = nullptr;
    QLabel* pTgtDPILbl = nullptr;
    QComboBox* pTgtDPICmB = nullptr;
    QCheckBox* pTgtDPICB = nullptr;
    QCheckBox* pKeepMdCB = nullptr;
    QLabel* pStatusLbl = nullptr;
    QLabel* pSelCountLbl = nullptr;

    QAction* pAddSrcFilesAct = nullptr;
    QAction* pAddSrcFolderAct = nullptr;
    QAction* pExitAct = nullptr;
    QAction* pSelectAllAct = nullptr;
    QAction* pRemoveAct = nullptr;
    QAction* pEditAct = nullptr;
    QAction* pResizeAct = nullptr;
    QAction* pFlipAct = nullptr;
    QAction* pRotateAct = nullptr;
    QAction* pWatermarkTextAct = nullptr;
    QAction* pWatermarkImageAct = nullptr;
    QAction* pConvertAct = nullptr;
    QAction* pOpenTargetAct = nullptr;
    QAction* pSettingsAct = nullptr;
    QAction* pAboutAct = nullptr;
    QToolButton* pEditToolBtn = nullptr;

    QList<QSharedPointer<ImageReadThread>> lSrcReaders;
    QList<QSharedPointer<ImageReadThread>> lTgtReaders;
    QFutureWatcher<ItemConvertResult> convertWatcher;
    FileListModel* pSrcModel = nullptr;
    FileListModel* pTgtModel = nullptr;
    QItemSelectionModel* pSrcSelModel = nullptr;
    QItemSelectionModel* pTgtSelModel = nullptr;
    QStringList lSelSrcFiles;
    QList<int> lSelSrcRows;
    QString sSelTgtFile;
    QStringList SourceFileList;
    QStringList TgtFileList;
    ConvertSettings convertSettings;
    QList<ImageConvertData> lConvertData;
    QVector<bool> lReportedJobs;      // per job of lConvertData: its result was counted
    // Index of each path in SourceFileList and the hidden index item of its
    // row, so that adding and looking up rows stays linear in bulk adds.
    QHash<QString, int> hSrcFileIndex;
    QList<QStandardItem*> lSrcIndexItems;
    QList<int> lPendingSrcRows;       // rows to select when the current add ends
    bool bAddingSrc = false;
    bool bRemovingSrc = false;
    bool bVectorSrcSel = false;
    int aConvertCounts[4] = {0, 0, 0, 0};
    int iRenamedTargets = 0;          // targets of the batch that took a number instead of overwriting
    int iLastValidDPI = 72;     // put back when a vector source needs the DPI field
};

#endif
