#include "fifixtures.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageIOPlugin>
#include <QPainter>
#include <QPluginLoader>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QVector>
#include <QtEndian>

#include <cmath>
#include <cstdlib>

namespace {

const char* PackageOf(const QString& tool)
{
    static const struct { const char* tool; const char* package; } table[] = {
        {"convert", "imagemagick"},          {"identify", "imagemagick"},
        {"cwebp", "webp"},                   {"webpinfo", "webp"},
        {"opj_compress", "libopenjp2-tools"}, {"opj_dump", "libopenjp2-tools"},
        {"JxrEncApp", "libjxr-tools"},       {"JxrDecApp", "libjxr-tools"},
        {"icotool", "icoutils"},             {"exiftool", "libimage-exiftool-perl"},
        {"ppmtopict", "netpbm"},             {"ppmtoilbm", "netpbm"},
        {"pngtopnm", "netpbm"},
    };
    for (const auto& entry : table) {
        if (tool == QLatin1String(entry.tool))
            return entry.package;
    }
    return "?";
}

void PutLe16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF)).append(char(value >> 8));
}

void PutLe32(QByteArray& out, quint32 value)
{
    PutLe16(out, quint16(value & 0xFFFF));
    PutLe16(out, quint16(value >> 16));
}

} // namespace

namespace FiFixtures {


void SwitchPluginOn()
{
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
    settings.setValue(QStringLiteral("FreeImage"), true);
}

QImageIOPlugin* Plugin()
{
    static QPluginLoader loader(QCoreApplication::applicationDirPath()
                                + QStringLiteral("/imageformats/libkorvanefi.so"));
    return qobject_cast<QImageIOPlugin*>(loader.instance());
}

QString MissingTools(const QStringList& tools)
{
    QStringList missing;
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << QStringLiteral("%1 (Debian package %2)").arg(tool, QLatin1String(PackageOf(tool)));
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("Needed tools are missing: ") + missing.join(QStringLiteral(", "));
}

bool Run(const QString& tool, const QStringList& arguments, QByteArray* output, QString* error)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
        if (error)
            *error = tool + QStringLiteral(" did not run: ") + process.errorString();
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

QImage MagickDecode(const QString& spec, int frame)
{
    QByteArray pam;
    if (!Run(QStringLiteral("convert"), {spec + QStringLiteral("[%1]").arg(frame), QStringLiteral("-depth"),
                                         QStringLiteral("8"), QStringLiteral("pam:-")}, &pam))
        return QImage();
    // P7 header: WIDTH, HEIGHT, DEPTH, MAXVAL, TUPLTYPE lines, then ENDHDR.
    const int end = pam.indexOf("ENDHDR\n");
    if (!pam.startsWith("P7\n") || end < 0)
        return QImage();
    int width = 0, height = 0, depth = 0;
    for (const QByteArray& line : pam.left(end).split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 2)
            continue;
        if (parts.at(0) == "WIDTH")
            width = parts.at(1).toInt();
        else if (parts.at(0) == "HEIGHT")
            height = parts.at(1).toInt();
        else if (parts.at(0) == "DEPTH")
            depth = parts.at(1).toInt();
    }
    const uchar* data = reinterpret_cast<const uchar*>(pam.constData()) + end + 7;
    if (width <= 0 || height <= 0 || depth < 1 || depth > 4
        || pam.size() - end - 7 < qint64(width) * height * depth)
        return QImage();
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, data += depth) {
            switch (depth) {
            case 1: line[x] = qRgb(data[0], data[0], data[0]); break;
            case 2: line[x] = qRgba(data[0], data[0], data[0], data[1]); break;
            case 3: line[x] = qRgb(data[0], data[1], data[2]); break;
            default: line[x] = qRgba(data[0], data[1], data[2], data[3]); break;
            }
        }
    }
    return image;
}

QString Identify(const QString& spec, const QString& format, int frame)
{
    QByteArray output;
    if (!Run(QStringLiteral("identify"), {QStringLiteral("-format"), format,
                                          spec + QStringLiteral("[%1]").arg(frame)}, &output))
        return QString();
    return QString::fromLocal8Bit(output).trimmed();
}

QImage Picture(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const double v = double(y) / height;
            const int r = int(std::lround(255 * u));
            const int g = int(std::lround(255 * v));
            const int b = int(std::lround(127.5 + 127.5 * std::sin(6.0 * (u + v))));
            const int a = alpha && x < width / 2 ? int(std::lround(255.0 * x / (width / 2))) : 255;
            line[x] = qRgba(r, g, b, a);
        }
    }
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(width * 5 / 8, height / 4, width / 4, height / 2), QColor(20, 40, 200));
    painter.fillRect(QRect(width * 5 / 8 + width / 16, height / 4 + height / 8, width / 8, height / 4),
                     QColor(250, 240, 20));
    painter.end();
    return image;
}

Difference Compare(const QImage& first, const QImage& second, bool checkAlpha)
{
    Difference difference;
    if (first.size() != second.size())
        return difference;
    difference.sameSize = true;
    const QImage a = first.convertToFormat(QImage::Format_ARGB32);
    const QImage b = second.convertToFormat(QImage::Format_ARGB32);
    qint64 total = 0;
    qint64 count = 0;
    const int blocksPerRow = (a.width() + 3) / 4;
    QVector<qint64> blockTotals(blocksPerRow * ((a.height() + 3) / 4), 0);
    QVector<int> blockCounts(blockTotals.size(), 0);
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int alpha = qAlpha(la[x]);
            int channels[4] = {
                std::abs(qRed(la[x]) - qRed(lb[x])) * alpha / 255,
                std::abs(qGreen(la[x]) - qGreen(lb[x])) * alpha / 255,
                std::abs(qBlue(la[x]) - qBlue(lb[x])) * alpha / 255,
                checkAlpha ? std::abs(alpha - qAlpha(lb[x])) : 0,
            };
            if (alpha == 0 && !checkAlpha)
                continue;
            const int block = (y / 4) * blocksPerRow + x / 4;
            for (const int channel : channels) {
                difference.max = qMax(difference.max, channel);
                total += channel;
                ++count;
                blockTotals[block] += channel;
                ++blockCounts[block];
            }
        }
    }
    difference.mean = count ? double(total) / count : 0.0;
    for (int i = 0; i < blockTotals.size(); ++i) {
        if (blockCounts.at(i))
            difference.blockMax = qMax(difference.blockMax, double(blockTotals.at(i)) / blockCounts.at(i));
    }
    return difference;
}

