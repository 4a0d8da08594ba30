#include "imageedititem.h"

#include "applyedits.h"
#include "imageedittool.h"

#include <QDebug>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QMenu>
#include <QTextCursor>
#include <QTextDocument>
#include <QTransform>

namespace {

int PercentOf(int size, int value)
{
    return RoundHalfUp(Percent(value, size));
}

int ToPercent(int value, int size)
{
    return size > 0 ? RoundHalfUp(value * 100.0 / size) : 0;
}

// The position, position unit and opacity setters are the same for text
// and image marks.
template <class Item, class Params>
void StorePosUnit(Item* item, const Params& p)
{
    Params& stored = item->GetParams();
    stored.positionUnit = p.positionUnit;
    stored.xValue = p.xValue;
    stored.yValue = p.yValue;
}

template <class Item, class Params>
void StorePos(Item* item, const Params& p)
{
    StorePosUnit(item, p);
    item->GetParams().x = p.x;
    item->GetParams().y = p.y;
    item->setPos(p.x, p.y);
}

template <class Item, class Params>
void StoreOpacity(Item* item, const Params& p)
{
    item->GetParams().opacity = p.opacity;
    item->setOpacity(p.opacity / 100.0);
}

// Keeps an item on the background: a position that would put any part of
// the item outside the scene is pulled back in; an item larger than the
// background sticks to its left or top edge.
QPointF ClampToScene(const QGraphicsItem* item, const QSizeF& size, const QPointF& p)
{
    const QRectF bounds = item->scene()->sceneRect();
    const qreal width = size.width();
    const qreal height = size.height();
    if (bounds.contains(p) && bounds.contains(p + QPointF(width, height)))
        return p;
    qreal x = qMin(qMax(p.x(), bounds.left()), bounds.right());
    qreal y = qMin(qMax(p.y(), bounds.top()), bounds.bottom());
    if (x + width > bounds.right())
        x = qMax(bounds.right() - width, 0.0);
    if (y + height > bounds.bottom())
        y = qMax(bounds.bottom() - height, 0.0);
    return QPointF(x, y);
}

} // namespace

// ------------------------------------------------------------------ TextItem

TextItem::TextItem(QMenu* contextMenu, QGraphicsItem* parent)
    : QGraphicsTextItem(parent)
    , pContextMenu(contextMenu)
{
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
}

void TextItem::StartEditing()
{
    setTextInteractionFlags(Qt::TextEditorInteraction);
}

void TextItem::KeepOnPage()
{
    if (!scene())
        return;
    const QPointF clamped = ClampToScene(this, boundingRect().size(), pos());
    if (clamped != pos())
        setPos(clamped);
}

void TextItem::contextMenuEvent(QGraphicsSceneContextMenuEvent* event)
{
    scene()->clearSelection();
    setSelected(true);
    if (pContextMenu)
        pContextMenu->exec(event->screenPos());
}

void TextItem::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event)
{
    if (textInteractionFlags() != Qt::NoTextInteraction) {
        QGraphicsTextItem::mouseDoubleClickEvent(event);
        return;
    }
    StartEditing();
    setFocus(Qt::MouseFocusReason);
    setSelected(true);
    // The cursor goes where the user clicked.
    QGraphicsSceneMouseEvent press(QEvent::GraphicsSceneMousePress);
    press.setButton(event->button());
    press.setButtons(event->buttons());
    press.setPos(event->pos());
    press.setScenePos(event->scenePos());
    press.setScreenPos(event->screenPos());
    press.setModifiers(event->modifiers());
    QGraphicsTextItem::mousePressEvent(&press);
}

