// Qt's own image plugins as the second reader of the keys the plugin shares
// with them. The program's plugin folder comes first, so Qt never loads a
// plugin of its own folder whose keys are all taken (qgif, qtiff, qjpeg,
// qwebp, qwbmp, kimageformats' hdr and pic readers…): files they read and
// ours does not would be lost. Here they are found in Qt's plugin folder by
// their metadata, loaded once per key, and every decode runs in a child
// process (Jail): those readers are not hardened against damaged files.
#ifndef KORVANE_QT_DELEGATE_H
#define KORVANE_QT_DELEGATE_H

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageIOHandler>
#include <QMap>
#include <QSet>
#include <QSize>
#include <QString>

class QIODevice;

namespace QtDelegate {

// Whether an installed Qt plugin, or Qt's built-in reader, reads files of
// this key (lower case).
bool Serves(const QByteArray& key);

// While one lives on a thread, the plugin claims nothing there, so that a
// QImageReader made on that thread reaches Qt's built-in reader of a format
// the plugin has taken over.
class BuiltInScope
{
public:
    BuiltInScope();
    ~BuiltInScope();
    BuiltInScope(const BuiltInScope&) = delete;
    BuiltInScope& operator=(const BuiltInScope&) = delete;
    static bool Active();
};

// Whether that plugin recognises the device's content (its header check
// only, as when Qt probes content; nothing is decoded). With byName, the
// plugin is asked as Qt asks it for a file of that suffix.
bool CanRead(QIODevice* device, const QByteArray& key, bool byName = false);

// Writes the picture through the Qt plugin of the key (in this process:
// writers only meet the program's own pictures). False when it cannot.
bool Write(const QByteArray& key, const QImage& image, QIODevice* device, int quality);

} // namespace QtDelegate

// A file read through the Qt plugin of one key. Each decode is a child
// process: it reads the wanted page (for the formats whose frames build on
// each other, every frame up to it; the following ones come along within a
// memory budget) and hands back the pictures with the page count, the loop
// count, and each page's delay and transformation.
class QtDelegateReader
{
public:
    // A trusted file (the program's own resources) is decoded in this
    // process; any other in a child process.
    QtDelegateReader(const QByteArray& file, const QByteArray& key, bool trusted = false);

    // Decodes the first page; false when the Qt plugin cannot read the file.
    bool Open();

    // Options the Qt reader gets before it decodes (a vector picture is
    // rendered at the scaled size). Pictures decoded with other options are
    // dropped.
    void SetScaledSize(const QSize& size);
    void SetBackgroundColor(const QColor& color);

    int PageCount() const { return iPageCount; }
    // The file's text as the plugin's reader describes it (the preview's
    // key layout for HEIF), known once a page was decoded.
    QString Description() const { return sDescription; }
    int LoopCount() const { return iLoopCount; }
    bool Animation() const { return bAnimation; }

    // The page's picture, taken out of the cache; null on a failure.
    QImage Take(int page);

    // The page's size, delay after it and transformation; the page is
    // decoded (and kept for Take) when it was not yet.
    QSize PageSize(int page);
    int FrameDelay(int page);
    QImageIOHandler::Transformations Transformation(int page);

private:
    struct PageInfo
    {
        QSize size;             // as decoded; or as declared, for a page refused for its size
        int delay = 0;
        int transformation = 0;
        bool refused = false;
    };

    bool Decode(int page);
    const PageInfo* Info(int page);

    void DropDecoded();

    QByteArray baFile;
    QByteArray baKey;
    bool bTrusted = false;
    QSize scaledSize;
    QColor backgroundColor;
    QMap<int, QImage> pictures;     // decoded, not yet taken
    QMap<int, PageInfo> pages;      // every page decoded so far
    QSet<int> failedPages;
    int iPageCount = 0;
    int iLoopCount = 0;
    bool bAnimation = false;
    QString sDescription;
};

#endif
