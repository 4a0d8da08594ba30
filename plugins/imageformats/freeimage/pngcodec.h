// PNG straight through libpng, for the same reason as JpegCodec: pixels go
// into and out of the QImage's own buffer.
#ifndef KORVANE_PNG_CODEC_H
#define KORVANE_PNG_CODEC_H

#include "fimetadata.h"

#include <QByteArray>
#include <QImage>

namespace PngCodec {

// Grayscale8, RGB32 or ARGB32 for 8-bit files, Grayscale16, RGBX64 or
// RGBA64 for 16-bit ones (palettes and transparency chunks expanded), with
// the physical resolution and the embedded colour profile. Samples as
// stored: no gamma applied, as in Qt. Null on failure.
QImage Decode(const QByteArray& file);

// The size the IHDR chunk declares; invalid when there is none.
QSize Size(const QByteArray& file);

// A PNG of the picture's layout (16 bits kept, greyscale kept), zlib at
// level 0..9 (negative: zlib's default), with resolution, colour profile,
// the comment and custom fields as text chunks and the XMP packet.
bool Encode(const QImage& image, int level, const QByteArray& profile, const FiMetadata& fields, QByteArray& file);

} // namespace PngCodec

#endif
