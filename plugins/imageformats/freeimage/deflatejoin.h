// Raw deflate streams made separately, joined into one: every stream but the
// last loses the final flag of its last block and ends with an empty stored
// block, so that the next stream starts on a byte boundary and a decoder
// reads on into it.
#ifndef KORVANE_DEFLATE_JOIN_H
#define KORVANE_DEFLATE_JOIN_H

#include <cstddef>
#include <cstdint>

namespace DeflateJoin {

// Makes the complete raw deflate stream in stream[0, size) joinable to a
// stream that follows it, in place: up to five bytes are added, and capacity
// must be at least size + 8. Answers the new size, 0 when the data is no
// complete deflate stream. A stream of a single block (what a compressor
// writes for a small input) is done from its header alone; otherwise its
// blocks are walked to find the last one.
size_t MakeJoinable(uint8_t* stream, size_t size, size_t capacity);

// The Adler-32 of a concatenation from the checksums of its two parts and
// the length of the second.
uint32_t CombineAdler32(uint32_t first, uint32_t second, size_t secondLength);

} // namespace DeflateJoin

#endif
