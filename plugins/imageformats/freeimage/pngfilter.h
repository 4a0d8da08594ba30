// PNG rows: a picture's pixels packed into the file's sample layout, and the
// five row filters that turn them into what is deflated.
#ifndef KORVANE_PNG_FILTER_H
#define KORVANE_PNG_FILTER_H

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace PngFilter {

enum Filter { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };
const int FilterCount = 5;

// The file's layout for a picture: grey or colour, with alpha or not, 8 or
// 16 bits. Grayscale8, Grayscale16, RGB32, ARGB32, RGBX64 and RGBA64 are
// packed as they are; any other format is converted a few rows at a time
// into the one it is written from (RGBA64 for RGBA64_Premultiplied, else
// ARGB32 with an alpha channel and RGB32 without).
struct Layout
{
    QImage::Format format = QImage::Format_Invalid;   // packed from
    bool converted = false;  // the picture's rows are converted into format first
    int colourType = 0;      // as in the IHDR chunk
    int depth = 8;
    int pixelBytes = 0;
    size_t rowBytes = 0;     // without the filter type byte
};

// False for a null picture.
bool LayoutOf(const QImage& image, Layout& layout);

// A row of layout.format in the file's samples (big-endian 16-bit samples,
// the filler of RGB32 and RGBX64 left out).
void PackRow(const uchar* line, int width, const Layout& layout, uint8_t* out);

// The filtered row: out[0] the filter type, then rowBytes bytes. prior is
// the row above, packed; all zero for the first row.
void FilterRow(Filter filter, const uint8_t* row, const uint8_t* prior, const Layout& layout, uint8_t* out);

} // namespace PngFilter

#endif
