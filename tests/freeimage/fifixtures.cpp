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
