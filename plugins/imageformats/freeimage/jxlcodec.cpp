#include "jxlcodec.h"

#include "codecthreads.h"

#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <QColorSpace>

#include <cmath>
#include <memory>

namespace {

const int kDefaultQuality = 80;

// Effort 7 (the encoder's default) for lossy pictures; lossless at 3, which
// took a seventh to a tenth of 7's time on photographs for files within 6 %
// of its size.
const int kLossyEffort = 7;
const int kLosslessEffort = 3;

struct EncoderDeleter { void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); } };
struct RunnerDeleter { void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); } };

// The butteraugli distance of a quality, as cjxl maps it: 90 is 1.0
// ("visually lossless"), each step below adds 0.09; below 30 it grows faster.
float Distance(int quality)
{
    const int q = qBound(1, quality, 100);
    if (q >= 30)
        return 0.1f + float(100 - q) * 0.09f;
    return 6.4f + float(std::pow(2.5, (30 - q) / 5.0)) / 6.25f;
}

} // namespace

namespace JxlCodec {

bool Encode(const QImage& source, bool lossless, int quality, const PhotoMetadata::Blocks& blocks, QByteArray& file)
{
    if (source.isNull())
        return false;
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);

    const std::unique_ptr<JxlEncoder, EncoderDeleter> encoder(JxlEncoderCreate(nullptr));
    const std::unique_ptr<void, RunnerDeleter> runner(
        JxlThreadParallelRunnerCreate(nullptr, size_t(CodecThreads::Granted())));
    if (!encoder || !runner
        || JxlEncoderSetParallelRunner(encoder.get(), JxlThreadParallelRunner, runner.get()) != JXL_ENC_SUCCESS)
        return false;

    const bool metadata = !blocks.exif.isEmpty() || !blocks.xmp.isEmpty();
    if (metadata && (JxlEncoderUseContainer(encoder.get(), JXL_TRUE) != JXL_ENC_SUCCESS
                     || JxlEncoderUseBoxes(encoder.get()) != JXL_ENC_SUCCESS))
        return false;

    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(image.width());
    info.ysize = uint32_t(image.height());
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.num_extra_channels = alpha ? 1 : 0;
    info.alpha_bits = alpha ? 8 : 0;
    info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
    if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS)
        return false;

    const QColorSpace space = image.colorSpace();
    bool profileSet = false;
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        const QByteArray profile = space.iccProfile();
        profileSet = !profile.isEmpty()
                     && JxlEncoderSetICCProfile(encoder.get(), reinterpret_cast<const uint8_t*>(profile.constData()),
                                                size_t(profile.size())) == JXL_ENC_SUCCESS;
    }
    if (!profileSet) {
        JxlColorEncoding srgb;
        JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
        if (JxlEncoderSetColorEncoding(encoder.get(), &srgb) != JXL_ENC_SUCCESS)
            return false;
    }

    if (!blocks.exif.isEmpty()) {
        const QByteArray box = PhotoMetadata::OffsetBlockFromExif(blocks.exif);
        if (JxlEncoderAddBox(encoder.get(), "Exif", reinterpret_cast<const uint8_t*>(box.constData()), size_t(box.size()),
                             JXL_FALSE) != JXL_ENC_SUCCESS)
            return false;
    }
    if (!blocks.xmp.isEmpty()
        && JxlEncoderAddBox(encoder.get(), "xml ", reinterpret_cast<const uint8_t*>(blocks.xmp.constData()),
                            size_t(blocks.xmp.size()), JXL_FALSE) != JXL_ENC_SUCCESS)
        return false;
    if (metadata)
        JxlEncoderCloseBoxes(encoder.get());

    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    if (!settings)
        return false;
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, lossless ? kLosslessEffort : kLossyEffort);
    const bool configured = lossless
        ? JxlEncoderSetFrameLossless(settings, JXL_TRUE) == JXL_ENC_SUCCESS
        : JxlEncoderSetFrameDistance(settings, Distance(quality < 0 ? kDefaultQuality : quality)) == JXL_ENC_SUCCESS;
    if (!configured)
        return false;

    // QImage rows start on 4-byte boundaries.
    const JxlPixelFormat format{uint32_t(alpha ? 4 : 3), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
    if (JxlEncoderAddImageFrame(settings, &format, image.constBits(), size_t(image.sizeInBytes())) != JXL_ENC_SUCCESS)
        return false;
    JxlEncoderCloseInput(encoder.get());

    QByteArray out(64 << 10, Qt::Uninitialized);
    size_t used = 0;
    for (;;) {
        uint8_t* next = reinterpret_cast<uint8_t*>(out.data()) + used;
        size_t available = size_t(out.size()) - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder.get(), &next, &available);
        used = size_t(next - reinterpret_cast<uint8_t*>(out.data()));
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return false;
        out.resize(out.size() * 2);
    }
    out.resize(int(used));
    file = out;
    return true;
}

} // namespace JxlCodec
