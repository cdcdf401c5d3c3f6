#include "store/StorageValues.h"

#include <QDateTime>
#include <QUuid>

#include <cmath>
#include <cstring>

namespace {

// A value another program wrote into a numeric column that SQLite could not make a number.
bool isTextOrBytes(const QVariant &value)
{
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

} // namespace

QVariant toStorage(AttributeType type, const QVariant &value)
{
    if (value.isNull())
        return {};
    switch (type) {
    case AttributeType::UUID: return value.value<QUuid>().toRfc4122();
    case AttributeType::Date:
        if (value.typeId() != QMetaType::QDateTime)
            return value;   // as another program wrote it (see fromStorage)
        return QVariant(qint64(value.toDateTime().toMSecsSinceEpoch()));
    case AttributeType::String: return value.typeId() == QMetaType::QByteArray ? value : value.toString();
    case AttributeType::Binary: return value.toByteArray();
    case AttributeType::Integer16:
    case AttributeType::Integer64:
        if (isTextOrBytes(value) || value.typeId() == QMetaType::Double)
            return value;
        return QVariant(value.toLongLong());
    case AttributeType::Boolean: return isTextOrBytes(value) ? value : QVariant(qint64(value.toBool() ? 1 : 0));
    }
    return value;
}

QVariant fromStorage(AttributeType type, const QVariant &stored)
{
    if (stored.isNull())
        return {};
    switch (type) {
    case AttributeType::UUID: {
        const QByteArray bytes = stored.toByteArray();
        if (bytes.size() == 16)
            return QVariant::fromValue(QUuid::fromRfc4122(bytes));
        // Tolerate a UUID written as text by another tool.
        const QUuid parsed = QUuid::fromString(stored.toString());
        return parsed.isNull() ? QVariant() : QVariant::fromValue(parsed);
    }
    // A real or a text another program wrote stays as stored, so that memory compares and
    // orders it as SQL does; dateOf reads it as a date.
    case AttributeType::Date:
        if (stored.typeId() != QMetaType::LongLong)
            return stored;
        return QVariant(QDateTime::fromMSecsSinceEpoch(stored.toLongLong(), Qt::UTC));
    // Bytes another program wrote stay bytes: SQL equals them to no text and orders them
    // after every text.
    case AttributeType::String: return stored.typeId() == QMetaType::QByteArray ? stored : stored.toString();
    case AttributeType::Binary: return stored.toByteArray();
    // Numbers are read as stored, also beyond 16 bits or as a real or a text (another
    // program's writes), so that memory compares and orders them as SQL does.
    case AttributeType::Integer16:
    case AttributeType::Integer64: return stored;
    // Any number but 0 is true; a text or bytes are no Boolean and equal neither value.
    case AttributeType::Boolean:
        if (stored.typeId() == QMetaType::Double)
            return QVariant(stored.toDouble() != 0);
        return isTextOrBytes(stored) ? stored : QVariant(stored.toLongLong() != 0);
    }
    return stored;
}

std::optional<QDateTime> dateOf(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime();
    if (value.typeId() == QMetaType::Double) {
        // QVariant would round; a real beyond any date is none.
        const double milliseconds = std::trunc(value.toDouble());
        if (!(std::abs(milliseconds) < 9.2e18))
            return std::nullopt;
        return QDateTime::fromMSecsSinceEpoch(qint64(milliseconds), Qt::UTC);
    }
    return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

QVariant dateVariantOf(const QVariant &value)
{
    const auto date = dateOf(value);
    return date ? QVariant(*date) : QVariant();
}

namespace {

int storageClass(const QVariant &value)
{
    if (value.isNull())
        return 0;
    switch (value.typeId()) {
    case QMetaType::QString: return 2;
    case QMetaType::QByteArray: return 3;
    default: return 1;
    }
}

// An integer against a real exactly, as SQLite compares them: converting the integer to a
// real rounds it (the largest integer would equal 2^63).
int compareIntegerToReal(qint64 integer, double real)
{
    constexpr double twoToThe63 = 9223372036854775808.0;
    if (real < -twoToThe63)
        return 1;
    if (real >= twoToThe63)
        return -1;
    const auto truncated = qint64(real);
    if (integer != truncated)
        return integer < truncated ? -1 : 1;
    const double fraction = real - double(truncated);
    return fraction > 0 ? -1 : (fraction < 0 ? 1 : 0);
}

// UTF-16 order differs from code point order only where surrogates meet U+E000..U+FFFF.
int compareByCodePoint(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x == y)
            continue;
        auto fix = [](char16_t c) -> int {
            if (c >= 0xD800 && c <= 0xDFFF)
                return c + 0x2000;
            if (c >= 0xE000)
                return c - 0x800;
            return c;
        };
        return fix(x) < fix(y) ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

} // namespace

int compareStored(const QVariant &a, const QVariant &b)
{
    const int classA = storageClass(a);
    const int classB = storageClass(b);
    if (classA != classB)
        return classA < classB ? -1 : 1;
    switch (classA) {
    case 0: return 0;
    case 1: {
        const bool realA = a.typeId() == QMetaType::Double, realB = b.typeId() == QMetaType::Double;
        if (realA && realB) {
            const double x = a.toDouble(), y = b.toDouble();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        if (realB)
            return compareIntegerToReal(a.toLongLong(), b.toDouble());
        if (realA)
            return -compareIntegerToReal(b.toLongLong(), a.toDouble());
        const qint64 x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case 2: return compareByCodePoint(a.toString(), b.toString());
    default: {
        const QByteArray x = a.toByteArray(), y = b.toByteArray();
        const int c = std::memcmp(x.constData(), y.constData(), size_t(std::min(x.size(), y.size())));
        if (c != 0)
            return c < 0 ? -1 : 1;
        return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
    }
    }
}