QVariant TextItem::itemChange(GraphicsItemChange change, const QVariant& value)
{
    if (change == ItemPositionChange && scene())
        return ClampToScene(this, boundingRect().size(), value.toPointF());
    if (change == ItemPositionHasChanged) {
        params.x = RoundHalfUp(pos().x());
        params.y = RoundHalfUp(pos().y());
        emit selectedMoved(this);
    } else if (change == ItemSelectedHasChanged) {
        if (!value.toBool()) {
            setTextInteractionFlags(Qt::NoTextInteraction);
            QTextCursor cursor = textCursor();
            cursor.clearSelection();
            setTextCursor(cursor);
            clearFocus();
            KeepOnPage();
        }
        emit selectedChanged(this);
    }
    return QGraphicsTextItem::itemChange(change, value);
}

// ----------------------------------------------------------------- ImageItem

ImageItem::ImageItem(QMenu* contextMenu, const QImage& picture, QGraphicsItem* parent)
    : QGraphicsPixmapItem(parent)
    , pContextMenu(contextMenu)
    , image(picture)
{
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
    setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    setTransformationMode(Qt::SmoothTransformation);
}

void ImageItem::SetParams(const ImageParams& p)
{
    params.sizeUnit = p.sizeUnit;
    params.keepAspectRatio = p.keepAspectRatio;
    params.width = p.width;
    params.height = p.height;
    params.widthValue = p.widthValue;
    params.heightValue = p.heightValue;
    params.flip = p.flip;
    params.angle = p.angle;
    if (image.isNull() || params.width < 1 || params.height < 1)
        return;
    QTransform matrix = FlipRotate(params.flip, 0);
    matrix.rotate(params.angle);
    setPixmap(QPixmap::fromImage(image.scaled(params.width, params.height, Qt::IgnoreAspectRatio,
                                              Qt::FastTransformation)
                                     .transformed(matrix, Qt::FastTransformation)));
}

void ImageItem::contextMenuEvent(QGraphicsSceneContextMenuEvent* event)
{
    scene()->clearSelection();
    setSelected(true);
    if (pContextMenu)
        pContextMenu->exec(event->screenPos());
}

QVariant ImageItem::itemChange(GraphicsItemChange change, const QVariant& value)
{
    // The picture itself, without the half-pixel margin a selectable
    // picture item adds around it.
    if (change == ItemPositionChange && scene())
        return ClampToScene(this, pixmap().size(), value.toPointF());
    if (change == ItemPositionHasChanged) {
        params.x = RoundHalfUp(pos().x());
        params.y = RoundHalfUp(pos().y());
        emit selectedMoved(this);
    } else if (change == ItemSelectedHasChanged) {
        emit selectedChanged(this);
    }
    return QGraphicsPixmapItem::itemChange(change, value);
}

// ----------------------------------------------------------------- EditScene

EditScene::EditScene(QMenu* contextMenu, QObject* parent)
    : QGraphicsScene(parent)
    , pContextMenu(contextMenu)
{
    pBgItem = new QGraphicsPixmapItem;
    // Watermarks are cut off where the page ends, as the conversion cuts them.
    pBgItem->setFlag(QGraphicsItem::ItemClipsChildrenToShape);
    pBgItem->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    pBgItem->setTransformationMode(Qt::SmoothTransformation);
    addItem(pBgItem);
}

QGraphicsView* EditScene::View()
{
    if (!pView && !views().isEmpty())
        pView = views().first();
    return pView;
}

void EditScene::FitView()
{
    if (View() && iBgWidth > 0 && iBgHeight > 0)
        pView->fitInView(pBgItem, Qt::KeepAspectRatio);
}

void EditScene::ShowBackground(const QImage& image)
{
    iBgWidth = image.width();
    iBgHeight = image.height();
    setSceneRect(0, 0, iBgWidth, iBgHeight);
    pBgItem->setPixmap(QPixmap::fromImage(image));
    FitView();
}

void EditScene::SetBackground(const QImage& image)
{
    if (!View())
        return;
    bgImage = image;
    ShowBackground(bgImage);
}

