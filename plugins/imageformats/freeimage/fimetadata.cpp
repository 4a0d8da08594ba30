#include "fimetadata.h"

#include "filibrary.h"
#include "graphics/metadatapacking.h"

#include <exiv2/exiv2.hpp>

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

const char* const kCategoryNames[FiMetadataIO::CategoryCount] = {
    "Comment", "Exif-Tiff", "Exif-Specific", "Exif GPS", "Exif Maker", "Exif Interoperability",
    "IPTC/NAA", "Adobe XMP", "Geo Tiff", "Animation", "Custom", "Exif Raw",
};

const QString kKeyPrefix = QStringLiteral("FIM");
const QString kXmpField = QStringLiteral("XMLPacket");
const QString kExifRawField = QStringLiteral("ExifRaw");
const QString kCommentField = QStringLiteral("Comment");
const QByteArray kExifHeader("Exif\0\0", 6);

// Shown values are for reading; the raw block carries the Exif data whole,
// so long binary values (maker notes, palettes) are cut for the preview.
const int kShownValueLength = 512;

QString Shortened(const QString& value)
{
    if (value.size() <= kShownValueLength)
        return value;
    return value.left(kShownValueLength) + QStringLiteral("...");
}

template <typename T>
T Element(const void* values, DWORD index)
{
    T value;
    std::memcpy(&value, static_cast<const char*>(values) + sizeof(T) * index, sizeof(T));
    return value;
}

// A tag's value as text, formatted here rather than by FreeImage: its
// formatter divides by the file's own denominators (a signed rational of
// 0x7fffffff/0x80000000 raised SIGFPE) and writes into one buffer shared by
// all threads. Fractions stay fractions; nothing is divided.
QString TagValueText(FITAG* tag)
{
    const FREE_IMAGE_MDTYPE type = FreeImage_GetTagType(tag);
    const void* value = FreeImage_GetTagValue(tag);
    const DWORD count = FreeImage_GetTagCount(tag);
    const DWORD length = FreeImage_GetTagLength(tag);
    if (!value || count == 0)
        return QString();
    DWORD size = 0;
    switch (type) {
    case FIDT_BYTE: case FIDT_SBYTE: case FIDT_UNDEFINED: case FIDT_ASCII: size = 1; break;
    case FIDT_SHORT: case FIDT_SSHORT: size = 2; break;
    case FIDT_LONG: case FIDT_SLONG: case FIDT_FLOAT: case FIDT_IFD: case FIDT_PALETTE: size = 4; break;
    case FIDT_RATIONAL: case FIDT_SRATIONAL: case FIDT_DOUBLE: case FIDT_LONG8: case FIDT_SLONG8:
    case FIDT_IFD8: size = 8; break;
    default: return QString();
    }
    // Only the values the tag really holds, and no more than a preview shows.
    const DWORD shown = std::min<DWORD>({count, length / size, DWORD(kShownValueLength)});
    if (type == FIDT_UNDEFINED) {
        const QByteArray bytes(static_cast<const char*>(value), int(shown));
        return Shortened(QString::fromLatin1(bytes.toHex(' ')));
    }
    QStringList parts;
    for (DWORD i = 0; i < shown; ++i) {
        switch (type) {
        case FIDT_BYTE: parts << QString::number(Element<quint8>(value, i)); break;
        case FIDT_SBYTE: parts << QString::number(Element<qint8>(value, i)); break;
        case FIDT_ASCII: parts << QString::number(Element<quint8>(value, i)); break;
        case FIDT_SHORT: parts << QString::number(Element<quint16>(value, i)); break;
        case FIDT_SSHORT: parts << QString::number(Element<qint16>(value, i)); break;
        case FIDT_LONG: case FIDT_IFD: case FIDT_PALETTE: parts << QString::number(Element<quint32>(value, i)); break;
        case FIDT_SLONG: parts << QString::number(Element<qint32>(value, i)); break;
        case FIDT_FLOAT: parts << QString::number(double(Element<float>(value, i))); break;
        case FIDT_DOUBLE: parts << QString::number(Element<double>(value, i)); break;
        case FIDT_LONG8: case FIDT_IFD8: parts << QString::number(Element<quint64>(value, i)); break;
        case FIDT_SLONG8: parts << QString::number(Element<qint64>(value, i)); break;
        case FIDT_RATIONAL:
            parts << QStringLiteral("%1/%2").arg(Element<quint32>(value, 2 * i)).arg(Element<quint32>(value, 2 * i + 1));
            break;
        case FIDT_SRATIONAL:
            parts << QStringLiteral("%1/%2").arg(Element<qint32>(value, 2 * i)).arg(Element<qint32>(value, 2 * i + 1));
            break;
        default:
            break;
        }
    }
    return Shortened(parts.join(QLatin1Char(' ')));
}

