#include "imageconvertthread.h"

#include "applyedits.h"
#include "ithmbcopy.h"
#include "threadgrants.h"
#include "graphics/metadatapacking.h"
#include "graphics/plugincontract.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLocale>
#include <QThreadPool>

#include <unistd.h>

namespace {

bool CodecHasAlpha(PLMImageCodecID id)
{
    switch (id) {
    case PLMCodecICO:
    case PLMCodecJNG:
    case PLMCodecJPEG2000:
    case PLMCodecPDF:
    case PLMCodecPNG:
    case PLMCodecSVG:
    case PLMCodecTGA:
    case PLMCodecTIFF:
    case PLMCodecWEBP:
    case PLMCodecXPM:
    case PLMCodecHEIF:
    case PLMCodecAVIF:
    case PLMCodecJXL:
        return true;
    default:
        return false;
    }
}

// The text keys of the source packed as "Key1;Key2FIMD" and "Value1;Value2",
// with ";" and "\" inside a key or value escaped (MetadataPacking), so that an
// XMP packet or a keyword list cannot shift the values that follow it.
// Qt's readers hand the file's text to the decoded image; some cannot answer
// text questions any more once the image was read (PNG), so the page's own
// text is taken first and the reader is asked when the page has none.
void CollectMetadata(const QImageReader& reader, const QImage& page, QString& mdKeys, QString& mdValues)
{
    const bool fromPage = !page.textKeys().isEmpty();
    QStringList keys = fromPage ? page.textKeys() : reader.textKeys();
    keys.removeAll(QString());
    QStringList values;
    for (const QString& key : keys)
        values << (fromPage ? page.text(key) : reader.text(key));
    MetadataPacking::Pack(keys, values, mdKeys, mdValues);
}

QString SizeText(double bytes)
{
    return QLocale::c().toString(bytes / double(qint64(1) << 30), 'f', 1) + QStringLiteral(" GiB");
}

// Why the picture the reader is about to decode is refused, or empty: a
// declared size whose pixels would take more than the budget is not
// decoded (a few bytes of header can claim gigabytes).
QString OverBudget(const QImageReader& reader)
{
    const QSize size = reader.scaledSize().isValid() ? reader.scaledSize() : reader.size();
    if (!size.isValid())
        return QString();
    const double bytes = double(size.width()) * double(size.height()) * 4.0;
    const qint64 budget = DecodeBudget();
    if (bytes <= double(budget))
        return QString();
    return QCoreApplication::translate("ThreadFunction", "The picture is %1 × %2 pixels (%3 decoded); the limit is %4.")
        .arg(size.width())
        .arg(size.height())
        .arg(SizeText(bytes), SizeText(double(budget)));
}

} // namespace

qint64 DecodeBudget()
{
    static const qint64 budget = [] {
        const qint64 pages = ::sysconf(_SC_PHYS_PAGES);
        const qint64 machine = pages > 0 ? pages * ::sysconf(_SC_PAGESIZE) : (qint64(8) << 30);
        const int threads = qMax(1, QThreadPool::globalInstance()->maxThreadCount());
        return qMin(qint64(1) << 30, machine / threads);
    }();
    return budget;
}

