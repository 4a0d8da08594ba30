// The edit dialog's scene: one background picture (the page being edited, as
// resized, flipped and rotated) and the text and image watermarks placed on
// it. Scene units are pixels of the background as shown, so the items'
// positions and sizes are directly the pixel values of their parameters.
#ifndef KORVANE_IMAGEEDITITEM_H
#define KORVANE_IMAGEEDITITEM_H

#include "editsettings.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QImage>

class QGraphicsView;
class QMenu;

class TextItem : public QGraphicsTextItem
{
    Q_OBJECT

public:
    TextItem(QMenu* contextMenu, QGraphicsItem* parent);

    int type() const override { return TextItemType; }
    TextParams& GetParams() { return params; }
    const TextParams& GetParams() const { return params; }
    // Editing on: the text takes keys and the mouse selects inside it.
    void StartEditing();
    // Moves the text back onto the page when a larger font or a longer text
    // pushed it over an edge, so the page shows what a conversion will draw.
    void KeepOnPage();

signals:
    void selectedChanged(QGraphicsItem* pItem);
    void selectedMoved(QGraphicsItem* pItem);

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

private:
    QMenu* pContextMenu;
    TextParams params;
};

class ImageItem : public QObject, public QGraphicsPixmapItem
{
    Q_OBJECT

public:
    ImageItem(QMenu* contextMenu, const QImage& image, QGraphicsItem* parent);

    int type() const override { return ImageItemType; }
    ImageParams& GetParams() { return params; }
    const ImageParams& GetParams() const { return params; }
    const QImage& GetImage() const { return image; }
    // Takes the size, flip and rotation and shows the picture so; the
    // position stays, so a turned picture grows to the right and down.
    void SetParams(const ImageParams& p);

signals:
    void selectedChanged(QGraphicsItem* pItem);
    void selectedMoved(QGraphicsItem* pItem);

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

private:
    QMenu* pContextMenu;
    ImageParams params;
    QImage image;       // the watermark at its full size; what is shown derives from it
};

class EditScene : public QGraphicsScene
{
    Q_OBJECT

public:
    enum Mode { ModeInactive = 0, ModePlaceText = 1, ModeEdit = 3 };

    EditScene(QMenu* contextMenu, QObject* parent);

    int GetMode() const { return iMode; }
    void SetMode(int mode) { iMode = mode; }
    TextParams& CurrentText() { return currentText; }
    ImageParams& CurrentImage() { return currentImage; }
    int GetBackgroundWidth() const { return iBgWidth; }
    int GetBackgroundHeight() const { return iBgHeight; }
    QGraphicsPixmapItem* GetBackgroundItem() const { return pBgItem; }

    void SetBackground(const QImage& image);
    void ApplyBackgroundRFR(const RFRParams& p, int& width, int& height);
    void ResetBackground(int& width, int& height, bool removeItems);
    // Fits the background into the view, keeping its aspect ratio.
    void FitView();

    // Places a watermark picture: scaled to fit half the background,
    // centred, selected. A null picture places nothing.
    void AddImage(const QImage& image);
    // Replaces the watermarks by the stored ones, resolved against the
    // current background. Answers how many stored pictures were empty and
    // could not be shown.
    int LoadItems(const EditSettings& settings);
    // Appends the watermarks to settings.items, bottom of the stack first.
    void GetItemsEdited(EditSettings& settings) const;
    void RemoveItems();
    // After the background changed size: watermarks sized or placed in
    // percent follow it.
    void RefitItems();
    // The watermarks in stacking order, lowest first.
    QList<QGraphicsItem*> Watermarks() const;

    void SetSelectedImageKeepAspectRatio(const ImageParams& p);
    void SetSelectedImageOpacity(const ImageParams& p);
    void SetSelectedImagePos(const ImageParams& p);
    void SetSelectedImagePosUnit(const ImageParams& p);
    void SetSelectedImageRFR(const ImageParams& p);
    void SetSelectedImageResizeUnit(const ImageParams& p);
    void SetSelectedTextColor(const TextParams& p);
    void SetSelectedTextFont(const TextParams& p);
    void SetSelectedTextFontUnit(const TextParams& p);
    void SetSelectedTextOpacity(const TextParams& p);
    void SetSelectedTextPos(const TextParams& p);
    void SetSelectedTextPosUnit(const TextParams& p);
    bool HasSelectedOfType(int type) const;
    void BringToFront();
    void SendToBack();

    // The font a text item shows for its parameters on this background: text
    // sized in percent of the page gets the pixel size the conversion gives it.
    QFont DisplayFont(const TextParams& p) const;

signals:
    void textAdded(QGraphicsTextItem* pTextItem);
    void selectedChanged(QGraphicsItem* pItem);
    void selectedMoved(QGraphicsItem* pItem);

public slots:
    void selectedChangedLocal(QGraphicsItem* pItem);
    void selectedMovedLocal(QGraphicsItem* pItem);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    QGraphicsView* View();
    void ShowBackground(const QImage& image);
    void Connect(QObject* item);
    TextItem* SelectedText() const;
    ImageItem* SelectedImage() const;
    void ResolveImageSize(ImageParams& p) const;
    void PlaceByUnit(QGraphicsItem* item, int unit, int xValue, int yValue);
    void SnapToPercent(QGraphicsItem* item);
    void Restack(bool toFront);

    QMenu* pContextMenu;
    int iMode = ModeInactive;
    TextParams currentText;
    ImageParams currentImage;
    QGraphicsView* pView = nullptr;
    QImage bgImage;                 // as loaded, before resize, flip and rotation
    QGraphicsPixmapItem* pBgItem = nullptr;
    int iBgWidth = 0;
    int iBgHeight = 0;
};

#endif
