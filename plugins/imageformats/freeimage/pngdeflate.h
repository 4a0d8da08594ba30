// The image data of a PNG made with libdeflate: the rows packed, filtered
// with one filter for the whole picture (the one that deflates a sample of
// its rows smallest) and deflated into one zlib stream, whole or in bands of
// rows on several threads, the bands' streams joined.
#ifndef KORVANE_PNG_DEFLATE_H
#define KORVANE_PNG_DEFLATE_H

#include "pngfilter.h"

#include <QByteArray>
#include <QImage>

namespace PngDeflate {

// libdeflate's levels: 0 stores, 1 is the fastest, 12 the smallest.
const int MaxEffort = 12;

// Appends the picture's IDAT chunks to file. A negative effort lets a sample
// of the rows choose between the two fastest levels. threads (at least 1) bounds
// the threads used, the calling one included; a picture is cut into bands
// only for more than one thread or when it is very large. False when the
// picture cannot be encoded (out of memory, a file beyond 2 GiB).
bool AppendImageData(const QImage& image, const PngFilter::Layout& layout, int effort, int threads,
                     QByteArray& file);

} // namespace PngDeflate

#endif