void EditScene::ApplyBackgroundRFR(const RFRParams& p, int& width, int& height)
{
    if (!View())
        return;
    QImage shown = bgImage;
    if (p.resizeEnabled && p.width > 0 && p.height > 0)
        shown = shown.scaled(p.width, p.height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    shown = shown.transformed(FlipRotate(p.flip, p.angle), Qt::FastTransformation);
    ShowBackground(shown);
    width = iBgWidth;
    height = iBgHeight;
}

void EditScene::ResetBackground(int& width, int& height, bool removeItems)
{
    if (removeItems)
        RemoveItems();
    ShowBackground(bgImage);
    width = iBgWidth;
    height = iBgHeight;
}

void EditScene::RemoveItems()
{
    const QList<QGraphicsItem*> children = pBgItem->childItems();
    for (QGraphicsItem* child : children)
        delete child;
}

void EditScene::RefitItems()
{
    for (QGraphicsItem* child : Watermarks()) {
        if (child->type() == ImageItemType) {
            ImageItem* item = static_cast<ImageItem*>(child);
            ImageParams p = item->GetParams();
            if (p.sizeUnit == SizeUnitPercent) {
                ResolveImageSize(p);
                item->SetParams(p);
            }
            SnapToPercent(item);
        } else {
            TextItem* item = static_cast<TextItem*>(child);
            if (item->GetParams().fontUnit == FontUnitPercent)
                item->setFont(DisplayFont(item->GetParams()));
            SnapToPercent(item);
        }
    }
}

QList<QGraphicsItem*> EditScene::Watermarks() const
{
    QList<QGraphicsItem*> watermarks;
    for (QGraphicsItem* child : pBgItem->childItems()) {
        if (child->type() == TextItemType || child->type() == ImageItemType)
            watermarks << child;
    }
    return watermarks;
}

void EditScene::Connect(QObject* item)
{
    connect(item, SIGNAL(selectedChanged(QGraphicsItem*)), this, SLOT(selectedChangedLocal(QGraphicsItem*)));
    connect(item, SIGNAL(selectedMoved(QGraphicsItem*)), this, SLOT(selectedMovedLocal(QGraphicsItem*)));
}

void EditScene::selectedChangedLocal(QGraphicsItem* pItem)
{
    emit selectedChanged(pItem);
}

void EditScene::selectedMovedLocal(QGraphicsItem* pItem)
{
    emit selectedMoved(pItem);
}

QFont EditScene::DisplayFont(const TextParams& p) const
{
    QFont font = p.font;
    if (p.fontUnit == FontUnitPercent && iBgHeight > 0) {
        const int pixels = PercentOf(iBgHeight, p.fontSize);
        if (pixels > 0)
            font.setPixelSize(pixels);
    }
    return font;
}

// Sizes as the conversion computes them for this background.
void EditScene::ResolveImageSize(ImageParams& p) const
{
    if (p.keepAspectRatio && (p.sizeUnit == SizeUnitPixels || p.sizeUnit == SizeUnitPercent)) {
        if (p.sizeUnit == SizeUnitPercent)
            p.width = PercentOf(iBgWidth, p.widthValue);
        p.height = RoundHalfUp(p.width * p.aspectRatio);
        p.heightValue = p.sizeUnit == SizeUnitPercent ? ToPercent(p.height, iBgHeight) : p.height;
    } else if (!p.keepAspectRatio && p.sizeUnit == SizeUnitPercent) {
        p.width = PercentOf(iBgWidth, p.widthValue);
        p.height = PercentOf(iBgHeight, p.heightValue);
    }
    p.width = qMax(1, p.width);
    p.height = qMax(1, p.height);
}

// Puts an item where its position values say; pixel values that had to be
// pulled in to keep it on the background follow where it went.
void EditScene::PlaceByUnit(QGraphicsItem* item, int unit, int xValue, int yValue)
{
    if (unit == SizeUnitPercent)
        item->setPos(PercentOf(iBgWidth, xValue), PercentOf(iBgHeight, yValue));
    else
        item->setPos(xValue, yValue);
}

void EditScene::SnapToPercent(QGraphicsItem* item)
{
    if (item->type() == ImageItemType) {
        const ImageParams& p = static_cast<ImageItem*>(item)->GetParams();
        if (p.positionUnit == SizeUnitPercent)
            PlaceByUnit(item, p.positionUnit, p.xValue, p.yValue);
    } else if (item->type() == TextItemType) {
        const TextParams& p = static_cast<TextItem*>(item)->GetParams();
        if (p.positionUnit == SizeUnitPercent)
            PlaceByUnit(item, p.positionUnit, p.xValue, p.yValue);
    }
}

void EditScene::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (iMode == ModePlaceText && iBgWidth > 0 && iBgHeight > 0) {
        TextItem* item = new TextItem(pContextMenu, pBgItem);
        item->setFont(DisplayFont(currentText));
        item->StartEditing();
        item->setZValue(1000.0);
        item->setDefaultTextColor(currentText.color);
        item->setOpacity(currentText.opacity / 100.0);
        item->setPos(event->scenePos());
        currentText.x = RoundHalfUp(item->pos().x());
        currentText.y = RoundHalfUp(item->pos().y());
        if (currentText.positionUnit == SizeUnitPercent) {
            currentText.xValue = ToPercent(currentText.x, iBgWidth);
            currentText.yValue = ToPercent(currentText.y, iBgHeight);
        } else {
            currentText.xValue = currentText.x;
            currentText.yValue = currentText.y;
        }
        item->GetParams() = currentText;
        Connect(item);
        clearSelection();
        item->setSelected(true);
        item->setFocus(Qt::MouseFocusReason);
        emit textAdded(item);
    }
    QGraphicsScene::mousePressEvent(event);
}

