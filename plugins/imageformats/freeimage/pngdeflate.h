// The image data of a PNG made with libdeflate: the rows packed, filtered
// with one filter for the whole picture (the one that deflates a sample of
// its rows smallest) and deflated into one zlib stream in bands of rows,
// on several threads when granted, the bands' streams joined and written
// in order as they are done.
#ifndef KORVANE_PNG_DEFLATE_H
#define KORVANE_PNG_DEFLATE_H

#include "pngfilter.h"

#include <QImage>

#include <cstddef>
#include <functional>

namespace PngDeflate {

// libdeflate's levels: 0 stores, 1 is the fastest, 12 the smallest.
const int MaxEffort = 12;

// Takes the file's bytes in order, a whole chunk at a time; false when they
// could not be written.
using Sink = std::function<bool(const char* data, size_t size)>;

// Hands the picture's IDAT chunks to sink, one per band of rows, from the
// calling thread. A negative effort lets a sample of the rows choose between
// the two fastest levels. threads (at least 1) bounds the threads used, the
// calling one included. False when the picture cannot be encoded (out of
// memory) or sink refused a chunk; the chunks handed over so far are then
// no whole stream.
bool WriteImageData(const QImage& image, const PngFilter::Layout& layout, int effort, int threads,
                    const Sink& sink);

} // namespace PngDeflate

#endif
