// Exif and XMP of the formats that keep them as blocks of their own beside
// the picture (HEIF and AVIF items, JPEG XL boxes). Both directions go
// through the JPEG metadata path the plugin already has: the blocks ride in
// the APP1 segments of a tiny JPEG, so the key layout, the fitting of Exif
// to the written picture (orientation upright, its size and resolution) and
// Exiv2's parsing stay in one place.
#ifndef KORVANE_PHOTO_METADATA_H
#define KORVANE_PHOTO_METADATA_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace PhotoMetadata {

struct Blocks
{
    QByteArray exif;   // the TIFF structure, without the "Exif\0\0" header
    QByteArray xmp;    // the XMP packet
};

// The blocks a target gets for the packed entry of a writer's description,
// fitted to the picture written. Empty when the entry holds neither.
Blocks ForTarget(const QString& description, const QImage& image);

// The reader's description (the preview's key layout) of a file's blocks.
// Exiv2 parses them: call it where the file's decoder runs.
QString Describe(const Blocks& blocks);

// The TIFF structure of an Exif block stored behind a 4-byte big-endian
// offset (as HEIF items and JPEG XL boxes hold it); empty when damaged.
QByteArray ExifFromOffsetBlock(const QByteArray& block);

// An Exif block in that layout.
QByteArray OffsetBlockFromExif(const QByteArray& exif);

} // namespace PhotoMetadata

#endif
