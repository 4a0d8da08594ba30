#include "graphics/imagecodec.h"

#include <QDebug>
#include <QFileInfo>

namespace {

struct CodecRecord {
    const char* name;
    const char* description;
    bool readable;
    bool writable;
    bool hasOptions;
};

const CodecRecord kCodecs[PLMCodecCount] = {
    {"BMP", "Microsoft Bitmap", true, true, false},
    {"DDS", "DirectX Surface", true, false, false},
    {"DNG", "Digital Negative", true, false, false},
    {"Dr.Halo", "Dr. Halo", true, false, false},
    {"GIF", "Graphics Interchange Format", true, true, false},
    {"HDR", "High Dynamic Range", true, true, false},
    {"ICO", "Microsoft Icon", true, true, true},
    {"IFF", "Interchange File Format", true, false, false},
    {"ITHMB", "iOS Thumnail Image", true, false, false},
    {"JNG", "JPEG Network Graphics", true, true, false},
    {"JPEG", "Joint Photographic Experts Group", true, true, true},
    {"JPEG2000", "JPEG 2000", true, true, true},
    {"JPEG XR", "JPEG Extended Range", true, true, true},
    {"JPEG Stereoscopic", "JPEG Stereoscopic", true, false, false},
    {"KOA", "C64 Koala Graphics", true, false, false},
    {"MNG", "Multiple-image Network Graphics", true, false, false},
    {"PCD", "Kodak PhotoCD", true, false, false},
    {"PCX", "Personal Computer Exchange", true, false, false},
    {"PDF", "Adobe Portable Document Format", true, true, true},
    {"PFM", "Portable Float Map", true, true, false},
    {"PICT", "Macintosh PICT", true, false, false},
    {"PNG", "Portable Network Graphics", true, true, false},
    {"PNM", "Portable Anymap", true, true, false},
    {"PSD", "Adobe Photoshop Document", true, false, false},
    {"RAS", "Sun Raster", true, false, false},
    {"RAW", "Raw Digital Photograph", true, false, false},
    {"Raw Apple", "Apple Quicktake 100/150 Digital Photograph", true, false, false},
    {"Raw Canon", "Canon Digital Photograph", true, false, false},
    {"Raw Casio", "Casio Digital Photograph", true, false, false},
    {"Raw Epson", "Epson Digital Photograph", true, false, false},
    {"Raw Foto", "Foto Maker Digital Photograph", true, false, false},
    {"Raw Fuji", "Fuji Digital Photograph", true, false, false},
    {"Raw Hasselblad", "Hasselblad Digital Photograph", true, false, false},
    {"Raw Imacon", "Imacon Digital Photograph", true, false, false},
    {"Raw Kodak", "Kodak Digital Photograph", true, false, false},
    {"Raw Leaf", "Leaf Digital Photograph", true, false, false},
    {"Raw Leica", "Leica Digital Photograph", true, false, false},
    {"Raw Logitech", "Logitech Digital Photograph", true, false, false},
    {"Raw Mamiya", "Mamiya Digital Photograph", true, false, false},
    {"Raw Minolta", "Minolta Digital Photograph", true, false, false},
    {"Raw Nikon", "Nikon Digital Photograph", true, false, false},
    {"Raw Olympus", "Olympus Digital Photograph", true, false, false},
    {"Raw Panasonic", "Panasonic Digital Photograph", true, false, false},
    {"Raw Pentax", "Pentax Digital Photograph", true, false, false},
    {"Raw Phantom", "Phantom Software Digital Photograph", true, false, false},
    {"Raw Phase One", "Phase One Digital Photograph", true, false, false},
    {"Raw Rawzor", "Rawzor Digital Photograph", true, false, false},
    {"Raw Red", "Red Digital Photograph", true, false, false},
    {"Raw Samsung", "Samsung Digital Photograph", true, false, false},
    {"Raw Signma", "Sigma Digital Photograph", true, false, false},
    {"Raw Sinar", "Sinar Digital Photograph", true, false, false},
    {"Raw Sony", "Sony Digital Photograph", true, false, false},
    {"Raw Fax Format", "Raw Fax Format CCITT G.3", true, false, false},
    {"SGI", "Silicon Graphics Image", true, false, false},
    {"Scalable Vector Graphics", "Scalable Vector Graphics", true, false, false},
    {"TGA", "Avid Targa", true, true, false},
    {"TIFF", "Tagged Image File Format", true, true, false},
    {"WBMP", "Wireless Bitmap", true, true, false},
    {"WEBP", "Google WebP", true, true, true},
    {"XBM", "X Bitmap", true, true, false},
    {"XPM", "X Pixmap", true, true, false},
    {"HEIF", "High Efficiency Image File Format", true, true, true},
    {"AVIF", "AV1 Image File Format", true, true, true},
    {"JPEG XL", "JPEG XL", true, true, true},
};

struct ExtensionRecord {
    const char* extension;
    PLMImageCodecID id;
};

// In codec order; the extensions of one codec are contiguous.
const ExtensionRecord kExtensions[] = {
    {".bmp", PLMCodecBMP},
    {".dds", PLMCodecDDS},
    {".dng", PLMCodecDNG},
    {".cut", PLMCodecDrHalo},
    {".gif", PLMCodecGIF},
    {".hdr", PLMCodecHDR},
    {".ico", PLMCodecICO},
    {".iff", PLMCodecIFF}, {".lbm", PLMCodecIFF},
    {".ithmb", PLMCodecITHMB},
    {".jng", PLMCodecJNG},
    {".jif", PLMCodecJPEG}, {".jpe", PLMCodecJPEG}, {".jpg", PLMCodecJPEG}, {".jpeg", PLMCodecJPEG},
    {".j2k", PLMCodecJPEG2000}, {".j2c", PLMCodecJPEG2000}, {".jp2", PLMCodecJPEG2000},
    {".hdp", PLMCodecJPEGXR}, {".jxr", PLMCodecJPEGXR}, {".wdp", PLMCodecJPEGXR},
    {".jps", PLMCodecJPEGStereo},
    {".koa", PLMCodecKOA},
    {".mng", PLMCodecMNG},
    {".pcd", PLMCodecPCD},
    {".pcx", PLMCodecPCX},
    {".pdf", PLMCodecPDF},
    {".pfm", PLMCodecPFM},
    {".pct", PLMCodecPICT}, {".pic", PLMCodecPICT}, {".pict", PLMCodecPICT},
    {".png", PLMCodecPNG},
    {".pbm", PLMCodecPNM}, {".pgm", PLMCodecPNM}, {".ppm", PLMCodecPNM},
    {".psd", PLMCodecPSD},
    {".ras", PLMCodecRAS},
    {".raw", PLMCodecRAW},
    {".qtk", PLMCodecRawApple},
    {".cr2", PLMCodecRawCanon}, {".crw", PLMCodecRawCanon},
    {".bay", PLMCodecRawCasio},
    {".erf", PLMCodecRawEpson},
    {".rdc", PLMCodecRawFoto},
    {".raf", PLMCodecRawFuji},
    {".3fr", PLMCodecRawHasselblad},
    {".fff", PLMCodecRawImacon},
    {".dc2", PLMCodecRawKodak}, {".dcr", PLMCodecRawKodak}, {".drf", PLMCodecRawKodak},
    {".dsc", PLMCodecRawKodak}, {".k25", PLMCodecRawKodak}, {".kc2", PLMCodecRawKodak},
    {".kdc", PLMCodecRawKodak},
    {".mos", PLMCodecRawLeaf},
    {".rwl", PLMCodecRawLeica},
    {".pxn", PLMCodecRawLogitech},
    {".mef", PLMCodecRawMamiya},
    {".mdc", PLMCodecRawMinolta}, {".mrw", PLMCodecRawMinolta},
    {".nef", PLMCodecRawNikon}, {".nrw", PLMCodecRawNikon},
    {".orf", PLMCodecRawOlympus},
    {".rw2", PLMCodecRawPanasonic},
    {".pef", PLMCodecRawPentax}, {".ptx", PLMCodecRawPentax},
    {".cine", PLMCodecRawPhantom},
    {".cap", PLMCodecRawPhaseOne}, {".iiq", PLMCodecRawPhaseOne},
    {".rwz", PLMCodecRawRawzor},
    {".r3d", PLMCodecRawRed},
    {".srw", PLMCodecRawSamsung},
    {".x3f", PLMCodecRawSigma},
    {".cs1", PLMCodecRawSinar}, {".ia", PLMCodecRawSinar}, {".sti", PLMCodecRawSinar},
    {".arw", PLMCodecRawSony}, {".srf", PLMCodecRawSony}, {".sr2", PLMCodecRawSony},
    {".g3", PLMCodecRawFax},
    {".bw", PLMCodecSGI}, {".rgb", PLMCodecSGI}, {".rgba", PLMCodecSGI}, {".sgi", PLMCodecSGI},
    {".svg", PLMCodecSVG}, {".svgz", PLMCodecSVG},
    {".targa", PLMCodecTGA}, {".tga", PLMCodecTGA},
    {".tif", PLMCodecTIFF}, {".tiff", PLMCodecTIFF},
    {".wap", PLMCodecWBMP}, {".wbm", PLMCodecWBMP}, {".wbmp", PLMCodecWBMP},
    {".webp", PLMCodecWEBP},
    {".xbm", PLMCodecXBM},
    {".xpm", PLMCodecXPM},
    {".heic", PLMCodecHEIF}, {".heif", PLMCodecHEIF},
    {".avif", PLMCodecAVIF},
    {".jxl", PLMCodecJXL},
};

constexpr int kExtensionCount = int(sizeof(kExtensions) / sizeof(kExtensions[0]));
static_assert(kExtensionCount == 100, "the extension table holds 100 entries");

} // namespace

