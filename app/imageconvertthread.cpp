#include "imageconvertthread.h"

#include "applyedits.h"
#include "targetfile.h"
#include "targetnames.h"
#include "graphics/metadatapacking.h"
#include "graphics/plugincontract.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLocale>
#include <QThread>
#include <QThreadPool>
#include <QVariant>
#include <QtEndian>

#include <memory>
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

int DotsPerMeter(int dpi)
{
    return RoundHalfUp(dpi * 1000.0 / 25.4);
}

// Page size in bits 16-23, orientation in 24-27, alignment in 28-31, bit 0 set.
// Computed unsigned so that odd stored values cannot overflow a shift.
int PackPDFLayout(const ConvertSettings& settings)
{
    const quint32 layout = ((((quint32(settings.Align) << 4) | (quint32(settings.PageOri) & 15u)) << 8)
                            | (quint32(settings.PageSize) & 255u)) << 16;
    return int(layout | 1u);
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
        writer.setQuality(settings.JPEGXRLlCmpsn ? 100 : settings.JPEGXRCmpsnQuality);
        break;
    case PLMCodecPDF:
        writer.setQuality(PackPDFLayout(settings));
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

// Writes bytes to path through a temporary file that replaces the target only
// once it is complete.
bool StoreBytes(const QString& path, const QByteArray& bytes)
{
    TargetFile file(path);
    if (!file.Open() || file.Device()->write(bytes) != bytes.size()) {
        qWarning() << "ThreadFunction(ImageConvertData)   write target file failed";
        return false;
    }
    if (!file.Commit()) {
        qWarning() << "ThreadFunction(ImageConvertData)   copy temp to target file failed";
        return false;
    }
    return true;
}

// The target path of one page of a job. Overwrite never replaces a source of
// the running batch or a target it already wrote: such a page takes a number
// instead, counted in the result.
bool NextTgtPath(const ImageConvertData& job, int page, QString& tgtPath, bool& reserved, ItemConvertResult& result)
{
    bool renamed = false;
    const bool made = MakeTgtFilePath(tgtPath, page, job.srcFile, *job.settings, job.batchTargets, &renamed);
    reserved = made && (job.settings->Exists == 0 || renamed);
    if (renamed)
        ++result.renamed;
    return made;
}

// A copied picture must be a whole JPEG stream that decodes: a damaged one
// inside a thumbnail file is a failure, not a file that no viewer opens.
bool IsCompleteJpeg(const QByteArray& bytes)
{
    if (bytes.size() < 4 || !bytes.startsWith("\xFF\xD8") || !bytes.endsWith("\xFF\xD9"))
        return false;
    QImage decoded;
    return decoded.loadFromData(bytes, "JPEG") && !decoded.isNull();
}

// A canceled job leaves nothing behind: the pages it already wrote go too.
void RemoveWritten(QStringList& tgtFiles)
{
    for (const QString& path : qAsConst(tgtFiles))
        QFile::remove(path);
    tgtFiles.clear();
}

bool ReadSpan(QFile& source, qint64 offset, qint64 length, QByteArray& bytes)
{
    if (offset < 0 || length < 0 || offset > source.size() || length > source.size() - offset)
        return false;
    if (!source.seek(offset))
        return false;
    bytes = source.read(length);
    return bytes.size() == length;
}

// The ithmb reader reports, for the current picture, the byte offset of its
// embedded JPEG as the width of size() and the byte length as the height.
ConvertState CopyEmbeddedJPEGs(QImageReader& reader, const ImageConvertData& job, ItemConvertResult& result)
{
    QStringList& tgtFiles = result.tgtFiles;
    const int count = reader.imageCount();
    const bool several = count >= 2;
    QFile source(job.srcFile);
    if (!source.open(QIODevice::ReadOnly)) {
        qWarning() << "ThreadFunction(ImageConvertData)   open ithmb failed";
        return ConvertFailed;
    }
    for (int page = 0; page < (several ? count : 1); ++page) {
        if (several)
            reader.jumpToImage(page);
        QString tgtPath;
        bool reserved = false;
        if (!NextTgtPath(job, several ? page : -1, tgtPath, reserved, result)) {
            if (several)
                qWarning() << "ThreadFunction(ImageConvertData)   MakeTgtFilePath Failed";
            else
                qWarning() << "ThreadFunction(ImageConvertData)   MakeTgtFilePath failed";
            return ConvertFailed;
        }
        const ReservedTgtPath reservation(tgtPath, reserved);
        const QSize span = reader.size();
        QByteArray bytes;
        if (!ReadSpan(source, span.width(), span.height(), bytes)) {
            qWarning() << "ThreadFunction(ImageConvertData)   read jpeg data failed";
            return ConvertFailed;
        }
        if (!IsCompleteJpeg(bytes)) {
            qWarning() << "ThreadFunction(ImageConvertData)   embedded jpeg damaged";
            return ConvertFailed;
        }
        if (!StoreBytes(tgtPath, bytes))
            return ConvertFailed;
        tgtFiles << tgtPath;
        if (several && IsCanceled(job.cancelFlag)) {
            qWarning() << "ThreadFunction(ImageConvertData)   Canceled";
            RemoveWritten(tgtFiles);
            return ConvertCanceled;
        }
    }
    return ConvertSucceeded;
}

quint16 ReadLE16(const QByteArray& data, int pos)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(data.constData()) + pos);
}

