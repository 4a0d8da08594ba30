#include "fifixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageIOPlugin>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPluginLoader>
#include <QProcess>
#include <QStandardPaths>
#include <QVector>

#include <cmath>
#include <cstdlib>

namespace {

void PutLe16(QByteArray& out, quint16 value) { out.append(char(value & 0xFF)).append(char(value >> 8)); }
void PutLe32(QByteArray& out, quint32 value) { PutLe16(out, quint16(value & 0xFFFF)), PutLe16(out, quint16(value >> 16)); }

} // namespace

namespace FiFixtures {

QImageIOPlugin* Plugin()
{
    static QPluginLoader loader(QCoreApplication::applicationDirPath() + "/imageformats/libkorvanefi.so");
    return qobject_cast<QImageIOPlugin*>(loader.instance());
}

QString MissingTools(const QStringList& tools)
{
    QStringList missing;
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    return missing.isEmpty() ? QString() : "Needed tools are missing (see PACKAGES in build.sh): " + missing.join(", ");
}

bool Run(const QString& tool, const QStringList& arguments, QByteArray* output, QString* error)
{
    QProcess process;
    process.start(tool, arguments);
    const bool finished = process.waitForStarted(10000) && process.waitForFinished(120000);
    if (!finished)
        process.kill(), process.waitForFinished();
    if (output)
        *output = process.readAllStandardOutput();
    const bool ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok && error)
        *error = tool + " failed: " + process.errorString() + ' ' + QString::fromLocal8Bit(process.readAllStandardError());
    return ok;
}

QImage MagickDecode(const QString& spec, int frame)
{
    QByteArray out;
    if (!Run("convert", {spec + QString("[%1]").arg(frame), "-set", "colorspace", "sRGB", "-print", "%w %h\n", "-depth", "8", "rgba:-"}, &out))
        return QImage();
    const QList<QByteArray> size = out.left(out.indexOf('\n')).split(' ');
    const int width = size.value(0).toInt(), height = size.value(1).toInt();
    const QByteArray samples = out.mid(out.indexOf('\n') + 1);
    if (width <= 0 || samples.size() != width * height * 4)
        return QImage();
    return QImage(reinterpret_cast<const uchar*>(samples.constData()), width, height, width * 4, QImage::Format_RGBA8888)
        .convertToFormat(QImage::Format_ARGB32);
}

QString Identify(const QString& spec, const QString& format, int frame)
{
    QByteArray output;
    return Run("identify", {"-format", format, spec + QString("[%1]").arg(frame)}, &output) ? QString(output).trimmed() : QString();
}

bool MagickEncode(const QImage& image, bool alpha, const QStringList& options, const QString& output, QString* error)
{
    const QImage source = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    QByteArray samples;
    for (int y = 0; y < source.height(); ++y)
        samples.append(reinterpret_cast<const char*>(source.constScanLine(y)), source.width() * (alpha ? 4 : 3));
    const QString raw = output.mid(output.indexOf(':') + 1) + ".raw";
    const bool ok = Save(raw, samples)
                 && Run("convert", QStringList{"-size", QString("%1x%2").arg(source.width()).arg(source.height()), "-depth", "8",
                                               (alpha ? "rgba:" : "rgb:") + raw} + options + QStringList{output}, nullptr, error);
    QFile::remove(raw);
    return ok;
}

QJsonObject ExifTool(const QString& path, const QStringList& tags, const QStringList& options)
{
    QByteArray output;
    QStringList arguments = QStringList{"-j"} + options;
    for (const QString& tag : tags)
        arguments << '-' + tag;
    return Run("exiftool", arguments << path, &output) ? QJsonDocument::fromJson(output).array().at(0).toObject() : QJsonObject();
}

QStringList Convert(const QString& source, const QString& folder, const QString& extension, PLMImageCodecID id,
                    bool keep, const std::function<void(ConvertSettings&)>& options)
{
    QDir().mkpath(folder);
    ConvertSettings settings;
    settings.TgtFolder = folder, settings.TgtFormat = extension, settings.TgtID = id;
    settings.Exists = 1, settings.KeepMd = keep;
    if (options)
        options(settings);
    ImageConvertData job;
    job.srcFile = source;
    job.settings = &settings;
    const ItemConvertResult result = ThreadFunction(job);
    return result.state == ConvertSucceeded ? result.tgtFiles : QStringList();
}

