#include "pngdeflate.h"

#include "deflatejoin.h"

#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <libdeflate.h>

namespace {

using PngFilter::Filter;
using PngFilter::Layout;

// Filtered bytes of one band at most: a picture is filtered, deflated and
// written a band at a time, so that beside its pixels it needs only a few
// bands' worth of memory per thread.
const size_t kBandBytes = size_t(4) << 20;
// Below this a band is not worth a thread of its own.
const size_t kMinBandBytes = size_t(256) << 10;
// The filter is chosen on this many groups of rows of about kSampleBytes.
const int kSampleGroups = 4;
const size_t kSampleBytes = 32 << 10;
const double kRaiseBelow = 0.95;
// A band is deflated in up to kCalls calls of at least kCallBytes (the rows
// of each filtered just before), whose streams are made joinable together
// (deflatejoin.h: several walks cost little more than one). Each call
// starts without the window of the one before: about 0.15 % more bytes than
// one stream for the whole picture.
const int kCalls = 4;
const size_t kCallBytes = size_t(1) << 20;
// Rows of a picture in another format than the file's are converted this
// much at a time.
const size_t kConvertBytes = size_t(256) << 10;

struct CompressorDeleter
{
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// The zlib header: deflate with a 32 KiB window, the level hint in FLEVEL,
// the check bits making the pair a multiple of 31.
QByteArray ZlibHeader(int effort)
{
    const int level = effort <= 1 ? 0 : effort < 6 ? 1 : effort == 6 ? 2 : 3;
    const int cmf = 0x78;
    int flg = level << 6;
    flg += 31 - (cmf * 256 + flg) % 31;
    return QByteArray() + char(cmf) + char(flg);
}

// The rows of a picture, packed and filtered; rows of a format the file is
// not packed from are converted a few at a time (about kConvertBytes).
class RowFilter
{
public:
    RowFilter(const QImage& image, const Layout& layout)
        : image(image)
        , layout(layout)
        , rows(2 * layout.rowBytes)
    {
    }

    size_t FilteredRowBytes() const { return layout.rowBytes + 1; }

    // Rows [first, first + count) filtered into out; false when a row could
    // not be converted (out of memory).
    bool Filter(PngFilter::Filter filter, int first, int count, uint8_t* out)
    {
        uint8_t* prior = rows.data();
        uint8_t* row = prior + layout.rowBytes;
        if (first > 0) {
            const uchar* line = Line(first - 1);
            if (!line)
                return false;
            PngFilter::PackRow(line, image.width(), layout, prior);
        } else {
            std::fill(rows.begin(), rows.begin() + std::ptrdiff_t(layout.rowBytes), uint8_t(0));
        }
        for (int y = first; y < first + count; ++y) {
            const uchar* line = Line(y);
            if (!line)
                return false;
            PngFilter::PackRow(line, image.width(), layout, row);
            PngFilter::FilterRow(filter, row, prior, layout, out);
            out += FilteredRowBytes();
            std::swap(row, prior);
        }
        return true;
    }

private:
    // Row y in the format the file is packed from.
    const uchar* Line(int y)
    {
        if (!layout.converted)
            return image.constScanLine(y);
        if (y < convertedFirst || y >= convertedFirst + converted.height()) {
            const int count = int(qBound<qint64>(1, qint64(kConvertBytes) / qMax(1, image.width() * 4),
                                                 image.height() - y));
            QImage view(image.constScanLine(y), image.width(), count, image.bytesPerLine(), image.format());
            if (!image.colorTable().isEmpty())
                view.setColorTable(image.colorTable());
            converted = view.convertToFormat(layout.format);
            convertedFirst = y;
            if (converted.isNull())
                return nullptr;
        }
        return converted.constScanLine(y - convertedFirst);
    }