QString TagText(FREE_IMAGE_MDMODEL model, FITAG* tag)
{
    const FREE_IMAGE_MDTYPE type = FreeImage_GetTagType(tag);
    const void* value = FreeImage_GetTagValue(tag);
    const DWORD length = FreeImage_GetTagLength(tag);
    if (model == FIMD_EXIF_RAW) {
        if (!value || length == 0)
            return QString();
        return QString::fromLatin1(QByteArray(static_cast<const char*>(value), int(length)).toBase64());
    }
    if (type == FIDT_ASCII && value) {
        // ASCII tags may or may not count their terminating zero.
        QByteArray text(static_cast<const char*>(value), int(length));
        const int end = text.indexOf('\0');
        if (end >= 0)
            text.truncate(end);
        return QString::fromUtf8(text);
    }
    return TagValueText(tag);
}

// Exiv2's readable forms of some tags divide the file's own fractions (an
// exposure bias of 0x7fffffff/0x80000000 overflows); such values are shown as
// the fractions they are.
QString ExifText(const Exiv2::Exifdatum& datum, const Exiv2::ExifData& exif)
{
    const Exiv2::TypeId type = datum.typeId();
    bool printable = true;
    if (type == Exiv2::unsignedRational || type == Exiv2::signedRational) {
        const long count = std::min(datum.count(), 64L);
        for (long i = 0; i < count && printable; ++i) {
            const Exiv2::Rational value = datum.toRational(i);
            printable = value.second > 0 && value.first != INT_MIN;
        }
        printable = printable && datum.count() <= 64;
    }
    return Shortened(QString::fromStdString(printable ? datum.print(&exif) : datum.toString()));
}

bool IsHiddenComment(const QString& key)
{
    // Sizes FreeImage notes when it decodes a JPEG at a reduced size, and the
    // hex dumps other tools keep in PNG text chunks.
    return key == QLatin1String("OriginalJPEGWidth") || key == QLatin1String("OriginalJPEGHeight")
        || key.startsWith(QLatin1String("Raw profile type"));
}

// Field names are unique within a category: a repeated name (IPTC keywords)
// gets its position appended, "Keywords", "Keywords[2]", "Keywords[3]".
class FieldCollector
{
public:
    explicit FieldCollector(FiMetadata& fields) : fields(fields) {}

    void Add(int category, const QString& name, const QString& value)
    {
        const QString key = QString::number(category) + QLatin1Char('/') + name;
        const int seen = ++counts[key];
        fields.append({category, seen == 1 ? name : name + QStringLiteral("[%1]").arg(seen), value});
    }

private:
    FiMetadata& fields;
    QHash<QString, int> counts;
};

// The base name of a possibly numbered field: "Keywords[2]" → "Keywords".
QString BaseName(const QString& name)
{
    if (name.endsWith(QLatin1Char(']'))) {
        const int open = name.lastIndexOf(QLatin1Char('['));
        if (open > 0)
            return name.left(open);
    }
    return name;
}

int FieldIndex(const QString& name)
{
    if (!name.endsWith(QLatin1Char(']')))
        return 1;
    const int open = name.lastIndexOf(QLatin1Char('['));
    bool ok = false;
    const int index = name.mid(open + 1, name.size() - open - 2).toInt(&ok);
    return ok ? index : 1;
}

// ---- Exif through Exiv2 ----

// The payload of the first Exif APP1 segment of a JPEG stream ("Exif\0\0"
// included), byte for byte.
QByteArray JpegExifSegment(const QByteArray& file)
{
    const uchar* data = reinterpret_cast<const uchar*>(file.constData());
    const int size = file.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return QByteArray();
    int pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            break;
        const uchar marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        const int length = (data[pos + 2] << 8) | data[pos + 3];
        if (length < 2 || pos + 2 + length > size)
            break;
        if (marker == 0xE1 && length - 2 >= kExifHeader.size()
            && std::equal(kExifHeader.cbegin(), kExifHeader.cend(), file.constData() + pos + 4))
            return file.mid(pos + 4, length - 2);
        pos += 2 + length;
    }
    return QByteArray();
}

