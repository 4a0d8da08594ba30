// Builds ".ithmb" files byte by byte and knows, from the pixel layouts alone,
// which colours their raw frames must decode to.
#ifndef KORVANE_ITHMBFIXTURES_H
#define KORVANE_ITHMBFIXTURES_H

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QString>
#include <QtTest>

#include <functional>

namespace Ithmb {

// A baseline JPEG as Qt writes it (it starts with a JFIF segment).
inline QByteArray Jpeg(int width, int height, const QColor& color, const QString& author)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(95);
    if (!author.isEmpty())
        writer.setText(QStringLiteral("Author"), author);
    if (!writer.write(image))
        qFatal("cannot write the test JPEG: %s", qPrintable(writer.errorString()));
    return bytes;
}

// Deterministic bytes (a linear congruential generator).
inline QByteArray Noise(int count, quint32 seed)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

// Pixels of a raw frame of `bytesPerPixel`: the first 5 % all-zero bytes, the
// next 5 % all-FF bytes, the rest noise. With more than 1.5 % of each channel
// at level 0 and at least 2.5 % at level 255 the contrast stretch leaves the
// levels as they are, so decoded pixels can be compared exactly.
inline QByteArray StretchNeutral(int pixels, int bytesPerPixel, quint32 seed)
{
    QByteArray bytes = Noise(pixels * bytesPerPixel, seed);
    const int part = pixels / 20;
    for (int i = 0; i < 2 * part * bytesPerPixel; ++i) {
        // Leave the unused fourth byte of 32-bit pixels as noise.
        if (bytesPerPixel == 4 && i % 4 == 3)
            continue;
        bytes[i] = i < part * bytesPerPixel ? '\0' : '\xFF';
    }
    return bytes;
}

inline int Byte(const QByteArray& bytes, int i)
{
    return uchar(bytes.at(i));
}

// value * 255 / maximum, rounded half up, in integers.
inline int Scale(int value, int maximum)
{
    return (value * 510 + maximum) / (2 * maximum);
}

// Expected colours for pixel index k of a StretchNeutral frame.
inline QRgb ExpectRgb565(const QByteArray& frame, int k)
{
    const int w = Byte(frame, 2 * k) << 8 | Byte(frame, 2 * k + 1);
    return qRgb(Scale(w >> 11, 31), Scale((w >> 5) & 0x3F, 63), Scale(w & 0x1F, 31));
}

inline QRgb ExpectRgb16Le(const QByteArray& frame, int k)
{
    const int w = Byte(frame, 2 * k) | Byte(frame, 2 * k + 1) << 8;
    // Red tops out at 251 (a 6-bit field scaled by 255/64); the stretch then
    // spreads 0..251 over 0..255 (lo 0, hi 251).
    const int red = Scale(w >> 10, 64);
    return qRgb(red == 251 ? 255 : Scale(red, 251), Scale((w >> 5) & 0x1F, 31), Scale(w & 0x1F, 31));
}

inline QRgb ExpectRgbx(const QByteArray& frame, int k)
{
    return qRgb(Byte(frame, 4 * k), Byte(frame, 4 * k + 1), Byte(frame, 4 * k + 2));
}

// Interlaced YUV 4:2:2: levels that depend on row and column, stored as all
// even rows, then all odd rows, each row as U Y0 V Y1 groups.
inline int YuvY(int x, int y) { return (x * 3 + y * 7) & 0xFF; }
inline int YuvU(int x, int y) { return ((x / 2) * 5 + y * 2) & 0xFF; }
inline int YuvV(int x, int y) { return ((x / 2) * 11 + y * 3 + 128) & 0xFF; }

inline QByteArray YuvFrame(int width, int height)
{
    QByteArray bytes;
    bytes.reserve(width * height * 2);
    for (int field = 0; field < 2; ++field) {
        for (int y = field; y < height; y += 2) {
            for (int x = 0; x < width; x += 2) {
                bytes.append(char(YuvU(x, y)));
                bytes.append(char(YuvY(x, y)));
                bytes.append(char(YuvV(x, y)));
                bytes.append(char(YuvY(x + 1, y)));
            }
        }
    }
    return bytes;
}

inline int UnitLevel(float value)
{
    return int(qBound(0.0f, value, 1.0f) * 255.0f);
}

inline QRgb ExpectYuv(int x, int y)
{
    const float luma = (YuvY(x, y) / 255.0f - 0.5f) * 2.0f;
    const float u = (YuvU(x, y) / 255.0f - 0.5f) * 2.0f;
    const float v = (YuvV(x, y) / 255.0f - 0.5f) * 2.0f;
    return qRgb(UnitLevel((luma + 1.14f * v) * 0.5f + 0.5f),
                UnitLevel((luma - 0.394f * u - 0.581f * v) * 0.5f + 0.5f),
                UnitLevel((luma + 2.028f * u) * 0.5f + 0.5f));
}

// Compares every pixel; reports the first difference.
inline bool SamePixels(const QImage& image, int width, int height, const std::function<QRgb(int, int)>& expect)
{
    if (image.width() != width || image.height() != height) {
        qWarning("size %dx%d, expected %dx%d", image.width(), image.height(), width, height);
        return false;
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb got = image.pixel(x, y);
            const QRgb want = expect(x, y);
            if (got != want) {
                qWarning("pixel (%d, %d) is %08x, expected %08x", x, y, got, want);
                return false;
            }
        }
    }
    return true;
}

} // namespace Ithmb

#endif
