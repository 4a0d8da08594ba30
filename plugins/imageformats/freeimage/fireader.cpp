#include "fireader.h"

#include "ddscodec.h"
#include "fiformat.h"
#include "jail.h"
#include "filibrary.h"
#include "fisanitize.h"
#include "ilbmcodec.h"
#include "jpegcodec.h"
#include "jxrcodec.h"
#include "pngcodec.h"
#include "tiffcodec.h"
#include "webpcodec.h"

#include <QColorSpace>
#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace {

// Pictures beyond this many pixels are refused before they are decoded: a
// damaged header must not make the decoder allocate gigabytes.
const qint64 kMaxPixels = qint64(1) << 28;

// Time a decoder run apart may take: raw photographs need seconds.
const int kIsolatedTimeoutMs = 20000;

// A header and its metadata take a moment, even in a large file.
const int kHeaderTimeoutMs = 5000;

// Frames after a wanted one that come back with it, up to this many bytes.
const qint64 kPageBatchBytes = qint64(64) << 20;

bool SizeAcceptable(FIBITMAP* dib)
{
    const qint64 width = FreeImage_GetWidth(dib);
    const qint64 height = FreeImage_GetHeight(dib);
    return width > 0 && height > 0 && width * height <= kMaxPixels;
}

void AttachColorSpace(FIBITMAP* dib, QImage& image)
{
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(dib);
    QByteArray bytes;
    if (profile && profile->data && profile->size > 0 && !(profile->flags & FIICC_COLOR_IS_CMYK))
        bytes = QByteArray(static_cast<const char*>(profile->data), int(profile->size));
    if (bytes.isEmpty())
        return;
    const QColorSpace space = QColorSpace::fromIccProfile(bytes);
    if (space.isValid())
        image.setColorSpace(space);
}

long TagLong(FIBITMAP* dib, FREE_IMAGE_MDMODEL model, const char* key, bool* found)
{
    FITAG* tag = nullptr;
    *found = false;
    if (!dib || !FreeImage_GetMetadata(model, dib, key, &tag) || !tag || !FreeImage_GetTagValue(tag))
        return 0;
    const void* value = FreeImage_GetTagValue(tag);
    switch (FreeImage_GetTagType(tag)) {
    case FIDT_LONG:
        *found = true;
        return long(*static_cast<const DWORD*>(value));
    case FIDT_SHORT:
        *found = true;
        return long(*static_cast<const WORD*>(value));
    case FIDT_BYTE:
        *found = true;
        return long(*static_cast<const BYTE*>(value));
    default:
        return 0;
    }
}

} // namespace

FiReader::~FiReader()
{
    if (pMulti)
        FreeImage_CloseMultiBitmap(pMulti, 0);
    if (pMultiMemory)
        FreeImage_CloseMemory(pMultiMemory);
}

bool FiReader::Load(QIODevice* device, const QByteArray& key)
{
    if (bLoaded || !device || !device->isReadable())
        return false;
    return Load(device->readAll(), key);
}

bool FiReader::Load(const QByteArray& file, const QByteArray& key)
{
    if (bLoaded)
        return false;
    FiLibrary::Ensure();
    baFile = file;
    if (baFile.isEmpty())
        return false;
    fif = FiFormat::Resolve(baFile.left(FiFormat::HeadSize), key.toLower());
    if (fif == FIF_UNKNOWN)
        return false;
    baFile = FiSanitize::ForDecoding(baFile, fif);
    // DDS is decoded by the plugin's own decoder; other layouts are refused.
    if (fif == FIF_DDS && !DdsCodec::Decodes(baFile))
        return false;
    if (baFile.isEmpty())
        return false;

    if (fif == FIF_TIFF) {
        // TIFF pages are read by libtiff itself, each in a child process.
        iPageCount = TiffCodec::PageCount(baFile);
        if (iPageCount <= 0)
            return false;
    } else if (FiFormat::IsMultiPage(fif)) {
        pMultiMemory = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(baFile.data()), DWORD(baFile.size()));
        if (pMultiMemory)
            pMulti = FreeImage_LoadMultiBitmapFromMemory(fif, pMultiMemory, FiFormat::LoadFlags(fif));
        iPageCount = pMulti ? FreeImage_GetPageCount(pMulti) : 0;
        if (iPageCount <= 0) {
            qCDebug(lcKorvaneFi) << "no pages:" << FiLibrary::TakeMessage();
            return false;
        }
    } else if (fif == FIF_WEBP && WebpCodec::IsAnimation(baFile)) {
        // Animated WebP: its frames are the pages; still pictures keep the
        // direct path.
        pWebpAnimation.reset(new WebpAnimation(baFile));
        iPageCount = pWebpAnimation->FrameCount();
        if (iPageCount <= 0)
            return false;
    } else {
        iPageCount = 1;
    }
    bLoaded = true;
    return true;
}

