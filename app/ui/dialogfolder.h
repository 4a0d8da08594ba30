// Where a file dialog opens.
#ifndef KORVANE_DIALOGFOLDER_H
#define KORVANE_DIALOGFOLDER_H

#include <QString>

// The folder a file dialog opens in: the stored one while it still exists,
// else the user's pictures folder, else the home folder. Qt's dialog shows a
// missing folder as a file name to open, which puzzles a new user.
QString DialogStartFolder(const QString& stored);

#endif
