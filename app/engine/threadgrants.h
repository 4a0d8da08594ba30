// What a conversion job's pool thread tells the format plugins while the job
// reads or writes (the properties are named in plugincontract.h): the job's
// cancel state, and how many threads the codec may keep busy.
#ifndef KORVANE_THREADGRANTS_H
#define KORVANE_THREADGRANTS_H

#include "convertcancel.h"

// Puts the job's cancel state on its pool thread for the job's length, where
// a format plugin whose decoder runs in a child process looks for it.
class CancelSourceOnThread
{
public:
    explicit CancelSourceOnThread(const ConvertCancelFlag* flag);
    ~CancelSourceOnThread();
    CancelSourceOnThread(const CancelSourceOnThread&) = delete;
    CancelSourceOnThread& operator=(const CancelSourceOnThread&) = delete;
};

// For the length of a read or a write, tells the format plugin on the job's
// pool thread how many threads it may keep busy: its own and those of the
// pool that stand idle (the batch has fewer pictures left than threads).
class CodecThreadsOnThread
{
public:
    CodecThreadsOnThread();
    ~CodecThreadsOnThread();
    CodecThreadsOnThread(const CodecThreadsOnThread&) = delete;
    CodecThreadsOnThread& operator=(const CodecThreadsOnThread&) = delete;
};

#endif