void EditScene::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    if (iMode == ModeEdit)
        QGraphicsScene::mouseMoveEvent(event);
}

void EditScene::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    QGraphicsScene::mouseReleaseEvent(event);
    // A watermark placed in percent shows where the whole percents put it,
    // which is where the conversion draws it.
    if (event->button() == Qt::LeftButton) {
        for (QGraphicsItem* item : selectedItems())
            SnapToPercent(item);
    }
}

void EditScene::AddImage(const QImage& image)
{
    if (image.isNull() || iBgWidth <= 0 || iBgHeight <= 0)
        return;
    ImageItem* item = new ImageItem(pContextMenu, image, pBgItem);
    const QSize shown = image.size().scaled(iBgWidth / 2, iBgHeight / 2, Qt::KeepAspectRatio);
    const int width = qMax(1, shown.width());
    const int height = qMax(1, shown.height());
    currentImage.width = width;
    currentImage.height = height;
    currentImage.aspectRatio = double(height) / width;
    if (currentImage.sizeUnit == SizeUnitPercent) {
        currentImage.widthValue = ToPercent(width, iBgWidth);
        currentImage.heightValue = ToPercent(height, iBgHeight);
    } else {
        currentImage.widthValue = width;
        currentImage.heightValue = height;
    }
    item->SetParams(currentImage);
    item->setOpacity(currentImage.opacity / 100.0);
    item->setPos((iBgWidth - width) / 2, (iBgHeight - height) / 2);
    currentImage.x = RoundHalfUp(item->pos().x());
    currentImage.y = RoundHalfUp(item->pos().y());
    if (currentImage.positionUnit == SizeUnitPercent) {
        currentImage.xValue = ToPercent(currentImage.x, iBgWidth);
        currentImage.yValue = ToPercent(currentImage.y, iBgHeight);
    } else {
        currentImage.xValue = currentImage.x;
        currentImage.yValue = currentImage.y;
    }
    item->GetParams() = currentImage;
    Connect(item);
    clearSelection();
    item->setSelected(true);
    iMode = ModeEdit;
}

