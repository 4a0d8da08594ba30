#include "fihandler.h"

#include "fiformat.h"
#include "filibrary.h"
#include "fireader.h"
#include "fiwriter.h"
#include "icoencoder.h"

#include <QIODevice>
#include <QSettings>
#include <QVariant>

namespace {

// Formats without a signature of their own: claimed by their key alone.
bool KnownByKeyOnly(FREE_IMAGE_FORMAT fif)
{
    switch (fif) {
    case FIF_ICO: case FIF_CUT: case FIF_PCD: case FIF_KOALA: case FIF_WBMP: case FIF_TARGA:
    case FIF_RAW: case FIF_PICT:
        return true;
    default:
        return false;
    }
}

} // namespace

FreeImagePlugin::FreeImagePlugin()
    : QImageIOPlugin(nullptr)
    , bEnabled(false)
{
    // The program writes the switch at every start; without it the plugin
    // claims nothing.
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
    bEnabled = settings.value(QStringLiteral("FreeImage"), false).toBool();
}

QImageIOPlugin::Capabilities FreeImagePlugin::capabilities(QIODevice* device, const QByteArray& format) const
{
    if (!bEnabled)
        return {};
    const QByteArray key = format.toLower();
    // Never answer for another plugin's key: Qt asks every plugin about a
    // suffix before it probes contents.
    if (!key.isEmpty() && !FiFormat::CanReadKey(key))
        return {};
    if (!device) {
        if (key.isEmpty())
            return {};
        Capabilities capabilities = CanRead;
        if (FiFormat::CanWriteKey(key))
            capabilities |= CanWrite;
        return capabilities;
    }

    Capabilities capabilities;
    if (device->isReadable() && FreeImageHandler::canRead(device, key))
        capabilities |= CanRead;
    // Writing only when asked for by name; probing by content never claims it.
    if (!key.isEmpty() && FiFormat::CanWriteKey(key) && device->isWritable())
        capabilities |= CanWrite;
    return capabilities;
}

QImageIOHandler* FreeImagePlugin::create(QIODevice* device, const QByteArray& format) const
{
    if (!bEnabled)
        return nullptr;
    // Found by content under another plugin's key (a PNG named .pdf): name the
    // format that was found, as Qt's own handlers do.
    QByteArray key = format.toLower();
    if (device && !FiFormat::CanReadKey(key)) {
        const FREE_IMAGE_FORMAT fif = FiFormat::Sniff(device);
        if (fif == FiFormat::FifJpegXr) {
            key = QByteArrayLiteral("jxr");
        } else if (fif != FIF_UNKNOWN) {
            FiLibrary::Ensure();
            key = QByteArray(FreeImage_GetFormatFromFIF(fif)).toLower();
        }
    }
    FreeImageHandler* handler = new FreeImageHandler;
    handler->setDevice(device);
    handler->setFormat(key);
    return handler;
}

FreeImageHandler::FreeImageHandler() = default;

FreeImageHandler::~FreeImageHandler() = default;

QByteArray FreeImageHandler::name() const
{
    return format();
}

bool FreeImageHandler::canRead(QIODevice* device, const QByteArray& format)
{
    if (!device || !device->isReadable())
        return false;
    const QByteArray head = device->peek(FiFormat::HeadSize);
    if (FiFormat::Sniff(head) != FIF_UNKNOWN)
        return true;
    const QByteArray key = format.toLower();
    if (!FiFormat::CanReadKey(key) || !KnownByKeyOnly(FiFormat::FromKey(key)))
        return false;
    return FiFormat::Resolve(head, key) != FIF_UNKNOWN;
}

FiReader* FreeImageHandler::Reader() const
{
    if (!pReader && !bReaderFailed) {
        pReader.reset(new FiReader);
        if (!pReader->Load(device(), format())) {
            pReader.reset();
            bReaderFailed = true;
        }
    }
    return pReader.get();
}

