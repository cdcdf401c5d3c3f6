// LZFSE blocks: literals and (literal length, match length, distance) triples, each coded
// with finite-state entropy tables and read from the end of their payload backwards.
#include "import/codecs/LzfseOutput.h"

#include <array>
#include <bit>
#include <memory>
#include <vector>

namespace lzfse::detail {

namespace {

constexpr int literalStates = 1024;
constexpr int literalSymbols = 256;
constexpr int lengthStates = 64;
constexpr int lengthSymbols = 20;
constexpr int distanceStates = 256;
constexpr int distanceSymbols = 64;
constexpr uint32_t maxLiterals = 40000;
constexpr uint32_t maxMatches = 10000;
constexpr qsizetype plainHeaderSize = 772;
constexpr qsizetype packedFixedHeaderSize = 32;
constexpr int frequencyCount = 2 * lengthSymbols + distanceSymbols + literalSymbols;

constexpr std::array<uint8_t, lengthSymbols> literalLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 5, 8};
constexpr std::array<uint32_t, lengthSymbols> literalLengthBase = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 20, 28, 60};
constexpr std::array<uint8_t, lengthSymbols> matchLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 5, 8, 11};
constexpr std::array<uint32_t, lengthSymbols> matchLengthBase = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 24, 56, 312};

constexpr std::array<uint8_t, distanceSymbols> makeDistanceExtraBits()
{
    std::array<uint8_t, distanceSymbols> bits{};
    for (int s = 0; s < distanceSymbols; ++s)
        bits[size_t(s)] = uint8_t(s >> 2);
    return bits;
}

constexpr std::array<uint32_t, distanceSymbols> makeDistanceBase()
{
    std::array<uint32_t, distanceSymbols> base{};
    for (int s = 0; s < distanceSymbols; ++s)
        base[size_t(s)] = s < 4 ? uint32_t(s) : base[size_t(s - 1)] + (1u << ((s - 1) >> 2));
    return base;
}

constexpr auto distanceExtraBits = makeDistanceExtraBits();
constexpr auto distanceBase = makeDistanceBase();
static_assert(distanceBase[63] == 229372);

// The payload seen as one little-endian number whose top bits are read first.
class BackwardBits
{
public:
    // bitsDelta (-7..0) removes unused high bits of the last byte; they must be zero.
    bool start(const uint8_t *begin, qsizetype size, int bitsDelta)
    {
        m_begin = begin;
        m_next = begin + size;
        if (bitsDelta < -7 || bitsDelta > 0)
            return false;
        if (size == 0)
            return bitsDelta == 0;
        const uint8_t last = *--m_next;
        if ((last >> (8 + bitsDelta)) != 0)
            return false;
        m_bits = last;
        m_available = 8 + bitsDelta;
        return true;
    }

    // Up to 24 bits; reading past the start of the payload marks the stream as overrun.
    uint32_t read(int count)
    {
        if (m_available < count) {
            while (m_available <= 56 && m_next > m_begin) {
                m_bits = (m_bits << 8) | *--m_next;
                m_available += 8;
            }
            if (m_available < count) {
                m_overrun = true;
                return 0;
            }
        }
        m_available -= count;
        return uint32_t(m_bits >> m_available) & ((1u << count) - 1);
    }

    bool overrun() const { return m_overrun; }

private:
    const uint8_t *m_begin = nullptr;
    const uint8_t *m_next = nullptr;
    uint64_t m_bits = 0;
    int m_available = 0;
    bool m_overrun = false;
};

struct SymbolEntry {
    uint8_t bits = 0;
    uint8_t symbol = 0;
    uint16_t base = 0;
};

struct ValueEntry {
    uint8_t stateBits = 0;
    uint8_t extraBits = 0;
    uint16_t stateBase = 0;
    uint32_t valueBase = 0;
};