bool IsStructureTag(uint16_t tag)
{
    switch (tag) {
    case 0x00FE: case 0x00FF: case 0x0100: case 0x0101: case 0x0102: case 0x0103:
    case 0x0106: case 0x0107: case 0x0108: case 0x0109: case 0x010A: case 0x0111:
    case 0x0115: case 0x0116: case 0x0117: case 0x0118: case 0x0119:
    case 0x011A: case 0x011B: case 0x011C: case 0x0122: case 0x0123: case 0x0124:
    case 0x0125: case 0x0128: case 0x012D: case 0x013D: case 0x0140: case 0x0142:
    case 0x0143: case 0x0144: case 0x0145: case 0x014A: case 0x0152: case 0x0153:
    case 0x0154: case 0x0155: case 0x0156: case 0x015B: case 0x0200: case 0x0201:
    case 0x0202: case 0x0211: case 0x0212: case 0x0213: case 0x0214:
    case 0x02BC:   // XMP, carried as its own category
    case 0x83BB:   // IPTC, likewise
    case 0x8649:   // Photoshop resources
    case 0x8773:   // ICC profile, carried with the pixels
    case 0x8769: case 0x8825: case 0xA005:   // sub-directory pointers, rebuilt on encoding
        return true;
    default:
        return false;
    }
}

// The Exif of a file whose whole structure Exiv2 sees as Exif (TIFF, camera
// raw, DNG): only the descriptive tags of the main, Exif, GPS and
// interoperability directories, without the image's layout.
Exiv2::ExifData DescriptiveExif(const Exiv2::ExifData& exif)
{
    Exiv2::ExifData result;
    for (const Exiv2::Exifdatum& datum : exif) {
        const std::string group = datum.groupName();
        if (group == "Image") {
            if (IsStructureTag(datum.tag()))
                continue;
        } else if (group != "Photo" && group != "GPSInfo" && group != "Iop"
                   && group != "MakerNote" && !Exiv2::ExifTags::isMakerGroup(group)) {
            continue;
        }
        result.add(datum);
    }
    return result;
}

int ExifCategory(const std::string& group)
{
    if (group == "Image")
        return FiMetadataIO::ExifMain;
    if (group == "Photo")
        return FiMetadataIO::ExifSpecific;
    if (group == "GPSInfo")
        return FiMetadataIO::ExifGps;
    if (group == "Iop")
        return FiMetadataIO::ExifInterop;
    if (group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group))
        return FiMetadataIO::ExifMaker;
    return -1;
}

bool ExivKnows(FREE_IMAGE_FORMAT fif)
{
    switch (fif) {
    case FIF_JPEG: case FIF_TIFF: case FIF_PNG: case FIF_WEBP: case FIF_JP2: case FIF_RAW:
        return true;
    default:
        return false;
    }
}

// The Exif block of the packed entry, decoded. False when there is none or
// it cannot be decoded.
bool DecodeRawExif(const FiMetadata& fields, Exiv2::ExifData& exif)
{
    for (const FiMetadataField& field : fields) {
        if (field.category != FiMetadataIO::ExifRaw)
            continue;
        QByteArray block = QByteArray::fromBase64(field.value.toLatin1());
        if (block.startsWith(kExifHeader))
            block.remove(0, kExifHeader.size());
        if (block.size() < 8)
            return false;
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(block.constData()),
                                  uint32_t(block.size()));
        return !exif.empty();
    }
    return false;
}

