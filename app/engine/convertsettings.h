// The user's conversion options.
#ifndef KORVANE_CONVERTSETTINGS_H
#define KORVANE_CONVERTSETTINGS_H

#include "editsettings.h"
#include "graphics/imagecodec.h"

#include <QString>
#include <QStringList>

// Outcome of a page, a job and a list row.
enum ConvertState {
    ConvertSucceeded = 0,
    ConvertFailed = 1,
    ConvertCanceled = 2     // also the initial state of a job
};

// The literal target folder meaning "next to each source" (compared case-sensitively).
extern const char* const kSameAsSourceFile;

class ConvertSettings : public EditSettings
{
public:
    ConvertSettings();

    void Load();
    void Save() const;

    // Stores the folder when it is "Same as source file" or an existing directory.
    bool SetTgtFolder(const QString& folder);

    QString TgtFolder;
    QString TgtFormat = QStringLiteral(".png");
    PLMImageCodecID TgtID = PLMCodecPNG;
    bool J2000LlCmpsn = false;
    bool WEBPLlCmpsn = false;
    bool JPEGXRLlCmpsn = false;
    int J2000CmpsnRate = 1;
    int WEBPCmpsnQuality = 100;
    int JPEGXRCmpsnQuality = 99;
    int JPEGCmpsnQuality = 100;
    int HEIFCmpsnQuality = 80;
    bool AVIFLlCmpsn = false;
    int AVIFCmpsnQuality = 80;
    bool JXLLlCmpsn = false;
    int JXLCmpsnQuality = 80;
    int PageSize = 0;       // 0 A4, 2 Letter, 3 Legal
    int PageOri = 0;        // 0 portrait, 1 landscape
    int Align = 0;          // 0 centre, 1 top left
    int ICODim = 32;        // bit set: 1 16, 2 32, 4 48, 8 64, 16 128, 32 256
    int Exists = 0;         // 0 append a unique number, 1 overwrite
    bool TgtDPISameSrc = true;
    int TgtDPI = 72;
    bool KeepMd = false;
};

// Display names, indexed by the stored value (page sizes: by combo position).
QStringList ExistsPolicyNames();
QStringList StandardTgtDPIs();
QStringList PageSizeNames();
QStringList PageOrientationNames();
QStringList AlignmentNames();
QStringList CompressionModeNames();

#endif
