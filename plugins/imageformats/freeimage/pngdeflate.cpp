#include "pngdeflate.h"

#include "deflatejoin.h"

#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libdeflate.h>

namespace {

using PngFilter::Filter;
using PngFilter::Layout;

// Filtered bytes of one band at most: larger pictures are cut into bands
// even on one thread, the upper ones filtered a few rows at a time, so that
// a 48-megapixel picture needs about 70 MiB less beside its pixels (for 1.5 %
// more bytes in the file, still fewer than zlib's default level writes).
const size_t kMaxBandBytes = size_t(96) << 20;
// Below this a band is not worth a thread of its own.
const size_t kMinBandBytes = size_t(256) << 10;
// The filter is chosen on this many groups of rows of about kSampleBytes.
const int kSampleGroups = 4;
const size_t kSampleBytes = 32 << 10;
const double kRaiseBelow = 0.95;
// Every band but the last is deflated in pieces this small, which libdeflate
// writes as one block each (at the fastest level; larger ones have several):
// a piece is then joined from its block header alone, where a stream of
// many blocks has to be walked symbol by symbol, which costs as much as a
// third of deflating it. The price is the window each piece starts without:
// about 3 % more bytes for the pieces.
const size_t kPieceBytes = 48000;
// A band in pieces is filtered this much at a time.
const size_t kStepBytes = 1 << 20;
// A whole picture's filtered rows up to this size keep their buffer.
const size_t kKeptBytes = size_t(64) << 20;

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

// The rows of a picture, packed and filtered.
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

    // Rows [first, first + count) filtered into out.
    void Filter(PngFilter::Filter filter, int first, int count, uint8_t* out)
    {
        uint8_t* prior = rows.data();
        uint8_t* row = prior + layout.rowBytes;
        if (first > 0)
            PngFilter::PackRow(image, layout, first - 1, prior);
        else
            std::fill(rows.begin(), rows.begin() + std::ptrdiff_t(layout.rowBytes), uint8_t(0));
        for (int y = first; y < first + count; ++y) {
            PngFilter::PackRow(image, layout, y, row);
            PngFilter::FilterRow(filter, row, prior, layout, out);
            out += FilteredRowBytes();
            std::swap(row, prior);
        }
    }

private:
    const QImage& image;
    const Layout& layout;
    std::vector<uint8_t> rows;
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
            filter.Filter(Filter(f), qMax(0, first), rowsPerGroup, filtered.data());
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
        filter.Filter(best, qMax(0, first), rowsPerGroup, filtered.data());
        const size_t size = libdeflate_deflate_compress(next.get(), filtered.data(), groupBytes, out.data(), out.size());
        nextSize += size ? size : groupBytes;
    }
    if (double(nextSize) < kRaiseBelow * double(sizes[best]))
        *effort = 2;
    return best;
}

// What deflating a piece may take, with the bytes that joining it needs.
size_t PieceBound(libdeflate_compressor* compressor, size_t pieceBytes)
{
    return libdeflate_deflate_compress_bound(compressor, pieceBytes) + 8;
}

struct Band
{
    int firstRow = 0;
    int rowCount = 0;
    bool pieces = false;               // deflated in joinable pieces
    uint8_t* data = nullptr;           // raw deflate, in the file's buffer
    size_t capacity = 0;
    size_t size = 0;
    size_t filteredBytes = 0;
    uint32_t adler = 1;
    uint32_t crc = 0;                  // of the chunk type and the band's data (the first band's with the zlib header)
    bool ok = false;
};

// Bands handed out to the threads one at a time.
class BandWork
{
public:
    BandWork(const QImage& image, const Layout& layout, Filter filter, int effort, std::vector<Band>& bands)
        : image(image)
        , layout(layout)
        , filter(filter)
        , effort(effort)
        , header(ZlibHeader(effort))
        , bands(bands)
    {
    }

    const QByteArray& Header() const { return header; }

