#include "heifcodec.h"

#include "codecthreads.h"

#include <libheif/heif.h>

#include <QColorSpace>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QVariant>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

const int kDefaultQuality = 80;

// x265's "medium" preset: "slow", libheif's default, took over twice as long
// on photographs for files 2 % smaller.
const char* const kPreset = "medium";

void EnsureLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

struct ContextDeleter { void operator()(heif_context* c) const { heif_context_free(c); } };
struct HandleDeleter { void operator()(heif_image_handle* h) const { heif_image_handle_release(h); } };
struct ImageDeleter { void operator()(heif_image* i) const { heif_image_release(i); } };
struct EncoderDeleter { void operator()(heif_encoder* e) const { heif_encoder_release(e); } };
struct OptionsDeleter { void operator()(heif_encoding_options* o) const { heif_encoding_options_free(o); } };
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using ImagePtr = std::unique_ptr<heif_image, ImageDeleter>;

bool Ok(const heif_error& error)
{
    return error.code == heif_error_Ok;
}

// The metadata blocks of one image: Exif items, and XMP as a "mime" item.
PhotoMetadata::Blocks BlocksOf(const heif_image_handle* handle)
{
    PhotoMetadata::Blocks blocks;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0)
        return blocks;
    std::vector<heif_item_id> ids(size_t(count), 0);
    heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (const heif_item_id id : ids) {
        const QByteArray type(heif_image_handle_get_metadata_type(handle, id));
        const QByteArray content(heif_image_handle_get_metadata_content_type(handle, id));
        const bool exif = type == "Exif";
        const bool xmp = type == "mime" && content == "application/rdf+xml";
        const size_t size = heif_image_handle_get_metadata_size(handle, id);
        if ((!exif && !xmp) || size == 0 || size > size_t(16) << 20)
            continue;
        QByteArray data(int(size), Qt::Uninitialized);
        if (!Ok(heif_image_handle_get_metadata(handle, id, data.data())))
            continue;
        if (exif && blocks.exif.isEmpty())
            blocks.exif = PhotoMetadata::ExifFromOffsetBlock(data);
        else if (xmp && blocks.xmp.isEmpty())
            blocks.xmp = data;
    }
    return blocks;
}

QColorSpace ColorSpaceOf(const heif_image_handle* handle)
{
    if (heif_image_handle_get_color_profile_type(handle) != heif_color_profile_type_prof
        && heif_image_handle_get_color_profile_type(handle) != heif_color_profile_type_rICC)
        return QColorSpace();
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0 || size > size_t(4) << 20)
        return QColorSpace();
    QByteArray profile(int(size), Qt::Uninitialized);
    if (!Ok(heif_image_handle_get_raw_color_profile(handle, profile.data())))
        return QColorSpace();
    return QColorSpace::fromIccProfile(profile);
}

// Reads one file; used by one thread at a time, in the child process.
class HeifHandler : public QImageIOHandler
{
public:
    bool canRead() const override
    {
        return device() && HeifCodec::LooksLikeHeif(device()->peek(64));
    }

    bool read(QImage* image) override
    {
        if (!Open() || iCurrent >= int(lIds.size()))
            return false;
        HandlePtr handle = Handle(iCurrent);
        if (!handle)
            return false;
        const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
        heif_image* decodedRaw = nullptr;
        if (!Ok(heif_decode_image(handle.get(), &decodedRaw, heif_colorspace_RGB,
                                  alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)))
            return false;
        const ImagePtr decoded(decodedRaw);
        int stride = 0;
        const uint8_t* pixels = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
        const int width = heif_image_get_width(decoded.get(), heif_channel_interleaved);
        const int height = heif_image_get_height(decoded.get(), heif_channel_interleaved);
        if (!pixels || width <= 0 || height <= 0)
            return false;
        const QImage::Format format = !alpha ? QImage::Format_RGB888
                                      : heif_image_handle_is_premultiplied_alpha(handle.get())
                                          ? QImage::Format_RGBA8888_Premultiplied
                                          : QImage::Format_RGBA8888;
        QImage picture(width, height, format);
        if (picture.isNull())
            return false;
        const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
        for (int y = 0; y < height; ++y)
            std::memcpy(picture.scanLine(y), pixels + qint64(y) * stride, rowBytes);
        const QColorSpace space = ColorSpaceOf(handle.get());
        if (space.isValid())
            picture.setColorSpace(space);
        *image = picture;
        if (iCurrent == 0)
            sDescription = PhotoMetadata::Describe(BlocksOf(handle.get()));
        ++iCurrent;
        return true;
    }

    int imageCount() const override
    {
        return const_cast<HeifHandler*>(this)->Open() ? int(lIds.size()) : 0;
    }

    int currentImageNumber() const override { return iCurrent; }

    bool jumpToImage(int imageNumber) override
    {
        if (imageNumber < 0 || imageNumber >= imageCount())
            return false;
        iCurrent = imageNumber;
        return true;
    }

    bool jumpToNextImage() override { return jumpToImage(iCurrent + 1); }

    bool supportsOption(ImageOption option) const override
    {
        return option == Size || option == Description || option == ImageTransformation;
    }

