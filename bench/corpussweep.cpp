// Sweeps a folder of real-world images through the program's readers or its
// conversion engine and prints, per format, how they fare. Every file is read
// or converted in a worker process of its own (sweepchild.cpp), under an
// address-space limit and a wall-clock timeout, so that a crash, a hang or a
// runaway allocation is counted instead of ending the sweep.
//
//   corpussweep [--mode read|convert] [--to EXT] [--keep-metadata] [--jobs N]
//               [--timeout S] [--memory MB] [--only FORMAT[,FORMAT...]] [--list]
//               [--qt-only] FOLDER
//
// FOLDER holds index.tsv (file, format, oracle, reference, tolerance, damaged)
// or, without one, is swept recursively with no oracle. See README.md.
#include "graphics/imagecodec.h"
#include "startup.h"
#include "sweepchild.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QSize>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// ----- options ----------------------------------------------------------------

struct Options
{
    bool convert = false;
    QString to;                 // target extension with its dot
    bool keepMetadata = false;
    int jobs = 2;
    int timeoutSeconds = 60;
    int memoryMB = 2048;
    QStringList only;           // formats, upper case; empty: all
    bool list = false;
    bool qtOnly = false;
    QString folder;
};

void PrintUsage()
{
    std::fprintf(stderr,
                 "usage: corpussweep [options] FOLDER\n"
                 "  --mode read|convert   decode every page (default), or convert with the engine\n"
                 "  --to EXT              convert mode: the target format, e.g. .jpg\n"
                 "  --keep-metadata       convert mode: keep the metadata\n"
                 "  --jobs N              files processed at once (2)\n"
                 "  --timeout S           wall-clock limit per worker in seconds (60)\n"
                 "  --memory MB           address-space limit per worker (2048)\n"
                 "  --only F[,F...]       only these formats of the index\n"
                 "  --list                one line per file besides the table\n"
                 "  --qt-only             Qt's own plugin folder only, the program's plugins not loaded\n"
                 "FOLDER holds index.tsv; without one every file with a known extension is swept.\n");
}

bool PositiveNumber(const QString& text, int& value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value > 0;
}

bool ParseOptions(const QStringList& args, Options& options, QString& error)
{
    QString mode = QStringLiteral("read");
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        const auto needsValue = [&]() {
            if (!hasValue)
                error = arg + QStringLiteral(" needs a value");
            return hasValue;
        };
        if (arg == QLatin1String("--mode")) {
            if (!needsValue())
                return false;
            mode = args.at(++i);
        } else if (arg == QLatin1String("--to")) {
            if (!needsValue())
                return false;
            options.to = args.at(++i).toLower();
            if (!options.to.startsWith(QLatin1Char('.')))
                options.to.prepend(QLatin1Char('.'));
        } else if (arg == QLatin1String("--keep-metadata")) {
            options.keepMetadata = true;
        } else if (arg == QLatin1String("--jobs") || arg == QLatin1String("--timeout")
                   || arg == QLatin1String("--memory")) {
            if (!needsValue())
                return false;
            int& value = arg == QLatin1String("--jobs")      ? options.jobs
                         : arg == QLatin1String("--timeout") ? options.timeoutSeconds
                                                             : options.memoryMB;
            if (!PositiveNumber(args.at(++i), value)) {
                error = arg + QStringLiteral(" takes a positive number");
                return false;
            }
        } else if (arg == QLatin1String("--only")) {
            if (!needsValue())
                return false;
            for (const QString& format : args.at(++i).split(QLatin1Char(','), Qt::SkipEmptyParts))
                options.only << format.trimmed().toUpper();
        } else if (arg == QLatin1String("--list")) {
            options.list = true;
        } else if (arg == QLatin1String("--qt-only")) {
            options.qtOnly = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            error = QStringLiteral("unknown option ") + arg;
            return false;
        } else if (options.folder.isEmpty()) {
            options.folder = arg;
        } else {
            error = QStringLiteral("one folder only");
            return false;
        }
    }
    if (mode != QLatin1String("read") && mode != QLatin1String("convert")) {
        error = QStringLiteral("--mode is read or convert");
        return false;
    }
    options.convert = mode == QLatin1String("convert");
    if (options.convert && !PLMImageCodec::IsValid(PLMImageCodec::GetID(options.to))) {
        error = options.to.isEmpty() ? QStringLiteral("convert mode needs --to EXT")
                                     : QStringLiteral("no format has the extension ") + options.to;
        return false;
    }
    if (!options.convert && (!options.to.isEmpty() || options.keepMetadata)) {
        error = QStringLiteral("--to and --keep-metadata belong to convert mode");
        return false;
    }
    if (options.folder.isEmpty()) {
        error = QStringLiteral("no folder given");
        return false;
    }
    if (!QFileInfo(options.folder).isDir()) {
        error = options.folder + QStringLiteral(" is not a folder");
        return false;
    }
    options.folder = QFileInfo(options.folder).absoluteFilePath();
    return true;
}

