// What korvane-convert tells about each source: a JSON line on standard
// output for other programs, and a line on standard error for a failure.
#ifndef KORVANE_CLIREPORT_H
#define KORVANE_CLIREPORT_H

#include "imageconvertthread.h"

#include <QByteArray>

// "succeeded", "failed" or "canceled".
QString StateName(ConvertState state);

// One line: {"error":…,"source":…,"state":…,"targets":[…]} and a newline.
QByteArray ResultJson(const QString& source, const ItemConvertResult& result);

// "korvane-convert: SOURCE: REASON" and a newline.
QString FailureLine(const QString& source, const ItemConvertResult& result);

#endif
