// Command-line benchmark: korvane-convert against ImageMagick's convert and
// libvips' vips on the same generated photographs, each timed as whole
// processes from the first start to the last exit, with the ratios.
//
//   clibench [--photos N] [--size WxH] [--jobs N] [--keep DIR]
//
// korvane-convert runs once per case with -j N; ImageMagick and vips run one
// process per file, N at a time, each limited to one thread, so all three
// keep N processors busy.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>

#include <cstdio>
#include <memory>

namespace {

// A photograph stand-in: smooth colour fields with grain, so that it
// compresses roughly as a camera picture does.
QImage Photo(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    const int hue = random.bounded(360);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int field = (x * 7 / width + y * 5 / height) * 37;
            const QColor base = QColor::fromHsv((hue + field + x / 40) % 360, 90 + (y * 120 / height), 90 + (x * 150 / width));
            const int grain = int(random.bounded(17u)) - 8;
            line[x] = qRgb(qBound(0, base.red() + grain, 255), qBound(0, base.green() + grain, 255),
                           qBound(0, base.blue() + grain, 255));
        }
    }
    return image;
}

QString FindProgram(const QStringList& names, const QStringList& probe, const QByteArray& answer)
{
    for (const QString& name : names) {
        const QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            continue;
        QProcess process;
        process.start(path, probe);
        if (process.waitForFinished(10000) && process.readAllStandardOutput().contains(answer))
            return path;
    }
    return QString();
}

