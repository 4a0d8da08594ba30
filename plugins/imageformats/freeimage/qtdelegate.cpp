#include "qtdelegate.h"

#include "heifcodec.h"
#include "jail.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QImageIOPlugin>
#include <QImageReader>
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
        // HEIF goes to the plugin's own reader: Qt's reads the first image
        // of a file only.
        if (key == "heif" || key == "heic")
            return HeifCodec::Plugin();
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

// The size the handler says its next picture has (the scaled size when it
// renders at one), or an invalid size.
QSize DeclaredSize(QImageIOHandler& handler)
{
    if (handler.supportsOption(QImageIOHandler::ScaledSize)) {
        const QSize scaled = handler.option(QImageIOHandler::ScaledSize).toSize();
        if (scaled.isValid() && !scaled.isEmpty())
            return scaled;
    }
    if (!handler.supportsOption(QImageIOHandler::Size))
        return QSize();
    return handler.option(QImageIOHandler::Size).toSize();
}

bool SizeAcceptable(const QSize& size)
{
    return !size.isValid() || qint64(size.width()) * size.height() <= kMaxPixels;
}

bool SizeAcceptable(QImageIOHandler& handler)
{
    return SizeAcceptable(DeclaredSize(handler));
}

int ToInt(qint64 value)
{
    return int(qBound<qint64>(std::numeric_limits<int>::min(), value, std::numeric_limits<int>::max()));
}

struct ReadOptions
{
    QSize scaledSize;
    QColor backgroundColor;
};

// Runs in the child. Numbers: page count, loop count, animation, then the
// delay and the transformation of every picture. A wanted page whose
// declared size is beyond the limit is not decoded: the numbers then end in
// -1 and its width and height, with no picture.
bool DecodeInChild(QImageIOPlugin& plugin, const QByteArray& file, const QByteArray& key, int page,
                   const ReadOptions& options, Jail::Result& out)
{
    QBuffer buffer;
    buffer.setData(file);
    if (!buffer.open(QIODevice::ReadOnly) || !(plugin.capabilities(&buffer, key) & QImageIOPlugin::CanRead))
        return false;
    std::unique_ptr<QImageIOHandler> handler(plugin.create(&buffer, key));
    if (!handler)
        return false;
    if (options.scaledSize.isValid() && handler->supportsOption(QImageIOHandler::ScaledSize))
        handler->setOption(QImageIOHandler::ScaledSize, options.scaledSize);
    if (options.backgroundColor.isValid() && handler->supportsOption(QImageIOHandler::BackgroundColor))
        handler->setOption(QImageIOHandler::BackgroundColor, options.backgroundColor);
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
    const QSize declared = DeclaredSize(*handler);
    if (!SizeAcceptable(declared)) {
        out.numbers << -1 << declared.width() << declared.height();
        return true;
    }
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
        if (!sequential || bytes >= kBatchBytes || at + 1 >= count || out.images.size() >= Jail::MaxImages)
            break;
    }
    // The file's text, known once a picture is read.
    if (handler->supportsOption(QImageIOHandler::Description))
        out.data = handler->option(QImageIOHandler::Description).toString().toUtf8();
    return !out.images.isEmpty();
}

thread_local int builtInScopes = 0;

// Formats Qt reads itself, without a plugin, that the plugin took over.
bool BuiltIn(const QByteArray& key)
{
    return key == "bmp";
}

// Runs in this process: Qt's built-in readers are Qt's own code. Numbers as
// DecodeInChild's.
bool DecodeBuiltIn(const QByteArray& file, const QByteArray& key, int page, Jail::Result& out)
{
    if (page != 0)
        return false;
    QtDelegate::BuiltInScope scope;
    QBuffer buffer;
    buffer.setData(file);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    QImageReader reader(&buffer, key);
    if (!SizeAcceptable(reader.size()))
        return false;
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    out.images << image;
    out.numbers << 1 << 0 << 0 << 0 << 0;
    return true;
}

} // namespace

