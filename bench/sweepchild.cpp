#include "sweepchild.h"

#include "applyedits.h"
#include "gen/plugins.h"
#include "graphics/plugincontract.h"
#include "imageconvertthread.h"
#include "startup.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QFileInfo>
#include <QImageReader>
#include <QLibraryInfo>
#include <QtConcurrent>

#include <cstdio>

namespace {

struct WorkerOptions
{
    QString file;
    QString work;
    QString mode;
    QString to;
    bool qtOnly = false;
    bool keepMetadata = false;
};

bool ParseWorkerOptions(int argc, char** argv, WorkerOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (arg == QLatin1String(SweepWorkerArgument()) && hasValue)
            options.file = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--work") && hasValue)
            options.work = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--mode") && hasValue)
            options.mode = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--to") && hasValue)
            options.to = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--qt-only"))
            options.qtOnly = true;
        else if (arg == QLatin1String("--keep-metadata"))
            options.keepMetadata = true;
        else
            return false;
    }
    return !options.file.isEmpty() && !options.work.isEmpty()
           && (options.mode == QLatin1String("read") || options.mode == QLatin1String("convert"));
}

// One line of the outcome, out at once: the process may not live to flush.
void Say(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString OneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.simplified();
}

// The page as a viewer shows it: 8-bit premultiplied ARGB, rows without
// padding. Converted a band of rows at a time, so that the worker's peak
// memory stays the reader's and not that of a full-size copy.
bool DumpRaw(const QImage& page, const QString& path, QByteArray& md5)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Md5);
    const qint64 rowBytes = qint64(page.width()) * 4;
    const int band = int(qBound<qint64>(1, (qint64(4) << 20) / qMax<qint64>(1, rowBytes), 1024));
    const bool ready = page.format() == QImage::Format_ARGB32_Premultiplied;
    for (int top = 0; top < page.height(); top += band) {
        const QRect rows(0, top, page.width(), qMin(band, page.height() - top));
        const QImage argb = ready ? page : page.copy(rows).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (argb.isNull())
            return false;
        const int first = ready ? top : 0;
        for (int y = first; y < first + rows.height(); ++y) {
            const char* row = reinterpret_cast<const char*>(argb.constScanLine(y));
            hash.addData(row, int(rowBytes));
            if (file.write(row, rowBytes) != rowBytes)
                return false;
        }
    }
    md5 = hash.result().toHex();
    return true;
}

// Reads every page the way the conversion engine reads a source: one read()
// when the reader counts fewer than two images, else jumpToImage() before each
// page after the first; PDF pages at the engine's default 72 dpi, SVG at its
// own size.
int ReadSource(const WorkerOptions& options)
{
    const ConvertSettings defaults;
    // Only regular files, and the orientation applied, as the engine reads.
    if (!QFileInfo(options.file).isFile()) {
        Say(QStringLiteral("error not a regular file"));
        Say(QStringLiteral("result failed"));
        return 0;
    }
    QImageReader reader(options.file);
    reader.setAutoTransform(true);
    const PLMImageCodecID codec = PLMImageCodec(options.file).ID();
    if (codec == PLMCodecPDF) {
        reader.setQuality(PluginContract::PackRenderDpi(defaults.TgtDPI));
    } else if (codec == PLMCodecSVG) {
        const double scale = defaults.TgtDPI / 72.0;
        const QSize size = reader.size();
        reader.setScaledSize(QSize(RoundHalfUp(size.width() * scale), RoundHalfUp(size.height() * scale)));
    }
    const int count = reader.imageCount();
    Say(QStringLiteral("format %1").arg(QString::fromLatin1(reader.format())));
    Say(QStringLiteral("pages %1").arg(count));
    const int pages = count < 2 ? 1 : count;
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            reader.jumpToImage(page);
        const QImage image = reader.read();
        if (image.isNull()) {
            QString error = OneLine(reader.errorString());
            if (pages > 1)
                error = QStringLiteral("page %1 of %2: %3").arg(page + 1).arg(pages).arg(error);
            Say(QStringLiteral("error %1").arg(error));
            Say(QStringLiteral("result failed"));
            return 0;
        }
        Say(QStringLiteral("page %1 %2x%3").arg(page).arg(image.width()).arg(image.height()));
        if (page == 0) {
            QByteArray md5;
            if (DumpRaw(image, SweepRawFile(options.work), md5))
                Say(QStringLiteral("raw %1 %2 %3").arg(image.width()).arg(image.height())
                        .arg(QString::fromLatin1(md5)));
        }
    }
    Say(QStringLiteral("result read"));
    return 0;
}

// One job through the real engine, on a pool thread as the program runs it,
// into a target folder of its own with the "append a number" policy.
int ConvertSource(const WorkerOptions& options)
{
    ConvertSettings settings;
    settings.TgtFolder = SweepTargetFolder(options.work);
    QDir().mkpath(settings.TgtFolder);
    settings.TgtFormat = options.to;
    settings.TgtID = PLMImageCodec::GetID(options.to);
    settings.Exists = 0;
    settings.KeepMd = options.keepMetadata;
    ImageConvertData job;
    job.srcFile = options.file;
    job.settings = &settings;
    const ItemConvertResult result = QtConcurrent::run(ThreadFunction, job).result();
    for (const QString& target : result.tgtFiles)
        Say(QStringLiteral("target %1").arg(target));
    const char* state = result.state == ConvertSucceeded ? "succeeded"
                        : result.state == ConvertFailed  ? "failed"
                                                         : "canceled";
    Say(QStringLiteral("state %1").arg(QLatin1String(state)));
    return 0;
}

} // namespace

int RunSweepWorker(int argc, char** argv)
{
    WorkerOptions options;
    if (!ParseWorkerOptions(argc, argv, options)) {
        std::fprintf(stderr, "corpussweep: bad worker arguments\n");
        return 2;
    }
    // A settings store and temporary files of its own, inside the folder the
    // sweep removes afterwards: never the user's store.
    const QString config = options.work + QStringLiteral("/config");
    const QString temp = options.work + QStringLiteral("/tmp");
    QDir().mkpath(config);
    QDir().mkpath(temp);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("TMPDIR", QFile::encodeName(temp));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // As main() starts the program, or with Qt's own plugin folder alone.
    qInstallMessageHandler(DiscardMessageHandler);
    if (options.qtOnly) {
        QCoreApplication::setLibraryPaths({QLibraryInfo::location(QLibraryInfo::PluginsPath)});
    } else {
        PLMInitPlugins();
        PrependProgramPluginFolder();
    }
    QApplication app(argc, argv);
    return options.mode == QLatin1String("read") ? ReadSource(options) : ConvertSource(options);
}
