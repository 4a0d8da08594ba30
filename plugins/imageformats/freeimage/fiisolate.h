// Decoding in a child process, for the decoders that do not survive damaged
// files: a crash, an abort or an endless loop there fails the read instead of
// taking the program with it.
#ifndef KORVANE_FI_ISOLATE_H
#define KORVANE_FI_ISOLATE_H

#include <QImage>

#include <functional>

namespace FiIsolate {

// Runs decode in a forked child and answers its picture (format, resolution
// and colour space included), read back through a pipe. Null when the child
// fails, dies or is still running after timeoutMs (it is then killed).
QImage Run(const std::function<QImage()>& decode, int timeoutMs);

} // namespace FiIsolate

#endif