// Calls fill(state, symbol, bits, base) for every state a symbol owns. States beyond the
// sum of the frequencies stay at their zero defaults (state 0 next, symbol 0), so even
// an incomplete table cannot lead anywhere out of range. False when the sum is too big.
template <typename Fill>
bool buildStates(int stateCount, const uint16_t *frequencies, int symbolCount, Fill fill)
{
    uint32_t total = 0;
    for (int s = 0; s < symbolCount; ++s)
        total += frequencies[s];
    if (total > uint32_t(stateCount))
        return false;
    const int log2States = std::countr_zero(uint32_t(stateCount));
    int state = 0;
    for (int s = 0; s < symbolCount; ++s) {
        const int f = frequencies[s];
        if (f == 0)
            continue;
        const int k = log2States - (std::bit_width(uint32_t(f)) - 1);
        const int j0 = ((2 * stateCount) >> k) - f;
        for (int j = 0; j < f; ++j, ++state) {
            if (j < j0)
                fill(state, s, k, ((f + j) << k) - stateCount);
            else
                fill(state, s, k - 1, (j - j0) << (k - 1));
        }
    }
    return true;
}

bool buildSymbolTable(int stateCount, const uint16_t *frequencies, int symbolCount,
                      SymbolEntry *table)
{
    return buildStates(stateCount, frequencies, symbolCount, [&](int state, int symbol, int bits, int base) {
        table[state] = {uint8_t(bits), uint8_t(symbol), uint16_t(base)};
    });
}

bool buildValueTable(int stateCount, const uint16_t *frequencies, int symbolCount,
                     const uint8_t *extraBits, const uint32_t *valueBase, ValueEntry *table)
{
    return buildStates(stateCount, frequencies, symbolCount, [&](int state, int symbol, int bits, int base) {
        table[state] = {uint8_t(bits), extraBits[symbol], uint16_t(base), valueBase[symbol]};
    });
}

uint32_t decodeValue(const ValueEntry *table, uint32_t &state, BackwardBits &bits)
{
    const ValueEntry &entry = table[state];
    const uint32_t stateBits = bits.read(entry.stateBits);
    const uint32_t extra = bits.read(entry.extraBits);
    state = entry.stateBase + stateBits;
    return entry.valueBase + extra;
}

struct BlockHeader {
    uint32_t literalCount = 0;
    uint32_t matchCount = 0;
    uint32_t literalPayloadSize = 0;
    uint32_t lmdPayloadSize = 0;
    int literalBits = 0;
    int lmdBits = 0;
    std::array<uint32_t, 4> literalStateStart{};
    uint32_t literalLengthState = 0;
    uint32_t matchLengthState = 0;
    uint32_t distanceState = 0;
    qsizetype headerSize = 0;
    // L, M, D, then literal frequencies.
    std::array<uint16_t, frequencyCount> frequencies{};
};

uint16_t readLittleEndian16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

BlockResult readPlainHeader(const uint8_t *block, qsizetype available, BlockHeader &header)
{
    if (available < plainHeaderSize)
        return BlockResult::Truncated;
    header.literalCount = readLittleEndian32(block + 12);
    header.matchCount = readLittleEndian32(block + 16);
    header.literalPayloadSize = readLittleEndian32(block + 20);
    header.lmdPayloadSize = readLittleEndian32(block + 24);
    header.literalBits = int(int32_t(readLittleEndian32(block + 28)));
    for (int i = 0; i < 4; ++i)
        header.literalStateStart[size_t(i)] = readLittleEndian16(block + 32 + 2 * i);
    header.lmdBits = int(int32_t(readLittleEndian32(block + 40)));
    header.literalLengthState = readLittleEndian16(block + 44);
    header.matchLengthState = readLittleEndian16(block + 46);
    header.distanceState = readLittleEndian16(block + 48);
    for (int i = 0; i < frequencyCount; ++i)
        header.frequencies[size_t(i)] = readLittleEndian16(block + 50 + 2 * i);
    header.headerSize = plainHeaderSize;
    return BlockResult::Done;
}

