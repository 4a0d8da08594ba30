#include "commandline.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace {

const char* const kHelp =
    "Usage: korvane [OPTION]... [FILE | FOLDER]...\n"
    "Convert, resize and watermark images in batches.\n"
    "\n"
    "Each FILE is added to the source list at start as if it were dropped on\n"
    "the window; each FOLDER is walked with its subfolders, as \"Add Folder\"\n"
    "does.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -v, --version  print the version and exit\n"
    "  --             take every following argument as a file or folder\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

bool Is(const char* argument, const char* shortName, const char* longName)
{
    return std::strcmp(argument, shortName) == 0 || std::strcmp(argument, longName) == 0;
}

} // namespace

bool AnswerInfoOption(int argc, char** argv, int& exitCode)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (Is(argv[i], "-h", "--help")) {
            std::fputs(kHelp, stdout);
            exitCode = 0;
            return true;
        }
        if (Is(argv[i], "-v", "--version")) {
            std::fputs("korvane " KORVANE_VERSION "\n", stdout);
            exitCode = 0;
            return true;
        }
    }
    return false;
}

bool StartupPaths(const QStringList& arguments, QStringList& paths)
{
    paths.clear();
    bool optionsEnd = false;
    for (int i = 1; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (!optionsEnd && argument == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            std::fprintf(stderr, "korvane: unknown option %s\nTry 'korvane --help'.\n", qPrintable(argument));
            return false;
        }
        if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
            argument = QUrl(argument).toLocalFile();
        if (!argument.isEmpty())
            paths << QDir::cleanPath(QFileInfo(argument).absoluteFilePath());
    }
    return true;
}
