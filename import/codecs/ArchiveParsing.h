#pragma once

#include "import/Expected.h"

#include <QByteArrayView>
#include <QString>
#include <QVariant>

// Property lists (binary and XML, through libplist) and JSON (through Qt), both turned into
// the same QVariant tree: QVariantMap for dictionaries, QVariantList, QString, QByteArray
// (property-list data), qint64 for integers, double, bool, QDateTime. Keyed-archive UIDs
// and other types without a meaning here become a null QVariant.
namespace archive {

// Deeper nesting than this is refused rather than walked.
inline constexpr int defaultMaxDepth = 64;

Expected<QVariant, QString> parsePropertyList(QByteArrayView bytes, int maxDepth);
Expected<QVariant, QString> parseJson(QByteArrayView bytes, int maxDepth);

} // namespace archive
