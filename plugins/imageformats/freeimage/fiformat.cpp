#include "fiformat.h"

#include <QIODevice>

#include <cstring>

namespace {

struct KeyInfo
{
    const char* key;
    FREE_IMAGE_FORMAT fif;
    bool write;
};

// Claimed because nothing installed reads or writes them, because Qt's
// handlers cannot honour the options or the metadata (JPEG, PNG, GIF, TIFF,
// ICO, WebP), because Qt knows the extension only by content (jif, jpe, jps,
// targa, wap, wbm), or because Qt's writer is broken (wbmp: widths from 128 on
// lose a byte of their header). BMP, PNM, TGA, XBM, XPM, SVG, PSD, PCX, SGI,
// MNG, Sun Raster and the other suffixes stay with Qt.
const KeyInfo kKeys[] = {
    {"jpg", FIF_JPEG, true},   {"jpeg", FIF_JPEG, true},  {"jpe", FIF_JPEG, true},
    {"jif", FIF_JPEG, true},   {"jps", FIF_JPEG, false},
    {"png", FIF_PNG, true},    {"gif", FIF_GIF, true},
    {"tif", FIF_TIFF, true},   {"tiff", FIF_TIFF, true},
    {"ico", FIF_ICO, true},    {"webp", FIF_WEBP, true},
    {"jng", FIF_JNG, true},
    {"j2k", FIF_J2K, true},    {"j2c", FIF_J2K, true},    {"jp2", FIF_JP2, true},
    {"jxr", FiFormat::FifJpegXr, true}, {"hdp", FiFormat::FifJpegXr, true},
    {"wdp", FiFormat::FifJpegXr, true},
    {"hdr", FIF_HDR, true},    {"pfm", FIF_PFM, true},
    {"targa", FIF_TARGA, true}, {"wap", FIF_WBMP, true}, {"wbm", FIF_WBMP, true},
    {"wbmp", FIF_WBMP, true},
    {"dds", FIF_DDS, false},   {"cut", FIF_CUT, false},
    {"iff", FIF_IFF, false},   {"lbm", FIF_IFF, false},
    {"koa", FIF_KOALA, false}, {"pcd", FIF_PCD, false},
    {"pct", FIF_PICT, false},  {"pict", FIF_PICT, false}, {"pic", FIF_PICT, false},
    // Camera raw, decoded by LibRaw inside FreeImage; claimed so that their
    // Exif data reaches the preview and JPEG or TIFF targets.
    {"3fr", FIF_RAW, false},   {"arw", FIF_RAW, false},   {"bay", FIF_RAW, false},
    {"cap", FIF_RAW, false},   {"cine", FIF_RAW, false},  {"cr2", FIF_RAW, false},
    {"crw", FIF_RAW, false},   {"cs1", FIF_RAW, false},   {"dc2", FIF_RAW, false},
    {"dcr", FIF_RAW, false},   {"dng", FIF_RAW, false},   {"drf", FIF_RAW, false},
    {"dsc", FIF_RAW, false},   {"erf", FIF_RAW, false},   {"fff", FIF_RAW, false},
    {"ia", FIF_RAW, false},    {"iiq", FIF_RAW, false},   {"k25", FIF_RAW, false},
    {"kc2", FIF_RAW, false},   {"kdc", FIF_RAW, false},   {"mdc", FIF_RAW, false},
    {"mef", FIF_RAW, false},   {"mos", FIF_RAW, false},   {"mrw", FIF_RAW, false},
    {"nef", FIF_RAW, false},   {"nrw", FIF_RAW, false},   {"orf", FIF_RAW, false},
    {"pef", FIF_RAW, false},   {"ptx", FIF_RAW, false},   {"pxn", FIF_RAW, false},
    {"qtk", FIF_RAW, false},   {"r3d", FIF_RAW, false},   {"raf", FIF_RAW, false},
    {"raw", FIF_RAW, false},   {"rdc", FIF_RAW, false},   {"rw2", FIF_RAW, false},
    {"rwl", FIF_RAW, false},   {"rwz", FIF_RAW, false},   {"sr2", FIF_RAW, false},
    {"srf", FIF_RAW, false},   {"srw", FIF_RAW, false},   {"sti", FIF_RAW, false},
    {"x3f", FIF_RAW, false},
    // Read only through Qt's own readers of them, each decode in a child
    // process (their readers crash, stall or allocate gigabytes on damaged
    // files); claimed here so that Qt does not load those readers into the
    // program. Targa is written through Qt's writer.
    {"mng", FIF_UNKNOWN, false}, {"tga", FIF_UNKNOWN, true},  {"pcx", FIF_UNKNOWN, false},
    {"ras", FIF_UNKNOWN, false}, {"sgi", FIF_UNKNOWN, false}, {"rgb", FIF_UNKNOWN, false},
    {"rgba", FIF_UNKNOWN, false}, {"bw", FIF_UNKNOWN, false}, {"psd", FIF_UNKNOWN, false},
    {"psb", FIF_UNKNOWN, false}, {"pdd", FIF_UNKNOWN, false}, {"psdt", FIF_UNKNOWN, false},
    {"svg", FIF_UNKNOWN, false}, {"svgz", FIF_UNKNOWN, false},
    // BMP is decoded by Qt's built-in reader, after the check that its pixel
    // rows are all there (that reader fills missing rows with black); Qt's
    // built-in writer writes it.
    {"bmp", FIF_UNKNOWN, false},
    // HEIF is read by the plugin's own libheif reader and AVIF and JPEG XL by
    // Qt's readers of them, all in a child process; the three are written
    // by the plugin (heifcodec, avifcodec, jxlcodec).
    {"heif", FIF_UNKNOWN, true}, {"heic", FIF_UNKNOWN, true},
    {"avif", FIF_UNKNOWN, true}, {"avifs", FIF_UNKNOWN, false},
    {"jxl", FIF_UNKNOWN, true},
};

const KeyInfo* Find(const QByteArray& key)
{
    for (const KeyInfo& info : kKeys) {
        if (key == info.key)
            return &info;
    }
    return nullptr;
}

bool StartsWith(const QByteArray& head, const char* magic, int length, int offset = 0)
{
    return head.size() >= offset + length && std::memcmp(head.constData() + offset, magic, size_t(length)) == 0;
}

// Version 2 PICT: the version opcode 0x0011 0x02FF follows the size and the
// frame, after an optional 512-byte file header.
bool IsPict(const QByteArray& head)
{
    static const char version2[] = {'\x00', '\x11', '\x02', '\xFF'};
    return StartsWith(head, version2, 4, 10) || StartsWith(head, version2, 4, 522);
}

} // namespace