int EditScene::LoadItems(const EditSettings& settings)
{
    RemoveItems();
    const double pointsPerPixel = TextPointsPerPixel();
    int empty = 0;
    for (const QSharedPointer<ItemEdited>& entry : settings.items) {
        if (!entry)
            continue;
        if (entry->type() == ImageItemType) {
            const ImageEdited* stored = dynamic_cast<const ImageEdited*>(entry.data());
            if (!stored)
                continue;
            if (stored->image.isNull()) {
                ++empty;
                continue;
            }
            ImageItem* item = new ImageItem(pContextMenu, stored->image, pBgItem);
            ImageParams p = stored->params;
            ResolveImageSize(p);
            item->SetParams(p);
            item->setOpacity(p.opacity / 100.0);
            item->setZValue(stored->zValue);
            item->GetParams() = p;
            PlaceByUnit(item, p.positionUnit, p.xValue, p.yValue);
            ImageParams& placed = item->GetParams();
            if (placed.positionUnit != SizeUnitPercent) {
                placed.xValue = placed.x;
                placed.yValue = placed.y;
            }
            Connect(item);
        } else if (entry->type() == TextItemType) {
            const TextEdited* stored = dynamic_cast<const TextEdited*>(entry.data());
            if (!stored)
                continue;
            TextItem* item = new TextItem(pContextMenu, pBgItem);
            if (stored->document)
                item->setDocument(stored->document->clone(item));
            item->setZValue(stored->zValue);
            TextParams p = stored->params;
            if (p.fontUnit == FontUnitPercent)
                p.font.setPointSize(TextPointSize(p.fontUnit, p.fontSize, iBgHeight, pointsPerPixel));
            item->setFont(DisplayFont(p));
            item->setDefaultTextColor(p.color);
            item->setOpacity(p.opacity / 100.0);
            item->GetParams() = p;
            PlaceByUnit(item, p.positionUnit, p.xValue, p.yValue);
            TextParams& placed = item->GetParams();
            if (placed.positionUnit != SizeUnitPercent) {
                placed.xValue = placed.x;
                placed.yValue = placed.y;
            }
            Connect(item);
        }
    }
    return empty;
}

void EditScene::GetItemsEdited(EditSettings& settings) const
{
    for (QGraphicsItem* child : Watermarks()) {
        if (child->type() == ImageItemType) {
            const ImageItem* item = static_cast<const ImageItem*>(child);
            QSharedPointer<ImageEdited> stored(new ImageEdited);
            stored->params = item->GetParams();
            stored->image = item->GetImage();
            stored->zValue = item->zValue();
            settings.items << stored;
        } else {
            const TextItem* item = static_cast<const TextItem*>(child);
            // A text placed and left empty draws nothing.
            if (item->document()->isEmpty())
                continue;
            QSharedPointer<TextEdited> stored(new TextEdited);
            stored->params = item->GetParams();
            stored->document.reset(item->document()->clone(nullptr));
            stored->zValue = item->zValue();
            settings.items << stored;
        }
    }
}

bool EditScene::HasSelectedOfType(int type) const
{
    for (const QGraphicsItem* item : selectedItems()) {
        if (item->type() == type)
            return true;
    }
    return false;
}

TextItem* EditScene::SelectedText() const
{
    const QList<QGraphicsItem*> selected = selectedItems();
    if (!HasSelectedOfType(TextItemType) || selected.first()->type() != TextItemType)
        return nullptr;
    return static_cast<TextItem*>(selected.first());
}

ImageItem* EditScene::SelectedImage() const
{
    const QList<QGraphicsItem*> selected = selectedItems();
    if (!HasSelectedOfType(ImageItemType) || selected.first()->type() != ImageItemType)
        return nullptr;
    return static_cast<ImageItem*>(selected.first());
}

void EditScene::SetSelectedImageKeepAspectRatio(const ImageParams& p)
{
    if (ImageItem* item = SelectedImage())
        item->GetParams().keepAspectRatio = p.keepAspectRatio;
}

