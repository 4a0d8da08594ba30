#include "jpegcodec.h"

#include "codecthreads.h"
#include "filibrary.h"

#include <QColorSpace>
#include <QThread>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <vector>

#include <jpeglib.h>

namespace {

const qint64 kMaxPixels = qint64(1) << 28;
// Decoding on several threads: pictures from this size, this many threads at
// most, and the share of a row's decoding that is entropy decoding.
const qint64 kBandDecodePixels = qint64(4) << 20;
const int kMostDecodeThreads = 8;
const double kEntropyShare = 0.3;

// libjpeg reports fatal errors by calling error_exit, which must not return:
// it jumps back to the setjmp of the function that drives the codec. Those
// functions keep only trivially destructible locals past their setjmp.
struct ErrorManager
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr info)
{
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    qCDebug(lcKorvaneFi) << "libjpeg:" << message;
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OutputMessage(j_common_ptr info)
{
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    qCDebug(lcKorvaneFi) << "libjpeg:" << message;
}

void Install(ErrorManager& errors, j_common_ptr info)
{
    info->err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = ErrorExit;
    errors.manager.output_message = OutputMessage;
}

int DotsPerMeter(int density, int unit)
{
    if (density <= 0)
        return 0;
    if (unit == 1)
        return int(std::lround(density / 0.0254));
    if (unit == 2)
        return density * 100;
    return 0;
}

// Header, output layout and the scale. False on a damaged header or a size
// beyond reason.
bool ReadHeader(jpeg_decompress_struct* info, ErrorManager* errors, const QByteArray* file, const QSize* scaledSize,
                QByteArray* profile)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(file->constData()), static_cast<unsigned long>(file->size()));
    jpeg_save_markers(info, JPEG_APP0 + 2, 0xFFFF);   // ICC profile chunks
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK)
        return false;
    if (qint64(info->image_width) * info->image_height > kMaxPixels)
        return false;
    // The saved markers live only until the decompression ends.
    JOCTET* icc = nullptr;
    unsigned int length = 0;
    if (jpeg_read_icc_profile(info, &icc, &length) && icc) {
        *profile = QByteArray(reinterpret_cast<const char*>(icc), int(length));
        std::free(icc);
    }
    info->dct_method = JDCT_ISLOW;
    switch (info->jpeg_color_space) {
    case JCS_GRAYSCALE:
        info->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        info->out_color_space = JCS_CMYK;
        break;
    default:
        info->out_color_space = JCS_EXT_BGRA;   // ARGB32 bytes on a little-endian machine, alpha 0xFF
        break;
    }
    if (scaledSize->isValid()) {
        int denominator = 8;
        while (denominator > 1
               && (int((info->image_width + denominator - 1) / denominator) < scaledSize->width()
                   || int((info->image_height + denominator - 1) / denominator) < scaledSize->height()))
            denominator /= 2;
        info->scale_num = 1;
        info->scale_denom = unsigned(denominator);
    }
    jpeg_calc_output_dimensions(info);
    return true;
}

bool ReadPixels(jpeg_decompress_struct* info, ErrorManager* errors, QImage* image)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(info);
    const bool cmyk = info->out_color_space == JCS_CMYK;
    const bool inverted = info->saw_Adobe_marker;
    unsigned char* row = cmyk ? static_cast<unsigned char*>((*info->mem->alloc_sarray)(
                                    reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, info->output_width * 4, 1)[0])
                              : nullptr;
    while (info->output_scanline < info->output_height) {
        const int y = int(info->output_scanline);
        JSAMPROW target = cmyk ? row : image->scanLine(y);
        if (jpeg_read_scanlines(info, &target, 1) != 1)
            break;
        if (cmyk) {
            QRgb* out = reinterpret_cast<QRgb*>(image->scanLine(y));
            for (unsigned x = 0; x < info->output_width; ++x) {
                const unsigned char* p = row + 4 * x;
                // Adobe writes the inks inverted (0 is full ink).
                const int c = inverted ? p[0] : 255 - p[0];
                const int m = inverted ? p[1] : 255 - p[1];
                const int yellow = inverted ? p[2] : 255 - p[2];
                const int k = inverted ? p[3] : 255 - p[3];
                out[x] = qRgb(c * k / 255, m * k / 255, yellow * k / 255);
            }
        }
    }
    jpeg_finish_decompress(info);
    return true;
}

