// The worker side of corpussweep: one source read or converted in a process of
// its own, set up as the program sets itself up, its outcome printed on stdout.
//
//   corpussweep --one FILE --work DIR --mode read|convert [--qt-only] [--to EXT] [--keep-metadata]
//
// DIR is an empty folder the sweep gives each worker: its settings store, its
// temporary files, the first decoded page and the conversion targets go there.
// The outcome is one line per fact, "key value", flushed as it happens so that
// what was printed before a crash survives it:
//
//   format NAME          the format the reader settled on
//   pages N              the reader's image count
//   page I WxH           a page that decoded
//   raw W H MD5          the first page as 8-bit premultiplied ARGB in SweepRawFile(DIR)
//   error TEXT           why the reader gave up
//   result read|failed   read mode: every page decoded, or not
//   target PATH          convert mode: a file the engine reports as written
//   state succeeded|failed|canceled   convert mode: the job's state
#ifndef KORVANE_BENCH_SWEEPCHILD_H
#define KORVANE_BENCH_SWEEPCHILD_H

#include <QString>

// The hidden first argument that turns corpussweep into a worker.
inline const char* SweepWorkerArgument()
{
    return "--one";
}

inline QString SweepRawFile(const QString& workFolder)
{
    return workFolder + QStringLiteral("/first.argb");
}

inline QString SweepTargetFolder(const QString& workFolder)
{
    return workFolder + QStringLiteral("/target");
}

// Runs the worker; argv is main()'s, starting with the program name.
int RunSweepWorker(int argc, char** argv);

#endif
