// DirectDraw Surface files, decoded by the plugin itself: uncompressed pixels
// described by channel masks (RGB, RGBA, luminance, luminance with alpha,
// alpha alone, 8 to 64 bits a pixel), 8-bit palettes, and the block formats
// BC1 to BC5 (DXT1, DXT3, DXT5, ATI1, ATI2), under the legacy header or the
// DX10 extension. FreeImage's decoder is not used: it cuts sizes that are no
// multiple of 4 and decodes DXT3 and DXT5 colour blocks whose end points are
// in one order as DXT1's three-colour blocks. Floating point, signed (but
// BC4 and BC5), YUV, bump-map, 4-bit palette, BC6H and BC7 files are
// refused. Only the first surface is read (no further mipmaps, faces or
// slices).
#ifndef KORVANE_DDS_CODEC_H
#define KORVANE_DDS_CODEC_H

#include <QByteArray>
#include <QImage>

namespace DdsCodec {

// Whether the file's pixel format is one Decode reads.
bool Decodes(const QByteArray& file);

// The first surface: Grayscale8 or Grayscale16 for luminance and BC4,
// RGB32, ARGB32, RGBX64 or RGBA64 otherwise (64-bit layouts when a channel
// has more than 8 bits). Null when the file is not one Decodes reads, or is
// cut short.
QImage Decode(const QByteArray& file);

} // namespace DdsCodec

#endif
