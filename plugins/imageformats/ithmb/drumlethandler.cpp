#include "drumlethandler.h"
#include "drumlethandler_p.h"
#include "graphics/plugincontract.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QIODevice>
#include <QSettings>
#include <QSize>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>

namespace {

// The known raw frame sizes. The geometry and pixel layout of a raw frame are
// not stored in the file; they follow from the first row whose frame size
// divides the file size, so the order matters (it is not sorted by size).
const IthmbInfo IthmbFrameTable[] = {
    { 0, 871780, 720, 480, DrumletHandlerPrivate::FormatYuvInterlaced, false },
    { 0, 794040, 720, 480, DrumletHandlerPrivate::FormatYuvInterlaced, false },
    { 0, 691200, 720, 480, DrumletHandlerPrivate::FormatYuvInterlaced, false },
    { 0, 671600, 640, 480, DrumletHandlerPrivate::FormatRgb16Le, false },
    { 0, 624000, 650, 480, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 614400, 640, 480, DrumletHandlerPrivate::FormatRgb16Le, false },
    { 0, 220448, 332, 332, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 307200, 320, 240, DrumletHandlerPrivate::FormatRgbx32, false },
    { 0, 153600, 320, 240, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 115200, 240, 240, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 80000, 200, 200, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 77440, 220, 176, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 55112, 166, 166, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 49928, 158, 158, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 46464, 176, 132, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 40960, 160, 128, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 39200, 140, 140, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 28800, 120, 120, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 22880, 130, 88, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 20000, 100, 100, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 12640, 80, 79, DrumletHandlerPrivate::FormatRgb16Le, false },
    { 0, 12482, 79, 79, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 8192, 64, 64, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 8176, 73, 56, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 6272, 56, 56, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 4100, 50, 41, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 3528, 42, 42, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 3108, 42, 37, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 2520, 42, 30, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 2460, 41, 30, DrumletHandlerPrivate::FormatRgb565Be, false },
    { 0, 2048, 32, 32, DrumletHandlerPrivate::FormatRgb565Be, false },
};

// Frames of this size carry a header; their pixels start this far in.
const qint32 PaddedFrameBytes = 671600;
const qint32 PaddedFrameHeader = 18800;

// Embedded JPEGs start with SOI and a JFIF APP0 segment.
const char JpegMarker[] = { '\xFF', '\xD8', '\xFF', '\xE0' };
const char JfifTag[] = { 'J', 'F', 'I', 'F', '\0' };
const int JfifTagDistance = 6;   // marker, then the two bytes of the segment length

// Reads the rest of the device, or nothing when the frames could not be
// read back from it: a device without random access (frames are read by
// seeking) or one too large for the 32-bit offsets and sizes of the records.
QByteArray ReadRemainingBytes(QIODevice* device, const char** refusal)
{
    *refusal = nullptr;
    if (device->isSequential()) {
        *refusal = "sequential device";
        return QByteArray();
    }
    if (device->size() > DrumletHandlerPrivate::MaxFileSize) {
        *refusal = "file too large";
        return QByteArray();
    }
    return device->readAll();
}

uchar UnitToLevel(float value)
{
    if (value < 0.0f)
        value = 0.0f;
    if (value > 1.0f)
        value = 1.0f;
    return uchar(int(value * 255.0f));
}

uchar ScaleField(int value, float maximum)
{
    return uchar(int(std::floor(float(value) * 255.0f / maximum + 0.5f)));
}

} // namespace

// ---------------------------------------------------------------------------
// DrumletHandlerPrivate

DrumletHandlerPrivate::DrumletHandlerPrivate(DrumletHandler* q)
    : q(q), iPage(0), bCounted(false), iMode(ModeNone), bTextRead(false)
{
    qDebug() << "DrumletHandlerPrivate::DrumletHandlerPrivate";
}

DrumletHandlerPrivate::~DrumletHandlerPrivate()
{
    qDebug() << "DrumletHandlerPrivate::~DrumletHandlerPrivate";
    q = nullptr;
    lIthmb.clear();
    iPage = 0;
    bCounted = false;
    iMode = ModeNone;
    bTextRead = false;
    sText.clear();
}

