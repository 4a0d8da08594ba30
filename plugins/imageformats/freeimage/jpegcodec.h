// JPEG straight through libjpeg-turbo: decoded into and encoded from the
// QImage's own buffer, without the extra pixel pass a FreeImage bitmap costs
// (JPEG is the format the program converts most).
#ifndef KORVANE_JPEG_CODEC_H
#define KORVANE_JPEG_CODEC_H

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>

namespace JpegCodec {

// RGB32 (CMYK converted) or Grayscale8, with the JFIF resolution and the
// embedded colour profile. A valid scaledSize lets libjpeg decode at 1/2, 1/4
// or 1/8 of the size, no smaller than asked (the caller scales the rest).
// Null on failure; a truncated file decodes as far as it goes, as in Qt.
// A large sequential file decoded at full size uses the threads the program
// grants the calling thread (codecthreads.h), each on a band of rows.
QImage Decode(const QByteArray& file, const QSize& scaledSize);

// The size the header declares (as stored, before any orientation); invalid
// when the header is damaged.
QSize Size(const QByteArray& file);

// How the Exif orientation of the file's first APP1 segment says the picture
// is to be turned to be shown upright, read as Qt's JPEG reader reads it (the
// first Orientation of the chain of IFDs). None without one, or when the
// Exif block is damaged.
QImageIOHandler::Transformations Transformation(const QByteArray& file);

// Baseline JPEG at quality 1..100 (75 when negative), 4:2:0, with a JFIF
// resolution and the given colour profile. Greyscale pictures stay grey;
// alpha is dropped.
bool Encode(const QImage& image, int quality, const QByteArray& profile, QByteArray& file);

} // namespace JpegCodec

#endif
