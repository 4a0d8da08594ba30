// libFuzzer entry of the general plugin: the first byte of an input picks one
// of the plugin's keys, the rest is the file, read from a QBuffer through all
// the calls Qt's image reader and the program make on the handler. What runs
// in the program's process (signatures, structure checks, the JPEG, PNG and
// WebP decoders, Exiv2's metadata, the jail's reading of a child's answer)
// runs here instrumented; the decoders of the jail run in its child processes.
#include "fiformat.h"
#include "fihandler.h"
#include "fuzzinput.h"

#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>

namespace {

// Pages read per input, so that inputs of many frames stay fast.
const int MaxReads = 6;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // A settings store of its own, never the user's; the plugin reads its
    // switch from it.
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QSettings(QStringLiteral("Pelmora"), QStringLiteral("Plugins")).setValue(QStringLiteral("FreeImage"), true);
    FuzzInput::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 0x4000000)
        return 0;
    static const QList<QByteArray> keys = FiFormat::Keys();
    const QByteArray key = keys.at(data[0] % keys.size());
    FuzzInput::Device input(data + 1, size - 1);

    static FreeImagePlugin plugin;
    plugin.capabilities(input.get(), key);
    plugin.capabilities(input.get(), QByteArray());
    std::unique_ptr<QImageIOHandler> handler(plugin.create(input.get(), key));
    if (!handler)
        return 0;
    handler->canRead();
    handler->option(QImageIOHandler::Size);
    handler->option(QImageIOHandler::Description);
    const int count = handler->imageCount();
    QImage image;
    for (int reads = 0; reads < MaxReads && reads < qMax(count, 1); ++reads) {
        if (!handler->read(&image))
            break;
        handler->option(QImageIOHandler::ImageTransformation);
        handler->nextImageDelay();
    }
    handler->option(QImageIOHandler::Animation);
    handler->loopCount();
    handler->jumpToImage(count);
    handler->jumpToImage(-1);
    if (count > 1 && handler->jumpToImage(count - 1))
        handler->read(&image);
    return 0;
}
