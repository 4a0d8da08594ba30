#include "sourcefolder.h"

#include <QDirIterator>
#include <QFileInfo>

QStringList SourceFolderFiles(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QStringList(QStringLiteral("*.*")), QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        // Only regular files: a FIFO or a device named like a picture would
        // block whatever reads it.
        if (QFileInfo(path).isFile())
            files << path;
    }
    return files;
}
