// One conversion batch: the jobs mapped over ThreadFunction on Qt's global
// thread pool under a modal progress dialog.
#ifndef KORVANE_BATCHRUNNER_H
#define KORVANE_BATCHRUNNER_H

#include "convertcancel.h"
#include "imageconvertthread.h"

#include <QFutureWatcher>
#include <QList>
#include <QProgressDialog>

// How the window's convert slot uses it (the watcher's "resultReadyAt(int)"
// stays connected to the window's result slot for good):
//
//     ConvertBatchRunner batch(lSelSrcFiles.size());
//     connect(batch.Dialog(), SIGNAL(canceled()), this, SLOT(ConvertCanceled()));
//     lConvertData = ...;              // srcFile, &convertSettings, srcRow, state 2
//     batch.Start(lConvertData, convertWatcher);
//     ...                              // no event processing between Start and Exec
//     batch.Exec();                    // returns when every worker has returned
//     UpdateTgtList(); ...
//
// Start() points every job at the dialog and at the batch's cancel flag. The
// dialog's "canceled()" sets the flag, which the workers poll at their check
// points, and cancels the watcher's future, so jobs that have not started never
// run. Results that arrive after a cancel are dropped by the future.
class ConvertBatchRunner
{
public:
    // The dialog: no parent, range 0 to jobCount, at least 400 × 100, "Converting...".
    explicit ConvertBatchRunner(int jobCount);
    // Cancels and waits for a batch that is still running.
    ~ConvertBatchRunner();

    ConvertBatchRunner(const ConvertBatchRunner&) = delete;
    ConvertBatchRunner& operator=(const ConvertBatchRunner&) = delete;

    QProgressDialog* Dialog() { return &dialog; }
    const ConvertCancelFlag* CancelFlag() const { return &cancelFlag; }

    // Fills in progressDlg and cancelFlag of every job, connects the watcher and
    // the dialog, and starts QtConcurrent::mapped(jobs, ThreadFunction).
    void Start(QList<ImageConvertData>& jobs, QFutureWatcher<ItemConvertResult>& watcher);

    // Runs the dialog's modal loop until the batch finishes or is canceled,
    // waits for the workers still running, then delivers queued results.
    void Exec();

private:
    QProgressDialog dialog;
    ConvertCancelFlag cancelFlag;
    QFutureWatcher<ItemConvertResult>* watcher = nullptr;
};

#endif
