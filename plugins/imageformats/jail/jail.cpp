#include "jail.h"

#include "graphics/plugincontract.h"

#include <QByteArray>
#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QVariant>

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The child writes one stream header, the numbers, then every picture: its
// header, its colour profile and its rows as they lie in the QImage.
struct StreamHeader
{
    quint32 magic;
    qint32 images;
    qint32 numbers;
    qint32 dataSize;
};

struct ImageHeader
{
    qint32 width;
    qint32 height;
    qint32 format;
    qint32 dotsPerMeterX;
    qint32 dotsPerMeterY;
    qint32 profileSize;
    qint64 bytesPerLine;
};

const quint32 kMagic = 0x4B564649;   // "KVFI"

// The decoders of the plugin refuse pictures beyond this many pixels too.
const qint64 kMaxPixels = qint64(1) << 28;
const qint32 kMaxProfile = 64 << 20;

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

bool Send(int fd, const Jail::Result& result)
{
    if (result.images.size() > Jail::MaxImages || result.numbers.size() > Jail::MaxNumbers
        || result.data.size() > Jail::MaxData)
        return false;
    const StreamHeader stream = {kMagic, qint32(result.images.size()), qint32(result.numbers.size()),
                                 qint32(result.data.size())};
    if (!WriteAll(fd, &stream, sizeof(stream))
        || !WriteAll(fd, result.numbers.constData(), sizeof(qint64) * size_t(result.numbers.size()))
        || !WriteAll(fd, result.data.constData(), size_t(result.data.size())))
        return false;
    for (const QImage& image : result.images) {
        if (image.isNull())
            return false;
        const QByteArray profile = image.colorSpace().isValid() ? image.colorSpace().iccProfile() : QByteArray();
        const ImageHeader header = {image.width(), image.height(), int(image.format()), image.dotsPerMeterX(),
                                    image.dotsPerMeterY(), profile.size(), image.bytesPerLine()};
        // A QImage's rows follow each other without gaps.
        if (!WriteAll(fd, &header, sizeof(header)) || !WriteAll(fd, profile.constData(), size_t(profile.size()))
            || !WriteAll(fd, image.constBits(), size_t(image.sizeInBytes())))
            return false;
    }
    return true;
}

void DropMessage(QtMsgType, const QMessageLogContext&, const QString&)
{
}

// The address space the process holds now, from /proc (bytes; 0 if unknown).
qint64 AddressSpace()
{
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[128] = {};
    const ssize_t got = ::read(fd, text, sizeof(text) - 1);
    ::close(fd);
    if (got <= 0)
        return 0;
    return qint64(std::strtoll(text, nullptr, 10)) * ::sysconf(_SC_PAGESIZE);
}

// A decoder that asks for more than its share fails its allocation and the
// child ends; the program's memory is not touched. The sanitizers reserve
// terabytes of address space for their shadow memory, so their builds go
// without the limit.
void LimitMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    return;
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    return;
#endif
#endif
    const qint64 limit = AddressSpace() + Jail::ChildMemoryLimit();
    const rlimit memory = {rlim_t(limit), rlim_t(limit)};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
}

// The child's side: only the work, malloc and write() run here; no Qt
// logging or event machinery, which may hold locks of the parent's threads.
[[noreturn]] void Child(int fd, pid_t parent, const std::function<bool(Jail::Result&)>& work)
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
    qInstallMessageHandler(DropMessage);
    LimitMemory();
    Jail::Result result;
    const bool ok = work(result) && Send(fd, result);
    _exit(ok ? 0 : 1);
}

// How often a waiting parent looks at its job's cancel state.
const int kCancelPollMs = 50;

// Whether the conversion job on this thread was canceled: the engine puts its
// cancel state on the thread (read and written on this thread only).
bool Canceled()
{
    const QObject* source = QThread::currentThread()->property(PluginContract::CancelSourceProperty).value<QObject*>();
    return source && source->property(PluginContract::CanceledProperty).toBool();
}

// The parent's side of the pipe: exact reads against one deadline.
class Pipe
{
public:
    Pipe(int fd, int timeoutMs)
        : iFd(fd)
        , iTimeoutMs(timeoutMs)
    {
        clock.start();
    }

    // False on the end of the stream, an error or the deadline.
    bool Read(void* data, qint64 size)
    {
        char* bytes = static_cast<char*>(data);
        while (size > 0) {
            const qint64 got = Next(bytes, size);
            if (got <= 0)
                return false;
            bytes += got;
            size -= got;
        }
        return true;
    }