namespace QtDelegate {

BuiltInScope::BuiltInScope()
{
    ++builtInScopes;
}

BuiltInScope::~BuiltInScope()
{
    --builtInScopes;
}

bool BuiltInScope::Active()
{
    return builtInScopes > 0;
}

bool Serves(const QByteArray& key)
{
    return !key.isEmpty() && (BuiltIn(key) || registry->Plugin(key) != nullptr);
}

bool CanRead(QIODevice* device, const QByteArray& key, bool byName)
{
    // No QImageReader here: Qt asks while it holds its plugin loader's lock.
    if (key == "bmp")
        return device && device->peek(2) == "BM";
    // Asked without the key, a plugin looks at the content; with it, some
    // answer yes to anything (kimageformats' PIC reader does).
    QImageIOPlugin* plugin = key.isEmpty() ? nullptr : registry->Plugin(key);
    return plugin && device
           && (plugin->capabilities(device, byName ? key : QByteArray()) & QImageIOPlugin::CanRead);
}

bool Write(const QByteArray& key, const QImage& image, QIODevice* device, int quality)
{
    QImageIOPlugin* plugin = key.isEmpty() ? nullptr : registry->Plugin(key);
    if (!plugin || !device || !(plugin->capabilities(device, key) & QImageIOPlugin::CanWrite))
        return false;
    std::unique_ptr<QImageIOHandler> handler(plugin->create(device, key));
    if (!handler)
        return false;
    if (quality >= 0 && handler->supportsOption(QImageIOHandler::Quality))
        handler->setOption(QImageIOHandler::Quality, quality);
    return handler->write(image);
}

} // namespace QtDelegate

QtDelegateReader::QtDelegateReader(const QByteArray& file, const QByteArray& key, bool trusted)
    : baFile(file)
    , baKey(key)
    , bTrusted(trusted)
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
    if (BuiltIn(baKey)) {
        Jail::Result result;
        if (!DecodeBuiltIn(baFile, baKey, page, result)) {
            failedPages.insert(page);
            return false;
        }
        iPageCount = 1;
        PageInfo info;
        info.size = result.images.first().size();
        pages.insert(page, info);
        pictures.insert(page, result.images.first());
        return true;
    }
    QImageIOPlugin* plugin = registry->Plugin(baKey);
    if (!plugin) {
        failedPages.insert(page);
        return false;
    }
    const QByteArray& file = baFile;
    const QByteArray& key = baKey;
    const ReadOptions options{scaledSize, backgroundColor};
    const auto work = [plugin, &file, &key, page, &options](Jail::Result& out) {
        return DecodeInChild(*plugin, file, key, page, options, out);
    };
    Jail::Result result;
    const bool ran = bTrusted ? work(result) : Jail::Run(work, kTimeoutMs, result);
    if (ran && result.images.isEmpty() && result.numbers.size() == 6 && result.numbers.at(3) == -1) {
        // Too large to decode: its declared size is kept, to be reported.
        iPageCount = qMax(ToInt(result.numbers.at(0)), page + 1);
        PageInfo info;
        info.size = QSize(ToInt(result.numbers.at(4)), ToInt(result.numbers.at(5)));
        info.refused = true;
        pages.insert(page, info);
        failedPages.insert(page);
        return false;
    }
    if (!ran || result.images.isEmpty() || result.numbers.size() != 3 + 2 * result.images.size()) {
        failedPages.insert(page);
        return false;
    }
    iPageCount = qMax(ToInt(result.numbers.at(0)), page + result.images.size());
    iLoopCount = ToInt(result.numbers.at(1));
    if (sDescription.isEmpty())
        sDescription = QString::fromUtf8(result.data.left(Jail::MaxData));
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
    if (!pages.contains(page))
        Decode(page);
    const auto found = pages.constFind(page);
    return found == pages.constEnd() ? nullptr : &found.value();
}

void QtDelegateReader::SetScaledSize(const QSize& size)
{
    if (size == scaledSize)
        return;
    scaledSize = size;
    DropDecoded();
}

void QtDelegateReader::SetBackgroundColor(const QColor& color)
{
    if (color == backgroundColor)
        return;
    backgroundColor = color;
    DropDecoded();
}

void QtDelegateReader::DropDecoded()
{
    pictures.clear();
    pages.clear();
    failedPages.clear();
}

QImage QtDelegateReader::Take(int page)
{
    if (!pictures.contains(page) && !Decode(page))
        return QImage();
    if (!pictures.contains(page))
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
