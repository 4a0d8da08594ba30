// Fixed table of the image formats the converter knows.
#ifndef PLM_GRAPHICS_IMAGECODEC_H
#define PLM_GRAPHICS_IMAGECODEC_H

#include <QString>
#include <QStringList>

// Identifiers are persisted and packed into combo-box data: never renumber.
// A fixed underlying type keeps any stored number a valid value to check.
enum PLMImageCodecID : int {
    PLMCodecInvalid = -1,
    PLMCodecBMP = 0,
    PLMCodecDDS,
    PLMCodecDNG,
    PLMCodecDrHalo,
    PLMCodecGIF,
    PLMCodecHDR,
    PLMCodecICO,
    PLMCodecIFF,
    PLMCodecITHMB,
    PLMCodecJNG,
    PLMCodecJPEG,           // 10
    PLMCodecJPEG2000,
    PLMCodecJPEGXR,
    PLMCodecJPEGStereo,
    PLMCodecKOA,
    PLMCodecMNG,
    PLMCodecPCD,
    PLMCodecPCX,
    PLMCodecPDF,
    PLMCodecPFM,
    PLMCodecPICT,           // 20
    PLMCodecPNG,
    PLMCodecPNM,
    PLMCodecPSD,
    PLMCodecRAS,
    PLMCodecRAW,
    PLMCodecRawApple,
    PLMCodecRawCanon,
    PLMCodecRawCasio,
    PLMCodecRawEpson,
    PLMCodecRawFoto,        // 30
    PLMCodecRawFuji,
    PLMCodecRawHasselblad,
    PLMCodecRawImacon,
    PLMCodecRawKodak,
    PLMCodecRawLeaf,
    PLMCodecRawLeica,
    PLMCodecRawLogitech,
    PLMCodecRawMamiya,
    PLMCodecRawMinolta,
    PLMCodecRawNikon,       // 40
    PLMCodecRawOlympus,
    PLMCodecRawPanasonic,
    PLMCodecRawPentax,
    PLMCodecRawPhantom,
    PLMCodecRawPhaseOne,
    PLMCodecRawRawzor,
    PLMCodecRawRed,
    PLMCodecRawSamsung,
    PLMCodecRawSigma,
    PLMCodecRawSinar,       // 50
    PLMCodecRawSony,
    PLMCodecRawFax,
    PLMCodecSGI,
    PLMCodecSVG,
    PLMCodecTGA,
    PLMCodecTIFF,
    PLMCodecWBMP,
    PLMCodecWEBP,
    PLMCodecXBM,
    PLMCodecXPM,            // 60
    // Appended after the original table, so that stored numbers keep their meaning.
    PLMCodecHEIF,           // 61
    PLMCodecAVIF,
    PLMCodecJXL,
    PLMCodecCount           // 64: the number of codecs, and no codec
};

enum PLMImageIOType : int {
    PLMImageIORead = 0,
    PLMImageIOWrite = 1,
    PLMImageIONone = 2      // never enabled
};

class PLMImageCodecVetoer
{
public:
    virtual ~PLMImageCodecVetoer() = default;
    // Whether a codec may be read (type 0) or written (type 1); a subclass may veto.
    virtual bool IsEnabled(PLMImageCodecID id, PLMImageIOType type) const;
};

class PLMImageCodec
{
public:
    explicit PLMImageCodec(PLMImageCodecID id);
    explicit PLMImageCodec(const QString& fileName);

    PLMImageCodecID ID() const { return codecID; }

    // Identifier of the first codec whose extension (with its leading ".")
    // matches case-insensitively, or -1.
    static PLMImageCodecID GetID(const QString& extension);

    // The queries below answer empty values for an identifier outside the table.
    QString GetName() const;
    QString GetDescription() const;
    QString GetExtension(int index) const;
    QStringList GetExtensions() const;

    static bool HasOptions(PLMImageCodecID id);
    static bool CanKeepMetadata(PLMImageCodecID id);
    static bool IsValid(PLMImageCodecID id) { return id >= 0 && id < PLMCodecCount; }

    // Number of entries of the extension table.
    static int ExtensionCount();

private:
    PLMImageCodecID codecID;
};

// Builds the open-file dialog filter: "All Images (...)" then one entry per
// codec the vetoer lets read, sorted by description.
void GetReadFilter(QString& filter, const PLMImageCodecVetoer& vetoer);

// The same filter in the form file dialogs take: Qt's dialogs split the
// patterns inside each group's parentheses at blanks, so "*.bmp;*.dds" would
// be one pattern that matches no file. Groups, their order and the ";; "
// between them are kept.
QString GetFileDialogFilter(const QString& readFilter);

#endif
