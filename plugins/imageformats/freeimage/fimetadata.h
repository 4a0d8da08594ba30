// Text metadata: read from files into the key layout of the program's preview
// and written back from the packed "FIMD" entry the program hands the writer.
//
// Key layout: "FIMnn" declares category nn (00 to 11); a field of that
// category is "FIMnn" followed by its name, for example "FIM01Make".
// Categories: 0 comments, 1 Exif main (IFD0), 2 Exif specific, 3 GPS,
// 4 maker notes, 5 interoperability, 6 IPTC, 7 XMP (the whole packet as
// "XMLPacket"), 8 GeoTIFF, 9 animation, 10 custom, 11 the raw Exif block in
// base64 ("ExifRaw"), which the writer restores the Exif data from.
#ifndef KORVANE_FI_METADATA_H
#define KORVANE_FI_METADATA_H

#include <FreeImage.h>

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

struct FiMetadataField
{
    int category;
    QString name;
    QString value;
};
using FiMetadata = QVector<FiMetadataField>;

namespace FiMetadataIO {

enum Category {
    Comments = 0,
    ExifMain = 1,
    ExifSpecific = 2,
    ExifGps = 3,
    ExifMaker = 4,
    ExifInterop = 5,
    Iptc = 6,
    Xmp = 7,
    GeoTiff = 8,
    Animation = 9,
    Custom = 10,
    ExifRaw = 11,
    CategoryCount = 12
};

// ---- reading ----

// The metadata FreeImage attached to a decoded bitmap, every category.
FiMetadata FromBitmap(FIBITMAP* dib);

// Exif (with the raw block), IPTC and XMP of a whole file through Exiv2, for
// the formats Exiv2 understands; for TIFF also the image description as the
// comment. False when Exiv2 does not know the file.
bool FromExiv2(const QByteArray& file, FREE_IMAGE_FORMAT fif, FiMetadata& fields);

// The reader's answer to QImageIOHandler::Description: "key: value" pairs
// separated by blank lines, each category declared before its fields.
QString ToDescription(const FiMetadata& fields);

// ---- writing ----

// The fields of the packed entry in a writer's description; keys outside the
// layout become comments named by the key. Empty when there is no entry.
FiMetadata FromDescription(const QString& description);

// Comments (and custom text) and the XMP packet as FreeImage tags, which its
// PNG writer stores as text chunks and its GIF writer as comment blocks.
void ApplyToBitmap(FIBITMAP* dib, const FiMetadata& fields, FREE_IMAGE_FORMAT target);

// Exif from the raw block, IPTC, XMP and the comment written into an encoded
// JPEG or TIFF file through Exiv2. The Exif resolution and pixel dimensions
// follow the written image, and its orientation (Exif and XMP) is upright.
// False (file unchanged) on failure.
bool ApplyWithExiv2(QByteArray& file, const FiMetadata& fields, const QImage& image);

// An XMP packet with its orientation (tiff:Orientation) upright: pictures
// are turned upright when they are read.
QString UprightXmp(const QString& packet);

// Key encoding of a field name: blank, ":", "%" and control characters are
// percent-encoded so that Qt's "key: value" parsing keeps them apart.
QString EncodeName(const QString& name);
QString DecodeName(const QString& name);

} // namespace FiMetadataIO

#endif