bool FiReader::JumpToPage(int page)
{
    if (!bLoaded || page < 0 || page >= iPageCount)
        return false;
    iPage = page;
    iReadPage = -1;
    return true;
}

FIBITMAP* FiReader::LoadSingle(int flags, FIMEMORY** memory) const
{
    // A stream of its own for every load: the multi-page bitmap keeps its
    // position in the other one.
    *memory = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(const_cast<char*>(baFile.constData())),
                                   DWORD(baFile.size()));
    if (!*memory)
        return nullptr;
    return FreeImage_LoadFromMemory(fif, *memory, flags);
}

QSize FiReader::LoadHeaderApart()
{
    const FiReader* self = this;
    Jail::Result result;
    const auto work = [self](Jail::Result& out) {
        FIMEMORY* memory = nullptr;
        FIBITMAP* page = nullptr;
        FiBitmapPtr header;
        if (self->pMulti)
            page = FreeImage_LockPage(self->pMulti, 0);
        else
            header.reset(self->LoadSingle(FiFormat::LoadFlags(self->fif) | FIF_LOAD_NOPIXELS, &memory));
        FIBITMAP* dib = self->pMulti ? page : header.get();
        if (!dib)
            return false;
        out.numbers << FreeImage_GetWidth(dib) << FreeImage_GetHeight(dib);
        QDataStream stream(&out.data, QIODevice::WriteOnly);
        const FiMetadata fields = FiMetadataIO::FromBitmap(dib);
        stream << qint32(fields.size());
        for (const FiMetadataField& field : fields)
            stream << qint32(field.category) << field.name << field.value;
        return true;
    };
    if (!Jail::Run(work, kHeaderTimeoutMs, result) || result.numbers.size() != 2) {
        bBitmapFields = true;
        return QSize();
    }
    QDataStream stream(result.data);
    qint32 count = 0;
    stream >> count;
    FiMetadata fields;
    for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        FiMetadataField field;
        qint32 category = 0;
        stream >> category >> field.name >> field.value;
        field.category = category;
        if (stream.status() == QDataStream::Ok && category >= 0 && category < FiMetadataIO::CategoryCount)
            fields << field;
    }
    if (!bBitmapFields) {
        bitmapFields = fields;
        bBitmapFields = true;
    }
    const qint64 width = result.numbers.at(0);
    const qint64 height = result.numbers.at(1);
    if (width <= 0 || height <= 0 || width * height > kMaxPixels)
        return QSize();
    return QSize(int(width), int(height));
}

void FiReader::KeepBitmapMetadata(FIBITMAP* dib)
{
    if (bBitmapFields || !dib)
        return;
    bitmapFields = FiMetadataIO::FromBitmap(dib);
    bBitmapFields = true;
}

QImage FiReader::DecodePage(int page, const QSize& scaledSize)
{
    if (fif == FIF_TIFF) {
        // The size is checked here, so a page beyond reason costs no process.
        if (!TiffCodec::PageSize(baFile, page).isValid())
            return QImage();
        const QByteArray& file = baFile;
        return Jail::Run([&file, page]() { return TiffCodec::Decode(file, page, false); }, kIsolatedTimeoutMs);
    }
    if (pWebpAnimation)
        return pWebpAnimation->Frame(page, &iFrameDelay);
    if (FiFormat::IsIsolated(fif)) {
        // A decoder that died or stalled once is not run again for the page.
        if (bIsolatedFailed)
            return QImage();
        const FiReader* self = this;
        const QImage image = Jail::Run(
            [self, scaledSize]() { return self->DecodeSingle(scaledSize, nullptr); }, kIsolatedTimeoutMs);
        bIsolatedFailed = image.isNull();
        return image;
    }
    if (!pMulti)
        return DecodeSingle(scaledSize, this);
    return DecodeMultiPage(page);
}

