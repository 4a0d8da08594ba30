#include "convertjob.h"

#include <QFile>

bool NextTgtPath(const ImageConvertData& job, int page, QString& tgtPath, bool& reserved, ItemConvertResult& result)
{
    bool renamed = false;
    const bool made = MakeTgtFilePath(tgtPath, page, job.srcFile, *job.settings, job.batchTargets, &renamed);
    reserved = made && (job.settings->Exists == 0 || renamed);
    if (renamed)
        ++result.renamed;
    return made;
}

void RemoveWritten(QStringList& tgtFiles)
{
    for (const QString& path : qAsConst(tgtFiles))
        QFile::remove(path);
    tgtFiles.clear();
}
