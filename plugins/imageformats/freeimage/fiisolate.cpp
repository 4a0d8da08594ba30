#include "fiisolate.h"

#include <QByteArray>
#include <QColorSpace>
#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Header
{
    quint32 magic;
    qint32 width;
    qint32 height;
    qint32 format;
    qint64 bytesPerLine;
    qint32 dotsPerMeterX;
    qint32 dotsPerMeterY;
    qint32 profileSize;
};

const quint32 kMagic = 0x4B564649;   // "KVFI"

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

// The child's side: only the decoder, malloc and write() run here; no Qt
// logging or event machinery, which may hold locks of the parent's threads.
[[noreturn]] void Child(int fd, pid_t parent, const std::function<QImage()>& decode)
{
    // A child that outlives its parent (killed while the decoder spins)
    // goes with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        _exit(1);
    // A crash ends the child at once: the parent's crash handlers (a test
    // framework's stack dumper, say) are not for it.
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        std::signal(signal, SIG_DFL);
    const QImage image = decode();
    if (image.isNull())
        _exit(1);
    const QByteArray profile = image.colorSpace().isValid() ? image.colorSpace().iccProfile() : QByteArray();
    const Header header = {kMagic, image.width(), image.height(), int(image.format()), image.bytesPerLine(),
                           image.dotsPerMeterX(), image.dotsPerMeterY(), profile.size()};
    bool ok = WriteAll(fd, &header, sizeof(header)) && WriteAll(fd, profile.constData(), size_t(profile.size()));
    for (int y = 0; ok && y < image.height(); ++y)
        ok = WriteAll(fd, image.constScanLine(y), size_t(image.bytesPerLine()));
    _exit(ok ? 0 : 1);
}

QImage Unpack(const QByteArray& data)
{
    Header header;
    if (data.size() < int(sizeof(header)))
        return QImage();
    std::memcpy(&header, data.constData(), sizeof(header));
    if (header.magic != kMagic || header.width <= 0 || header.height <= 0 || header.profileSize < 0
        || header.format <= QImage::Format_Invalid || header.format >= QImage::NImageFormats)
        return QImage();
    QImage image(header.width, header.height, QImage::Format(header.format));
    if (image.isNull() || image.bytesPerLine() != header.bytesPerLine)
        return QImage();
    const qint64 start = qint64(sizeof(header)) + header.profileSize;
    if (qint64(data.size()) != start + header.bytesPerLine * header.height)
        return QImage();
    for (int y = 0; y < header.height; ++y)
        std::memcpy(image.scanLine(y), data.constData() + start + header.bytesPerLine * y, size_t(header.bytesPerLine));
    image.setDotsPerMeterX(header.dotsPerMeterX);
    image.setDotsPerMeterY(header.dotsPerMeterY);
    if (header.profileSize > 0) {
        const QColorSpace space =
            QColorSpace::fromIccProfile(data.mid(int(sizeof(header)), header.profileSize));
        if (space.isValid())
            image.setColorSpace(space);
    }
    return image;
}

} // namespace

namespace FiIsolate {

QImage Run(const std::function<QImage()>& decode, int timeoutMs)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return QImage();
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return QImage();
    }
    if (child == 0) {
        ::close(fds[0]);
        Child(fds[1], parent, decode);
    }
    ::close(fds[1]);

    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    bool finished = false;
    char buffer[65536];
    while (!finished) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd wait = {fds[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t got = ::read(fds[0], buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            finished = got == 0;
        else
            data.append(buffer, int(got));
        if (got < 0)
            break;
    }
    ::close(fds[0]);
    if (!finished)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QImage();
    return Unpack(data);
}

} // namespace FiIsolate
