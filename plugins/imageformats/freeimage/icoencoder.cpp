#include "icoencoder.h"

#include "fiimage.h"

namespace {

void PutLe16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

void PutLe32(QByteArray& out, quint32 value)
{
    PutLe16(out, quint16(value & 0xFFFF));
    PutLe16(out, quint16(value >> 16));
}

// BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask (set where
// fully transparent), rows padded to 32 bits; the height counts both.
QByteArray DibEntry(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    const int maskStride = ((width + 31) / 32) * 4;
    QByteArray dib;
    dib.reserve(40 + width * height * 4 + maskStride * height);
    PutLe32(dib, 40);
    PutLe32(dib, quint32(width));
    PutLe32(dib, quint32(height * 2));
    PutLe16(dib, 1);
    PutLe16(dib, 32);
    PutLe32(dib, 0);
    PutLe32(dib, quint32(width * height * 4 + maskStride * height));
    PutLe32(dib, 0);
    PutLe32(dib, 0);
    PutLe32(dib, 0);
    PutLe32(dib, 0);
    for (int y = height - 1; y >= 0; --y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            dib.append(char(qBlue(line[x])));
            dib.append(char(qGreen(line[x])));
            dib.append(char(qRed(line[x])));
            dib.append(char(qAlpha(line[x])));
        }
    }
    for (int y = height - 1; y >= 0; --y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QByteArray mask(maskStride, '\0');
        for (int x = 0; x < width; ++x) {
            if (qAlpha(line[x]) == 0)
                mask[x >> 3] = char(uchar(mask.at(x >> 3)) | (0x80 >> (x & 7)));
        }
        dib.append(mask);
    }
    return dib;
}

QByteArray PngEntry(const QImage& image)
{
    FiBitmapPtr dib = FiImage::FromQImage(image, FiImage::Depth::Rgba32);
    if (!dib)
        return QByteArray();
    FIMEMORY* memory = FreeImage_OpenMemory();
    QByteArray png;
    if (memory && FreeImage_SaveToMemory(FIF_PNG, dib.get(), memory, PNG_Z_BEST_COMPRESSION)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        if (FreeImage_AcquireMemory(memory, &data, &size))
            png = QByteArray(reinterpret_cast<const char*>(data), int(size));
    }
    if (memory)
        FreeImage_CloseMemory(memory);
    return png;
}

} // namespace

namespace IcoEncoder {

bool Encode(const QList<QImage>& pictures, QByteArray& file)
{
    if (pictures.isEmpty() || pictures.size() > 0xFFFF)
        return false;
    QList<QByteArray> entries;
    for (const QImage& picture : pictures) {
        if (picture.isNull() || picture.width() > MaxSide || picture.height() > MaxSide)
            return false;
        const bool large = picture.width() == MaxSide || picture.height() == MaxSide;
        const QByteArray entry = large ? PngEntry(picture) : DibEntry(picture);
        if (entry.isEmpty())
            return false;
        entries << entry;
    }

    file.clear();
    PutLe16(file, 0);   // reserved
    PutLe16(file, 1);   // icon
    PutLe16(file, quint16(entries.size()));
    quint32 offset = quint32(6 + 16 * entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const QImage& picture = pictures.at(i);
        file.append(char(picture.width() == MaxSide ? 0 : picture.width()));
        file.append(char(picture.height() == MaxSide ? 0 : picture.height()));
        file.append(char(0));   // no palette
        file.append(char(0));
        PutLe16(file, 1);       // planes
        PutLe16(file, 32);      // bits per pixel
        PutLe32(file, quint32(entries.at(i).size()));
        PutLe32(file, offset);
        offset += quint32(entries.at(i).size());
    }
    for (const QByteArray& entry : entries)
        file.append(entry);
    return true;
}

} // namespace IcoEncoder
