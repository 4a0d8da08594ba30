// Structure checks made before a file reaches FreeImage, for the formats
// whose FreeImage decoders trust what they read: a damaged field must fail
// the read, not crash or stall the process.
#ifndef KORVANE_FI_SANITIZE_H
#define KORVANE_FI_SANITIZE_H

#include <FreeImage.h>

#include <QByteArray>

namespace FiSanitize {

// The file as FreeImage may decode it: unchanged when it is sound, cut down
// to its sound part where the format allows (GIF: the frames up to the
// first damaged block, with a trailer; ICO: the sound directory entries), or
// empty when nothing of it can be decoded safely.
QByteArray ForDecoding(const QByteArray& file, FREE_IMAGE_FORMAT fif);

} // namespace FiSanitize

#endif
