// The command line: korvane [-h | --help] [-v | --version] [--] [FILE | FOLDER]...
#ifndef KORVANE_COMMANDLINE_H
#define KORVANE_COMMANDLINE_H

#include <QStringList>

// Answers --help and --version on standard output before anything else of
// the start-up runs (no settings written, no window, no display needed).
// True when the process is to end with exitCode.
bool AnswerInfoOption(int argc, char** argv, int& exitCode);

// The files and folders named on the command line, as clean absolute paths
// (a "file:" URL becomes its local path). `arguments` is what the
// application object leaves after taking Qt's own options, the program's
// name first. False, with a message on standard error, for an unknown option.
bool StartupPaths(const QStringList& arguments, QStringList& paths);

#endif
