#include "deflatejoin.h"

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

const int kMaxCodeLength = 15;
const int kTableBits = 10;

// Bits of the stream, least significant first. The stream is followed by
// at least eight readable bytes of zeros, so that the buffer is refilled a
// word at a time; reading past the end gives zeros and marks the reader
// overrun.
class BitReader
{
public:
    BitReader(const uint8_t* data, size_t size)
        : pData(data)
        , pNext(data)
        , pLast(data + size)
        , iSize(size)
    {
    }

    // At least 56 bits held afterwards.
    void Refill()
    {
        uint64_t word = 0;
        if (pNext <= pLast) {
            std::memcpy(&word, pNext, 8);
            word = qFromLittleEndian(word);
        }
        iBuffer |= word << iHeld;
        pNext += (63 - iHeld) >> 3;
        iHeld |= 56;
    }

    // The next count bits (at most 56), refilled first when too few are held.
    uint32_t Peek(int count)
    {
        if (iHeld < count)
            Refill();
        return uint32_t(iBuffer & ((uint64_t(1) << count) - 1));
    }

    // The next count bits without a refill.
    uint32_t Low(int count) const { return uint32_t(iBuffer & ((uint64_t(1) << count) - 1)); }
    // The reading state, for a loop that keeps it in registers.
    struct State
    {
        const uint8_t* next;
        const uint8_t* last;
        uint64_t buffer;
        int held;
    };
    State Take() const { return State{pNext, pLast, iBuffer, iHeld}; }
    void Put(const State& state)
    {
        pNext = state.next;
        iBuffer = state.buffer;
        iHeld = state.held;
    }
    uint64_t Held() const { return iBuffer; }

    void Drop(int count)
    {
        iBuffer >>= count;
        iHeld -= count;
    }

    uint32_t Read(int count)
    {
        const uint32_t value = Peek(count);
        Drop(count);
        return value;
    }

    void AlignToByte() { Drop(iHeld & 7); }

    // Moves on by count whole bytes, from a byte boundary; past the end the
    // reader is overrun.
    void SkipBytes(size_t count)
    {
        const size_t position = Position() / 8;
        pNext = pData + (count > iSize + 16 - qMin(position, iSize + 16) ? iSize + 16 : position + count);
        iBuffer = 0;
        iHeld = 0;
    }

    // The position of the next bit to read.
    size_t Position() const { return size_t(pNext - pData) * 8 - size_t(iHeld); }
    bool Overrun() const { return Position() > iSize * 8; }
    // Cheaper: well past the end (the zeros there may decode for ever).
    bool FarPastEnd() const { return pNext > pLast + 8; }

private:
    const uint8_t* pData;
    const uint8_t* pNext;
    const uint8_t* pLast;
    size_t iSize;
    uint64_t iBuffer = 0;
    int iHeld = 0;
};

// Counts the codes of each length into perLength (zero lengths are unused
// symbols). False for an over-subscribed set of lengths; incomplete sets are
// allowed, as decoders allow them.
bool CountLengths(const uint8_t* lengths, int count, int* perLength)
{
    std::fill(perLength, perLength + kMaxCodeLength + 1, 0);
    for (int i = 0; i < count; ++i)
        ++perLength[lengths[i]];
    perLength[0] = 0;
    int left = 1;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
        left = left * 2 - perLength[length];
        if (left < 0)
            return false;
    }
    return true;
}

