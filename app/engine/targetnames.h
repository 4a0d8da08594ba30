// How targets are named: the page and unique-number suffixes, the names kept
// apart across the jobs of a batch, and names shortened to what the file
// system holds.
#ifndef KORVANE_TARGETNAMES_H
#define KORVANE_TARGETNAMES_H

#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

class ConvertSettings;

// The names a running batch must not overwrite: its own sources, and every
// target one of its jobs has chosen. Shared by the batch's jobs.
class BatchTargets
{
public:
    explicit BatchTargets(const QStringList& sources);

    // Takes path for a target of this batch; false when it names one of the
    // batch's sources or a target already taken (the same directory entry,
    // whatever link or spelling leads to it).
    bool Claim(const QString& path);

private:
    static QString EntryKey(const QString& path);

    QMutex mutex;
    QSet<QString> sources;
    QSet<QString> claimed;
};

// Target path of one page (page -1 for a single-image source, else 0-based).
// False, with tgtPath empty, when the exists policy is unknown, the target
// folder is empty or every numbered name is taken. With a batch, Overwrite
// never replaces one of the batch's sources or its earlier targets: such a
// page takes the next unique number instead, and *renamed is set.
bool MakeTgtFilePath(QString& tgtPath, int page, const QString& srcFile, const ConvertSettings& settings,
                     BatchTargets* batch = nullptr, bool* renamed = nullptr);

// The first of base, base-1 … base-9999 (with the extension) for which no
// directory entry exists (a dangling link counts as one) and which is not
// reserved. The chosen name is reserved for this process until
// ReleaseTgtFilePath(), so parallel jobs never pick the same name. A base
// name too long for the file system with its number is shortened.
bool MakeUniqueTgtFilePath(QString& tgtPath, const QString& folder, const QString& baseName,
                           const QString& extension);

// Gives a name reserved by MakeUniqueTgtFilePath back (once it was written, or
// given up). Unreserved names are ignored.
void ReleaseTgtFilePath(const QString& tgtPath);

QString JoinTgtFilePath(const QString& folder, const QString& baseName, const QString& extension);

// Releases a reserved target name when the page is done with it.
class ReservedTgtPath
{
public:
    ReservedTgtPath(const QString& path, bool reserved) : path(reserved ? path : QString()) {}
    ~ReservedTgtPath()
    {
        if (!path.isEmpty())
            ReleaseTgtFilePath(path);
    }
    ReservedTgtPath(const ReservedTgtPath&) = delete;
    ReservedTgtPath& operator=(const ReservedTgtPath&) = delete;

private:
    QString path;
};

#endif
