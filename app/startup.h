// Process start-up pieces that main() strings together.
#ifndef KORVANE_STARTUP_H
#define KORVANE_STARTUP_H

#include <QString>
#include <QtGlobal>

// The installed message handler: every message is discarded.
void DiscardMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// The folder that holds the program's own "imageformats" plugin folder, found
// from the running executable: the executable's folder in the build tree, or
// <libdir>/korvane/plugins when installed. Empty when neither exists.
QString ProgramPluginFolder();

// Puts ProgramPluginFolder() first in Qt's library paths, so the program's own
// format plugins win over Qt's installed ones. Call before the application
// object exists. Answers the folder it added (empty when none).
QString PrependProgramPluginFolder();

// Reads and re-arms the clean-exit flag; true when the crash report is due.
bool LastRunCrashed();
void SetReportCrash(bool report);

#endif
