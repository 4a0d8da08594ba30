#include "convertsettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>

const char* const kSameAsSourceFile = "Same as source file";

ConvertSettings::ConvertSettings() = default;

void ConvertSettings::Load()
{
    qDebug() << "ConvertSettings::Load";
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("CSettings"));
    TgtFolder = settings.value(QStringLiteral("TgtFolder"), QString::fromLatin1(kSameAsSourceFile)).toString();
    TgtFormat = settings.value(QStringLiteral("TgtFormat"), QStringLiteral(".png")).toString();
    // The enumeration holds only -1 to 61; anything else stored means no codec.
    const int tgtID = settings.value(QStringLiteral("TgtID"), int(PLMCodecPNG)).toInt();
    if (tgtID < PLMCodecInvalid || tgtID > PLMCodecCount) {
        qWarning().noquote() << QStringLiteral("ConvertSettings::Load   Invalid TgtID: %1").arg(tgtID);
        TgtID = PLMCodecInvalid;
    } else {
        TgtID = PLMImageCodecID(tgtID);
    }
    J2000LlCmpsn = settings.value(QStringLiteral("J2000LlCmpsn"), false).toBool();
    J2000CmpsnRate = settings.value(QStringLiteral("J2000CmpsnRate"), 1).toInt();
    WEBPLlCmpsn = settings.value(QStringLiteral("WEBPLlCmpsn"), false).toBool();
    WEBPCmpsnQuality = settings.value(QStringLiteral("WEBPCmpsnQuality"), 100).toInt();
    JPEGXRLlCmpsn = settings.value(QStringLiteral("JPEGXRLlCmpsn"), false).toBool();
    JPEGXRCmpsnQuality = settings.value(QStringLiteral("JPEGXRCmpsnQuality"), 99).toInt();
    JPEGCmpsnQuality = settings.value(QStringLiteral("JPEGCmpsnQuality"), 100).toInt();
    PageSize = settings.value(QStringLiteral("PageSize"), 0).toInt();
    PageOri = settings.value(QStringLiteral("PageOri"), 0).toInt();
    Align = settings.value(QStringLiteral("Align"), 0).toInt();
    ICODim = settings.value(QStringLiteral("ICODim"), 32).toInt();
    Exists = settings.value(QStringLiteral("Exists"), 0).toInt();
    TgtDPISameSrc = settings.value(QStringLiteral("TgtDPISameSrc"), true).toBool();
    TgtDPI = settings.value(QStringLiteral("TgtDPI"), 72).toInt();
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
