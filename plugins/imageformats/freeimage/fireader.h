// The reading side of a handler: the whole file in memory, its pages, the
// decoded pictures and the metadata.
#ifndef KORVANE_FI_READER_H
#define KORVANE_FI_READER_H

#include "fiimage.h"
#include "fimetadata.h"
#include "webpcodec.h"

#include <FreeImage.h>

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QSet>
#include <QImageIOHandler>
#include <QSize>
#include <QString>
#include <QVector>

#include <memory>

class QIODevice;

class FiReader
{
public:
    FiReader() = default;
    ~FiReader();
    FiReader(const FiReader&) = delete;
    FiReader& operator=(const FiReader&) = delete;

    // Reads the device from its position to the end and finds the format by
    // signature, then by key. False when it is no format the plugin reads.
    bool Load(QIODevice* device, const QByteArray& key);
    // The same with the file's bytes at hand.
    bool Load(const QByteArray& file, const QByteArray& key);
    bool IsLoaded() const { return bLoaded; }

    FREE_IMAGE_FORMAT Format() const { return fif; }
    int PageCount() const { return iPageCount; }
    int CurrentPage() const { return iPage; }
    bool JumpToPage(int page);

    // Decodes the current page and moves to the next one. A valid scaledSize
    // gives a picture of exactly that size (JPEG decodes at a reduced size
    // first). False on a decoding failure or past the last page.
    bool Read(QImage* image, const QSize& scaledSize);

    // Size of the current page (from the header where the format allows).
    QSize PageSize();

    // The file's metadata in the preview's key layout (see fimetadata.h).
    QString Description();

    // Animation: delay after the page read last, and the loop count (-1 for
    // looping forever, 0 for none).
    int FrameDelay() const { return iFrameDelay; }
    int LoopCount();

    // How the page read last (else the current page) is to be turned to be
    // shown upright: the Exif orientation of a JPEG, the Orientation tag of
    // a TIFF page. The decoded picture itself is never turned.
    QImageIOHandler::Transformations Transformation();

private:
    QImage DecodePage(int page, const QSize& scaledSize);
    QImage DecodeMultiPage(int page);
    // A single-page file; FreeImage's metadata goes to keeper when given.
    QImage DecodeSingle(const QSize& scaledSize, FiReader* keeper) const;
    FIBITMAP* LoadSingle(int flags, FIMEMORY** memory) const;
    void KeepBitmapMetadata(FIBITMAP* dib);
    // FreeImage's header-only load of a single-page file, in a child
    // process: its parsers of Exif and other metadata trust the file. Keeps
    // the metadata fields; answers the declared size (invalid on failure).
    QSize LoadHeaderApart();

    QByteArray baFile;
    FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;
    FIMEMORY* pMultiMemory = nullptr;
    FIMULTIBITMAP* pMulti = nullptr;
    bool bLoaded = false;
    int iPageCount = 0;
    int iPage = 0;

    QImage cachedImage;         // a page decoded to answer a size question
    int iCachedPage = -1;

    FiMetadata bitmapFields;    // what FreeImage attached to the first page
    bool bBitmapFields = false;
    QString sDescription;
    bool bDescribed = false;

    bool bIsolatedFailed = false;   // the single page's decoder run apart failed

    int iFrameDelay = 0;
    int iLoopCount = 0;
    bool bLoopCount = false;

    QMap<int, QImage> decodedPages;  // multi-page frames decoded ahead
    QMap<int, int> frameDelays;
    QSet<int> failedPages;

    int iReadPage = -1;             // the page read last; -1 before a read and after a jump
    std::unique_ptr<WebpAnimation> pWebpAnimation;   // the frames of an animated WebP
};

#endif
