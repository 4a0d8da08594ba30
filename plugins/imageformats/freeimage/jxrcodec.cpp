#include "jxrcodec.h"

#include "filibrary.h"
#include "graphics/plugincontract.h"

#include <QTransform>
#include <QtGlobal>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

// libjxr's headers define max/min and Windows annotation macros: they come
// after every C++ header and are undone right away.
#include <JXRGlue.h>
#undef max
#undef min

namespace {

// ---- a growable memory stream for the encoder ----

struct GrowBuffer
{
    std::vector<U8> bytes;
    size_t position = 0;
};

GrowBuffer* BufferOf(WMPStream* stream)
{
    return static_cast<GrowBuffer*>(stream->state.pvObj);
}

ERR GrowClose(WMPStream** stream)
{
    if (stream && *stream) {
        std::free(*stream);
        *stream = nullptr;
    }
    return WMP_errSuccess;
}

Bool GrowEos(WMPStream* stream)
{
    return BufferOf(stream)->position >= BufferOf(stream)->bytes.size();
}

ERR GrowRead(WMPStream* stream, void* data, size_t count)
{
    GrowBuffer* buffer = BufferOf(stream);
    if (buffer->position + count > buffer->bytes.size())
        return WMP_errBufferOverflow;
    std::memcpy(data, buffer->bytes.data() + buffer->position, count);
    buffer->position += count;
    return WMP_errSuccess;
}

ERR GrowWrite(WMPStream* stream, const void* data, size_t count)
{
    GrowBuffer* buffer = BufferOf(stream);
    if (buffer->position + count > buffer->bytes.size())
        buffer->bytes.resize(buffer->position + count);
    if (count > 0)
        std::memcpy(buffer->bytes.data() + buffer->position, data, count);
    buffer->position += count;
    return WMP_errSuccess;
}

ERR GrowSetPos(WMPStream* stream, size_t position)
{
    BufferOf(stream)->position = position;
    return WMP_errSuccess;
}

ERR GrowGetPos(WMPStream* stream, size_t* position)
{
    *position = BufferOf(stream)->position;
    return WMP_errSuccess;
}

WMPStream* CreateGrowStream(GrowBuffer* buffer)
{
    WMPStream* stream = static_cast<WMPStream*>(std::calloc(1, sizeof(WMPStream)));
    if (!stream)
        return nullptr;
    stream->state.pvObj = buffer;
    stream->fMem = FALSE;
    stream->Close = GrowClose;
    stream->EOS = GrowEos;
    stream->Read = GrowRead;
    stream->Write = GrowWrite;
    stream->SetPos = GrowSetPos;
    stream->GetPos = GrowGetPos;
    return stream;
}

// ---- decoding ----

// The spatial transform of the image header: three bits after the
// signature, the version byte and the tiling and frequency-mode flags.
ORIENTATION CodestreamOrientation(const QByteArray& file, U32 offset)
{
    if (qint64(offset) + 10 > file.size() || std::memcmp(file.constData() + offset, "WMPHOTO", 8) != 0)
        return O_NONE;
    return ORIENTATION((uchar(file.at(int(offset) + 9)) >> 3) & 7);
}

bool IsTurn(ORIENTATION orientation)
{
    return orientation >= O_RCW && orientation < O_MAX;
}

// A picture as an orientation shows it: turned 90 degrees clockwise first
// (bit 2), then mirrored left to right (bit 1), then top to bottom (bit 0).
QImage Orient(const QImage& image, ORIENTATION orientation)
{
    if (orientation == O_NONE || orientation >= O_MAX)
        return image;
    const QImage turned = IsTurn(orientation) ? image.transformed(QTransform().rotate(90)) : image;
    return turned.mirrored(orientation & 2, orientation & 1);
}

// Owns a decoder over a read-only copy of the file.
class Decoder
{
public:
    explicit Decoder(const QByteArray& file) : data(file)
    {
        WMPStream* stream = nullptr;
        if (data.isEmpty() || Failed(CreateWS_Memory(&stream, data.data(), size_t(data.size()))))
            return;
        if (Failed(PKImageDecode_Create_WMP(&decoder))) {
            CloseWS_Memory(&stream);
            decoder = nullptr;
            return;
        }
        if (Failed(decoder->Initialize(decoder, stream))) {
            decoder->Release(&decoder);
            CloseWS_Memory(&stream);
            decoder = nullptr;
            return;
        }
        decoder->fStreamOwner = TRUE;
        // Alpha, in a plane of its own or interleaved with the colour, is
        // only decoded when asked for.
        PKPixelFormatGUID format;
        PKPixelInfo info;
        std::memset(&info, 0, sizeof(info));
        info.pGUIDPixFmt = &format;
        const bool interleavedAlpha = !Failed(decoder->GetPixelFormat(decoder, &format))
                                   && !Failed(PixelFormatLookup(&info, LOOKUP_FORWARD))
                                   && (info.grBit & PK_pixfmtHasAlpha);
        if (decoder->WMP.bHasAlpha || interleavedAlpha)
            decoder->WMP.wmiSCP.uAlphaMode = 2;
        // libjxr's copy fails for the orientations turned by 90 degrees
        // (whatever the buffer), and ignores the image header's own: the
        // pixels are decoded as stored and turned here (see Orient). The
        // container's TRANSFORMATION tag overrides the image header's
        // transform, which is subordinate to it.
        orientation = decoder->WMP.fOrientationFromContainer
                    ? decoder->WMP.oOrientationFromContainer
                    : CodestreamOrientation(data, decoder->WMP.wmiDEMisc.uImageOffset);
        decoder->WMP.wmiI.oOrientation = O_NONE;
        width = I32(decoder->WMP.wmiI.cWidth);
        height = I32(decoder->WMP.wmiI.cHeight);
        if (width <= 0 || height <= 0 || qint64(width) * height > (qint64(1) << 28)) {
            decoder->Release(&decoder);
            decoder = nullptr;
        }
    }
    ~Decoder()
    {
        if (decoder)
            decoder->Release(&decoder);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Whether the picture shown is turned by 90 degrees from the stored one.
    bool Turned() const { return IsTurn(orientation); }

    PKImageDecode* decoder = nullptr;
    I32 width = 0;    // as stored, before the orientation
    I32 height = 0;
    ORIENTATION orientation = O_NONE;   // how the stored picture is shown

private:
    QByteArray data;   // the stream reads from this copy
};

bool SameFormat(const PKPixelFormatGUID& a, const PKPixelFormatGUID& b)
{
    return std::memcmp(&a, &b, sizeof(PKPixelFormatGUID)) == 0;
}

enum class Layout { Rgb24, Bgr24, Bgr32, Bgra32, Pbgra32, Rgb32, Rgba32, Prgba32, Gray8, Gray16, Rgb48, Rgba64,
                    Prgba64, BlackWhite, Unknown };

Layout LayoutOf(const PKPixelFormatGUID& format, int* bitsPerPixel)
{
    struct Entry { const PKPixelFormatGUID* guid; Layout layout; int bits; };
    static const Entry table[] = {
        {&GUID_PKPixelFormat24bppRGB, Layout::Rgb24, 24},     {&GUID_PKPixelFormat24bppBGR, Layout::Bgr24, 24},
        {&GUID_PKPixelFormat32bppBGR, Layout::Bgr32, 32},     {&GUID_PKPixelFormat32bppBGRA, Layout::Bgra32, 32},
        {&GUID_PKPixelFormat32bppPBGRA, Layout::Pbgra32, 32}, {&GUID_PKPixelFormat32bppRGB, Layout::Rgb32, 32},
        {&GUID_PKPixelFormat32bppRGBA, Layout::Rgba32, 32},   {&GUID_PKPixelFormat32bppPRGBA, Layout::Prgba32, 32},
        {&GUID_PKPixelFormat8bppGray, Layout::Gray8, 8},      {&GUID_PKPixelFormat16bppGray, Layout::Gray16, 16},
        {&GUID_PKPixelFormat48bppRGB, Layout::Rgb48, 48},     {&GUID_PKPixelFormat64bppRGBA, Layout::Rgba64, 64},
        {&GUID_PKPixelFormat64bppPRGBA, Layout::Prgba64, 64}, {&GUID_PKPixelFormatBlackWhite, Layout::BlackWhite, 1},
    };
    for (const Entry& entry : table) {
        if (SameFormat(format, *entry.guid)) {
            *bitsPerPixel = entry.bits;
            return entry.layout;
        }
    }
    *bitsPerPixel = 0;
    return Layout::Unknown;
}

QImage::Format QtFormatOf(Layout layout)
{
    switch (layout) {
    case Layout::Gray8:
    case Layout::BlackWhite:
        return QImage::Format_Grayscale8;
    case Layout::Gray16:
        return QImage::Format_Grayscale16;
    case Layout::Rgb48:
        return QImage::Format_RGBX64;
    case Layout::Rgba64:
        return QImage::Format_RGBA64;
    case Layout::Prgba64:
        return QImage::Format_RGBA64_Premultiplied;
    case Layout::Bgra32:
    case Layout::Rgba32:
        return QImage::Format_ARGB32;
    case Layout::Pbgra32:
    case Layout::Prgba32:
        return QImage::Format_ARGB32_Premultiplied;
    default:
        return QImage::Format_RGB32;
    }
}

void ConvertLine(Layout layout, const U8* in, uchar* out, int width)
{
    QRgb* rgb = reinterpret_cast<QRgb*>(out);
    const quint16* in16 = reinterpret_cast<const quint16*>(in);
    quint16* out16 = reinterpret_cast<quint16*>(out);
    switch (layout) {
    case Layout::Rgb24:
        for (int x = 0; x < width; ++x, in += 3)
            rgb[x] = qRgb(in[0], in[1], in[2]);
        break;
    case Layout::Bgr24:
        for (int x = 0; x < width; ++x, in += 3)
            rgb[x] = qRgb(in[2], in[1], in[0]);
        break;
    case Layout::Bgr32:
        for (int x = 0; x < width; ++x, in += 4)
            rgb[x] = qRgb(in[2], in[1], in[0]);
        break;
    case Layout::Bgra32:
    case Layout::Pbgra32:
        for (int x = 0; x < width; ++x, in += 4)
            rgb[x] = qRgba(in[2], in[1], in[0], in[3]);
        break;
    case Layout::Rgb32:
        for (int x = 0; x < width; ++x, in += 4)
            rgb[x] = qRgb(in[0], in[1], in[2]);
        break;
    case Layout::Rgba32:
    case Layout::Prgba32:
        for (int x = 0; x < width; ++x, in += 4)
            rgb[x] = qRgba(in[0], in[1], in[2], in[3]);
        break;
    case Layout::Gray8:
        std::memcpy(out, in, size_t(width));
        break;
    case Layout::Gray16:
        std::memcpy(out, in, size_t(width) * 2);
        break;
    case Layout::Rgb48:
        for (int x = 0; x < width; ++x, in16 += 3, out16 += 4) {
            out16[0] = in16[0];
            out16[1] = in16[1];
            out16[2] = in16[2];
            out16[3] = 0xFFFF;
        }
        break;
    case Layout::Rgba64:
    case Layout::Prgba64:
        std::memcpy(out, in, size_t(width) * 8);
        break;
    case Layout::BlackWhite:
        for (int x = 0; x < width; ++x)
            out[x] = (in[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        break;
    case Layout::Unknown:
        break;
    }
}

// Pixels in a layout the converter can turn the file's format into, when
// the file's own format is none the plugin unpacks itself (fixed point,
// half and full floats, RGBE, 16-bit 555/565, CMYK).
bool CopyConverted(PKImageDecode* decoder, I32 width, I32 height, std::vector<U8>& pixels, U32 stride)
{
    PKCodecFactory* factory = nullptr;
    if (Failed(PKCreateCodecFactory(&factory, WMP_SDK_VERSION)))
        return false;
    PKFormatConverter* converter = nullptr;
    bool ok = !Failed(factory->CreateFormatConverter(&converter))
           && !Failed(converter->Initialize(converter, decoder, nullptr, GUID_PKPixelFormat24bppRGB));
    if (ok) {
        const PKRect rect = {0, 0, width, height};
        ok = !Failed(converter->Copy(converter, &rect, pixels.data(), stride));
    }
    if (converter)
        converter->Release(&converter);
    factory->Release(&factory);
    return ok;
}

// ---- encoding ----

// Quality 0..99 to the quantisation index (1 is lossless, larger is coarser).
U8 QuantizerOf(int quality)
{
    const int q = qBound(0, quality, 99);
    return U8(std::lround(2.0 + (100 - q) * 0.68));
}

} // namespace

namespace JxrCodec {

QSize Size(const QByteArray& file)
{
    const Decoder d(file);
    if (!d.decoder)
        return QSize();
    return d.Turned() ? QSize(d.height, d.width) : QSize(d.width, d.height);
}

QImage Decode(const QByteArray& file)
{
    Decoder d(file);
    if (!d.decoder)
        return QImage();
    PKPixelFormatGUID format;
    if (Failed(d.decoder->GetPixelFormat(d.decoder, &format)))
        return QImage();
    int bits = 0;
    Layout layout = LayoutOf(format, &bits);
    if (layout == Layout::Unknown) {
        layout = Layout::Rgb24;
        bits = 24;
    }

    // The decoder writes whole macroblock rows: room for 16-line multiples.
    const U32 stride = U32(((qint64(d.width) * bits + 7) / 8 + 15) & ~15);
    const qint64 rows = (qint64(d.height) + 15) & ~qint64(15);
    std::vector<U8> pixels;
    try {
        pixels.resize(size_t(stride * rows));
    } catch (const std::bad_alloc&) {
        return QImage();
    }
    if (LayoutOf(format, &bits) == Layout::Unknown) {
        if (!CopyConverted(d.decoder, d.width, d.height, pixels, stride))
            return QImage();
    } else {
        const PKRect rect = {0, 0, d.width, d.height};
        if (Failed(d.decoder->Copy(d.decoder, &rect, pixels.data(), stride)))
            return QImage();
    }

    QImage image(d.width, d.height, QtFormatOf(layout));
    if (image.isNull())
        return image;
    for (int y = 0; y < d.height; ++y)
        ConvertLine(layout, pixels.data() + size_t(y) * stride, image.scanLine(y), d.width);

    Float dpiX = 0;
    Float dpiY = 0;
    if (!Failed(d.decoder->GetResolution(d.decoder, &dpiX, &dpiY)) && dpiX > 0 && dpiY > 0
        && dpiX < 100000 && dpiY < 100000) {
        image.setDotsPerMeterX(int(std::lround(dpiX / 0.0254)));
        image.setDotsPerMeterY(int(std::lround(dpiY / 0.0254)));
    }
    if (image.format() == QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32);
    else if (image.format() == QImage::Format_RGBA64_Premultiplied)
        image = image.convertToFormat(QImage::Format_RGBA64);
    const int dpmX = image.dotsPerMeterX();
    const int dpmY = image.dotsPerMeterY();
    image = Orient(image, d.orientation);
    image.setDotsPerMeterX(d.Turned() ? dpmY : dpmX);
    image.setDotsPerMeterY(d.Turned() ? dpmX : dpmY);
    return image;
}

bool Encode(const QImage& source, int quality, QByteArray& file)
{
    if (source.isNull())
        return false;
    const bool alpha = source.hasAlphaChannel();
    const bool grey = source.format() == QImage::Format_Grayscale8 || source.format() == QImage::Format_Grayscale16;
    const int width = source.width();
    const int height = source.height();

    // The encoder reads B, G, R(, A) bytes, or one grey byte per pixel.
    const int channels = grey ? 1 : alpha ? 4 : 3;
    const U32 stride = U32((width * channels + 15) & ~15);
    std::vector<U8> pixels;
    try {
        pixels.assign(size_t(stride) * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const QImage image = grey ? source.convertToFormat(QImage::Format_Grayscale8)
                              : source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        U8* out = pixels.data() + size_t(y) * stride;
        if (grey) {
            std::memcpy(out, image.constScanLine(y), size_t(width));
            continue;
        }
        const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x, out += channels) {
            out[0] = U8(qBlue(in[x]));
            out[1] = U8(qGreen(in[x]));
            out[2] = U8(qRed(in[x]));
            if (alpha)
                out[3] = U8(qAlpha(in[x]));
        }
    }

    const bool lossless = quality >= PluginContract::JpegXrLosslessQuality;
    CWMIStrCodecParam parameters;
    std::memset(&parameters, 0, sizeof(parameters));
    parameters.bVerbose = FALSE;
    parameters.cfColorFormat = grey ? Y_ONLY : YUV_444;
    parameters.bdBitDepth = BD_LONG;
    parameters.bfBitstreamFormat = FREQUENCY;
    parameters.bProgressiveMode = TRUE;
    parameters.olOverlap = lossless ? OL_NONE : OL_ONE;
    parameters.cNumOfSliceMinus1H = 0;
    parameters.cNumOfSliceMinus1V = 0;
    parameters.sbSubband = SB_ALL;
    parameters.uAlphaMode = alpha ? 2 : 0;
    parameters.uiDefaultQPIndex = lossless ? 1 : QuantizerOf(quality);
    parameters.uiDefaultQPIndexAlpha = 1;

    GrowBuffer buffer;
    WMPStream* stream = CreateGrowStream(&buffer);
    if (!stream)
        return false;
    PKImageEncode* encoder = nullptr;
    if (Failed(PKImageEncode_Create_WMP(&encoder))) {
        GrowClose(&stream);
        return false;
    }
    bool ok = !Failed(encoder->Initialize(encoder, stream, &parameters, sizeof(parameters)));
    if (!ok && encoder->pStream != stream) {
        // Releasing the encoder closes whatever stream it holds.
        GrowClose(&stream);
        encoder->pStream = CreateGrowStream(&buffer);
        if (!encoder->pStream) {
            std::free(encoder);
            return false;
        }
    }
    if (ok && alpha)
        encoder->WMP.wmiSCP_Alpha.uiDefaultQPIndex = 1;
    const PKPixelFormatGUID format = grey ? GUID_PKPixelFormat8bppGray
                                   : alpha ? GUID_PKPixelFormat32bppBGRA : GUID_PKPixelFormat24bppBGR;
    ok = ok && !Failed(encoder->SetPixelFormat(encoder, format));
    ok = ok && !Failed(encoder->SetSize(encoder, width, height));
    const Float dpiX = image.dotsPerMeterX() > 0 ? Float(image.dotsPerMeterX() * 0.0254) : Float(96);
    const Float dpiY = image.dotsPerMeterY() > 0 ? Float(image.dotsPerMeterY() * 0.0254) : Float(96);
    ok = ok && !Failed(encoder->SetResolution(encoder, dpiX, dpiY));
    ok = ok && !Failed(encoder->WritePixels(encoder, U32(height), pixels.data(), stride));
    encoder->Release(&encoder);   // finishes the file and closes the stream
    if (!ok || buffer.bytes.empty())
        return false;
    file = QByteArray(reinterpret_cast<const char*>(buffer.bytes.data()), int(buffer.bytes.size()));
    return true;
}

} // namespace JxrCodec