    const QImage& image;
    const Layout& layout;
    std::vector<uint8_t> rows;
    QImage converted;
    int convertedFirst = 0;
};

// The filter whose groups of sample rows deflate smallest at the fastest
// level; the average and Paeth filters, slower to apply, must win by 1 %.
// A negative effort is chosen too: the fastest level, unless the next one
// deflates the sample to less than kRaiseBelow of its size. On photographs
// that level saves about 3 % for 70 % more time; on smooth pictures with
// little noise twice as much, where the fastest level would lose to zlib's
// default level through libpng.
Filter ChooseFilter(const QImage& image, const Layout& layout, int* effort)
{
    Compressor compressor(libdeflate_alloc_compressor(1));
    if (!compressor) {
        *effort = qMax(1, *effort);
        return PngFilter::Up;
    }
    RowFilter filter(image, layout);
    const int height = image.height();
    const int groupRows = int(qBound<size_t>(1, kSampleBytes / filter.FilteredRowBytes(), size_t(height)));
    const int groups = height <= groupRows * kSampleGroups ? 1 : kSampleGroups;
    const int rowsPerGroup = groups == 1 ? height : groupRows;
    const size_t groupBytes = size_t(rowsPerGroup) * filter.FilteredRowBytes();
    std::vector<uint8_t> filtered(groupBytes);
    std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor.get(), groupBytes));
    size_t sizes[PngFilter::FilterCount] = {};
    for (int g = 0; g < groups; ++g) {
        const int first = groups == 1 ? 0 : int((qint64(height) * (2 * g + 1)) / (2 * groups)) - rowsPerGroup / 2;
        for (int f = 0; f < PngFilter::FilterCount; ++f) {
            if (!filter.Filter(Filter(f), qMax(0, first), rowsPerGroup, filtered.data())) {
                *effort = qMax(1, *effort);
                return PngFilter::Up;
            }
            const size_t size =
                libdeflate_deflate_compress(compressor.get(), filtered.data(), groupBytes, out.data(), out.size());
            sizes[f] += size ? size : groupBytes;
        }
    }
    Filter best = PngFilter::None;
    for (const Filter f : {PngFilter::Sub, PngFilter::Up}) {
        if (sizes[f] < sizes[best])
            best = f;
    }
    for (const Filter f : {PngFilter::Average, PngFilter::Paeth}) {
        if (double(sizes[f]) < 0.99 * double(sizes[best]))
            best = f;
    }
    if (*effort >= 0)
        return best;
    *effort = 1;
    Compressor next(libdeflate_alloc_compressor(2));
    if (!next)
        return best;
    size_t nextSize = 0;
    for (int g = 0; g < groups; ++g) {
        const int first = groups == 1 ? 0 : int((qint64(height) * (2 * g + 1)) / (2 * groups)) - rowsPerGroup / 2;
        if (!filter.Filter(best, qMax(0, first), rowsPerGroup, filtered.data()))
            return best;
        const size_t size = libdeflate_deflate_compress(next.get(), filtered.data(), groupBytes, out.data(), out.size());
        nextSize += size ? size : groupBytes;
    }
    if (double(nextSize) < kRaiseBelow * double(sizes[best]))
        *effort = 2;
    return best;
}

// Room around a band's deflated bytes, so that its chunk is written at once:
// length, type and the zlib header before; the stream's checksum and the
// chunk's CRC after.
const size_t kHead = 10;
const size_t kTail = 8;

// Bytes left uninitialised: only what is written is ever read, and pages
// never written cost nothing.
struct Buffer
{
    std::unique_ptr<uint8_t[]> data;
    size_t capacity = 0;

    // Room for size bytes, the buffer kept when it has enough.
    bool Reserve(size_t size)
    {
        if (capacity >= size)
            return true;
        data.reset(new (std::nothrow) uint8_t[size]);
        capacity = data ? size : 0;
        return bool(data);
    }
};

// One band of rows: deflated into its own buffer, written as one IDAT chunk.
struct Band
{
    int firstRow = 0;
    int rowCount = 0;
    bool last = false;
    Buffer buffer;                 // kHead, the raw deflate, kTail
    size_t size = 0;               // of the raw deflate
    uint32_t adler = 1;            // of the band's filtered bytes
    uint32_t crc = 0;              // of the chunk type and the band's data (the first band's with the zlib header)
    bool ok = false;
};

