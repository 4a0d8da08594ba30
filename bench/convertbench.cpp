// Conversion benchmark: generates a corpus of photo-like pictures, converts it
// with the real engine (QtConcurrent::mapped over ThreadFunction on Qt's
// global pool) and, when they are installed, with ImageMagick's convert and
// libvips's vips for the same files and settings, and prints the figures:
// times, output sizes and peak memory side by side, with the ratios.
//
//   convertbench [--photos N] [--pngs N] [--tiffs N] [--big N] [--only WORD,...]
//                [--qt-plugins] [--no-imagemagick] [--no-vips] [--keep DIR]
#include "gen/plugins.h"
#include "imageconvertthread.h"
#include "startup.h"
#include "tst_multipagetiff.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPainter>
#include <QProcess>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <cstdio>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// ----- corpus ---------------------------------------------------------------

// A photograph stand-in: a sky-to-ground gradient, large soft shapes, edges,
// and per-pixel noise, so that it compresses roughly as a camera picture does.
QImage PhotoLike(int width, int height, quint32 seed, bool alpha)
{
    QRandomGenerator random(seed);
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, height);
        sky.setColorAt(0, QColor::fromHsv(random.bounded(360), 90, 230));
        sky.setColorAt(0.55, QColor::fromHsv(random.bounded(360), 60, 200));
        sky.setColorAt(1, QColor::fromHsv(random.bounded(360), 140, 90));
        painter.fillRect(image.rect(), sky);
        for (int i = 0; i < 40; ++i) {
            const QPointF centre(random.bounded(width), random.bounded(height));
            const double radius = width * (0.03 + random.bounded(0.2));
            QRadialGradient blob(centre, radius);
            const QColor colour = QColor::fromHsv(random.bounded(360), 80 + random.bounded(150), 60 + random.bounded(190));
            blob.setColorAt(0, colour);
            blob.setColorAt(0.7, QColor(colour.red(), colour.green(), colour.blue(), 120));
            blob.setColorAt(1, Qt::transparent);
            painter.setPen(Qt::NoPen);
            painter.setBrush(blob);
            painter.drawEllipse(centre, radius, radius * (0.5 + random.bounded(1.0)));
        }
        painter.setPen(QPen(QColor(30, 30, 30, 160), width / 400.0));
        for (int i = 0; i < 60; ++i)
            painter.drawLine(QPointF(random.bounded(width), random.bounded(height)),
                             QPointF(random.bounded(width), random.bounded(height)));
    }
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int edge = qMin(y, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const quint32 noise = random.generate();
            const int n = int(noise & 15) - 8;
            const QRgb p = line[x];
            int a = 255;
            if (alpha) {    // a soft vignette of transparency towards the border
                const int d = qMin(edge, qMin(x, width - 1 - x));
                a = qBound(0, d * 255 / qMax(1, width / 10), 255);
            }
            line[x] = qRgba(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) + n, 255),
                            qBound(0, qBlue(p) + int((noise >> 4) & 7) - 4, 255), a);
        }
    }
    return image;
}

struct Corpus
{
    QStringList photos;     // 4000 × 3000 JPEG
    QStringList bigPhotos;  // 8000 × 6000 JPEG
    QStringList pngs;       // 3000 × 2000 PNG with alpha
    QStringList tiffs;      // three 2000 × 1500 pages each
    QString logo;           // watermark picture with alpha
    double photoMegapixels = 0;
    double bigMegapixels = 0;
    double pngMegapixels = 0;
    double tiffMegapixels = 0;
};

struct CorpusItem
{
    QString folder;
    int kind;       // 0 photo, 1 png, 2 tiff, 3 big photo
    int index;
};