quint32 ReadLE32(const QByteArray& data, int pos)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(data.constData()) + pos);
}

// Gathers the entries of several icon files into one icon directory.
bool JoinIcons(const QList<QByteArray>& parts, QByteArray& icon)
{
    const int headerSize = 6;
    const int entrySize = 16;
    QList<QByteArray> entries;
    QList<QByteArray> images;
    for (const QByteArray& part : parts) {
        if (part.size() < headerSize || ReadLE16(part, 0) != 0 || ReadLE16(part, 2) != 1)
            return false;
        const int count = ReadLE16(part, 4);
        const qint64 directoryEnd = headerSize + qint64(count) * entrySize;
        if (count == 0 || directoryEnd > part.size())
            return false;
        for (int i = 0; i < count; ++i) {
            const int entryPos = headerSize + i * entrySize;
            const qint64 length = ReadLE32(part, entryPos + 8);
            const qint64 offset = ReadLE32(part, entryPos + 12);
            if (offset < directoryEnd || offset + length > part.size())
                return false;
            entries << part.mid(entryPos, entrySize);
            images << part.mid(int(offset), int(length));
        }
    }
    if (entries.isEmpty() || entries.size() > 0xffff)
        return false;

    icon.clear();
    uchar word[4];
    const auto append16 = [&](quint16 value) {
        qToLittleEndian(value, word);
        icon.append(reinterpret_cast<const char*>(word), 2);
    };
    append16(0);
    append16(1);
    append16(quint16(entries.size()));
    qint64 offset = headerSize + qint64(entries.size()) * entrySize;
    for (int i = 0; i < entries.size(); ++i) {
        QByteArray entry = entries.at(i);
        qToLittleEndian(quint32(offset), reinterpret_cast<uchar*>(entry.data()) + 12);
        icon += entry;
        offset += images.at(i).size();
    }
    for (const QByteArray& image : images)
        icon += image;
    return true;
}

// Puts the job's cancel state on its pool thread for the job's length, where
// a format plugin whose decoder runs in a child process looks for it.
class CancelSourceOnThread
{
public:
    explicit CancelSourceOnThread(const ConvertCancelFlag* flag)
    {
        if (flag)
            QThread::currentThread()->setProperty(PluginContract::CancelSourceProperty,
                                                  QVariant::fromValue(static_cast<QObject*>(const_cast<ConvertCancelFlag*>(flag))));
    }
    ~CancelSourceOnThread()
    {
        QThread::currentThread()->setProperty(PluginContract::CancelSourceProperty, QVariant());
    }
    CancelSourceOnThread(const CancelSourceOnThread&) = delete;
    CancelSourceOnThread& operator=(const CancelSourceOnThread&) = delete;
};

// For the length of a read or a write, tells the format plugin on the job's
// pool thread how many threads it may keep busy: its own and those of the
// pool that stand idle (the batch has fewer pictures left than threads).
class CodecThreadsOnThread
{
public:
    CodecThreadsOnThread()
    {
        const QThreadPool* pool = QThreadPool::globalInstance();
        const int threads = qBound(1, 1 + pool->maxThreadCount() - pool->activeThreadCount(), pool->maxThreadCount());
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, threads);
    }
    ~CodecThreadsOnThread()
    {
        QThread::currentThread()->setProperty(PluginContract::CodecThreadsProperty, QVariant());
    }
    CodecThreadsOnThread(const CodecThreadsOnThread&) = delete;
    CodecThreadsOnThread& operator=(const CodecThreadsOnThread&) = delete;
};

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
        reader.setQuality(int(quint32(settings.TgtDPI) << 16));
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
