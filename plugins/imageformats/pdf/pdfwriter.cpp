#include "pdfwriter.h"

#include "graphics/plugincontract.h"

#include <QDebug>
#include <QFileDevice>
#include <QImage>
#include <QIODevice>
#include <QMarginsF>
#include <QObject>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>

namespace {

// Painting happens in points: one device unit is 1/72 inch.
const int iPointsPerInch = 72;

// The PDF engine keeps a pointer to its output device until the document is
// finished. It writes here instead, and this passes the bytes on to the real
// device for as long as that exists; once it has been destroyed the rest of
// the document is dropped, so ending the engine late never touches freed memory.
class ForwardDevice : public QIODevice
{
public:
    explicit ForwardDevice(QIODevice* target)
        : pTarget(target)
        , bFailed(false)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    bool Failed() const { return bFailed; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override
    {
        if (!pTarget)
            return length;
        const qint64 written = pTarget->write(data, length);
        if (written != length)
            bFailed = true;
        return written;
    }

private:
    QPointer<QIODevice> pTarget;
    bool bFailed;
};

} // namespace

PdfPageSetup PdfPageSetup::FromQuality(int quality)
{
    PdfPageSetup setup;
    if (!PluginContract::HasPdfLayout(quality))   // -1: QImageWriter's "no quality set"
        return setup;

    const int size = PluginContract::PdfPageSize(quality);
    const int orientation = PluginContract::PdfOrientation(quality);
    const int alignment = PluginContract::PdfAlignment(quality);

    if (size <= QPageSize::LastPageSize && size != QPageSize::Custom)
        setup.iPageSize = static_cast<QPageSize::PageSizeId>(size);
    else
        qWarning() << "PdfPageSetup::FromQuality   Invalid page size:" << size;
    if (orientation == 1)
        setup.iOrientation = QPageLayout::Landscape;
    else if (orientation != 0)
        qWarning() << "PdfPageSetup::FromQuality   Invalid orientation:" << orientation;
    if (alignment == 1)
        setup.bTopLeft = true;
    else if (alignment != 0)
        qWarning() << "PdfPageSetup::FromQuality   Invalid alignment:" << alignment;
    return setup;
}

QPageLayout PdfPageSetup::Layout() const
{
    return QPageLayout(QPageSize(iPageSize), iOrientation, QMarginsF(0, 0, 0, 0), QPageLayout::Point);
}

PdfWriter::PdfWriter(QIODevice* device)
    : pDevice(device)
    , pCloseWatcher(new QObject)
    , bFinished(false)
{
    // The owner of the device may close it while the handler still lives
    // (QImageWriter::setDevice with a device that is closed before the writer
    // goes): finish while the device is closing, when it can still be written.
    if (device) {
        QObject::connect(device, &QIODevice::aboutToClose, pCloseWatcher.get(),
                         [this]() { Finish(); }, Qt::DirectConnection);
    }
}

PdfWriter::~PdfWriter()
{
    Finish();
}

QRectF PdfWriter::Placement(const QSizeF& imageSize, const QSizeF& pageSize, bool topLeft)
{
    QSizeF size = imageSize;
    if (size.width() > pageSize.width() || size.height() > pageSize.height()) {
        const qreal scale = std::min(pageSize.width() / size.width(), pageSize.height() / size.height());
        size = QSizeF(size.width() * scale, size.height() * scale);
        // Keep the fitting side exactly on the page edge.
        size = size.boundedTo(pageSize);
    }
    if (topLeft)
        return QRectF(QPointF(0, 0), size);
    return QRectF(QPointF((pageSize.width() - size.width()) / 2, (pageSize.height() - size.height()) / 2), size);
}

bool PdfWriter::Write(const QImage& image, const PdfPageSetup& setup)
{
    if (bFinished || !pDevice || !pDevice->isWritable()) {
        qWarning() << "PdfWriter::Write   device not writable";
        return false;
    }
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        qWarning() << "PdfWriter::Write   image invalid";
        return false;
    }

    const QPageLayout layout = setup.Layout();
    if (!pPdfWriter) {
        pForward.reset(new ForwardDevice(pDevice.data()));
        pPdfWriter.reset(new QPdfWriter(pForward.get()));
        pPdfWriter->setResolution(iPointsPerInch);
        if (!pPdfWriter->setPageLayout(layout)) {
            qWarning() << "PdfWriter::Write   page layout refused";
            return false;
        }
        pPainter.reset(new QPainter);
        if (!pPainter->begin(pPdfWriter.get())) {
            qWarning() << "PdfWriter::Write   cannot start the document";
            pPainter.reset();
            bFinished = true;
            return false;
        }
    } else {
        if (!pPdfWriter->setPageLayout(layout) || !pPdfWriter->newPage()) {
            qWarning() << "PdfWriter::Write   cannot add a page";
            return false;
        }
    }

    // One-bit images with a black and white colour table would be embedded as
    // a stencil painted in the pen colour; other formats are turned into
    // 32-bit ones by the PDF engine anyway. Hand it 32-bit pixels directly.
    QImage page = image;
    if (page.format() != QImage::Format_RGB32 && page.format() != QImage::Format_ARGB32)
        page = page.convertToFormat(page.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);

    // Physical size from the image's own resolution; 72 DPI when it has none.
    const qreal dpmX = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() : 72 / 0.0254;
    const qreal dpmY = image.dotsPerMeterY() > 0 ? image.dotsPerMeterY() : 72 / 0.0254;
    const QSizeF physical(image.width() / (dpmX * 0.0254) * iPointsPerInch,
                          image.height() / (dpmY * 0.0254) * iPointsPerInch);
    const QSizeF pageSize = layout.fullRect(QPageLayout::Point).size();
    const QRectF target = Placement(physical, pageSize, setup.bTopLeft);

    // Embedded with Flate, never re-compressed as JPEG.
    pPainter->setRenderHint(QPainter::LosslessImageRendering, true);
    pPainter->drawImage(target, page);
    if (static_cast<ForwardDevice*>(pForward.get())->Failed()) {
        qWarning() << "PdfWriter::Write   writing to the device failed";
        return false;
    }
    return true;
}

void PdfWriter::Finish()
{
    if (bFinished)
        return;
    bFinished = true;
    pCloseWatcher.reset();   // no second call from a later close
    if (pPainter && pPainter->isActive())
        pPainter->end();
    pPainter.reset();
    pPdfWriter.reset();
    pForward.reset();
    // A file buffers small writes and drops that buffer while it closes: push
    // the trailer out first.
    if (QFileDevice* file = qobject_cast<QFileDevice*>(pDevice.data()))
        file->flush();
}
