#include "qtdelegate.h"

#include "fiisolate.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QImageIOPlugin>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QLibraryInfo>
#include <QMutex>
#include <QPluginLoader>
#include <QThread>
#include <QVariant>

#include <limits>
#include <memory>
#include <vector>

namespace {

// Time a child may take: the frames of a long animation are decoded one
// after the other up to the wanted one.
const int kTimeoutMs = 20000;

// Pages beyond this many pixels are refused before they are decoded.
const qint64 kMaxPixels = qint64(1) << 28;

// The frames that follow the wanted one come back with it, up to this many
// bytes of pictures, so that reading an animation page by page does not
// decode its first frames again for every page.
const qint64 kBatchBytes = qint64(64) << 20;

// The plugins of Qt's own folder, by key: the first library in file-name
// order that claims a key has it, as Qt's plugin loader decides.
struct Registry
{
    QMutex mutex;
    bool bScanned = false;
    QHash<QByteArray, QString> paths;
    QHash<QString, QImageIOPlugin*> plugins;   // null for a library that did not load
    std::vector<std::unique_ptr<QPluginLoader>> loaders;

    void Scan()
    {
        const QDir folder(QLibraryInfo::location(QLibraryInfo::PluginsPath) + QStringLiteral("/imageformats"));
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
            const QString path = folder.absoluteFilePath(name);
            if (!QLibrary::isLibrary(path))
                continue;
            // The metadata is read from the file; nothing is loaded yet.
            const QJsonObject meta = QPluginLoader(path).metaData();
            if (meta.value(QStringLiteral("IID")).toString() != QLatin1String(QImageIOHandlerFactoryInterface_iid)
                || meta.value(QStringLiteral("className")).toString() == QLatin1String("FreeImagePlugin"))
                continue;
            const QJsonArray keys = meta.value(QStringLiteral("MetaData")).toObject().value(QStringLiteral("Keys")).toArray();
            for (const QJsonValue& key : keys) {
                const QByteArray lower = key.toString().toLower().toLatin1();
                if (!lower.isEmpty() && !paths.contains(lower))
                    paths.insert(lower, path);
            }
        }
        bScanned = true;
    }

    QImageIOPlugin* Plugin(const QByteArray& key)
    {
        QMutexLocker lock(&mutex);
        if (!bScanned)
            Scan();
        const QString path = paths.value(key);
        if (path.isEmpty())
            return nullptr;
        const auto known = plugins.constFind(path);
        if (known != plugins.constEnd())
            return known.value();
        std::unique_ptr<QPluginLoader> loader(new QPluginLoader(path));
        QImageIOPlugin* plugin = qobject_cast<QImageIOPlugin*>(loader->instance());
        // As Qt's own loader does: the instance belongs to the main thread,
        // whichever thread asked first.
        const QCoreApplication* application = QCoreApplication::instance();
        if (plugin && application && plugin->thread() == QThread::currentThread()
            && plugin->thread() != application->thread())
            plugin->moveToThread(application->thread());
        plugins.insert(path, plugin);
        loaders.push_back(std::move(loader));
        return plugin;
    }
};

Q_GLOBAL_STATIC(Registry, registry)

// Formats whose frames are drawn over the previous ones: their pages are
// read in order from the first, whatever jumpToImage offers (Qt's WebP
// reader jumps to a frame without composing the ones before it).
bool Sequential(const QByteArray& key)
{
    return key == "gif" || key == "webp";
}

bool SizeAcceptable(QImageIOHandler& handler)
{
    if (!handler.supportsOption(QImageIOHandler::Size))
        return true;
    const QSize size = handler.option(QImageIOHandler::Size).toSize();
    return !size.isValid() || qint64(size.width()) * size.height() <= kMaxPixels;
}

int ToInt(qint64 value)
{
    return int(qBound<qint64>(std::numeric_limits<int>::min(), value, std::numeric_limits<int>::max()));
}

