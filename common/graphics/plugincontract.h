// What the program and its format plugins agree on without linking each
// other, besides the metadata packing (metadatapacking.h).
#ifndef PLM_PLUGINCONTRACT_H
#define PLM_PLUGINCONTRACT_H

#include <QSize>

namespace PluginContract {

// While a conversion job runs, its pool thread carries this dynamic property:
// a QObject* whose bool property CanceledProperty turns true when the batch
// is canceled. A plugin whose decode runs in a child process polls it and
// ends the child at once.
constexpr const char* CancelSourceProperty = "korvaneCancelSource";
constexpr const char* CanceledProperty = "canceled";

// While a conversion job reads or writes a page, its pool thread carries
// this dynamic property: an int, how many threads the decoder or encoder may
// keep busy, its own included (at least 1). The engine grants the pool
// threads that stand idle (the batch has fewer pictures left than threads).
// Without the property a plugin works on the calling thread alone.
constexpr const char* CodecThreadsProperty = "korvaneCodecThreads";

// The quality a writer of a format with a lossless mode (WebP, AVIF, JPEG XL)
// gets: LosslessQuality, outside the ordinary 0..100, asks for lossless
// compression; otherwise the quality itself.
constexpr int LosslessQuality = 256;
constexpr int WriterQuality(bool lossless, int quality)
{
    return lossless ? LosslessQuality : quality;
}
constexpr bool IsLosslessQuality(int quality)
{
    return quality > 100;
}

// JPEG XR writers: quality JpegXrLosslessQuality (or more) is lossless,
// 0..99 the lossy quality.
constexpr int JpegXrLosslessQuality = 100;
constexpr int JpegXrQuality(bool lossless, int quality)
{
    return lossless ? JpegXrLosslessQuality : quality;
}

// PDF targets: the writer's quality carries the page layout. Bit 0 set says
// it does; the page size (a QPageSize::PageSizeId) is in bits 16-23, the
// orientation (0 portrait, 1 landscape) in bits 24-27 and the alignment
// (0 centred, 1 top left) in bits 28-31. Packed unsigned, so that odd stored
// values cannot overflow a shift. Any other quality: A4 portrait, centred.
constexpr int PackPdfLayout(int pageSize, int orientation, int alignment)
{
    return int((((((unsigned(alignment) << 4) | (unsigned(orientation) & 15u)) << 8) | (unsigned(pageSize) & 255u)) << 16)
               | 1u);
}
constexpr bool HasPdfLayout(int quality)
{
    return quality != -1 && (quality & 1) != 0;
}
constexpr int PdfPageSize(int quality)
{
    return int((unsigned(quality) >> 16) & 0xFFu);
}
constexpr int PdfOrientation(int quality)
{
    return int((unsigned(quality) >> 24) & 0xFu);
}
constexpr int PdfAlignment(int quality)
{
    return int((unsigned(quality) >> 28) & 0xFu);
}

// PDF sources: the reader's quality carries the rendering resolution in its
// high 16 bits; none (or a negative quality) renders at 72 dpi.
constexpr int PackRenderDpi(int dpi)
{
    return int(unsigned(dpi) << 16);
}
constexpr int RenderDpi(int quality)
{
    return quality < 0 || ((quality >> 16) & 0xFFFF) == 0 ? 72 : (quality >> 16) & 0xFFFF;
}

// ithmb files that hold whole JPEGs: the reader answers the Size option with
// the current picture's byte offset in the file as the width and its byte
// length as the height, so that the engine can copy the JPEG unchanged; it
// supports the Description option only for such files.
inline QSize EmbeddedJpegSpan(int offset, int length)
{
    return QSize(offset, length);
}
inline qint64 EmbeddedJpegOffset(const QSize& span)
{
    return span.width();
}
inline qint64 EmbeddedJpegLength(const QSize& span)
{
    return span.height();
}

} // namespace PluginContract

#endif
