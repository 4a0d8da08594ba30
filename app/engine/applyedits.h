// Applying the edit settings to one decoded page.
#ifndef KORVANE_APPLYEDITS_H
#define KORVANE_APPLYEDITS_H

#include "editsettings.h"

class ConvertCancelFlag;
class QImage;
class QTransform;

// Nearest integer with halves going up, as floor(value + 0.5). Values beyond
// the int range are clamped and NaN gives 0, so corrupt sizes cannot overflow.
int RoundHalfUp(double value);

// The matrix that flips (FlipHorizontal, FlipVertical) and then turns by
// angle degrees; the editor shows pictures turned by the same matrix.
QTransform FlipRotate(int flip, int angle);

// value percent of size.
double Percent(int value, int size);

// Resizes, flips and rotates the page, then paints the watermarks of
// settings.items on it, bottom of the stack first. Sizes and positions in
// percent refer to the page as it is after the transform.
//
// Answers 0 when every edit was applied and 2 when the cancel flag was found
// set at a check point (after the page transform, after each watermark); the
// page then holds whatever was done so far. A null flag never cancels.
// Paletted, monochrome and alpha-only pages are converted to 32 bits before a
// watermark is painted, so no mark is lost to a format the painter cannot draw.
int ApplyEdits(const ConvertCancelFlag* cancel, QImage& page, const EditSettings& settings);

#endif
