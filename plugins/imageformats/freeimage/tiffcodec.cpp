#include "tiffcodec.h"

#include "filibrary.h"

#include <QColorSpace>
#include <QtEndian>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include <tiffio.h>

namespace {

// Pages beyond this many pixels are refused before anything is allocated.
const qint64 kMaxPixels = qint64(1) << 28;

// No single buffer libtiff allocates for a damaged file may exceed this.
const tmsize_t kMaxSingleAllocation = tmsize_t(1) << 30;

// The file as libtiff sees it: a read-only stream over the bytes in memory.
struct Source
{
    const char* data = nullptr;
    toff_t size = 0;
    toff_t position = 0;
    bool logged = true;     // false in the child process, where Qt logging may deadlock
};

tmsize_t ReadStream(thandle_t handle, void* buffer, tmsize_t count)
{
    Source* source = static_cast<Source*>(handle);
    if (count <= 0 || source->position >= source->size)
        return 0;
    const toff_t length = std::min<toff_t>(toff_t(count), source->size - source->position);
    std::memcpy(buffer, source->data + source->position, size_t(length));
    source->position += length;
    return tmsize_t(length);
}

tmsize_t WriteStream(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t SeekStream(thandle_t handle, toff_t offset, int whence)
{
    Source* source = static_cast<Source*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = source->position;
    else if (whence == SEEK_END)
        base = source->size;
    else if (whence != SEEK_SET)
        return toff_t(-1);
    // libtiff passes negative relative offsets as their two's complement.
    const toff_t target = base + offset;
    if (whence != SEEK_SET && ((offset >> 63) ? target > base : target < base))
        return toff_t(-1);
    source->position = target;
    return target;
}

int CloseStream(thandle_t)
{
    return 0;
}

toff_t StreamSize(thandle_t handle)
{
    return static_cast<Source*>(handle)->size;
}

// libtiff reads strips straight from the bytes in memory; it never writes
// to a mapped file.
int MapStream(thandle_t handle, void** base, toff_t* size)
{
    const Source* source = static_cast<const Source*>(handle);
    *base = const_cast<char*>(source->data);
    *size = source->size;
    return 1;
}

void UnmapStream(thandle_t, void*, toff_t)
{
}

// libtiff's warnings and errors, per open file (so threads never share a
// handler); 1 keeps them from libtiff's global handler, which prints.
int Message(TIFF*, void* user, const char* module, const char* format, va_list arguments)
{
    const Source* source = static_cast<const Source*>(user);
    if (source && source->logged && lcKorvaneFi().isDebugEnabled()) {
        char text[512];
        std::vsnprintf(text, sizeof(text), format, arguments);
        qCDebug(lcKorvaneFi) << "libtiff" << (module ? module : "") << text;
    }
    return 1;
}

// An open file positioned on one of its pages.
class Tiff
{
public:
    Tiff(const QByteArray& file, bool logged)
    {
        source.data = file.constData();
        source.size = toff_t(file.size());
        source.logged = logged;
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options)
            return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, Message, &source);
        TIFFOpenOptionsSetWarningHandlerExtR(options, Message, &source);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
        tiff = TIFFClientOpenExt("tiff", "r", &source, ReadStream, WriteStream, SeekStream, CloseStream, StreamSize,
                                 MapStream, UnmapStream, options);
        TIFFOpenOptionsFree(options);
    }
    ~Tiff()
    {
        if (tiff)
            TIFFClose(tiff);
    }
    Tiff(const Tiff&) = delete;
    Tiff& operator=(const Tiff&) = delete;

    TIFF* Page(int page)
    {
        if (!tiff || page < 0 || page > 0xFFFF || !TIFFSetDirectory(tiff, tdir_t(page)))
            return nullptr;
        return tiff;
    }
    TIFF* Handle() const { return tiff; }

private:
    Source source;
    TIFF* tiff = nullptr;
};

