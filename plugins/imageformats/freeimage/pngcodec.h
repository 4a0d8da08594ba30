// PNG read straight through libpng, for the same reason as JpegCodec (pixels
// go into the QImage's own buffer), and written from the picture's buffer
// with libdeflate (pngdeflate.h).
#ifndef KORVANE_PNG_CODEC_H
#define KORVANE_PNG_CODEC_H

#include "fimetadata.h"

#include <QByteArray>
#include <QImage>

class QIODevice;

namespace PngCodec {

// Grayscale8, RGB32 or ARGB32 for 8-bit files, Grayscale16, RGBX64 or
// RGBA64 for 16-bit ones (palettes and transparency chunks expanded), with
// the physical resolution and the embedded colour profile. Samples as
// stored: no gamma applied, as in Qt. Null on failure.
QImage Decode(const QByteArray& file);

// The size the IHDR chunk declares; invalid when there is none.
QSize Size(const QByteArray& file);

// A PNG of the picture's layout (16 bits kept, greyscale kept), deflated by
// libdeflate at level 0..9 (0 stores; negative: one of the two fastest
// levels, chosen on a sample of rows with the filter, which writes
// photographs smaller than zlib's default level through libpng in a fraction
// of its time), on as many threads as the program grants the writing thread
// (codecthreads.h); with resolution, colour profile, the comment and custom
// fields as text chunks and the XMP packet. Written to device as it is made,
// a band of rows at a time (only a few bands are held beside the picture);
// false when a write fails, the device then holding a partial file.
bool Encode(const QImage& image, int level, const QByteArray& profile, const FiMetadata& fields, QIODevice* device);

} // namespace PngCodec

#endif
