// korvane-convert: the window's conversion engine and format plugins from a
// terminal, a script or a batch system, with no display needed.
#include "clioptions.h"
#include "clirunner.h"
#include "clisources.h"
#include "gen/plugins.h"
#include "startup.h"

#include <QDir>
#include <QGuiApplication>
#include <QThreadPool>

#include <cstdio>

namespace {

int BadUsage(const QString& why)
{
    std::fprintf(stderr, "korvane-convert: %s\nTry 'korvane-convert --help'.\n", qPrintable(why));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(DiscardMessageHandler);
    // Fonts and painting need a platform, not a display: over SSH and in
    // containers the offscreen one serves, unless another is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The format plugins' switches, as the window writes them at every start.
    PLMInitPlugins();
    PrependProgramPluginFolder();
    QGuiApplication app(argc, argv);

    CliOptions options;
    QString error;
    if (!ParseCliArguments(QCoreApplication::arguments(), options, error))
        return BadUsage(error);
    if (options.help) {
        std::fputs(qPrintable(CliUsage()), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs("korvane-convert " KORVANE_VERSION "\n", stdout);
        return 0;
    }

    QStringList sources;
    if (!CollectSources(options.sources, options.recursive, sources, error))
        return BadUsage(error);
    const ConvertSettings& settings = options.settings;
    if (settings.TgtFolder != QLatin1String(kSameAsSourceFile) && !QDir().mkpath(settings.TgtFolder))
        return BadUsage(QStringLiteral("%1 cannot be made as a folder").arg(QDir::toNativeSeparators(settings.TgtFolder)));
    if (options.jobs > 0)
        QThreadPool::globalInstance()->setMaxThreadCount(options.jobs);
    // The window's store is written only when asked for.
    if (options.saveSettings)
        settings.Save();
    return RunCliBatch(settings, sources, options.json);
}