bool PLMImageCodecVetoer::IsEnabled(PLMImageCodecID id, PLMImageIOType type) const
{
    if (!PLMImageCodec::IsValid(id)) {
        qWarning().nospace() << "PLMImageCodecVetoer::IsEnabled   Invalid PLMImageCodec: " << int(id);
        return false;
    }
    switch (type) {
    case PLMImageIORead:
        return kCodecs[id].readable;
    case PLMImageIOWrite:
        return kCodecs[id].writable;
    case PLMImageIONone:
        return false;
    }
    qWarning().nospace() << "PLMImageCodecVetoer::IsEnabled   Invalid PLMImageIOType: " << int(type);
    return false;
}

PLMImageCodec::PLMImageCodec(PLMImageCodecID id)
    : codecID(id)
{
    if (!IsValid(id))
        qWarning().nospace() << "PLMImageCodec::PLMImageCodec  Invalid PLMImageCodecID: " << int(id);
}

PLMImageCodec::PLMImageCodec(const QString& fileName)
    : codecID(GetID(QStringLiteral(".") + QFileInfo(fileName).suffix()))
{
    if (codecID == PLMCodecInvalid)
        qWarning().noquote() << "PLMImageCodec::PLMImageCodec   CodecID matching " + fileName + " can not be found";
}