// ----- the corpus -------------------------------------------------------------

struct Entry
{
    QString file;           // as the index names it, relative to the folder
    QString path;           // absolute
    QString format;
    QString oracle;
    QString reference;      // absolute; empty without one
    double tolerance = 0;
    bool damaged = false;
};

QList<Entry> LoadIndex(const QString& folder, const QStringList& only, int& skipped)
{
    QList<Entry> entries;
    skipped = 0;
    const QDir root(folder);
    QFile index(root.filePath(QStringLiteral("index.tsv")));
    if (index.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&index);
        in.setCodec("UTF-8");
        bool first = true;
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (first && line.startsWith(QLatin1String("file\t"))) {
                first = false;
                continue;
            }
            first = false;
            if (line.trimmed().isEmpty())
                continue;
            QStringList columns = line.split(QLatin1Char('\t'));
            while (columns.size() < 6)
                columns << QString();
            Entry entry;
            entry.file = columns.at(0).trimmed();
            entry.path = root.absoluteFilePath(entry.file);
            entry.format = columns.at(1).trimmed();
            entry.oracle = columns.at(2).trimmed();
            if (!columns.at(3).trimmed().isEmpty())
                entry.reference = root.absoluteFilePath(columns.at(3).trimmed());
            entry.tolerance = columns.at(4).trimmed().toDouble();
            entry.damaged = !columns.at(5).trimmed().isEmpty();
            if (only.isEmpty() || only.contains(entry.format.toUpper()))
                entries << entry;
        }
        return entries;
    }
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString& path : files) {
        const PLMImageCodec codec(path);
        if (!PLMImageCodec::IsValid(codec.ID())) {
            ++skipped;
            continue;
        }
        Entry entry;
        entry.file = root.relativeFilePath(path);
        entry.path = path;
        entry.format = codec.GetName();
        if (only.isEmpty() || only.contains(entry.format.toUpper()))
            entries << entry;
    }
    return entries;
}

// ----- worker processes -------------------------------------------------------

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int)
{
    interrupted = 1;
}

QString SignalName(int signal)
{
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation ? QStringLiteral("SIG") + QLatin1String(abbreviation)
                        : QStringLiteral("signal %1").arg(signal);
}

// What a finished worker left: its exit, its peak memory and the lines it printed.
struct RunResult
{
    QString folder;             // the worker's own folder
    bool timedOut = false;
    int signal = 0;             // the signal that ended it, 0 for an exit
    int exitCode = 0;
    double peakMB = 0;
    double seconds = 0;
    QMultiMap<QString, QString> lines;
    QString lastError;          // the last line the worker wrote on stderr

    QString Value(const char* key) const { return lines.value(QLatin1String(key)); }
    QStringList Values(const char* key) const
    {
        QStringList values = lines.values(QLatin1String(key));
        std::reverse(values.begin(), values.end());     // QMultiMap answers the newest first
        return values;
    }
    bool Ended() const { return !timedOut && signal == 0 && exitCode == 0; }
};

QString LastLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    if (file.size() > 65536)
        file.seek(file.size() - 65536);
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = lines.size() - 1; i >= 0; --i) {
        const QString line = QString::fromLocal8Bit(lines.at(i)).simplified();
        if (!line.isEmpty())
            return line.left(160);
    }
    return QString();
}

struct Task;

// One process to start: its arguments (program first), the folder its output
// files go to, and whether it runs under the memory limit.
struct Launch
{
    Task* task = nullptr;
    int slot = 0;               // 0 the file, 1 its oracle, 2 and on identify runs
    QStringList argv;
    QString folder;
    bool limited = true;
};

// A file in flight: its worker runs and what they answered.
struct Task
{
    int entry = -1;
    QString root;
    RunResult main;
    bool hasOracle = false;
    bool oracleIsMain = false;  // the file itself already is Qt's decode
    RunResult oracle;
    QStringList identified;     // targets given to identify
    QList<RunResult> identify;
    int pending = 0;
};

class Runner
{
public:
    Runner(int parallel, int timeoutSeconds, int memoryMB)
        : parallel(parallel), timeoutMs(qint64(timeoutSeconds) * 1000), memoryBytes(rlim_t(memoryMB) * 1024 * 1024)
    {
        clock.start();
    }

