#include "dialogfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DialogStartFolder(const QString& stored)
{
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return pictures;
    return QDir::homePath();
}