    void Run()
    {
        Compressor compressor(libdeflate_alloc_compressor(effort));
        RowFilter rows(image, layout);
        std::vector<uint8_t> filtered;
        for (;;) {
            const int index = next++;
            if (index >= int(bands.size()))
                break;
            if (compressor)
                Encode(bands[size_t(index)], compressor.get(), rows, filtered);
        }
    }

private:
    void Encode(Band& band, libdeflate_compressor* compressor, RowFilter& rows, std::vector<uint8_t>& filtered)
    {
        const size_t rowBytes = rows.FilteredRowBytes();
        const size_t pieceBytes = band.pieces ? kPieceBytes : band.filteredBytes;
        const size_t pieceBound = PieceBound(compressor, pieceBytes);
        // A band in pieces is filtered a few rows at a time; the other whole.
        const int stepRows = band.pieces ? int(qMax<size_t>(1, kStepBytes / rowBytes)) : band.rowCount;
        filtered.resize(size_t(stepRows) * rowBytes + (band.pieces ? pieceBytes : 0));
        band.size = 0;
        band.adler = 1;
        size_t held = 0;
        const int end = band.firstRow + band.rowCount;
        for (int y = band.firstRow; y < end; y += stepRows) {
            const int count = qMin(stepRows, end - y);
            rows.Filter(filter, y, count, filtered.data() + held);
            band.adler = libdeflate_adler32(band.adler, filtered.data() + held, size_t(count) * rowBytes);
            held += size_t(count) * rowBytes;
            const bool last = y + count >= end;
            size_t at = 0;
            while (held - at >= pieceBytes || (last && at < held)) {
                const size_t length = qMin(pieceBytes, held - at);
                uint8_t* out = band.data + band.size;
                size_t size = libdeflate_deflate_compress(compressor, filtered.data() + at, length, out, pieceBound);
                if (size > 0 && band.pieces)
                    size = DeflateJoin::MakeJoinable(out, size, pieceBound);
                if (size == 0)
                    return;
                band.size += size;
                at += length;
            }
            std::memmove(filtered.data(), filtered.data() + at, held - at);
            held -= at;
        }
        band.crc = libdeflate_crc32(0, "IDAT", 4);
        if (&band == &bands.front())
            band.crc = libdeflate_crc32(band.crc, header.constData(), size_t(header.size()));
        band.crc = libdeflate_crc32(band.crc, band.data, band.size);
        band.ok = true;
    }

    const QImage& image;
    const Layout& layout;
    const Filter filter;
    const int effort;
    const QByteArray header;
    std::vector<Band>& bands;
    std::atomic<int> next{0};
};

// Rows cut evenly; every band but the last in pieces.
std::vector<Band> PlanBands(int height, int bandCount)
{
    std::vector<Band> bands{size_t(bandCount)};
    int row = 0;
    for (int i = 0; i < bandCount; ++i) {
        Band& band = bands[size_t(i)];
        band.firstRow = row;
        band.rowCount = int(qint64(height) * (i + 1) / bandCount) - row;
        band.pieces = i + 1 < bandCount;
        row += band.rowCount;
    }
    return bands;
}

bool Fits(const QByteArray& file, size_t more)
{
    return more < size_t(INT_MAX) - size_t(file.size()) - 64;
}

// One band: the zlib stream deflated straight into the file's chunk.
bool AppendWhole(const QImage& image, const Layout& layout, Filter filter, int effort, QByteArray& file)
{
    Compressor compressor(libdeflate_alloc_compressor(effort));
    if (!compressor)
        return false;
    RowFilter rows(image, layout);
    const size_t filteredBytes = size_t(image.height()) * rows.FilteredRowBytes();
    // The buffer stays with the thread for its next picture (up to
    // kKeptBytes): a fresh one costs a page fault for every 4 KiB when it is
    // first written, a few percent of the whole conversion. The pool's
    // threads end, and free it, when they have stood idle for a while.
    thread_local std::unique_ptr<uint8_t[]> kept;
    thread_local size_t keptBytes = 0;
    std::unique_ptr<uint8_t[]> own;
    uint8_t* filtered = nullptr;
    if (filteredBytes <= kKeptBytes) {
        if (keptBytes < filteredBytes) {
            kept.reset(new (std::nothrow) uint8_t[filteredBytes]);
            keptBytes = kept ? filteredBytes : 0;
        }
        filtered = kept.get();
    } else {
        own.reset(new (std::nothrow) uint8_t[filteredBytes]);
        filtered = own.get();
    }
    if (!filtered)
        return false;
    rows.Filter(filter, 0, image.height(), filtered);
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredBytes);
    if (!Fits(file, bound + 12))
        return false;
    const int start = file.size();
    file.resize(start + 8 + int(bound) + 4);
    uchar* chunk = reinterpret_cast<uchar*>(file.data()) + start;
    const size_t size = libdeflate_zlib_compress(compressor.get(), filtered, filteredBytes, chunk + 8, bound);
    own.reset();
    if (size == 0) {
        file.resize(start);
        return false;
    }
    qToBigEndian(quint32(size), chunk);
    std::memcpy(chunk + 4, "IDAT", 4);
    qToBigEndian(quint32(libdeflate_crc32(0, chunk + 4, size + 4)), chunk + 8 + size);
    file.resize(start + 8 + int(size) + 4);
    return true;
}

