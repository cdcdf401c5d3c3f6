#pragma once

#include "import/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Raw DEFLATE (RFC 1951, no zlib or gzip wrapper), what Apple's Compression framework
// calls its zlib algorithm.
namespace rawdeflate {

enum class Error {
    Corrupt,            // not a valid DEFLATE stream
    Truncated,          // the input ends before the final block does
    OutputLimitReached, // the stream would inflate past the caller's limit
};

QString describe(Error error);

Expected<QByteArray, Error> inflateRaw(QByteArrayView input, qsizetype outputLimit);

} // namespace rawdeflate
