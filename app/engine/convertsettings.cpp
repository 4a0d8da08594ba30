#include "convertsettings.h"

#include "imagecodecvetoer.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>

const char* const kSameAsSourceFile = "Same as source file";

ConvertSettings::ConvertSettings() = default;

namespace {

// A stored number outside what the option can hold (a damaged or hand-edited
// store) is replaced by the option's default, and said so in the log.
int CheckedInt(const QSettings& settings, const QString& key, int fallback, bool (*valid)(int))
{
    bool number = false;
    const int value = settings.value(key, fallback).toInt(&number);
    if (number && valid(value))
        return value;
    qWarning().noquote() << QStringLiteral("ConvertSettings::Load   Invalid %1: ").arg(key)
                                + settings.value(key).toString();
    return fallback;
}

bool IsQuality(int value) { return value >= 1 && value <= 100; }
bool IsJpegXrQuality(int value) { return value >= 1 && value <= 99; }
bool IsPageSize(int value) { return value == 0 || value == 2 || value == 3; }
bool IsZeroOrOne(int value) { return value == 0 || value == 1; }
bool IsIconSizeSet(int value) { return value > 0 && value <= 63; }
bool IsTgtDPI(int value) { return value >= 60 && value <= 2400; }

bool IsWritable(int id)
{
    return PLMImageCodec::IsValid(PLMImageCodecID(id)) && PLMImageCodecVetoer().IsEnabled(PLMImageCodecID(id), PLMImageIOWrite);
}

} // namespace

void ConvertSettings::Load()
{
    qDebug() << "ConvertSettings::Load";
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("CSettings"));
    TgtFolder = settings.value(QStringLiteral("TgtFolder"), QString::fromLatin1(kSameAsSourceFile)).toString();
    // The target: a writable codec and one of its own extensions, else PNG.
    TgtID = PLMImageCodecID(CheckedInt(settings, QStringLiteral("TgtID"), int(PLMCodecPNG), IsWritable));
    TgtFormat = settings.value(QStringLiteral("TgtFormat"), QStringLiteral(".png")).toString();
    const QStringList extensions = PLMImageCodec(TgtID).GetExtensions();
    if (!extensions.contains(TgtFormat.toLower())) {
        qWarning().noquote() << QStringLiteral("ConvertSettings::Load   Invalid TgtFormat: ") + TgtFormat;
        TgtFormat = extensions.value(0);
    }
    J2000LlCmpsn = settings.value(QStringLiteral("J2000LlCmpsn"), false).toBool();
    J2000CmpsnRate = CheckedInt(settings, QStringLiteral("J2000CmpsnRate"), 1, IsQuality);
    WEBPLlCmpsn = settings.value(QStringLiteral("WEBPLlCmpsn"), false).toBool();
    WEBPCmpsnQuality = CheckedInt(settings, QStringLiteral("WEBPCmpsnQuality"), 100, IsQuality);
    JPEGXRLlCmpsn = settings.value(QStringLiteral("JPEGXRLlCmpsn"), false).toBool();
    JPEGXRCmpsnQuality = CheckedInt(settings, QStringLiteral("JPEGXRCmpsnQuality"), 99, IsJpegXrQuality);
    JPEGCmpsnQuality = CheckedInt(settings, QStringLiteral("JPEGCmpsnQuality"), 100, IsQuality);
    HEIFCmpsnQuality = CheckedInt(settings, QStringLiteral("HEIFCmpsnQuality"), 80, IsQuality);
    AVIFLlCmpsn = settings.value(QStringLiteral("AVIFLlCmpsn"), false).toBool();
    AVIFCmpsnQuality = CheckedInt(settings, QStringLiteral("AVIFCmpsnQuality"), 80, IsQuality);
    JXLLlCmpsn = settings.value(QStringLiteral("JXLLlCmpsn"), false).toBool();
    JXLCmpsnQuality = CheckedInt(settings, QStringLiteral("JXLCmpsnQuality"), 80, IsQuality);
    PageSize = CheckedInt(settings, QStringLiteral("PageSize"), 0, IsPageSize);
    PageOri = CheckedInt(settings, QStringLiteral("PageOri"), 0, IsZeroOrOne);
    Align = CheckedInt(settings, QStringLiteral("Align"), 0, IsZeroOrOne);
    ICODim = CheckedInt(settings, QStringLiteral("ICODim"), 32, IsIconSizeSet);
    Exists = CheckedInt(settings, QStringLiteral("Exists"), 0, IsZeroOrOne);
    TgtDPISameSrc = settings.value(QStringLiteral("TgtDPISameSrc"), true).toBool();
    TgtDPI = CheckedInt(settings, QStringLiteral("TgtDPI"), 72, IsTgtDPI);
    KeepMd = settings.value(QStringLiteral("KeepMd"), false).toBool();
    settings.endGroup();
}