    bool HasRoom() const { return int(active.size()) < parallel; }
    bool Idle() const { return active.empty() && queue.empty(); }
    bool HasQueued() const { return !queue.empty(); }

    void Enqueue(const Launch& launch, bool first)
    {
        if (first)
            queue.push_front(launch);
        else
            queue.push_back(launch);
    }

    // Starts queued runs while there is room.
    void StartQueued()
    {
        while (HasRoom() && !queue.empty()) {
            const Launch launch = queue.front();
            queue.pop_front();
            Start(launch);
        }
    }

    // Waits a little for a worker to end and answers it (task null: none yet).
    // Workers past their time are killed, with their whole process group.
    Launch Reap(RunResult& result)
    {
        siginfo_t info;
        std::memset(&info, 0, sizeof(info));
        if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid > 0) {
            const pid_t pid = info.si_pid;
            // The worker is a zombie, so its group id cannot be reused yet:
            // take down decoder processes it may have left behind.
            ::kill(-pid, SIGKILL);
            int status = 0;
            struct rusage usage;
            std::memset(&usage, 0, sizeof(usage));
            while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            const auto found = active.find(pid);
            if (found == active.end())
                return Launch();
            Active running = found->second;
            active.erase(found);
            result = RunResult();
            result.folder = running.launch.folder;
            result.timedOut = running.timedOut;
            result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
            result.peakMB = usage.ru_maxrss / 1024.0;
            result.seconds = (clock.elapsed() - running.startMs) / 1000.0;
            QFile out(running.launch.folder + QStringLiteral("/out.txt"));
            if (out.open(QIODevice::ReadOnly)) {
                for (const QByteArray& bytes : out.readAll().split('\n')) {
                    const QString line = QString::fromUtf8(bytes);
                    const int space = line.indexOf(QLatin1Char(' '));
                    if (!line.isEmpty())
                        result.lines.insert(line.left(space), space < 0 ? QString() : line.mid(space + 1));
                }
            }
            result.lastError = LastLine(running.launch.folder + QStringLiteral("/err.txt"));
            return running.launch;
        }
        const qint64 now = clock.elapsed();
        for (auto& item : active) {
            if (!item.second.timedOut && now - item.second.startMs > timeoutMs) {
                item.second.timedOut = true;
                ::kill(-item.first, SIGKILL);
                ::kill(item.first, SIGKILL);
            }
        }
        const struct timespec pause = {0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        return Launch();
    }

    // A launch whose fork failed, answered as a worker that exited at once
    // with code 126. False when there is none.
    bool TakeFailedStart(Launch& launch, RunResult& result)
    {
        if (failedStarts.empty())
            return false;
        launch = failedStarts.front();
        failedStarts.pop_front();
        result = RunResult();
        result.folder = launch.folder;
        result.exitCode = 126;
        result.lastError = QStringLiteral("could not start the worker");
        return true;
    }

    // Ends every running worker (interrupted sweep).
    void KillAll()
    {
        for (const auto& item : active) {
            ::kill(-item.first, SIGKILL);
            ::kill(item.first, SIGKILL);
        }
        for (const auto& item : active) {
            int status = 0;
            waitpid(item.first, &status, 0);
        }
        active.clear();
        queue.clear();
    }

private:
    struct Active
    {
        Launch launch;
        qint64 startMs = 0;
        bool timedOut = false;
    };

    void Start(const Launch& launch)
    {
        QDir().mkpath(launch.folder);
        // Everything the child needs is made before the fork: after it, only
        // async-signal-safe calls.
        std::vector<QByteArray> storage;
        for (const QString& arg : launch.argv)
            storage.push_back(QFile::encodeName(arg));
        std::vector<char*> argv;
        for (QByteArray& arg : storage)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const QByteArray outPath = QFile::encodeName(launch.folder + QStringLiteral("/out.txt"));
        const QByteArray errPath = QFile::encodeName(launch.folder + QStringLiteral("/err.txt"));
        const rlim_t limit = launch.limited ? memoryBytes : RLIM_INFINITY;

        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            if (limit != RLIM_INFINITY) {
                const struct rlimit bound = {limit, limit};
                setrlimit(RLIMIT_AS, &bound);
            }
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
                _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid < 0) {
            std::fprintf(stderr, "corpussweep: fork failed: %s\n", std::strerror(errno));
            failedStarts.push_back(launch);
            return;
        }
        Active running;
        running.launch = launch;
        running.startMs = clock.elapsed();
        setpgid(pid, pid);      // also from here, so the group exists before any kill
        active.emplace(pid, running);
    }

    const int parallel;
    const qint64 timeoutMs;
    const rlim_t memoryBytes;
    QElapsedTimer clock;
    std::deque<Launch> queue;
    std::map<pid_t, Active> active;
    std::deque<Launch> failedStarts;
};

