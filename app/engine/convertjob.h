// A conversion job (one source) and its result, with what the parts of a job
// share: the next target path of a page and the removal of written pages.
#ifndef KORVANE_CONVERTJOB_H
#define KORVANE_CONVERTJOB_H

#include "convertcancel.h"
#include "convertsettings.h"
#include "targetnames.h"

#include <QMetaType>
#include <QStringList>

class QProgressDialog;

// One job per selected source; copied by value into the pool. The options
// record, the dialog and the cancel flag belong to the convert operation and
// outlive the batch.
struct ImageConvertData
{
    QString srcFile;
    const ConvertSettings* settings = nullptr;
    // The batch's progress dialog. Workers never touch it: a widget's state is
    // not safe to read from the pool. They poll cancelFlag instead, which the
    // dialog's "canceled()" sets (ConvertBatchRunner wires both).
    QProgressDialog* progressDlg = nullptr;
    const ConvertCancelFlag* cancelFlag = nullptr;     // null: never canceled
    ConvertProgress* progress = nullptr;               // null: nobody watches
    BatchTargets* batchTargets = nullptr;              // null: a job on its own
    int srcRow = -1;
    ConvertState state = ConvertCanceled;
};

struct ItemConvertResult
{
    ConvertState state = ConvertCanceled;
    // Files written, in page order, even when a page after them failed. A
    // canceled job removes what it wrote and lists nothing.
    QStringList tgtFiles;
    // Pages that took a unique number instead of overwriting a source or an
    // earlier target of the batch.
    int renamed = 0;
    QString error;          // why the job failed, for the user
};

Q_DECLARE_METATYPE(ItemConvertResult)

// The target path of one page of a job (page -1: the only one). Overwrite
// never replaces a source of the running batch or a target it already wrote:
// such a page takes a number instead, counted in the result. reserved says
// whether the path was reserved in the batch (release it with
// ReservedTgtPath). False when no free name is left.
bool NextTgtPath(const ImageConvertData& job, int page, QString& tgtPath, bool& reserved, ItemConvertResult& result);

// A canceled job leaves nothing behind: the pages it already wrote go too.
void RemoveWritten(QStringList& tgtFiles);

#endif
