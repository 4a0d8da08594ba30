// Reads one image file on a thread of its own and hands the picture over by
// a queued signal, so that previews never block the window.
#ifndef KORVANE_IMAGEREADTHREAD_H
#define KORVANE_IMAGEREADTHREAD_H

#include <QImage>
#include <QMutex>
#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThread>

class QImageReader;

class ImageReadThread : public QThread
{
    Q_OBJECT

public:
    explicit ImageReadThread(QObject* parent = 0);
    ~ImageReadThread() override;

    // Starts reading path (the current, first image). With readMetadata the
    // three-argument signal carries the file's text keys and values. A call
    // while a pass is running starts nothing; the running pass keeps the path
    // and flag it began with.
    void Read(const QString& path, bool readMetadata);
    // Reads another page of the file: starts the thread again when it is
    // idle, or makes the running pass read once more before it reports.
    void ReadPage(int page);
    // The running pass ends without reporting (a read it has not begun is
    // skipped).
    void Stop();
    // Drops the retained reader so that the next pass opens the current path;
    // false (and nothing changed) while running.
    bool ResetReader();
    int GetPageCount();

    // Pictures much larger than bound (an invalid size: no bound) are decoded
    // at the size that fits the bound, for previews that show them no larger.
    void SetMaxPreviewSize(const QSize& bound);
    // The upright size of the file's picture last delivered, whatever size
    // it was decoded at; invalid before the first delivery.
    QSize GetImageSize();

signals:
    void readImage(const QImage& image);
    void readImage(const QImage& image, const QStringList& slMetadataKey, const QStringList& slMetadataValue);

protected:
    void run() override;

private:
    void StartPass(Priority priority);
    QImage ReadCurrent(QImageReader& reader, const QSize& bound, QSize& imageSize) const;

    QSharedPointer<QImageReader> spReader;
    QMutex mMutex;
    QString sPath;
    bool bReadMetadata = false;
    QStringList slMetadataKey;
    QStringList slMetadataValue;
    int iPage = 0;
    int iPageCount = 0;
    bool bPageCounted = false;
    bool bStop = false;
    bool bRestart = false;
    // Under mMutex: the worker still looks at bRestart before it returns.
    bool bActive = false;
    QSize szBound;
    QSize szImage;
};

#endif