    // True when the child closed its end with nothing more written.
    bool AtEnd()
    {
        char byte;
        return Next(&byte, 1) == 0;
    }

private:
    // Bytes read, 0 at the end of the stream, -1 on an error, the deadline
    // or a cancel of the calling thread's conversion job.
    qint64 Next(char* data, qint64 size)
    {
        for (;;) {
            const qint64 left = iTimeoutMs - clock.elapsed();
            if (left <= 0 || Canceled())
                return -1;
            pollfd wait = {iFd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, int(qMin<qint64>(left, kCancelPollMs)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0)
                continue;
            if (ready < 0)
                return -1;
            const ssize_t got = ::read(iFd, data, size_t(qMin<qint64>(size, 1 << 30)));
            if (got < 0 && errno == EINTR)
                continue;
            return got < 0 ? -1 : qint64(got);
        }
    }

    int iFd;
    int iTimeoutMs;
    QElapsedTimer clock;
};

// Pictures from this size on are received into memory of whole huge pages
// where the kernel offers them: faulting in a 48 MB buffer page by page costs
// more than copying it through the pipe.
const qint64 kHugeFrom = qint64(2) << 20;
const size_t kHugePage = size_t(2) << 20;

struct Mapping
{
    void* base;
    size_t length;
};

void Unmap(void* info)
{
    Mapping* mapping = static_cast<Mapping*>(info);
    ::munmap(mapping->base, mapping->length);
    delete mapping;
}

// A picture of the size the child sent: bytesPerLine must be the one QImage
// itself gives the size and format.
QImage Allocate(int width, int height, QImage::Format format, qint64 bytesPerLine)
{
    const qint64 bits = QImage::toPixelFormat(format).bitsPerPixel();
    if (bits <= 0 || bytesPerLine != (qint64(width) * bits + 31) / 32 * 4)
        return QImage();
    const qint64 size = bytesPerLine * height;
    if (size < kHugeFrom || size > std::numeric_limits<int>::max())
        return QImage(width, height, format);
    const size_t length = (size_t(size) + kHugePage - 1) / kHugePage * kHugePage + kHugePage;
    void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return QImage(width, height, format);
    uchar* data = reinterpret_cast<uchar*>((reinterpret_cast<quintptr>(base) + kHugePage - 1) & ~quintptr(kHugePage - 1));
    ::madvise(data, size_t(size), MADV_HUGEPAGE);
    Mapping* mapping = new Mapping{base, length};
    QImage image(data, width, height, int(bytesPerLine), format, Unmap, mapping);
    if (image.isNull())
        Unmap(mapping);
    return image;
}

bool ReceiveImage(Pipe& pipe, QImage& image)
{
    ImageHeader header;
    if (!pipe.Read(&header, sizeof(header)))
        return false;
    if (header.width <= 0 || header.height <= 0 || qint64(header.width) * header.height > kMaxPixels
        || header.profileSize < 0 || header.profileSize > kMaxProfile
        || header.format <= QImage::Format_Invalid || header.format >= QImage::NImageFormats)
        return false;
    QByteArray profile(header.profileSize, Qt::Uninitialized);
    if (!pipe.Read(profile.data(), profile.size()))
        return false;
    image = Allocate(header.width, header.height, QImage::Format(header.format), header.bytesPerLine);
    if (image.isNull() || image.bytesPerLine() != header.bytesPerLine || !pipe.Read(image.bits(), image.sizeInBytes()))
        return false;
    image.setDotsPerMeterX(header.dotsPerMeterX);
    image.setDotsPerMeterY(header.dotsPerMeterY);
    if (!profile.isEmpty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(profile);
        if (space.isValid())
            image.setColorSpace(space);
    }
    return true;
}

bool Receive(Pipe& pipe, Jail::Result& result)
{
    StreamHeader stream;
    if (!pipe.Read(&stream, sizeof(stream)) || stream.magic != kMagic || stream.images < 0
        || stream.images > Jail::MaxImages || stream.numbers < 0 || stream.numbers > Jail::MaxNumbers
        || stream.dataSize < 0 || stream.dataSize > Jail::MaxData)
        return false;
    result.numbers.resize(stream.numbers);
    if (!pipe.Read(result.numbers.data(), qint64(sizeof(qint64)) * stream.numbers))
        return false;
    result.data.resize(stream.dataSize);
    if (!pipe.Read(result.data.data(), stream.dataSize))
        return false;
    result.images.resize(stream.images);
    for (QImage& image : result.images) {
        if (!ReceiveImage(pipe, image))
            return false;
    }
    return pipe.AtEnd();
}

} // namespace

namespace Jail {

qint64 ChildMemoryLimit()
{
    const qint64 pages = ::sysconf(_SC_PHYS_PAGES);
    const qint64 machine = pages > 0 ? pages * ::sysconf(_SC_PAGESIZE) : (qint64(8) << 30);
    const int threads = qMax(1, QThread::idealThreadCount());
    return qBound(qint64(512) << 20, machine / threads, qint64(3) << 30);
}

bool Run(const std::function<bool(Result&)>& work, int timeoutMs, Result& result)
{
    result = Result();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // A larger pipe lets a big picture through in fewer turns.
    ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        Child(fds[1], parent, work);
    }
    ::close(fds[1]);

    Pipe pipe(fds[0], timeoutMs);
    const bool received = Receive(pipe, result);
    ::close(fds[0]);
    // A child that is still running has stalled, or wrote a stream that
    // does not parse; either way it is done with.
    if (!received)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result = Result();
        return false;
    }
    return true;
}

QImage Run(const std::function<QImage()>& decode, int timeoutMs)
{
    Result result;
    const auto work = [&decode](Result& out) {
        const QImage image = decode();
        if (image.isNull())
            return false;
        out.images << image;
        return true;
    };
    if (!Run(work, timeoutMs, result) || result.images.size() != 1)
        return QImage();
    return result.images.first();
}

} // namespace Jail