QSize StoredSize(TIFF* tiff)
{
    uint32_t width = 0;
    uint32_t height = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height))
        return QSize();
    if (width == 0 || height == 0 || qint64(width) * height > kMaxPixels || width > 0x7FFFFFFF
        || height > 0x7FFFFFFF)
        return QSize();
    return QSize(int(width), int(height));
}

uint16_t Field16(TIFF* tiff, ttag_t tag)
{
    uint16_t value = 0;
    TIFFGetFieldDefaulted(tiff, tag, &value);
    return value;
}

// What the first extra sample is: one of the EXTRASAMPLE_ values, or -1 for
// none.
int FirstExtraSample(TIFF* tiff)
{
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) || count == 0 || !kinds)
        return -1;
    return kinds[0];
}

void AttachResolution(TIFF* tiff, QImage& image)
{
    float x = 0;
    float y = 0;
    if (!TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) || !TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y))
        return;
    const uint16_t unit = Field16(tiff, TIFFTAG_RESOLUTIONUNIT);
    double perMetre = 0;
    if (unit == RESUNIT_INCH)
        perMetre = 1 / 0.0254;
    else if (unit == RESUNIT_CENTIMETER)
        perMetre = 100;
    if (perMetre == 0 || !std::isfinite(x) || !std::isfinite(y) || x <= 0 || y <= 0 || x > 1e6 || y > 1e6)
        return;
    image.setDotsPerMeterX(int(std::lround(x * perMetre)));
    image.setDotsPerMeterY(int(std::lround(y * perMetre)));
}

void AttachColorSpace(TIFF* tiff, QImage& image)
{
    uint32_t size = 0;
    void* data = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &data) || !data || size == 0 || size > 0x7FFFFFFF)
        return;
    // CMYK and grey profiles give no valid colour space: the picture is RGB
    // or grey without them.
    const QColorSpace space = QColorSpace::fromIccProfile(QByteArray(static_cast<const char*>(data), int(size)));
    if (space.isValid())
        image.setColorSpace(space);
}

// Every photometric libtiff's RGBA interface knows, at 8 bits per channel,
// in the stored row order. Its output is premultiplied, except for samples it
// passes through untouched: an extra sample of no stated kind, which is
// taken as straight alpha (as Qt's reader does), and contiguous grey with
// straight alpha. CMYK comes without its alpha: libtiff's CMYK conversion
// drops it.
QImage DecodeRgba(TIFF* tiff, const QSize& size, bool logged)
{
    char message[1024] = {0};
    if (!TIFFRGBAImageOK(tiff, message)) {
        if (logged)
            qCDebug(lcKorvaneFi) << "libtiff RGBA:" << message;
        return QImage();
    }
    TIFFRGBAImage rgba;
    if (!TIFFRGBAImageBegin(&rgba, tiff, 1, message)) {
        if (logged)
            qCDebug(lcKorvaneFi) << "libtiff RGBA:" << message;
        return QImage();
    }
    rgba.req_orientation = rgba.orientation;     // no flips: the handler reports the orientation
    QImage image(size, QImage::Format_RGBA8888_Premultiplied);
    bool ok = !image.isNull() && image.bytesPerLine() == qsizetype(size.width()) * 4;
    if (ok)
        ok = TIFFRGBAImageGet(&rgba, reinterpret_cast<uint32_t*>(image.bits()), uint32_t(size.width()),
                              uint32_t(size.height()));
    const int alpha = rgba.alpha;
    const int photometric = rgba.photometric;
    TIFFRGBAImageEnd(&rgba);
    if (!ok)
        return QImage();

    // libtiff packs A, B, G, R from the high byte down: R, G, B, A in memory
    // on a little-endian machine.
    if (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        uint32_t* pixel = reinterpret_cast<uint32_t*>(image.bits());
        for (qint64 i = 0, n = qint64(size.width()) * size.height(); i < n; ++i)
            pixel[i] = qbswap(pixel[i]);
    }
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    if (alpha == 0) {
        if (grey) {
            QImage gray(size, QImage::Format_Grayscale8);
            if (gray.isNull())
                return QImage();
            for (int y = 0; y < size.height(); ++y) {
                const uchar* in = image.constScanLine(y);
                uchar* out = gray.scanLine(y);
                for (int x = 0; x < size.width(); ++x)
                    out[x] = in[4 * x];
            }
            return gray;
        }
        image.reinterpretAsFormat(QImage::Format_RGBX8888);
        image.convertTo(QImage::Format_RGB32);
        return image;
    }
    // Contiguous grey goes through libtiff's grey path, which does not
    // premultiply; separate grey planes go through its RGB one, which does.
    const bool stated = FirstExtraSample(tiff) == alpha;
    const bool contiguous = Field16(tiff, TIFFTAG_PLANARCONFIG) == PLANARCONFIG_CONTIG;
    const bool straight = (alpha == EXTRASAMPLE_ASSOCALPHA && !stated)
                       || (alpha == EXTRASAMPLE_UNASSALPHA && grey && contiguous);
    if (straight)
        image.reinterpretAsFormat(QImage::Format_RGBA8888);
    return image;
}

