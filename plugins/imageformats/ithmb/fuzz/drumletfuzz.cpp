// libFuzzer entry: every input is an ".ithmb" file read from a QBuffer,
// through all the calls Qt's image reader makes on the handler.
#include "drumlethandler.h"
#include "fuzzinput.h"

#include <QImage>
#include <QSize>
#include <QVariant>

namespace {

// Reads are capped per input so that inputs full of markers stay fast.
const int MaxReads = 12;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The embedded pictures go through QImageReader, which wants an application.
    FuzzInput::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000000)
        return 0;
    FuzzInput::Device input(data, size);
    DrumletHandler handler;
    handler.setDevice(input.get());
    handler.setFormat("ithmb");
    handler.canRead();
    handler.option(QImageIOHandler::Size);          // before any counting
    handler.supportsOption(QImageIOHandler::Size);
    handler.option(QImageIOHandler::Description);   // before the first read
    handler.supportsOption(QImageIOHandler::Description);

    const int count = handler.imageCount();
    int reads = 0;
    QImage image;
    while (reads < MaxReads && handler.currentImageNumber() >= 0) {
        handler.option(QImageIOHandler::Size);
        handler.read(&image);
        handler.option(QImageIOHandler::Description);
        ++reads;
    }
    // Reading past the end, jumping out of range and back.
    handler.read(&image);
    handler.jumpToNextImage();
    handler.jumpToImage(-1);
    handler.jumpToImage(count);
    if (count > 0 && handler.jumpToImage(count - 1)) {
        handler.option(QImageIOHandler::Size);
        handler.read(&image);
        handler.jumpToImage(0);
        handler.read(&image);
    }
    handler.setOption(QImageIOHandler::Size, QSize(1, 1));
    handler.imageCount();
    return 0;
}