bool FreeImageHandler::canRead() const
{
    if (pReader)
        return pReader->CurrentPage() < pReader->PageCount();
    if (bReaderFailed)
        return false;
    return canRead(device(), format());
}

bool FreeImageHandler::read(QImage* image)
{
    FiReader* reader = Reader();
    return reader && reader->Read(image, scaledSize);
}

bool FreeImageHandler::write(const QImage& image)
{
    QIODevice* out = device();
    if (!out || !out->isWritable() || image.isNull())
        return false;
    const QByteArray key = format().toLower();
    if (FiFormat::FromKey(key) == FIF_ICO)
        return WriteIcon(image);

    FiWriter::Options options;
    options.key = key;
    options.quality = iQuality;
    options.compression = iCompression;
    options.description = sDescription;
    QByteArray file;
    if (!FiWriter::Encode(image, options, file))
        return false;
    return out->write(file) == file.size();
}

// Every write adds a picture: the icon file is written again from its start
// with all pictures so far, so one writer makes one icon of several sizes.
bool FreeImageHandler::WriteIcon(const QImage& image)
{
    if (image.width() > IcoEncoder::MaxSide || image.height() > IcoEncoder::MaxSide)
        return false;
    QIODevice* out = device();
    if (iIconStart >= 0 && out->isSequential())
        return false;
    lIconImages << image.convertToFormat(QImage::Format_ARGB32);
    QByteArray file;
    if (!IcoEncoder::Encode(lIconImages, file)) {
        lIconImages.removeLast();
        return false;
    }
    if (iIconStart < 0)
        iIconStart = out->isSequential() ? 0 : out->pos();
    else if (!out->seek(iIconStart))
        return false;
    return out->write(file) == file.size();
}

QVariant FreeImageHandler::option(ImageOption option) const
{
    switch (option) {
    case Size: {
        FiReader* reader = Reader();
        const QSize size = reader ? reader->PageSize() : QSize();
        return size.isValid() ? QVariant(size) : QVariant();
    }
    case Quality:
        return iQuality;
    case CompressionRatio:
        return iCompression;
    case Description: {
        if (sDescription.isEmpty() && device() && device()->isReadable()) {
            FiReader* reader = Reader();
            return reader ? reader->Description() : QString();
        }
        return sDescription;
    }
    case ScaledSize:
        return scaledSize;
    case Animation: {
        FiReader* reader = Reader();
        return reader && reader->Format() == FIF_GIF && reader->PageCount() > 1;
    }
    default:
        return QVariant();
    }
}

void FreeImageHandler::setOption(ImageOption option, const QVariant& value)
{
    switch (option) {
    case Quality:
        iQuality = value.toInt();
        break;
    case CompressionRatio:
        iCompression = value.toInt();
        break;
    case Description:
        sDescription = value.toString();
        break;
    case ScaledSize:
        scaledSize = value.toSize();
        break;
    default:
        break;
    }
}

bool FreeImageHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == Quality || option == CompressionRatio || option == Description
        || option == ScaledSize || option == Animation;
}

bool FreeImageHandler::jumpToNextImage()
{
    FiReader* reader = Reader();
    return reader && reader->JumpToPage(reader->CurrentPage() + 1);
}

bool FreeImageHandler::jumpToImage(int imageNumber)
{
    FiReader* reader = Reader();
    return reader && reader->JumpToPage(imageNumber);
}

int FreeImageHandler::imageCount() const
{
    FiReader* reader = Reader();
    return reader ? reader->PageCount() : 0;
}

int FreeImageHandler::currentImageNumber() const
{
    FiReader* reader = Reader();
    return reader ? reader->CurrentPage() : 0;
}

int FreeImageHandler::loopCount() const
{
    FiReader* reader = Reader();
    return reader ? reader->LoopCount() : 0;
}

int FreeImageHandler::nextImageDelay() const
{
    FiReader* reader = Reader();
    return reader ? reader->FrameDelay() : 0;
}