// Dr. Halo: a 6-byte header, then per line its byte count, run-length
// packets (high bit: a run of the next byte) and a closing 0. Eight grey
// stripes of twelve pixels, value 30 * stripe.
QByteArray HandCut()
{
    QByteArray file;
    PutLe16(file, kHandWidth);
    PutLe16(file, kHandHeight);
    PutLe16(file, 0);
    for (int y = 0; y < kHandHeight; ++y) {
        QByteArray line;
        for (int stripe = 0; stripe < 8; ++stripe)
            line.append(char(0x80 | 12)).append(char(30 * stripe));
        line.append('\0');
        PutLe16(file, quint16(line.size()));
        file.append(line);
    }
    return file;
}

// C64 Koala: load address, 8000 bitmap bytes, 1000 screen and 1000 colour
// bytes, background. Every byte 0x1B gives the four double-width pixels
// background, screen high nibble, screen low nibble, colour nibble.
QByteArray HandKoala()
{
    QByteArray file;
    file.append('\x00').append('\x60');
    file.append(QByteArray(8000, '\x1B'));
    file.append(QByteArray(1000, '\x25'));   // red, green
    file.append(QByteArray(1000, '\x06'));   // blue
    file.append('\x00');                     // black
    return file;
}

// A minimal linear DNG: one strip of 16-bit RGB samples, dark on the left
// half and bright on the right, with the camera's make and model.
QByteArray HandDng()
{
    struct Entry { quint16 tag, type; quint32 count; QByteArray data; };
    auto shorts = [](std::initializer_list<quint16> values) {
        QByteArray out;
        for (quint16 v : values)
            PutLe16(out, v);
        return out;
    };
    auto longs = [](std::initializer_list<quint32> values) {
        QByteArray out;
        for (quint32 v : values)
            PutLe32(out, v);
        return out;
    };
    QByteArray pixels;
    for (int y = 0; y < kHandHeight; ++y)
        for (int x = 0; x < kHandWidth; ++x)
            for (int c = 0; c < 3; ++c)
                PutLe16(pixels, x < kHandWidth / 2 ? 3000 : 50000);
    QByteArray matrix;
    for (int i = 0; i < 9; ++i) {
        PutLe32(matrix, i % 4 == 0 ? 1 : 0);
        PutLe32(matrix, 1);
    }
    const QList<Entry> entries = {
        {254, 4, 1, longs({0})},
        {256, 4, 1, longs({quint32(kHandWidth)})},
        {257, 4, 1, longs({quint32(kHandHeight)})},
        {258, 3, 3, shorts({16, 16, 16})},
        {259, 3, 1, shorts({1})},
        {262, 3, 1, shorts({34892})},
        {271, 2, 8, QByteArray("Korvane", 8)},
        {272, 2, 8, QByteArray("DngTest", 8)},
        {273, 4, 1, QByteArray()},   // strip offset, filled in below
        {274, 3, 1, shorts({1})},
        {277, 3, 1, shorts({3})},
        {278, 4, 1, longs({quint32(kHandHeight)})},
        {279, 4, 1, longs({quint32(pixels.size())})},
        {284, 3, 1, shorts({1})},
        {50706, 1, 4, QByteArray("\x01\x04\x00\x00", 4)},
        {50708, 2, 8, QByteArray("DngTest", 8)},
        {50721, 10, 9, matrix},
        {50728, 5, 3, QByteArray()},
        {50778, 3, 1, shorts({21})},
    };
    QByteArray neutral;
    for (int i = 0; i < 3; ++i) {
        PutLe32(neutral, 1);
        PutLe32(neutral, 1);
    }
    const quint32 ifdSize = 2 + 12 * entries.size() + 4;
    quint32 extra = 8 + ifdSize;
    QByteArray ifd;
    QByteArray overflow;
    PutLe16(ifd, quint16(entries.size()));
    QList<int> stripOffsetFields;
    for (Entry entry : entries) {
        if (entry.tag == 50728)
            entry.data = neutral;
        PutLe16(ifd, entry.tag);
        PutLe16(ifd, entry.type);
        PutLe32(ifd, entry.count);
        if (entry.tag == 273) {
            stripOffsetFields << ifd.size();
            PutLe32(ifd, 0);
        } else if (entry.data.size() <= 4) {
            ifd.append(entry.data.leftJustified(4, '\0'));
        } else {
            PutLe32(ifd, extra + quint32(overflow.size()));
            overflow.append(entry.data);
            if (overflow.size() % 2)
                overflow.append('\0');
        }
    }
    PutLe32(ifd, 0);
    const quint32 stripOffset = extra + quint32(overflow.size());
    for (int field : stripOffsetFields)
        qToLittleEndian<quint32>(stripOffset, ifd.data() + field);
    QByteArray file("II*\0", 4);
    PutLe32(file, 8);
    return file + ifd + overflow + pixels;
}

bool Save(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Load(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace FiFixtures