// The Exif of the packed entry made to fit the written picture: the target's
// own layout tags stay (a TIFF keeps its own), thumbnails are dropped from
// TIFF targets (they would become a second page), the orientation is upright,
// and the resolution and pixel dimensions are the written image's.
void FitExif(Exiv2::ExifData& exif, bool tiff, const QImage& image)
{
    for (Exiv2::ExifData::iterator it = exif.begin(); it != exif.end();) {
        const std::string group = it->groupName();
        const bool drop = (group == "Image" && IsStructureTag(it->tag()))
                       || (tiff && group == "Thumbnail")
                       || (group != "Image" && group != "Photo" && group != "GPSInfo" && group != "Iop"
                           && group != "Thumbnail" && group != "MakerNote"
                           && !Exiv2::ExifTags::isMakerGroup(group));
        if (drop)
            it = exif.erase(it);
        else
            ++it;
    }
    if (!tiff && image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        exif["Exif.Image.XResolution"] = Exiv2::URational(uint32_t(std::lround(image.dotsPerMeterX() * 0.0254)), 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(uint32_t(std::lround(image.dotsPerMeterY() * 0.0254)), 1);
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
    }
    // The picture was turned upright when it was read: a kept orientation
    // would turn it a second time, and a thumbnail of the unturned picture
    // would show it turned wrong.
    const Exiv2::ExifData::iterator orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != exif.end()) {
        if (orientation->count() != 1 || orientation->toLong() != 1)
            Exiv2::ExifThumb(exif).erase();
        exif["Exif.Image.Orientation"] = uint16_t(1);
    }
    if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != exif.end())
        exif["Exif.Photo.PixelXDimension"] = uint32_t(image.width());
    if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension")) != exif.end())
        exif["Exif.Photo.PixelYDimension"] = uint32_t(image.height());
}

// The comment of the packed entry: its "Comment" field, then every other
// comment as a "name: value" paragraph, the way Qt's JPEG handler writes and
// reads named texts. A paragraph the comment already holds is not repeated.
QString JoinedComment(const FiMetadata& fields)
{
    QStringList paragraphs;
    for (const FiMetadataField& field : fields) {
        if (field.category == FiMetadataIO::Comments && BaseName(field.name) == kCommentField)
            paragraphs += field.value.split(QStringLiteral("\n\n"));
    }
    for (const FiMetadataField& field : fields) {
        if (field.category != FiMetadataIO::Comments || BaseName(field.name) == kCommentField)
            continue;
        const QString paragraph = field.name + QStringLiteral(": ") + field.value;
        if (!paragraphs.contains(paragraph))
            paragraphs << paragraph;
    }
    paragraphs.removeAll(QString());
    return paragraphs.join(QStringLiteral("\n\n"));
}

QString FieldValue(const FiMetadata& fields, int category, const QString& name)
{
    for (const FiMetadataField& field : fields) {
        if (field.category == category && field.name == name)
            return field.value;
    }
    return QString();
}

Exiv2::IptcData BuildIptc(const FiMetadata& fields)
{
    QVector<const FiMetadataField*> iptc;
    for (const FiMetadataField& field : fields) {
        if (field.category == FiMetadataIO::Iptc)
            iptc << &field;
    }
    // Repeated datasets in their numbered order (the keys may come sorted as
    // text, where "[10]" precedes "[2]").
    std::stable_sort(iptc.begin(), iptc.end(), [](const FiMetadataField* a, const FiMetadataField* b) {
        const QString baseA = BaseName(a->name);
        const QString baseB = BaseName(b->name);
        if (baseA != baseB)
            return baseA < baseB;
        return FieldIndex(a->name) < FieldIndex(b->name);
    });

    Exiv2::IptcData data;
    bool ascii = true;
    for (const FiMetadataField* field : iptc) {
        const QString base = BaseName(field->name);
        const QString key = base.contains(QLatin1Char('.')) ? QStringLiteral("Iptc.") + base
                                                            : QStringLiteral("Iptc.Application2.") + base;
        try {
            Exiv2::Iptcdatum datum{Exiv2::IptcKey(key.toStdString())};
            const QByteArray value = field->value.toUtf8();
            if (datum.setValue(value.toStdString()) != 0)
                continue;
            data.add(datum);
            for (const char c : value)
                ascii = ascii && uchar(c) < 0x80;
        } catch (const std::exception&) {
            qCDebug(lcKorvaneFi) << "IPTC field not written:" << key;
        }
    }
    if (!data.empty() && !ascii && data.findKey(Exiv2::IptcKey("Iptc.Envelope.CharacterSet")) == data.end())
        data["Iptc.Envelope.CharacterSet"] = std::string("\x1B%G");   // UTF-8
    return data;
}

} // namespace

namespace FiMetadataIO {

QString EncodeName(const QString& name)
{
    QString encoded;
    encoded.reserve(name.size());
    for (const QChar c : name) {
        if (c == QLatin1Char('%') || c == QLatin1Char(':') || c.unicode() <= 0x20 || c.unicode() == 0x7F) {
            encoded += QLatin1Char('%') + QStringLiteral("%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            encoded += c;
        }
    }
    return encoded;
}

QString DecodeName(const QString& name)
{
    QString decoded;
    decoded.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        if (name.at(i) == QLatin1Char('%') && i + 2 < name.size()) {
            bool ok = false;
            const int code = name.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                decoded += QChar(code);
                i += 2;
                continue;
            }
        }
        decoded += name.at(i);
    }
    return decoded;
}