// Samples read as stored, strip by strip or tile by tile, contiguous or
// planar, 1 to 16 bits each: grey, RGB and CMYK with their alpha, into 16-bit
// pictures. Null for anything else.
class SampleReader
{
public:
    SampleReader(TIFF* tiff, const QSize& size)
        : tiff(tiff)
        , width(uint32_t(size.width()))
        , height(uint32_t(size.height()))
    {
    }

    QImage Decode()
    {
        bits = Field16(tiff, TIFFTAG_BITSPERSAMPLE);
        samples = Field16(tiff, TIFFTAG_SAMPLESPERPIXEL);
        const uint16_t format = Field16(tiff, TIFFTAG_SAMPLEFORMAT);
        uint16_t photometric = 0;
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
            photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        if (bits < 1 || bits > 16 || samples < 1 || (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID))
            return QImage();
        int colours = 0;
        switch (photometric) {
        case PHOTOMETRIC_MINISBLACK: case PHOTOMETRIC_MINISWHITE:
            colours = 1;
            break;
        case PHOTOMETRIC_RGB:
            colours = 3;
            break;
        case PHOTOMETRIC_SEPARATED:
            colours = Field16(tiff, TIFFTAG_INKSET) == INKSET_CMYK ? 4 : 0;
            break;
        default:
            break;
        }
        if (colours == 0 || samples < colours)
            return QImage();
        // Only a stated alpha counts, and an extra sample of no stated kind
        // after RGB, which is how such files are meant.
        const int extra = samples > colours ? FirstExtraSample(tiff) : -1;
        const bool alpha = extra == EXTRASAMPLE_ASSOCALPHA || extra == EXTRASAMPLE_UNASSALPHA
                        || (colours == 3 && samples > 3);
        const bool premultiplied = extra == EXTRASAMPLE_ASSOCALPHA;
        if (alpha && colours == 4)
            return QImage();

        QImage::Format target = QImage::Format_RGBX64;
        if (alpha)
            target = premultiplied ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA64;
        else if (colours == 1)
            target = QImage::Format_Grayscale16;
        image = QImage(int(width), int(height), target);
        if (image.isNull())
            return QImage();
        stride = colours == 1 && !alpha ? 1 : 4;
        slotOf.assign(size_t(samples), -1);
        for (int s = 0; s < samples; ++s)
            slotOf[size_t(s)] = s < colours ? s : (s == colours && alpha ? 3 : -1);
        if (!ReadChunks())
            return QImage();

        const int maximum = (1 << bits) - 1;
        for (uint32_t y = 0; y < height; ++y) {
            quint16* pixel = reinterpret_cast<quint16*>(image.scanLine(int(y)));
            for (uint32_t x = 0; x < width; ++x, pixel += stride) {
                for (int s = 0; s < stride; ++s) {
                    if (bits != 16)
                        pixel[s] = quint16((pixel[s] * 65535u + unsigned(maximum) / 2) / unsigned(maximum));
                }
                if (photometric == PHOTOMETRIC_MINISWHITE)
                    pixel[0] = quint16((alpha && premultiplied ? pixel[3] : 65535) - pixel[0]);
                if (colours == 1 && alpha)
                    pixel[1] = pixel[2] = pixel[0];
                else if (colours == 4)
                    FromCmyk(pixel);
                else if (colours == 3 && !alpha)
                    pixel[3] = 0xFFFF;
            }
        }
        return image;
    }

private:
    static void FromCmyk(quint16* pixel)
    {
        const quint32 white = 65535 - pixel[3];
        for (int c = 0; c < 3; ++c)
            pixel[c] = quint16((65535 - pixel[c]) * white / 65535);
        pixel[3] = 0xFFFF;
    }

