// HEIF (HEIC) through libheif: every top-level image of a file is a page
// (bursts and collections), turned upright by the file's own transforms
// (irot, imir, clap; an Exif orientation beside them is ignored, as the
// format says), with its colour profile, Exif and XMP.
//
// Reading is offered as a Qt image plugin of its own, which QtDelegate runs
// in a child process like Qt's readers: libheif and the HEVC decoder are
// large and not hardened against hostile files. Writing meets only the
// program's own pictures and runs in place.
#ifndef KORVANE_HEIF_CODEC_H
#define KORVANE_HEIF_CODEC_H

#include "photometadata.h"

#include <QByteArray>
#include <QImage>

class QImageIOPlugin;

namespace HeifCodec {

// Whether the first bytes are an ISO base media file of a HEIF brand.
bool LooksLikeHeif(const QByteArray& head);

// The reading plugin (keys "heif" and "heic"), one per process.
QImageIOPlugin* Plugin();

// HEVC at quality 1..100 (unset: 80), 4:2:0, alpha kept, with the colour
// profile of the picture and the metadata blocks.
bool Encode(const QImage& image, int quality, const PhotoMetadata::Blocks& blocks, QByteArray& file);

} // namespace HeifCodec

#endif