// GIF and ICO pages through FreeImage's multi-page reader, in a child
// process. Composed GIF frames build on the ones before them, so the frames
// after the wanted one come back in the same run (within a memory budget)
// and are kept for the reads that follow.
QImage FiReader::DecodeMultiPage(int page)
{
    const auto kept = decodedPages.find(page);
    if (kept != decodedPages.end()) {
        const QImage image = kept.value();
        decodedPages.erase(kept);
        iFrameDelay = frameDelays.value(page);
        return image;
    }
    // Pages before it were passed over; they are decoded again if asked.
    decodedPages.clear();
    if (failedPages.contains(page))
        return QImage();

    FIMULTIBITMAP* multi = pMulti;
    const int count = iPageCount;
    const FREE_IMAGE_FORMAT format = fif;
    const auto work = [multi, count, format, page](Jail::Result& out) {
        qint64 bytes = 0;
        for (int at = page; at < count; ++at) {
            FIBITMAP* dib = FreeImage_LockPage(multi, at);
            if (!dib)
                break;
            QImage image;
            if (SizeAcceptable(dib)) {
                image = FiImage::ToQImage(dib);
                AttachColorSpace(dib, image);
            }
            bool found = false;
            const long delay = TagLong(dib, FIMD_ANIMATION, "FrameTime", &found);
            FreeImage_UnlockPage(multi, dib, FALSE);
            if (image.isNull())
                break;
            out.images << image;
            out.numbers << (found ? qBound(0L, delay, 65535L * 10) : 0);
            bytes += image.sizeInBytes();
            if (format != FIF_GIF || bytes >= kPageBatchBytes || out.images.size() >= Jail::MaxImages)
                break;
        }
        return !out.images.isEmpty();
    };
    Jail::Result result;
    if (!Jail::Run(work, kIsolatedTimeoutMs, result) || result.numbers.size() != result.images.size()) {
        failedPages.insert(page);
        return QImage();
    }
    for (int i = 1; i < result.images.size(); ++i) {
        decodedPages.insert(page + i, result.images.at(i));
        frameDelays.insert(page + i, int(result.numbers.at(i)));
    }
    iFrameDelay = int(result.numbers.first());
    return result.images.first();
}

QImage FiReader::DecodeSingle(const QSize& scaledSize, FiReader* keeper) const
{
    if (fif == FiFormat::FifJpegXr)
        return JxrCodec::Decode(baFile);
    if (fif == FIF_DDS)
        return DdsCodec::Decode(baFile);
    if (fif == FIF_IFF)
        return IlbmCodec::Decode(baFile);
    // The formats converted most go straight into the picture's buffer;
    // their text comes with the metadata (Description).
    if (fif == FIF_JPEG)
        return JpegCodec::Decode(baFile, scaledSize);
    if (fif == FIF_PNG)
        return PngCodec::Decode(baFile);
    if (fif == FIF_WEBP)
        return WebpCodec::Decode(baFile);

    int flags = FiFormat::LoadFlags(fif);
    if (FreeImage_FIFSupportsNoPixels(fif)) {
        FIMEMORY* memory = nullptr;
        FiBitmapPtr header(LoadSingle(flags | FIF_LOAD_NOPIXELS, &memory));
        const bool acceptable = header && SizeAcceptable(header.get());
        header.reset();
        if (memory)
            FreeImage_CloseMemory(memory);
        if (!acceptable)
            return QImage();
    }
    if (fif == FIF_JPEG && scaledSize.isValid()) {
        // libjpeg decodes at 1/2, 1/4 or 1/8 of the size, no smaller than asked.
        const int requested = qBound(1, std::max(scaledSize.width(), scaledSize.height()), 0x7FFF);
        flags |= requested << 16;
    }
    QImage image;
    FIMEMORY* memory = nullptr;
    FiBitmapPtr dib(LoadSingle(flags, &memory));
    if (dib && SizeAcceptable(dib.get())) {
        image = FiImage::ToQImage(dib.get());
        // FreeImage keeps PFM rows top to bottom; the format stores them
        // bottom to top, as Netpbm and ImageMagick read and write them.
        if (fif == FIF_PFM)
            image = image.mirrored(false, true);
        AttachColorSpace(dib.get(), image);
        if (keeper)
            keeper->KeepBitmapMetadata(dib.get());
    } else {
        qCDebug(lcKorvaneFi) << "decoding failed:" << FiLibrary::TakeMessage();
    }
    dib.reset();
    if (memory)
        FreeImage_CloseMemory(memory);
    return image;
}

