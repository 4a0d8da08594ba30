// Writes images as the pages of one PDF document with QPdfWriter.
#ifndef KORVANE_PDF_WRITER_H
#define KORVANE_PDF_WRITER_H

#include <QPageLayout>
#include <QPageSize>
#include <QPointer>
#include <QRectF>

#include <memory>

class QImage;
class QIODevice;
class QObject;
class QPainter;
class QPdfWriter;

// The page a writer's quality value asks for. The value packs, from the top:
// alignment in bits 28-31 (0 centre, 1 top left), orientation in bits 24-27
// (0 portrait, 1 landscape), the page size in bits 16-23 (a QPageSize id:
// 0 A4, 2 Letter, 3 Legal) and 1 in bit 0. A value without bit 0, -1 (no
// quality set) and unknown sizes give A4; unknown orientations give portrait
// and unknown alignments centre.
struct PdfPageSetup
{
    QPageSize::PageSizeId iPageSize = QPageSize::A4;
    QPageLayout::Orientation iOrientation = QPageLayout::Portrait;
    bool bTopLeft = false;

    static PdfPageSetup FromQuality(int quality);
    QPageLayout Layout() const;
};

class PdfWriter
{
public:
    explicit PdfWriter(QIODevice* device);
    ~PdfWriter();   // finishes the document when the device is still there

    // Adds image as a new page laid out as setup asks.
    bool Write(const QImage& image, const PdfPageSetup& setup);

    // Writes the document's trailer. Called when the handler goes away or the
    // device is about to close, whichever comes first; later calls do nothing.
    void Finish();

    // Where an image of physical size imageSize (points) goes on a page of
    // pageSize (points): at its own size, scaled down with its aspect kept
    // when it does not fit, centred or in the top left corner.
    static QRectF Placement(const QSizeF& imageSize, const QSizeF& pageSize, bool topLeft);

private:
    QPointer<QIODevice> pDevice;                 // cleared if the device is destroyed under us
    std::unique_ptr<QObject> pCloseWatcher;      // context of the aboutToClose connection
    std::unique_ptr<QIODevice> pForward;         // what the PDF engine writes to; passes bytes on to pDevice
    std::unique_ptr<QPdfWriter> pPdfWriter;
    std::unique_ptr<QPainter> pPainter;
    bool bFinished;
};

#endif
