#include "fiwriter.h"

#include "fiformat.h"
#include "fiimage.h"
#include "filibrary.h"
#include "fimetadata.h"
#include "jpegcodec.h"
#include "jxrcodec.h"
#include "pngcodec.h"
#include "webpcodec.h"

#include "graphics/plugincontract.h"

#include <QBuffer>
#include <QColorSpace>
#include <QHash>

#include <algorithm>
#include <cstring>

namespace {

const int kJxrDefaultQuality = 90;

FiImage::Depth DepthOf(FREE_IMAGE_FORMAT fif, const QImage& image)
{
    switch (fif) {
    case FIF_JPEG:
        return FiImage::Depth::Rgb24;
    case FIF_PNG:
    case FIF_TIFF:
        return FiImage::Depth::Auto16;
    case FIF_HDR:
    case FIF_PFM:
        return FiImage::Depth::Float;
    case FIF_WBMP:
        return FiImage::Depth::Bilevel;
    case FIF_TARGA:
        // 24 or 32 bits, or 8 bits with a grey colour map for greyscale.
        return image.hasAlphaChannel() ? FiImage::Depth::Rgba32 : FiImage::Depth::Rgb24;
    default:
        return FiImage::Depth::Auto8;
    }
}

// Qt's PNG writer's mapping of quality to the zlib level: (100 - q) * 9 / 91,
// so 90 and above store; unset is zlib's default.
int PngLevel(int quality)
{
    return quality < 0 ? -1 : (100 - qBound(0, quality, 100)) * 9 / 91;
}

int SaveFlags(FREE_IMAGE_FORMAT fif, const FiWriter::Options& options)
{
    switch (fif) {
    case FIF_JPEG:
    case FIF_JNG:
        // FreeImage reads 0 as "default": the lowest quality it takes is 1.
        return options.quality < 0 ? 75 : qBound(1, options.quality, 100);
    case FIF_J2K:
    case FIF_JP2:
        // The rate a:1; 1 is lossless (a reversible wavelet, no truncation).
        if (options.compression < 1)
            return J2K_DEFAULT;
        return qBound(1, options.compression, 512);
    case FIF_TIFF:
        return options.compression == 0 ? TIFF_NONE : TIFF_LZW;
    default:
        return 0;
    }
}

bool CarriesColorProfile(FREE_IMAGE_FORMAT fif)
{
    return fif == FIF_JPEG || fif == FIF_PNG || fif == FIF_TIFF || fif == FIF_WEBP;
}

// GIF: an exact palette when the picture has at most 255 colours, Wu's
// quantiser otherwise; pixels under half opacity take the one transparent
// entry.
FiBitmapPtr GifBitmap(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    bool transparent = false;
    bool exact = true;
    QHash<QRgb, int> palette;
    for (int y = 0; y < height && exact; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) < 128) {
                transparent = true;
                continue;
            }
            const QRgb colour = line[x] | 0xFF000000u;
            if (!palette.contains(colour)) {
                if (palette.size() == 255) {
                    exact = false;
                    break;
                }
                palette.insert(colour, palette.size());
            }
        }
    }

    FiBitmapPtr dib;
    if (exact) {
        dib.reset(FreeImage_Allocate(width, height, 8));
        if (!dib)
            return dib;
        RGBQUAD* entries = FreeImage_GetPalette(dib.get());
        for (int i = 0; i < 256; ++i)
            entries[i] = RGBQUAD{0, 0, 0, 0};
        for (auto it = palette.cbegin(); it != palette.cend(); ++it) {
            entries[it.value()].rgbRed = BYTE(qRed(it.key()));
            entries[it.value()].rgbGreen = BYTE(qGreen(it.key()));
            entries[it.value()].rgbBlue = BYTE(qBlue(it.key()));
        }
        for (int y = 0; y < height; ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            BYTE* out = FreeImage_GetScanLine(dib.get(), height - 1 - y);
            for (int x = 0; x < width; ++x)
                out[x] = qAlpha(line[x]) < 128 ? BYTE(255) : BYTE(palette.value(line[x] | 0xFF000000u));
        }
    } else {
        FiBitmapPtr rgb = FiImage::FromQImage(image.convertToFormat(QImage::Format_RGB32), FiImage::Depth::Rgb24);
        if (!rgb)
            return rgb;
        dib.reset(FreeImage_ColorQuantizeEx(rgb.get(), FIQ_WUQUANT, transparent ? 255 : 256, 0, nullptr));
        if (!dib)
            return dib;
        if (transparent) {
            for (int y = 0; y < height; ++y) {
                const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                BYTE* out = FreeImage_GetScanLine(dib.get(), height - 1 - y);
                for (int x = 0; x < width; ++x) {
                    if (qAlpha(line[x]) < 128)
                        out[x] = 255;
                }
            }
        }
    }
    if (transparent)
        FreeImage_SetTransparentIndex(dib.get(), 255);
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        FreeImage_SetDotsPerMeterX(dib.get(), unsigned(image.dotsPerMeterX()));
        FreeImage_SetDotsPerMeterY(dib.get(), unsigned(image.dotsPerMeterY()));
    }
    return dib;
}

