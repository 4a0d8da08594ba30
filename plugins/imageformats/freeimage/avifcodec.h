// AVIF through libavif (AV1 by libaom). Only writing: files are read by Qt's
// AVIF plugin in a child process (see QtDelegate), which turns them upright
// by their irot and imir properties.
#ifndef KORVANE_AVIF_CODEC_H
#define KORVANE_AVIF_CODEC_H

#include "photometadata.h"

#include <QByteArray>
#include <QImage>

namespace AvifCodec {

// Lossless (4:4:4 with the identity matrix, every sample kept) when
// lossless is set, else quality 1..100 (unset: 80) mapped onto AV1's
// quantizer, 4:2:0. Alpha, the colour profile and the metadata blocks kept.
bool Encode(const QImage& image, bool lossless, int quality, const PhotoMetadata::Blocks& blocks, QByteArray& file);

} // namespace AvifCodec

#endif