FiMetadata FromBitmap(FIBITMAP* dib)
{
    FiMetadata fields;
    if (!dib)
        return fields;
    FieldCollector collector(fields);
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
        const FREE_IMAGE_MDMODEL mdModel = FREE_IMAGE_MDMODEL(model);
        if (FreeImage_GetMetadataCount(mdModel, dib) == 0)
            continue;
        FITAG* tag = nullptr;
        FIMETADATA* handle = FreeImage_FindFirstMetadata(mdModel, dib, &tag);
        if (!handle)
            continue;
        do {
            const char* key = FreeImage_GetTagKey(tag);
            if (!key || !*key)
                continue;
            const QString name = QString::fromUtf8(key);
            if (model == FIMD_COMMENTS && IsHiddenComment(name))
                continue;
            const QString value = TagText(mdModel, tag);
            if (model == FIMD_EXIF_RAW)
                collector.Add(ExifRaw, kExifRawField, value);
            else
                collector.Add(model, name, value);
        } while (FreeImage_FindNextMetadata(handle, &tag));
        FreeImage_FindCloseMetadata(handle);
    }
    return fields;
}

bool FromExiv2(const QByteArray& file, FREE_IMAGE_FORMAT fif, FiMetadata& fields)
{
    if (!ExivKnows(fif) || file.isEmpty())
        return false;
    FiLibrary::Ensure();
    FiMetadata found;
    FieldCollector collector(found);
    try {
        std::unique_ptr<Exiv2::Image> image(
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file.constData()), long(file.size()))
                .release());
        if (!image)
            return false;
        image->readMetadata();

        const Exiv2::ExifData& exif = image->exifData();
        const bool wholeFileIsExif = fif == FIF_TIFF || fif == FIF_RAW;
        for (const Exiv2::Exifdatum& datum : exif) {
            const std::string group = datum.groupName();
            const int category = ExifCategory(group);
            if (category < 0)
                continue;
            const std::string name = category == ExifMaker ? group + "." + datum.tagName() : datum.tagName();
            collector.Add(category, QString::fromStdString(name), ExifText(datum, exif));
        }
        if (wholeFileIsExif) {
            const Exiv2::ExifData descriptive = DescriptiveExif(exif);
            if (!descriptive.empty()) {
                Exiv2::Blob blob;
                Exiv2::ExifParser::encode(blob, image->byteOrder() == Exiv2::bigEndian ? Exiv2::bigEndian
                                                                                        : Exiv2::littleEndian,
                                          descriptive);
                if (!blob.empty()) {
                    const QByteArray block = kExifHeader
                        + QByteArray(reinterpret_cast<const char*>(blob.data()), int(blob.size()));
                    collector.Add(ExifRaw, kExifRawField, QString::fromLatin1(block.toBase64()));
                }
            }
            const Exiv2::ExifData::const_iterator description =
                exif.findKey(Exiv2::ExifKey("Exif.Image.ImageDescription"));
            if (fif == FIF_TIFF && description != exif.end())
                collector.Add(Comments, kCommentField, QString::fromStdString(description->toString()));
        } else {
            QByteArray block = fif == FIF_JPEG ? JpegExifSegment(file) : QByteArray();
            if (block.isEmpty() && !exif.empty()) {
                Exiv2::Blob blob;
                Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
                block = kExifHeader + QByteArray(reinterpret_cast<const char*>(blob.data()), int(blob.size()));
            }
            if (block.size() > kExifHeader.size())
                collector.Add(ExifRaw, kExifRawField, QString::fromLatin1(block.toBase64()));
        }

        // IPTC text without a UTF-8 marker whose bytes are not UTF-8 is in
        // the legacy Latin-1 most writers use. The values are kept as text
        // and written back as UTF-8 (with its marker), so the source's own
        // character-set record is not carried over.
        const char* charset = image->iptcData().detectCharset();
        const bool utf8 = charset && (std::strcmp(charset, "UTF-8") == 0 || std::strcmp(charset, "ASCII") == 0);
        for (const Exiv2::Iptcdatum& datum : image->iptcData()) {
            const std::string record = datum.recordName();
            if (record == "Envelope" && datum.tagName() == "CharacterSet")
                continue;
            const std::string name = record == "Application2" ? datum.tagName() : record + "." + datum.tagName();
            const std::string text = datum.toString();
            collector.Add(Iptc, QString::fromStdString(name),
                          utf8 ? QString::fromStdString(text) : QString::fromLatin1(text.data(), int(text.size())));
        }

        const std::string& packet = image->xmpPacket();
        if (!packet.empty())
            collector.Add(Xmp, kXmpField, QString::fromStdString(packet));
    } catch (const std::exception& e) {
        qCDebug(lcKorvaneFi) << "Exiv2 cannot read the metadata:" << e.what();
        return false;
    } catch (...) {
        return false;
    }
    fields += found;
    return true;
}

