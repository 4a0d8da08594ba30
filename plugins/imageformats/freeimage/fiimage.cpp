#include "fiimage.h"

#include <cmath>
#include <cstring>

namespace {

// FreeImage stores scanlines bottom-up.
inline const BYTE* SourceLine(FIBITMAP* dib, int y)
{
    return FreeImage_GetScanLine(dib, int(FreeImage_GetHeight(dib)) - 1 - y);
}

inline BYTE* TargetLine(FIBITMAP* dib, int y)
{
    return FreeImage_GetScanLine(dib, int(FreeImage_GetHeight(dib)) - 1 - y);
}

inline quint16 FloatTo16(float value)
{
    if (!(value > 0.0f))   // also NaN
        return 0;
    if (value >= 1.0f)
        return 65535;
    return quint16(std::lround(value * 65535.0f));
}

void CopyResolution(FIBITMAP* dib, QImage& image)
{
    const unsigned x = FreeImage_GetDotsPerMeterX(dib);
    const unsigned y = FreeImage_GetDotsPerMeterY(dib);
    if (x > 0 && y > 0 && x < 1000000 && y < 1000000) {
        image.setDotsPerMeterX(int(x));
        image.setDotsPerMeterY(int(y));
    }
}

bool IsGreyPalette(FIBITMAP* dib)
{
    return FreeImage_GetBPP(dib) == 8 && FreeImage_GetColorType(dib) == FIC_MINISBLACK
        && !FreeImage_IsTransparent(dib);
}

QImage From32(FIBITMAP* dib, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    bool opaque = true;
    for (int y = 0; y < height; ++y) {
        const BYTE* src = SourceLine(dib, y);
        uchar* dst = image.scanLine(y);
#if FREEIMAGE_COLORORDER == FREEIMAGE_COLORORDER_BGR && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        // B, G, R, A in memory is exactly ARGB32 on a little-endian machine.
        std::memcpy(dst, src, size_t(width) * 4);
        if (opaque) {
            for (int x = 0; x < width; ++x) {
                if (src[4 * x + 3] != 0xFF) {
                    opaque = false;
                    break;
                }
            }
        }
#else
        QRgb* out = reinterpret_cast<QRgb*>(dst);
        for (int x = 0; x < width; ++x) {
            const BYTE* p = src + 4 * x;
            out[x] = qRgba(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], p[FI_RGBA_ALPHA]);
            opaque = opaque && p[FI_RGBA_ALPHA] == 0xFF;
        }
#endif
    }
    if (opaque)
        image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

QImage From24(FIBITMAP* dib, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        const BYTE* src = SourceLine(dib, y);
        QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, src += 3)
            out[x] = qRgb(src[FI_RGBA_RED], src[FI_RGBA_GREEN], src[FI_RGBA_BLUE]);
    }
    return image;
}

QImage FromGrey8(FIBITMAP* dib, int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), SourceLine(dib, y), size_t(width));
    return image;
}

QImage FromUint16(FIBITMAP* dib, int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale16);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), SourceLine(dib, y), size_t(width) * 2);
    return image;
}

QImage FromRgb16(FIBITMAP* dib, int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        const WORD* src = reinterpret_cast<const WORD*>(SourceLine(dib, y));
        quint16* dst = reinterpret_cast<quint16*>(image.scanLine(y));
        if (alpha) {
            std::memcpy(dst, src, size_t(width) * 8);   // R, G, B, A words in both
        } else {
            for (int x = 0; x < width; ++x, src += 3, dst += 4) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = 0xFFFF;
            }
        }
    }
    return image;
}

QImage FromFloat(FIBITMAP* dib, int width, int height, int channels)
{
    QImage::Format format = channels == 1 ? QImage::Format_Grayscale16
                          : channels == 3 ? QImage::Format_RGBX64 : QImage::Format_RGBA64;
    QImage image(width, height, format);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        const float* src = reinterpret_cast<const float*>(SourceLine(dib, y));
        quint16* dst = reinterpret_cast<quint16*>(image.scanLine(y));
        if (channels == 1) {
            for (int x = 0; x < width; ++x)
                dst[x] = FloatTo16(src[x]);
            continue;
        }
        for (int x = 0; x < width; ++x, src += channels, dst += 4) {
            dst[0] = FloatTo16(src[0]);
            dst[1] = FloatTo16(src[1]);
            dst[2] = FloatTo16(src[2]);
            dst[3] = channels == 4 ? FloatTo16(src[3]) : 0xFFFF;
        }
    }
    return image;
}