// Runs every command, at most parallel at once; answers the wall time in
// seconds, or -1 when one of them failed.
double RunAll(const QString& program, const QList<QStringList>& commands, const QProcessEnvironment& environment,
              int parallel)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> running;
    int next = 0;
    bool ok = true;
    while (next < commands.size() || !running.empty()) {
        while (int(running.size()) < parallel && next < commands.size()) {
            running.emplace_back(new QProcess);
            running.back()->setProcessEnvironment(environment);
            running.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            running.back()->start(program, commands.at(next++));
        }
        for (auto it = running.begin(); it != running.end();) {
            if ((*it)->state() == QProcess::NotRunning || (*it)->waitForFinished(2)) {
                ok = ok && (*it)->exitStatus() == QProcess::NormalExit && (*it)->exitCode() == 0;
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
    return ok ? clock.nsecsElapsed() / 1e9 : -1.0;
}

struct Case
{
    QString name;
    QStringList cli;            // korvane-convert's options
    QStringList magick;         // convert's options between source and target
    QString vipsOperation;      // copy, resize …
    QStringList vipsArguments;  // after source and target
    QString ending;             // target suffix; vips's may carry save options
    QString vipsOptions;
};

double Megapixels(const QStringList& files)
{
    double pixels = 0;
    for (const QString& file : files) {
        const QSize size = QImage(file).size();
        pixels += double(size.width()) * size.height();
    }
    return pixels / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&args](const char* name, const QString& fallback) {
        const int at = args.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    };
    const int photos = qMax(1, option("--photos", QStringLiteral("8")).toInt());
    const QStringList size = option("--size", QStringLiteral("4000x3000")).split(QLatin1Char('x'));
    const int width = qMax(16, size.value(0).toInt());
    const int height = qMax(16, size.value(1).toInt());
    const int jobs = qMax(1, option("--jobs", QString::number(QThread::idealThreadCount())).toInt());
    QTemporaryDir scratch;
    const QString keep = option("--keep", QString());
    const QString root = keep.isEmpty() ? scratch.path() : QDir(keep).absolutePath();
    QDir().mkpath(root + QStringLiteral("/corpus"));

    const QString cli = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("korvane-convert"));
    const QString magick = FindProgram({"magick", "convert-im6.q16", "convert-im6", "convert"}, {"-version"}, "ImageMagick");
    const QString vips = FindProgram({"vips"}, {"--version"}, "vips");
    if (!QFileInfo(cli).isExecutable()) {
        std::fprintf(stderr, "clibench: %s is missing; build the korvane-convert target\n", qPrintable(cli));
        return 1;
    }

    QList<int> seeds;
    for (int i = 0; i < photos; ++i)
        seeds << i + 1;
    const QStringList sources = QtConcurrent::blockingMapped<QStringList>(seeds, std::function<QString(const int&)>([&](const int& seed) {
        const QString path = root + QStringLiteral("/corpus/photo%1.jpg").arg(seed, 2, 10, QLatin1Char('0'));
        Photo(width, height, quint32(seed)).save(path, "JPEG", 92);
        return path;
    }));
    const double megapixels = Megapixels(sources);

    std::printf("clibench: %d JPEG photographs of %d x %d (%.0f MP), %d at a time\n", photos, width, height,
                megapixels, jobs);
    std::printf("korvane-convert: %s (-j %d)\nImageMagick: %s\nlibvips: %s\n", qPrintable(cli), jobs,
                magick.isEmpty() ? "not found" : qPrintable(magick + " (one thread per process)"),
                vips.isEmpty() ? "not found (apt-get install libvips-tools)" : qPrintable(vips + " (one thread per process)"));

    // PNG at each program's fastest deflate level (ImageMagick's quality 15:
    // zlib level 1 with adaptive filters); the resize is nearest-pixel in all
    // three, as the editor's resize is.
    const QList<Case> cases = {
        {QStringLiteral("JPEG -> PNG"), {"-f", "png"}, {"-quality", "15"}, "copy", {}, ".png", "[compression=1]"},
        {QStringLiteral("JPEG -> JPEG q85"), {"-f", "jpg", "--quality", "85"}, {"-quality", "85"}, "copy", {}, ".jpg",
         "[Q=85]"},
        {QStringLiteral("JPEG -> WebP q80"), {"-f", "webp", "--quality", "80"}, {"-quality", "80"}, "copy", {}, ".webp",
         "[Q=80]"},
        {QStringLiteral("JPEG -> JPEG q85, 50 % (nearest)"), {"-f", "jpg", "--quality", "85", "--resize", "50%"},
         {"-sample", "50%", "-quality", "85"}, "resize", {"0.5", "--kernel", "nearest"}, ".jpg", "[Q=85]"},
    };

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("MAGICK_THREAD_LIMIT"), QStringLiteral("1"));
    environment.insert(QStringLiteral("OMP_NUM_THREADS"), QStringLiteral("1"));
    environment.insert(QStringLiteral("VIPS_CONCURRENCY"), QStringLiteral("1"));

    for (int c = 0; c < cases.size(); ++c) {
        const Case& each = cases.at(c);
        const QString base = root + QStringLiteral("/case%1").arg(c);
        const QString cliOut = base + QStringLiteral("/korvane");
        const double cliSeconds = RunAll(cli, {each.cli + QStringList{"-j", QString::number(jobs), "--exists", "overwrite",
                                                                      "-o", cliOut} + sources},
                                         environment, 1);
        std::printf("\n%s  (%d files, %.0f MP)\n", qPrintable(each.name), photos, megapixels);
        std::printf("  %-16s %7.2f s  %6.1f MP/s\n", "korvane-convert", cliSeconds, megapixels / cliSeconds);
        const auto compare = [&](const char* who, const QString& program, const QList<QStringList>& commands,
                                 const QString& folder) {
            if (program.isEmpty())
                return;
            QDir().mkpath(folder);
            const double seconds = RunAll(program, commands, environment, jobs);
            if (seconds < 0 || cliSeconds < 0) {
                std::printf("  %-16s failed\n", who);
                return;
            }
            std::printf("  %-16s %7.2f s  %6.1f MP/s  korvane-convert is %.2f times as fast\n", who, seconds,
                        megapixels / seconds, seconds / cliSeconds);
        };
        QList<QStringList> magickCommands;
        QList<QStringList> vipsCommands;
        for (const QString& source : sources) {
            const QString name = QFileInfo(source).completeBaseName() + each.ending;
            magickCommands << QStringList(source) + each.magick + QStringList(base + "/magick/" + name);
            vipsCommands << QStringList{each.vipsOperation, source, base + "/vips/" + name + each.vipsOptions}
                                + each.vipsArguments;
        }
        compare("ImageMagick", magick, magickCommands, base + QStringLiteral("/magick"));
        compare("libvips", vips, vipsCommands, base + QStringLiteral("/vips"));
    }
    return 0;
}