// Writes one corpus file and answers its path.
struct MakeCorpusItem
{
    using result_type = QString;
    QString operator()(const CorpusItem& item) const
    {
        const QString& folder = item.folder;
        const int kind = item.kind;
        const int index = item.index;
        const quint32 seed = quint32(kind * 1000 + index + 1);
        if (kind == 0) {
            const QString path = QDir(folder).filePath(QStringLiteral("photo%1.jpg").arg(index, 2, 10, QLatin1Char('0')));
            PhotoLike(4000, 3000, seed, false).save(path, "JPEG", 92);
            return path;
        }
        if (kind == 3) {
            const QString path = QDir(folder).filePath(QStringLiteral("big%1.jpg").arg(index, 2, 10, QLatin1Char('0')));
            PhotoLike(8000, 6000, seed, false).save(path, "JPEG", 92);
            return path;
        }
        if (kind == 1) {
            const QString path = QDir(folder).filePath(QStringLiteral("alpha%1.png").arg(index, 2, 10, QLatin1Char('0')));
            PhotoLike(3000, 2000, seed, true).save(path, "PNG", 80);
            return path;
        }
        const QString path = QDir(folder).filePath(QStringLiteral("scan%1.tif").arg(index, 2, 10, QLatin1Char('0')));
        QList<QImage> pages;
        for (int p = 0; p < 3; ++p)
            pages << PhotoLike(2000, 1500, seed * 7 + quint32(p), false);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(MakeMultiPageTiff(pages));
        return path;
    }
};

Corpus MakeCorpus(const QString& folder, int photos, int pngs, int tiffs, int bigPhotos)
{
    QList<CorpusItem> items;
    for (int i = 0; i < bigPhotos; ++i)
        items << CorpusItem{folder, 3, i};
    for (int i = 0; i < photos; ++i)
        items << CorpusItem{folder, 0, i};
    for (int i = 0; i < pngs; ++i)
        items << CorpusItem{folder, 1, i};
    for (int i = 0; i < tiffs; ++i)
        items << CorpusItem{folder, 2, i};
    const QList<QString> made = QtConcurrent::blockingMapped(items, MakeCorpusItem());

    Corpus corpus;
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i).kind == 3)
            corpus.bigPhotos << made.at(i);
        else if (items.at(i).kind == 0)
            corpus.photos << made.at(i);
        else if (items.at(i).kind == 1)
            corpus.pngs << made.at(i);
        else
            corpus.tiffs << made.at(i);
    }
    corpus.photoMegapixels = 12.0 * photos;
    corpus.bigMegapixels = 48.0 * bigPhotos;
    corpus.pngMegapixels = 6.0 * pngs;
    corpus.tiffMegapixels = 3 * 3.0 * tiffs;

    QImage logo(400, 200, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    {
        QPainter painter(&logo);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(255, 255, 255, 200));
        painter.setPen(QPen(QColor(20, 40, 120), 8));
        painter.drawRoundedRect(QRectF(8, 8, 384, 184), 30, 30);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 48, QFont::Bold));
        painter.drawText(logo.rect(), Qt::AlignCenter, QStringLiteral("LOGO"));
    }
    corpus.logo = QDir(folder).filePath(QStringLiteral("logo.png"));
    logo.save(corpus.logo, "PNG");
    return corpus;
}

// ----- measuring --------------------------------------------------------------

// Peak resident memory of this process in MiB since the last reset. Linux
// lets a process reset its own peak through clear_refs; elsewhere the figure
// is the peak of the whole run.
bool ResetPeakMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);     // give freed heap back first, so the reset starts low
#endif
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

// A field of /proc/<pid>/status in MiB (this process's by default), -1 when
// there is none.
double StatusMiB(const char* field, pid_t pid = 0)
{
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(field))
                return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

double PeakMemoryMiB()
{
    const double peak = StatusMiB("VmHWM:");
    if (peak >= 0)
        return peak;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// User and system time of this process or of its waited-for children.
double CpuSeconds(int who)
{
    struct rusage usage;
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("unknown");
}

double FolderMiB(const QString& folder)
{
    qint64 bytes = 0;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files))
        bytes += info.size();
    return bytes / 1048576.0;
}

struct Figures
{
    double seconds = 0;
    double peakMiB = 0;
    double startMiB = -1;   // resident at the start of the case, when known
    double cpuSeconds = 0;  // processor time, all threads or processes
    double outputMiB = 0;
    int written = 0;
    int failed = 0;
};

