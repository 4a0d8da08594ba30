#include "pdfhandler.h"

#include "pdfreader.h"
#include "pdfwriter.h"

#include <QDebug>
#include <QImage>
#include <QIODevice>
#include <QSettings>
#include <QVariant>

namespace {

const QByteArray sFormat = QByteArrayLiteral("pdf");

} // namespace

PdfPlugin::PdfPlugin()
    : QImageIOPlugin(nullptr)
    , bEnabled(false)
{
    // The program writes the switch at every start; without it the plugin
    // claims nothing.
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));
    bEnabled = settings.value(QStringLiteral("Xpdf"), false).toBool();
}

QImageIOPlugin::Capabilities PdfPlugin::capabilities(QIODevice* device, const QByteArray& format) const
{
    if (!bEnabled)
        return {};
    const bool named = format.toLower() == sFormat;
    if (!named && !format.isEmpty())
        return {};
    if (!device)
        return named ? Capabilities(CanRead | CanWrite) : Capabilities();

    Capabilities capabilities;
    if (device->isReadable() && PdfHandler::canRead(device))
        capabilities |= CanRead;
    // Writing only when asked for by name; probing by content never claims it.
    if (named && device->isWritable())
        capabilities |= CanWrite;
    return capabilities;
}

QImageIOHandler* PdfPlugin::create(QIODevice* device, const QByteArray& format) const
{
    if (!bEnabled)
        return nullptr;
    PdfHandler* handler = new PdfHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? sFormat : format);
    return handler;
}

PdfHandler::PdfHandler()
    : iQuality(-1)
{
}

PdfHandler::~PdfHandler() = default;

QByteArray PdfHandler::name() const
{
    return sFormat;
}

bool PdfHandler::canRead(QIODevice* device)
{
    if (!device)
        return false;
    return device->peek(5) == QByteArrayLiteral("%PDF-");
}

PdfReader* PdfHandler::Reader() const
{
    if (!pReader)
        pReader.reset(new PdfReader);
    if (!pReader->IsLoaded() && !pReader->LoadFailed())
        pReader->Load(device());
    return pReader.get();
}

bool PdfHandler::canRead() const
{
    if (pReader) {
        if (!pReader->IsLoaded())
            return false;
        return pReader->CurrentPage() < pReader->PageCount();
    }
    if (!canRead(device()))
        return false;
    setFormat(sFormat);
    return true;
}

bool PdfHandler::read(QImage* image)
{
    PdfReader* reader = Reader();
    if (!reader->IsLoaded())
        return false;
    return reader->Read(image, PdfReader::DpiFromQuality(iQuality));
}

bool PdfHandler::write(const QImage& image)
{
    if (!pWriter)
        pWriter.reset(new PdfWriter(device()));
    return pWriter->Write(image, PdfPageSetup::FromQuality(iQuality));
}

QVariant PdfHandler::option(ImageOption option) const
{
    switch (option) {
    case Size: {
        const QSize size = Reader()->PageSize(PdfReader::DpiFromQuality(iQuality));
        return size.isValid() ? QVariant(size) : QVariant();
    }
    case Quality:
        return iQuality;
    case Description:
        return Reader()->Description();
    case ImageFormat:
        return QImage::Format_RGB32;
    default:
        return QVariant();
    }
}

void PdfHandler::setOption(ImageOption option, const QVariant& value)
{
    if (option == Quality)
        iQuality = value.toInt();
}

bool PdfHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == Quality || option == Description || option == ImageFormat;
}

bool PdfHandler::jumpToNextImage()
{
    PdfReader* reader = Reader();
    return reader->JumpToPage(reader->CurrentPage() + 1);
}

bool PdfHandler::jumpToImage(int imageNumber)
{
    return Reader()->JumpToPage(imageNumber);
}

int PdfHandler::imageCount() const
{
    return Reader()->PageCount();
}

int PdfHandler::currentImageNumber() const
{
    return Reader()->CurrentPage();
}
