#include "ithmbcopy.h"

#include "targetfile.h"
#include "graphics/plugincontract.h"

#include <QDebug>
#include <QFile>
#include <QImage>
#include <QImageReader>

namespace {

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

// A copied picture must be a whole JPEG stream that decodes: a damaged one
// inside a thumbnail file is a failure, not a file that no viewer opens.
bool IsCompleteJpeg(const QByteArray& bytes)
{
    if (bytes.size() < 4 || !bytes.startsWith("\xFF\xD8") || !bytes.endsWith("\xFF\xD9"))
        return false;
    QImage decoded;
    return decoded.loadFromData(bytes, "JPEG") && !decoded.isNull();
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

} // namespace

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
        if (!ReadSpan(source, PluginContract::EmbeddedJpegOffset(span), PluginContract::EmbeddedJpegLength(span), bytes)) {
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
