#include "fihandler.h"

#include "avifcodec.h"
#include "fiformat.h"
#include "filibrary.h"
#include "fireader.h"
#include "fisanitize.h"
#include "fiwriter.h"
#include "heifcodec.h"
#include "icoencoder.h"
#include "jxlcodec.h"
#include "qtdelegate.h"
#include "graphics/plugincontract.h"

#include <QFile>
#include <QIODevice>
#include <QSettings>
#include <QTransform>
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

// The key of Qt's plugin that reads the file when ours cannot: the handler's
// own key while the content does not say otherwise, then the format's
// name (a GIF named .jpg goes to Qt's GIF reader). Empty when no installed
// Qt plugin serves either.
QByteArray DelegateKey(const QByteArray& file, const QByteArray& key)
{
    const FREE_IMAGE_FORMAT fif = FiFormat::Resolve(file.left(FiFormat::HeadSize), key);
    QList<QByteArray> keys;
    if (fif == FIF_UNKNOWN || FiFormat::FromKey(key) == fif)
        keys << key;
    if (fif != FIF_UNKNOWN) {
        FiLibrary::Ensure();
        keys << QByteArray(FreeImage_GetFormatFromFIF(fif)).toLower();
    }
    for (const QByteArray& candidate : keys) {
        if (QtDelegate::Serves(candidate))
            return candidate;
    }
    return QByteArray();
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
    if (!bEnabled || QtDelegate::BuiltInScope::Active())
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
    if (!bEnabled || QtDelegate::BuiltInScope::Active())
        return nullptr;
    // Found by content under another plugin's key (a PNG named .pdf): name the
    // format that was found, as Qt's own handlers do.
    QByteArray key = format.toLower();
    if (device && !FiFormat::CanReadKey(key)) {
        const FREE_IMAGE_FORMAT fif = FiFormat::Sniff(device);
        if (fif == FIF_UNKNOWN && device->isReadable() && FiFormat::LooksLikeSvg(device->peek(FiFormat::HeadSize))) {
            key = QByteArrayLiteral("svg");
        } else if (fif == FiFormat::FifJpegXr) {
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
    // SVG found by its content (the program's icons have no suffix).
    if (key.isEmpty() && FiFormat::LooksLikeSvg(head))
        return QtDelegate::CanRead(device, QByteArrayLiteral("svg"), true);
    // Formats read only through Qt's own reader: as Qt itself would ask it.
    if (FiFormat::IsQtOnlyKey(key))
        return QtDelegate::CanRead(device, key, true);
    if (!FiFormat::CanReadKey(key) || !KnownByKeyOnly(FiFormat::FromKey(key)))
        return false;
    if (FiFormat::Resolve(head, key) != FIF_UNKNOWN)
        return true;
    // "pic" is Softimage's key too: its files go to Qt's reader of them.
    return key == "pic" && QtDelegate::CanRead(device, key);
}

void FreeImageHandler::Load() const
{
    if (bLoaded)
        return;
    bLoaded = true;
    if (!device() || !device()->isReadable())
        return;
    baFile = device()->readAll();
    // Picture data that ends before the picture does is a failed read, not
    // a picture grey or black where the data is missing; no decoder gets it.
    if (FiSanitize::EndsEarly(baFile, format().toLower())) {
        baFile.clear();
        bDelegateTried = true;
        return;
    }
    pReader.reset(new FiReader);
    if (!pReader->Load(baFile, format())) {
        pReader.reset();
        Delegate();
    }
}

QtDelegateReader* FreeImageHandler::Delegate() const
{
    Load();
    if (!bDelegateTried) {
        bDelegateTried = true;
        const QByteArray key = baFile.isEmpty() ? QByteArray() : DelegateKey(baFile, format().toLower());
        if (!key.isEmpty()) {
            // The program's own resources (its icons) are trusted.
            const QFile* file = qobject_cast<const QFile*>(device());
            const bool trusted = file && file->fileName().startsWith(QLatin1Char(':'));
            // A GIF cut short hands over the frames it holds whole.
            const QByteArray whole = baFile.startsWith("GIF8") ? FiSanitize::WholeGifFrames(baFile) : baFile;
            pDelegate.reset(new QtDelegateReader(whole, key, trusted));
            pDelegate->SetScaledSize(scaledSize);
            pDelegate->SetBackgroundColor(backgroundColor);
            if (!pDelegate->Open())
                pDelegate.reset();
        }
    }
    return pDelegate.get();
}

bool FreeImageHandler::DelegatePage() const
{
    return pDelegate && (!pReader || (iReadPage >= 0 && bReadByDelegate));
}

QImage FreeImageHandler::Scaled(const QImage& picture) const
{
    if (!scaledSize.isValid() || picture.size() == scaledSize)
        return picture;
    QImage scaled = picture.scaled(scaledSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    scaled.setDotsPerMeterX(picture.dotsPerMeterX());
    scaled.setDotsPerMeterY(picture.dotsPerMeterY());
    return scaled;
}

bool FreeImageHandler::canRead() const
{
    if (!bLoaded)
        return canRead(device(), format());
    return iPage < imageCount();
}

bool FreeImageHandler::read(QImage* image)
{
    Load();
    if (!image)
        return false;
    const int page = iPage;
    bool done = false;
    bool byDelegate = false;
    if (pReader && page < pReader->PageCount()) {
        if (pReader->CurrentPage() != page)
            pReader->JumpToPage(page);
        done = pReader->Read(image, scaledSize);
    }
    // A page ours cannot decode is Qt's plugin's to try.
    if (!done && (!pReader || page < pReader->PageCount())) {
        QtDelegateReader* delegate = Delegate();
        if (delegate && page < delegate->PageCount()) {
            const QImage picture = delegate->Take(page);
            if (!picture.isNull()) {
                *image = Scaled(picture);
                done = byDelegate = true;
            }
        }
    }
    if (!done)
        return false;
    iReadPage = page;
    bReadByDelegate = byDelegate;
    iPage = page + 1;
    return true;
}

bool FreeImageHandler::write(const QImage& source)
{
    QIODevice* out = device();
    if (!out || !out->isWritable() || source.isNull())
        return false;
    // No target format stores an orientation: a writer's transformation
    // turns the pixels, as Qt's writer does for handlers without the option.
    QImage image = source;
    if (writeTransformation != TransformationNone) {
        image = image.mirrored(writeTransformation & TransformationMirror, writeTransformation & TransformationFlip);
        if (writeTransformation & TransformationRotate90)
            image = image.transformed(QTransform().rotate(90));
    }
    const QByteArray key = format().toLower();
    if (FiFormat::FromKey(key) == FIF_ICO)
        return WriteIcon(image);
    if (key == "heif" || key == "heic" || key == "avif" || key == "jxl")
        return WriteBoxed(key, image);
    if (FiFormat::IsQtOnlyKey(key))
        return QtDelegate::Write(key, image, out, iQuality);

    FiWriter::Options options;
    options.key = key;
    options.quality = iQuality;
    options.compression = iCompression;
    options.description = sDescription;
    return FiWriter::Write(image, options, out);
}

// HEIF, AVIF and JPEG XL keep Exif and XMP in blocks of their own; the
// quality says lossless as the program's contract has it.
bool FreeImageHandler::WriteBoxed(const QByteArray& key, const QImage& image)
{
    const PhotoMetadata::Blocks blocks = PhotoMetadata::ForTarget(sDescription, image);
    const bool lossless = PluginContract::IsLosslessQuality(iQuality);
    QByteArray file;
    bool encoded = false;
    if (key == "avif")
        encoded = AvifCodec::Encode(image, lossless, iQuality, blocks, file);
    else if (key == "jxl")
        encoded = JxlCodec::Encode(image, lossless, iQuality, blocks, file);
    else
        encoded = HeifCodec::Encode(image, iQuality, blocks, file);
    return encoded && device()->write(file) == file.size();
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
        Load();
        QSize size;
        if (pReader && iPage < pReader->PageCount()) {
            if (pReader->CurrentPage() != iPage)
                pReader->JumpToPage(iPage);
            size = pReader->PageSize();
        }
        if (size.isEmpty() && (!pReader || iPage < pReader->PageCount())) {
            QtDelegateReader* delegate = Delegate();
            if (delegate && iPage < delegate->PageCount())
                size = delegate->PageSize(iPage);
        }
        return size.isEmpty() ? QVariant() : QVariant(size);
    }
    case Quality:
        return iQuality;
    case CompressionRatio:
        return iCompression;
    case Description: {
        if (sDescription.isEmpty() && device() && device()->isReadable()) {
            Load();
            if (pReader)
                return pReader->Description();
            return pDelegate ? pDelegate->Description() : QString();
        }
        return sDescription;
    }
    case ScaledSize:
        return scaledSize;
    case Animation: {
        Load();
        if (pReader)
            return (pReader->Format() == FIF_GIF || pReader->Format() == FIF_WEBP) && pReader->PageCount() > 1;
        return pDelegate && pDelegate->Animation();
    }
    case ImageTransformation: {
        Load();
        if (DelegatePage())
            return int(pDelegate->Transformation(iReadPage >= 0 ? iReadPage : iPage));
        return pReader ? int(pReader->Transformation()) : int(TransformationNone);
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
        if (pDelegate)
            pDelegate->SetScaledSize(scaledSize);
        break;
    case BackgroundColor:
        backgroundColor = value.value<QColor>();
        if (pDelegate)
            pDelegate->SetBackgroundColor(backgroundColor);
        break;
    case ImageTransformation:
        writeTransformation = Transformations(value.toInt() & 7);
        break;
    default:
        break;
    }
}

bool FreeImageHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == Quality || option == CompressionRatio || option == Description
        || option == ScaledSize || option == Animation || option == ImageTransformation || option == BackgroundColor;
}

bool FreeImageHandler::jumpToNextImage()
{
    return jumpToImage(iPage + 1);
}

bool FreeImageHandler::jumpToImage(int imageNumber)
{
    if (imageNumber < 0 || imageNumber >= imageCount())
        return false;
    iPage = imageNumber;
    iReadPage = -1;
    if (pReader)
        pReader->JumpToPage(imageNumber);
    return true;
}

int FreeImageHandler::imageCount() const
{
    Load();
    if (pReader)
        return pReader->PageCount();
    return pDelegate ? pDelegate->PageCount() : 0;
}

int FreeImageHandler::currentImageNumber() const
{
    return iPage;
}

int FreeImageHandler::loopCount() const
{
    Load();
    if (pReader)
        return pReader->LoopCount();
    return pDelegate ? pDelegate->LoopCount() : 0;
}

int FreeImageHandler::nextImageDelay() const
{
    if (iReadPage < 0)
        return 0;
    if (DelegatePage())
        return pDelegate->FrameDelay(iReadPage);
    return pReader ? pReader->FrameDelay() : 0;
}
