// One-time set-up of the libraries behind the plugin and the routing of their
// messages. Safe to call from any thread, as often as wanted.
#ifndef KORVANE_FI_LIBRARY_H
#define KORVANE_FI_LIBRARY_H

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcKorvaneFi)

namespace FiLibrary {

// Initialises FreeImage (with its message handler) and Exiv2 (silenced, XMP
// parser initialised with a lock) exactly once per process.
void Ensure();

// The last message FreeImage reported on this thread, cleared by TakeMessage.
QString TakeMessage();

} // namespace FiLibrary

#endif
