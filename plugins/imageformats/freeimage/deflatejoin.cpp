#include "deflatejoin.h"

#include <QtEndian>

#include <cstring>

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
        int perLength[kMaxCodeLength + 1] = {};
        for (int i = 0; i < count; ++i)
            ++perLength[lengths[i]];
        perLength[0] = 0;
        int left = 1;
        for (int length = 1; length <= kMaxCodeLength; ++length) {
            left = left * 2 - perLength[length];
            if (left < 0)
                return false;
        }
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

// What the walk needs of a symbol: how many bits it takes with its extra
// bits, and its kind. Walking decodes nothing, so literals that fit the
// table's bits together are taken two at a time.
enum Kind : uint32_t { Literal, Length, Distance, EndOfBlock, LongCode, Invalid };
const int kWalkBits = 11;

inline uint32_t Entry(Kind kind, int bits)
{
    return uint32_t(kind) << 8 | uint32_t(bits);
}
inline Kind KindOf(uint32_t entry)
{
    return Kind(entry >> 8);
}
inline int BitsOf(uint32_t entry)
{
    return int(entry & 0xFF);
}

// distances: the table of the distance code, else of the literal/length code.
bool BuildWalkTable(const uint8_t* lengths, int count, bool distances, uint32_t* table)
{
    const uint32_t size = 1u << kWalkBits;
    for (uint32_t i = 0; i < size; ++i)
        table[i] = Entry(Invalid, 0);
    int perLength[kMaxCodeLength + 1] = {};
    for (int i = 0; i < count; ++i)
        ++perLength[lengths[i]];
    perLength[0] = 0;
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
        if (length > kWalkBits) {
            table[reversed & (size - 1)] = Entry(LongCode, 0);
            continue;
        }
        uint32_t entry = Entry(Invalid, 0);
        if (distances)
            entry = symbol < 30 ? Entry(Distance, length + kDistanceExtra[symbol]) : Entry(Invalid, 0);
        else if (symbol < 256)
            entry = Entry(Literal, length);
        else if (symbol == 256)
            entry = Entry(EndOfBlock, length);
        else if (symbol <= 285)
            entry = Entry(Length, length + kLengthExtra[symbol - 257]);
        for (uint32_t slot = reversed; slot < size; slot += 1u << length)
            table[slot] = entry;
    }
    if (distances)
        return true;
    // A literal followed by another whose code lies wholly in the rest of
    // the table's bits: both at once.
    uint32_t single[1 << kWalkBits];
    std::memcpy(single, table, sizeof(single));
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t first = single[i];
        if (KindOf(first) != Literal)
            continue;
        const uint32_t second = single[i >> BitsOf(first)];
        if (KindOf(second) == Literal && BitsOf(second) <= kWalkBits - BitsOf(first))
            table[i] = Entry(Literal, BitsOf(first) + BitsOf(second));
    }
    return true;
}

// The symbols of one Huffman block up to its end code.
bool WalkSymbols(BitReader& bits, const uint8_t* lengths)
{
    uint32_t literalTable[1 << kWalkBits];
    uint32_t distanceTable[1 << kWalkBits];
    Huffman literals;
    Huffman distances;
    if (!BuildWalkTable(lengths, 288, false, literalTable) || !BuildWalkTable(lengths + 288, 32, true, distanceTable)
        || !literals.Build(lengths, 288) || !distances.Build(lengths + 288, 32))
        return false;
    const uint32_t mask = (1u << kWalkBits) - 1;
    for (;;) {
        // 56 bits hold a length and a distance code with their extra bits.
        bits.Refill();
        uint32_t entry = literalTable[bits.Low(kWalkBits) & mask];
        if (KindOf(entry) == LongCode) {
            const int symbol = literals.Decode(bits);
            if (symbol < 0 || symbol > 285)
                return false;
            entry = symbol < 256 ? Entry(Literal, 0)
                  : symbol == 256 ? Entry(EndOfBlock, 0)
                                  : Entry(Length, kLengthExtra[symbol - 257]);
        }
        bits.Drop(BitsOf(entry));
        switch (KindOf(entry)) {
        case Literal:
            if (bits.FarPastEnd())
                return false;
            continue;
        case EndOfBlock:
            return !bits.Overrun();
        case Length:
            break;
        default:
            return false;
        }
        uint32_t distance = distanceTable[bits.Low(kWalkBits) & mask];
        if (KindOf(distance) == LongCode) {
            const int symbol = distances.Decode(bits);
            if (symbol < 0 || symbol > 29)
                return false;
            bits.Refill();
            distance = Entry(Distance, kDistanceExtra[symbol]);
        }
        if (KindOf(distance) != Distance)
            return false;
        bits.Drop(BitsOf(distance));
        if (bits.FarPastEnd())
            return false;
    }
}

// Walks every block: the position of the last block's header and of the
// bit after its end-of-block code.
bool Walk(const uint8_t* data, size_t size, size_t& lastHeader, size_t& end)
{
    BitReader bits(data, size);
    uint8_t lengths[288 + 32];
    for (;;) {
        lastHeader = bits.Position();
        const uint32_t final = bits.Read(1);
        const uint32_t type = bits.Read(2);
        if (type == 0) {
            bits.AlignToByte();
            const uint32_t length = bits.Read(16);
            if ((bits.Read(16) ^ 0xFFFF) != length)
                return false;
            for (uint32_t i = 0; i < length && !bits.Overrun(); ++i)
                bits.Read(8);
        } else if (type == 3 || !ReadLengths(bits, int(type), lengths) || !WalkSymbols(bits, lengths)) {
            return false;
        }
        if (bits.Overrun())
            return false;
        if (final) {
            end = bits.Position();
            return true;
        }
    }
}

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

} // namespace

namespace DeflateJoin {

size_t MakeJoinable(uint8_t* stream, size_t size, size_t capacity)
{
    if (size == 0 || capacity < size + 8)
        return 0;
    std::memset(stream + size, 0, 8);
    size_t lastHeader = 0;
    size_t end = 0;
    if (!SingleBlockEnd(stream, size, end) && !Walk(stream, size, lastHeader, end))
        return 0;
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