// ----- judging a file ---------------------------------------------------------

enum Outcome { OutcomeRead, OutcomeMatch, OutcomeMismatch, OutcomeFailed, OutcomeCrashed, OutcomeHung,
               OutcomeSucceeded };

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case OutcomeRead: return "read";
    case OutcomeMatch: return "match";
    case OutcomeMismatch: return "MISMATCH";
    case OutcomeFailed: return "failed";
    case OutcomeCrashed: return "CRASHED";
    case OutcomeHung: return "HUNG";
    case OutcomeSucceeded: return "succeeded";
    }
    return "?";
}

struct FileResult
{
    bool done = false;
    Outcome outcome = OutcomeFailed;
    QString detail;
    double peakMB = 0;
    double seconds = 0;
    bool problem = false;
    bool readDamaged = false;       // information, not a failure
    bool oracleUnreadable = false;  // information: nothing to compare with
    bool wrongSuccess = false;
    int leftBehind = 0;
};

QString FormatMad(double mad)
{
    if (mad > 0 && mad < 0.001)
        return QString::number(mad, 'g', 2);
    return QString::number(mad, 'f', 3);
}

// A worker that did not end with its answer: hung, crashed, or exited early.
bool Abnormal(const RunResult& run, const char* resultKey, Outcome& outcome, QString& detail)
{
    if (run.timedOut) {
        outcome = OutcomeHung;
        detail = QStringLiteral("killed after %1 s").arg(run.seconds, 0, 'f', 0);
    } else if (run.signal != 0) {
        outcome = OutcomeCrashed;
        detail = SignalName(run.signal);
    } else if (run.exitCode != 0 || !run.lines.contains(QLatin1String(resultKey))) {
        outcome = OutcomeCrashed;
        detail = QStringLiteral("exit code %1 without an answer").arg(run.exitCode);
    } else {
        return false;
    }
    if (run.lines.contains(QLatin1String(resultKey)))
        detail += QStringLiteral(" after answering \"%1\"").arg(run.Value(resultKey));
    else if (run.lines.contains(QLatin1String("page")))
        detail += QStringLiteral(" after %1 page(s)").arg(run.Values("page").size());
    if (!run.lastError.isEmpty())
        detail += QStringLiteral("; stderr: ") + run.lastError;
    return true;
}

QSize RawSize(const RunResult& run)
{
    const QStringList parts = run.Value("raw").split(QLatin1Char(' '));
    return parts.size() >= 2 ? QSize(parts.at(0).toInt(), parts.at(1).toInt()) : QSize();
}

// Mean absolute difference over the four channels of two premultiplied ARGB
// dumps of the same size, read a block at a time.
bool MeanAbsoluteDifference(const RunResult& a, const RunResult& b, double& mad)
{
    const QStringList partsA = a.Value("raw").split(QLatin1Char(' '));
    const QStringList partsB = b.Value("raw").split(QLatin1Char(' '));
    if (partsA.size() >= 3 && partsB.size() >= 3 && partsA.at(2) == partsB.at(2)) {
        mad = 0;
        return true;
    }
    QFile fileA(SweepRawFile(a.folder));
    QFile fileB(SweepRawFile(b.folder));
    if (!fileA.open(QIODevice::ReadOnly) || !fileB.open(QIODevice::ReadOnly) || fileA.size() != fileB.size()
        || fileA.size() == 0)
        return false;
    quint64 sum = 0;
    const qint64 block = 1 << 20;
    while (!fileA.atEnd()) {
        const QByteArray bytesA = fileA.read(block);
        const QByteArray bytesB = fileB.read(block);
        if (bytesA.size() != bytesB.size() || bytesA.isEmpty())
            return false;
        const uchar* pa = reinterpret_cast<const uchar*>(bytesA.constData());
        const uchar* pb = reinterpret_cast<const uchar*>(bytesB.constData());
        for (int i = 0; i < bytesA.size(); ++i)
            sum += quint64(pa[i] > pb[i] ? pa[i] - pb[i] : pb[i] - pa[i]);
    }
    mad = double(sum) / double(fileA.size());
    return true;
}

QString PagesSummary(const RunResult& run)
{
    const QStringList pages = run.Values("page");
    if (pages.isEmpty())
        return QString();
    const QString first = pages.first().section(QLatin1Char(' '), 1);
    return pages.size() == 1 ? first : QStringLiteral("%1 pages, first %2").arg(pages.size()).arg(first);
}