// poolThreads 0: the pool as it is.
Figures RunEngine(const QStringList& sources, const ConvertSettings& settings, int poolThreads)
{
    QThreadPool* pool = QThreadPool::globalInstance();
    const int defaultThreads = pool->maxThreadCount();
    if (poolThreads > 0)
        pool->setMaxThreadCount(poolThreads);
    QList<ImageConvertData> jobs;
    for (const QString& source : sources) {
        ImageConvertData job;
        job.srcFile = source;
        job.settings = &settings;
        jobs << job;
    }
    Figures figures;
    const bool perCase = ResetPeakMemory();
    if (perCase)
        figures.startMiB = StatusMiB("VmRSS:");
    const double cpuStart = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    QFuture<ItemConvertResult> future = QtConcurrent::mapped(jobs, ThreadFunction);
    future.waitForFinished();
    figures.seconds = timer.nsecsElapsed() / 1e9;
    figures.cpuSeconds = CpuSeconds(RUSAGE_SELF) - cpuStart;
    figures.peakMiB = PeakMemoryMiB();
    if (!perCase)
        figures.peakMiB = -figures.peakMiB;     // negative: peak of the whole run
    for (const ItemConvertResult& result : future.results()) {
        figures.written += result.tgtFiles.size();
        if (result.state != ConvertSucceeded)
            ++figures.failed;
    }
    figures.outputMiB = FolderMiB(settings.TgtFolder);
    pool->setMaxThreadCount(defaultThreads);
    return figures;
}

