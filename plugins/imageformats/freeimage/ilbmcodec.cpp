#include "ilbmcodec.h"

#include <QtEndian>

#include <cstring>
#include <vector>

namespace {

const qint64 kMaxPixels = qint64(1) << 26;

// Display modes of the CAMG chunk.
const quint32 kExtraHalfBrite = 0x80;
const quint32 kDualPlayfield = 0x400;
const quint32 kHoldAndModify = 0x800;

// BMHD masking values.
const int kMaskPlane = 1;
const int kTransparentColour = 2;

struct Picture
{
    bool chunky = false;           // PBM: a byte a pixel
    bool header = false;
    int width = 0;
    int height = 0;
    int planes = 0;
    int masking = 0;
    int compression = 0;
    int transparent = 0;
    std::vector<QRgb> colours;     // the CMAP
    bool haveColours = false;
    bool cmykOnly = false;
    quint32 modes = 0;             // the CAMG
    const uchar* body = nullptr;
    qint64 bodySize = 0;
    bool refused = false;
};

bool Is(const uchar* id, const char* name)
{
    return std::memcmp(id, name, 4) == 0;
}

Picture Parse(const QByteArray& file)
{
    Picture picture;
    if (file.size() < 12 || std::memcmp(file.constData(), "FORM", 4) != 0) {
        picture.refused = true;
        return picture;
    }
    const uchar* data = reinterpret_cast<const uchar*>(file.constData());
    picture.chunky = Is(data + 8, "PBM ");
    if (!picture.chunky && !Is(data + 8, "ILBM")) {
        picture.refused = true;
        return picture;
    }
    const qint64 end = qMin<qint64>(file.size(), 8 + qint64(qFromBigEndian<quint32>(data + 4)));
    bool cmyk = false;
    qint64 pos = 12;
    while (pos + 8 <= end && !picture.body) {
        const uchar* id = data + pos;
        const qint64 length = qFromBigEndian<quint32>(data + pos + 4);
        const uchar* chunk = data + pos + 8;
        const qint64 available = qMin(length, end - pos - 8);
        if (Is(id, "BMHD")) {
            if (available < 20)
                break;
            picture.width = qFromBigEndian<quint16>(chunk);
            picture.height = qFromBigEndian<quint16>(chunk + 2);
            picture.planes = chunk[8];
            picture.masking = chunk[9];
            picture.compression = chunk[10];
            picture.transparent = qFromBigEndian<quint16>(chunk + 12);
            picture.header = true;
        } else if (Is(id, "CMAP")) {
            for (qint64 i = 0; i + 3 <= available && i < 3 * 256; i += 3)
                picture.colours.push_back(qRgb(chunk[i], chunk[i + 1], chunk[i + 2]));
            picture.haveColours = true;
        } else if (Is(id, "CAMG")) {
            if (available >= 4)
                picture.modes = qFromBigEndian<quint32>(chunk);
        } else if (Is(id, "CMYK")) {
            cmyk = true;
        } else if (Is(id, "PCHG") || Is(id, "SHAM") || Is(id, "CTBL") || Is(id, "BEAM") || Is(id, "RAST")
                   || Is(id, "DYCP") || Is(id, "DCOL") || Is(id, "XBMI")) {
            // The colours change along the picture, or mean something else.
            picture.refused = true;
            return picture;
        } else if (Is(id, "BODY")) {
            picture.body = chunk;
            picture.bodySize = available;
        }
        pos += 8 + length + (length & 1);
    }
    picture.cmykOnly = cmyk && !picture.haveColours;
    return picture;
}

// The rows of the body, uncompressed: rowBytes a row.
bool Unpack(const Picture& picture, qint64 rowBytes, std::vector<uchar>& out)
{
    const qint64 total = rowBytes * picture.height;
    // Two bytes of ByteRun1 give at most 128: a body too short is refused
    // before anything is allocated.
    if (total > (picture.compression == 0 ? picture.bodySize : 64 * picture.bodySize + 128))
        return false;
    out.resize(size_t(total));
    if (picture.compression == 0) {
        std::memcpy(out.data(), picture.body, size_t(total));
        return true;
    }
    // ByteRun1: n in 0..127 copies n + 1 bytes, -127..-1 repeats the next
    // byte 1 - n times, -128 does nothing. Runs may cross rows.
    const uchar* in = picture.body;
    const uchar* inEnd = in + picture.bodySize;
    qint64 done = 0;
    while (done < total) {
        if (in >= inEnd)
            return false;
        const int n = qint8(*in++);
        if (n >= 0) {
            const qint64 count = qMin<qint64>(n + 1, total - done);
            if (inEnd - in < n + 1)
                return false;
            std::memcpy(out.data() + done, in, size_t(count));
            in += n + 1;
            done += count;
        } else if (n != -128) {
            if (in >= inEnd)
                return false;
            const qint64 count = qMin<qint64>(1 - n, total - done);
            std::memset(out.data() + done, *in++, size_t(count));
            done += count;
        }
    }
    return true;
}

} // namespace