// What the oracle's decode says, for the detail of a failed file.
QString OracleNote(const Entry& entry, const Task& task)
{
    if (!task.hasOracle || task.oracleIsMain)
        return QString();
    const QString who = entry.oracle == QLatin1String("stock-qt") ? QStringLiteral("Qt alone")
                                                                  : QStringLiteral("the reference");
    Outcome outcome;
    QString detail;
    if (Abnormal(task.oracle, "result", outcome, detail))
        return QStringLiteral("; %1: %2 (%3)").arg(who, QLatin1String(OutcomeName(outcome)), detail);
    if (task.oracle.Value("result") == QLatin1String("read"))
        return QStringLiteral("; %1 reads it (%2)").arg(who, PagesSummary(task.oracle));
    return QStringLiteral("; %1 fails too").arg(who);
}

// Whether the oracle's decode shows that the file can be read: then failing it
// is a problem even for a file marked damaged.
bool OracleReads(const Task& task)
{
    if (!task.hasOracle)
        return false;
    const RunResult& oracle = task.oracleIsMain ? task.main : task.oracle;
    return oracle.Ended() && oracle.Value("result") == QLatin1String("read");
}

FileResult JudgeRead(const Entry& entry, const Task& task)
{
    FileResult r;
    r.done = true;
    r.peakMB = task.main.peakMB;
    r.seconds = task.main.seconds;
    const bool hasOracle = !entry.oracle.isEmpty();
    if (Abnormal(task.main, "result", r.outcome, r.detail)) {
        r.problem = true;
        return r;
    }
    if (task.main.Value("result") != QLatin1String("read")) {
        r.outcome = OutcomeFailed;
        r.detail = task.main.Value("error");
        if (r.detail.isEmpty())
            r.detail = QStringLiteral("no picture");
        r.detail += OracleNote(entry, task);
        r.problem = !entry.damaged || OracleReads(task);
        return r;
    }
    r.outcome = OutcomeRead;
    r.detail = PagesSummary(task.main);
    r.readDamaged = entry.damaged;
    if (!hasOracle)
        return r;
    const RunResult& oracle = task.oracleIsMain ? task.main : task.oracle;
    Outcome oracleOutcome;
    QString oracleDetail;
    // Only the first page is compared: an oracle that decoded it will do,
    // even when a later page of it failed.
    if (Abnormal(oracle, "result", oracleOutcome, oracleDetail) || !oracle.lines.contains(QLatin1String("raw"))) {
        r.oracleUnreadable = true;
        r.detail += QStringLiteral("; oracle %1 not decodable: %2")
                        .arg(entry.oracle, oracleDetail.isEmpty() ? oracle.Value("error") : oracleDetail);
        return r;
    }
    if (oracle.Value("result") != QLatin1String("read"))
        r.detail += QStringLiteral("; oracle %1 decodes the first page only (%2)").arg(entry.oracle, oracle.Value("error"));
    const QSize ours = RawSize(task.main);
    const QSize theirs = RawSize(oracle);
    if (ours != theirs) {
        r.outcome = OutcomeMismatch;
        r.problem = true;
        r.detail = QStringLiteral("size %1x%2, oracle %3 %4x%5")
                       .arg(ours.width()).arg(ours.height()).arg(entry.oracle).arg(theirs.width()).arg(theirs.height());
        return r;
    }
    double mad = 0;
    if (!MeanAbsoluteDifference(task.main, oracle, mad)) {
        r.oracleUnreadable = true;
        r.detail += QStringLiteral("; the decoded pages could not be compared");
        return r;
    }
    if (mad <= entry.tolerance) {
        r.outcome = OutcomeMatch;
        if (mad > 0)
            r.detail += QStringLiteral("; MAD %1").arg(FormatMad(mad));
        return r;
    }
    r.outcome = OutcomeMismatch;
    r.problem = true;
    r.detail = QStringLiteral("MAD %1 > %2 against %3 (%4)")
                   .arg(FormatMad(mad), QString::number(entry.tolerance), entry.oracle, PagesSummary(task.main));
    return r;
}

QString CleanPath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

