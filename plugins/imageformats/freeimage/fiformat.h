// The formats the plugin claims, and how a file's content is recognised.
#ifndef KORVANE_FI_FORMAT_H
#define KORVANE_FI_FORMAT_H

#include <FreeImage.h>

#include <QByteArray>
#include <QList>

class QIODevice;

namespace FiFormat {

// JPEG XR goes to libjxr: Debian's FreeImage can neither read nor write it,
// though it knows the format's id.
const FREE_IMAGE_FORMAT FifJpegXr = FIF_JXR;

// Every key of the plugin's metadata, in the order of korvanefi.json.
QList<QByteArray> Keys();

// Whether the plugin reads or writes files of this key (lower case).
bool CanReadKey(const QByteArray& key);
bool CanWriteKey(const QByteArray& key);

// Keys read (and, for Targa, written) only through Qt's own plugin of them,
// decoded in a child process: MNG, Targa (.tga), PCX, Sun Raster, SGI, PSD,
// SVG, AVIF and JPEG XL; HEIF the same way through the plugin's own libheif
// reader; and BMP, read by Qt's built-in reader once its rows are checked.
bool IsQtOnlyKey(const QByteArray& key);

// The format a key names (FIF_UNKNOWN for keys the plugin does not claim).
FREE_IMAGE_FORMAT FromKey(const QByteArray& key);

// The format recognised from the first bytes of a file by its signature, or
// FIF_UNKNOWN. Only signatures that cannot be mistaken for something else
// are recognised; formats without one are found by their key.
FREE_IMAGE_FORMAT Sniff(const QByteArray& head);

// Whether the first bytes are an SVG document (an "<svg" element within them,
// after an XML declaration, comments or a doctype).
bool LooksLikeSvg(const QByteArray& head);
FREE_IMAGE_FORMAT Sniff(QIODevice* device);

// The format a file is decoded as: its signature, and failing that its key.
// Camera raw keys keep their format over a TIFF signature, since most raw
// files are TIFF structures; "pic" is PICT only with a PICT signature. head
// should hold the first HeadSize bytes.
const int HeadSize = 1024;
FREE_IMAGE_FORMAT Resolve(const QByteArray& head, const QByteArray& key);

// Formats decoded in a child process (see Jail): decoders that crash or
// hang on damaged files, for formats rare enough that a process each costs
// nothing noticeable.
bool IsIsolated(FREE_IMAGE_FORMAT fif);

// Formats whose files can hold several images.
bool IsMultiPage(FREE_IMAGE_FORMAT fif);

// The load flags the plugin decodes a format with.
int LoadFlags(FREE_IMAGE_FORMAT fif);

} // namespace FiFormat

#endif
