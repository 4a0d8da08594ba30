// JPEG XR through libjxr: Debian's FreeImage neither loads nor saves it.
#ifndef KORVANE_JXR_CODEC_H
#define KORVANE_JXR_CODEC_H

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace JxrCodec {

// The picture size stored in a JPEG XR file, without decoding it; invalid
// when the file cannot be parsed.
QSize Size(const QByteArray& file);

// Decodes the first image of a JPEG XR file into RGB32, ARGB32, Grayscale8,
// Grayscale16, RGBX64 or RGBA64, with its resolution. Null on failure.
QImage Decode(const QByteArray& file);

// Encodes a picture: quality 100 (or more) is mathematically lossless, lower
// values trade fidelity for size down to 0. Alpha is kept, losslessly.
bool Encode(const QImage& image, int quality, QByteArray& file);

} // namespace JxrCodec

#endif
