#include "fisanitize.h"

#include <QtEndian>

#include <cstring>

namespace {

inline quint16 Le16(const QByteArray& data, qint64 at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

inline quint32 Le32(const QByteArray& data, qint64 at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

inline quint32 Be32(const QByteArray& data, qint64 at)
{
    return qFromBigEndian<quint32>(data.constData() + at);
}

// Skips GIF data sub-blocks from pos; false when they run past the end.
bool SkipSubBlocks(const QByteArray& file, qint64& pos)
{
    while (pos < file.size()) {
        const int length = uchar(file.at(int(pos)));
        ++pos;
        if (length == 0)
            return true;
        pos += length;
    }
    return false;
}

// GIF: frames must lie inside the logical screen (FreeImage composes them
// onto it unchecked) with a valid LZW code size; the file is cut after the
// last frame whose blocks are all complete.
QByteArray Gif(const QByteArray& file)
{
    if (file.size() < 13)
        return QByteArray();
    const int screenWidth = Le16(file, 6);
    const int screenHeight = Le16(file, 8);
    const uchar flags = uchar(file.at(10));
    if (screenWidth == 0 || screenHeight == 0)
        return QByteArray();
    qint64 pos = 13 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    qint64 soundEnd = -1;
    while (pos < file.size()) {
        const uchar introducer = uchar(file.at(int(pos)));
        if (introducer == 0x3B) {
            soundEnd = pos;
            break;
        }
        if (introducer == 0x21) {
            pos += 2;
            if (pos > file.size() || !SkipSubBlocks(file, pos))
                break;
            continue;
        }
        if (introducer != 0x2C || pos + 10 > file.size())
            break;
        const int left = Le16(file, pos + 1);
        const int top = Le16(file, pos + 3);
        const int width = Le16(file, pos + 5);
        const int height = Le16(file, pos + 7);
        const uchar frameFlags = uchar(file.at(int(pos) + 9));
        if (width == 0 || height == 0 || left + width > screenWidth || top + height > screenHeight)
            break;
        pos += 10 + ((frameFlags & 0x80) ? 3 * (2 << (frameFlags & 7)) : 0);
        if (pos >= file.size())
            break;
        const int codeSize = uchar(file.at(int(pos)));
        if (codeSize < 2 || codeSize > 8)
            break;
        ++pos;
        if (!SkipSubBlocks(file, pos))
            break;
        soundEnd = pos;
    }
    if (soundEnd < 0)
        return QByteArray();
    if (soundEnd + 1 == file.size() && uchar(file.at(int(soundEnd))) == 0x3B)
        return file;
    return file.left(int(soundEnd)) + QByteArray(1, '\x3B');
}

// ICO and CUR: only directory entries whose picture lies inside the file and
// is a PNG or a plain bitmap of icon size and a known depth are kept.
QByteArray Icon(const QByteArray& file)
{
    if (file.size() < 6 || Le16(file, 0) != 0 || (Le16(file, 2) != 1 && Le16(file, 2) != 2))
        return QByteArray();
    const int count = Le16(file, 4);
    if (count == 0 || 6 + 16 * qint64(count) > file.size())
        return QByteArray();
    QByteArray sound = file;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const qint64 entry = 6 + 16 * i;
        const qint64 size = Le32(file, entry + 8);
        const qint64 offset = Le32(file, entry + 12);
        if (size < 40 || offset < 6 + 16 * qint64(count) || offset + size > file.size())
            continue;
        bool fine = false;
        if (std::memcmp(file.constData() + offset, "\x89PNG\r\n\x1A\n", 8) == 0) {
            fine = true;
        } else {
            const qint64 headerSize = Le32(file, offset);
            const qint32 width = qint32(Le32(file, offset + 4));
            const qint32 height = qint32(Le32(file, offset + 8));
            const int planes = Le16(file, offset + 12);
            const int bits = Le16(file, offset + 14);
            const quint32 compression = Le32(file, offset + 16);
            const bool knownDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
            if (headerSize == 40 && width > 0 && width <= 256 && height > 0 && height <= 512 && planes <= 1
                && knownDepth && compression == 0) {
                const qint64 rows = height / 2;
                const qint64 colourStride = ((qint64(width) * bits + 31) / 32) * 4;
                const qint64 maskStride = ((qint64(width) + 31) / 32) * 4;
                const qint64 palette = bits <= 8 ? 4 * (qint64(1) << bits) : 0;
                // The AND mask may be missing after 32-bit colour; the colour may not.
                fine = rows > 0 && headerSize + palette + colourStride * rows <= size
                    && (bits == 32 || headerSize + palette + (colourStride + maskStride) * rows <= size);
            }
        }
        if (!fine)
            continue;
        std::memcpy(sound.data() + 6 + 16 * kept, file.constData() + entry, 16);
        ++kept;
    }
    if (kept == 0)
        return QByteArray();
    qToLittleEndian<quint16>(quint16(kept), sound.data() + 4);
    return sound;
}

// JNG: a chunk stream like PNG's. FreeImage reads past a truncated chunk
// forever; the stream is cut after its last complete chunk and closed with
// IEND, and it must hold a header and image data.
QByteArray Jng(const QByteArray& file)
{
    static const char kIend[] = {'\0', '\0', '\0', '\0', 'I', 'E', 'N', 'D', '\xAE', '\x42', '\x60', '\x82'};
    qint64 pos = 8;
    bool header = false;
    bool data = false;
    while (pos + 12 <= file.size()) {
        const qint64 length = Be32(file, pos);
        if (length > 0x7FFFFFFF || pos + 12 + length > file.size())
            break;
        const QByteArray type = file.mid(int(pos) + 4, 4);
        if (pos == 8 && type != "JHDR")
            return QByteArray();
        if (type == "JHDR") {
            if (length != 16 || Be32(file, pos + 8) == 0 || Be32(file, pos + 12) == 0
                || Be32(file, pos + 8) > 65535 || Be32(file, pos + 12) > 65535)
                return QByteArray();
            header = true;
        }
        data = data || type == "JDAT";
        pos += 12 + length;
        if (type == "IEND")
            return header && data ? file.left(int(pos)) : QByteArray();
    }
    if (!header || !data)
        return QByteArray();
    return file.left(int(pos)) + QByteArray(kIend, sizeof(kIend));
}

inline quint16 Be16(const QByteArray& data, qint64 at)
{
    return qFromBigEndian<quint16>(data.constData() + at);
}

// PICT: a picture frame of some size and a version opcode, after or without
// the 512-byte file header. FreeImage's reader loops forever on files cut
// inside them.
bool PictHeader(const QByteArray& file)
{
    for (const qint64 start : {qint64(512), qint64(0)}) {
        if (file.size() < start + 14)
            continue;
        const int top = qint16(Be16(file, start + 2));
        const int left = qint16(Be16(file, start + 4));
        const int bottom = qint16(Be16(file, start + 6));
        const int right = qint16(Be16(file, start + 8));
        const bool version1 = Be16(file, start + 10) == 0x1101;
        const bool version2 = Be16(file, start + 10) == 0x0011 && Be16(file, start + 12) == 0x02FF;
        if ((version1 || version2) && bottom > top && right > left)
            return true;
    }
    return false;
}

// WBMP: type 0, a plain fixed header, then width and height as multi-byte
// integers; every row must be there.
bool WbmpComplete(const QByteArray& file)
{
    if (file.size() < 4 || file.at(0) != 0 || file.at(1) != 0)
        return false;
    qint64 pos = 2;
    qint64 sides[2] = {0, 0};
    for (qint64& side : sides) {
        for (int i = 0;; ++i) {
            if (pos >= file.size() || i == 4)
                return false;
            const uchar byte = uchar(file.at(int(pos++)));
            side = (side << 7) | (byte & 0x7F);
            if (!(byte & 0x80))
                break;
        }
        if (side <= 0 || side > 65535)
            return false;
    }
    return pos + (sides[0] + 7) / 8 * sides[1] <= file.size();
}

// IFF ILBM/PBM: chunks that fit the file up to the body, and a bitmap header
// of sane size and depth before it. FreeImage follows a chunk length past the
// end of the file without stopping.
bool IffHeader(const QByteArray& file)
{
    bool header = false;
    qint64 pos = 12;
    while (pos + 8 <= file.size()) {
        const qint64 length = qFromBigEndian<quint32>(file.constData() + pos + 4);
        if (std::memcmp(file.constData() + pos, "BODY", 4) == 0)
            return header;
        if (pos + 8 + length > file.size())
            return false;
        if (std::memcmp(file.constData() + pos, "BMHD", 4) == 0) {
            if (length < 20)
                return false;
            const qint64 width = Be16(file, pos + 8);
            const qint64 height = Be16(file, pos + 10);
            const int planes = uchar(file.at(int(pos) + 16));
            const int compression = uchar(file.at(int(pos) + 18));
            header = width > 0 && height > 0 && width * height <= (qint64(1) << 26) && planes >= 1 && planes <= 32
                  && compression <= 1;
            if (!header)
                return false;
        }
        pos += 8 + length + (length & 1);
    }
    return false;
}

// JPEG: the segments up to the first scan are walked by their lengths (an
// Exif thumbnail in them has markers of its own), then the end marker must
// follow somewhere after the scan.
bool JpegEndsEarly(const QByteArray& file)
{
    if (file.size() < 4 || uchar(file.at(0)) != 0xFF || uchar(file.at(1)) != 0xD8)
        return false;
    qint64 pos = 2;
    while (pos + 4 <= file.size()) {
        if (uchar(file.at(int(pos))) != 0xFF)
            return true;
        const uchar marker = uchar(file.at(int(pos) + 1));
        if (marker == 0xFF) {        // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9)
            return true;             // an end before any scan
        const qint64 length = qFromBigEndian<quint16>(file.constData() + pos + 2);
        if (marker == 0xDA)
            return file.indexOf("\xFF\xD9", int(pos + 2 + length)) < 0;
        pos += 2 + length;
    }
    return true;
}

// Targa: the colour map and the pixels its header declares, raw or as
// run-length packets.
bool TargaEndsEarly(const QByteArray& file)
{
    if (file.size() < 18)
        return true;
    const int idLength = uchar(file.at(0));
    const int mapType = uchar(file.at(1));
    const int type = uchar(file.at(2));
    const qint64 mapLength = Le16(file, 5);
    const int mapBits = uchar(file.at(7));
    const qint64 width = Le16(file, 12);
    const qint64 height = Le16(file, 14);
    const int bits = uchar(file.at(16));
    const qint64 pixelBytes = (bits + 7) / 8;
    qint64 pos = 18 + idLength + (mapType ? mapLength * ((mapBits + 7) / 8) : 0);
    const qint64 pixels = width * height;
    if (pixelBytes == 0)
        return false;
    if (type == 1 || type == 2 || type == 3)
        return pos + pixels * pixelBytes > file.size();
    if (type == 9 || type == 10 || type == 11) {
        qint64 done = 0;
        while (done < pixels) {
            if (pos >= file.size())
                return true;
            const uchar packet = uchar(file.at(int(pos)));
            const qint64 count = (packet & 0x7F) + 1;
            pos += 1 + ((packet & 0x80) ? pixelBytes : count * pixelBytes);
            if (pos > file.size())
                return true;
            done += count;
        }
    }
    return false;
}

// BMP: uncompressed or bit-field rows of the declared size.
bool BmpEndsEarly(const QByteArray& file)
{
    if (file.size() < 26 || !file.startsWith("BM"))
        return false;
    const qint64 offset = Le32(file, 10);
    const qint64 headerSize = Le32(file, 14);
    qint64 width = 0;
    qint64 height = 0;
    int bits = 0;
    quint32 compression = 0;
    if (headerSize == 12) {
        width = Le16(file, 18);
        height = Le16(file, 20);
        bits = Le16(file, 24);
    } else if (headerSize >= 40 && file.size() >= 34) {
        width = qint32(Le32(file, 18));
        height = qint32(Le32(file, 22));
        bits = Le16(file, 28);
        compression = Le32(file, 30);
    } else {
        return false;
    }
    if (compression != 0 && compression != 3 && compression != 6)
        return false;                // run-length and embedded pictures: their decoders check
    const qint64 rowBytes = (qAbs(width) * bits + 31) / 32 * 4;
    return offset + rowBytes * qAbs(height) > file.size();
}

// JPEG XR in its TIFF-like container: the image (and alpha plane) byte spans
// of the first directory.
bool JxrEndsEarly(const QByteArray& file)
{
    if (file.size() < 8)
        return true;
    const qint64 directory = Le32(file, 4);
    if (directory < 8 || directory + 2 > file.size())
        return true;
    const int entries = Le16(file, directory);
    if (directory + 2 + 12 * qint64(entries) > file.size())
        return true;
    qint64 spans[4] = {-1, -1, -1, -1};     // image offset, count, alpha offset, count
    for (int i = 0; i < entries; ++i) {
        const qint64 entry = directory + 2 + 12 * i;
        const int tag = Le16(file, entry);
        if (tag >= 0xBCC0 && tag <= 0xBCC3)
            spans[tag - 0xBCC0] = Le32(file, entry + 8);
    }
    if (spans[0] < 0 || spans[1] <= 0 || spans[0] + spans[1] > file.size())
        return true;
    if (spans[2] < 0)
        return false;
    // libjxr's own writer records the end of the alpha plane where its byte
    // count belongs; a count at least as large as the start is read as that.
    const qint64 alphaEnd = spans[3] >= spans[2] ? spans[3] : spans[2] + spans[3];
    return spans[2] >= file.size() || alphaEnd > file.size();
}

} // namespace

namespace FiSanitize {

bool EndsEarly(const QByteArray& file, const QByteArray& key)
{
    if (file.startsWith("\xFF\xD8"))
        return JpegEndsEarly(file);
    if (file.startsWith("II\xBC"))
        return JxrEndsEarly(file);
    if (file.startsWith("GIF8"))
        return WholeGifFrames(file).isEmpty();
    if (file.startsWith("BM"))
        return BmpEndsEarly(file);
    if (key == "tga" || key == "targa")
        return TargaEndsEarly(file);
    return false;
}

QByteArray WholeGifFrames(const QByteArray& file)
{
    if (file.size() < 13)
        return QByteArray();
    const uchar flags = uchar(file.at(10));
    qint64 pos = 13 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    qint64 whole = -1;
    while (pos < file.size()) {
        const uchar introducer = uchar(file.at(int(pos)));
        if (introducer == 0x3B)
            return whole < 0 ? QByteArray() : file;
        if (introducer == 0x21) {
            pos += 2;
            if (pos > file.size() || !SkipSubBlocks(file, pos))
                break;
            continue;
        }
        if (introducer != 0x2C || pos + 10 > file.size())
            break;
        const uchar frameFlags = uchar(file.at(int(pos) + 9));
        pos += 10 + ((frameFlags & 0x80) ? 3 * (2 << (frameFlags & 7)) : 0) + 1;
        if (pos > file.size() || !SkipSubBlocks(file, pos))
            break;
        whole = pos;
    }
    if (whole < 0)
        return QByteArray();
    return file.left(int(whole)) + QByteArray(1, '\x3B');
}

QByteArray ForDecoding(const QByteArray& file, FREE_IMAGE_FORMAT fif)
{
    switch (fif) {
    case FIF_GIF:
        return Gif(file);
    case FIF_ICO:
        return Icon(file);
    case FIF_JNG:
        return Jng(file);
    case FIF_PICT:
        return PictHeader(file) ? file : QByteArray();
    case FIF_IFF:
        return IffHeader(file) ? file : QByteArray();
    case FIF_WBMP:
        return WbmpComplete(file) ? file : QByteArray();
    case FIF_KOALA:
        // Load address, bitmap, screen and colour memory, background.
        return file.size() >= 10001 ? file : QByteArray();
    case FIF_PCD:
        // The 768 x 512 base image starts at 0x30000, 1.5 bytes a pixel.
        return file.size() >= 0x30000 + 768 * 512 * 3 / 2 ? file : QByteArray();
    case FIF_CUT:
        return file.size() > 8 && Le16(file, 0) > 0 && Le16(file, 2) > 0 ? file : QByteArray();
    default:
        return file;
    }
}

} // namespace FiSanitize
