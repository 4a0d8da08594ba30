// The edit dialog: the page to edit in a view beside the tool panels. On OK
// the resize, flip, rotation and watermarks go into the edit settings that
// every conversion applies; Cancel leaves them as they were.
#ifndef KORVANE_IMAGEEDITDLG_H
#define KORVANE_IMAGEEDITDLG_H

#include "editsettings.h"

#include <QDialog>
#include <QSharedPointer>
#include <QString>

class EditScene;
class FlipTool;
class ImageReadThread;
class ImageTool;
class PLMToolBox;
class QAction;
class QCheckBox;
class QDialogButtonBox;
class QGraphicsItem;
class QGraphicsTextItem;
class QGraphicsView;
class QKeyEvent;
class QMainWindow;
class QMenu;
class QPushButton;
class QResizeEvent;
class ResizeTool;
class RotateTool;
class TextTool;

// The reminder shown on OK: the edits apply to every source converted.
class ImageEditInfoDlg : public QDialog
{
    Q_OBJECT

public:
    explicit ImageEditInfoDlg(QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    QCheckBox* pNotShowCB = nullptr;
};

class EditDlg : public QDialog
{
    Q_OBJECT
    friend class EditDlgTest;

public:
    // sourcePath: the one selected source, or empty for a neutral page.
    EditDlg(const QString& sourcePath, EditSettings* settings, QWidget* parent = nullptr);
    ~EditDlg() override;

    // The tool box and the tools, for collapsing sections when opened.
    PLMToolBox* GetToolBox() const { return pToolBox; }
    ResizeTool* GetResizeTool() const { return pResizeTool; }
    FlipTool* GetFlipTool() const { return pFlipTool; }
    RotateTool* GetRotateTool() const { return pRotateTool; }

public slots:
    void resizeEvent(QResizeEvent* event) override;
    void AddText();
    void AddImage();
    void AddImage(const QImage image);
    void Remove();
    void BringToFront();
    void SendToBack();
    void Reset();
    void textAdded(QGraphicsTextItem* pTextItem);
    void selectedChanged(QGraphicsItem* pItem);
    void selectedMoved(QGraphicsItem* pItem);
    void bgRFRChanged();
    void textFontChanged();
    void textColorChanged();
    void textOpaChanged();
    void textPosChanged();
    void textFontUnitChanged();
    void textPosUnitChanged();
    void imageRFRChanged();
    void imageOpaChanged();
    void imagePosChanged();
    void imageResizeUnitChanged();
    void imagePosUnitChanged();
    void imageKeepAspectRatioChanged();
    void UpdateBg(const QImage image);
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateBg();
    void LoadEdited();
    void SaveEdited();
    void textSelected(QGraphicsItem* pItem);
    void imageSelected(QGraphicsItem* pItem);
    void bgSelected();
    void ShowTools(QWidget* markTool);
    void SetBackgroundTools(int width, int height);
    void SetEditable(bool editable);

    QSharedPointer<QMenu> spItemMenu;
    QAction* pAddTextAct = nullptr;
    QAction* pAddImageAct = nullptr;
    QAction* pRemoveAct = nullptr;
    QAction* pBringToFrontAct = nullptr;
    QAction* pSendToBackAct = nullptr;
    QAction* pResetAct = nullptr;
    QMainWindow* pInnerWindow = nullptr;
    QGraphicsTextItem* pLoadingText = nullptr;
    EditScene* pScene = nullptr;
    QGraphicsView* pView = nullptr;
    PLMToolBox* pToolBox = nullptr;
    ResizeTool* pResizeTool = nullptr;
    FlipTool* pFlipTool = nullptr;
    RotateTool* pRotateTool = nullptr;
    TextTool* pTextTool = nullptr;
    ImageTool* pImageTool = nullptr;
    QDialogButtonBox* pButtonBox = nullptr;
    QString sSourcePath;
    EditSettings* pSettings;
    bool bSignalGate = true;
    // The stored edits are in the dialog: until then OK would store less
    // than the user saved, so it is not offered.
    bool bEditsLoaded = false;
    QString sWatermarkPath;         // the file the watermark reader is reading
    QSharedPointer<ImageReadThread> spBgReader;
    QSharedPointer<ImageReadThread> spWatermarkReader;
};

#endif
