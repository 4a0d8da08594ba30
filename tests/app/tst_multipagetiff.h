// A baseline TIFF file with several pages (Qt's TIFF writer writes one page).
// Shared by the engine's tests and the conversion benchmark.
#ifndef KORVANE_TEST_MULTIPAGETIFF_H
#define KORVANE_TEST_MULTIPAGETIFF_H

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QtEndian>

// Uncompressed 8-bit RGB pages, one strip each. The page at index brokenPage
// (if any) points its strip past the end of the file, so reading it fails.
inline QByteArray MakeMultiPageTiff(const QList<QImage>& pages, int brokenPage = -1)
{
    QByteArray file;
    const auto put16 = [&file](quint16 value) {
        uchar bytes[2];
        qToLittleEndian(value, bytes);
        file.append(reinterpret_cast<const char*>(bytes), 2);
    };
    const auto put32 = [&file](quint32 value) {
        uchar bytes[4];
        qToLittleEndian(value, bytes);
        file.append(reinterpret_cast<const char*>(bytes), 4);
    };
    file.append("II", 2);
    put16(42);
    int nextIfdField = file.size();
    put32(0);
    for (int p = 0; p < pages.size(); ++p) {
        const QImage page = pages.at(p).convertToFormat(QImage::Format_RGB888);
        const quint32 rowBytes = quint32(page.width()) * 3;
        const quint32 stripOffset = quint32(file.size());
        for (int y = 0; y < page.height(); ++y)
            file.append(reinterpret_cast<const char*>(page.constScanLine(y)), int(rowBytes));
        if (file.size() % 2)
            file.append('\0');
        const quint32 bitsPerSample = quint32(file.size());
        put16(8);
        put16(8);
        put16(8);
        const quint32 ifd = quint32(file.size());
        qToLittleEndian(ifd, reinterpret_cast<uchar*>(file.data()) + nextIfdField);
        struct Entry { quint16 tag, type; quint32 count, value; };
        const Entry entries[] = {
            {256, 4, 1, quint32(page.width())},                 // ImageWidth
            {257, 4, 1, quint32(page.height())},                // ImageLength
            {258, 3, 3, bitsPerSample},                         // BitsPerSample
            {259, 3, 1, 1},                                     // Compression: none
            {262, 3, 1, 2},                                     // Photometric: RGB
            {273, 4, 1, p == brokenPage ? 0x7fffff00u : stripOffset},   // StripOffsets
            {277, 3, 1, 3},                                     // SamplesPerPixel
            {278, 4, 1, quint32(page.height())},                // RowsPerStrip
            {279, 4, 1, rowBytes * quint32(page.height())},     // StripByteCounts
            {284, 3, 1, 1},                                     // PlanarConfiguration
        };
        put16(quint16(sizeof(entries) / sizeof(entries[0])));
        for (const Entry& entry : entries) {
            put16(entry.tag);
            put16(entry.type);
            put32(entry.count);
            if (entry.type == 3 && entry.count == 1) {
                put16(quint16(entry.value));
                put16(0);
            } else {
                put32(entry.value);
            }
        }
        nextIfdField = file.size();
        put32(0);
    }
    return file;
}

#endif