uint32_t Reversed(uint32_t code, int length)
{
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

// A canonical prefix code: short codes through a table of the next
// kTableBits bits, longer ones bit by bit.
class Huffman
{
public:
    // False for an over-subscribed set of lengths (incomplete sets are
    // allowed, as decoders allow them).
    bool Build(const uint8_t* lengths, int count)
    {
        int perLength[kMaxCodeLength + 1];
        if (!CountLengths(lengths, count, perLength))
            return false;
        int offsets[kMaxCodeLength + 2] = {};
        for (int length = 1; length <= kMaxCodeLength; ++length)
            offsets[length + 1] = offsets[length] + perLength[length];
        std::memcpy(iCount, perLength, sizeof(iCount));
        for (int i = 0; i < count; ++i) {
            if (lengths[i])
                iSorted[offsets[lengths[i]]++] = uint16_t(i);
        }
        std::memset(iTable, 0, sizeof(iTable));
        uint32_t code = 0;
        int index = 0;
        iEobCode = 0;
        iEobLength = 0;
        for (int length = 1; length <= kMaxCodeLength; ++length) {
            for (int n = 0; n < perLength[length]; ++n, ++index, ++code) {
                const int symbol = iSorted[index];
                if (symbol == 256) {
                    iEobCode = code;
                    iEobLength = length;
                }
                if (length > kTableBits)
                    continue;
                const uint32_t reversed = Reversed(code, length);
                for (uint32_t slot = reversed; slot < (1u << kTableBits); slot += 1u << length)
                    iTable[slot] = uint16_t(symbol << 4 | length);
            }
            code <<= 1;
        }
        return true;
    }

    // The next symbol, -1 for a code that is not in the set.
    int Decode(BitReader& bits) const
    {
        const uint16_t entry = iTable[bits.Peek(kMaxCodeLength) & ((1u << kTableBits) - 1)];
        if (entry & 15) {
            bits.Drop(entry & 15);
            return entry >> 4;
        }
        // Longer codes: canonical decoding one bit at a time.
        int code = 0;
        int first = 0;
        int index = 0;
        for (int length = 1; length <= kMaxCodeLength; ++length) {
            code |= int(bits.Read(1));
            const int count = iCount[length];
            if (code - first < count)
                return iSorted[index + code - first];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    // The end-of-block code, as written (most significant bit first); a
    // length of 0 when the set has none.
    uint32_t EobCode() const { return iEobCode; }
    int EobLength() const { return iEobLength; }

private:
    uint16_t iTable[1 << kTableBits];
    int iCount[kMaxCodeLength + 1];
    uint16_t iSorted[320];
    uint32_t iEobCode = 0;
    int iEobLength = 0;
};

const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The header of a Huffman block after its three first bits: the code
// lengths of the 288 literal/length symbols, then of the 32 distances.
bool ReadLengths(BitReader& bits, int type, uint8_t* lengths)
{
    if (type == 1) {
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        std::memset(lengths + 288, 5, 32);
        return true;
    }
    const int literalCount = int(bits.Read(5)) + 257;
    const int distanceCount = int(bits.Read(5)) + 1;
    const int codeLengthCount = int(bits.Read(4)) + 4;
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint8_t codeLengths[19] = {};
    for (int i = 0; i < codeLengthCount; ++i)
        codeLengths[kOrder[i]] = uint8_t(bits.Read(3));
    Huffman lengthCode;
    if (!lengthCode.Build(codeLengths, 19))
        return false;
    const int total = literalCount + distanceCount;
    int i = 0;
    while (i < total) {
        const int symbol = lengthCode.Decode(bits);
        if (symbol < 0 || bits.Overrun())
            return false;
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
            continue;
        }
        int repeat = 0;
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0)
                return false;
            value = lengths[i - 1];
            repeat = 3 + int(bits.Read(2));
        } else if (symbol == 17) {
            repeat = 3 + int(bits.Read(3));
        } else {
            repeat = 11 + int(bits.Read(7));
        }
        if (i + repeat > total)
            return false;
        std::memset(lengths + i, value, size_t(repeat));
        i += repeat;
    }
    std::memmove(lengths + 288, lengths + literalCount, size_t(distanceCount));
    std::memset(lengths + literalCount, 0, size_t(288 - literalCount));
    std::memset(lengths + 288 + distanceCount, 0, size_t(32 - distanceCount));
    return true;
}

// Codes up to this long are walked through tables.
const int kWalkBits = 11;

