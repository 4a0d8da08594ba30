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

} // namespace

namespace FiSanitize {

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
