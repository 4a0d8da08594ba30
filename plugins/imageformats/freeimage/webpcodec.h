// WebP straight through libwebp: FreeImage encodes with the slowest method
// (four to five times Qt's time for a photograph) and adds a pixel pass.
#ifndef KORVANE_WEBP_CODEC_H
#define KORVANE_WEBP_CODEC_H

#include <QByteArray>
#include <QImage>

namespace WebpCodec {

// The first image of a WebP file as RGB32 or ARGB32, with its colour profile.
// Null on failure (animations included).
QImage Decode(const QByteArray& file);

// Lossless when lossless is set (the colour under transparent pixels kept
// too), else lossy at quality 0..100; libwebp's default effort, as Qt's
// writer. The colour profile goes into an ICCP chunk.
bool Encode(const QImage& image, bool lossless, int quality, const QByteArray& profile, QByteArray& file);

} // namespace WebpCodec

#endif
