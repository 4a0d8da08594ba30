#include "clirunner.h"

#include "cliprogress.h"
#include "clireport.h"
#include "clisignals.h"
#include "convertcancel.h"
#include "imageconvertthread.h"
#include "targetnames.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QTimer>
#include <QVector>
#include <QtConcurrent>

#include <cstdio>
#include <unistd.h>

int RunCliBatch(const ConvertSettings& settings, const QStringList& sources, bool json)
{
    // What the window's batch runner gives its jobs, without the dialog.
    ConvertCancelFlag cancelFlag;
    ConvertProgress started;
    BatchTargets targets(sources);
    QList<ImageConvertData> jobs;
    for (const QString& source : sources) {
        ImageConvertData job;
        job.srcFile = source;
        job.settings = &settings;
        job.cancelFlag = &cancelFlag;
        job.progress = &started;
        job.batchTargets = &targets;
        jobs << job;
    }
    CancelOnSignals(&cancelFlag);

    CliProgress line(sources.size());
    QVector<bool> reported(sources.size(), false);
    int counts[3] = {0, 0, 0};      // by ConvertState
    int done = 0;
    bool outputClosed = false;
    const bool jsonOnTerminal = ::isatty(STDOUT_FILENO) == 1;
    const auto report = [&](int index, const ItemConvertResult& result) {
        if (index < 0 || index >= reported.size() || reported.at(index))
            return;
        reported[index] = true;
        ++done;
        ++counts[result.state == ConvertSucceeded ? 0 : result.state == ConvertFailed ? 1 : 2];
        if (result.state == ConvertFailed) {
            line.Clear();
            std::fputs(FailureLine(sources.at(index), result).toLocal8Bit().constData(), stderr);
            std::fflush(stderr);
        }
        if (json && !outputClosed) {
            // On the same terminal the progress line makes room for the result.
            if (jsonOnTerminal)
                line.Clear();
            const QByteArray object = ResultJson(sources.at(index), result);
            // Whoever reads the results has gone: nothing is left to report to.
            if (std::fwrite(object.constData(), 1, size_t(object.size()), stdout) != size_t(object.size())
                || std::fflush(stdout) != 0) {
                outputClosed = true;
                cancelFlag.Cancel();
            }
        }
    };

    QFutureWatcher<ItemConvertResult> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::resultReadyAt, &loop,
                     [&](int index) { report(index, watcher.resultAt(index)); });
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        QString newest;
        started.StartedCount(&newest);
        line.Show(done, newest, cancelFlag.IsCanceled());
    });
    if (line.IsShown())
        tick.start(200);
    // The future itself is never canceled: a canceled job returns at once
    // and still reports, so every source gets its result.
    watcher.setFuture(QtConcurrent::mapped(jobs, ThreadFunction));
    loop.exec();
    watcher.waitForFinished();
    tick.stop();
    for (int i = 0; i < sources.size(); ++i)
        report(i, watcher.future().resultAt(i));
    line.Finish(counts[0], counts[1], counts[2]);

    if (const int signal = CancelSignal())
        return 128 + signal;
    return counts[1] > 0 || counts[2] > 0 || outputClosed ? 1 : 0;
}
