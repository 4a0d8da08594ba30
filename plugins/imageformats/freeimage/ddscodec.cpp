#include "ddscodec.h"

#include <QtEndian>

#include <cstring>

namespace {

const qint64 kMaxPixels = qint64(1) << 28;

// The legacy header: "DDS ", then 124 bytes with the pixel format at 76.
const int kHeaderSize = 128;
const int kDx10HeaderSize = 20;

// Pixel format flags.
const quint32 kAlphaPixels = 0x1;
const quint32 kAlphaOnly = 0x2;
const quint32 kFourCc = 0x4;
const quint32 kPalette8 = 0x20;
const quint32 kRgb = 0x40;
const quint32 kLuminance = 0x20000;

constexpr quint32 FourCc(const char (&code)[5])
{
    return quint32(uchar(code[0])) | quint32(uchar(code[1])) << 8 | quint32(uchar(code[2])) << 16
         | quint32(uchar(code[3])) << 24;
}

struct Header
{
    bool valid = false;
    qint64 width = 0;
    qint64 height = 0;
    quint32 flags = 0;      // of the pixel format
    quint32 fourCc = 0;
    quint32 bits = 0;
    quint32 masks[4] = {0, 0, 0, 0};   // red (luminance), green, blue, alpha
    quint32 dxgi = 0;       // with the DX10 extension only
    int dataOffset = kHeaderSize;
};

inline quint32 Le32(const QByteArray& file, int at)
{
    return qFromLittleEndian<quint32>(file.constData() + at);
}

Header ReadHeader(const QByteArray& file)
{
    Header header;
    if (file.size() < kHeaderSize || std::memcmp(file.constData(), "DDS ", 4) != 0 || Le32(file, 4) != 124)
        return header;
    header.height = Le32(file, 12);
    header.width = Le32(file, 16);
    header.flags = Le32(file, 80);
    header.fourCc = Le32(file, 84);
    header.bits = Le32(file, 88);
    for (int i = 0; i < 4; ++i)
        header.masks[i] = Le32(file, 92 + 4 * i);
    if ((header.flags & kFourCc) && header.fourCc == FourCc("DX10")) {
        if (file.size() < kHeaderSize + kDx10HeaderSize)
            return header;
        header.dxgi = Le32(file, kHeaderSize);
        header.dataOffset = kHeaderSize + kDx10HeaderSize;
    }
    header.valid = header.width > 0 && header.height > 0 && header.width <= kMaxPixels
                && header.height <= kMaxPixels / header.width;
    return header;
}

// How the first surface's bytes are laid out.
struct Layout
{
    enum Kind { None, Masks, Palette, Bc1, Bc2, Bc3, Bc4, Bc5 } kind = None;
    int bits = 0;                      // a pixel, for Masks
    quint64 masks[4] = {0, 0, 0, 0};   // red (luminance), green, blue, alpha
    bool grey = false;                 // luminance in the red mask
    bool signedBlocks = false;         // BC4 and BC5 SNORM
};

Layout WithMasks(int bits, quint64 red, quint64 green, quint64 blue, quint64 alpha, bool grey = false)
{
    Layout layout;
    layout.kind = Layout::Masks;
    layout.bits = bits;
    layout.masks[0] = red;
    layout.masks[1] = green;
    layout.masks[2] = blue;
    layout.masks[3] = alpha;
    layout.grey = grey;
    return layout;
}

Layout Blocks(Layout::Kind kind, bool signedBlocks = false)
{
    Layout layout;
    layout.kind = kind;
    layout.signedBlocks = signedBlocks;
    return layout;
}

// The DXGI formats of the DX10 extension that are read.
Layout FromDxgi(quint32 dxgi)
{
    switch (dxgi) {
    case 10: case 11:                     // R16G16B16A16 typeless, unorm
        return WithMasks(64, 0xFFFF, 0xFFFF0000, 0xFFFF00000000, 0xFFFF000000000000);
    case 23: case 24:                     // R10G10B10A2 typeless, unorm
        return WithMasks(32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000);
    case 27: case 28: case 29:            // R8G8B8A8 typeless, unorm, sRGB
        return WithMasks(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    case 85:                              // B5G6R5
        return WithMasks(16, 0xF800, 0x7E0, 0x1F, 0);
    case 86:                              // B5G5R5A1
        return WithMasks(16, 0x7C00, 0x3E0, 0x1F, 0x8000);
    case 87: case 90: case 91:            // B8G8R8A8 unorm, typeless, sRGB
        return WithMasks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    case 88: case 92: case 93:            // B8G8R8X8 unorm, typeless, sRGB
        return WithMasks(32, 0xFF0000, 0xFF00, 0xFF, 0);
    case 115:                             // B4G4R4A4
        return WithMasks(16, 0xF00, 0xF0, 0xF, 0xF000);
    case 79: case 80:                     // BC4 typeless, unorm
        return Blocks(Layout::Bc4);
    case 81:
        return Blocks(Layout::Bc4, true);
    case 82: case 83:                     // BC5 typeless, unorm
        return Blocks(Layout::Bc5);
    case 84:
        return Blocks(Layout::Bc5, true);
    case 70: case 71: case 72:            // BC1 typeless, unorm, sRGB
        return Blocks(Layout::Bc1);
    case 73: case 74: case 75:            // BC2
        return Blocks(Layout::Bc2);
    case 76: case 77: case 78:            // BC3
        return Blocks(Layout::Bc3);
    default:
        return Layout();
    }
}

// A mask is one run of set bits inside the pixel.
bool MaskFits(quint64 mask, int bits)
{
    if (mask == 0)
        return true;
    if (bits < 64 && (mask >> bits) != 0)
        return false;
    while (!(mask & 1))
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

Layout LayoutOf(const Header& header)
{
    if (!header.valid)
        return Layout();
    if (header.flags & kFourCc) {
        switch (header.fourCc) {
        case FourCc("DX10"):
            return FromDxgi(header.dxgi);
        case FourCc("DXT1"):
            return Blocks(Layout::Bc1);
        case FourCc("DXT3"):
            return Blocks(Layout::Bc2);
        case FourCc("DXT5"):
            return Blocks(Layout::Bc3);
        case FourCc("ATI1"): case FourCc("BC4U"):
            return Blocks(Layout::Bc4);
        case FourCc("BC4S"):
            return Blocks(Layout::Bc4, true);
        case FourCc("ATI2"): case FourCc("BC5U"):
            return Blocks(Layout::Bc5);
        case FourCc("BC5S"):
            return Blocks(Layout::Bc5, true);
        case 36:                          // A16B16G16R16
            return WithMasks(64, 0xFFFF, 0xFFFF0000, 0xFFFF00000000, 0xFFFF000000000000);
        default:
            return Layout();              // floats, signed, YUV and the rest
        }
    }
    if (header.flags & kPalette8)
        return Blocks(Layout::Palette);
    const int bits = int(header.bits);
    const quint32 alpha = (header.flags & (kAlphaPixels | kAlphaOnly)) ? header.masks[3] : 0;
    Layout layout;
    if (header.flags & kRgb) {
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return Layout();
        layout = WithMasks(bits, header.masks[0], header.masks[1], header.masks[2], alpha);
        if (header.masks[0] == 0 && header.masks[1] == 0 && header.masks[2] == 0)
            return Layout();
        // 10:10:10:2 under the legacy header: common writers store red and
        // blue the other way round from their masks, others do not, and
        // nothing in the file tells which (the DX10 header is unambiguous).
        if (header.masks[1] == 0xFFC00 && (header.masks[0] == 0x3FF || header.masks[0] == 0x3FF00000))
            return Layout();
    } else if (header.flags & kLuminance) {
        // Luminance is L8, L16, A4L4 or A8L8; some writers leave its mask
        // outside the pixel, meaning all of the bits alpha leaves.
        if (bits != 8 && bits != 16)
            return Layout();
        quint64 luminance = header.masks[0];
        if (luminance == 0 || !MaskFits(luminance, bits) || (luminance & alpha))
            luminance = ((quint64(1) << bits) - 1) & ~quint64(alpha);
        layout = WithMasks(bits, luminance, 0, 0, alpha, true);
    } else if (header.flags & kAlphaOnly) {
        if (bits != 8 && bits != 16)
            return Layout();
        layout = WithMasks(bits, 0, 0, 0, header.masks[3]);
        if (header.masks[3] == 0)
            return Layout();
    } else {
        return Layout();                  // bump maps, 4-bit palettes and the like
    }
    for (const quint64 mask : layout.masks) {
        if (!MaskFits(mask, bits))
            return Layout();
    }
    return layout;
}

struct Channel
{
    int shift = 0;
    quint64 max = 0;   // the largest value; 0 when the channel is absent
};

Channel ChannelOf(quint64 mask)
{
    Channel channel;
    if (mask == 0)
        return channel;
    while (!((mask >> channel.shift) & 1))
        ++channel.shift;
    channel.max = mask >> channel.shift;
    return channel;
}

// value of max to 0..scale, rounded down.
inline quint32 Scale(quint64 value, quint64 max, quint32 scale)
{
    return quint32(value * scale / max);
}

QImage DecodeMasks(const uchar* data, qint64 available, int width, int height, const Layout& layout)
{
    const int bytes = layout.bits / 8;
    if (qint64(width) * height * bytes > available)
        return QImage();
    Channel channels[4];
    bool deep = false;
    for (int i = 0; i < 4; ++i) {
        channels[i] = ChannelOf(layout.masks[i]);
        deep = deep || channels[i].max > 255;
    }
    const bool alpha = channels[3].max != 0;
    QImage::Format format;
    if (layout.grey && !alpha)
        format = deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
    else if (deep)
        format = alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
    else
        format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage image(width, height, format);
    if (image.isNull())
        return image;

    const quint32 scale = deep ? 65535 : 255;
    const uchar* in = data;
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x, in += bytes) {
            quint64 pixel = 0;
            for (int b = 0; b < bytes; ++b)
                pixel |= quint64(in[b]) << (8 * b);
            quint32 value[4];
            for (int i = 0; i < 4; ++i) {
                const Channel& c = channels[i];
                value[i] = c.max ? Scale((pixel >> c.shift) & c.max, c.max, scale) : 0;
            }
            if (layout.grey)
                value[1] = value[2] = value[0];
            if (!alpha)
                value[3] = scale;
            switch (format) {
            case QImage::Format_Grayscale8:
                line[x] = uchar(value[0]);
                break;
            case QImage::Format_Grayscale16:
                reinterpret_cast<quint16*>(line)[x] = quint16(value[0]);
                break;
            case QImage::Format_RGBA64:
            case QImage::Format_RGBX64:
                reinterpret_cast<QRgba64*>(line)[x] = QRgba64::fromRgba64(quint16(value[0]), quint16(value[1]),
                                                                          quint16(value[2]), quint16(value[3]));
                break;
            default:
                reinterpret_cast<QRgb*>(line)[x] = qRgba(int(value[0]), int(value[1]), int(value[2]), int(value[3]));
                break;
            }
        }
    }
    return image;
}

// 256 entries of red, green, blue and alpha, then a byte a pixel. A palette
// whose alpha is 0 throughout keeps no alpha (those bytes were flags).
QImage DecodePalette(const uchar* data, qint64 available, int width, int height)
{
    if (1024 + qint64(width) * height > available)
        return QImage();
    QRgb palette[256];
    bool anyAlpha = false;
    for (int i = 0; i < 256; ++i) {
        const uchar* entry = data + 4 * i;
        palette[i] = qRgba(entry[0], entry[1], entry[2], entry[3]);
        anyAlpha = anyAlpha || entry[3] != 0;
    }
    QImage image(width, height, anyAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const uchar* in = data + 1024;
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = anyAlpha ? palette[*in++] : (palette[*in++] | 0xFF000000u);
    }
    return image;
}

// One channel of a 4 x 4 block: two 8-bit end points (signed ones offset by
// 128) and a 3-bit index a pixel into the eight values between them.
void DecodeChannelBlock(const uchar* block, bool signedValues, uchar out[16])
{
    const int a0 = signedValues ? int(qint8(block[0])) + 128 : block[0];
    const int a1 = signedValues ? int(qint8(block[1])) + 128 : block[1];
    int values[8] = {a0, a1, 0, 0, 0, 0, 0, 255};
    if (a0 > a1) {
        for (int i = 1; i <= 6; ++i)
            values[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (int i = 1; i <= 4; ++i)
            values[i + 1] = ((5 - i) * a0 + i * a1) / 5;
    }
    quint64 indices = 0;
    for (int b = 0; b < 6; ++b)
        indices |= quint64(block[2 + b]) << (8 * b);
    for (int i = 0; i < 16; ++i)
        out[i] = uchar(values[(indices >> (3 * i)) & 7]);
}

// A colour block: two RGB 5:6:5 end points and a 2-bit index a pixel. With
// the first end point not above the second, BC1 has three colours and
// transparent black; BC2 and BC3 always have four.
void DecodeColourBlock(const uchar* block, bool threeColours, QRgb out[16])
{
    const int c0 = block[0] | block[1] << 8;
    const int c1 = block[2] | block[3] << 8;
    auto expand = [](int c, int* rgb) {
        rgb[0] = (c >> 8 & 0xF8) | (c >> 13);
        rgb[1] = (c >> 3 & 0xFC) | (c >> 9 & 0x3);
        rgb[2] = (c << 3 & 0xF8) | (c >> 2 & 0x7);
    };
    int e0[3];
    int e1[3];
    expand(c0, e0);
    expand(c1, e1);
    QRgb colours[4] = {qRgb(e0[0], e0[1], e0[2]), qRgb(e1[0], e1[1], e1[2]), 0, 0};
    if (threeColours && c0 <= c1) {
        colours[2] = qRgb((e0[0] + e1[0]) / 2, (e0[1] + e1[1]) / 2, (e0[2] + e1[2]) / 2);
        colours[3] = qRgba(0, 0, 0, 0);
    } else {
        colours[2] = qRgb((2 * e0[0] + e1[0]) / 3, (2 * e0[1] + e1[1]) / 3, (2 * e0[2] + e1[2]) / 3);
        colours[3] = qRgb((e0[0] + 2 * e1[0]) / 3, (e0[1] + 2 * e1[1]) / 3, (e0[2] + 2 * e1[2]) / 3);
    }
    const quint32 indices = quint32(block[4]) | quint32(block[5]) << 8 | quint32(block[6]) << 16
                          | quint32(block[7]) << 24;
    for (int i = 0; i < 16; ++i)
        out[i] = colours[(indices >> (2 * i)) & 3];
}

// Blocks of 4 x 4 pixels. BC1: colour with on/off alpha; BC2: 4-bit alpha
// then colour; BC3: interpolated alpha then colour; BC4: grey; BC5: red and
// green, with blue at the channels' zero.
QImage DecodeBlocks(const uchar* data, qint64 available, int width, int height, const Layout& layout)
{
    const Layout::Kind kind = layout.kind;
    const int blockBytes = kind == Layout::Bc1 || kind == Layout::Bc4 ? 8 : 16;
    const qint64 across = (qint64(width) + 3) / 4;
    const qint64 down = (qint64(height) + 3) / 4;
    if (across * down * blockBytes > available)
        return QImage();
    QImage::Format format = QImage::Format_ARGB32;
    if (kind == Layout::Bc4)
        format = QImage::Format_Grayscale8;
    else if (kind == Layout::Bc5)
        format = QImage::Format_RGB32;
    QImage image(width, height, format);
    if (image.isNull())
        return image;
    const int blue = layout.signedBlocks ? 128 : 0;
    const uchar* block = data;
    for (qint64 by = 0; by < down; ++by) {
        for (qint64 bx = 0; bx < across; ++bx, block += blockBytes) {
            QRgb colours[16];
            uchar first[16];
            uchar second[16];
            switch (kind) {
            case Layout::Bc1:
                DecodeColourBlock(block, true, colours);
                break;
            case Layout::Bc2:
                DecodeColourBlock(block + 8, false, colours);
                for (int i = 0; i < 16; ++i)
                    first[i] = uchar(((block[i / 2] >> (4 * (i % 2))) & 0xF) * 17);
                break;
            case Layout::Bc3:
                DecodeChannelBlock(block, false, first);
                DecodeColourBlock(block + 8, false, colours);
                break;
            case Layout::Bc5:
                DecodeChannelBlock(block + 8, layout.signedBlocks, second);
                Q_FALLTHROUGH();
            default:
                DecodeChannelBlock(block, layout.signedBlocks, first);
                break;
            }
            for (int i = 0; i < 16; ++i) {
                const qint64 x = bx * 4 + i % 4;
                const qint64 y = by * 4 + i / 4;
                if (x >= width || y >= height)
                    continue;
                uchar* line = image.scanLine(int(y));
                QRgb* rgb = reinterpret_cast<QRgb*>(line);
                switch (kind) {
                case Layout::Bc1:
                    rgb[x] = colours[i];
                    break;
                case Layout::Bc2:
                case Layout::Bc3:
                    rgb[x] = (colours[i] & 0xFFFFFFu) | quint32(first[i]) << 24;
                    break;
                case Layout::Bc4:
                    line[x] = first[i];
                    break;
                default:
                    rgb[x] = qRgb(first[i], second[i], blue);
                    break;
                }
            }
        }
    }
    return image;
}

} // namespace

namespace DdsCodec {

bool Decodes(const QByteArray& file)
{
    return LayoutOf(ReadHeader(file)).kind != Layout::None;
}

QImage Decode(const QByteArray& file)
{
    const Header header = ReadHeader(file);
    const Layout layout = LayoutOf(header);
    const uchar* data = reinterpret_cast<const uchar*>(file.constData()) + header.dataOffset;
    const qint64 available = file.size() - header.dataOffset;
    const int width = int(header.width);
    const int height = int(header.height);
    switch (layout.kind) {
    case Layout::None:
        return QImage();
    case Layout::Masks:
        return DecodeMasks(data, available, width, height, layout);
    case Layout::Palette:
        return DecodePalette(data, available, width, height);
    default:
        return DecodeBlocks(data, available, width, height, layout);
    }
}

} // namespace DdsCodec
