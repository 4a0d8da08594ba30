// Gathers several icon files into one: Qt's own icon writer (used when the
// general plugin is switched off) stores one picture per file.
#ifndef KORVANE_ICOJOIN_H
#define KORVANE_ICOJOIN_H

#include <QByteArray>
#include <QList>

// The entries of all parts, in order, in one icon directory. False when a
// part is no icon file or the entries do not fit one directory.
bool JoinIcons(const QList<QByteArray>& parts, QByteArray& icon);

#endif
