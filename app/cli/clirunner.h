// One korvane-convert batch: the window's per-file worker mapped over the
// sources on Qt's global thread pool, each result reported as it arrives.
#ifndef KORVANE_CLIRUNNER_H
#define KORVANE_CLIRUNNER_H

#include "convertsettings.h"

#include <QStringList>

// Converts sources with settings and answers the exit status: 0 when every
// source succeeded, 1 when some failed (or the results could not be written
// to a closed standard output), 128 + the signal when a signal canceled the
// batch. With json, one result object per source goes to standard output.
int RunCliBatch(const ConvertSettings& settings, const QStringList& sources, bool json);

#endif
