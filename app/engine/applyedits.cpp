#include "applyedits.h"

#include "convertcancel.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QTextDocument>
#include <QTransform>

#include <algorithm>
#include <climits>
#include <cmath>

int RoundHalfUp(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::floor(value + 0.5);
    if (rounded >= double(INT_MAX))
        return INT_MAX;
    if (rounded <= double(INT_MIN))
        return INT_MIN;
    return int(rounded);
}

// Mirror first in the matrix, then rotate: a point is turned first and
// mirrored second, as the toolkit composes scale() and rotate().
QTransform FlipRotate(int flip, int angle)
{
    QTransform matrix;
    if (flip == FlipHorizontal)
        matrix.scale(-1, 1);
    else if (flip == FlipVertical)
        matrix.scale(1, -1);
    if (angle != 0)
        matrix.rotate(angle);
    return matrix;
}

double Percent(int value, int size)
{
    return double(value) * size / 100.0;
}

namespace {

// The painter refuses paletted pages and draws on monochrome and alpha-only
// ones in black and white or not at all.
void MakePaintable(QImage& page)
{
    switch (page.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Alpha8:
        page = page.convertToFormat(page.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                           : QImage::Format_RGB32);
        break;
    default:
        break;
    }
}

bool IsDrawnItem(const QSharedPointer<ItemEdited>& item)
{
    return item && (item->type() == TextItemType || item->type() == ImageItemType);
}

void DrawText(QPainter& painter, const TextEdited& item, int pageWidth, int pageHeight)
{
    const QSharedPointer<QTextDocument> document = item.CloneDocument();
    if (!document)
        return;
    const TextParams& params = item.params;
    document->setPageSize(QSizeF(pageWidth, pageHeight));
    if (params.fontUnit == FontUnitPercent) {
        const int pixels = RoundHalfUp(Percent(params.fontSize, pageHeight));
        if (pixels > 0) {
            QFont font = document->defaultFont();
            font.setPixelSize(pixels);
            document->setDefaultFont(font);
        }
    }

    painter.save();
    QAbstractTextDocumentLayout::PaintContext context;
    context.cursorPosition = -1;
    QPalette palette;
    palette.setBrush(QPalette::Text, QBrush(params.color));
    context.palette = palette;
    painter.setOpacity(params.opacity / 100.0);
    // Text positions in percent stay fractional; image positions are rounded.
    QPointF position(params.x, params.y);
    if (params.positionUnit == SizeUnitPercent)
        position = QPointF(Percent(params.xValue, pageWidth), Percent(params.yValue, pageHeight));
    painter.translate(position);
    document->documentLayout()->draw(&painter, context);
    painter.restore();
}

void DrawImage(QPainter& painter, const ImageEdited& item, int pageWidth, int pageHeight)
{
    if (item.image.isNull())
        return;
    const ImageParams& params = item.params;
    int width = params.width;
    int height = params.height;
    if (params.keepAspectRatio) {
        if (params.sizeUnit == SizeUnitPixels) {
            height = RoundHalfUp(width * params.aspectRatio);
        } else if (params.sizeUnit == SizeUnitPercent) {
            width = RoundHalfUp(Percent(params.widthValue, pageWidth));
            height = RoundHalfUp(width * params.aspectRatio);
        }
    } else if (params.sizeUnit == SizeUnitPercent) {
        width = RoundHalfUp(Percent(params.widthValue, pageWidth));
        height = RoundHalfUp(Percent(params.heightValue, pageHeight));
    }
    if (width <= 0 || height <= 0)
        return;

    // Sized first, turned second: a rotated mark's box is larger than width by height.
    const QImage picture = item.image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                               .transformed(FlipRotate(params.flip, params.angle), Qt::FastTransformation);
    if (picture.isNull())
        return;

    painter.save();
    painter.setOpacity(params.opacity / 100.0);
    QPointF position(params.x, params.y);
    if (params.positionUnit == SizeUnitPercent)
        position = QPointF(RoundHalfUp(Percent(params.xValue, pageWidth)),
                           RoundHalfUp(Percent(params.yValue, pageHeight)));
    painter.drawImage(position, picture);
    painter.restore();
}

} // namespace

int ApplyEdits(const ConvertCancelFlag* cancel, QImage& page, const EditSettings& settings)
{
    const RFRParams& rfr = settings.rfr;
    const int sourceWidth = page.width();
    const int sourceHeight = page.height();

    // One combined matrix for the whole page; the resize is a plain scale before it.
    if (rfr.resizeEnabled) {
        int width = rfr.width;
        int height = rfr.height;
        if (rfr.resizeUnit == SizeUnitPercent) {
            width = RoundHalfUp(Percent(rfr.widthValue, sourceWidth));
            height = RoundHalfUp(Percent(rfr.heightValue, sourceHeight));
        } else if (rfr.keepAspectRatio && sourceWidth > 0) {
            height = RoundHalfUp(double(width) * sourceHeight / sourceWidth);
        }
        page = page.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    page = page.transformed(FlipRotate(rfr.flip, rfr.angle), Qt::FastTransformation);

    const int pageWidth = page.width();
    const int pageHeight = page.height();

    // A copy of the list: the stored items stay shared and untouched.
    const QList<QSharedPointer<ItemEdited>> items = settings.items;
    QPainter painter;
    if (!page.isNull() && std::any_of(items.cbegin(), items.cend(), IsDrawnItem)) {
        MakePaintable(page);
        painter.begin(&page);
    }
    if (IsCanceled(cancel))
        return 2;

    for (const QSharedPointer<ItemEdited>& item : items) {
        if (!IsDrawnItem(item))
            continue;
        if (item->type() == TextItemType) {
            const TextEdited* text = dynamic_cast<const TextEdited*>(item.data());
            if (text && painter.isActive())
                DrawText(painter, *text, pageWidth, pageHeight);
        } else {
            const ImageEdited* image = dynamic_cast<const ImageEdited*>(item.data());
            if (image && painter.isActive())
                DrawImage(painter, *image, pageWidth, pageHeight);
        }
        if (IsCanceled(cancel))
            return 2;
    }
    return 0;
}
