#include "pagewriter.h"

#include "applyedits.h"
#include "icojoin.h"
#include "targetfile.h"
#include "threadgrants.h"
#include "graphics/plugincontract.h"

#include <QBuffer>
#include <QDebug>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include <memory>

namespace {

int DotsPerMeter(int dpi)
{
    return RoundHalfUp(dpi * 1000.0 / 25.4);
}

void SetWriterOptions(QImageWriter& writer, const ConvertSettings& settings)
{
    switch (settings.TgtID) {
    case PLMCodecJPEG:
        writer.setQuality(settings.JPEGCmpsnQuality);
        break;
    case PLMCodecJPEG2000:
        writer.setCompression(settings.J2000LlCmpsn ? 1 : settings.J2000CmpsnRate);
        break;
    case PLMCodecJPEGXR:
        writer.setQuality(PluginContract::JpegXrQuality(settings.JPEGXRLlCmpsn, settings.JPEGXRCmpsnQuality));
        break;
    case PLMCodecPDF:
        writer.setQuality(PluginContract::PackPdfLayout(settings.PageSize, settings.PageOri, settings.Align));
        break;
    case PLMCodecWEBP:
        writer.setQuality(PluginContract::WriterQuality(settings.WEBPLlCmpsn, settings.WEBPCmpsnQuality));
        break;
    case PLMCodecHEIF:
        writer.setQuality(settings.HEIFCmpsnQuality);
        break;
    case PLMCodecAVIF:
        writer.setQuality(PluginContract::WriterQuality(settings.AVIFLlCmpsn, settings.AVIFCmpsnQuality));
        break;
    case PLMCodecJXL:
        writer.setQuality(PluginContract::WriterQuality(settings.JXLLlCmpsn, settings.JXLCmpsnQuality));
        break;
    default:
        break;
    }
}

} // namespace

namespace ImageConvert {

ConvertState ConvertPage(QImage& pageImage, const QString& tgtFilePath, PLMImageCodecID srcCodecID,
                         const QString& mdKeys, const QString& mdValues, const ConvertSettings& settings,
                         const ConvertCancelFlag* cancel)
{
    qDebug() << "ImageConvert::ConvertPage";
    if (pageImage.isNull()) {
        qWarning() << "ImageConvert::ConvertPage   pageImage invalid";
        return ConvertFailed;
    }
    if (IsCanceled(cancel)) {
        qWarning() << "ImageConvert::ConvertPage   Canceled";
        return ConvertCanceled;
    }
    if (settings.edited)
        ApplyEdits(cancel, pageImage, settings);
    if (IsCanceled(cancel)) {
        qWarning() << "ImageConvert::ConvertPage   Canceled";
        return ConvertCanceled;
    }

    // The writer goes to a temporary file, so it is told the format the file
    // name's suffix names, as it would find it from the target name itself.
    TargetFile file(tgtFilePath);
    std::unique_ptr<QImageWriter> writer(new QImageWriter);
    writer->setFormat(QFileInfo(tgtFilePath).suffix().toLower().toLatin1());
    SetWriterOptions(*writer, settings);
    if (settings.KeepMd && !mdKeys.isEmpty() && !mdValues.isEmpty())
        writer->setText(mdKeys, mdValues);
    if (IsCanceled(cancel)) {
        qWarning() << "ImageConvert::ConvertPage   Canceled";
        return ConvertCanceled;
    }

    // Vector sources were rendered at the target resolution; raster sources
    // keep theirs unless a target resolution is asked for.
    const int dotsPerMeter = DotsPerMeter(settings.TgtDPI);
    if (srcCodecID == PLMCodecPDF || srcCodecID == PLMCodecSVG || !settings.TgtDPISameSrc) {
        pageImage.setDotsPerMeterX(dotsPerMeter);
        pageImage.setDotsPerMeterY(dotsPerMeter);
    }

    const bool icon = settings.TgtID == PLMCodecICO;
    if (icon && (settings.ICODim & 63) == 0) {
        qWarning() << "ImageConvert::ConvertPage   no icon size";
        return ConvertFailed;           // nothing would be written
    }
    if (!file.Open()) {
        qWarning() << "ImageConvert::ConvertPage Failed";
        return ConvertFailed;
    }
    writer->setDevice(file.Device());
    const CodecThreadsOnThread threadsGrant;
    if (icon) {
        const ConvertState state = ConvertToICO(pageImage, *writer, settings.ICODim);
        if (state != ConvertSucceeded)
            return state;
    } else if (!writer->write(pageImage)) {
        qWarning() << "ImageConvert::ConvertPage Failed";
        return ConvertFailed;
    }
    // Some format handlers finish their file only when they are destroyed.
    writer.reset();
    if (!file.Commit()) {
        qWarning() << "ImageConvert::ConvertPage Failed";
        return ConvertFailed;
    }
    return ConvertSucceeded;
}

ConvertState ConvertToICO(QImage& image, QImageWriter& writer, int icoDims)
{
    static const struct {
        int bit;
        int size;
        const char* failure;
    } kSizes[] = {
        {32, 256, "ImageConvert::ConvertToICO   256x256 failed"},
        {16, 128, "ImageConvert::ConvertToICO   128x128 failed"},
        {8, 64, "ImageConvert::ConvertToICO   64x64 failed"},
        {4, 48, "ImageConvert::ConvertToICO   48x48 failed"},
        {2, 32, "ImageConvert::ConvertToICO   32x32 failed"},
        {1, 16, "ImageConvert::ConvertToICO   16x16 failed"},
    };
    QByteArray format = writer.format();
    if (format.isEmpty())
        format = QByteArrayLiteral("ico");

    QList<QByteArray> parts;
    for (const auto& entry : kSizes) {
        if (!(icoDims & entry.bit))
            continue;
        const QImage scaled = image.scaled(entry.size, entry.size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter sizeWriter(&buffer, format);
        sizeWriter.setQuality(writer.quality());
        sizeWriter.setCompression(writer.compression());
        if (!sizeWriter.write(scaled)) {
            qWarning() << entry.failure;
            return ConvertFailed;
        }
        parts << buffer.data();
    }
    if (parts.isEmpty())
        return ConvertSucceeded;

    QByteArray icon;
    if (!JoinIcons(parts, icon)) {
        qWarning() << "ImageConvert::ConvertToICO   icon directory invalid";
        return ConvertFailed;
    }
    QIODevice* device = writer.device();
    if (!device || (!device->isOpen() && !device->open(QIODevice::WriteOnly))
        || device->write(icon) != icon.size()) {
        qWarning() << "ImageConvert::ConvertToICO   write failed";
        return ConvertFailed;
    }
    return ConvertSucceeded;
}

} // namespace ImageConvert