    QVariant option(ImageOption option) const override
    {
        HeifHandler* self = const_cast<HeifHandler*>(this);
        switch (option) {
        case Size: {
            if (!self->Open() || iCurrent >= int(lIds.size()))
                return QVariant();
            const HandlePtr handle = self->Handle(iCurrent);
            if (!handle)
                return QVariant();
            return QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
        }
        case Description:
            return sDescription;
        case ImageTransformation:
            // libheif has applied the file's transforms already.
            return int(TransformationNone);
        default:
            return QVariant();
        }
    }

private:
    bool Open()
    {
        if (bOpened)
            return pContext != nullptr;
        bOpened = true;
        if (!device())
            return false;
        baFile = device()->readAll();
        if (!HeifCodec::LooksLikeHeif(baFile.left(64)))
            return false;
        EnsureLibrary();
        ContextPtr context(heif_context_alloc());
        if (context)
            heif_context_set_max_decoding_threads(context.get(), CodecThreads::Granted());
        if (!context
            || !Ok(heif_context_read_from_memory_without_copy(context.get(), baFile.constData(), size_t(baFile.size()),
                                                              nullptr)))
            return false;
        const int count = heif_context_get_number_of_top_level_images(context.get());
        if (count <= 0)
            return false;
        lIds.assign(size_t(count), 0);
        heif_context_get_list_of_top_level_image_IDs(context.get(), lIds.data(), count);
        // The primary image is the first page.
        heif_item_id primary = 0;
        if (Ok(heif_context_get_primary_image_ID(context.get(), &primary))) {
            for (size_t i = 1; i < lIds.size(); ++i) {
                if (lIds[i] == primary) {
                    lIds.erase(lIds.begin() + long(i));
                    lIds.insert(lIds.begin(), primary);
                    break;
                }
            }
        }
        pContext = std::move(context);
        return true;
    }

    HandlePtr Handle(int page)
    {
        heif_image_handle* handle = nullptr;
        if (!pContext || !Ok(heif_context_get_image_handle(pContext.get(), lIds[size_t(page)], &handle)))
            return HandlePtr();
        return HandlePtr(handle);
    }

    bool bOpened = false;
    QByteArray baFile;      // libheif reads it in place
    ContextPtr pContext;
    std::vector<heif_item_id> lIds;
    int iCurrent = 0;
    QString sDescription;
};

class HeifPlugin : public QImageIOPlugin
{
public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override
    {
        if (!device || !device->isReadable())
            return {};
        if (!format.isEmpty() && format != "heif" && format != "heic")
            return {};
        return HeifCodec::LooksLikeHeif(device->peek(64)) ? CanRead : Capabilities();
    }

    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override
    {
        HeifHandler* handler = new HeifHandler;
        handler->setDevice(device);
        handler->setFormat(format.isEmpty() ? QByteArray("heif") : format);
        return handler;
    }
};

heif_error WriteToArray(heif_context*, const void* data, size_t size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), int(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

} // namespace

namespace HeifCodec {

bool LooksLikeHeif(const QByteArray& head)
{
    if (head.size() < 12 || head.mid(4, 4) != "ftyp")
        return false;
    static const char* const brands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"};
    const QByteArray major = head.mid(8, 4);
    for (const char* brand : brands) {
        if (major == brand)
            return true;
    }
    return false;
}

QImageIOPlugin* Plugin()
{
    static HeifPlugin plugin;
    return &plugin;
}

bool Encode(const QImage& source, int quality, const PhotoMetadata::Blocks& blocks, QByteArray& file)
{
    if (source.isNull())
        return false;
    EnsureLibrary();
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int width = image.width();
    const int height = image.height();

    ContextPtr context(heif_context_alloc());
    heif_encoder* encoderRaw = nullptr;
    if (!context || !Ok(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &encoderRaw)))
        return false;
    const std::unique_ptr<heif_encoder, EncoderDeleter> encoder(encoderRaw);
    heif_encoder_set_lossy_quality(encoder.get(), quality < 0 ? kDefaultQuality : qBound(1, quality, 100));
    heif_encoder_set_parameter_string(encoder.get(), "preset", kPreset);
    heif_encoder_set_parameter_string(encoder.get(), "x265:pools", QByteArray::number(CodecThreads::Granted()).constData());
    heif_encoder_set_logging_level(encoder.get(), 0);

    heif_image* pictureRaw = nullptr;
    if (!Ok(heif_image_create(width, height, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &pictureRaw)))
        return false;
    const ImagePtr picture(pictureRaw);
    if (!Ok(heif_image_add_plane(picture.get(), heif_channel_interleaved, width, height, 8)))
        return false;
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return false;
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(plane + qint64(y) * stride, image.constScanLine(y), rowBytes);
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb)) {
        const QByteArray profile = image.colorSpace().iccProfile();
        if (!profile.isEmpty())
            heif_image_set_raw_color_profile(picture.get(), "prof", profile.constData(), size_t(profile.size()));
    }

    const std::unique_ptr<heif_encoding_options, OptionsDeleter> options(heif_encoding_options_alloc());
    options->save_alpha_channel = alpha ? 1 : 0;
    heif_image_handle* handleRaw = nullptr;
    if (!Ok(heif_context_encode_image(context.get(), picture.get(), encoder.get(), options.get(), &handleRaw)))
        return false;
    const HandlePtr handle(handleRaw);
    if (!blocks.exif.isEmpty())
        heif_context_add_exif_metadata(context.get(), handle.get(), blocks.exif.constData(), int(blocks.exif.size()));
    if (!blocks.xmp.isEmpty())
        heif_context_add_XMP_metadata(context.get(), handle.get(), blocks.xmp.constData(), int(blocks.xmp.size()));

    heif_writer writer;
    writer.writer_api_version = 1;
    writer.write = WriteToArray;
    QByteArray out;
    if (!Ok(heif_context_write(context.get(), &writer, &out)) || out.isEmpty())
        return false;
    file = out;
    return true;
}

} // namespace HeifCodec