// A 256-entry grey palette, as FreeImage expects for 8-bit greyscale.
FiBitmapPtr AllocateGrey8(int width, int height)
{
    FiBitmapPtr dib(FreeImage_Allocate(width, height, 8));
    if (!dib)
        return dib;
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    for (int i = 0; i < 256; ++i) {
        palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(i);
        palette[i].rgbReserved = 0;
    }
    return dib;
}

bool IsGrey(const QImage& image)
{
    return image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16;
}

FiBitmapPtr ToGrey8(const QImage& source)
{
    const QImage image = source.format() == QImage::Format_Grayscale8
                       ? source : source.convertToFormat(QImage::Format_Grayscale8);
    FiBitmapPtr dib = AllocateGrey8(image.width(), image.height());
    if (!dib)
        return dib;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(TargetLine(dib.get(), y), image.constScanLine(y), size_t(image.width()));
    return dib;
}

FiBitmapPtr ToRgb24(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    FiBitmapPtr dib(FreeImage_Allocate(image.width(), image.height(), 24));
    if (!dib)
        return dib;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        BYTE* out = TargetLine(dib.get(), y);
        for (int x = 0; x < image.width(); ++x, out += 3) {
            out[FI_RGBA_RED] = BYTE(qRed(in[x]));
            out[FI_RGBA_GREEN] = BYTE(qGreen(in[x]));
            out[FI_RGBA_BLUE] = BYTE(qBlue(in[x]));
        }
    }
    return dib;
}

FiBitmapPtr ToRgba32(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    FiBitmapPtr dib(FreeImage_Allocate(image.width(), image.height(), 32,
                                       FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!dib)
        return dib;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        BYTE* out = TargetLine(dib.get(), y);
        for (int x = 0; x < image.width(); ++x, out += 4) {
            out[FI_RGBA_RED] = BYTE(qRed(in[x]));
            out[FI_RGBA_GREEN] = BYTE(qGreen(in[x]));
            out[FI_RGBA_BLUE] = BYTE(qBlue(in[x]));
            out[FI_RGBA_ALPHA] = BYTE(qAlpha(in[x]));
        }
    }
    return dib;
}

FiBitmapPtr ToDeep(const QImage& source)
{
    if (source.format() == QImage::Format_Grayscale16) {
        FiBitmapPtr dib(FreeImage_AllocateT(FIT_UINT16, source.width(), source.height()));
        if (!dib)
            return dib;
        for (int y = 0; y < source.height(); ++y)
            std::memcpy(TargetLine(dib.get(), y), source.constScanLine(y), size_t(source.width()) * 2);
        return dib;
    }
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    FiBitmapPtr dib(FreeImage_AllocateT(alpha ? FIT_RGBA16 : FIT_RGB16, image.width(), image.height()));
    if (!dib)
        return dib;
    for (int y = 0; y < image.height(); ++y) {
        const quint16* in = reinterpret_cast<const quint16*>(image.constScanLine(y));
        WORD* out = reinterpret_cast<WORD*>(TargetLine(dib.get(), y));
        if (alpha) {
            std::memcpy(out, in, size_t(image.width()) * 8);
        } else {
            for (int x = 0; x < image.width(); ++x, in += 4, out += 3) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
        }
    }
    return dib;
}

FiBitmapPtr ToFloat(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGBX64);
    FiBitmapPtr dib(FreeImage_AllocateT(FIT_RGBF, image.width(), image.height()));
    if (!dib)
        return dib;
    for (int y = 0; y < image.height(); ++y) {
        const quint16* in = reinterpret_cast<const quint16*>(image.constScanLine(y));
        float* out = reinterpret_cast<float*>(TargetLine(dib.get(), y));
        for (int x = 0; x < image.width(); ++x, in += 4, out += 3) {
            out[0] = in[0] / 65535.0f;
            out[1] = in[1] / 65535.0f;
            out[2] = in[2] / 65535.0f;
        }
    }
    return dib;
}

