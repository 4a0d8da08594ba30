// ".ithmb" files built byte by byte, and the colours their raw frames decode to.
#ifndef KORVANE_ITHMBFIXTURES_H
#define KORVANE_ITHMBFIXTURES_H

#include <QBuffer>
#include <QImageWriter>
#include <QtTest>

#include <functional>

namespace Ithmb {

// A baseline JPEG as Qt writes it (it starts with a JFIF segment).
inline QByteArray Jpeg(int width, int height, const QColor& color, const QString& author)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(95);
    writer.setText(QStringLiteral("Author"), author);
    return writer.write(image) ? buffer.data() : QByteArray();
}

inline QByteArray Noise(int count, quint32 seed)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i] = char((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

// Raw pixels 5 % zero, 5 % FF (a 32-bit pixel's fourth byte aside), the rest noise: unstretched.
inline QByteArray StretchNeutral(int pixels, int bytesPerPixel, quint32 seed)
{
    QByteArray bytes = Noise(pixels * bytesPerPixel, seed);
    const int part = pixels / 20;
    for (int i = 0; i < 2 * part * bytesPerPixel; ++i)
        if (bytesPerPixel != 4 || i % 4 != 3)
            bytes[i] = i < part * bytesPerPixel ? '\0' : '\xFF';
    return bytes;
}

inline int Byte(const QByteArray& bytes, int i) { return uchar(bytes.at(i)); }

// value * 255 / maximum, rounded half up.
inline int Scale(int value, int maximum) { return (value * 510 + maximum) / (2 * maximum); }

// Expected colours of pixel k of a StretchNeutral frame; 16-bit red is a 6-bit field
// scaled by 255/64 (top 251), stretched over 0..255.
inline QRgb ExpectRgb565(const QByteArray& frame, int k)
{
    const int w = Byte(frame, 2 * k) << 8 | Byte(frame, 2 * k + 1);
    return qRgb(Scale(w >> 11, 31), Scale((w >> 5) & 0x3F, 63), Scale(w & 0x1F, 31));
}

inline QRgb ExpectRgb16Le(const QByteArray& frame, int k)
{
    const int w = Byte(frame, 2 * k) | Byte(frame, 2 * k + 1) << 8;
    const int red = Scale(w >> 10, 64);
    return qRgb(red == 251 ? 255 : Scale(red, 251), Scale((w >> 5) & 0x1F, 31), Scale(w & 0x1F, 31));
}

inline QRgb ExpectRgbx(const QByteArray& f, int k) { return qRgb(Byte(f, 4 * k), Byte(f, 4 * k + 1), Byte(f, 4 * k + 2)); }

// Interlaced YUV 4:2:2: all even rows, then all odd rows, as U Y0 V Y1 groups.
inline int YuvY(int x, int y) { return (x * 3 + y * 7) & 0xFF; }
inline int YuvU(int x, int y) { return ((x / 2) * 5 + y * 2) & 0xFF; }
inline int YuvV(int x, int y) { return ((x / 2) * 11 + y * 3 + 128) & 0xFF; }

inline QByteArray YuvFrame(int width, int height)
{
    QByteArray bytes;
    for (int field = 0; field < 2; ++field)
        for (int y = field; y < height; y += 2)
            for (int x = 0; x < width; x += 2)
                bytes.append(char(YuvU(x, y))).append(char(YuvY(x, y))).append(char(YuvV(x, y))).append(char(YuvY(x + 1, y)));
    return bytes;
}

inline QRgb ExpectYuv(int x, int y)
{
    const auto level = [](float value) { return int(qBound(0.0f, value * 0.5f + 0.5f, 1.0f) * 255.0f); };
    const float luma = (YuvY(x, y) / 255.0f - 0.5f) * 2.0f;
    const float u = (YuvU(x, y) / 255.0f - 0.5f) * 2.0f;
    const float v = (YuvV(x, y) / 255.0f - 0.5f) * 2.0f;
    return qRgb(level(luma + 1.14f * v), level(luma - 0.394f * u - 0.581f * v), level(luma + 2.028f * u));
}

// The frame a reader should decode: expect(x, y) at every pixel.
inline QImage Frame(int width, int height, const std::function<QRgb(int, int)>& expect)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, expect(x, y));
    return image;
}

} // namespace Ithmb

#endif