uint32_t BitsAt(const uint8_t* data, size_t position, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++position)
        value |= uint32_t((data[position >> 3] >> (position & 7)) & 1) << i;
    return value;
}

// A stream that is one final Huffman block: where its end-of-block code
// ends, found from the code in its header and the zero bits that pad the
// last byte. The padding and the code can be told apart unless the code is
// all zero bits; then (and for stored or fixed blocks) false.
bool SingleBlockEnd(const uint8_t* data, size_t size, size_t& end)
{
    BitReader bits(data, size);
    if (bits.Read(1) != 1 || bits.Read(2) != 2)
        return false;
    uint8_t lengths[288 + 32];
    Huffman literals;
    if (!ReadLengths(bits, 2, lengths) || bits.Overrun() || !literals.Build(lengths, 288))
        return false;
    const int length = literals.EobLength();
    const uint32_t code = literals.EobCode();
    if (length == 0 || code == 0)
        return false;
    const uint32_t written = Reversed(code, length);
    const size_t total = size * 8;
    int found = 0;
    for (int padding = 0; padding < 8; ++padding) {
        const size_t candidate = total - size_t(padding);
        if (candidate < bits.Position() + size_t(length))
            break;
        if (padding > 0 && BitsAt(data, candidate, padding) != 0)
            continue;
        if (BitsAt(data, candidate - size_t(length), length) == written) {
            end = candidate;
            ++found;
        }
    }
    return found == 1;
}

// Streams are walked block by block to the last: a few streams together. A
// walk waits on one table load after another; the loads of a few streams
// overlap where those of one cannot. Each step takes a literal (two when
// both fit the table), or a length and its distance, without a branch on
// which; a symbol the tables do not resolve (the end of a block, a code
// longer than the tables, a bad code) stops its stream where it stands
// until it is taken apart.
const int kLanes = 4;
const uint16_t kLaneLength = 1 << 5;   // a distance follows
const uint16_t kLaneStop = 1 << 6;
const uint16_t kLaneEnd = 1 << 7;      // with kLaneStop: the end of the block, its code's length from bit 8
const uint32_t kLaneMask = (1u << kWalkBits) - 1;

// The walk tables as one lane steps on them: the bits taken in the low five
// bits, kLaneLength for a length, kLaneStop (taking nothing) for what the
// lane cannot take: the end of the block (kLaneEnd), codes longer than the
// table, gaps of an incomplete code. False for an over-subscribed set of
// lengths.
bool BuildLaneTable(const uint8_t* lengths, int count, bool distances, uint16_t* table)
{
    std::fill(table, table + kLaneMask + 1, kLaneStop);
    int perLength[kMaxCodeLength + 1];
    if (!CountLengths(lengths, count, perLength))
        return false;
    uint32_t next[kMaxCodeLength + 1] = {};
    uint32_t code = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
        code = (code + uint32_t(perLength[length - 1])) << 1;
        next[length] = code;
    }
    for (int symbol = 0; symbol < count; ++symbol) {
        const int length = lengths[symbol];
        if (length == 0)
            continue;
        const uint32_t reversed = Reversed(next[length]++, length);
        if (length > kWalkBits)
            continue;
        uint16_t entry = kLaneStop;
        if (distances)
            entry = symbol < 30 ? uint16_t(length + kDistanceExtra[symbol]) : kLaneStop;
        else if (symbol < 256)
            entry = uint16_t(length);
        else if (symbol == 256)
            entry = uint16_t(kLaneStop | kLaneEnd | length << 8);
        else if (symbol <= 285)
            entry = uint16_t((length + kLengthExtra[symbol - 257]) | kLaneLength);
        for (uint32_t slot = reversed; slot <= kLaneMask; slot += 1u << length)
            table[slot] = entry;
    }
    if (distances)
        return true;
    // Two literals at once where both fit: from the top down, so that the
    // second one is read before its own slot is paired.
    for (uint32_t i = kLaneMask + 1; i-- > 0;) {
        const uint16_t first = table[i];
        if (first & (kLaneLength | kLaneStop))
            continue;
        const uint16_t second = table[i >> first];
        if (!(second & (kLaneLength | kLaneStop)) && second <= kWalkBits - first)
            table[i] = uint16_t(first + second);
    }
    return true;
}