    quint16 Sample(const uchar* row, quint64 index) const
    {
        if (bits == 16) {
            quint16 value;
            std::memcpy(&value, row + 2 * index, 2);
            return value;
        }
        if (bits == 8)
            return row[index];
        // Packed from the most significant bit on.
        quint64 bit = index * bits;
        quint32 value = 0;
        for (int left = bits; left > 0;) {
            const int offset = int(bit & 7);
            const int take = std::min(left, 8 - offset);
            const quint32 byte = row[bit >> 3];
            value = (value << take) | ((byte >> (8 - offset - take)) & ((1u << take) - 1));
            left -= take;
            bit += quint64(take);
        }
        return quint16(value);
    }

    bool ReadChunks()
    {
        const bool tiled = TIFFIsTiled(tiff);
        const bool planar = Field16(tiff, TIFFTAG_PLANARCONFIG) == PLANARCONFIG_SEPARATE;
        uint32_t chunkWidth = width;
        uint32_t chunkHeight = 0;
        if (tiled) {
            if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &chunkWidth) || !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &chunkHeight))
                return false;
        } else {
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &chunkHeight);
            chunkHeight = std::min(chunkHeight, height);
        }
        if (chunkWidth == 0 || chunkHeight == 0)
            return false;
        const int perChunk = planar ? 1 : samples;
        const quint64 rowBytes = (quint64(chunkWidth) * quint64(perChunk) * bits + 7) / 8;
        const tmsize_t chunkBytes = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
        if (chunkBytes <= 0 || chunkBytes > kMaxSingleAllocation
            || quint64(chunkBytes) < rowBytes * std::min(chunkHeight, height))
            return false;
        std::vector<uchar> chunk(static_cast<size_t>(chunkBytes));
        const int planes = planar ? samples : 1;
        for (int plane = 0; plane < planes; ++plane) {
            if (planar && slotOf[size_t(plane)] < 0)
                continue;
            for (uint32_t top = 0; top < height; top += chunkHeight) {
                for (uint32_t left = 0; left < width; left += chunkWidth) {
                    const uint32_t index = tiled ? TIFFComputeTile(tiff, left, top, 0, uint16_t(plane))
                                                 : TIFFComputeStrip(tiff, top, uint16_t(plane));
                    const tmsize_t got = tiled ? TIFFReadEncodedTile(tiff, index, chunk.data(), chunkBytes)
                                               : TIFFReadEncodedStrip(tiff, index, chunk.data(), chunkBytes);
                    const uint32_t rows = std::min(chunkHeight, height - top);
                    const uint32_t columns = std::min(chunkWidth, width - left);
                    if (got < 0 || quint64(got) < rowBytes * rows)
                        return false;
                    for (uint32_t r = 0; r < rows; ++r) {
                        const uchar* row = chunk.data() + rowBytes * r;
                        quint16* out = reinterpret_cast<quint16*>(image.scanLine(int(top + r))) + quint64(left) * stride;
                        for (uint32_t x = 0; x < columns; ++x, out += stride) {
                            for (int s = 0; s < perChunk; ++s) {
                                const int slot = slotOf[size_t(planar ? plane : s)];
                                if (slot >= 0)
                                    out[slot] = Sample(row, quint64(x) * perChunk + s);
                            }
                        }
                    }
                }
            }
        }
        return true;
    }

    TIFF* tiff;
    uint32_t width;
    uint32_t height;
    int bits = 0;
    int samples = 0;
    int stride = 1;
    std::vector<int> slotOf;    // the channel each sample goes to, -1 for none
    QImage image;
};

