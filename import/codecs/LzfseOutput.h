#pragma once

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lzfse::detail {

// The output of a whole stream. Matches may reach back into earlier blocks, so all blocks
// write here. Every write is checked against the caller's limit before memory is touched.
class Output
{
public:
    explicit Output(qsizetype limit) : m_limit(limit) {}

    qsizetype size() const { return m_size; }
    qsizetype limit() const { return m_limit; }

    bool append(const uint8_t *bytes, qsizetype count)
    {
        if (!makeRoom(count))
            return false;
        if (count > 0)
            std::memcpy(m_bytes.data() + m_size, bytes, size_t(count));
        m_size += count;
        return true;
    }

    // Copies count bytes from distance bytes back, byte order preserved: a distance shorter
    // than the count repeats the last distance bytes. The caller checks the distance.
    bool copyMatch(qsizetype distance, qsizetype count)
    {
        if (!makeRoom(count))
            return false;
        char *to = m_bytes.data() + m_size;
        const char *from = to - distance;
        if (distance >= count) {
            std::memcpy(to, from, size_t(count));
        } else if (distance >= 8) {
            qsizetype i = 0;
            for (; i + 8 <= count; i += 8)
                std::memcpy(to + i, from + i, 8);
            for (; i < count; ++i)
                to[i] = from[i];
        } else {
            for (qsizetype i = 0; i < count; ++i)
                to[i] = from[i];
        }
        m_size += count;
        return true;
    }

    QByteArray take()
    {
        m_bytes.resize(m_size);
        return std::move(m_bytes);
    }

private:
    bool makeRoom(qsizetype count)
    {
        if (count < 0 || count > m_limit - m_size)
            return false;
        const qsizetype needed = m_size + count;
        if (needed > m_bytes.size()) {
            qsizetype capacity = std::max(qsizetype(4096), m_bytes.size());
            while (capacity < needed)
                capacity = capacity > m_limit / 2 ? m_limit : 2 * capacity;
            m_bytes.resize(std::max(needed, std::min(capacity, m_limit)));
        }
        return true;
    }

    QByteArray m_bytes;
    qsizetype m_size = 0;
    qsizetype m_limit;
};

inline uint32_t readLittleEndian32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t readLittleEndian64(const uint8_t *p)
{
    return uint64_t(readLittleEndian32(p)) | uint64_t(readLittleEndian32(p + 4)) << 32;
}

enum class BlockResult { Done, Truncated, Corrupt, OutputLimitReached };

// One LZVN block: nPayload instruction bytes producing exactly nRaw bytes.
BlockResult decodeLzvnBlock(const uint8_t *payload, qsizetype payloadSize, qsizetype rawSize,
                            Output &output);

// One LZFSE block starting at its magic; consumed is set to the block's length.
BlockResult decodeFseBlock(const uint8_t *block, qsizetype available, bool packedHeader,
                           Output &output, qsizetype &consumed);

} // namespace lzfse::detail
