#include "import/codecs/RawInflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace rawdeflate {

namespace {

// Owns the zlib stream so that every return path ends it.
class Inflater
{
public:
    Inflater()
    {
        m_initialized = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK; // negative: no header
    }
    ~Inflater()
    {
        if (m_initialized)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool initialized() const { return m_initialized; }
    z_stream &stream() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_initialized = false;
};

} // namespace

QString describe(Error error)
{
    switch (error) {
    case Error::Corrupt:
        return QStringLiteral("DEFLATE stream is corrupt");
    case Error::Truncated:
        return QStringLiteral("DEFLATE stream is truncated");
    case Error::OutputLimitReached:
        return QStringLiteral("DEFLATE stream inflates to more than the allowed size");
    }
    return {};
}

Expected<QByteArray, Error> inflateRaw(QByteArrayView input, qsizetype outputLimit)
{
    Inflater inflater;
    if (!inflater.initialized())
        return unexpected(Error::Corrupt);
    z_stream &stream = inflater.stream();
    QByteArray output;
    qsizetype produced = 0;
    qsizetype inputLeft = input.size();
    const char *next = input.data();
    while (true) {
        if (stream.avail_in == 0 && inputLeft > 0) {
            const auto chunk = uInt(std::min<qsizetype>(inputLeft, UINT_MAX));
            stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(next));
            stream.avail_in = chunk;
            next += chunk;
            inputLeft -= chunk;
        }
        if (produced == output.size()) {
            // Grow geometrically, one byte past the limit so that reaching it is seen.
            const qsizetype ceiling = outputLimit < LLONG_MAX ? outputLimit + 1 : outputLimit;
            const qsizetype grown = std::min(ceiling, std::max<qsizetype>(4 * input.size(), 2 * output.size()) + 4096);
            if (grown <= output.size())
                return unexpected(Error::OutputLimitReached);
            output.resize(grown);
        }
        const auto room = uInt(std::min<qsizetype>(output.size() - produced, UINT_MAX));
        stream.next_out = reinterpret_cast<Bytef *>(output.data() + produced);
        stream.avail_out = room;
        const int status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        if (produced > outputLimit)
            return unexpected(Error::OutputLimitReached);
        if (status == Z_STREAM_END) {
            output.resize(produced);
            return output;
        }
        if (status != Z_OK && status != Z_BUF_ERROR)
            return unexpected(Error::Corrupt);
        // Room left but no end: zlib stopped for want of input.
        if (stream.avail_out > 0 && stream.avail_in == 0 && inputLeft == 0)
            return unexpected(Error::Truncated);
        if (stream.avail_out > 0 && stream.avail_in > 0)
            return unexpected(Error::Corrupt);
    }
}

} // namespace rawdeflate