FileResult JudgeConvert(const Entry& entry, const Task& task)
{
    FileResult r;
    r.done = true;
    r.peakMB = task.main.peakMB;
    r.seconds = task.main.seconds;
    QSet<QString> reported;
    for (const QString& target : task.main.Values("target"))
        reported.insert(CleanPath(target));
    QStringList behind;
    QDirIterator it(SweepTargetFolder(task.main.folder), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!reported.contains(CleanPath(path)))
            behind << QFileInfo(path).fileName();
    }
    r.leftBehind = behind.size();
    const QString behindNote = behind.isEmpty() ? QString()
                                                : QStringLiteral("; left behind: ") + behind.join(QStringLiteral(", "));

    if (Abnormal(task.main, "state", r.outcome, r.detail)) {
        r.problem = true;
        r.detail += behindNote;
        return r;
    }
    const QString state = task.main.Value("state");
    if (state != QLatin1String("succeeded")) {
        r.outcome = OutcomeFailed;
        r.detail = state == QLatin1String("canceled") ? QStringLiteral("state canceled") : QStringLiteral("state failed");
        r.problem = !entry.damaged || OracleReads(task) || r.leftBehind > 0;
        r.detail += OracleNote(entry, task) + behindNote;
        return r;
    }
    r.outcome = OutcomeSucceeded;
    const QStringList targets = task.main.Values("target");
    r.detail = QStringLiteral("%1 target(s)").arg(targets.size());
    QStringList unreadable;
    for (int i = 0; i < task.identify.size(); ++i) {
        const RunResult& run = task.identify.at(i);
        if (run.Ended())
            continue;
        const QString target = task.identified.value(i);
        const QString name = QFileInfo(target).fileName();
        QString why = run.timedOut ? QStringLiteral("identify hung") : run.lastError;
        why.replace(target, name);
        unreadable << QStringLiteral("%1 (%2)").arg(name, why);
    }
    if (entry.damaged) {
        r.wrongSuccess = true;
        r.detail += QStringLiteral("; marked damaged");
    }
    if (!unreadable.isEmpty()) {
        r.wrongSuccess = true;
        r.detail += QStringLiteral("; identify cannot read ") + unreadable.join(QStringLiteral(", "));
    }
    if (targets.isEmpty()) {
        r.wrongSuccess = true;
        r.detail += QStringLiteral("; no target reported");
    }
    r.problem = r.wrongSuccess || r.leftBehind > 0;
    r.detail += behindNote;
    return r;
}

// ----- the report -------------------------------------------------------------

struct Row
{
    int files = 0;
    int read = 0, match = 0, mismatch = 0, failed = 0, crashed = 0, hung = 0;
    int succeeded = 0, wrong = 0, leftBehind = 0;
    double peakMB = 0;

    void Add(const FileResult& r)
    {
        ++files;
        switch (r.outcome) {
        case OutcomeRead: ++read; break;
        case OutcomeMatch: ++read; ++match; break;
        case OutcomeMismatch: ++read; ++mismatch; break;
        case OutcomeFailed: ++failed; break;
        case OutcomeCrashed: ++crashed; break;
        case OutcomeHung: ++hung; break;
        case OutcomeSucceeded: ++succeeded; break;
        }
        if (r.wrongSuccess)
            ++wrong;
        leftBehind += r.leftBehind;
        peakMB = qMax(peakMB, r.peakMB);
    }
};

void PrintTable(const QList<Entry>& entries, const QList<FileResult>& results, bool convert)
{
    QMap<QString, Row> rows;
    Row total;
    for (int i = 0; i < entries.size(); ++i) {
        if (!results.at(i).done)
            continue;
        rows[entries.at(i).format].Add(results.at(i));
        total.Add(results.at(i));
    }
    int width = 6;
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        width = qMax(width, it.key().size());
    const auto peak = [](double mb) { return QStringLiteral("%1").arg(mb, 7, 'f', 0); };
    const QByteArray name = QByteArray("format").leftJustified(width);
    if (convert)
        std::printf("%s  files  succeeded  failed  crashed  hung  wrong successes  files left behind  peak MB\n",
                    name.constData());
    else
        std::printf("%s  files  read  match oracle  mismatch  failed (clean)  crashed  hung  peak MB\n",
                    name.constData());
    const auto line = [&](const QString& format, const Row& row) {
        const QByteArray label = format.toUtf8().leftJustified(width);
        if (convert)
            std::printf("%s  %5d  %9d  %6d  %7d  %4d  %15d  %17d  %s\n", label.constData(), row.files,
                        row.succeeded, row.failed, row.crashed, row.hung, row.wrong, row.leftBehind,
                        qPrintable(peak(row.peakMB)));
        else
            std::printf("%s  %5d  %4d  %12d  %8d  %14d  %7d  %4d  %s\n", label.constData(), row.files, row.read,
                        row.match, row.mismatch, row.failed, row.crashed, row.hung, qPrintable(peak(row.peakMB)));
    };
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        line(it.key(), it.value());
    line(QStringLiteral("total"), total);
}

