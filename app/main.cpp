#include "convertdlgs.h"
#include "gen/plugins.h"
#include "mainwindow.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char** argv)
{
    qInstallMessageHandler(DiscardMessageHandler);
    PLMInitPlugins();
    Q_INIT_RESOURCE(korvane);
    // Our own format plugins must win over Qt's installed ones for the formats
    // both claim, so the program's plugin folder goes first.
    PrependProgramPluginFolder();

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationName(QStringLiteral("Korvane Image Converter"));

    int result = 0;
    {
        MainWindow window;
        window.show();
        if (LastRunCrashed()) {
            ConvertCrashDlg crashDlg;
            crashDlg.exec();
        }
        result = app.exec();
    }
    return result;
}
