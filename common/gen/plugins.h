// Plugin switches and the credits of the libraries behind the format plugins.
#ifndef PLM_GEN_PLUGINS_H
#define PLM_GEN_PLUGINS_H

#include <QString>

// Rebuilds the credits text and writes the "FreeImage", "Xpdf" and "Ithmb"
// switches (all true) into the "Pelmora"/"Plugins" store.
void PLMInitPlugins();

void ClearCredits();
void AppendCredits(const QString& notice);
// The process-wide credits text (rich text); read by the credits dialog.
const QString& PLMCredits();

// The notices appended by PLMInitPlugins.
QString PLMFreeImageNotice();
QString PLMHeifNotice();
QString PLMAvifNotice();
QString PLMJxlNotice();
QString PLMXpdfNotice();

#endif
