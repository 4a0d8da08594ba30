#include "pngfilter.h"

#include <QtEndian>

#include <cstdlib>
#include <cstring>

// Plain loops over bytes that the compiler turns into vector code (this file
// is built with -O3).

namespace {

void PackRgb(const QRgb* in, int width, uint8_t* out)
{
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = in[x];
        out[3 * x] = uint8_t(pixel >> 16);
        out[3 * x + 1] = uint8_t(pixel >> 8);
        out[3 * x + 2] = uint8_t(pixel);
    }
}

void PackRgba(const QRgb* in, int width, uint8_t* out)
{
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = in[x];
        out[4 * x] = uint8_t(pixel >> 16);
        out[4 * x + 1] = uint8_t(pixel >> 8);
        out[4 * x + 2] = uint8_t(pixel);
        out[4 * x + 3] = uint8_t(pixel >> 24);
    }
}

// 16-bit samples, channels channels of four stored per pixel.
void PackDeep(const quint16* in, int width, int channels, int stored, uint8_t* out)
{
    for (int x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) {
            const quint16 sample = in[x * stored + c];
            out[2 * (x * channels + c)] = uint8_t(sample >> 8);
            out[2 * (x * channels + c) + 1] = uint8_t(sample);
        }
    }
}

inline uint8_t PaethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    return uint8_t((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

} // namespace

namespace PngFilter {

bool LayoutOf(const QImage& image, Layout& layout)
{
    if (image.isNull())
        return false;
    switch (image.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        layout.format = image.format();
        break;
    case QImage::Format_RGBA64_Premultiplied:
        layout.format = QImage::Format_RGBA64;
        break;
    default:
        layout.format = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        break;
    }
    layout.converted = layout.format != image.format();
    switch (layout.format) {
    case QImage::Format_Grayscale8: layout.colourType = 0; layout.depth = 8; layout.pixelBytes = 1; break;
    case QImage::Format_Grayscale16: layout.colourType = 0; layout.depth = 16; layout.pixelBytes = 2; break;
    case QImage::Format_RGB32: layout.colourType = 2; layout.depth = 8; layout.pixelBytes = 3; break;
    case QImage::Format_ARGB32: layout.colourType = 6; layout.depth = 8; layout.pixelBytes = 4; break;
    case QImage::Format_RGBX64: layout.colourType = 2; layout.depth = 16; layout.pixelBytes = 6; break;
    default: layout.colourType = 6; layout.depth = 16; layout.pixelBytes = 8; break;
    }
    layout.rowBytes = size_t(image.width()) * size_t(layout.pixelBytes);
    return true;
}

void PackRow(const uchar* line, int width, const Layout& layout, uint8_t* out)
{
    switch (layout.format) {
    case QImage::Format_Grayscale8:
        std::memcpy(out, line, size_t(width));
        break;
    case QImage::Format_Grayscale16:
        PackDeep(reinterpret_cast<const quint16*>(line), width, 1, 1, out);
        break;
    case QImage::Format_RGB32:
        PackRgb(reinterpret_cast<const QRgb*>(line), width, out);
        break;
    case QImage::Format_ARGB32:
        PackRgba(reinterpret_cast<const QRgb*>(line), width, out);
        break;
    case QImage::Format_RGBX64:
        PackDeep(reinterpret_cast<const quint16*>(line), width, 3, 4, out);
        break;
    case QImage::Format_RGBA64:
        PackDeep(reinterpret_cast<const quint16*>(line), width, 4, 4, out);
        break;
    default:
        break;
    }
}

void FilterRow(Filter filter, const uint8_t* row, const uint8_t* prior, const Layout& layout, uint8_t* out)
{
    const size_t n = layout.rowBytes;
    const size_t bpp = size_t(layout.pixelBytes);
    out[0] = uint8_t(filter);
    uint8_t* filtered = out + 1;
    switch (filter) {
    case None:
        std::memcpy(filtered, row, n);
        break;
    case Sub:
        for (size_t i = 0; i < bpp && i < n; ++i)
            filtered[i] = row[i];
        for (size_t i = bpp; i < n; ++i)
            filtered[i] = uint8_t(row[i] - row[i - bpp]);
        break;
    case Up:
        for (size_t i = 0; i < n; ++i)
            filtered[i] = uint8_t(row[i] - prior[i]);
        break;
    case Average:
        for (size_t i = 0; i < bpp && i < n; ++i)
            filtered[i] = uint8_t(row[i] - (prior[i] >> 1));
        for (size_t i = bpp; i < n; ++i)
            filtered[i] = uint8_t(row[i] - ((unsigned(row[i - bpp]) + prior[i]) >> 1));
        break;
    case Paeth:
        for (size_t i = 0; i < bpp && i < n; ++i)
            filtered[i] = uint8_t(row[i] - prior[i]);
        for (size_t i = bpp; i < n; ++i)
            filtered[i] = uint8_t(row[i] - PaethPredictor(row[i - bpp], prior[i], prior[i - bpp]));
        break;
    }
}

} // namespace PngFilter
