// PDF documents made at run time for the PDF plugin's tests.
#ifndef KORVANE_TEST_PDFFIXTURES_H
#define KORVANE_TEST_PDFFIXTURES_H

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QPair>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QImageIOPlugin;

namespace PdfFixtures {

// One page drawn with QPdfWriter: its size in points and a filled rectangle
// (in points, from the top left).
struct Page
{
    QSizeF sizePoints;
    QRectF box;
    QColor colour;
};

// A document of the given pages written with QPdfWriter.
QByteArray WrittenPdf(const QList<Page>& pages);

// Entries of a document information dictionary: name and the PDF object text
// of its value, e.g. {"Title", "(Report)"}.
using Info = QList<QPair<QByteArray, QByteArray>>;

// A one-page document written by hand: a page of pageSize points whose
// content fills the square (10, 10)-(60, 60) from the bottom left in red, and
// the information dictionary when it has entries. With a user or owner
// password it is encrypted with the standard 40-bit RC4 security handler;
// Info values must then be literal strings "(...)" without escapes.
QByteArray HandPdf(const Info& info = Info(), QSizeF pageSize = QSizeF(200, 100),
                   const QByteArray& userPassword = QByteArray(),
                   const QByteArray& ownerPassword = QByteArray());

// A document whose page tree holds no page.
QByteArray PagelessPdf();

// One page that draws a form that draws the next form twice, and so on
// depth times: rendering it takes longer than anyone waits (2^depth draws).
QByteArray FormsDrawingFormsPdf(int depth);

// Writes bytes to dir/name and answers the path.
QString Save(const QString& dir, const QString& name, const QByteArray& bytes);

// The bounding box of the pixels that differ from white by more than a little.
QRect InkBox(const QImage& image);

// The program's PDF plugin object, loaded from the build.
QImageIOPlugin* Plugin();

// The packed page layout a PDF writer expects as its quality: the same
// arithmetic as the conversion engine's page writer.
int PackedLayout(int pageSize, int orientation, int alignment);

// A picture whose left half is red and right half blue, at dpi.
QImage Picture(int width, int height, int dpi);

// Checks (with QTest) that page shows Picture() inside where (pixels), on white.
void CheckPage(const QImage& page, const QRectF& where);

// True when the poppler command-line tools are on the PATH.
bool HaveTools();

// Checks (with QTest) a one-page PDF file the way the poppler tools see it:
// the page size in points, one losslessly embedded RGB image of imageSize
// pixels, and, rendered at 72 DPI, the picture at where (points).
void CheckWithTools(const QString& path, const QSize& imageSize, const QSize& page, const QRectF& where);

// Every page size, orientation and alignment the PDF dialog offers, with where
// a 200 x 100 picture at 144 DPI (100 x 50 points) lands on the page.
struct PageCase
{
    QByteArray name;
    int pageSize;
    int orientation;
    int alignment;
    QSize page;      // points
    QRectF where;    // points
};
QList<PageCase> PageCases();

} // namespace PdfFixtures

#endif