struct Lane
{
    Lane(const uint8_t* data, size_t size)
        : bits(data, size)
    {
    }

    BitReader bits;
    uint16_t literalTable[1 << kWalkBits];
    uint16_t distanceTable[1 << kWalkBits];
    uint8_t lengths[288 + 32];
    Huffman literals;      // built for the block when first needed
    Huffman distances;
    bool slowCodes = false;
    uint16_t stop = 0;
    bool final = false;
    size_t header = 0;     // of the block being walked
    size_t end = 0;
    bool done = false;
    bool ok = false;
};

// One step of a lane: a literal (two when both fit the table), or a length
// and its distance, without a branch on which. careful: the lane may be near
// or past its end (else it is well before it and reads within its padding).
template <bool careful>
inline void Step(BitReader::State& s, const uint16_t* literalTable, const uint16_t* distanceTable, uint32_t& stop,
                 bool& past)
{
    static const uint8_t zeros[8] = {};
    uint64_t word;
    std::memcpy(&word, !careful || s.next <= s.last ? s.next : zeros, 8);
    s.buffer |= qFromLittleEndian(word) << s.held;
    s.next += (63 - s.held) >> 3;
    s.held |= 56;
    const uint32_t symbol = literalTable[s.buffer & kLaneMask];
    const uint32_t symbolBits = symbol & 31;
    const uint32_t distance = distanceTable[(s.buffer >> symbolBits) & kLaneMask];
    const uint32_t length = 0u - ((symbol >> 5) & 1);         // all ones for a length
    const uint32_t go = ((distance >> 6) & 1 & length) - 1;   // zero when its distance stops
    const uint32_t taken = (symbolBits + (distance & 31 & length)) & go;
    s.buffer >>= taken;
    s.held -= int(taken);
    stop |= symbol | (distance & length);
    if (careful)
        past = past || s.next > s.last + 8;
}

template <int count, bool careful>
inline void Round(BitReader::State* s, Lane* const* lanes, uint32_t& stop, bool& past)
{
    Step<careful>(s[0], lanes[0]->literalTable, lanes[0]->distanceTable, stop, past);
    if (count > 1)
        Step<careful>(s[1], lanes[1]->literalTable, lanes[1]->distanceTable, stop, past);
    if (count > 2)
        Step<careful>(s[2], lanes[2]->literalTable, lanes[2]->distanceTable, stop, past);
    if (count > 3)
        Step<careful>(s[3], lanes[3]->literalTable, lanes[3]->distanceTable, stop, past);
}

// Steps the first count lanes until one of them stops or runs well past its
// end. A step moves a lane's reading on by at most 7 bytes: as many rounds as
// keep every lane within 8 bytes past its end are taken without checking.
template <int count>
void Steps(Lane* const* lanes)
{
    BitReader::State s[4];
    for (int i = 0; i < count; ++i)
        s[i] = lanes[i]->bits.Take();
    uint32_t stop = 0;
    bool past = false;
    while (!(stop & kLaneStop) && !past) {
        std::ptrdiff_t rounds = PTRDIFF_MAX;
        for (int i = 0; i < count; ++i)
            rounds = qMin<std::ptrdiff_t>(rounds, (s[i].last + 8 - s[i].next) / 7);
        if (rounds <= 0) {
            Round<count, true>(s, lanes, stop, past);
            continue;
        }
        for (std::ptrdiff_t r = 0; r < rounds && !(stop & kLaneStop); ++r)
            Round<count, false>(s, lanes, stop, past);
    }
    for (int i = 0; i < count; ++i) {
        Lane& lane = *lanes[i];
        lane.bits.Put(s[i]);
        // Which lanes stopped is found again from their next symbols.
        lane.bits.Refill();
        const uint64_t held = lane.bits.Held();
        const uint32_t symbol = lane.literalTable[held & kLaneMask];
        const uint32_t distance = lane.distanceTable[(held >> (symbol & 31)) & kLaneMask];
        lane.stop = uint16_t((symbol | ((symbol & kLaneLength) ? distance : 0)) & kLaneStop);
    }
}

