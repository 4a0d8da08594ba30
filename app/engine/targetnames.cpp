#include "targetnames.h"

#include "convertsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names handed out by MakeUniqueTgtFilePath and not yet released. The disk
// test and the reservation happen under one lock, and a name is released only
// after its file was moved into place, so no two jobs can see a name as free.
QMutex& ReservedMutex()
{
    static QMutex mutex;
    return mutex;
}

QSet<QString>& ReservedNames()
{
    static QSet<QString> names;
    return names;
}

// Any directory entry, a link to nowhere included, is taken.
bool EntryExists(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

// The longest file name the folder's file system holds, in bytes.
int NameMax(const QString& folder)
{
    const long max = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return max > 0 && max < INT_MAX ? int(max) : 255;
}

// stem + tail + extension, the stem cut short (never inside a character)
// until the name fits the file system. The tail (a page or unique number)
// and the extension are kept whole.
QString FittedName(const QString& stem, const QString& tail, const QString& extension, int nameMax)
{
    QString kept = stem;
    while (!kept.isEmpty() && QFile::encodeName(kept + tail + extension).size() > nameMax) {
        kept.chop(1);
        if (!kept.isEmpty() && kept.at(kept.size() - 1).isHighSurrogate())
            kept.chop(1);
    }
    return kept + tail;
}

bool MakeUnique(QString& tgtPath, const QString& folder, const QString& stem, const QString& tail,
                const QString& extension, BatchTargets* batch)
{
    tgtPath.clear();
    const int nameMax = NameMax(folder);
    QMutexLocker locker(&ReservedMutex());
    QSet<QString>& reserved = ReservedNames();
    const auto take = [&](const QString& number) {
        const QString candidate = JoinTgtFilePath(folder, FittedName(stem, tail + number, extension, nameMax), extension);
        if (reserved.contains(candidate) || EntryExists(candidate) || (batch && !batch->Claim(candidate)))
            return false;
        reserved.insert(candidate);
        tgtPath = candidate;
        return true;
    };
    if (take(QString()))
        return true;
    for (int n = 1; n <= 9999; ++n) {
        if (take(QStringLiteral("-%1").arg(n)))
            return true;
    }
    return false;
}

} // namespace

BatchTargets::BatchTargets(const QStringList& sourceList)
{
    for (const QString& source : sourceList)
        sources.insert(EntryKey(source));
}

QString BatchTargets::EntryKey(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QDir(info.absolutePath()).canonicalPath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

bool BatchTargets::Claim(const QString& path)
{
    const QString key = EntryKey(path);
    QMutexLocker locker(&mutex);
    if (sources.contains(key) || claimed.contains(key))
        return false;
    claimed.insert(key);
    return true;
}

QString JoinTgtFilePath(const QString& folder, const QString& baseName, const QString& extension)
{
    return QFileInfo(QDir(folder), baseName + extension).absoluteFilePath();
}

bool MakeUniqueTgtFilePath(QString& tgtPath, const QString& folder, const QString& baseName,
                           const QString& extension)
{
    return MakeUnique(tgtPath, folder, baseName, QString(), extension, nullptr);
}

void ReleaseTgtFilePath(const QString& tgtPath)
{
    QMutexLocker locker(&ReservedMutex());
    ReservedNames().remove(tgtPath);
}

bool MakeTgtFilePath(QString& tgtPath, int page, const QString& srcFile, const ConvertSettings& settings,
                     BatchTargets* batch, bool* renamed)
{
    tgtPath.clear();
    const QFileInfo info(srcFile);
    const QString stem = info.completeBaseName();
    const QString tail = page >= 0 ? QStringLiteral("-page%1").arg(page + 1) : QString();
    QString folder = settings.TgtFolder;
    if (folder == QLatin1String(kSameAsSourceFile))
        folder = info.absolutePath();
    // An empty folder would silently mean the process's working directory.
    if (folder.isEmpty())
        return false;
    const QString& extension = settings.TgtFormat;
    switch (settings.Exists) {
    case 0:
        return MakeUnique(tgtPath, folder, stem, tail, extension, batch);
    case 1: {
        const QString path = JoinTgtFilePath(folder, FittedName(stem, tail, extension, NameMax(folder)), extension);
        if (!batch || batch->Claim(path)) {
            tgtPath = path;
            return true;
        }
        // A source of this batch, or one of its targets: not overwritten.
        if (renamed)
            *renamed = true;
        return MakeUnique(tgtPath, folder, stem, tail, extension, batch);
    }
    default:
        return false;
    }
}