QImage DecodePage(TIFF* tiff, bool logged)
{
    const QSize size = StoredSize(tiff);
    if (!size.isValid())
        return QImage();
    const uint16_t bits = Field16(tiff, TIFFTAG_BITSPERSAMPLE);
    const uint16_t format = Field16(tiff, TIFFTAG_SAMPLEFORMAT);
    // Floating point, complex and wider integer samples have no single
    // picture to show; signed samples only at 8 bits and less, where every
    // reader (libtiff's RGBA interface included) takes the bytes as stored.
    const bool integer = format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID
                      || (format == SAMPLEFORMAT_INT && bits <= 8);
    if (!integer || bits == 0 || bits > 16) {
        if (logged)
            qCDebug(lcKorvaneFi) << "TIFF samples not decoded: format" << format << "bits" << bits;
        return QImage();
    }
    QImage image;
    if (bits <= 8)
        image = DecodeRgba(tiff, size, logged);
    if (image.isNull()) {
        image = SampleReader(tiff, size).Decode();
        if (!image.isNull() && bits <= 8) {
            switch (image.format()) {
            case QImage::Format_Grayscale16: image.convertTo(QImage::Format_Grayscale8); break;
            case QImage::Format_RGBX64: image.convertTo(QImage::Format_RGB32); break;
            case QImage::Format_RGBA64: image.convertTo(QImage::Format_RGBA8888); break;
            default: image.convertTo(QImage::Format_RGBA8888_Premultiplied); break;
            }
        }
    }
    if (image.isNull() && bits == 16)
        image = DecodeRgba(tiff, size, logged);
    if (image.isNull())
        return QImage();
    AttachResolution(tiff, image);
    AttachColorSpace(tiff, image);
    return image;
}

} // namespace

namespace TiffCodec {

int PageCount(const QByteArray& file)
{
    Tiff tiff(file, true);
    if (!tiff.Handle())
        return 0;
    return int(TIFFNumberOfDirectories(tiff.Handle()));
}

QSize PageSize(const QByteArray& file, int page)
{
    Tiff tiff(file, true);
    TIFF* handle = tiff.Page(page);
    return handle ? StoredSize(handle) : QSize();
}

QImageIOHandler::Transformations Transformation(const QByteArray& file, int page)
{
    Tiff tiff(file, true);
    TIFF* handle = tiff.Page(page);
    if (!handle)
        return QImageIOHandler::TransformationNone;
    switch (Field16(handle, TIFFTAG_ORIENTATION)) {
    case ORIENTATION_TOPRIGHT: return QImageIOHandler::TransformationMirror;
    case ORIENTATION_BOTRIGHT: return QImageIOHandler::TransformationRotate180;
    case ORIENTATION_BOTLEFT: return QImageIOHandler::TransformationFlip;
    case ORIENTATION_LEFTTOP: return QImageIOHandler::TransformationFlipAndRotate90;
    case ORIENTATION_RIGHTTOP: return QImageIOHandler::TransformationRotate90;
    case ORIENTATION_RIGHTBOT: return QImageIOHandler::TransformationMirrorAndRotate90;
    case ORIENTATION_LEFTBOT: return QImageIOHandler::TransformationRotate270;
    default: return QImageIOHandler::TransformationNone;
    }
}

QImage Decode(const QByteArray& file, int page)
{
    return Decode(file, page, true);
}

QImage Decode(const QByteArray& file, int page, bool logged)
{
    Tiff tiff(file, logged);
    TIFF* handle = tiff.Page(page);
    return handle ? DecodePage(handle, logged) : QImage();
}

} // namespace TiffCodec
