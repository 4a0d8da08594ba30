#include "pnginflate.h"

#include <QtEndian>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <libdeflate.h>

namespace {

struct Header
{
    quint32 width = 0;
    quint32 height = 0;
    int pixelBytes = 0;
    int dotsPerMeterX = 0;
    int dotsPerMeterY = 0;
};

inline uint8_t Paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    return uint8_t((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

// Undoes the row's filter in place; prior is the row above, unfiltered
// (null for the first row). False for an unknown filter type.
bool Unfilter(int filter, uint8_t* row, const uint8_t* prior, size_t length, size_t bpp)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = bpp; i < length; ++i)
            row[i] = uint8_t(row[i] + row[i - bpp]);
        return true;
    case 2:
        if (prior) {
            for (size_t i = 0; i < length; ++i)
                row[i] = uint8_t(row[i] + prior[i]);
        }
        return true;
    case 3:
        for (size_t i = 0; i < length; ++i) {
            const unsigned left = i >= bpp ? row[i - bpp] : 0;
            const unsigned up = prior ? prior[i] : 0;
            row[i] = uint8_t(row[i] + ((left + up) >> 1));
        }
        return true;
    case 4:
        if (!prior) {
            for (size_t i = bpp; i < length; ++i)
                row[i] = uint8_t(row[i] + row[i - bpp]);
            return true;
        }
        for (size_t i = 0; i < bpp && i < length; ++i)
            row[i] = uint8_t(row[i] + prior[i]);
        for (size_t i = bpp; i < length; ++i)
            row[i] = uint8_t(row[i] + Paeth(row[i - bpp], prior[i], prior[i - bpp]));
        return true;
    default:
        return false;
    }
}

// The chunks before the image data ends: the header, the image data joined
// (pointing into the file when it is one chunk), the resolution. False for
// any layout this path leaves to libpng.
bool ReadChunks(const QByteArray& file, Header& header, QByteArray& joined, const char** data, size_t* size)
{
    const uchar* bytes = reinterpret_cast<const uchar*>(file.constData());
    const qint64 total = file.size();
    if (total < 8 + 25 || !file.startsWith("\x89PNG\r\n\x1A\n") || file.mid(12, 4) != "IHDR"
        || qFromBigEndian<quint32>(bytes + 8) != 13)
        return false;
    header.width = qFromBigEndian<quint32>(bytes + 16);
    header.height = qFromBigEndian<quint32>(bytes + 20);
    const int depth = bytes[24];
    const int colourType = bytes[25];
    if (depth != 8 || bytes[26] != 0 || bytes[27] != 0 || bytes[28] != 0)
        return false;
    header.pixelBytes = colourType == 0 ? 1 : colourType == 2 ? 3 : colourType == 6 ? 4 : 0;
    if (header.pixelBytes == 0)
        return false;
    qint64 pos = 8 + 25;
    qint64 first = -1;
    int count = 0;
    while (pos + 12 <= total) {
        const qint64 length = qFromBigEndian<quint32>(bytes + pos);
        if (length > total - pos - 12)
            return false;
        const QByteArray type = file.mid(int(pos) + 4, 4);
        if (type == "IDAT") {
            if (count++ == 0)
                first = pos + 8;
            else if (count == 2)
                joined = file.mid(int(first), int(*size));
            if (count >= 2)
                joined.append(file.constData() + pos + 8, int(length));
            else
                *size = size_t(length);
        } else if (count > 0 || type == "IEND") {
            break;
        } else if (type == "tRNS") {
            return false;
        } else if (type == "pHYs" && length == 9 && bytes[pos + 16] == 1) {
            const quint32 x = qFromBigEndian<quint32>(bytes + pos + 8);
            const quint32 y = qFromBigEndian<quint32>(bytes + pos + 12);
            if (x > 0 && y > 0 && x < 1000000 && y < 1000000) {
                header.dotsPerMeterX = int(x);
                header.dotsPerMeterY = int(y);
            }
        }
        pos += 12 + length;
    }
    if (count == 0)
        return false;
    if (count >= 2) {
        *data = joined.constData();
        *size = size_t(joined.size());
    } else {
        *data = file.constData() + first;
    }
    return true;
}

} // namespace

namespace PngInflate {

QImage Decode(const QByteArray& file, qint64 maxPixels)
{
    Header header;
    QByteArray joined;
    const char* data = nullptr;
    size_t size = 0;
    if (!ReadChunks(file, header, joined, &data, &size) || header.width == 0 || header.height == 0
        || qint64(header.width) * header.height > maxPixels)
        return QImage();
    const size_t bpp = size_t(header.pixelBytes);
    const size_t rowBytes = size_t(header.width) * bpp;
    const size_t stride = rowBytes + 1;
    const size_t expected = stride * header.height;
    std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[expected]);
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    if (!filtered || !decompressor) {
        libdeflate_free_decompressor(decompressor);
        return QImage();
    }
    size_t actual = 0;
    const libdeflate_result result =
        libdeflate_zlib_decompress(decompressor, data, size, filtered.get(), expected, &actual);
    libdeflate_free_decompressor(decompressor);
    joined.clear();
    if (result != LIBDEFLATE_SUCCESS || actual != expected)
        return QImage();

    const QImage::Format format = bpp == 1 ? QImage::Format_Grayscale8
                                : bpp == 3 ? QImage::Format_RGB32
                                           : QImage::Format_ARGB32;
    QImage image(int(header.width), int(header.height), format);
    if (image.isNull())
        return image;
    const int width = int(header.width);
    for (quint32 y = 0; y < header.height; ++y) {
        uint8_t* row = filtered.get() + y * stride + 1;
        const uint8_t* prior = y > 0 ? row - stride : nullptr;
        if (!Unfilter(row[-1], row, prior, rowBytes, bpp))
            return QImage();
        uchar* out = image.scanLine(int(y));
        if (bpp == 1) {
            std::memcpy(out, row, rowBytes);
        } else if (bpp == 3) {
            QRgb* pixels = reinterpret_cast<QRgb*>(out);
            for (int x = 0; x < width; ++x)
                pixels[x] = qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        } else {
            QRgb* pixels = reinterpret_cast<QRgb*>(out);
            for (int x = 0; x < width; ++x)
                pixels[x] = qRgba(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
        }
    }
    if (header.dotsPerMeterX > 0) {
        image.setDotsPerMeterX(header.dotsPerMeterX);
        image.setDotsPerMeterY(header.dotsPerMeterY);
    }
    return image;
}

} // namespace PngInflate
