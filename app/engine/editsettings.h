// Edits applied to every converted page: a resize, flip and rotation of the
// whole page, and a stack of text and image watermarks.
#ifndef KORVANE_EDITSETTINGS_H
#define KORVANE_EDITSETTINGS_H

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QSharedPointer>
#include <QStringList>

class QTextDocument;

// Units and modes are stored as plain ints; the display-name lists below are in
// value order, so a combo box index and the stored value are the same number.
enum SizeUnit {
    SizeUnitPixels = 0,
    SizeUnitPercent = 1         // of the page width (x, widths) or height (y, heights)
};

enum FontUnit {
    FontUnitPoints = 0,
    FontUnitPixels = 1,
    FontUnitPercent = 2         // of the page height
};

enum FlipMode {
    FlipNone = 0,
    FlipHorizontal = 1,         // mirror left-right
    FlipVertical = 2            // mirror top-bottom
};

QStringList SizeUnitNames();    // "pixels", "percentage of source size"
QStringList FontUnitNames();    // "points", "pixels", "percentage of source height"
QStringList FlipModeNames();    // "None", "Horizontal", "Vertical"

// Points of a font per pixel of its size (em) as the text is drawn, on the
// screen and by the conversion alike.
double TextPointsPerPixel();

// The point size a text watermark's stored font carries for a size entered
// in fontUnit: points as they are, pixels through pointsPerPixel, percent of
// pageHeight through both (the conversion then sets that percent as a pixel
// size of each page). At least 1.
int TextPointSize(int fontUnit, int fontSize, int pageHeight, double pointsPerPixel);

// Item type numbers shared by the stored watermarks and the edit scene's items
// (the graphics view's user type base 65536 plus 2 and 3).
enum ItemEditedType {
    TextItemType = 65536 + 2,
    ImageItemType = 65536 + 3
};

// Resize, flip and rotation of the whole page.
struct RFRParams
{
    bool resizeEnabled = false;
    int resizeUnit = SizeUnitPixels;
    bool keepAspectRatio = true;    // height follows width (pixel unit only)
    int width = 1000;               // pixels
    int height = 1000;
    int widthValue = 1000;          // as entered: pixels or percent of the page
    int heightValue = 1000;
    int flip = FlipNone;
    int angle = 0;                  // whole degrees, clockwise on screen
};

// One text watermark.
struct TextParams
{
    TextParams();

    QFont font;                     // family, weight, italic, underline, point size
    int fontUnit = FontUnitPoints;
    int fontSize;                   // as entered, in fontUnit
    QColor color = Qt::black;
    int opacity = 100;              // percent
    int positionUnit = SizeUnitPixels;
    int x = 250;                    // top-left corner of the text block, pixels
    int y = 250;
    int xValue = 250;               // as entered: pixels or percent
    int yValue = 250;
};

// One image watermark.
struct ImageParams
{
    int sizeUnit = SizeUnitPixels;
    bool keepAspectRatio = true;    // height follows width through aspectRatio
    int width = 500;                // displayed size, pixels
    int height = 500;
    int widthValue = 500;           // as entered: pixels or percent
    int heightValue = 500;
    int flip = FlipNone;
    int angle = 0;                  // degrees
    int opacity = 100;              // percent
    int positionUnit = SizeUnitPixels;
    int x = 250;                    // top-left corner, pixels
    int y = 250;
    int xValue = 250;               // as entered
    int yValue = 250;
    double aspectRatio = 1.0;       // height / width of the picture as first placed
};

// A stored watermark. Stored items are shared between copies of the settings
// and never changed once stored: whoever needs a different one makes a new one.
class ItemEdited
{
public:
    virtual ~ItemEdited();
    virtual int type() const = 0;   // TextItemType or ImageItemType; others are skipped
};

class TextEdited : public ItemEdited
{
public:
    int type() const override;

    TextParams params;
    // A private clone of the scene item's document, owned here. Readers on
    // worker threads clone it again under CloneDocument()'s lock and draw the
    // clone; nobody lays out or edits this one.
    QSharedPointer<QTextDocument> document;
    double zValue = 0.0;

    // A new document (without parent) with the stored one's content, or null.
    // Safe to call from several threads at once.
    QSharedPointer<QTextDocument> CloneDocument() const;
};

class ImageEdited : public ItemEdited
{
public:
    int type() const override;

    ImageParams params;
    // The watermark picture at its full size. Kept as a QImage rather than a
    // pixmap so that worker threads may scale and draw it.
    QImage image;
    double zValue = 0.0;
};

class EditSettings
{
public:
    EditSettings() = default;

    // Back to the construction defaults; the stored items are released.
    void ResetEdits();

    bool edited = false;            // apply the edits to each page
    RFRParams rfr;
    QList<QSharedPointer<ItemEdited>> items;   // bottom of the stack first
};

#endif
