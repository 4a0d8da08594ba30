// Conversion jobs, their results, the per-file worker and the page writer.
#ifndef KORVANE_IMAGECONVERTTHREAD_H
#define KORVANE_IMAGECONVERTTHREAD_H

#include "convertcancel.h"
#include "convertsettings.h"
#include "targetnames.h"

#include <QMetaType>
#include <QStringList>

class QImage;
class QImageWriter;
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

// The most decoded pixel memory one picture may take: 1 GiB, and no more
// than the machine's memory shared among the pool's threads. A source whose
// declared size is larger fails before it is decoded.
qint64 DecodeBudget();

// Converts one source into its target files; runs on a pool thread. Reads the
// job, its options record and its cancel flag; writes only files.
ItemConvertResult ThreadFunction(const ImageConvertData& job);

namespace ImageConvert {

// Writes one page: the edits, the per-format writer options, the resolution and
// the packed metadata, then the image. The file is written to a temporary file
// beside the target and moved into place only when complete, so a failed or
// canceled write leaves neither a partial target nor a damaged existing one.
// Answers ConvertSucceeded, ConvertFailed or ConvertCanceled.
ConvertState ConvertPage(QImage& pageImage, const QString& tgtFilePath, PLMImageCodecID srcCodecID,
                         const QString& mdKeys, const QString& mdValues, const ConvertSettings& settings,
                         const ConvertCancelFlag* cancel);

// Writes the icon sizes selected in icoDims (bits 32 256×256, 16 128×128,
// 8 64×64, 4 48×48, 2 32×32, 1 16×16), largest first, as one icon file on the
// writer's device. Each size is encoded with the writer's format; the entries
// are then gathered into one icon directory (Qt's icon writer stores one image
// per write). Stops at the first size that fails. No bit set: nothing written.
ConvertState ConvertToICO(QImage& image, QImageWriter& writer, int icoDims);

} // namespace ImageConvert

#endif
