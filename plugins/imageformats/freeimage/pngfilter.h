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

// The file's layout for a picture in Grayscale8, Grayscale16, RGB32,
// ARGB32, RGBX64 or RGBA64 (grey or colour, with alpha for the last two
// alpha formats, 8 or 16 bits).
struct Layout
{
    QImage::Format format = QImage::Format_Invalid;
    int colourType = 0;      // as in the IHDR chunk
    int depth = 8;
    int pixelBytes = 0;
    size_t rowBytes = 0;     // without the filter type byte
};

// False for any other format.
bool LayoutOf(const QImage& image, Layout& layout);

// Row y of the picture in the file's samples (big-endian 16-bit samples,
// the filler of RGB32 and RGBX64 left out).
void PackRow(const QImage& image, const Layout& layout, int y, uint8_t* out);

// The filtered row: out[0] the filter type, then rowBytes bytes. prior is
// the row above, packed; all zero for the first row.
void FilterRow(Filter filter, const uint8_t* row, const uint8_t* prior, const Layout& layout, uint8_t* out);

} // namespace PngFilter

#endif