void EditScene::SetSelectedImageOpacity(const ImageParams& p)
{
    if (ImageItem* item = SelectedImage())
        StoreOpacity(item, p);
}

void EditScene::SetSelectedImagePos(const ImageParams& p)
{
    if (ImageItem* item = SelectedImage())
        StorePos(item, p);
}

void EditScene::SetSelectedImagePosUnit(const ImageParams& p)
{
    if (ImageItem* item = SelectedImage()) {
        StorePosUnit(item, p);
        SnapToPercent(item);
    }
}

void EditScene::SetSelectedImageRFR(const ImageParams& p)
{
    if (ImageItem* item = SelectedImage()) {
        ImageParams resolved = p;
        resolved.aspectRatio = item->GetParams().aspectRatio;
        ResolveImageSize(resolved);
        item->SetParams(resolved);
    }
}

void EditScene::SetSelectedImageResizeUnit(const ImageParams& p)
{
    if (ImageItem* item = SelectedImage()) {
        ImageParams resolved = item->GetParams();
        resolved.sizeUnit = p.sizeUnit;
        resolved.widthValue = p.widthValue;
        resolved.heightValue = p.heightValue;
        if (resolved.sizeUnit == SizeUnitPercent)
            ResolveImageSize(resolved);
        item->SetParams(resolved);
    }
}

void EditScene::SetSelectedTextColor(const TextParams& p)
{
    if (TextItem* item = SelectedText()) {
        item->GetParams().color = p.color;
        item->setDefaultTextColor(p.color);
    }
}

void EditScene::SetSelectedTextFont(const TextParams& p)
{
    if (TextItem* item = SelectedText()) {
        TextParams& stored = item->GetParams();
        stored.font = p.font;
        stored.fontUnit = p.fontUnit;
        stored.fontSize = p.fontSize;
        // A larger text must not grow the scene beyond the page.
        const QRectF rect = sceneRect();
        item->setFont(DisplayFont(stored));
        setSceneRect(rect);
        item->KeepOnPage();
    }
}

void EditScene::SetSelectedTextFontUnit(const TextParams& p)
{
    if (TextItem* item = SelectedText()) {
        TextParams& stored = item->GetParams();
        stored.font = p.font;
        stored.fontUnit = p.fontUnit;
        stored.fontSize = p.fontSize;
        const QRectF rect = sceneRect();
        item->setFont(DisplayFont(stored));
        setSceneRect(rect);
        item->KeepOnPage();
    }
}

void EditScene::SetSelectedTextOpacity(const TextParams& p)
{
    if (TextItem* item = SelectedText())
        StoreOpacity(item, p);
}

void EditScene::SetSelectedTextPos(const TextParams& p)
{
    if (TextItem* item = SelectedText())
        StorePos(item, p);
}

void EditScene::SetSelectedTextPosUnit(const TextParams& p)
{
    if (TextItem* item = SelectedText()) {
        StorePosUnit(item, p);
        SnapToPercent(item);
    }
}

// Reorders the first selected watermark against those it overlaps only.
void EditScene::Restack(bool toFront)
{
    const QList<QGraphicsItem*> selected = selectedItems();
    if (selected.isEmpty())
        return;
    QGraphicsItem* item = selected.first();
    if (!item->parentItem())
        return;
    qreal z = 0.0;
    for (QGraphicsItem* child : item->parentItem()->childItems()) {
        if (child->type() != TextItemType && child->type() != ImageItemType)
            continue;
        if (child != item && !item->collidesWithItem(child, Qt::IntersectsItemShape))
            continue;
        if (toFront && child->zValue() >= z)
            z = child->zValue() + 0.1;
        else if (!toFront && child->zValue() <= z)
            z = child->zValue() - 0.1;
    }
    item->setZValue(z);
}

void EditScene::BringToFront()
{
    Restack(true);
}

void EditScene::SendToBack()
{
    Restack(false);
}
