// Conversion jobs, their results and the per-file worker.
#ifndef KORVANE_IMAGECONVERTTHREAD_H
#define KORVANE_IMAGECONVERTTHREAD_H

#include "convertsettings.h"

#include <QMetaType>
#include <QStringList>

class QProgressDialog;

// One job per selected source; copied by value into the pool.
struct ImageConvertData
{
    QString srcFile;
    const ConvertSettings* settings = nullptr;
    QProgressDialog* progressDlg = nullptr;
    int srcRow = -1;
    ConvertState state = ConvertCanceled;
};

struct ItemConvertResult
{
    ConvertState state = ConvertCanceled;
    QStringList tgtFiles;   // files written, in page order, even when the job stopped early
};

Q_DECLARE_METATYPE(ItemConvertResult)

// Converts one source into its target files; runs on a pool thread.
ItemConvertResult ThreadFunction(const ImageConvertData& data);

#endif