int DrumletHandlerPrivate::imageCount() const
{
    qDebug() << "DrumletHandlerPrivate::imageCount";
    if (bCounted)
        return lIthmb.size();

    QIODevice* device = q ? q->device() : nullptr;
    if (!device) {
        qWarning() << "DrumletHandlerPrivate::imageCount   QByteArray is invalid";
        return 0;
    }
    // Offsets are kept from the start of the file, wherever the device stands.
    const qint64 start = device->pos();
    const char* refusal = nullptr;
    const QByteArray data = ReadRemainingBytes(device, &refusal);
    if (refusal) {
        qWarning() << "DrumletHandlerPrivate::imageCount  " << refusal;
        return 0;
    }
    if (data.isEmpty()) {
        qWarning() << "DrumletHandlerPrivate::imageCount   QByteArray is invalid";
        return 0;
    }

    // Whole JPEG streams laid end to end: each runs from its accepted marker
    // to the next accepted marker or to the end of the data.
    const QByteArray marker = QByteArray::fromRawData(JpegMarker, sizeof JpegMarker);
    const QByteArray tag = QByteArray::fromRawData(JfifTag, sizeof JfifTag);
    int prev = -1;
    int pos = data.indexOf(marker);
    while (pos != -1) {
        if (data.mid(pos + JfifTagDistance, tag.size()) == tag) {
            if (prev >= 0)
                lIthmb.append({ qint32(start + prev), pos - prev, -1, -1, -1, true });
            prev = pos;
        }
        pos = data.indexOf(marker, pos + 1);
    }
    if (prev >= 0)
        lIthmb.append({ qint32(start + prev), data.size() - prev, -1, -1, -1, true });
    if (!lIthmb.isEmpty()) {
        bCounted = true;
        iMode = ModeJpeg;
        return lIthmb.size();
    }

    // Raw frames of one of the known sizes.
    const qint64 fileSize = device->size();
    for (const IthmbInfo& row : IthmbFrameTable) {
        if (fileSize % row.iSize != 0)
            continue;
        const qint32 frames = qint32(fileSize / row.iSize);
        const qint32 header = row.iSize == PaddedFrameBytes ? PaddedFrameHeader : 0;
        for (qint32 i = 0; i < frames; ++i) {
            IthmbInfo frame = row;
            frame.iOffset = i * row.iSize + header;
            lIthmb.append(frame);
        }
        bCounted = true;
        iMode = ModeRaw;
        break;
    }
    return lIthmb.size();
}

bool DrumletHandlerPrivate::jumpToImage(int imageNumber)
{
    qDebug() << "DrumletHandlerPrivate::jumpToImage";
    if (!bCounted)
        imageCount();
    if (imageNumber < 0 || lIthmb.isEmpty() || imageNumber >= lIthmb.size())
        return false;
    iPage = imageNumber;
    return true;
}

bool DrumletHandlerPrivate::jumpToNextImage()
{
    qDebug() << "DrumletHandlerPrivate::jumpToNextImage";
    if (!bCounted)
        imageCount();
    if (iPage >= 0 && !lIthmb.isEmpty() && iPage + 1 < lIthmb.size()) {
        ++iPage;
        return true;
    }
    iPage = -1;
    return false;
}

int DrumletHandlerPrivate::currentImageNumber() const
{
    qDebug() << "DrumletHandlerPrivate::currentImageNumber";
    return iPage;
}

bool DrumletHandlerPrivate::read(QImage* image)
{
    qDebug() << "DrumletHandlerPrivate::read";
    QIODevice* device = q ? q->device() : nullptr;
    if (!bCounted)
        imageCount();
    if (iPage < 0 || lIthmb.isEmpty() || iPage >= lIthmb.size())
        return false;
    const bool decoded = IthmbToQImage(image, device);
    jumpToNextImage();
    return decoded;
}

bool DrumletHandlerPrivate::IthmbToQImage(QImage* image, QIODevice* device)
{
    if (iPage < 0 || iPage >= lIthmb.size()) {
        qWarning() << "DrumletHandlerPrivate::IthmbToQImage   iPage >= lIthmb.size()";
        return false;
    }
    const IthmbInfo r = lIthmb.at(iPage);
    if (!image || !device || r.iSize <= 0 || r.iOffset < 0)
        return false;

    // Bytes the device does not deliver (a truncated file) stay FF.
    QByteArray data(r.iSize, '\xFF');
    if (!device->seek(r.iOffset))
        return false;
    qint64 got = 0;
    while (got < r.iSize) {
        const qint64 n = device->read(data.data() + got, r.iSize - got);
        if (n <= 0)
            break;
        got += n;
    }

    return r.bJpeg ? DecodeJpeg(image, data) : DecodeRaw(image, r, data);
}