QImage Picture(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            line[x] = qRgba(int(std::lround(255 * u)), int(std::lround(255 * v)), int(std::lround(127.5 + 127.5 * std::sin(6.0 * (u + v)))),
                            alpha && x < width / 2 ? int(std::lround(255.0 * x / (width / 2))) : 255);
        }
    }
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(width * 5 / 8, height / 4, width / 4, height / 2), QColor(20, 40, 200));
    painter.fillRect(QRect(width * 5 / 8 + width / 16, height / 4 + height / 8, width / 8, height / 4), QColor(250, 240, 20));
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
    qint64 total = 0, count = 0;
    const int blocksPerRow = (a.width() + 3) / 4;
    QVector<qint64> blockTotals(blocksPerRow * ((a.height() + 3) / 4), 0);
    QVector<int> blockCounts(blockTotals.size(), 0);
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int alpha = qAlpha(la[x]);
            const int channels[4] = {std::abs(qRed(la[x]) - qRed(lb[x])) * alpha / 255,
                                     std::abs(qGreen(la[x]) - qGreen(lb[x])) * alpha / 255,
                                     std::abs(qBlue(la[x]) - qBlue(lb[x])) * alpha / 255, checkAlpha ? std::abs(alpha - qAlpha(lb[x])) : 0};
            if (alpha == 0 && !checkAlpha)
                continue;
            const int block = (y / 4) * blocksPerRow + x / 4;
            for (const int channel : channels) {
                difference.max = qMax(difference.max, channel);
                total += channel, ++count;
                blockTotals[block] += channel, ++blockCounts[block];
            }
        }
    }
    difference.mean = count ? double(total) / count : 0.0;
    for (int i = 0; i < blockTotals.size(); ++i)
        if (blockCounts.at(i))
            difference.blockMax = qMax(difference.blockMax, double(blockTotals.at(i)) / blockCounts.at(i));
    return difference;
}

// Dr. Halo: a 6-byte header, then per line its byte count, run-length packets and a closing 0.
QByteArray HandCut()
{
    QByteArray file, line;
    for (int stripe = 0; stripe < 8; ++stripe)
        line.append(char(0x80 | 12)).append(char(30 * stripe));
    line.append('\0');
    PutLe16(file, kHandWidth), PutLe16(file, kHandHeight), PutLe16(file, 0);
    for (int y = 0; y < kHandHeight; ++y)
        PutLe16(file, quint16(line.size())), file.append(line);
    return file;
}

// C64 Koala: load address, 8000 bitmap bytes 0x1B (pixels of background, screen high and low
// nibble, colour nibble), 1000 screen bytes (red, green), 1000 colour bytes (blue), background black.
QByteArray HandKoala()
{
    return QByteArray("\x00\x60", 2) + QByteArray(8000, '\x1B') + QByteArray(1000, '\x25') + QByteArray(1000, '\x06') + QByteArray(1, '\0');
}

// A minimal linear DNG (little-endian TIFF): one directory, the longer values, one strip.
QByteArray HandDng()
{
    const auto shorts = [](std::initializer_list<quint16> values) {
        QByteArray out;
        for (quint16 v : values)
            PutLe16(out, v);
        return out;
    };
    QByteArray pixels, matrix, neutral;
    for (int i = 0; i < kHandWidth * kHandHeight * 3; ++i)
        PutLe16(pixels, i / 3 % kHandWidth < kHandWidth / 2 ? 3000 : 50000);
    for (int i = 0; i < 9; ++i)
        matrix += shorts({quint16(i % 4 == 0), 0, 1, 0});   // rationals: the identity
    for (int i = 0; i < 3; ++i)
        neutral += shorts({1, 0, 1, 0});
    struct Entry { quint16 tag, type; quint32 count; QByteArray data; };
    QList<Entry> entries = {
        {254, 4, 1, shorts({0, 0})}, {256, 4, 1, shorts({kHandWidth, 0})}, {257, 4, 1, shorts({kHandHeight, 0})},
        {258, 3, 3, shorts({16, 16, 16})}, {259, 3, 1, shorts({1})}, {262, 3, 1, shorts({34892})},
        {271, 2, 8, QByteArray("Korvane", 8)}, {272, 2, 8, QByteArray("DngTest", 8)},
        {273, 4, 1, QByteArray()},   // the strip's offset, below
        {274, 3, 1, shorts({1})}, {277, 3, 1, shorts({3})}, {278, 4, 1, shorts({kHandHeight, 0})},
        {279, 4, 1, shorts({quint16(pixels.size()), quint16(pixels.size() >> 16)})}, {284, 3, 1, shorts({1})},
        {50706, 1, 4, QByteArray("\x01\x04\x00\x00", 4)}, {50708, 2, 8, QByteArray("DngTest", 8)},
        {50721, 10, 9, matrix}, {50728, 5, 3, neutral}, {50778, 3, 1, shorts({21})},
    };
    const quint32 overflowStart = 8 + 2 + 12 * entries.size() + 4;
    quint32 stripOffset = overflowStart;
    for (const Entry& entry : entries)
        stripOffset += entry.data.size() > 4 ? (entry.data.size() + 1) / 2 * 2 : 0;
    entries[8].data = shorts({quint16(stripOffset), quint16(stripOffset >> 16)});
    QByteArray file("II*\0\x08\0\0\0", 8), overflow;
    PutLe16(file, quint16(entries.size()));
    for (const Entry& entry : entries) {
        PutLe16(file, entry.tag);
        PutLe16(file, entry.type);
        PutLe32(file, entry.count);
        if (entry.data.size() <= 4) {
            file.append(entry.data.leftJustified(4, '\0'));
        } else {
            PutLe32(file, overflowStart + quint32(overflow.size()));
            overflow.append(entry.data.leftJustified((entry.data.size() + 1) / 2 * 2, '\0'));
        }
    }
    PutLe32(file, 0);
    return file + overflow + pixels;
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
