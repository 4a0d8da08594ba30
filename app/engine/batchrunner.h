// One conversion batch: the jobs mapped over ThreadFunction on Qt's global
// thread pool under a modal progress dialog.
#ifndef KORVANE_BATCHRUNNER_H
#define KORVANE_BATCHRUNNER_H

#include "convertcancel.h"
#include "imageconvertthread.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QList>
#include <QProgressDialog>
#include <QTimer>

#include <memory>

// How the window's convert slot uses it (the watcher's "resultReadyAt(int)"
// stays connected to the window's result slot for good):
//
//     ConvertBatchRunner batch(lSelSrcFiles.size());
//     lConvertData = ...;              // srcFile, &convertSettings, srcRow, state 2
//     batch.Start(lConvertData, convertWatcher);
//     ...                              // no event processing between Start and Exec
//     batch.Exec();                    // returns when every worker has returned
//     UpdateTgtList(); ...
//
// Start() points every job at the dialog, the batch's cancel flag and its
// progress record. Cancel (the button, Escape, closing the dialog) sets the
// flag, which the workers poll at their check points: jobs that have not
// started return at once, running ones stop at their next check and leave no
// file, and a job that got past its last check finishes. Every job delivers
// its result, so what the window counts is what is on disk. Until the last
// worker has returned the dialog stays up, saying it is canceling, and the
// GUI thread keeps processing events.
class ConvertBatchRunner
{
public:
    // The dialog: no parent, range 0 to jobCount (a busy bar for one job, whose
    // progress cannot be counted in files), at least 400 × 100, "Converting...".
    explicit ConvertBatchRunner(int jobCount);
    // Cancels and waits for a batch that is still running.
    ~ConvertBatchRunner();

    ConvertBatchRunner(const ConvertBatchRunner&) = delete;
    ConvertBatchRunner& operator=(const ConvertBatchRunner&) = delete;

    QProgressDialog* Dialog() { return &dialog; }
    const ConvertCancelFlag* CancelFlag() const { return &cancelFlag; }
    bool WasCanceled() const { return cancelFlag.IsCanceled(); }

    // Fills in progressDlg, cancelFlag, progress and the batch's target names
    // of every job, connects the watcher and the dialog, and starts
    // QtConcurrent::mapped(jobs, ThreadFunction).
    void Start(QList<ImageConvertData>& jobs, QFutureWatcher<ItemConvertResult>& watcher);

    // Runs the dialog's modal loop until every worker has returned, then
    // delivers queued results.
    void Exec();

private:
    void Cancel();
    void UpdateLabel();

    QProgressDialog dialog;
    ConvertCancelFlag cancelFlag;
    ConvertProgress progress;
    std::unique_ptr<BatchTargets> targets;
    QTimer labelTimer;
    QElapsedTimer elapsed;
    int jobs = 0;
    QFutureWatcher<ItemConvertResult>* watcher = nullptr;
};

#endif