ItemConvertResult ThreadFunction(const ImageConvertData& job)
{
    qDebug() << "ThreadFunction(ImageConvertData)";
    ItemConvertResult result;
    if (!job.settings) {
        result.state = ConvertFailed;
        return result;
    }
    const ConvertSettings& settings = *job.settings;
    const ConvertCancelFlag* cancel = job.cancelFlag;
    // Jobs that had not started when the batch was canceled end here.
    if (IsCanceled(cancel)) {
        result.state = ConvertCanceled;
        return result;
    }
    if (job.progress)
        job.progress->Started(job.srcFile);
    const CancelSourceOnThread cancelOnThread(cancel);
    const auto fail = [&result](const QString& error) {
        result.state = ConvertFailed;
        result.error = error;
        return result;
    };
    // Only regular files: a FIFO or a device named like a picture would block
    // the reader in open() for good.
    if (!QFileInfo(job.srcFile).isFile()) {
        qWarning().noquote() << QStringLiteral("ThreadFunction(ImageConvertData)   Not a file: ") + job.srcFile;
        return fail(QCoreApplication::translate("ThreadFunction", "Not a regular file."));
    }

    QImageReader reader(job.srcFile);
    // Pictures come out as they are shown: a phone photo's Exif orientation
    // (and a TIFF's) turns the pixels, and kept metadata then says "normal".
    reader.setAutoTransform(true);
    const PLMImageCodecID srcCodec = PLMImageCodec(job.srcFile).ID();
    if (srcCodec == PLMCodecPDF) {
        // The PDF plugin takes the rendering resolution from the high 16 bits.
        reader.setQuality(PluginContract::PackRenderDpi(settings.TgtDPI));
    } else if (srcCodec == PLMCodecSVG) {
        const double scale = settings.TgtDPI / 72.0;
        const QSize size = reader.size();
        reader.setScaledSize(QSize(RoundHalfUp(size.width() * scale), RoundHalfUp(size.height() * scale)));
        if (!CodecHasAlpha(PLMImageCodec::GetID(settings.TgtFormat)))
            reader.setBackgroundColor(Qt::white);
    }

    if (srcCodec == PLMCodecITHMB && settings.TgtID == PLMCodecJPEG && settings.KeepMd
        && reader.supportsOption(QImageIOHandler::Description)) {
        result.state = CopyEmbeddedJPEGs(reader, job, result);
        return result;
    }

    const int count = reader.imageCount();
    QString mdKeys;
    QString mdValues;
    if (count < 2) {
        const QString overBudget = OverBudget(reader);
        if (!overBudget.isEmpty())
            return fail(overBudget);
        QImage image;
        {
            const CodecThreadsOnThread threadsGrant;
            image = reader.read();
        }
        // A decode the cancel stopped (a jailed decoder is ended at once) is
        // no failure of the source.
        if (image.isNull() && IsCanceled(cancel)) {
            result.state = ConvertCanceled;
            return result;
        }
        if (image.isNull()) {
            qWarning().noquote() << QStringLiteral("ThreadFunction(ImageConvertData)   Load ") + job.srcFile
                                    + QStringLiteral(" Failed");
            return fail(reader.errorString());
        }
        QString tgtPath;
        bool reserved = false;
        if (!NextTgtPath(job, -1, tgtPath, reserved, result)) {
            qWarning() << "ThreadFunction(ImageConvertData)   MakeTgtFilePath Failed";
            return fail(QCoreApplication::translate("ThreadFunction", "No free target name."));
        }
        const ReservedTgtPath reservation(tgtPath, reserved);
        if (settings.KeepMd)
            CollectMetadata(reader, image, mdKeys, mdValues);
        // The source file's bytes, which a handler may hold, are not needed
        // for the write.
        reader.setDevice(nullptr);
        result.state = ImageConvert::ConvertPage(image, tgtPath, srcCodec, mdKeys, mdValues, settings, cancel);
        if (result.state == ConvertSucceeded)
            result.tgtFiles << tgtPath;
        else if (result.state == ConvertFailed)
            result.error = QCoreApplication::translate("ThreadFunction", "Writing %1 failed.").arg(tgtPath);
        return result;
    }

    bool mdCollected = false;
    for (int page = 0; page < count; ++page) {
        // Not every reader moves on by itself after read(): position it.
        if (page > 0)
            reader.jumpToImage(page);
        // Each page is checked before it is decoded.
        const QString overBudget = OverBudget(reader);
        if (!overBudget.isEmpty())
            return fail(QCoreApplication::translate("ThreadFunction", "Page %1: %2").arg(page + 1).arg(overBudget));
        QImage image;
        {
            const CodecThreadsOnThread threadsGrant;
            image = reader.read();
        }
        if (image.isNull() && IsCanceled(cancel)) {
            RemoveWritten(result.tgtFiles);
            result.state = ConvertCanceled;
            return result;
        }
        if (image.isNull()) {
            qWarning().noquote() << QStringLiteral("ThreadFunction(ImageConvertData)   Load ") + job.srcFile
                                    + QStringLiteral(" Failed");
            return fail(QCoreApplication::translate("ThreadFunction", "Page %1: %2").arg(page + 1).arg(reader.errorString()));
        }
        QString tgtPath;
        bool reserved = false;
        if (!NextTgtPath(job, page, tgtPath, reserved, result)) {
            qWarning() << "ThreadFunction(ImageConvertData)   MakeTgtFilePath Failed";
            return fail(QCoreApplication::translate("ThreadFunction", "No free target name."));
        }
        const ReservedTgtPath reservation(tgtPath, reserved);
        if (IsCanceled(cancel)) {
            qWarning() << "ThreadFunction(ImageConvertData)   Canceled";
            RemoveWritten(result.tgtFiles);
            result.state = ConvertCanceled;
            return result;
        }
        if (settings.KeepMd && !mdCollected) {
            CollectMetadata(reader, image, mdKeys, mdValues);
            mdCollected = true;
        }
        const ConvertState state =
            ImageConvert::ConvertPage(image, tgtPath, srcCodec, mdKeys, mdValues, settings, cancel);
        if (state == ConvertFailed) {
            qWarning() << "ThreadFunction(ImageConvertData) convert page failed";
            return fail(QCoreApplication::translate("ThreadFunction", "Writing %1 failed.").arg(tgtPath));
        }
        if (state == ConvertCanceled) {
            RemoveWritten(result.tgtFiles);
            result.state = ConvertCanceled;
            return result;
        }
        result.tgtFiles << tgtPath;
    }
    result.state = ConvertSucceeded;
    return result;
}