// ImageMagick's convert.
QString FindImageMagick()
{
    for (const char* name : {"magick", "convert-im6.q16", "convert-im6", "convert"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (path.isEmpty())
            continue;
        QProcess probe;
        probe.start(path, {QStringLiteral("-version")});
        if (probe.waitForFinished(10000) && probe.readAllStandardOutput().contains("ImageMagick"))
            return path;
    }
    return QString();
}

QString FindVips()
{
    const QString path = QStandardPaths::findExecutable(QStringLiteral("vips"));
    if (path.isEmpty())
        return path;
    QProcess probe;
    probe.start(path, {QStringLiteral("--version")});
    return probe.waitForFinished(10000) && probe.readAllStandardOutput().startsWith("vips") ? path : QString();
}

// Another program, one process per command, as many at once as the engine
// runs jobs, each limited to one thread like an engine job (the environment
// variable threadLimit set to 1). The peak is the largest resident size of
// one process.
Figures RunTool(const QString& program, const char* threadLimit, const QList<QStringList>& commands,
                const QString& outputFolder, int parallel)
{
    Figures figures;
    setenv(threadLimit, "1", 1);
    QSet<pid_t> spawned;
    const double cpuStart = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    int next = 0;
    int running = 0;
    const QByteArray programBytes = QFile::encodeName(program);
    while (next < commands.size() || running > 0) {
        while (running < parallel && next < commands.size()) {
            QList<QByteArray> storage{programBytes};
            for (const QString& argument : commands.at(next))
                storage << argument.toLocal8Bit();
            std::vector<char*> argv;
            for (QByteArray& argument : storage)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            pid_t pid = 0;
            if (posix_spawn(&pid, programBytes.constData(), nullptr, nullptr, argv.data(), environ) == 0) {
                ++running;
                spawned.insert(pid);
            }
            else
                ++figures.failed;
            ++next;
        }
        // A child's own high-water mark, read while it runs (its rusage
        // would report this process's, inherited through the spawn).
        int status = 0;
        const pid_t done = waitpid(-1, &status, WNOHANG);
        if (done > 0) {
            --running;
            spawned.remove(done);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                ++figures.failed;
        } else if (done < 0) {
            break;
        } else {
            for (const pid_t pid : spawned) {
                const double peak = StatusMiB("VmHWM:", pid);
                if (peak > 0)
                    figures.peakMiB = qMax(figures.peakMiB, peak);
            }
            usleep(10000);
        }
    }
    figures.seconds = timer.nsecsElapsed() / 1e9;
    figures.cpuSeconds = CpuSeconds(RUSAGE_CHILDREN) - cpuStart;
    figures.written = QDir(outputFolder).entryList(QDir::Files).size();
    figures.outputMiB = FolderMiB(outputFolder);
    return figures;
}

// One conversion of the corpus: the engine's settings and the other
// programs' arguments for the same work (their output paths are made
// relative; the case's output folder is put in front). Empty arguments:
// that program is not compared.
struct Case
{
    QString name;
    QStringList sources;
    double megapixels = 0;
    ConvertSettings settings = {};
    QList<QStringList> imageMagick = {};     // convert's arguments per source
    QList<QStringList> vips = {};            // vips's arguments per command
    QList<int> poolThreads = {0};       // one engine run per entry (0: the pool as it is)
};

// ImageMagick's arguments for each source: the source, the options, and the
// output named after the source with the given ending.
QList<QStringList> MagickJobs(const QStringList& sources, const QStringList& options, const QString& ending)
{
    QList<QStringList> jobs;
    for (const QString& source : sources)
        jobs << (QStringList(source) + options + QStringList(QFileInfo(source).completeBaseName() + ending));
    return jobs;
}

// vips's arguments: copy each source into the output named after it with
// the given ending, which may carry save options ("[Q=90]").
QList<QStringList> VipsJobs(const QStringList& sources, const QString& ending)
{
    QList<QStringList> jobs;
    for (const QString& source : sources)
        jobs << QStringList{QStringLiteral("copy"), source, QFileInfo(source).completeBaseName() + ending};
    return jobs;
}

// The same for every page of multi-page sources: %1 in the ending is the
// page number from 0.
QList<QStringList> VipsPageJobs(const QStringList& sources, int pages, const QString& ending)
{
    QList<QStringList> jobs;
    for (const QString& source : sources)
        for (int page = 0; page < pages; ++page)
            jobs << QStringList{QStringLiteral("copy"), source + QStringLiteral("[page=%1]").arg(page),
                                QFileInfo(source).completeBaseName() + ending.arg(page)};
    return jobs;
}

struct Run
{
    QString who;
    Figures figures;
};

// The engine's runs first; every other line gets its time and output size
// relative to the engine's first run.
void Print(const Case& c, const QList<Run>& runs)
{
    const int images = c.sources.size();
    std::printf("\n%s  (%d files, %.0f MP)\n", qPrintable(c.name), images, c.megapixels);
    for (const Run& run : runs) {
        const Figures& f = run.figures;
        QString peak = QStringLiteral("  peak %1 MiB").arg(qAbs(f.peakMiB), 5, 'f', 0);
        if (f.peakMiB < 0)
            peak += QStringLiteral(" (whole run)");
        else if (f.startMiB >= 0)
            peak += QStringLiteral(" (+%1)").arg(f.peakMiB - f.startMiB, 0, 'f', 0);
        else
            peak += QStringLiteral(" (one process)");
        std::printf("  %-14s %7.2f s (cpu %6.2f s)  %6.2f images/s  %6.1f MP/s  out %7.1f MiB  files %d%s%s\n",
                    qPrintable(run.who), f.seconds, f.cpuSeconds, images / f.seconds, c.megapixels / f.seconds,
                    f.outputMiB, f.written, qPrintable(peak),
                    f.failed ? qPrintable(QStringLiteral("  FAILED %1").arg(f.failed)) : "");
    }
    const Figures& engine = runs.first().figures;
    for (int i = 1; i < runs.size(); ++i) {
        const Figures& other = runs.at(i).figures;
        std::printf("  %s is %.2f times as fast as %s (processor time: %.2f times); its output is %.3f times the size\n",
                    qPrintable(runs.first().who), other.seconds / engine.seconds, qPrintable(runs.at(i).who),
                    engine.cpuSeconds > 0 ? other.cpuSeconds / engine.cpuSeconds : 0.0,
                    other.outputMiB > 0 ? engine.outputMiB / other.outputMiB : 0.0);
    }
    std::fflush(stdout);
}

int Arg(const QStringList& args, const QString& name, int fallback)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(DiscardMessageHandler);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool qtPlugins = args.contains(QStringLiteral("--qt-plugins"));

    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/convertbench-XXXXXX"));
    // Never the user's settings store: the format plugins read their switches.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path() + QStringLiteral("/config")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The format plugins as the program has them: switches on, its own folder
    // first. With --qt-plugins Qt's own plugins come first instead, and the
    // program's only serve the formats Qt has no plugin for.
    PLMInitPlugins();
    const QString programPlugins = qtPlugins ? ProgramPluginFolder() : PrependProgramPluginFolder();
    QGuiApplication app(argc, argv);
    if (qtPlugins) {
        QStringList paths{QLibraryInfo::location(QLibraryInfo::PluginsPath)};
        if (!programPlugins.isEmpty())
            paths << programPlugins;
        QCoreApplication::setLibraryPaths(paths);
    }

    const int photos = Arg(args, QStringLiteral("--photos"), 8);
    const int pngs = Arg(args, QStringLiteral("--pngs"), 4);
    const int tiffs = Arg(args, QStringLiteral("--tiffs"), 3);
    const int keepIndex = args.indexOf(QStringLiteral("--keep"));
    QString root = work.path();
    if (keepIndex >= 0 && keepIndex + 1 < args.size()) {
        root = args.at(keepIndex + 1);
        QDir().mkpath(root);
    }
    const int bigPhotos = Arg(args, QStringLiteral("--big"), 1);
    const QString magick = args.contains(QStringLiteral("--no-imagemagick")) ? QString() : FindImageMagick();
    const QString vips = args.contains(QStringLiteral("--no-vips")) ? QString() : FindVips();
    const int threads = QThreadPool::globalInstance()->maxThreadCount();

    std::printf("convertbench: %d photos 4000x3000 JPEG, %d PNGs 3000x2000 with alpha, %d TIFFs of 3 pages 2000x1500,"
                " %d photos 8000x6000 JPEG\n",
                photos, pngs, tiffs, bigPhotos);
    std::printf("format plugins: %s\n", qtPlugins ? "Qt's own first (--qt-plugins)"
                                                   : "the program's (its folder first, switches on)");
    std::printf("pool threads: %d; load average at the start: %s\n", threads, qPrintable(LoadAverage()));
    std::printf("ImageMagick: %s\nlibvips: %s\n",
                magick.isEmpty() ? "not used" : qPrintable(magick + QStringLiteral(" (same parallelism, one thread each)")),
                vips.isEmpty() ? "not used (Debian: apt-get install libvips-tools)"
                               : qPrintable(vips + QStringLiteral(" (same parallelism, one thread each)")));
    QElapsedTimer timer;
    timer.start();
    const QString sources = root + QStringLiteral("/sources");
    QDir().mkpath(sources);
    const Corpus corpus = MakeCorpus(sources, photos, pngs, tiffs, bigPhotos);
    std::printf("corpus made in %.1f s in %s\n", timer.elapsed() / 1000.0, qPrintable(sources));
    std::fflush(stdout);

    QList<Case> cases;
    {
        // ImageMagick at its fastest deflate level (quality 15: zlib level 1,
        // adaptive filters); vips at its defaults (zlib level 6, no filter).
        Case c{QStringLiteral("JPEG -> PNG"), corpus.photos, corpus.photoMegapixels, {}, {}};
        c.settings.TgtFormat = QStringLiteral(".png");
        c.settings.TgtID = PLMCodecPNG;
        c.imageMagick = MagickJobs(c.sources,
                                   {QStringLiteral("-quality"), QStringLiteral("15")},
                                   QStringLiteral(".png"));
        c.vips = VipsJobs(c.sources, QStringLiteral(".png"));
        cases << c;
    }
    {
        Case c{QStringLiteral("JPEG -> JPEG (quality 90)"), corpus.photos, corpus.photoMegapixels, {}, {}};
        c.settings.TgtFormat = QStringLiteral(".jpg");
        c.settings.TgtID = PLMCodecJPEG;
        c.settings.JPEGCmpsnQuality = 90;
        c.imageMagick = MagickJobs(c.sources,
                                   {QStringLiteral("-quality"), QStringLiteral("90"),
                                    QStringLiteral("-sampling-factor"), QStringLiteral("2x2")},
                                   QStringLiteral(".jpg"));
        // vips leaves the colour unsubsampled at 90 and above unless told.
        c.vips = VipsJobs(c.sources, QStringLiteral(".jpg[Q=90,subsample_mode=on]"));
        cases << c;
    }
    {
        Case c{QStringLiteral("PNG with alpha -> WEBP (lossy, quality 75)"), corpus.pngs, corpus.pngMegapixels, {}, {}};
        c.settings.TgtFormat = QStringLiteral(".webp");
        c.settings.TgtID = PLMCodecWEBP;
        c.settings.WEBPCmpsnQuality = 75;
        c.imageMagick = MagickJobs(c.sources,
                                   {QStringLiteral("-quality"), QStringLiteral("75")},
                                   QStringLiteral(".webp"));
        c.vips = VipsJobs(c.sources, QStringLiteral(".webp[Q=75]"));
        cases << c;
    }
    {
        Case c{QStringLiteral("3-page TIFF -> JPEG per page (quality 90)"), corpus.tiffs, corpus.tiffMegapixels, {}, {}};
        c.settings.TgtFormat = QStringLiteral(".jpg");
        c.settings.TgtID = PLMCodecJPEG;
        c.settings.JPEGCmpsnQuality = 90;
        c.imageMagick = MagickJobs(c.sources,
                                   {QStringLiteral("-quality"), QStringLiteral("90"),
                                    QStringLiteral("-sampling-factor"), QStringLiteral("2x2")},
                                   QStringLiteral("-page%d.jpg"));
        c.vips = VipsPageJobs(c.sources, 3, QStringLiteral("-page%1.jpg[Q=90,subsample_mode=on]"));
        cases << c;
    }
    {
        // Half size, a text line 4 % of the page high at (5 %, 5 %) and the
        // logo 20 % of the page wide at (70 %, 80 %), 60 % opaque.
        Case c{QStringLiteral("JPEG -> JPEG edited (resize 50 %, text and image watermark)"), corpus.photos,
               corpus.photoMegapixels, {}, {}};
        c.settings.TgtFormat = QStringLiteral(".jpg");
        c.settings.TgtID = PLMCodecJPEG;
        c.settings.JPEGCmpsnQuality = 90;
        c.settings.edited = true;
        c.settings.rfr.resizeEnabled = true;
        c.settings.rfr.resizeUnit = SizeUnitPercent;
        c.settings.rfr.widthValue = c.settings.rfr.heightValue = 50;
        QSharedPointer<TextEdited> text(new TextEdited);
        text->document.reset(new QTextDocument);
        text->document->setDocumentMargin(0);
        text->document->setDefaultFont(QFont(QStringLiteral("DejaVu Sans")));
        text->document->setPlainText(QStringLiteral("Korvane benchmark"));
        text->params.fontUnit = FontUnitPercent;
        text->params.fontSize = 4;
        text->params.color = Qt::black;
        text->params.positionUnit = SizeUnitPercent;
        text->params.xValue = text->params.yValue = 5;
        QSharedPointer<ImageEdited> logo(new ImageEdited);
        logo->image = QImage(corpus.logo);
        logo->params.sizeUnit = SizeUnitPercent;
        logo->params.widthValue = 20;
        logo->params.aspectRatio = 0.5;
        logo->params.opacity = 60;
        logo->params.positionUnit = SizeUnitPercent;
        logo->params.xValue = 70;
        logo->params.yValue = 80;
        c.settings.items << text << logo;
        // The pages are 2000 × 1500 after the resize: text 60 pixels high at
        // (100, 75), logo 400 × 200 at (1400, 1200).
        c.imageMagick = MagickJobs(c.sources,
                                   {QStringLiteral("-sample"), QStringLiteral("50%"), QStringLiteral("-font"),
                                    QStringLiteral("DejaVu-Sans"), QStringLiteral("-pointsize"),
                                    QStringLiteral("60"), QStringLiteral("-fill"), QStringLiteral("black"),
                                    QStringLiteral("-gravity"), QStringLiteral("NorthWest"),
                                    QStringLiteral("-annotate"), QStringLiteral("+100+75"),
                                    QStringLiteral("Korvane benchmark"), QStringLiteral("("), corpus.logo,
                                    QStringLiteral("-sample"), QStringLiteral("400x200!"),
                                    QStringLiteral(")"), QStringLiteral("-geometry"),
                                    QStringLiteral("+1400+1200"), QStringLiteral("-compose"),
                                    QStringLiteral("dissolve"), QStringLiteral("-define"),
                                    QStringLiteral("compose:args=60"), QStringLiteral("-composite"),
                                    QStringLiteral("-quality"), QStringLiteral("90"),
                                    QStringLiteral("-sampling-factor"), QStringLiteral("2x2")},
                                   QStringLiteral(".jpg"));
        cases << c;
    }

    // The phone formats: ImageMagick writes AVIF through libheif; its build
    // here has no JPEG XL writer. libvips writes both (AVIF through libheif).
    {
        Case c;
        c.name = QStringLiteral("JPEG -> AVIF (quality 80)");
        c.sources = corpus.photos;
        c.megapixels = corpus.photoMegapixels;
        c.settings.TgtFormat = QStringLiteral(".avif");
        c.settings.TgtID = PLMCodecAVIF;
        c.settings.AVIFCmpsnQuality = 80;
        c.imageMagick = MagickJobs(c.sources, {QStringLiteral("-quality"), QStringLiteral("80")}, QStringLiteral(".avif"));
        c.vips = VipsJobs(c.sources, QStringLiteral(".avif[Q=80]"));
        cases << c;
    }
    {
        Case c;
        c.name = QStringLiteral("JPEG -> JPEG XL (quality 80)");
        c.sources = corpus.photos;
        c.megapixels = corpus.photoMegapixels;
        c.settings.TgtFormat = QStringLiteral(".jxl");
        c.settings.TgtID = PLMCodecJXL;
        c.settings.JXLCmpsnQuality = 80;
        c.vips = VipsJobs(c.sources, QStringLiteral(".jxl[Q=80]"));
        cases << c;
    }

    // One big picture, on one thread and then on all of them: how much the
    // idle threads help a picture converted alone.
    {
        Case c{QStringLiteral("one 48 MP JPEG -> PNG, alone"), corpus.bigPhotos, corpus.bigMegapixels, {}, {}};
        c.settings.TgtFormat = QStringLiteral(".png");
        c.settings.TgtID = PLMCodecPNG;
        c.poolThreads = {1, threads};
        c.imageMagick = MagickJobs(c.sources, {QStringLiteral("-quality"), QStringLiteral("15")}, QStringLiteral(".png"));
        c.vips = VipsJobs(c.sources, QStringLiteral(".png"));
        cases << c;
    }

    // --only png,webp: the cases whose names hold one of the words.
    const int onlyIndex = args.indexOf(QStringLiteral("--only"));
    const QStringList only =
        onlyIndex >= 0 ? args.value(onlyIndex + 1).split(QLatin1Char(','), Qt::SkipEmptyParts) : QStringList();
    for (int i = 0; i < cases.size(); ++i) {
        Case& c = cases[i];
        const bool chosen = only.isEmpty() || std::any_of(only.cbegin(), only.cend(), [&c](const QString& word) {
                                return c.name.contains(word, Qt::CaseInsensitive);
                            });
        if (c.sources.isEmpty() || !chosen)
            continue;
        QList<Run> runs;
        for (const int poolThreads : qAsConst(c.poolThreads)) {
            const QString engineOut = QStringLiteral("%1/out%2/korvane-%3").arg(root).arg(i + 1).arg(poolThreads);
            QDir().mkpath(engineOut);
            c.settings.TgtFolder = engineOut;
            c.settings.Exists = 1;
            const QString who = c.poolThreads.size() > 1 ? QStringLiteral("korvane %1 thr").arg(poolThreads)
                                                         : QStringLiteral("korvane");
            runs << Run{who, RunEngine(c.sources, c.settings, poolThreads)};
        }
        const int parallel = qMin(threads, c.sources.size());
        const struct
        {
            const char* who;
            const QString& program;
            const char* threadLimit;
            QList<QStringList>& commands;
        } others[] = {{"imagemagick", magick, "MAGICK_THREAD_LIMIT", c.imageMagick},
                      {"libvips", vips, "VIPS_CONCURRENCY", c.vips}};
        for (const auto& other : others) {
            if (other.program.isEmpty() || other.commands.isEmpty())
                continue;
            const QString out = QStringLiteral("%1/out%2/%3").arg(root).arg(i + 1).arg(QLatin1String(other.who));
            QDir().mkpath(out);
            for (QStringList& command : other.commands)
                command.last() = QDir(out).filePath(command.last());
            runs << Run{QLatin1String(other.who), RunTool(other.program, other.threadLimit, other.commands, out, parallel)};
        }
        Print(c, runs);
        if (c.poolThreads.size() > 1 && runs.at(1).figures.seconds > 0)
            std::printf("  %d threads are %.2f times as fast as 1\n", c.poolThreads.at(1),
                        runs.at(0).figures.seconds / runs.at(1).figures.seconds);
    }
    std::printf("\nTimes are wall-clock for the whole set. The engine's peak memory is this whole process's\n"
                "resident high-water mark during the case (reset before each case, the corpus staying on disk),\n"
                "with its rise over the start of the case; another program's is that of its largest process.\n"
                "load average at the end: %s\n",
                qPrintable(LoadAverage()));
    return 0;
}
