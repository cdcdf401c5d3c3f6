#pragma once

#include "import/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Decoder for LZFSE streams ("bvx" blocks: uncompressed, LZVN, LZFSE v1 and v2, ended by
// "bvx$"), the format Apple's Compression framework writes. Bytes after the end block are
// not read, like the platform's decoder.
namespace lzfse {

enum class Error {
    Truncated,          // the input ends inside a block or before the end block
    UnknownBlock,       // four bytes where a block starts are no known magic
    Corrupt,            // a header field, table or instruction is impossible
    OutputLimitReached, // the stream would produce more than the caller allowed
};

QString describe(Error error);

// A hostile stream of a few hundred bytes can ask for gigabytes; callers pass a bound.
inline constexpr qsizetype defaultOutputLimit = 256 * 1024 * 1024;

Expected<QByteArray, Error> decode(QByteArrayView input, qsizetype outputLimit);

} // namespace lzfse