void Fail(Lane& lane)
{
    lane.done = true;
    lane.ok = false;
}

// The headers up to the next Huffman block, whose tables the lane takes;
// stored blocks are stepped over. False when the stream is damaged.
bool StartBlock(Lane& lane)
{
    BitReader& bits = lane.bits;
    for (;;) {
        lane.header = bits.Position();
        lane.final = bits.Read(1) != 0;
        const uint32_t type = bits.Read(2);
        if (type == 0) {
            bits.AlignToByte();
            const uint32_t length = bits.Read(16);
            if ((bits.Read(16) ^ 0xFFFF) != length)
                return false;
            bits.SkipBytes(length);
            if (bits.Overrun())
                return false;
            if (lane.final) {
                lane.end = bits.Position();
                lane.done = lane.ok = true;
                return true;
            }
            continue;
        }
        if (type == 3 || !ReadLengths(bits, int(type), lane.lengths) || bits.Overrun()
            || !BuildLaneTable(lane.lengths, 288, false, lane.literalTable)
            || !BuildLaneTable(lane.lengths + 288, 32, true, lane.distanceTable))
            return false;
        lane.slowCodes = false;
        return true;
    }
}

// A distance the table does not resolve.
bool SlowDistance(Lane& lane)
{
    BitReader& bits = lane.bits;
    const uint16_t entry = lane.distanceTable[bits.Peek(kMaxCodeLength) & kLaneMask];
    if (!(entry & kLaneStop)) {
        bits.Drop(entry & 31);
        return true;
    }
    const int symbol = lane.distances.Decode(bits);
    if (symbol < 0 || symbol > 29)
        return false;
    bits.Read(kDistanceExtra[symbol]);
    return true;
}

void EndBlock(Lane& lane);

// Takes apart the symbol the lane stopped at: the end of its block (the
// next block's header is read, or the walk ends), or a code too long for
// the tables.
void Settle(Lane& lane)
{
    BitReader& bits = lane.bits;
    lane.stop = 0;
    if (bits.FarPastEnd())
        return Fail(lane);
    const uint16_t entry = lane.literalTable[bits.Peek(kMaxCodeLength) & kLaneMask];
    if (entry & kLaneEnd) {
        bits.Drop(entry >> 8);
        return EndBlock(lane);
    }
    // The rest needs the codes themselves, built once per block.
    if (!lane.slowCodes) {
        if (!lane.literals.Build(lane.lengths, 288) || !lane.distances.Build(lane.lengths + 288, 32))
            return Fail(lane);
        lane.slowCodes = true;
    }
    if (!(entry & kLaneStop)) {
        if (!(entry & kLaneLength))
            return;
        // A length whose distance stopped.
        bits.Drop(entry & 31);
        if (!SlowDistance(lane))
            Fail(lane);
        return;
    }
    const int symbol = lane.literals.Decode(bits);
    if (symbol < 0 || symbol > 285)
        return Fail(lane);
    if (symbol < 256)
        return;
    if (symbol > 256) {
        bits.Read(kLengthExtra[symbol - 257]);
        if (!SlowDistance(lane))
            Fail(lane);
        return;
    }
    EndBlock(lane);
}

// After a block's end code: the walk ends with the final block, else the
// next block begins.
void EndBlock(Lane& lane)
{
    BitReader& bits = lane.bits;
    if (bits.Overrun())
        return Fail(lane);
    if (lane.final) {
        lane.end = bits.Position();
        lane.done = lane.ok = true;
        return;
    }
    if (!StartBlock(lane))
        Fail(lane);
}

