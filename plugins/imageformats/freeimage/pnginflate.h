// The PNG files met most (8-bit grey, RGB or RGBA, not interlaced, without a
// transparency chunk) decoded with libdeflate, which inflates the image data
// whole in a fraction of zlib's time, unfiltered straight into the picture.
#ifndef KORVANE_PNG_INFLATE_H
#define KORVANE_PNG_INFLATE_H

#include <QByteArray>
#include <QImage>

namespace PngInflate {

// Grayscale8, RGB32 or ARGB32 with the physical resolution. Null for a file
// of another kind, or whose image data is not whole and sound (a truncated
// or damaged stream, a wrong checksum): libpng decodes those its own way.
QImage Decode(const QByteArray& file, qint64 maxPixels);

} // namespace PngInflate

#endif