// The packed frequencies: a prefix code read from the least significant bit up.
bool readPackedFrequencies(const uint8_t *data, qsizetype size, BlockHeader &header)
{
    if (size == 0)
        return true; // no table: every frequency is zero
    uint64_t bits = 0;
    int available = 0;
    qsizetype next = 0;
    qsizetype consumedBits = 0;
    for (int i = 0; i < frequencyCount; ++i) {
        while (available <= 56 && next < size) {
            bits |= uint64_t(data[next++]) << available;
            available += 8;
        }
        int length;
        uint32_t value;
        if ((bits & 1) == 0) {
            length = 2;
            value = (bits >> 1) & 1;
        } else if ((bits & 3) == 1) {
            length = 3;
            value = 2 + ((bits >> 2) & 1);
        } else if ((bits & 7) == 3) {
            length = 5;
            value = 4 + ((bits >> 3) & 3);
        } else if ((bits & 15) == 7) {
            length = 8;
            value = 8 + ((bits >> 4) & 15);
        } else {
            length = 14;
            value = 24 + ((bits >> 4) & 1023);
        }
        if (length > available)
            return false;
        bits >>= length;
        available -= length;
        consumedBits += length;
        header.frequencies[size_t(i)] = uint16_t(value);
    }
    const qsizetype unusedBits = size * 8 - consumedBits;
    return unusedBits >= 0 && unusedBits < 8;
}

BlockResult readPackedHeader(const uint8_t *block, qsizetype available, BlockHeader &header)
{
    if (available < packedFixedHeaderSize)
        return BlockResult::Truncated;
    const uint64_t word0 = readLittleEndian64(block + 8);
    const uint64_t word1 = readLittleEndian64(block + 16);
    const uint64_t word2 = readLittleEndian64(block + 24);
    const auto field = [](uint64_t word, int offset, int width) {
        return uint32_t((word >> offset) & ((uint64_t(1) << width) - 1));
    };
    header.literalCount = field(word0, 0, 20);
    header.literalPayloadSize = field(word0, 20, 20);
    header.matchCount = field(word0, 40, 20);
    header.literalBits = int(field(word0, 60, 3)) - 7;
    for (int i = 0; i < 4; ++i)
        header.literalStateStart[size_t(i)] = field(word1, 10 * i, 10);
    header.lmdPayloadSize = field(word1, 40, 20);
    header.lmdBits = int(field(word1, 60, 3)) - 7;
    header.headerSize = field(word2, 0, 32);
    header.literalLengthState = field(word2, 32, 10);
    header.matchLengthState = field(word2, 42, 10);
    header.distanceState = field(word2, 52, 10);
    if (header.headerSize < packedFixedHeaderSize)
        return BlockResult::Corrupt;
    if (header.headerSize > available)
        return BlockResult::Truncated;
    if (!readPackedFrequencies(block + packedFixedHeaderSize,
                               header.headerSize - packedFixedHeaderSize, header))
        return BlockResult::Corrupt;
    return BlockResult::Done;
}

bool headerIsPlausible(const BlockHeader &header)
{
    if (header.literalCount > maxLiterals || header.literalCount % 4 != 0)
        return false;
    if (header.matchCount > maxMatches)
        return false;
    for (uint32_t state : header.literalStateStart) {
        if (state >= uint32_t(literalStates))
            return false;
    }
    return header.literalLengthState < uint32_t(lengthStates)
        && header.matchLengthState < uint32_t(lengthStates)
        && header.distanceState < uint32_t(distanceStates);
}

// Tables and literals for one block; about 12 KB, kept off the stack.
struct BlockTables {
    std::array<SymbolEntry, literalStates> literal{};
    std::array<ValueEntry, lengthStates> literalLength{};
    std::array<ValueEntry, lengthStates> matchLength{};
    std::array<ValueEntry, distanceStates> distance{};
    std::vector<uint8_t> literals;
};

