// Structure checks made before a file reaches a decoder: a damaged field
// must fail the read, not crash or stall the process, and picture data that
// ends before the picture does must fail it too, not come out black or grey
// where the data is missing.
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

// Whether the file ends before its picture data does: a JPEG whose scan does
// not reach its end marker, a Targa or an uncompressed BMP with fewer pixel
// bytes than its header declares (or Targa run-length packets that run out),
// a JPEG XR container whose image bytes lie past the end, a GIF without one
// complete frame. key is the file's format key (lower case); formats not
// named here are checked by their decoders.
bool EndsEarly(const QByteArray& file, const QByteArray& key);

// A GIF cut after its last complete frame, with a trailer: the frames a
// file cut short still holds whole. The file itself when nothing is cut.
QByteArray WholeGifFrames(const QByteArray& file);

} // namespace FiSanitize

#endif
