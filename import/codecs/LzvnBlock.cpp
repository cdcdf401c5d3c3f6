// LZVN: byte-aligned instructions, each a literal run followed by a match.
#include "import/codecs/LzfseOutput.h"

#include <array>

namespace lzfse::detail {

namespace {

enum class Op : uint8_t {
    SmallDistance,
    MediumDistance,
    LargeDistance,
    PreviousDistance,
    SmallMatch,
    LargeMatch,
    SmallLiteral,
    LargeLiteral,
    NoOp,
    End,
    Undefined,
};

constexpr std::array<Op, 256> makeOpTable()
{
    std::array<Op, 256> table{};
    for (int op = 0; op < 256; ++op) {
        const int high = op >> 4;
        Op kind;
        if (high == 0x7 || high == 0xD)
            kind = Op::Undefined;
        else if (high == 0xA || high == 0xB)
            kind = Op::MediumDistance;
        else if (op == 0xE0)
            kind = Op::LargeLiteral;
        else if (high == 0xE)
            kind = Op::SmallLiteral;
        else if (op == 0xF0)
            kind = Op::LargeMatch;
        else if (high == 0xF)
            kind = Op::SmallMatch;
        else if ((op & 7) == 7)
            kind = Op::LargeDistance;
        else if ((op & 7) < 6)
            kind = Op::SmallDistance;
        else if (op == 0x06)
            kind = Op::End;
        else if (op == 0x0E || op == 0x16)
            kind = Op::NoOp;
        else if (op < 0x40)
            kind = Op::Undefined; // 0x1E .. 0x3E: "previous distance" without literals
        else
            kind = Op::PreviousDistance;
        table[size_t(op)] = kind;
    }
    return table;
}

constexpr std::array<Op, 256> opTable = makeOpTable();

constexpr int endInstructionSize = 8;

} // namespace

BlockResult decodeLzvnBlock(const uint8_t *payload, qsizetype payloadSize, qsizetype rawSize,
                            Output &output)
{
    const qsizetype blockStart = output.size();
    if (rawSize > output.limit() - blockStart)
        return BlockResult::OutputLimitReached;
    qsizetype at = 0;
    qsizetype previousDistance = 0;
    while (true) {
        if (at >= payloadSize)
            return BlockResult::Truncated;
        const uint8_t op = payload[at];
        const qsizetype left = payloadSize - at;
        qsizetype literals = 0;
        qsizetype matchLength = 0;
        qsizetype distance = 0;
        qsizetype instructionSize = 1;
        bool explicitDistance = false;
        switch (opTable[op]) {
        case Op::SmallDistance:
            instructionSize = 2;
            if (left < instructionSize)
                return BlockResult::Truncated;
            literals = op >> 6;
            matchLength = ((op >> 3) & 7) + 3;
            distance = (qsizetype(op & 7) << 8) | payload[at + 1];
            explicitDistance = true;
            break;
        case Op::MediumDistance: {
            instructionSize = 3;
            if (left < instructionSize)
                return BlockResult::Truncated;
            const qsizetype word = payload[at + 1] | (qsizetype(payload[at + 2]) << 8);
            literals = (op >> 3) & 3;
            matchLength = ((qsizetype(op & 7) << 2) | (word & 3)) + 3;
            distance = word >> 2;
            explicitDistance = true;
            break;
        }
        case Op::LargeDistance:
            instructionSize = 3;
            if (left < instructionSize)
                return BlockResult::Truncated;
            literals = op >> 6;
            matchLength = ((op >> 3) & 7) + 3;
            distance = payload[at + 1] | (qsizetype(payload[at + 2]) << 8);
            explicitDistance = true;
            break;
        case Op::PreviousDistance:
            literals = op >> 6;
            matchLength = ((op >> 3) & 7) + 3;
            distance = previousDistance;
            break;
        case Op::SmallMatch:
            matchLength = op & 15;
            distance = previousDistance;
            break;
        case Op::LargeMatch:
            instructionSize = 2;
            if (left < instructionSize)
                return BlockResult::Truncated;
            matchLength = payload[at + 1] + 16;
            distance = previousDistance;
            break;
        case Op::SmallLiteral:
            literals = op & 15;
            break;
        case Op::LargeLiteral:
            instructionSize = 2;
            if (left < instructionSize)
                return BlockResult::Truncated;
            literals = payload[at + 1] + 16;
            break;
        case Op::NoOp:
            break;
        case Op::End:
            // Complete only when flush with the payload and exactly rawSize bytes came out.
            if (left != endInstructionSize || output.size() - blockStart != rawSize)
                return BlockResult::Corrupt;
            return BlockResult::Done;
        case Op::Undefined:
            return BlockResult::Corrupt;
        }
        at += instructionSize;

        if (literals > 0) {
            if (literals > payloadSize - at)
                return BlockResult::Truncated;
            if (literals > rawSize - (output.size() - blockStart))
                return BlockResult::Corrupt;
            if (!output.append(payload + at, literals))
                return BlockResult::OutputLimitReached;
            at += literals;
        }
        if (matchLength > 0) {
            if (explicitDistance)
                previousDistance = distance;
            if (distance == 0 || distance > output.size())
                return BlockResult::Corrupt;
            if (matchLength > rawSize - (output.size() - blockStart))
                return BlockResult::Corrupt;
            if (!output.copyMatch(distance, matchLength))
                return BlockResult::OutputLimitReached;
        }
    }
}

} // namespace lzfse::detail