namespace IlbmCodec {

QImage Decode(const QByteArray& file)
{
    const Picture picture = Parse(file);
    if (picture.refused || !picture.header || !picture.body || picture.cmykOnly || picture.width <= 0
        || picture.height <= 0 || qint64(picture.width) * picture.height > kMaxPixels
        || (picture.modes & kDualPlayfield) || picture.compression > 1)
        return QImage();

    const int planes = picture.planes;
    const bool ham = !picture.chunky && (picture.modes & kHoldAndModify);
    const bool halfBrite = !picture.chunky && !ham && (picture.modes & kExtraHalfBrite) && planes == 6;
    const bool trueColour = !picture.chunky && planes == 24;
    if (picture.chunky ? planes != 8 : !((planes >= 1 && planes <= 8) || trueColour))
        return QImage();
    if (ham && planes != 6 && planes != 8)
        return QImage();
    const bool maskPlane = picture.masking == kMaskPlane && !picture.chunky;
    const bool transparentColour = picture.masking == kTransparentColour && !ham && !trueColour;

    // The colour registers: the map (grey without one), Extra-Half-Brite's
    // second half at half brightness when the map does not hold it.
    std::vector<QRgb> colours = picture.colours;
    const int registers = trueColour ? 0 : 1 << qMin(planes, 8);
    if (!picture.haveColours) {
        for (int i = 0; i < registers; ++i) {
            const int grey = registers > 1 ? i * 255 / (registers - 1) : 0;
            colours.push_back(qRgb(grey, grey, grey));
        }
    }
    if (halfBrite && colours.size() < 64) {
        colours.resize(32, qRgb(0, 0, 0));
        for (int i = 0; i < 32; ++i)
            colours.push_back(qRgb(qRed(colours[size_t(i)]) / 2, qGreen(colours[size_t(i)]) / 2,
                                   qBlue(colours[size_t(i)]) / 2));
    }
    if (colours.size() < size_t(registers))
        colours.resize(size_t(registers), qRgb(0, 0, 0));

    const qint64 planeBytes = picture.chunky ? (picture.width + 1) & ~1 : ((picture.width + 15) / 16) * 2;
    const int planeRows = picture.chunky ? 1 : planes + (maskPlane ? 1 : 0);
    std::vector<uchar> rows;
    if (!Unpack(picture, planeBytes * planeRows, rows))
        return QImage();

    QImage image(picture.width, picture.height,
                 maskPlane || transparentColour ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const int hamBits = ham ? planes - 2 : 6;
    const int hamLow = (1 << (8 - hamBits)) - 1;   // the bits a change keeps
    std::vector<quint32> values(size_t(picture.width));
    for (int y = 0; y < picture.height; ++y) {
        const uchar* row = rows.data() + size_t(y) * size_t(planeBytes * planeRows);
        // Gather each pixel's bits from the planes (or take its byte).
        if (picture.chunky) {
            for (int x = 0; x < picture.width; ++x)
                values[size_t(x)] = row[x];
        } else {
            std::fill(values.begin(), values.end(), 0u);
            for (int p = 0; p < planes; ++p) {
                const uchar* plane = row + p * planeBytes;
                for (int x = 0; x < picture.width; ++x) {
                    if (plane[x >> 3] & (0x80 >> (x & 7)))
                        values[size_t(x)] |= 1u << p;
                }
            }
        }
        QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        // Each line starts from the background colour, register 0.
        QRgb previous = colours.empty() ? qRgb(0, 0, 0) : colours[0];
        for (int x = 0; x < picture.width; ++x) {
            const quint32 value = values[size_t(x)];
            QRgb colour;
            if (trueColour) {
                colour = qRgb(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
            } else if (ham) {
                // Hold and modify: the top two bits pick a colour register or
                // which channel of the pixel on the left to change.
                const int index = int(value & ((1u << hamBits) - 1));
                const int change = index << (8 - hamBits);
                int red = qRed(previous);
                int green = qGreen(previous);
                int blue = qBlue(previous);
                switch (value >> hamBits) {
                case 0: colour = colours[size_t(index)]; break;
                case 1: colour = qRgb(red, green, change | (blue & hamLow)); break;
                case 2: colour = qRgb(change | (red & hamLow), green, blue); break;
                default: colour = qRgb(red, change | (green & hamLow), blue); break;
                }
                previous = colour;
            } else {
                colour = value < colours.size() ? colours[value] : qRgb(0, 0, 0);
            }
            if (transparentColour && int(value) == picture.transparent)
                colour &= 0x00FFFFFFu;
            if (maskPlane && !(row[planes * planeBytes + (x >> 3)] & (0x80 >> (x & 7))))
                colour &= 0x00FFFFFFu;
            out[x] = colour;
        }
    }
    return image;
}

} // namespace IlbmCodec
