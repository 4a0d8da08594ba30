#include "filibrary.h"

#include <FreeImage.h>
#include <exiv2/exiv2.hpp>

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

// Debug only: the program discards its log, and corrupt files make FreeImage
// talk a lot. QT_LOGGING_RULES="korvane.freeimage.debug=true" shows it.
Q_LOGGING_CATEGORY(lcKorvaneFi, "korvane.freeimage", QtWarningMsg)

namespace {

thread_local std::string tLastMessage;

void FreeImageMessage(FREE_IMAGE_FORMAT fif, const char* message)
{
    tLastMessage = message ? message : "";
    qCDebug(lcKorvaneFi) << "FreeImage" << int(fif) << tLastMessage.c_str();
}

// The XMP toolkit inside Exiv2 is not reentrant; Exiv2 takes this lock
// around every call into it.
std::recursive_mutex& XmpMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

void XmpLock(void*, bool lock)
{
    if (lock)
        XmpMutex().lock();
    else
        XmpMutex().unlock();
}

void Exiv2Message(int, const char* message)
{
    qCDebug(lcKorvaneFi) << "Exiv2" << message;
}

// libtiff reports straight to stderr ("TIFFFieldWithTag: Internal error,
// unknown tag" for every Exif tag FreeImage looks up), past FreeImage's
// message handler. Its handlers are set on the copy FreeImage loaded.
using TiffHandler = void (*)(const char*, const char*, va_list);

void TiffMessage(const char* module, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof(text), format, arguments);
    qCDebug(lcKorvaneFi) << "libtiff" << (module ? module : "") << text;
}

void RouteTiffMessages()
{
    for (const char* name : {"libtiff.so.6", "libtiff.so.5"}) {
        void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
        if (!library)
            continue;
        using Setter = TiffHandler (*)(TiffHandler);
        const Setter setError = reinterpret_cast<Setter>(dlsym(library, "TIFFSetErrorHandler"));
        const Setter setWarning = reinterpret_cast<Setter>(dlsym(library, "TIFFSetWarningHandler"));
        if (setError)
            setError(TiffMessage);
        if (setWarning)
            setWarning(TiffMessage);
        dlclose(library);
        return;
    }
}

} // namespace

namespace FiLibrary {

void Ensure()
{
    static std::once_flag once;
    std::call_once(once, [] {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(FreeImageMessage);
        RouteTiffMessages();
        Exiv2::LogMsg::setHandler(Exiv2Message);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(XmpLock, nullptr);
    });
}

QString TakeMessage()
{
    const QString message = QString::fromStdString(tLastMessage);
    tLastMessage.clear();
    return message;
}

} // namespace FiLibrary
