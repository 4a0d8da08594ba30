// TIFF read straight through libtiff: every page, 1 to 16 bits per sample,
// strips or tiles, contiguous or planar, grey, palette, RGB, CMYK and YCbCr,
// with their alpha as stored (associated alpha stays premultiplied).
#ifndef KORVANE_TIFFCODEC_H
#define KORVANE_TIFFCODEC_H

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>

namespace TiffCodec {

// Number of pages (image directories); 0 when libtiff cannot open the file.
int PageCount(const QByteArray& file);

// A page's size as stored, before its orientation is applied; invalid when
// the page cannot be read.
QSize PageSize(const QByteArray& file, int page);

// How the page's Orientation tag says the stored picture is to be turned to
// be shown upright; the decoded picture itself is not turned.
QImageIOHandler::Transformations Transformation(const QByteArray& file, int page);

// The page's picture as stored, with its resolution and colour profile; null
// when it cannot be decoded.
QImage Decode(const QByteArray& file, int page);

// The same, with libtiff's messages dropped instead of logged when logged is
// false: in a child process Qt's logging may wait forever on a lock.
QImage Decode(const QByteArray& file, int page, bool logged);

} // namespace TiffCodec

#endif
