#include "import/codecs/LzfseDecoder.h"

#include "import/codecs/LzfseOutput.h"

namespace lzfse {

namespace {

using namespace detail;

constexpr uint32_t magicEnd = 0x24787662;          // "bvx$"
constexpr uint32_t magicUncompressed = 0x2D787662; // "bvx-"
constexpr uint32_t magicPlainTables = 0x31787662;  // "bvx1"
constexpr uint32_t magicPackedTables = 0x32787662; // "bvx2"
constexpr uint32_t magicLzvn = 0x6E787662;         // "bvxn"

Error errorFor(BlockResult result)
{
    switch (result) {
    case BlockResult::Truncated:
        return Error::Truncated;
    case BlockResult::OutputLimitReached:
        return Error::OutputLimitReached;
    case BlockResult::Done:
    case BlockResult::Corrupt:
        break;
    }
    return Error::Corrupt;
}

} // namespace

QString describe(Error error)
{
    switch (error) {
    case Error::Truncated:
        return QStringLiteral("LZFSE stream is truncated");
    case Error::UnknownBlock:
        return QStringLiteral("LZFSE stream has an unknown block");
    case Error::Corrupt:
        return QStringLiteral("LZFSE stream is corrupt");
    case Error::OutputLimitReached:
        return QStringLiteral("LZFSE stream decodes to more than the allowed size");
    }
    return {};
}

Expected<QByteArray, Error> decode(QByteArrayView input, qsizetype outputLimit)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(input.data());
    const qsizetype size = input.size();
    Output output(outputLimit);
    qsizetype at = 0;
    while (true) {
        if (size - at < 4)
            return unexpected(Error::Truncated);
        const uint8_t *block = bytes + at;
        const qsizetype available = size - at;
        switch (readLittleEndian32(block)) {
        case magicEnd:
            return output.take();
        case magicUncompressed: {
            if (available < 8)
                return unexpected(Error::Truncated);
            const qsizetype rawSize = readLittleEndian32(block + 4);
            if (rawSize > available - 8)
                return unexpected(Error::Truncated);
            if (!output.append(block + 8, rawSize))
                return unexpected(Error::OutputLimitReached);
            at += 8 + rawSize;
            break;
        }
        case magicLzvn: {
            if (available < 12)
                return unexpected(Error::Truncated);
            const qsizetype rawSize = readLittleEndian32(block + 4);
            const qsizetype payloadSize = readLittleEndian32(block + 8);
            if (payloadSize > available - 12)
                return unexpected(Error::Truncated);
            const auto result = decodeLzvnBlock(block + 12, payloadSize, rawSize, output);
            if (result != BlockResult::Done)
                return unexpected(errorFor(result));
            at += 12 + payloadSize;
            break;
        }
        case magicPlainTables:
        case magicPackedTables: {
            qsizetype consumed = 0;
            const bool packed = readLittleEndian32(block) == magicPackedTables;
            const auto result = decodeFseBlock(block, available, packed, output, consumed);
            if (result != BlockResult::Done)
                return unexpected(errorFor(result));
            at += consumed;
            break;
        }
        default:
            return unexpected(Error::UnknownBlock);
        }
    }
}

} // namespace lzfse