void PrintFileLine(const Entry& entry, const FileResult& r, bool figures = false)
{
    const QString extra = figures ? QStringLiteral("  [%1 MB, %2 s]").arg(r.peakMB, 0, 'f', 0).arg(r.seconds, 0, 'f', 1)
                                  : QString();
    std::printf("  %s  %s  %s%s\n", qPrintable(entry.file), OutcomeName(r.outcome), qPrintable(r.detail),
                qPrintable(extra));
}

// ----- the sweep --------------------------------------------------------------

class Sweep
{
public:
    Sweep(const Options& options, const QList<Entry>& entries, const QString& workRoot)
        : options(options), entries(entries), workRoot(workRoot),
          runner(options.jobs, options.timeoutSeconds, options.memoryMB),
          identify(options.convert ? QStandardPaths::findExecutable(QStringLiteral("identify")) : QString())
    {
        results.reserve(entries.size());
        for (int i = 0; i < entries.size(); ++i)
            results << FileResult();
    }

    bool HasIdentify() const { return !identify.isEmpty(); }
    const QList<FileResult>& Results() const { return results; }

    // Answers false when interrupted.
    bool Run()
    {
        const bool progress = isatty(STDERR_FILENO);
        int next = 0;
        int finished = 0;
        while (!interrupted) {
            while (runner.HasRoom()) {
                if (runner.HasQueued()) {
                    runner.StartQueued();
                } else if (next < entries.size()) {
                    Admit(next++);
                } else {
                    break;
                }
            }
            if (runner.Idle() && next >= entries.size())
                break;
            Launch launch;
            RunResult result;
            if (!runner.TakeFailedStart(launch, result))
                launch = runner.Reap(result);
            if (!launch.task)
                continue;
            if (Finished(launch, result)) {
                ++finished;
                if (progress)
                    std::fprintf(stderr, "\r%d/%d files", finished, int(entries.size()));
            }
        }
        if (progress)
            std::fprintf(stderr, "\r%*s\r", 30, "");
        if (interrupted) {
            runner.KillAll();
            return false;
        }
        return true;
    }

private:
    QStringList WorkerArguments(const QString& file, const QString& folder, bool qtOnly, bool convert) const
    {
        QStringList argv{QCoreApplication::applicationFilePath(), QLatin1String(SweepWorkerArgument()), file,
                         QStringLiteral("--work"), folder, QStringLiteral("--mode"),
                         convert ? QStringLiteral("convert") : QStringLiteral("read")};
        if (qtOnly)
            argv << QStringLiteral("--qt-only");
        if (convert) {
            argv << QStringLiteral("--to") << options.to;
            if (options.keepMetadata)
                argv << QStringLiteral("--keep-metadata");
        }
        return argv;
    }

    void Admit(int index)
    {
        const Entry& entry = entries.at(index);
        auto task = std::make_unique<Task>();
        task->entry = index;
        task->root = QStringLiteral("%1/%2").arg(workRoot).arg(index, 5, 10, QLatin1Char('0'));
        Launch main;
        main.task = task.get();
        main.slot = 0;
        main.folder = task->root + QStringLiteral("/main");
        main.argv = WorkerArguments(entry.path, main.folder, options.qtOnly, options.convert);
        runner.Enqueue(main, false);
        task->pending = 1;
        // A conversion is not compared with anything, but whether a damaged
        // file's oracle decodes tells if failing it is right.
        if (!entry.oracle.isEmpty() && (!options.convert || entry.damaged)) {
            task->hasOracle = true;
            const bool sameFile = entry.oracle == QLatin1String("stock-qt");
            if (sameFile && options.qtOnly && !options.convert) {
                task->oracleIsMain = true;
            } else {
                Launch oracle;
                oracle.task = task.get();
                oracle.slot = 1;
                oracle.folder = task->root + QStringLiteral("/oracle");
                oracle.argv = WorkerArguments(sameFile ? entry.path : entry.reference, oracle.folder, true, false);
                runner.Enqueue(oracle, false);
                ++task->pending;
            }
        }
        tasks.emplace(task.get(), std::move(task));
    }

