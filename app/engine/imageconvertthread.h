// The per-file worker: one source decoded page by page into its targets.
#ifndef KORVANE_IMAGECONVERTTHREAD_H
#define KORVANE_IMAGECONVERTTHREAD_H

#include "convertjob.h"
#include "pagewriter.h"

// The most decoded pixel memory one picture may take: 1 GiB, and no more
// than the machine's memory shared among the pool's threads. A source whose
// declared size is larger fails before it is decoded.
qint64 DecodeBudget();

// Converts one source into its target files; runs on a pool thread. Reads the
// job, its options record and its cancel flag; writes only files.
ItemConvertResult ThreadFunction(const ImageConvertData& job);

#endif