// Rows [first, end) decoded by a decompressor of their own: the rows above
// are entropy-decoded only (jpeg_skip_scanlines skips the transform and the
// colour conversion), from one iMCU row above first so that the upsampler
// has its context.
bool ReadBandPixels(jpeg_decompress_struct* info, ErrorManager* errors, QImage* image, int first, int end)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(info);
    const int rowsPerIMcu = info->max_v_samp_factor * info->min_DCT_scaled_size;
    const int start = qMax(0, first - rowsPerIMcu);
    if (start > 0 && int(jpeg_skip_scanlines(info, JDIMENSION(start))) != start)
        return false;
    JSAMPROW scratch = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                  info->output_width * JDIMENSION(info->output_components), 1)[0];
    while (int(info->output_scanline) < end) {
        const int y = int(info->output_scanline);
        JSAMPROW target = y >= first ? image->scanLine(y) : scratch;
        if (jpeg_read_scanlines(info, &target, 1) != 1)
            return false;
    }
    jpeg_abort_decompress(info);
    return true;
}

bool ReadBand(const QByteArray* file, QImage* image, int first, int end)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    Install(errors, reinterpret_cast<j_common_ptr>(&info));
    jpeg_create_decompress(&info);
    const QSize none;
    QByteArray profile;
    const bool ok = ReadHeader(&info, &errors, file, &none, &profile) && ReadBandPixels(&info, &errors, image, first, end);
    jpeg_destroy_decompress(&info);
    return ok;
}

// A large picture decoded on several threads, when the program grants them:
// each takes a band of rows and entropy-decodes the scan above it (about a
// third of the work of decoding it), so the upper bands are the taller. Only
// files of one scan, decoded at full size straight into the picture's rows.
bool ReadInBands(jpeg_decompress_struct* info, const QByteArray* file, QImage* image)
{
    const int threads = qMin(CodecThreads::Granted(), kMostDecodeThreads);
    const int height = int(info->output_height);
    const int rowsPerIMcu = info->max_v_samp_factor * info->min_DCT_scaled_size;
    const int iMcuRows = (height + rowsPerIMcu - 1) / rowsPerIMcu;
    if (threads < 2 || jpeg_has_multiple_scans(info) || info->scale_denom != 1
        || info->out_color_space == JCS_CMYK
        || qint64(info->output_width) * height < kBandDecodePixels || iMcuRows < 4 * threads)
        return false;
    // Band j starts at b[j] iMCU rows and costs kEntropyShare * b[j] for the
    // rows above it plus its own rows; all bands cost the same.
    double starts[kMostDecodeThreads + 1] = {0};
    for (int j = 1; j <= threads; ++j)
        starts[j] = starts[j - 1] * (1 - kEntropyShare) + 1;
    int bounds[kMostDecodeThreads + 1] = {0};
    for (int j = 1; j <= threads; ++j)
        bounds[j] = qMin(height, int(iMcuRows * starts[j] / starts[threads] + 0.5) * rowsPerIMcu);
    bounds[threads] = height;
    std::atomic<bool> ok{true};
    std::vector<QThread*> helpers;
    for (int j = 1; j < threads; ++j) {
        QThread* helper = QThread::create([&ok, file, image, &bounds, j] {
            if (!ReadBand(file, image, bounds[j], bounds[j + 1]))
                ok = false;
        });
        helper->start();
        helpers.push_back(helper);
    }
    if (!ReadBand(file, image, 0, bounds[1]))
        ok = false;
    for (QThread* helper : helpers) {
        helper->wait();
        delete helper;
    }
    return ok;
}

struct Output
{
    unsigned char* data = nullptr;
    unsigned long size = 0;
};

