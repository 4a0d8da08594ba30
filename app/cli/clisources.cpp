#include "clisources.h"

#include "sourcefolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

bool CollectSources(const QStringList& paths, bool recursive, QStringList& sources, QString& error)
{
    sources.clear();
    QSet<QString> seen;
    const auto add = [&](const QString& path) {
        const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        if (!seen.contains(clean)) {
            seen.insert(clean);
            sources << clean;
        }
    };
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            add(path);
            continue;
        }
        if (!recursive) {
            error = QCoreApplication::translate("CliSources", "%1 is a folder: give -r to convert what it holds")
                        .arg(QDir::toNativeSeparators(path));
            return false;
        }
        for (const QString& file : SourceFolderFiles(path))
            add(file);
    }
    return true;
}