// FreeImage stores Targa rows bottom up under a bottom-left origin, which
// ImageMagick reads upside down; rows top down under a top-left origin read
// the same everywhere. Uncompressed files only: an 18-byte header (with the
// ID length in its first byte and the colour map's length and entry size at
// 5 and 7), the ID, the colour map (greyscale pictures are written with a
// grey one, 8 bits a pixel), then the rows.
void MakeTargaTopDown(QByteArray& file, int width, int height)
{
    if (file.size() < 18)
        return;
    const int mapType = uchar(file.at(1));
    const int imageType = uchar(file.at(2));
    const int bytesPerPixel = uchar(file.at(16)) / 8;
    const bool colourMapped = mapType == 1 && imageType == 1 && bytesPerPixel == 1;
    const bool trueColour = mapType == 0 && imageType == 2 && (bytesPerPixel == 3 || bytesPerPixel == 4);
    const bool grey = mapType == 0 && imageType == 3 && bytesPerPixel == 1;
    if (!colourMapped && !trueColour && !grey)
        return;
    const int mapLength = uchar(file.at(5)) | uchar(file.at(6)) << 8;
    const int mapEntryBytes = (uchar(file.at(7)) + 7) / 8;
    const qint64 start = 18 + uchar(file.at(0)) + (colourMapped ? qint64(mapLength) * mapEntryBytes : 0);
    const qint64 stride = qint64(width) * bytesPerPixel;
    if ((uchar(file.at(17)) & 0x20) || start + stride * height > file.size())
        return;
    const QByteArray rows = file.mid(int(start), int(stride * height));
    for (int y = 0; y < height; ++y)
        std::memcpy(file.data() + start + y * stride, rows.constData() + (height - 1 - y) * stride, size_t(stride));
    file[17] = char(uchar(file.at(17)) | 0x20);
}

bool SaveToBytes(FREE_IMAGE_FORMAT fif, FIBITMAP* dib, int flags, QByteArray& file)
{
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (!memory)
        return false;
    bool ok = FreeImage_SaveToMemory(fif, dib, memory, flags);
    if (ok) {
        BYTE* data = nullptr;
        DWORD size = 0;
        ok = FreeImage_AcquireMemory(memory, &data, &size) && size > 0;
        if (ok)
            file = QByteArray(reinterpret_cast<const char*>(data), int(size));
    }
    FreeImage_CloseMemory(memory);
    if (!ok)
        qCDebug(lcKorvaneFi) << "encoding failed:" << FiLibrary::TakeMessage();
    return ok;
}

} // namespace

namespace FiWriter {

bool Write(const QImage& image, const Options& options, QIODevice* device)
{
    if (image.isNull() || !device)
        return false;
    FiLibrary::Ensure();
    // PNG goes to the device as it is deflated; the others are made whole.
    if (FiFormat::FromKey(options.key) == FIF_PNG) {
        QByteArray profile;
        if (image.colorSpace().isValid())
            profile = image.colorSpace().iccProfile();
        return PngCodec::Encode(image, PngLevel(options.quality), profile,
                                FiMetadataIO::FromDescription(options.description), device);
    }
    QByteArray file;
    return Encode(image, options, file) && device->write(file) == file.size();
}

bool Encode(const QImage& image, const Options& options, QByteArray& file)
{
    if (image.isNull())
        return false;
    FiLibrary::Ensure();
    const FREE_IMAGE_FORMAT fif = FiFormat::FromKey(options.key);
    if (fif == FiFormat::FifJpegXr)
        return JxrCodec::Encode(image, options.quality < 0 ? kJxrDefaultQuality : options.quality, file);
    if (fif == FIF_UNKNOWN || fif == FIF_ICO || !FiFormat::CanWriteKey(options.key))
        return false;
    if (fif == FIF_PNG) {
        QBuffer buffer(&file);
        return buffer.open(QIODevice::WriteOnly) && Write(image, options, &buffer);
    }

    QByteArray profile;
    if (CarriesColorProfile(fif) && image.colorSpace().isValid())
        profile = image.colorSpace().iccProfile();
    const FiMetadata fields = FiMetadataIO::FromDescription(options.description);

    // JPEG and WebP straight from the picture's buffer (PNG: Write).
    if (fif == FIF_WEBP)
        return WebpCodec::Encode(image, PluginContract::IsLosslessQuality(options.quality), options.quality < 0 ? 75 : options.quality, profile, file);
    if (fif == FIF_JPEG) {
        if (!JpegCodec::Encode(image, options.quality, profile, file))
            return false;
        if (!fields.isEmpty() && !FiMetadataIO::ApplyWithExiv2(file, fields, image))
            qCDebug(lcKorvaneFi) << "metadata not written to" << options.key;
        return true;
    }

    FiBitmapPtr dib;
    if (fif == FIF_GIF)
        dib = GifBitmap(image);
    else if (fif == FIF_PFM)
        dib = FiImage::FromQImage(image.mirrored(false, true), DepthOf(fif, image));   // see FiReader
    else
        dib = FiImage::FromQImage(image, DepthOf(fif, image));
    if (!dib)
        return false;

    if (!profile.isEmpty())
        FreeImage_CreateICCProfile(dib.get(), profile.data(), long(profile.size()));

    if (!fields.isEmpty() && fif == FIF_GIF)
        FiMetadataIO::ApplyToBitmap(dib.get(), fields, fif);

    const int flags = SaveFlags(fif, options);
    bool ok = SaveToBytes(fif, dib.get(), flags, file);
    if (!ok && !profile.isEmpty()) {
        // A profile the encoder refuses (libpng checks them) is not worth
        // losing the picture over.
        FreeImage_DestroyICCProfile(dib.get());
        ok = SaveToBytes(fif, dib.get(), flags, file);
    }
    if (!ok)
        return false;
    if (fif == FIF_TARGA)
        MakeTargaTopDown(file, image.width(), image.height());

    if (!fields.isEmpty() && fif == FIF_TIFF) {
        if (!FiMetadataIO::ApplyWithExiv2(file, fields, image))
            qCDebug(lcKorvaneFi) << "metadata not written to" << options.key;
    }
    return true;
}

} // namespace FiWriter
