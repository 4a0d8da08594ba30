#include "webpcodec.h"

#include "codecthreads.h"

#include <QColorSpace>

#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace {

const qint64 kMaxPixels = qint64(1) << 28;

QByteArray Profile(const QByteArray& file)
{
    const WebPData data = {reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size())};
    WebPDemuxer* demuxer = WebPDemux(&data);
    if (!demuxer)
        return QByteArray();
    QByteArray profile;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demuxer, "ICCP", 1, &chunk)) {
        profile = QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes), int(chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demuxer);
    return profile;
}

bool AddProfile(const QByteArray& profile, QByteArray& file)
{
    const WebPData image = {reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size())};
    WebPMux* mux = WebPMuxCreate(&image, 0);
    if (!mux)
        return false;
    const WebPData icc = {reinterpret_cast<const uint8_t*>(profile.constData()), size_t(profile.size())};
    WebPData assembled = {nullptr, 0};
    const bool ok = WebPMuxSetChunk(mux, "ICCP", &icc, 0) == WEBP_MUX_OK && WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
    if (ok)
        file = QByteArray(reinterpret_cast<const char*>(assembled.bytes), int(assembled.size));
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return ok;
}

} // namespace

namespace WebpCodec {

QImage Decode(const QByteArray& file)
{
    const uint8_t* data = reinterpret_cast<const uint8_t*>(file.constData());
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size_t(file.size()), &features) != VP8_STATUS_OK || features.has_animation
        || features.width <= 0 || features.height <= 0 || qint64(features.width) * features.height > kMaxPixels)
        return QImage();
    // B, G, R, A bytes are ARGB32 on a little-endian machine (alpha 0xFF
    // without an alpha channel, which RGB32 wants).
    QImage image(features.width, features.height, features.has_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return image;
    if (!WebPDecodeBGRAInto(data, size_t(file.size()), image.bits(), size_t(image.sizeInBytes()), image.bytesPerLine()))
        return QImage();
    const QByteArray profile = Profile(file);
    if (!profile.isEmpty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(profile);
        if (space.isValid())
            image.setColorSpace(space);
    }
    return image;
}

QSize Size(const QByteArray& file)
{
    int width = 0;
    int height = 0;
    if (!WebPGetInfo(reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size()), &width, &height))
        return QSize();
    return QSize(width, height);
}

bool IsAnimation(const QByteArray& file)
{
    WebPBitstreamFeatures features;
    return WebPGetFeatures(reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size()), &features)
               == VP8_STATUS_OK
           && features.has_animation;
}

bool Encode(const QImage& source, bool lossless, int quality, const QByteArray& profile, QByteArray& file)
{
    if (source.isNull() || source.width() > WEBP_MAX_DIMENSION || source.height() > WEBP_MAX_DIMENSION)
        return false;
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);

    WebPConfig config;
    if (!WebPConfigInit(&config))
        return false;
    config.lossless = lossless ? 1 : 0;
    config.exact = lossless ? 1 : 0;
    config.quality = lossless ? 75.0f : float(qBound(0, quality, 100));
    // The encoder's own second thread (alpha and analysis beside the main
    // pass) when the program grants one; the file is the same either way.
    config.thread_level = CodecThreads::Granted() > 1 ? 1 : 0;
    if (!WebPValidateConfig(&config))
        return false;

    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return false;
    picture.width = image.width();
    picture.height = image.height();
    // Lossy pictures are imported straight into the encoder's YUV planes
    // (as cwebp does), without an ARGB copy converted afterwards.
    picture.use_argb = lossless ? 1 : 0;
    const bool imported = alpha ? WebPPictureImportBGRA(&picture, image.constBits(), image.bytesPerLine())
                                : WebPPictureImportBGRX(&picture, image.constBits(), image.bytesPerLine());
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool encoded = imported && WebPEncode(&config, &picture);
    if (encoded)
        file = QByteArray(reinterpret_cast<const char*>(writer.mem), int(writer.size));
    WebPMemoryWriterClear(&writer);
    WebPPictureFree(&picture);
    if (!encoded || file.isEmpty())
        return false;
    if (!profile.isEmpty())
        AddProfile(profile, file);   // the picture is worth more than its profile
    return true;
}

} // namespace WebpCodec

WebpAnimation::WebpAnimation(const QByteArray& file)
    : baFile(file)
{
    WebPBitstreamFeatures features;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(baFile.constData());
    if (WebPGetFeatures(data, size_t(baFile.size()), &features) != VP8_STATUS_OK || !features.has_animation
        || features.width <= 0 || features.height <= 0 || qint64(features.width) * features.height > kMaxPixels)
        return;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return;
    // B, G, R, A bytes: ARGB32 on a little-endian machine, not premultiplied.
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData webp = {data, size_t(baFile.size())};
    pDecoder = WebPAnimDecoderNew(&webp, &options);
    WebPAnimInfo info;
    if (!pDecoder || !WebPAnimDecoderGetInfo(pDecoder, &info) || info.frame_count == 0
        || qint64(info.canvas_width) * info.canvas_height > kMaxPixels)
        return;
    iWidth = int(info.canvas_width);
    iHeight = int(info.canvas_height);
    iFrameCount = int(qMin<uint32_t>(info.frame_count, 1 << 20));
    // The file stores the number of showings, 0 for ever.
    iLoopCount = info.loop_count == 0 ? -1 : int(qMin<uint32_t>(info.loop_count, 65535)) - 1;
    baProfile = Profile(baFile);
}

WebpAnimation::~WebpAnimation()
{
    if (pDecoder)
        WebPAnimDecoderDelete(pDecoder);
}

QImage WebpAnimation::Frame(int index, int* delay)
{
    if (!pDecoder || index < 0 || index >= iFrameCount)
        return QImage();
    if (index <= iDecoded) {
        WebPAnimDecoderReset(pDecoder);
        iDecoded = -1;
        iTimestamp = 0;
    }
    uint8_t* canvas = nullptr;
    while (iDecoded < index) {
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(pDecoder, &canvas, &timestamp) || !canvas) {
            // The decoder cannot go on from a damaged frame: start again next time.
            WebPAnimDecoderReset(pDecoder);
            iDecoded = -1;
            iTimestamp = 0;
            return QImage();
        }
        iPreviousTimestamp = iTimestamp;
        iTimestamp = timestamp;
        ++iDecoded;
    }
    QImage image(iWidth, iHeight, QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < iHeight; ++y)
        std::memcpy(image.scanLine(y), canvas + size_t(y) * size_t(iWidth) * 4, size_t(iWidth) * 4);
    if (!baProfile.isEmpty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(baProfile);
        if (space.isValid())
            image.setColorSpace(space);
    }
    if (delay)
        *delay = qMax(0, iTimestamp - iPreviousTimestamp);
    return image;
}