// Several bands, each one IDAT chunk: the first begins with the zlib
// header, the last ends with the checksum of all filtered bytes. The bands
// are deflated straight into the file's buffer, each into room for its
// worst case, and moved down to close the gaps.
bool AppendBands(const QImage& image, const Layout& layout, Filter filter, int effort, int threads, int bandCount,
                 QByteArray& file)
{
    std::vector<Band> bands = PlanBands(image.height(), bandCount);
    BandWork work(image, layout, filter, effort, bands);
    Compressor sizing(libdeflate_alloc_compressor(effort));
    if (!sizing)
        return false;
    const size_t head = 8 + size_t(work.Header().size());   // length, type, zlib header
    const size_t tail = 8;                                   // checksum of the stream, CRC
    size_t total = 0;
    for (Band& band : bands) {
        band.filteredBytes = size_t(band.rowCount) * (layout.rowBytes + 1);
        const size_t pieceBytes = band.pieces ? kPieceBytes : band.filteredBytes;
        band.capacity = (band.filteredBytes + pieceBytes - 1) / pieceBytes * PieceBound(sizing.get(), pieceBytes);
        total += head + band.capacity + tail;
    }
    if (!Fits(file, total))
        return false;
    const int start = file.size();
    file.resize(start + int(total));
    uint8_t* base = reinterpret_cast<uint8_t*>(file.data()) + start;
    size_t offset = 0;
    for (Band& band : bands) {
        band.data = base + offset + head;
        offset += head + band.capacity + tail;
    }

    std::vector<QThread*> helpers;
    for (int i = 1; i < qMin(threads, bandCount); ++i) {
        QThread* helper = QThread::create([&work] { work.Run(); });
        helper->start();
        helpers.push_back(helper);
    }
    work.Run();
    for (QThread* helper : helpers) {
        helper->wait();
        delete helper;
    }
    for (const Band& band : bands) {
        if (!band.ok) {
            file.resize(start);
            return false;
        }
    }

    // Each band's CRC was taken on its thread; the last one goes on over
    // the Adler-32 that ends the stream.
    uint32_t adler = 1;
    size_t end = 0;
    for (size_t i = 0; i < bands.size(); ++i) {
        Band& band = bands[i];
        adler = i == 0 ? band.adler : DeflateJoin::CombineAdler32(adler, band.adler, band.filteredBytes);
        const QByteArray prefix = i == 0 ? work.Header() : QByteArray();
        const bool last = i + 1 == bands.size();
        uint8_t* chunk = base + end;
        std::memmove(chunk + 8 + prefix.size(), band.data, band.size);
        size_t length = size_t(prefix.size()) + band.size;
        if (last) {
            qToBigEndian(adler, chunk + 8 + length);
            band.crc = libdeflate_crc32(band.crc, chunk + 8 + length, 4);
            length += 4;
        }
        qToBigEndian(quint32(length), chunk);
        std::memcpy(chunk + 4, "IDAT", 4);
        std::memcpy(chunk + 8, prefix.constData(), size_t(prefix.size()));
        qToBigEndian(band.crc, chunk + 8 + length);
        end += 8 + length + 4;
    }
    file.resize(start + int(end));
    return true;
}

} // namespace

namespace PngDeflate {

bool AppendImageData(const QImage& image, const Layout& layout, int effort, int threads, QByteArray& file)
{
    if (image.isNull() || layout.rowBytes == 0)
        return false;
    effort = qMin(effort, MaxEffort);
    const Filter filter = effort == 0 ? PngFilter::None : ChooseFilter(image, layout, &effort);
    const size_t filteredBytes = size_t(image.height()) * (layout.rowBytes + 1);
    int bands = int(qMin<size_t>(size_t(qMax(1, threads)), filteredBytes / kMinBandBytes));
    bands = qMax<int>(bands, int((filteredBytes + kMaxBandBytes - 1) / kMaxBandBytes));
    bands = qBound(1, bands, image.height());
    if (bands == 1)
        return AppendWhole(image, layout, filter, effort, file);
    return AppendBands(image, layout, filter, effort, threads, bands, file);
}

} // namespace PngDeflate
