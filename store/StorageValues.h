#pragma once

#include "store/Model.h"

#include <QDateTime>
#include <QVariant>

#include <optional>

// Conversions between the in-memory value of an attribute (QUuid, QDateTime, QString,
// QByteArray, qint64, bool) and the value SQLite stores (16-byte blob, milliseconds since
// 1970 UTC, text, blob, integer, 0/1).
QVariant toStorage(AttributeType type, const QVariant &value);
QVariant fromStorage(AttributeType type, const QVariant &stored);

// The date an attribute holds in memory, also where another program stored a real or a
// text (read by its integer part).
std::optional<QDateTime> dateOf(const QVariant &value);
// The same as a QVariant holding a QDateTime, or null: what views and dictionaries hand out.
QVariant dateVariantOf(const QVariant &value);

// SQLite's ordering of stored values: null, then numbers, then text (by code point),
// then blobs (byte by byte).
int compareStored(const QVariant &a, const QVariant &b);