// Bands handed out in order to the writing thread and its helpers, at most
// a few ahead of the one written next, and written in order by the writing
// thread; only the bands in flight hold their deflated bytes, and each
// thread one band's filtered rows.
class BandWriter
{
public:
    BandWriter(const QImage& image, const Layout& layout, Filter filter, int effort, int bandRows, int inFlight,
               const PngDeflate::Sink& sink)
        : image(image)
        , layout(layout)
        , filter(filter)
        , effort(effort)
        , header(ZlibHeader(effort))
        , bandRows(bandRows)
        , bandCount((image.height() + bandRows - 1) / bandRows)
        , ring(size_t(qMax(1, inFlight)))
        , sink(sink)
    {
    }

    // Deflates and writes every band; helpers (threads beside the calling
    // one) deflate bands too.
    bool Run(int helpers)
    {
        std::vector<QThread*> threads;
        for (int i = 0; i < helpers; ++i) {
            QThread* helper = QThread::create([this] { Work(false); });
            helper->start();
            threads.push_back(helper);
        }
        Work(true);
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (QThread* helper : threads) {
            helper->wait();
            delete helper;
        }
        return !failed && written == bandCount;
    }

private:
    // The writing thread writes the next band whenever it is ready and
    // deflates one otherwise; the helpers only deflate.
    void Work(bool writer)
    {
        Compressor compressor(libdeflate_alloc_compressor(effort));
        RowFilter rows(image, layout);
        Buffer filtered;
        std::unique_lock<std::mutex> lock(mutex);
        if (!compressor)
            failed = true;
        for (;;) {
            if (failed || stop || written == bandCount)
                break;
            Band& next = ring[size_t(written) % ring.size()];
            if (writer && next.ok) {
                lock.unlock();
                const bool ok = Write(next);
                lock.lock();
                next.ok = false;
                ++written;
                if (!ok)
                    failed = true;
                changed.notify_all();
                continue;
            }
            if (taken < bandCount && taken - written < int(ring.size())) {
                const int index = taken++;
                Band& band = ring[size_t(index) % ring.size()];
                band.firstRow = index * bandRows;
                band.rowCount = qMin(bandRows, image.height() - band.firstRow);
                band.last = index + 1 == bandCount;
                lock.unlock();
                const bool ok = Encode(band, compressor.get(), rows, filtered, index == 0);
                lock.lock();
                if (!ok)
                    failed = true;
                band.ok = ok;
                changed.notify_all();
                continue;
            }
            changed.wait(lock);
        }
        if (failed) {
            lock.unlock();
            changed.notify_all();
        }
    }