namespace FiFormat {

QList<QByteArray> Keys()
{
    QList<QByteArray> keys;
    for (const KeyInfo& info : kKeys)
        keys << QByteArray(info.key);
    return keys;
}

bool CanReadKey(const QByteArray& key)
{
    return Find(key) != nullptr;
}

bool IsQtOnlyKey(const QByteArray& key)
{
    const KeyInfo* info = Find(key);
    return info && info->fif == FIF_UNKNOWN;
}

bool CanWriteKey(const QByteArray& key)
{
    const KeyInfo* info = Find(key);
    return info && info->write;
}

FREE_IMAGE_FORMAT FromKey(const QByteArray& key)
{
    const KeyInfo* info = Find(key);
    return info ? info->fif : FIF_UNKNOWN;
}

FREE_IMAGE_FORMAT Sniff(const QByteArray& head)
{
    if (StartsWith(head, "\xFF\xD8\xFF", 3))
        return FIF_JPEG;
    if (StartsWith(head, "\x89PNG\r\n\x1A\n", 8))
        return FIF_PNG;
    if (StartsWith(head, "\x8BJNG\r\n\x1A\n", 8))
        return FIF_JNG;
    if (StartsWith(head, "GIF87a", 6) || StartsWith(head, "GIF89a", 6))
        return FIF_GIF;
    // Classic TIFF, then BigTIFF.
    if (StartsWith(head, "II*\0", 4) || StartsWith(head, "MM\0*", 4) || StartsWith(head, "II+\0", 4)
        || StartsWith(head, "MM\0+", 4))
        return FIF_TIFF;
    if (StartsWith(head, "II\xBC", 3))
        return FifJpegXr;
    if (StartsWith(head, "\0\0\0\x0CjP  \r\n\x87\n", 12))
        return FIF_JP2;
    if (StartsWith(head, "\xFF\x4F\xFF\x51", 4))
        return FIF_J2K;
    if (StartsWith(head, "DDS ", 4))
        return FIF_DDS;
    if (StartsWith(head, "PF\n", 3) || StartsWith(head, "Pf\n", 3))
        return FIF_PFM;
    if (StartsWith(head, "#?RADIANCE", 10) || StartsWith(head, "#?RGBE", 6))
        return FIF_HDR;
    if (StartsWith(head, "RIFF", 4) && StartsWith(head, "WEBP", 4, 8))
        return FIF_WEBP;
    if (StartsWith(head, "FORM", 4) && (StartsWith(head, "ILBM", 4, 8) || StartsWith(head, "PBM ", 4, 8)))
        return FIF_IFF;
    return FIF_UNKNOWN;
}

bool LooksLikeSvg(const QByteArray& head)
{
    const QByteArray text = head.trimmed();
    return text.startsWith('<') && head.contains("<svg");
}

FREE_IMAGE_FORMAT Sniff(QIODevice* device)
{
    if (!device || !device->isReadable())
        return FIF_UNKNOWN;
    return Sniff(device->peek(16));
}

FREE_IMAGE_FORMAT Resolve(const QByteArray& head, const QByteArray& key)
{
    const FREE_IMAGE_FORMAT named = FromKey(key);
    const FREE_IMAGE_FORMAT sniffed = Sniff(head);
    if (named == FIF_RAW && (sniffed == FIF_UNKNOWN || sniffed == FIF_TIFF))
        return FIF_RAW;
    if (sniffed != FIF_UNKNOWN)
        return sniffed;
    // "pic" is also Softimage's key: only a PICT signature claims it.
    if (named == FIF_PICT && key == "pic")
        return IsPict(head) ? FIF_PICT : FIF_UNKNOWN;
    return named;
}

bool IsIsolated(FREE_IMAGE_FORMAT fif)
{
    switch (fif) {
    case FIF_JXR: case FIF_JNG: case FIF_PICT: case FIF_CUT: case FIF_KOALA: case FIF_IFF: case FIF_DDS:
    case FIF_J2K: case FIF_JP2:
    case FIF_PCD: case FIF_WBMP: case FIF_RAW: case FIF_HDR: case FIF_PFM: case FIF_TARGA:
        return true;
    default:
        return false;
    }
}

bool IsMultiPage(FREE_IMAGE_FORMAT fif)
{
    return fif == FIF_TIFF || fif == FIF_GIF || fif == FIF_ICO;
}

int LoadFlags(FREE_IMAGE_FORMAT fif)
{
    switch (fif) {
    case FIF_JPEG:
        return JPEG_ACCURATE;     // the same islow IDCT as Qt's reader
    case FIF_PNG:
        return PNG_IGNOREGAMMA;   // as Qt's reader: samples as stored
    case FIF_GIF:
        return GIF_PLAYBACK;      // frames composed as they are shown
    case FIF_ICO:
        return ICO_MAKEALPHA;     // the AND mask becomes alpha
    case FIF_RAW:
        return RAW_DISPLAY;       // demosaiced 8-bit sRGB
    default:
        return 0;
    }
}

} // namespace FiFormat
