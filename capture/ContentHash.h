#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The first 8 bytes of SHA-256 over the UTF-8 of plainText followed by imageData, read
// little-endian as a signed 64-bit integer. An absent text hashes like an empty one.
// Every writer of items hashes the stored values with this, so duplicates match.
qint64 computeContentHash(const std::optional<QString> &plainText,
                          const std::optional<QByteArray> &imageData);
