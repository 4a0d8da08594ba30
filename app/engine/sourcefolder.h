// The files a source folder contributes: what "Add Folder" adds, and what the
// command line's -r walks.
#ifndef KORVANE_SOURCEFOLDER_H
#define KORVANE_SOURCEFOLDER_H

#include <QStringList>

// Every regular file below folder (subfolders too, links to folders not
// followed) whose name holds a dot, whatever its format, in the order the
// file system lists them.
QStringList SourceFolderFiles(const QString& folder);

#endif
