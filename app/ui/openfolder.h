// Opens a folder in the desktop's file manager, or says why it could not.
#ifndef KORVANE_OPENFOLDER_H
#define KORVANE_OPENFOLDER_H

#include <QString>

class QWidget;

// Answers whether the desktop took the folder. When it did not (no file
// manager is installed, for one), a message box names the folder.
bool OpenFolder(const QString& folder, QWidget* parent);

#endif
