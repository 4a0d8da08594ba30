#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

void DiscardMessageHandler(QtMsgType, const QMessageLogContext&, const QString&)
{
}

namespace {

QString ExecutableFolder()
{
#if defined(Q_OS_LINUX)
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return QFileInfo(self.canonicalFilePath()).absolutePath();
#endif
    return QString();
}

} // namespace

QString ProgramPluginFolder()
{
    const QString exeFolder = ExecutableFolder();
    if (exeFolder.isEmpty())
        return QString();
    const QDir dir(exeFolder);
    if (dir.exists(QStringLiteral("imageformats")))
        return dir.absolutePath();
    const QString installed = QDir::cleanPath(dir.absoluteFilePath(QStringLiteral(KORVANE_PLUGIN_RELDIR)));
    if (QDir(installed).exists(QStringLiteral("imageformats")))
        return installed;
    return QString();
}

QString PrependProgramPluginFolder()
{
    const QString folder = ProgramPluginFolder();
    if (!folder.isEmpty())
        QCoreApplication::addLibraryPath(folder);
    return folder;
}

bool LastRunCrashed()
{
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("MainWindow"));
    const bool closed = settings.value(QStringLiteral("Closed"), true).toBool();
    settings.setValue(QStringLiteral("Closed"), false);
    settings.endGroup();
    settings.beginGroup(QStringLiteral("Settings"));
    const bool reportCrash = settings.value(QStringLiteral("ReportCrash"), true).toBool();
    settings.endGroup();
    return !closed && reportCrash;
}

void SetReportCrash(bool report)
{
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.setValue(QStringLiteral("Settings/ReportCrash"), report);
}