// Runs in the child. Numbers: page count, loop count, animation, then the
// delay and the transformation of every picture.
bool DecodeInChild(QImageIOPlugin& plugin, const QByteArray& file, const QByteArray& key, int page,
                   FiIsolate::Result& out)
{
    QBuffer buffer;
    buffer.setData(file);
    if (!buffer.open(QIODevice::ReadOnly) || !(plugin.capabilities(&buffer, key) & QImageIOPlugin::CanRead))
        return false;
    std::unique_ptr<QImageIOHandler> handler(plugin.create(&buffer, key));
    if (!handler)
        return false;
    const int count = handler->imageCount();
    const int loops = handler->loopCount();
    const bool animation = handler->supportsOption(QImageIOHandler::Animation)
                           && handler->option(QImageIOHandler::Animation).toBool();
    const bool sequential = Sequential(key);
    if (page > 0) {
        if (sequential) {
            for (int skipped = 0; skipped < page; ++skipped) {
                QImage frame;
                if (!SizeAcceptable(*handler) || !handler->read(&frame))
                    return false;
            }
        } else if (!handler->jumpToImage(page)) {
            return false;
        }
    }
    out.numbers << count << loops << (animation ? 1 : 0);
    qint64 bytes = 0;
    for (int at = page;; ++at) {
        QImage image;
        if (!SizeAcceptable(*handler) || !handler->read(&image) || image.isNull())
            break;
        const int transformation = handler->supportsOption(QImageIOHandler::ImageTransformation)
                                       ? handler->option(QImageIOHandler::ImageTransformation).toInt()
                                       : 0;
        out.images << image;
        out.numbers << handler->nextImageDelay() << transformation;
        bytes += image.sizeInBytes();
        if (!sequential || bytes >= kBatchBytes || at + 1 >= count || out.images.size() >= FiIsolate::MaxImages)
            break;
    }
    return !out.images.isEmpty();
}

} // namespace

namespace QtDelegate {

bool Serves(const QByteArray& key)
{
    return !key.isEmpty() && registry->Plugin(key) != nullptr;
}

bool CanRead(QIODevice* device, const QByteArray& key)
{
    // Asked without the key, a plugin looks at the content; with it, some
    // answer yes to anything (kimageformats' PIC reader does).
    QImageIOPlugin* plugin = key.isEmpty() ? nullptr : registry->Plugin(key);
    return plugin && device && (plugin->capabilities(device, QByteArray()) & QImageIOPlugin::CanRead);
}

} // namespace QtDelegate

QtDelegateReader::QtDelegateReader(const QByteArray& file, const QByteArray& key)
    : baFile(file)
    , baKey(key)
{
}

bool QtDelegateReader::Open()
{
    return Decode(0);
}

bool QtDelegateReader::Decode(int page)
{
    if (page < 0 || failedPages.contains(page))
        return false;
    QImageIOPlugin* plugin = registry->Plugin(baKey);
    if (!plugin) {
        failedPages.insert(page);
        return false;
    }
    const QByteArray& file = baFile;
    const QByteArray& key = baKey;
    const auto work = [plugin, &file, &key, page](FiIsolate::Result& out) {
        return DecodeInChild(*plugin, file, key, page, out);
    };
    FiIsolate::Result result;
    if (!FiIsolate::Run(work, kTimeoutMs, result) || result.images.isEmpty()
        || result.numbers.size() != 3 + 2 * result.images.size()) {
        failedPages.insert(page);
        return false;
    }
    iPageCount = qMax(ToInt(result.numbers.at(0)), page + result.images.size());
    iLoopCount = ToInt(result.numbers.at(1));
    bAnimation = result.numbers.at(2) != 0;
    for (int i = 0; i < result.images.size(); ++i) {
        PageInfo info;
        info.size = result.images.at(i).size();
        info.delay = ToInt(result.numbers.at(3 + 2 * i));
        info.transformation = ToInt(result.numbers.at(4 + 2 * i)) & 7;
        pages.insert(page + i, info);
        pictures.insert(page + i, result.images.at(i));
    }
    return true;
}

const QtDelegateReader::PageInfo* QtDelegateReader::Info(int page)
{
    if (!pages.contains(page) && !Decode(page))
        return nullptr;
    return &pages[page];
}

QImage QtDelegateReader::Take(int page)
{
    if (!pictures.contains(page) && !Decode(page))
        return QImage();
    const QImage image = pictures.take(page);
    // Pages before it were passed over; they are decoded again if asked.
    while (!pictures.isEmpty() && pictures.firstKey() < page)
        pictures.erase(pictures.begin());
    return image;
}

QSize QtDelegateReader::PageSize(int page)
{
    const PageInfo* info = Info(page);
    return info ? info->size : QSize();
}

int QtDelegateReader::FrameDelay(int page)
{
    const PageInfo* info = Info(page);
    return info ? info->delay : 0;
}

QImageIOHandler::Transformations QtDelegateReader::Transformation(int page)
{
    const PageInfo* info = Info(page);
    return info ? QImageIOHandler::Transformations(info->transformation) : QImageIOHandler::TransformationNone;
}