bool DrumletHandlerPrivate::DecodeJpeg(QImage* image, const QByteArray& data)
{
    // Qt's own JPEG reader does the decoding, from a file of its own.
    QTemporaryDir dir;
    if (!dir.isValid())
        return false;
    const QString path = dir.path() + QStringLiteral("/ithmb.jpg");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return false;
    }

    QImageReader reader(path, QByteArray());
    const QImage decoded = reader.read();
    if (decoded.isNull())
        return false;
    *image = decoded;

    // The description always tells the first picture this handler decoded.
    if (!bTextRead) {
        sText.clear();
        QStringList keys = reader.textKeys();
        keys.removeAll(QString());
        for (const QString& key : qAsConst(keys))
            sText += key + QStringLiteral(": ") + reader.text(key) + QStringLiteral("\n\n");
        bTextRead = true;
    }
    return true;
}

bool DrumletHandlerPrivate::DecodeRaw(QImage* image, const IthmbInfo& info, const QByteArray& data)
{
    const int w = info.iWidth;
    const int h = info.iHeight;
    if (w <= 0 || h <= 0)
        return false;
    const qint64 pixelBytes = info.iFormat == FormatRgbx32 ? 4 : 2;
    if (qint64(data.size()) < qint64(w) * h * pixelBytes)
        return false;

    QImage frame(w, h, QImage::Format_ARGB32);
    if (frame.isNull())
        return false;
    const uchar* b = reinterpret_cast<const uchar*>(data.constData());

    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const qint64 k = qint64(y) * w + x;
            uchar red = 0, green = 0, blue = 0;
            switch (info.iFormat) {
            case FormatYuvInterlaced: {
                // Even rows form the first field, odd rows the second.
                const qint64 g = qint64(y % 2) * w * h + qint64(y / 2) * 2 * w + 2 * (x - x % 2);
                const float u = (b[g] / 255.0f - 0.5f) * 2.0f;
                const float v = (b[g + 2] / 255.0f - 0.5f) * 2.0f;
                const float luma = (b[x % 2 ? g + 3 : g + 1] / 255.0f - 0.5f) * 2.0f;
                red = UnitToLevel((luma + 1.14f * v) * 0.5f + 0.5f);
                green = UnitToLevel((luma - 0.394f * u - 0.581f * v) * 0.5f + 0.5f);
                blue = UnitToLevel((luma + 2.028f * u) * 0.5f + 0.5f);
                break;
            }
            case FormatRgb16Le:
                UnpackRgb16Le(quint16(b[2 * k] | (b[2 * k + 1] << 8)), &red, &green, &blue);
                break;
            case FormatRgb565Be:
                UnpackRgb565(quint16((b[2 * k] << 8) | b[2 * k + 1]), &red, &green, &blue);
                break;
            case FormatRgbx32:
                red = b[4 * k];
                green = b[4 * k + 1];
                blue = b[4 * k + 2];
                break;
            default:
                return false;
            }
            line[x] = qRgba(red, green, blue, 255);
        }
    }
    if (info.iFormat != FormatYuvInterlaced)
        AutoLevels(&frame);
    *image = frame;
    return true;
}

QVariant DrumletHandlerPrivate::option(QImageIOHandler::ImageOption option) const
{
    switch (option) {
    case QImageIOHandler::Size:
        if (iMode == ModeJpeg && iPage >= 0 && iPage < lIthmb.size())
            return PluginContract::EmbeddedJpegSpan(lIthmb.at(iPage).iOffset, lIthmb.at(iPage).iSize);
        return QVariant();
    case QImageIOHandler::Description:
        if (iMode == ModeJpeg)
            return QVariant(QString(sText));
        return QVariant();
    default:
        return QVariant();
    }
}

