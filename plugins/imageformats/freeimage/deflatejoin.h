// Raw deflate streams made separately, joined into one: every stream but the
// last loses the final flag of its last block and ends with an empty stored
// block, so that the next stream starts on a byte boundary and a decoder
// reads on into it.
#ifndef KORVANE_DEFLATE_JOIN_H
#define KORVANE_DEFLATE_JOIN_H

#include <cstddef>
#include <cstdint>

namespace DeflateJoin {

// Makes the complete raw deflate streams streams[i][0, sizes[i]) joinable
// to a stream that follows each, in place: up to five bytes are added, and
// capacities[i] must be at least sizes[i] + 16. sizes[i] becomes the new
// size, 0 when the data is no complete deflate stream; false when any is
// not. A stream of a single block (what a compressor writes for a small
// input) is done from its header alone; the others are walked block by
// block to the last one, a few together (which takes little more time
// than walking one).
bool MakeJoinable(uint8_t* const* streams, size_t* sizes, const size_t* capacities, int count);

// The Adler-32 of a concatenation from the checksums of its two parts and
// the length of the second.
uint32_t CombineAdler32(uint32_t first, uint32_t second, size_t secondLength);

} // namespace DeflateJoin

#endif