bool WritePixels(jpeg_compress_struct* info, ErrorManager* errors, const QImage* image, int quality,
                 const QByteArray* profile, Output* output)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_mem_dest(info, &output->data, &output->size);
    const bool grey = image->format() == QImage::Format_Grayscale8;
    info->image_width = JDIMENSION(image->width());
    info->image_height = JDIMENSION(image->height());
    info->input_components = grey ? 1 : 4;
    info->in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRA;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    info->dct_method = JDCT_ISLOW;
    // The standard Huffman tables: tables made for the picture would save
    // about 5 % of the file but take a second pass over the coefficients,
    // which makes encoding half as fast again and JPEG to JPEG slower than
    // libvips's (convertbench).
    info->optimize_coding = FALSE;
    if (image->dotsPerMeterX() > 0 && image->dotsPerMeterY() > 0) {
        info->write_JFIF_header = TRUE;
        info->density_unit = 1;
        info->X_density = UINT16(qBound(1L, std::lround(image->dotsPerMeterX() * 0.0254), 65535L));
        info->Y_density = UINT16(qBound(1L, std::lround(image->dotsPerMeterY() * 0.0254), 65535L));
    }
    jpeg_start_compress(info, TRUE);
    if (!profile->isEmpty())
        jpeg_write_icc_profile(info, reinterpret_cast<const JOCTET*>(profile->constData()), unsigned(profile->size()));
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image->constScanLine(int(info->next_scanline)));
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

// The TIFF structure inside an Exif segment, read with bounds checks.
class ExifBlock
{
public:
    ExifBlock(const unsigned char* data, qint64 size)
        : pData(data)
        , iSize(size)
    {
    }

    bool ReadByteOrder()
    {
        if (iSize < 8 || pData[0] != pData[1] || (pData[0] != 'I' && pData[0] != 'M'))
            return false;
        bLittle = pData[0] == 'I';
        quint32 magic = 0;
        return U16(2, magic) && magic == 42;
    }

    bool U16(qint64 at, quint32& value) const
    {
        if (at < 0 || at + 2 > iSize)
            return false;
        value = bLittle ? quint32(pData[at] | pData[at + 1] << 8) : quint32(pData[at] << 8 | pData[at + 1]);
        return true;
    }

    bool U32(qint64 at, quint32& value) const
    {
        quint32 first = 0;
        quint32 second = 0;
        if (!U16(at, first) || !U16(at + 2, second))
            return false;
        value = bLittle ? (second << 16 | first) : (first << 16 | second);
        return true;
    }

private:
    const unsigned char* pData;
    qint64 iSize;
    bool bLittle = false;
};

// The Exif orientation 1..8, 0 without one, -1 for a damaged block. As Qt's
// reader: at most ten IFDs, each after the one before; an Orientation that
// is no single SHORT of 1 to 8 counts as damage.
int ExifOrientation(const unsigned char* data, qint64 size)
{
    ExifBlock block(data, size);
    quint32 offset = 0;
    if (!block.ReadByteOrder() || !block.U32(4, offset))
        return -1;
    qint64 position = 8;
    for (int ifd = 0; ifd < 10; ++ifd) {
        if (offset < position)
            return -1;
        quint32 entries = 0;
        if (!block.U16(offset, entries))
            return -1;
        position = qint64(offset) + 2;
        for (quint32 entry = 0; entry < entries; ++entry, position += 12) {
            quint32 tag = 0;
            quint32 type = 0;
            quint32 count = 0;
            quint32 value = 0;
            if (!block.U16(position, tag) || !block.U16(position + 2, type) || !block.U32(position + 4, count)
                || !block.U16(position + 8, value))
                return -1;
            if (tag == 0x0112)
                return type == 3 && count == 1 && value >= 1 && value <= 8 ? int(value) : -1;
        }
        if (!block.U32(position, offset))
            return -1;
        position += 4;
        if (offset == 0)
            return 0;
    }
    return -1;
}

} // namespace

