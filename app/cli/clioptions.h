// The command line of korvane-convert read into the ConvertSettings record
// the window builds (target, per-format options and edits) and the few
// options of the run itself.
#ifndef KORVANE_CLIOPTIONS_H
#define KORVANE_CLIOPTIONS_H

#include "convertsettings.h"

#include <QStringList>

struct CliOptions
{
    // Construction defaults for whatever is not given; the window's stored
    // options are never read.
    ConvertSettings settings;
    QStringList sources;        // files and folders as given
    bool recursive = false;     // walk folders as "Add Folder" does
    int jobs = 0;               // threads; 0: one per processor
    bool json = false;          // one result object per source on stdout
    bool saveSettings = false;  // store the options for the window too
    bool help = false;
    bool version = false;
};

// Reads the arguments (the program's name first). Options and sources may be
// mixed; "--" ends the options. Long options take one or two dashes
// (-quality 90 as --quality 90) and their value after a blank or "=".
// False, with why, on bad usage: an unknown option, a value out of range, an
// option the target format does not have, no source or no target folder, or
// a watermark picture that cannot be read.
bool ParseCliArguments(const QStringList& arguments, CliOptions& options, QString& error);

// The --help text.
QString CliUsage();

#endif
