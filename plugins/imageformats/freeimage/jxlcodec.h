// JPEG XL through libjxl. Only writing: files are read by Qt's JPEG XL
// plugin in a child process (see QtDelegate), which turns them upright by
// the orientation of their codestream.
#ifndef KORVANE_JXL_CODEC_H
#define KORVANE_JXL_CODEC_H

#include "photometadata.h"

#include <QByteArray>
#include <QImage>

namespace JxlCodec {

// Lossless (every sample kept, colour profile as given) when lossless is
// set, else quality 1..100 (unset: 80) mapped onto a distance as libjxl's
// own tools map it. Alpha, the colour profile and the metadata blocks kept.
bool Encode(const QImage& image, bool lossless, int quality, const PhotoMetadata::Blocks& blocks, QByteArray& file);

} // namespace JxlCodec

#endif