bool FiReader::Read(QImage* image, const QSize& scaledSize)
{
    if (!bLoaded || iPage >= iPageCount || !image)
        return false;
    QImage picture;
    if (iCachedPage == iPage) {
        picture = cachedImage;
        cachedImage = QImage();
        iCachedPage = -1;
    } else {
        picture = DecodePage(iPage, scaledSize);
    }
    if (picture.isNull())
        return false;
    if (scaledSize.isValid() && picture.size() != scaledSize) {
        const int dpmX = picture.dotsPerMeterX();
        const int dpmY = picture.dotsPerMeterY();
        picture = picture.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        picture.setDotsPerMeterX(dpmX);
        picture.setDotsPerMeterY(dpmY);
    }
    *image = picture;
    iReadPage = iPage++;
    return true;
}

QSize FiReader::PageSize()
{
    if (!bLoaded || iPage >= iPageCount)
        return QSize();
    if (iCachedPage == iPage)
        return cachedImage.size();
    if (fif == FIF_TIFF)
        return TiffCodec::PageSize(baFile, iPage);
    // The direct paths read their own headers.
    if (fif == FIF_JPEG)
        return JpegCodec::Size(baFile);
    if (fif == FIF_PNG)
        return PngCodec::Size(baFile);
    if (fif == FIF_WEBP && !pWebpAnimation)
        return WebpCodec::Size(baFile);
    if (!pMulti && !FiFormat::IsIsolated(fif) && FreeImage_FIFSupportsNoPixels(fif))
        return LoadHeaderApart();
    cachedImage = DecodePage(iPage, QSize());
    iCachedPage = cachedImage.isNull() ? -1 : iPage;
    return cachedImage.size();
}

int FiReader::LoopCount()
{
    // FreeImage keeps the loop count only with raw frames, not composed ones:
    // it is read from the application extension. As Qt's GIF reader: a
    // stored 0 loops forever (-1), no extension plays once (0).
    if (pWebpAnimation)
        return pWebpAnimation->LoopCount();
    if (!bLoopCount && bLoaded && fif == FIF_GIF) {
        static const QByteArray extension("NETSCAPE2.0\x03\x01", 13);
        const int at = baFile.indexOf(extension);
        if (at >= 0 && at + extension.size() + 2 <= baFile.size()) {
            const uchar* count = reinterpret_cast<const uchar*>(baFile.constData()) + at + extension.size();
            const int loops = count[0] | (count[1] << 8);
            iLoopCount = loops == 0 ? -1 : loops;
        }
        bLoopCount = true;
    }
    return iLoopCount;
}

QImageIOHandler::Transformations FiReader::Transformation()
{
    if (!bLoaded)
        return QImageIOHandler::TransformationNone;
    const int page = iReadPage >= 0 ? iReadPage : iPage;
    if (fif == FIF_JPEG)
        return JpegCodec::Transformation(baFile);
    if (fif == FIF_TIFF)
        return TiffCodec::Transformation(baFile, page);
    return QImageIOHandler::TransformationNone;
}

QString FiReader::Description()
{
    if (bDescribed || !bLoaded)
        return sDescription;
    bDescribed = true;

    // Decoders run apart bring no metadata back; Exiv2 reads theirs.
    if (!bBitmapFields && !FiFormat::IsIsolated(fif)) {
        if (pMulti) {
            LoadHeaderApart();
        } else if (FreeImage_FIFSupportsNoPixels(fif)) {
            LoadHeaderApart();
        } else {
            // Formats without a header-only load are decoded once; the
            // picture is kept for the read that usually follows.
            const QImage picture = DecodePage(0, QSize());
            if (iPage == 0 && !picture.isNull()) {
                cachedImage = picture;
                iCachedPage = 0;
            }
        }
    }

    FiMetadata fields;
    FiMetadata exiv;
    if (FiMetadataIO::FromExiv2(baFile, fif, exiv)) {
        // Exif, IPTC and XMP from Exiv2; comments, GeoTIFF, animation and
        // custom text from FreeImage, unless Exiv2 found the only comment.
        bool comments = false;
        for (const FiMetadataField& field : bitmapFields) {
            const bool kept = field.category == FiMetadataIO::Comments || field.category == FiMetadataIO::GeoTiff
                           || field.category == FiMetadataIO::Animation || field.category == FiMetadataIO::Custom;
            if (kept)
                fields << field;
            comments = comments || field.category == FiMetadataIO::Comments;
        }
        for (const FiMetadataField& field : exiv) {
            if (field.category != FiMetadataIO::Comments || !comments)
                fields << field;
        }
    } else {
        fields = bitmapFields;
    }
    sDescription = FiMetadataIO::ToDescription(fields);
    return sDescription;
}
