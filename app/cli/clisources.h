// The sources a korvane-convert run converts, from the paths it was given.
#ifndef KORVANE_CLISOURCES_H
#define KORVANE_CLISOURCES_H

#include <QStringList>

// Every path as a clean absolute path, each once, in the order given; a
// folder contributes what "Add Folder" would add when recursive is set, and
// is an error otherwise (false, with why). A path that does not exist is kept:
// its conversion fails and says so.
bool CollectSources(const QStringList& paths, bool recursive, QStringList& sources, QString& error);

#endif
