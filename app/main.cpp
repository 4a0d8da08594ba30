#include "commandline.h"
#include "convertdlgs.h"
#include "gen/plugins.h"
#include "mainwindow.h"
#include "startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    qInstallMessageHandler(DiscardMessageHandler);
    // --help and --version answer before anything is written or shown.
    int exitCode = 0;
    if (AnswerInfoOption(argc, argv, exitCode))
        return exitCode;
    PLMInitPlugins();
    Q_INIT_RESOURCE(korvane);
    Q_INIT_RESOURCE(korvanedesktop);
    // Our own format plugins must win over Qt's installed ones for the formats
    // both claim, so the program's plugin folder goes first.
    PrependProgramPluginFolder();
    // On a high-density screen the window scales with the screen, and icons
    // and previews are drawn at its device pixel ratio.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("Korvane Image Converter"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.pelmora.Korvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/com.pelmora.Korvane.svg")));

    QStringList startupPaths;
    if (!StartupPaths(QCoreApplication::arguments(), startupPaths))
        return 2;

    int result = 0;
    {
        MainWindow window;
        window.show();
        window.AddStartupPaths(startupPaths);
        if (LastRunCrashed()) {
            ConvertCrashDlg crashDlg;
            crashDlg.exec();
        }
        result = app.exec();
    }
    return result;
}