QString ToDescription(const FiMetadata& fields)
{
    QStringList pairs;
    for (int category = 0; category < CategoryCount; ++category) {
        const QString declaration = kKeyPrefix + QStringLiteral("%1").arg(category, 2, 10, QLatin1Char('0'));
        bool declared = false;
        for (const FiMetadataField& field : fields) {
            if (field.category != category || field.name.isEmpty())
                continue;
            if (!declared) {
                pairs << declaration + QStringLiteral(": ") + QLatin1String(kCategoryNames[category]);
                declared = true;
            }
            // Qt's reader splits at blank lines and simplifies each value.
            pairs << declaration + EncodeName(field.name) + QStringLiteral(": ") + field.value.simplified();
        }
    }
    // Named texts also under their own names, as Qt's handlers offer them: a
    // PNG text chunk by its keyword, a JPEG comment's "name: value" paragraphs
    // by their names.
    for (const FiMetadataField& field : fields) {
        if (field.category != Comments || field.name.isEmpty())
            continue;
        const QStringList paragraphs = BaseName(field.name) == kCommentField
                                           ? field.value.split(QStringLiteral("\n\n"))
                                           : QStringList(field.name + QStringLiteral(": ") + field.value);
        for (const QString& paragraph : paragraphs) {
            const int colon = paragraph.indexOf(QStringLiteral(": "));
            // Qt's reader takes a name up to the first colon and drops one
            // holding a blank: such names stay in the category layout only.
            const QString name = paragraph.left(colon);
            if (colon <= 0 || name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char(':')))
                continue;
            const QString pair = paragraph.left(colon) + QStringLiteral(": ") + paragraph.mid(colon + 2).simplified();
            if (!pairs.contains(pair))
                pairs << pair;
        }
    }
    return pairs.join(QStringLiteral("\n\n"));
}

namespace {

// The category a key of the layout belongs to ("XXXnn..."), or -1.
int CategoryOfKey(const QString& key)
{
    if (key.size() < 5 || !key.at(3).isDigit() || !key.at(4).isDigit())
        return -1;
    const int category = key.mid(3, 2).toInt();
    return category < CategoryCount ? category : -1;
}

// A text offered both in its category and under its own name arrives twice.
void AppendOnce(FiMetadata& fields, const FiMetadataField& field)
{
    for (const FiMetadataField& known : qAsConst(fields)) {
        if (known.category == field.category && known.name == field.name && known.value == field.value)
            return;
    }
    fields.append(field);
}

} // namespace

FiMetadata FromDescription(const QString& description)
{
    FiMetadata fields;
    const QString separator = MetadataPacking::PackedKeySuffix() + QStringLiteral(": ");
    const QStringList entries = description.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        const int split = entry.indexOf(separator);
        if (split < 0) {
            // A named text set on the writer directly ("Author: Ann").
            const int colon = entry.indexOf(QStringLiteral(": "));
            if (colon > 0 && CategoryOfKey(entry.left(colon)) < 0)
                AppendOnce(fields, {Comments, entry.left(colon), entry.mid(colon + 2)});
            continue;
        }
        QStringList keys;
        QStringList values;
        if (!MetadataPacking::Unpack(entry.left(split + MetadataPacking::PackedKeySuffix().size()),
                                     entry.mid(split + separator.size()), keys, values))
            continue;
        for (int i = 0; i < keys.size(); ++i) {
            const QString& key = keys.at(i);
            const int category = CategoryOfKey(key);
            if (category >= 0) {
                if (key.size() > 5)
                    AppendOnce(fields, {category, DecodeName(key.mid(5)), values.at(i)});
            } else if (!key.isEmpty()) {
                AppendOnce(fields, {Comments, key, values.at(i)});
            }
        }
    }
    return fields;
}

