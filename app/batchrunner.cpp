#include "batchrunner.h"

#include <QCoreApplication>
#include <QDebug>
#include <QtConcurrent>

ConvertBatchRunner::ConvertBatchRunner(int jobCount)
{
    dialog.setMinimum(0);
    dialog.setMaximum(jobCount);
    dialog.setMinimumSize(400, 100);
    dialog.setLabelText(QCoreApplication::translate("ConvertBatchRunner", "Converting..."));
    // First of the dialog's receivers, so workers see the cancel at once.
    QObject::connect(&dialog, SIGNAL(canceled()), &cancelFlag, SLOT(Cancel()));
}

ConvertBatchRunner::~ConvertBatchRunner()
{
    if (watcher && !watcher->isFinished()) {
        cancelFlag.Cancel();
        watcher->cancel();
        watcher->waitForFinished();
    }
}

void ConvertBatchRunner::Start(QList<ImageConvertData>& jobs, QFutureWatcher<ItemConvertResult>& futureWatcher)
{
    qDebug() << "ConvertBatchRunner::Start";
    watcher = &futureWatcher;
    for (ImageConvertData& job : jobs) {
        job.progressDlg = &dialog;
        job.cancelFlag = &cancelFlag;
    }
    QObject::connect(watcher, SIGNAL(progressValueChanged(int)), &dialog, SLOT(setValue(int)));
    QObject::connect(watcher, SIGNAL(finished()), &dialog, SLOT(reset()));
    QObject::connect(&dialog, SIGNAL(canceled()), watcher, SLOT(cancel()));
    watcher->setFuture(QtConcurrent::mapped(jobs, ThreadFunction));
}

void ConvertBatchRunner::Exec()
{
    if (!watcher)
        return;
    // The finished signal is delivered by the event loop, so a batch that ended
    // before the loop starts still closes the dialog from inside it.
    if (!watcher->isFinished())
        dialog.exec();
    watcher->waitForFinished();
    QCoreApplication::processEvents();
}
