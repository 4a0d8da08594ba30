// Shared start-up of every test process, as the program starts: a private
// settings store with the plugin switches written, the offscreen platform,
// the program's own plugin folder first, and its resources. A test of a
// switched-off plugin changes its switch before the first image is read.
#ifndef KORVANE_TESTSUPPORT_H
#define KORVANE_TESTSUPPORT_H

#include "gen/plugins.h"
#include "startup.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace KorvaneTest {

// Gives this process its own XDG_CONFIG_HOME before any QSettings exists, so a
// test never reads or writes the user's real store. Answers the folder.
inline QString IsolateSettings()
{
    static std::unique_ptr<QTemporaryDir> configHome;
    if (!configHome) {
        configHome.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/korvane-test-config-XXXXXX")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome->path()));
    }
    return configHome->path();
}

// Path of a settings store file inside the isolated folder.
inline QString StoreFile(const QString& application)
{
    return IsolateSettings() + QStringLiteral("/Pelmora/") + application + QStringLiteral(".conf");
}

} // namespace KorvaneTest

inline void KorvaneInitResources()
{
    Q_INIT_RESOURCE(korvane);
}

#define KORVANE_TEST_MAIN(TestObject)                                  \
    int main(int argc, char** argv)                                    \
    {                                                                  \
        KorvaneTest::IsolateSettings();                                \
        PLMInitPlugins();                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                   \
        PrependProgramPluginFolder();                                  \
        QApplication app(argc, argv);                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                       \
        KorvaneInitResources();                                        \
        TestObject tc;                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                     \
        return QTest::qExec(&tc, argc, argv);                          \
    }

#endif