    // Files a worker's result with its task; answers true when the task is done.
    bool Finished(const Launch& launch, const RunResult& result)
    {
        Task* task = launch.task;
        if (launch.slot == 0)
            task->main = result;
        else if (launch.slot == 1)
            task->oracle = result;
        else
            task->identify[launch.slot - 2] = result;
        --task->pending;

        // Every target the engine reports is given to ImageMagick's identify.
        if (launch.slot == 0 && options.convert && HasIdentify()
            && result.Ended() && result.Value("state") == QLatin1String("succeeded")) {
            const QStringList targets = result.Values("target");
            for (int i = 0; i < targets.size(); ++i) {
                Launch check;
                check.task = task;
                check.slot = 2 + i;
                check.folder = QStringLiteral("%1/identify%2").arg(task->root).arg(i);
                check.argv = QStringList{identify, targets.at(i)};
                check.limited = false;
                task->identified << targets.at(i);
                task->identify << RunResult();
                runner.Enqueue(check, true);
                ++task->pending;
            }
        }
        if (task->pending > 0)
            return false;

        const Entry& entry = entries.at(task->entry);
        FileResult& r = results[task->entry];
        r = options.convert ? JudgeConvert(entry, *task) : JudgeRead(entry, *task);
        QDir(task->root).removeRecursively();
        tasks.erase(task);
        return true;
    }

    const Options& options;
    const QList<Entry>& entries;
    const QString workRoot;
    Runner runner;
    const QString identify;
    QList<FileResult> results;
    std::map<Task*, std::unique_ptr<Task>> tasks;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], SweepWorkerArgument()) == 0)
        return RunSweepWorker(argc, argv);

    qInstallMessageHandler(DiscardMessageHandler);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        PrintUsage();
        return 0;
    }
    Options options;
    QString error;
    if (!ParseOptions(args, options, error)) {
        std::fprintf(stderr, "corpussweep: %s\n", qPrintable(error));
        PrintUsage();
        return 2;
    }

    QCoreApplication app(argc, argv);
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/corpussweep-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "corpussweep: cannot make a temporary folder\n");
        return 2;
    }
    // Never the user's settings store; every worker also makes its own.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path() + QStringLiteral("/config")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::signal(SIGPIPE, SIG_IGN);

    int skipped = 0;
    const QList<Entry> entries = LoadIndex(options.folder, options.only, skipped);
    const bool indexed = QFileInfo::exists(QDir(options.folder).filePath(QStringLiteral("index.tsv")));

    std::printf("corpussweep %s: %d files of %s%s\n",
                options.convert ? qPrintable(QStringLiteral("convert to %1%2").arg(options.to,
                                      options.keepMetadata ? QStringLiteral(" keeping metadata") : QString()))
                                : "read",
                int(entries.size()), qPrintable(options.folder),
                indexed ? "" : qPrintable(QStringLiteral(" (no index.tsv: no oracles; %1 files of unknown extension skipped)")
                                              .arg(skipped)));
    std::printf("plugins: %s; %d at once, %d s and %d MB per worker\n",
                options.qtOnly ? "Qt's own plugin folder only (--qt-only)"
                               : "the program's (its folder first, switches on)",
                options.jobs, options.timeoutSeconds, options.memoryMB);
    if (!options.only.isEmpty())
        std::printf("only: %s\n", qPrintable(options.only.join(QStringLiteral(", "))));
    if (options.list)
        std::printf("\n");
    std::fflush(stdout);

    QElapsedTimer timer;
    timer.start();
    Sweep sweep(options, entries, work.path());
    const bool complete = sweep.Run();
    const double seconds = timer.elapsed() / 1000.0;
    const QList<FileResult>& results = sweep.Results();

    if (options.list) {
        for (int i = 0; i < entries.size(); ++i)
            if (results.at(i).done)
                PrintFileLine(entries.at(i), results.at(i), true);
    }
    std::printf("\n");
    PrintTable(entries, results, options.convert);
    int done = 0;
    for (const FileResult& r : results)
        done += r.done ? 1 : 0;
    std::printf("\n%d files in %.1f s%s\n", done, seconds, complete ? "" : " (interrupted: the rest were not swept)");
    if (options.convert && !sweep.HasIdentify())
        std::printf("ImageMagick's identify is not installed: only damaged files count as wrong successes.\n");

    const auto section = [&](const char* title, const std::function<bool(const FileResult&)>& pick) {
        QList<int> picked;
        for (int i = 0; i < entries.size(); ++i)
            if (results.at(i).done && pick(results.at(i)))
                picked << i;
        if (picked.isEmpty())
            return;
        std::printf("\n%s (%d):\n", title, int(picked.size()));
        for (int i : picked)
            PrintFileLine(entries.at(i), results.at(i));
    };
    section("Problem files", [](const FileResult& r) { return r.problem; });
    if (!options.convert) {
        section("Read although damaged (information)", [](const FileResult& r) { return r.readDamaged; });
        section("Oracle could not be decoded (information)", [](const FileResult& r) { return r.oracleUnreadable; });
    }
    std::fflush(stdout);
    return 0;
}
