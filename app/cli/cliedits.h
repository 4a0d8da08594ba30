// The command line's edit options read into the edit record the editor
// builds (EditSettings with its TextEdited and ImageEdited items), so the
// conversion applies them exactly as it applies the editor's.
#ifndef KORVANE_CLIEDITS_H
#define KORVANE_CLIEDITS_H

#include "editsettings.h"

#include <QString>

// Each reader answers an empty string on success, else why the value is
// refused.

// Page resize: W (pixels, the height follows), WxH or WxH! (exactly W by H
// pixels), P% (both sides), P%xQ% or PxQ% (each side). Enables the resize.
QString ReadResize(const QString& value, RFRParams& rfr);

// none, horizontal or vertical (the editor's flip names).
QString ReadFlip(const QString& value, int& flip);

// Whole degrees, clockwise; -360 to 360, kept as 0 to 359.
QString ReadAngle(const QString& value, int& angle);

// 0 to 100.
QString ReadOpacity(const QString& value, int& opacity);

// X,Y in pixels, or X%,Y% in percent of the page.
QString ReadPosition(const QString& value, int& unit, int& x, int& y, int& xValue, int& yValue);

// A text watermark being put together from its options.
struct CliText
{
    QString text;
    TextParams params;
};

// N or Npt (points), Npx (pixels), N% (percent of the page height).
QString ReadTextSize(const QString& value, TextParams& params);
// An installed font family.
QString ReadTextFont(const QString& value, TextParams& params);
// A comma-separated list of bold, italic, underline (or normal).
QString ReadTextStyle(const QString& value, TextParams& params);
// A colour name (red, #rrggbb, #aarrggbb).
QString ReadTextColor(const QString& value, TextParams& params);

// An image watermark being put together from its options. The picture is
// read when the item is made.
struct CliImage
{
    QString file;
    QString size;           // as given, resolved against the picture
    ImageParams params;
};

// The defaults of a watermark placed from the command line: the top left
// corner of the page; a text in the default font at its size.
CliText NewCliText(const QString& text);
CliImage NewCliImage(const QString& file);

// Checks an image watermark's size option without the picture: W, W% (the
// height follows), WxH or W%xH% (each side).
QString CheckImageSize(const QString& value);

// The stored items, stacked at z. The picture of an image watermark is read
// here (upright, first page); a picture that cannot be read is an error.
QSharedPointer<ItemEdited> MakeTextItem(const CliText& text, double z);
QSharedPointer<ItemEdited> MakeImageItem(const CliImage& image, double z, QString& error);

#endif