    // Filters the band's rows and deflates them into joinable streams, the
    // last band's last call the end of the picture's stream.
    bool Encode(Band& band, libdeflate_compressor* compressor, RowFilter& rows, Buffer& filtered, bool first)
    {
        const size_t rowBytes = rows.FilteredRowBytes();
        const int most = int(qBound<size_t>(1, size_t(band.rowCount) * rowBytes / kCallBytes, kCalls));
        const int callRows = (band.rowCount + most - 1) / most;
        const int calls = (band.rowCount + callRows - 1) / callRows;   // none without rows
        const size_t callBound = libdeflate_deflate_compress_bound(compressor, size_t(callRows) * rowBytes) + 16;
        if (!band.buffer.Reserve(kHead + size_t(calls) * callBound + kTail)
            || !filtered.Reserve(size_t(callRows) * rowBytes))
            return false;
        // Each call deflated into room of its own, the streams made
        // joinable together, then moved down to close the gaps.
        uint8_t* data = band.buffer.data.get() + kHead;
        uint8_t* streams[kCalls];
        size_t sizes[kCalls];
        size_t capacities[kCalls];
        band.adler = 1;
        for (int c = 0; c < calls; ++c) {
            const int firstRow = band.firstRow + c * callRows;
            const int count = qMin(callRows, band.firstRow + band.rowCount - firstRow);
            const size_t bytes = size_t(count) * rowBytes;
            if (!rows.Filter(filter, firstRow, count, filtered.data.get()))
                return false;
            band.adler = libdeflate_adler32(band.adler, filtered.data.get(), bytes);
            streams[c] = data + size_t(c) * callBound;
            capacities[c] = callBound;
            sizes[c] = libdeflate_deflate_compress(compressor, filtered.data.get(), bytes, streams[c], callBound - 16);
            if (sizes[c] == 0)
                return false;
        }
        const int joined = band.last ? calls - 1 : calls;
        if (joined > 0 && !DeflateJoin::MakeJoinable(streams, sizes, capacities, joined))
            return false;
        band.size = 0;
        for (int c = 0; c < calls; ++c) {
            std::memmove(data + band.size, streams[c], sizes[c]);
            band.size += sizes[c];
        }
        // The chunk's type, then the zlib header for the first band.
        uint8_t* chunk = data - 8 - (first ? header.size() : 0);
        std::memcpy(chunk + 4, "IDAT", 4);
        if (first)
            std::memcpy(chunk + 8, header.constData(), size_t(header.size()));
        band.crc = libdeflate_crc32(0, chunk + 4, size_t(data + band.size - (chunk + 4)));
        return true;
    }

    // The band's chunk, at once; the last ends the stream with the checksum
    // of all filtered bytes.
    bool Write(Band& band)
    {
        adler = written == 0 ? band.adler
                             : DeflateJoin::CombineAdler32(adler, band.adler,
                                                           size_t(band.rowCount) * (layout.rowBytes + 1));
        const bool first = written == 0;
        uint8_t* data = band.buffer.data.get() + kHead;
        uint8_t* chunk = data - 8 - (first ? header.size() : 0);
        uint8_t* end = data + band.size;
        if (band.last) {
            qToBigEndian(adler, end);
            band.crc = libdeflate_crc32(band.crc, end, 4);
            end += 4;
        }
        qToBigEndian(quint32(end - chunk - 8), chunk);
        qToBigEndian(band.crc, end);
        end += 4;
        return sink(reinterpret_cast<const char*>(chunk), size_t(end - chunk));
    }

    const QImage& image;
    const Layout& layout;
    const Filter filter;
    const int effort;
    const QByteArray header;
    const int bandRows;
    const int bandCount;
    std::vector<Band> ring;
    const PngDeflate::Sink& sink;
    uint32_t adler = 1;

    std::mutex mutex;
    std::condition_variable changed;
    int taken = 0;         // bands handed out
    int written = 0;       // bands written
    bool failed = false;
    bool stop = false;
};

} // namespace

namespace PngDeflate {

bool WriteImageData(const QImage& image, const Layout& layout, int effort, int threads, const Sink& sink)
{
    if (image.isNull() || layout.rowBytes == 0)
        return false;
    threads = qMax(1, threads);
    effort = qMin(effort, MaxEffort);
    const Filter filter = effort == 0 ? PngFilter::None : ChooseFilter(image, layout, &effort);
    // Bands of at most kBandBytes, and one for each thread when they are
    // worth it.
    const size_t filteredBytes = size_t(image.height()) * (layout.rowBytes + 1);
    size_t bands = qMax((filteredBytes + kBandBytes - 1) / kBandBytes,
                        qMin(size_t(threads), filteredBytes / kMinBandBytes));
    bands = qBound<size_t>(1, bands, size_t(image.height()));
    const int bandRows = int((size_t(image.height()) + bands - 1) / bands);
    BandWriter writer(image, layout, filter, effort, bandRows, threads == 1 ? 1 : 2 * threads, sink);
    return writer.Run(qMin(threads, int(bands)) - 1);
}

} // namespace PngDeflate
