// Shows one image file at full size: zoom, rotation, pages, GIF playback and
// a side panel with the picture's size, resolution and metadata.
#ifndef KORVANE_IMAGEPREVIEWDLG_H
#define KORVANE_IMAGEPREVIEWDLG_H

#include <QDialog>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class ImageReadThread;
class PLMGraphicsView;
class PLMToolBox;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsTextItem;
class QLabel;
class QMovie;
class QPushButton;
class QResizeEvent;
class QSlider;
class QStandardItemModel;
class QToolButton;
class QTreeView;
class QWheelEvent;

class ImagePreviewDlg : public QDialog
{
    Q_OBJECT
    friend class ImagePreviewDlgTest;

public:
    ImagePreviewDlg(const QString& path, QWidget* parent);
    ~ImagePreviewDlg() override;

public slots:
    void resizeEvent(QResizeEvent* pEvent) override;
    void wheelMoved(QWheelEvent* pEvent);
    void ZoomIn(int iStep = 2);
    void ZoomOut(int iStep = 2);
    void RotateLeft();
    void RotateRight();
    void SetMatrix();
    void FirstPage();
    void PreviousPage();
    void NextPage();
    void LastPage();
    void UpdatePreview(const QImage& image, const QStringList& slMetadataKey, const QStringList& slMetadataValue);
    void SetAnimation(bool bAnimation);
    void LoopAnimation();

private:
    void ReadImage();
    void ReadPage();
    void PlayAnimation();
    void UpdatePageButtons(bool enable);
    void UpdateInfo(const QImage& image);
    void UpdateMetadata(const QStringList& keys, const QStringList& values);
    void ShowText(const QString& text);
    void FitMetadataView();
    QToolButton* MakeToolButton(const char* icon);

    QString sPath;
    QGraphicsTextItem* pTextItem = nullptr;
    QGraphicsPixmapItem* pPixmapItem = nullptr;
    QGraphicsScene* pScene = nullptr;
    PLMGraphicsView* pView = nullptr;
    QLabel* pMovieLbl = nullptr;
    QMovie* pMovie = nullptr;
    QPushButton* pAnimationBtn = nullptr;
    PLMToolBox* pToolBox = nullptr;
    QTreeView* pInfoView = nullptr;
    QStandardItemModel* pInfoModel = nullptr;
    QTreeView* pMetadataView = nullptr;
    QStandardItemModel* pMetadataModel = nullptr;
    QSlider* pZoomSlider = nullptr;
    QLabel* pZoomLbl = nullptr;
    QToolButton* pZoomInBtn = nullptr;
    QToolButton* pZoomOutBtn = nullptr;
    QToolButton* pRotateLeftBtn = nullptr;
    QToolButton* pRotateRightBtn = nullptr;
    QToolButton* pFirstBtn = nullptr;
    QToolButton* pPreviousBtn = nullptr;
    QToolButton* pNextBtn = nullptr;
    QToolButton* pLastBtn = nullptr;
    QLabel* pPageLbl = nullptr;
    int iRotation = 0;
    QSharedPointer<ImageReadThread> spReadThread;
    int iPage = 0;
    int iPageCount = 0;
    bool bPageCountRead = false;
    int iImageWidth = 0;
    int iImageHeight = 0;
};

#endif
