// Decoding in a child process, for the decoders that do not survive damaged
// files: a crash, an abort or an endless loop there fails the read instead of
// taking the program with it.
#ifndef KORVANE_FI_ISOLATE_H
#define KORVANE_FI_ISOLATE_H

#include <QImage>
#include <QVector>

#include <functional>

namespace FiIsolate {

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

// Runs work in a forked child and answers what it filled in, read back
// through a pipe. False when work answers false, the child dies, or it is
// still running after timeoutMs (it is then killed). Qt's messages are
// dropped in the child: its logging may wait on a lock a parent's thread held
// at the fork.
bool Run(const std::function<bool(Result&)>& work, int timeoutMs, Result& result);

// The same for one picture: null when the child fails.
QImage Run(const std::function<QImage()>& decode, int timeoutMs);

} // namespace FiIsolate

#endif