QString UprightXmp(const QString& packet)
{
    // The property as an attribute or as an element, its value in group 1.
    static const QRegularExpression orientation(
        QStringLiteral("tiff:Orientation\\s*(?:=\\s*[\"']|>)\\s*(\\d+)"));
    QString upright = packet;
    QList<QRegularExpressionMatch> matches;
    QRegularExpressionMatchIterator it = orientation.globalMatch(packet);
    while (it.hasNext())
        matches.prepend(it.next());
    for (const QRegularExpressionMatch& match : matches)
        upright.replace(match.capturedStart(1), match.capturedLength(1), QLatin1Char('1'));
    return upright;
}

void ApplyToBitmap(FIBITMAP* dib, const FiMetadata& fields, FREE_IMAGE_FORMAT target)
{
    if (!dib)
        return;
    for (const FiMetadataField& field : fields) {
        const bool comment = field.category == Comments || (target == FIF_PNG && field.category == Custom);
        if (comment) {
            const QByteArray key = field.name.toUtf8();
            const QByteArray value = field.value.toUtf8();
            FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, dib, key.constData(), value.constData());
        } else if (target == FIF_PNG && field.category == Xmp && field.name == kXmpField) {
            const QByteArray packet = UprightXmp(field.value).toUtf8();
            FreeImage_SetMetadataKeyValue(FIMD_XMP, dib, "XMLPacket", packet.constData());
        }
    }
}

bool ApplyWithExiv2(QByteArray& file, const FiMetadata& fields, const QImage& image)
{
    const QString comment = JoinedComment(fields);
    const QString packet = UprightXmp(FieldValue(fields, Xmp, kXmpField));
    bool hasIptc = false;
    bool hasRawExif = false;
    for (const FiMetadataField& field : fields) {
        hasIptc = hasIptc || field.category == Iptc;
        hasRawExif = hasRawExif || field.category == ExifRaw;
    }
    if (!hasRawExif && comment.isEmpty() && packet.isEmpty() && !hasIptc)
        return true;

    FiLibrary::Ensure();
    try {
        // A damaged block is left out; the rest is still written.
        Exiv2::ExifData exif;
        bool hasExif = false;
        try {
            hasExif = DecodeRawExif(fields, exif);
        } catch (const std::exception& e) {
            qCDebug(lcKorvaneFi) << "Exif block not decoded:" << e.what();
            exif.clear();
        }
        std::unique_ptr<Exiv2::Image> target(
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(file.constData()), long(file.size()))
                .release());
        if (!target)
            return false;
        target->readMetadata();
        const bool tiff = target->mimeType() == "image/tiff";

        if (hasExif) {
            FitExif(exif, tiff, image);
            if (tiff) {
                // The file's own layout tags stay; the source's descriptive tags join them.
                Exiv2::ExifData merged = target->exifData();
                for (const Exiv2::Exifdatum& datum : exif)
                    merged[datum.key()] = datum.value();
                exif = merged;
            }
        } else {
            exif = target->exifData();
        }
        if (tiff && !comment.isEmpty())
            exif["Exif.Image.ImageDescription"] = comment.toStdString();
        target->setExifData(exif);
        if (!tiff && !comment.isEmpty())
            target->setComment(comment.toStdString());
        if (hasIptc)
            target->setIptcData(BuildIptc(fields));
        if (!packet.isEmpty()) {
            target->setXmpPacket(packet.toStdString());
            target->writeXmpFromPacket(true);
        }
        target->writeMetadata();

        Exiv2::BasicIo& io = target->io();
        if (io.open() != 0)
            return false;
        const long size = long(io.size());
        const Exiv2::DataBuf buffer = io.read(size);
        io.close();
        if (buffer.size_ != size || size <= 0)
            return false;
        file = QByteArray(reinterpret_cast<const char*>(buffer.pData_), int(buffer.size_));
        return true;
    } catch (const std::exception& e) {
        qCDebug(lcKorvaneFi) << "Exiv2 cannot write the metadata:" << e.what();
        return false;
    } catch (...) {
        return false;
    }
}

} // namespace FiMetadataIO
