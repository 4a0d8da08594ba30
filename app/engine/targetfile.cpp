#include "targetfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process's file-creation mask, read without changing it (umask() would
// change it for every thread while it is read).
mode_t CreationMask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    return 022;
}

} // namespace

TargetFile::TargetFile(const QString& targetPath)
    : path(targetPath)
    // A short name: the target's own may already be as long as the file
    // system allows.
    , temporary(QFileInfo(targetPath).absolutePath() + QStringLiteral("/.kv-XXXXXX"))
{
    temporary.setAutoRemove(true);
}

TargetFile::~TargetFile() = default;

bool TargetFile::Open()
{
    return temporary.open();
}

bool TargetFile::Commit()
{
    if (!temporary.isOpen() || !temporary.flush())
        return false;
    const int fd = temporary.handle();
    // The file replaced keeps its permissions; a new file gets the usual ones.
    struct stat existing;
    const QByteArray target = QFile::encodeName(path);
    mode_t mode = 0666 & ~CreationMask();
    if (::stat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode)
        && ::lstat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;
    if (::fchmod(fd, mode) != 0 || ::fdatasync(fd) != 0)
        return false;
    const QByteArray source = QFile::encodeName(temporary.fileName());
    temporary.close();
    if (::rename(source.constData(), target.constData()) != 0)
        return false;
    temporary.setAutoRemove(false);
    return true;
}
