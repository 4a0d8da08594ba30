// The writing side of a handler: one picture encoded into one file.
#ifndef KORVANE_FI_WRITER_H
#define KORVANE_FI_WRITER_H

#include <QByteArray>
#include <QImage>
#include <QString>

class QIODevice;

namespace FiWriter {

struct Options
{
    QByteArray key;        // the writer's format key, lower case
    int quality = -1;      // QImageWriter::setQuality, -1 when unset
    int compression = -1;  // QImageWriter::setCompression, -1 when unset
    QString description;   // QImageWriter's text, holding the packed metadata
};

// Encodes one picture for the key's format (not ICO: the handler gathers
// icon pictures itself). Options as the program passes them:
//   JPEG, JNG   quality 0..100 (unset 75)
//   PNG         quality as Qt's writer: deflate level (100 - q) * 9 / 91; unset,
//               one of the two fastest levels chosen on a sample of rows
//   WebP        lossless by PluginContract::IsLosslessQuality, else 0..100
//   JPEG 2000   compression 1 lossless, 2..512 the rate, unset 16
//   JPEG XR     quality 100 lossless, else 0..99 (unset 90)
//   TIFF        compression 0 none, else LZW
// Metadata of the packed entry goes into JPEG and TIFF (Exif, IPTC, XMP,
// comment), PNG (comments, XMP) and GIF (comments). An embedded colour
// profile goes into JPEG, PNG, TIFF and WebP whatever the metadata.
bool Encode(const QImage& image, const Options& options, QByteArray& file);

// The same file written to device; PNG is written as it is made, a band of
// rows at a time. False when encoding or a write failed.
bool Write(const QImage& image, const Options& options, QIODevice* device);

} // namespace FiWriter

#endif