// Black and white as Qt's own bilevel writers make it: error-diffusion
// dithering keeps the grey levels of areas.
FiBitmapPtr ToBilevel(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32)
                             .convertToFormat(QImage::Format_Mono, Qt::MonoOnly | Qt::DiffuseDither);
    FiBitmapPtr dib(FreeImage_Allocate(image.width(), image.height(), 1));
    if (!dib || image.isNull())
        return FiBitmapPtr();
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    palette[0] = RGBQUAD{0, 0, 0, 0};
    palette[1] = RGBQUAD{255, 255, 255, 0};
    const QVector<QRgb> table = image.colorTable();
    const bool firstIsWhite = !table.isEmpty() && qGray(table.at(0)) >= 128;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* in = image.constScanLine(y);
        BYTE* out = TargetLine(dib.get(), y);
        const int bytes = (image.width() + 7) / 8;
        for (int i = 0; i < bytes; ++i)
            out[i] = firstIsWhite ? BYTE(~in[i]) : BYTE(in[i]);
    }
    return dib;
}

} // namespace

namespace FiImage {

bool IsDeep(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return true;
    default:
        return false;
    }
}

QImage ToQImage(FIBITMAP* dib)
{
    if (!dib || !FreeImage_HasPixels(dib))
        return QImage();
    const int width = int(FreeImage_GetWidth(dib));
    const int height = int(FreeImage_GetHeight(dib));
    if (width <= 0 || height <= 0)
        return QImage();

    QImage image;
    switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP: {
        const unsigned bpp = FreeImage_GetBPP(dib);
        if (bpp == 32 && FreeImage_GetRedMask(dib) == FI_RGBA_RED_MASK) {
            image = From32(dib, width, height);
        } else if (bpp == 24 && FreeImage_GetRedMask(dib) == FI_RGBA_RED_MASK) {
            image = From24(dib, width, height);
        } else if (IsGreyPalette(dib)) {
            image = FromGrey8(dib, width, height);
        } else {
            // Palettes (with their transparency), 16-bit 555/565 and the rest.
            FiBitmapPtr converted(FreeImage_ConvertTo32Bits(dib));
            if (converted)
                image = From32(converted.get(), width, height);
        }
        break;
    }
    case FIT_UINT16:
        image = FromUint16(dib, width, height);
        break;
    case FIT_RGB16:
        image = FromRgb16(dib, width, height, false);
        break;
    case FIT_RGBA16:
        image = FromRgb16(dib, width, height, true);
        break;
    case FIT_FLOAT:
        image = FromFloat(dib, width, height, 1);
        break;
    case FIT_RGBF:
        image = FromFloat(dib, width, height, 3);
        break;
    case FIT_RGBAF:
        image = FromFloat(dib, width, height, 4);
        break;
    default: {
        // Signed, 32-bit integer, double and complex samples: scaled to 8 bits.
        FiBitmapPtr standard(FreeImage_ConvertToStandardType(dib, TRUE));
        if (standard && FreeImage_GetImageType(standard.get()) == FIT_BITMAP)
            image = ToQImage(standard.get());
        break;
    }
    }
    if (!image.isNull())
        CopyResolution(dib, image);
    return image;
}

FiBitmapPtr FromQImage(const QImage& image, Depth depth)
{
    if (image.isNull())
        return FiBitmapPtr();
    FiBitmapPtr dib;
    switch (depth) {
    case Depth::Rgb24:
        dib = IsGrey(image) ? ToGrey8(image) : ToRgb24(image);
        break;
    case Depth::Auto16:
        if (IsDeep(image)) {
            dib = ToDeep(image);
            break;
        }
        Q_FALLTHROUGH();
    case Depth::Auto8:
        if (IsGrey(image))
            dib = ToGrey8(image);
        else if (image.hasAlphaChannel())
            dib = ToRgba32(image);
        else
            dib = ToRgb24(image);
        break;
    case Depth::Rgba32:
        dib = ToRgba32(image);
        break;
    case Depth::Float:
        dib = ToFloat(image);
        break;
    case Depth::Bilevel:
        dib = ToBilevel(image);
        break;
    }
    if (dib && image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        FreeImage_SetDotsPerMeterX(dib.get(), unsigned(image.dotsPerMeterX()));
        FreeImage_SetDotsPerMeterY(dib.get(), unsigned(image.dotsPerMeterY()));
    }
    return dib;
}

} // namespace FiImage
