#include "batchrunner.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QPushButton>
#include <QtConcurrent>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("ConvertBatchRunner", text);
}

QString ElapsedText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2").arg((seconds / 60) % 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return minutesAndSeconds;
    return QStringLiteral("%1:%2").arg(seconds / 3600).arg(minutesAndSeconds.rightJustified(5, QLatin1Char('0')));
}

} // namespace

ConvertBatchRunner::ConvertBatchRunner(int jobCount)
    : jobs(jobCount)
{
    dialog.setMinimum(0);
    dialog.setMaximum(jobCount == 1 ? 0 : jobCount);
    dialog.setMinimumSize(400, 100);
    dialog.setLabelText(Tr("Converting..."));
    // The dialog stays up after a cancel, until the workers have returned.
    QObject::disconnect(&dialog, SIGNAL(canceled()), &dialog, SLOT(cancel()));
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [this] { Cancel(); });
    labelTimer.setInterval(250);
    QObject::connect(&labelTimer, &QTimer::timeout, &dialog, [this] { UpdateLabel(); });
}

ConvertBatchRunner::~ConvertBatchRunner()
{
    if (watcher && !watcher->isFinished()) {
        cancelFlag.Cancel();
        watcher->waitForFinished();
    }
}

void ConvertBatchRunner::Start(QList<ImageConvertData>& jobList, QFutureWatcher<ItemConvertResult>& futureWatcher)
{
    qDebug() << "ConvertBatchRunner::Start";
    watcher = &futureWatcher;
    QStringList sources;
    for (const ImageConvertData& job : qAsConst(jobList))
        sources << job.srcFile;
    targets.reset(new BatchTargets(sources));
    for (ImageConvertData& job : jobList) {
        job.batchTargets = targets.get();
        job.progressDlg = &dialog;
        job.cancelFlag = &cancelFlag;
        job.progress = &progress;
    }
    if (dialog.maximum() > 0)
        QObject::connect(watcher, SIGNAL(progressValueChanged(int)), &dialog, SLOT(setValue(int)));
    QObject::connect(watcher, SIGNAL(finished()), &dialog, SLOT(reset()));
    elapsed.start();
    labelTimer.start();
    watcher->setFuture(QtConcurrent::mapped(jobList, ThreadFunction));
}

void ConvertBatchRunner::Exec()
{
    if (!watcher)
        return;
    // The finished signal is delivered by the event loop, so a batch that ended
    // before the loop starts still closes the dialog from inside it. Escape or
    // closing the window ends exec() early: that is a cancel too, and the
    // dialog comes back until the workers are done.
    while (!watcher->isFinished()) {
        dialog.exec();
        if (!watcher->isFinished())
            Cancel();
    }
    labelTimer.stop();
    watcher->waitForFinished();
    QCoreApplication::processEvents();
    QObject::disconnect(watcher, nullptr, &dialog, nullptr);
}

void ConvertBatchRunner::Cancel()
{
    if (cancelFlag.IsCanceled())
        return;
    qDebug() << "ConvertBatchRunner::Cancel";
    cancelFlag.Cancel();
    if (QPushButton* button = dialog.findChild<QPushButton*>())
        button->setEnabled(false);
    UpdateLabel();
}

void ConvertBatchRunner::UpdateLabel()
{
    const QString time = Tr("Elapsed time: %1").arg(ElapsedText(elapsed.elapsed()));
    if (cancelFlag.IsCanceled()) {
        dialog.setLabelText(Tr("Canceling...") + QLatin1Char('\n') + time);
        return;
    }
    QString newest;
    const int started = progress.StartedCount(&newest);
    if (started == 0)
        return;
    dialog.setLabelText(Tr("Converting %1 of %2: %3").arg(started).arg(jobs).arg(QFileInfo(newest).fileName())
                        + QLatin1Char('\n') + time);
}