void ConvertSettings::Save() const
{
    qDebug() << "ConvertSettings::Save";
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("CSettings"));
    settings.setValue(QStringLiteral("TgtFolder"), TgtFolder);
    settings.setValue(QStringLiteral("TgtFormat"), TgtFormat);
    settings.setValue(QStringLiteral("TgtID"), int(TgtID));
    settings.setValue(QStringLiteral("J2000LlCmpsn"), J2000LlCmpsn);
    settings.setValue(QStringLiteral("J2000CmpsnRate"), J2000CmpsnRate);
    settings.setValue(QStringLiteral("WEBPLlCmpsn"), WEBPLlCmpsn);
    settings.setValue(QStringLiteral("WEBPCmpsnQuality"), WEBPCmpsnQuality);
    settings.setValue(QStringLiteral("JPEGXRLlCmpsn"), JPEGXRLlCmpsn);
    settings.setValue(QStringLiteral("JPEGXRCmpsnQuality"), JPEGXRCmpsnQuality);
    settings.setValue(QStringLiteral("JPEGCmpsnQuality"), JPEGCmpsnQuality);
    settings.setValue(QStringLiteral("HEIFCmpsnQuality"), HEIFCmpsnQuality);
    settings.setValue(QStringLiteral("AVIFLlCmpsn"), AVIFLlCmpsn);
    settings.setValue(QStringLiteral("AVIFCmpsnQuality"), AVIFCmpsnQuality);
    settings.setValue(QStringLiteral("JXLLlCmpsn"), JXLLlCmpsn);
    settings.setValue(QStringLiteral("JXLCmpsnQuality"), JXLCmpsnQuality);
    settings.setValue(QStringLiteral("PageSize"), PageSize);
    settings.setValue(QStringLiteral("PageOri"), PageOri);
    settings.setValue(QStringLiteral("Align"), Align);
    settings.setValue(QStringLiteral("ICODim"), ICODim);
    settings.setValue(QStringLiteral("Exists"), Exists);
    settings.setValue(QStringLiteral("TgtDPISameSrc"), TgtDPISameSrc);
    settings.setValue(QStringLiteral("TgtDPI"), TgtDPI);
    settings.setValue(QStringLiteral("KeepMd"), KeepMd);
    settings.endGroup();
}

bool ConvertSettings::SetTgtFolder(const QString& folder)
{
    if (folder == QLatin1String(kSameAsSourceFile) || (!folder.isEmpty() && QDir(folder).exists())) {
        TgtFolder = folder;
        return true;
    }
    return false;
}

QStringList ExistsPolicyNames()
{
    return {QCoreApplication::translate("ConvertSettings", "Append with unique number"),
            QCoreApplication::translate("ConvertSettings", "Overwrite")};
}

QStringList StandardTgtDPIs()
{
    return {QStringLiteral("60"), QStringLiteral("72"), QStringLiteral("96"),
            QStringLiteral("150"), QStringLiteral("300")};
}

QStringList PageSizeNames()
{
    return {QStringLiteral("A4"), QStringLiteral("Letter"), QStringLiteral("Legal")};
}

QStringList PageOrientationNames()
{
    return {QCoreApplication::translate("ConvertSettings", "Portrait"),
            QCoreApplication::translate("ConvertSettings", "Landscape")};
}

QStringList AlignmentNames()
{
    return {QCoreApplication::translate("ConvertSettings", "Center"),
            QCoreApplication::translate("ConvertSettings", "Top Left")};
}

QStringList CompressionModeNames()
{
    return {QCoreApplication::translate("ConvertSettings", "Lossless Compression"),
            QCoreApplication::translate("ConvertSettings", "Lossy Compression")};
}
