// How many threads one decode or encode may keep busy: the program's grant
// on the calling thread (graphics/plugincontract.h).
#ifndef KORVANE_CODEC_THREADS_H
#define KORVANE_CODEC_THREADS_H

namespace CodecThreads {

// At least 1; 1 when the calling thread carries no grant.
int Granted();

} // namespace CodecThreads

#endif