PLMImageCodecID PLMImageCodec::GetID(const QString& extension)
{
    for (const ExtensionRecord& entry : kExtensions) {
        if (extension.compare(QLatin1String(entry.extension), Qt::CaseInsensitive) == 0)
            return entry.id;
    }
    qWarning().noquote().nospace() << "PLMImageCodec::GetID   No codec matching the extension " << extension;
    return PLMCodecInvalid;
}

QString PLMImageCodec::GetName() const
{
    return IsValid(codecID) ? QString::fromLatin1(kCodecs[codecID].name) : QString();
}

QString PLMImageCodec::GetDescription() const
{
    return IsValid(codecID) ? QString::fromLatin1(kCodecs[codecID].description) : QString();
}

QString PLMImageCodec::GetExtension(int index) const
{
    if (index < 0)
        return QString();
    int position = 0;
    for (const ExtensionRecord& entry : kExtensions) {
        if (entry.id != codecID)
            continue;
        if (position == index)
            return QString::fromLatin1(entry.extension);
        ++position;
    }
    return QString();
}

QStringList PLMImageCodec::GetExtensions() const
{
    QStringList extensions;
    for (const ExtensionRecord& entry : kExtensions) {
        if (entry.id == codecID)
            extensions << QString::fromLatin1(entry.extension);
    }
    return extensions;
}

bool PLMImageCodec::HasOptions(PLMImageCodecID id)
{
    return IsValid(id) && kCodecs[id].hasOptions;
}

bool PLMImageCodec::CanKeepMetadata(PLMImageCodecID id)
{
    return id == PLMCodecGIF || id == PLMCodecJPEG || id == PLMCodecPNG || id == PLMCodecTIFF || id == PLMCodecHEIF
        || id == PLMCodecAVIF || id == PLMCodecJXL;
}

int PLMImageCodec::ExtensionCount()
{
    return kExtensionCount;
}

void GetReadFilter(QString& filter, const PLMImageCodecVetoer& vetoer)
{
    filter.clear();
    filter += QStringLiteral("All Images (");
    for (int i = 0; i < kExtensionCount; ++i) {
        filter += QLatin1Char('*') + QLatin1String(kExtensions[i].extension);
        filter += (i + 1 < kExtensionCount) ? QStringLiteral(";") : QStringLiteral(");; ");
    }

    QStringList entries;
    int i = 0;
    while (i < kExtensionCount) {
        const PLMImageCodecID id = kExtensions[i].id;
        int runEnd = i;
        while (runEnd < kExtensionCount && kExtensions[runEnd].id == id)
            ++runEnd;
        if (vetoer.IsEnabled(id, PLMImageIORead)) {
            QString entry = QString::fromLatin1(kCodecs[id].description) + QStringLiteral(" (");
            for (int j = i; j < runEnd; ++j) {
                if (j > i)
                    entry += QLatin1Char(';');
                entry += QLatin1Char('*') + QLatin1String(kExtensions[j].extension);
            }
            entry += QStringLiteral(");; ");
            entries << entry;
        }
        i = runEnd;
    }
    entries.sort(Qt::CaseSensitive);
    if (!entries.isEmpty())
        entries.last().chop(3);
    filter += entries.join(QString());
}

QString GetFileDialogFilter(const QString& readFilter)
{
    QString filter = readFilter;
    int depth = 0;
    for (QChar& c : filter) {
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')'))
            depth = qMax(0, depth - 1);
        else if (depth > 0 && c == QLatin1Char(';'))
            c = QLatin1Char(' ');
    }
    return filter;
}