namespace JpegCodec {

QImageIOHandler::Transformations Transformation(const QByteArray& file)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(file.constData());
    const qint64 size = file.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return QImageIOHandler::TransformationNone;
    // The segments before the first scan; only the first APP1 is read.
    qint64 at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break;
        const qint64 length = data[at + 2] << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size)
            break;
        if (marker == 0xE1) {
            if (length < 2 + 6 || std::memcmp(data + at + 4, "Exif\0\0", 6) != 0)
                break;
            // Orientations as Qt maps them.
            static const QImageIOHandler::Transformations kExif[] = {
                QImageIOHandler::TransformationNone,           QImageIOHandler::TransformationNone,
                QImageIOHandler::TransformationMirror,         QImageIOHandler::TransformationRotate180,
                QImageIOHandler::TransformationFlip,           QImageIOHandler::TransformationFlipAndRotate90,
                QImageIOHandler::TransformationRotate90,       QImageIOHandler::TransformationMirrorAndRotate90,
                QImageIOHandler::TransformationRotate270};
            const int orientation = ExifOrientation(data + at + 10, length - 8);
            return orientation > 0 ? kExif[orientation] : QImageIOHandler::TransformationNone;
        }
        at += 2 + length;
    }
    return QImageIOHandler::TransformationNone;
}

QImage Decode(const QByteArray& file, const QSize& scaledSize)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    Install(errors, reinterpret_cast<j_common_ptr>(&info));
    jpeg_create_decompress(&info);
    QImage image;
    QByteArray profile;
    if (ReadHeader(&info, &errors, &file, &scaledSize, &profile)) {
        const QImage::Format format = info.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8
                                                                            : QImage::Format_RGB32;
        image = QImage(int(info.output_width), int(info.output_height), format);
        // A band that fails (damaged data) leaves it to the one decode that
        // goes as far as the data does.
        if (!image.isNull() && !ReadInBands(&info, &file, &image) && !ReadPixels(&info, &errors, &image))
            image = QImage();
        if (!image.isNull()) {
            if (info.saw_JFIF_marker) {
                image.setDotsPerMeterX(DotsPerMeter(info.X_density, info.density_unit));
                image.setDotsPerMeterY(DotsPerMeter(info.Y_density, info.density_unit));
            }
            if (!profile.isEmpty()) {
                const QColorSpace space = QColorSpace::fromIccProfile(profile);
                if (space.isValid())
                    image.setColorSpace(space);
            }
        }
    }
    jpeg_destroy_decompress(&info);
    return image;
}

bool Encode(const QImage& source, int quality, const QByteArray& profile, QByteArray& file)
{
    if (source.isNull())
        return false;
    const bool grey = source.format() == QImage::Format_Grayscale8 || source.format() == QImage::Format_Grayscale16;
    // RGB32 and ARGB32 are B, G, R, A bytes already; alpha is not read.
    QImage image = source;
    if (grey)
        image = source.convertToFormat(QImage::Format_Grayscale8);
    else if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32)
        image = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);

    jpeg_compress_struct info;
    ErrorManager errors;
    Install(errors, reinterpret_cast<j_common_ptr>(&info));
    jpeg_create_compress(&info);
    Output output;
    const bool ok = WritePixels(&info, &errors, &image, quality < 0 ? 75 : qBound(1, quality, 100), &profile, &output);
    jpeg_destroy_compress(&info);
    if (ok && output.data && output.size > 0)
        file = QByteArray(reinterpret_cast<const char*>(output.data), int(output.size));
    std::free(output.data);
    return ok && !file.isEmpty();
}

QSize Size(const QByteArray& file)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    Install(errors, reinterpret_cast<j_common_ptr>(&info));
    jpeg_create_decompress(&info);
    QByteArray profile;
    const QSize none;
    const bool ok = ReadHeader(&info, &errors, &file, &none, &profile);
    const QSize size = ok ? QSize(int(info.image_width), int(info.image_height)) : QSize();
    jpeg_destroy_decompress(&info);
    return size;
}

} // namespace JpegCodec
