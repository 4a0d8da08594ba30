// What the format plugins' fuzz targets share: a silent log, the application
// object Qt's readers want, and each input as a read-only device.
#ifndef KORVANE_FUZZINPUT_H
#define KORVANE_FUZZINPUT_H

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace FuzzInput {

inline void Quiet(QtMsgType, const QMessageLogContext&, const QString&)
{
}

// For LLVMFuzzerInitialize: call once, after whatever must come before the
// application object (a settings store of the target's own).
inline void Start(int* argc, char*** argv)
{
    qInstallMessageHandler(Quiet);
    static QCoreApplication app(*argc, *argv);
}

// One input's bytes behind an open read-only buffer.
class Device
{
public:
    Device(const uint8_t* data, size_t size)
        : bytes(reinterpret_cast<const char*>(data), int(size))
        , buffer(&bytes)
    {
        buffer.open(QIODevice::ReadOnly);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    QIODevice* get() { return &buffer; }

private:
    QByteArray bytes;
    QBuffer buffer;
};

} // namespace FuzzInput

#endif