bool buildTables(const BlockHeader &header, BlockTables &tables)
{
    const uint16_t *f = header.frequencies.data();
    return buildValueTable(lengthStates, f, lengthSymbols, literalLengthExtraBits.data(),
                           literalLengthBase.data(), tables.literalLength.data())
        && buildValueTable(lengthStates, f + lengthSymbols, lengthSymbols,
                           matchLengthExtraBits.data(), matchLengthBase.data(),
                           tables.matchLength.data())
        && buildValueTable(distanceStates, f + 2 * lengthSymbols, distanceSymbols,
                           distanceExtraBits.data(), distanceBase.data(), tables.distance.data())
        && buildSymbolTable(literalStates, f + 2 * lengthSymbols + distanceSymbols,
                            literalSymbols, tables.literal.data());
}

bool decodeLiterals(const BlockHeader &header, const uint8_t *payload, BlockTables &tables)
{
    BackwardBits bits;
    if (!bits.start(payload, header.literalPayloadSize, header.literalBits))
        return false;
    tables.literals.resize(header.literalCount);
    std::array<uint32_t, 4> state = header.literalStateStart;
    uint8_t *out = tables.literals.data();
    for (uint32_t i = 0; i < header.literalCount; i += 4) {
        for (size_t lane = 0; lane < 4; ++lane) {
            const SymbolEntry &entry = tables.literal[state[lane]];
            out[i + lane] = entry.symbol;
            state[lane] = entry.base + bits.read(entry.bits);
        }
    }
    return !bits.overrun();
}

BlockResult decodeTriples(const BlockHeader &header, const uint8_t *payload,
                          const BlockTables &tables, Output &output)
{
    BackwardBits bits;
    if (!bits.start(payload, header.lmdPayloadSize, header.lmdBits))
        return BlockResult::Corrupt;
    uint32_t lState = header.literalLengthState;
    uint32_t mState = header.matchLengthState;
    uint32_t dState = header.distanceState;
    qsizetype literalAt = 0;
    qsizetype previousDistance = 0; // none yet in this block
    for (uint32_t i = 0; i < header.matchCount; ++i) {
        const qsizetype literalLength = decodeValue(tables.literalLength.data(), lState, bits);
        const qsizetype matchLength = decodeValue(tables.matchLength.data(), mState, bits);
        qsizetype distance = decodeValue(tables.distance.data(), dState, bits);
        if (bits.overrun())
            return BlockResult::Corrupt;
        if (distance == 0)
            distance = previousDistance;
        previousDistance = distance;
        if (literalLength > qsizetype(header.literalCount) - literalAt)
            return BlockResult::Corrupt;
        if (!output.append(tables.literals.data() + literalAt, literalLength))
            return BlockResult::OutputLimitReached;
        literalAt += literalLength;
        if (distance == 0 || distance > output.size())
            return BlockResult::Corrupt;
        if (!output.copyMatch(distance, matchLength))
            return BlockResult::OutputLimitReached;
    }
    return BlockResult::Done;
}

} // namespace

BlockResult decodeFseBlock(const uint8_t *block, qsizetype available, bool packedHeader,
                           Output &output, qsizetype &consumed)
{
    BlockHeader header;
    const BlockResult headerResult = packedHeader ? readPackedHeader(block, available, header)
                                                  : readPlainHeader(block, available, header);
    if (headerResult != BlockResult::Done)
        return headerResult;
    if (!headerIsPlausible(header))
        return BlockResult::Corrupt;
    const qsizetype blockSize =
        header.headerSize + qsizetype(header.literalPayloadSize) + qsizetype(header.lmdPayloadSize);
    if (blockSize > available)
        return BlockResult::Truncated;

    auto tables = std::make_unique<BlockTables>();
    if (!buildTables(header, *tables))
        return BlockResult::Corrupt;
    const uint8_t *literalPayload = block + header.headerSize;
    if (!decodeLiterals(header, literalPayload, *tables))
        return BlockResult::Corrupt;
    const BlockResult result = decodeTriples(header, literalPayload + header.literalPayloadSize,
                                             *tables, output);
    if (result == BlockResult::Done)
        consumed = blockSize;
    return result;
}

} // namespace lzfse::detail
