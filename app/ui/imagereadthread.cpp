#include "imagereadthread.h"

#include <QDebug>
#include <QImageReader>
#include <QMutexLocker>

ImageReadThread::ImageReadThread(QObject* parent)
    : QThread(parent)
{
}

// Waits for a pass in progress: it ends without reporting.
ImageReadThread::~ImageReadThread()
{
    {
        QMutexLocker locker(&mMutex);
        bStop = true;
    }
    wait();
    spReader.reset();
}

void ImageReadThread::Read(const QString& path, bool readMetadata)
{
    {
        QMutexLocker locker(&mMutex);
        sPath = path;
        bReadMetadata = readMetadata;
        if (bActive) {
            qWarning() << "ImageReadThread::read thread " << currentThreadId() << " called when it is running";
            return;
        }
    }
    StartPass(QThread::LowPriority);
}

void ImageReadThread::Stop()
{
    qDebug() << "ImageReadThread::Stop";
    QMutexLocker locker(&mMutex);
    bStop = true;
}

void ImageReadThread::ReadPage(int page)
{
    qDebug() << "ImageReadThread::ReadPage";
    {
        QMutexLocker locker(&mMutex);
        iPage = page;
        // While the worker has yet to decide whether it is done, it takes the
        // new page itself; otherwise a new pass is started.
        if (bActive) {
            qDebug() << "ImageReadThread::ReadPage   Page " << page << " by restarting";
            bStop = false;
            bRestart = true;
            return;
        }
    }
    qDebug() << "ImageReadThread::ReadPage   Page " << page << " by starting";
    StartPass(QThread::LowestPriority);
}

// A worker that has decided to return may not have returned yet: it is past
// its last use of the members, so waiting for it costs next to nothing.
void ImageReadThread::StartPass(Priority priority)
{
    wait();
    {
        QMutexLocker locker(&mMutex);
        bActive = true;
    }
    start(priority);
}

bool ImageReadThread::ResetReader()
{
    if (isRunning())
        return false;
    spReader.reset();
    return true;
}

int ImageReadThread::GetPageCount()
{
    qDebug() << "ImageReadThread::GetPageCount";
    QMutexLocker locker(&mMutex);
    return iPageCount;
}

void ImageReadThread::SetMaxPreviewSize(const QSize& bound)
{
    QMutexLocker locker(&mMutex);
    szBound = bound;
}

QSize ImageReadThread::GetImageSize()
{
    QMutexLocker locker(&mMutex);
    return szImage;
}

// Reads the reader's current image upright. A picture much larger than a
// valid bound is decoded at the size that fits it (the decoders scale while
// they decode); imageSize is the file's own upright size either way.
QImage ImageReadThread::ReadCurrent(QImageReader& reader, const QSize& bound, QSize& imageSize) const
{
    imageSize = QSize();
    reader.setScaledSize(QSize());
    // The thumbnail container reports the byte span of a picture as its size.
    if (bound.isValid() && !bound.isEmpty() && reader.format() != "ithmb") {
        QSize upright = reader.size();
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        if (turned)
            upright.transpose();
        if (!upright.isEmpty()) {
            QSize fit = upright.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
            if (fit.width() * 2 < upright.width()) {
                imageSize = upright;
                if (turned)
                    fit.transpose();
                reader.setScaledSize(fit);
            }
        }
    }
    const QImage image = reader.read();
    if (!imageSize.isValid() || image.isNull())
        imageSize = image.size();
    return image;
}

void ImageReadThread::run()
{
    qDebug() << "ImageReadThread::run";
    // What this pass reads is fixed when it starts.
    QString path;
    bool readMetadata = false;
    QSize bound;
    {
        QMutexLocker locker(&mMutex);
        path = sPath;
        readMetadata = bReadMetadata;
        bound = szBound;
        if (path.isEmpty()) {
            bRestart = false;
            bActive = false;
            return;
        }
    }
    if (!spReader) {
        spReader.reset(new QImageReader(path, QByteArray()));
        // Pictures are shown upright, as the conversion writes them.
        spReader->setAutoTransform(true);
    }
    QImageReader& reader = *spReader;

    for (;;) {
        QImage image;
        QSize imageSize;
        bool restart = false;
        for (;;) {
            {
                QMutexLocker locker(&mMutex);
                if (restart)
                    bRestart = false;
                // Told to stop before the read began: its picture would be
                // dropped, so it is not read at all.
                if (bStop)
                    break;
            }
            if (bPageCounted && iPageCount >= 1) {
                int page = 0;
                {
                    QMutexLocker locker(&mMutex);
                    page = iPage;
                }
                reader.jumpToImage(page);
            }
            image = ReadCurrent(reader, bound, imageSize);
            if (readMetadata) {
                slMetadataKey.clear();
                slMetadataValue.clear();
                slMetadataKey = reader.textKeys();
                slMetadataKey.removeAll(QString());
                for (const QString& key : qAsConst(slMetadataKey))
                    slMetadataValue << reader.text(key);
            }
            if (!bPageCounted) {
                const int count = reader.imageCount();
                bPageCounted = true;
                if (count == 0) {
                    QMutexLocker locker(&mMutex);
                    bRestart = false;
                    break;
                }
                {
                    QMutexLocker locker(&mMutex);
                    iPageCount = count;
                }
                if (count < 0)
                    qWarning() << "ImageReadThread::run   Invalid imageCount " << count;
            }
            {
                QMutexLocker locker(&mMutex);
                restart = bRestart;
            }
            if (!restart)
                break;
            qDebug() << "ImageReadThread::run  Restarting";
        }

        bool stop = false;
        {
            QMutexLocker locker(&mMutex);
            stop = bStop;
            if (!stop)
                szImage = imageSize;
        }
        if (!stop) {
            if (readMetadata)
                emit readImage(image, slMetadataKey, slMetadataValue);
            else
                emit readImage(image);
            qDebug() << "ImageReadThread::run  finishes";
        }

        // A page asked for while this pass was reporting is read now, so no
        // request goes unanswered.
        QMutexLocker locker(&mMutex);
        if (!bRestart) {
            bActive = false;
            return;
        }
        bRestart = false;
    }
}