void DrumletHandlerPrivate::AutoLevels(QImage* image)
{
    if (!image || image->isNull())
        return;
    if (image->format() != QImage::Format_ARGB32 && image->format() != QImage::Format_RGB32)
        *image = image->convertToFormat(QImage::Format_ARGB32);

    const int w = image->width();
    const int h = image->height();
    const qint64 n = qint64(w) * h;
    qint64 lowCut = qint64(float(n) * 1.5f / 100.0f + 0.5f);
    qint64 highCut = qint64(float(n) * 2.5f / 100.0f + 0.5f);
    if (lowCut + highCut >= n) {
        lowCut = (n - 1) / 2;
        highCut = (n - 1) / 2;
    }

    qint64 cumulative[3][256] = {};
    for (int y = 0; y < h; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image->constScanLine(y));
        for (int x = 0; x < w; ++x) {
            ++cumulative[0][qRed(line[x])];
            ++cumulative[1][qGreen(line[x])];
            ++cumulative[2][qBlue(line[x])];
        }
    }

    uchar table[3][256];
    for (int c = 0; c < 3; ++c) {
        qint64* count = cumulative[c];
        for (int v = 1; v < 256; ++v)
            count[v] += count[v - 1];

        int lo = 255;
        for (int v = 0; v < 256; ++v) {
            if (count[v] > lowCut) {
                lo = v;
                break;
            }
        }
        int hi = 0;   // stays 0 when no level qualifies
        for (int v = 255; v >= 0; --v) {
            if (count[v] <= n - highCut) {
                hi = v;
                break;
            }
        }
        if (hi < 255)
            ++hi;

        for (int v = 0; v < 256; ++v) {
            if (lo >= hi)
                table[c][v] = uchar(v);   // a (nearly) constant channel keeps its levels
            else if (v < lo)
                table[c][v] = 0;
            else if (v < hi)
                table[c][v] = uchar(int(double(v - lo) * 255.0 / double(hi - lo) + 0.5));
            else
                table[c][v] = 255;
        }
    }

    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image->scanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(table[0][qRed(p)], table[1][qGreen(p)], table[2][qBlue(p)], qAlpha(p));
        }
    }
}

void DrumletHandlerPrivate::UnpackRgb16Le(quint16 word, uchar* red, uchar* green, uchar* blue)
{
    // The red field is six bits wide but scaled by 255/64, so it tops out at 251.
    *blue = ScaleField(word & 0x1F, 31.0f);
    *green = ScaleField((word >> 5) & 0x1F, 31.0f);
    *red = ScaleField((word >> 10) & 0x3F, 64.0f);
}

void DrumletHandlerPrivate::UnpackRgb565(quint16 word, uchar* red, uchar* green, uchar* blue)
{
    *blue = ScaleField(word & 0x1F, 31.0f);
    *green = ScaleField((word >> 5) & 0x3F, 63.0f);
    *red = ScaleField((word >> 11) & 0x1F, 31.0f);
}

// ---------------------------------------------------------------------------
// DrumletHandler

DrumletHandler::DrumletHandler()
    : d(new DrumletHandlerPrivate(this))
{
}

DrumletHandler::~DrumletHandler()
{
    delete d;
}

QByteArray DrumletHandler::name() const
{
    return QByteArrayLiteral("ithmb");
}

bool DrumletHandler::canRead() const
{
    return canRead(device(), format());
}

bool DrumletHandler::canRead(QIODevice* device, const QByteArray& format)
{
    // Only the format key decides: the content is never sniffed, so probing
    // with an empty format never lands here.
    if (QString::fromLatin1(format) != QLatin1String("ithmb"))
        return false;
    return !device || device->isReadable();
}

bool DrumletHandler::canWrite()
{
    return false;
}

bool DrumletHandler::read(QImage* image)
{
    return d->read(image);
}

QVariant DrumletHandler::option(ImageOption option) const
{
    return d->option(option);
}

void DrumletHandler::setOption(ImageOption option, const QVariant& value)
{
    // Nothing can be set.
    Q_UNUSED(option)
    Q_UNUSED(value)
}

bool DrumletHandler::supportsOption(ImageOption option) const
{
    switch (option) {
    case Size:
        return true;
    case Description:
        if (!d->bCounted)
            d->imageCount();
        return d->iMode == DrumletHandlerPrivate::ModeJpeg;
    default:
        return false;
    }
}

bool DrumletHandler::jumpToNextImage()
{
    return d->jumpToNextImage();
}

bool DrumletHandler::jumpToImage(int imageNumber)
{
    return d->jumpToImage(imageNumber);
}

int DrumletHandler::imageCount() const
{
    return d->imageCount();
}

int DrumletHandler::currentImageNumber() const
{
    return d->currentImageNumber();
}

// ---------------------------------------------------------------------------
// DrumletPlugin

DrumletPlugin::DrumletPlugin()
    : QImageIOPlugin(nullptr), bEnabled(false)
{
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
    bEnabled = settings.value(QStringLiteral("Ithmb"), false).toBool();
}

QImageIOPlugin::Capabilities DrumletPlugin::capabilities(QIODevice* device, const QByteArray& format) const
{
    Capabilities caps;
    if (!bEnabled)
        return caps;
    if (DrumletHandler::canRead(device, format))
        caps |= CanRead;
    if (DrumletHandler::canWrite())
        caps |= CanWrite;
    return caps;
}

QImageIOHandler* DrumletPlugin::create(QIODevice* device, const QByteArray& format) const
{
    if (!bEnabled)
        return nullptr;
    DrumletHandler* handler = new DrumletHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}
