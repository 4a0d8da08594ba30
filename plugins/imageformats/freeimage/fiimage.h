// Pixel conversion between FreeImage bitmaps and QImage.
#ifndef KORVANE_FI_IMAGE_H
#define KORVANE_FI_IMAGE_H

#include <FreeImage.h>

#include <QImage>

#include <memory>

struct FiBitmapDeleter
{
    void operator()(FIBITMAP* dib) const
    {
        if (dib)
            FreeImage_Unload(dib);
    }
};
using FiBitmapPtr = std::unique_ptr<FIBITMAP, FiBitmapDeleter>;

namespace FiImage {

// The pixel layout a target is written with.
enum class Depth {
    Rgb24,        // 24-bit colour, alpha dropped; greyscale pictures stay 8-bit grey
    Auto8,        // 8-bit grey, 24-bit colour or 32-bit with alpha, as the picture needs
    Auto16,       // as Auto8, but 16-bit-per-channel pictures keep 16 bits
    Rgba32,       // always 32-bit with alpha
    Float,        // 32-bit float RGB, 0..1 for black..white
    Bilevel       // 1 bit per pixel, black below half luminance
};

// Decodes any FreeImage bitmap into the nearest QImage: Grayscale8, RGB32 or
// ARGB32 for 8-bit data, Grayscale16, RGBX64 or RGBA64 for 16-bit and
// floating-point data (floats are clamped to 0..1). Carries the resolution.
// A null image when the bitmap has no pixels or an unknown layout.
QImage ToQImage(FIBITMAP* dib);

// Encodes a QImage in the layout asked for, with its resolution. Null on
// failure (no memory).
FiBitmapPtr FromQImage(const QImage& image, Depth depth);

// True when the picture carries 16 bits per channel.
bool IsDeep(const QImage& image);

} // namespace FiImage

#endif
