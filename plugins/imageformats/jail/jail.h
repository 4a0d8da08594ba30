// Decoding in a child process, for the decoders that do not survive damaged
// or hostile files: a crash, an abort, an endless loop or a runaway
// allocation there fails the read instead of taking the program with it.
#ifndef KORVANE_JAIL_H
#define KORVANE_JAIL_H

#include <QImage>
#include <QVector>

#include <functional>

namespace Jail {

// What a child hands back: pictures (format, resolution and colour space
// included) and a few numbers whose meaning the caller gives them.
struct Result
{
    QVector<QImage> images;
    QVector<qint64> numbers;
    QByteArray data;        // anything else, in a layout the caller gives it
};

// Limits of what a child may hand back; a child that sends more fails.
const int MaxImages = 4096;
const int MaxNumbers = 4 * MaxImages + 64;
const int MaxData = 64 << 20;

// Address space a child may take beyond what it inherits: room for the
// largest picture the decoders accept (1 GiB of pixels) and their working
// memory, and no more than a share of the machine's memory.
qint64 ChildMemoryLimit();

// Runs work in a forked child and answers what it filled in, read back
// through a pipe. False when work answers false, the child dies or runs out
// of its memory (ChildMemoryLimit), it is still running after timeoutMs, or
// the conversion job of the calling thread is canceled (see
// PluginContract::CancelSourceProperty); the child is then killed. Qt's
// messages are dropped in the child: its logging may wait on a lock a
// parent's thread held at the fork.
bool Run(const std::function<bool(Result&)>& work, int timeoutMs, Result& result);

// The same for one picture: null when the child fails.
QImage Run(const std::function<QImage()>& decode, int timeoutMs);

} // namespace Jail

#endif
