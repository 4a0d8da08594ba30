// A target written in full under a short temporary name in its folder, then
// put in place by renaming it over the target's directory entry: a failed or
// canceled write leaves nothing, an existing file is replaced only by a
// complete one, and a link at the target's name is itself replaced, never the
// file it points to.
#ifndef KORVANE_TARGETFILE_H
#define KORVANE_TARGETFILE_H

#include <QString>
#include <QTemporaryFile>

class TargetFile
{
public:
    explicit TargetFile(const QString& path);
    ~TargetFile();

    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // Creates the temporary file beside the target. False when the folder
    // cannot take it.
    bool Open();

    // Where the target's bytes go between Open() and Commit().
    QIODevice* Device() { return &temporary; }

    // Flushes the bytes to disk and renames the temporary file to the
    // target's name, with the permissions a new file (or the file it
    // replaces) has. False, and the temporary file removed, on failure.
    bool Commit();

private:
    QString path;
    QTemporaryFile temporary;
};

#endif
