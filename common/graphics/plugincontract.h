// What the program and its format plugins agree on without linking each
// other, besides the metadata packing (metadatapacking.h).
#ifndef PLM_PLUGINCONTRACT_H
#define PLM_PLUGINCONTRACT_H

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

} // namespace PluginContract

#endif
