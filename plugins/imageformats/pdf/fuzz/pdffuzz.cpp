// libFuzzer entry of the PDF plugin: every input is a document read from a
// QBuffer through the calls Qt's image reader and the program make on the
// handler. The plugin's own code runs here instrumented; Poppler runs in the
// plugin's child processes, as in the program.
#include "fuzzinput.h"
#include "pdfhandler.h"

#include <QImage>
#include <QVariant>

namespace {

const int MaxReads = 3;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzInput::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x1000000)
        return 0;
    FuzzInput::Device input(data, size);
    PdfHandler handler;
    handler.setDevice(input.get());
    handler.setFormat("pdf");
    handler.canRead();
    // A small rendering resolution keeps every page cheap.
    handler.setOption(QImageIOHandler::Quality, 18 << 16);
    handler.option(QImageIOHandler::Size);
    handler.option(QImageIOHandler::Description);
    const int count = handler.imageCount();
    QImage image;
    for (int reads = 0; reads < MaxReads && reads < count; ++reads) {
        if (!handler.read(&image))
            break;
    }
    handler.jumpToImage(count);
    handler.jumpToImage(-1);
    return 0;
}