// Walks up to kLanes streams to the end of their final blocks.
void WalkTogether(Lane* const* lanes, int count)
{
    Lane* active[kLanes];
    int running = 0;
    for (int i = 0; i < count; ++i) {
        if (!StartBlock(*lanes[i]))
            Fail(*lanes[i]);
        if (!lanes[i]->done)
            active[running++] = lanes[i];
    }
    while (running > 0) {
        switch (running) {
        case 4: Steps<4>(active); break;
        case 3: Steps<3>(active); break;
        case 2: Steps<2>(active); break;
        default: Steps<1>(active); break;
        }
        for (int i = 0; i < running;) {
            Lane& lane = *active[i];
            if (lane.stop || lane.bits.FarPastEnd())
                Settle(lane);
            if (lane.done)
                active[i] = active[--running];
            else
                ++i;
        }
    }
}

// The stream's last block made not final and an empty stored block added.
size_t Finish(uint8_t* stream, size_t size, size_t lastHeader, size_t end)
{
    if ((end + 7) / 8 != size)
        return 0;
    stream[lastHeader >> 3] &= uint8_t(~(1u << (lastHeader & 7)));
    // The empty stored block: three zero header bits right after the end
    // code (the padding of the last byte, cleared, or a new byte), then
    // LEN 0 and NLEN 0xFFFF on the next byte boundary.
    if (end & 7)
        stream[size - 1] &= uint8_t((1u << (end & 7)) - 1);
    if (size * 8 - end < 3)
        stream[size++] = 0;
    const uint8_t stored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(stream + size, stored, 4);
    return size + 4;
}

} // namespace

namespace DeflateJoin {

bool MakeJoinable(uint8_t* const* streams, size_t* sizes, const size_t* capacities, int count)
{
    bool ok = true;
    for (int first = 0; first < count; first += kLanes) {
        std::unique_ptr<Lane> lanes[kLanes];
        Lane* walked[kLanes];
        int walking = 0;
        const int group = qMin(kLanes, count - first);
        for (int i = first; i < first + group; ++i) {
            if (sizes[i] == 0 || capacities[i] < sizes[i] + 16) {
                sizes[i] = 0;
                continue;
            }
            std::memset(streams[i] + sizes[i], 0, 16);
            size_t end = 0;
            if (SingleBlockEnd(streams[i], sizes[i], end)) {
                sizes[i] = Finish(streams[i], sizes[i], 0, end);
                continue;
            }
            lanes[i - first].reset(new (std::nothrow) Lane(streams[i], sizes[i]));
            if (lanes[i - first])
                walked[walking++] = lanes[i - first].get();
            else
                sizes[i] = 0;
        }
        WalkTogether(walked, walking);
        for (int i = first; i < first + group; ++i) {
            const Lane* lane = lanes[i - first].get();
            if (lane)
                sizes[i] = lane->ok ? Finish(streams[i], sizes[i], lane->header, lane->end) : 0;
            ok = ok && sizes[i] > 0;
        }
    }
    return ok;
}

uint32_t CombineAdler32(uint32_t first, uint32_t second, size_t secondLength)
{
    // For data D of length n: A = 1 + sum of D, B = n + sum of (n - i) D[i]
    // (i from 0), both modulo 65521. Joined: A = A1 + A2 - 1 and
    // B = B1 + B2 + n2 (A1 - 1).
    const uint64_t base = 65521;
    const uint64_t a1 = first & 0xFFFF;
    const uint64_t b1 = first >> 16;
    const uint64_t a2 = second & 0xFFFF;
    const uint64_t b2 = second >> 16;
    const uint64_t n2 = uint64_t(secondLength % base);
    const uint64_t a = (a1 + a2 + base - 1) % base;
    const uint64_t b = (b1 + b2 + n2 * ((a1 + base - 1) % base)) % base;
    return uint32_t(b << 16 | a);
}

} // namespace DeflateJoin
