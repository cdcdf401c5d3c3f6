#include "import/codecs/ArchiveParsing.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>

namespace archive {

namespace {

struct PlistDeleter {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
    void operator()(char *p) const { std::free(p); }
};

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
const QDateTime referenceDate(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());

std::optional<QVariant> fromPlist(plist_t node, int depthLeft)
{
    if (depthLeft < 0)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        const std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
        while (true) {
            char *rawKey = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &rawKey, &value);
            const std::unique_ptr<char, MallocDeleter> key(rawKey);
            if (!value)
                break;
            auto converted = fromPlist(value, depthLeft - 1);
            if (!converted)
                return std::nullopt;
            map.insert(QString::fromUtf8(key ? key.get() : ""), std::move(*converted));
        }
        return QVariant(map);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        list.reserve(qsizetype(size));
        for (uint32_t i = 0; i < size; ++i) {
            auto converted = fromPlist(plist_array_get_item(node, i), depthLeft - 1);
            if (!converted)
                return std::nullopt;
            list.append(std::move(*converted));
        }
        return QVariant(list);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        if (!text || length > uint64_t(std::numeric_limits<qsizetype>::max()))
            return QVariant(QString());
        return QVariant(QString::fromUtf8(text, qsizetype(length)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *data = plist_get_data_ptr(node, &length);
        if (!data || length > uint64_t(std::numeric_limits<qsizetype>::max()))
            return QVariant(QByteArray());
        return QVariant(QByteArray(data, qsizetype(length)));
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(qint64(value)); // libplist keeps negative integers in two's complement
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return QVariant(referenceDate.addMSecs(qint64(seconds) * 1000 + microseconds / 1000));
    }
    case PLIST_UID:
    case PLIST_NONE:
        break;
    }
    return QVariant();
}

std::optional<QVariant> fromJson(const QJsonValue &value, int depthLeft)
{
    if (depthLeft < 0)
        return std::nullopt;
    switch (value.type()) {
    case QJsonValue::Object: {
        QVariantMap map;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            auto converted = fromJson(it.value(), depthLeft - 1);
            if (!converted)
                return std::nullopt;
            map.insert(it.key(), std::move(*converted));
        }
        return QVariant(map);
    }
    case QJsonValue::Array: {
        QVariantList list;
        const QJsonArray array = value.toArray();
        list.reserve(array.size());
        for (const QJsonValue &element : array) {
            auto converted = fromJson(element, depthLeft - 1);
            if (!converted)
                return std::nullopt;
            list.append(std::move(*converted));
        }
        return QVariant(list);
    }
    case QJsonValue::Double: {
        // Integer literals stay integers, as in Foundation's JSON reader.
        const QVariant number = value.toVariant();
        if (number.typeId() == QMetaType::LongLong)
            return QVariant(number.toLongLong());
        return QVariant(value.toDouble());
    }
    case QJsonValue::String:
        return QVariant(value.toString());
    case QJsonValue::Bool:
        return QVariant(value.toBool());
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return QVariant();
}

quint64 readBigEndian(const uchar *p, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | p[i];
    return value;
}

// libplist aborts the process (an assertion) when a dictionary key holds a NUL character,
// so such property lists are refused before it sees them: every string object of a binary
// property list is checked through its offset table.
bool binaryStringsHoldNul(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    if (size < 8 + 32)
        return false; // too short for libplist as well
    const uchar *trailer = data + size - 32;
    const int offsetSize = trailer[6];
    const quint64 objectCount = readBigEndian(trailer + 8, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || tableOffset >= quint64(size)
        || objectCount > (quint64(size) - tableOffset) / quint64(offsetSize))
        return false;
    for (quint64 i = 0; i < objectCount; ++i) {
        const quint64 offset = readBigEndian(data + tableOffset + i * quint64(offsetSize), offsetSize);
        if (offset >= quint64(size))
            continue;
        const uchar marker = data[offset];
        const int kind = marker >> 4;
        if (kind != 0x5 && kind != 0x6)
            continue; // not an ASCII or UTF-16 string
        quint64 length = marker & 0xF;
        quint64 start = offset + 1;
        if (length == 0xF) {
            if (start >= quint64(size) || (data[start] >> 4) != 0x1)
                continue;
            const int lengthSize = 1 << (data[start] & 0xF);
            if (lengthSize > 8 || start + 1 + quint64(lengthSize) > quint64(size))
                continue;
            length = readBigEndian(data + start + 1, lengthSize);
            start += 1 + quint64(lengthSize);
        }
        const quint64 unit = kind == 0x5 ? 1 : 2;
        if (length > (quint64(size) - std::min(start, quint64(size))) / unit)
            continue;
        for (quint64 j = 0; j < length; ++j) {
            if (unit == 1 ? data[start + j] == 0 : (data[start + 2 * j] == 0 && data[start + 2 * j + 1] == 0))
                return true;
        }
    }
    return false;
}

// The same for XML: a character reference to U+0000.
bool xmlHoldsNul(QByteArrayView bytes)
{
    static const QRegularExpression nulReference(QStringLiteral("&#(?:x0*|0+);"),
                                                 QRegularExpression::CaseInsensitiveOption);
    return bytes.contains('\0') || nulReference.match(QString::fromLatin1(bytes)).hasMatch();
}

} // namespace

Expected<QVariant, QString> parsePropertyList(QByteArrayView bytes, int maxDepth)
{
    if (bytes.size() > std::numeric_limits<uint32_t>::max())
        return unexpected(QStringLiteral("property list too large"));
    const bool binary = bytes.startsWith("bplist");
    if (binary ? binaryStringsHoldNul(bytes) : xmlHoldsNul(bytes))
        return unexpected(QStringLiteral("property list holds a NUL character in a string"));
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), uint32_t(bytes.size()), &root);
    const PlistHandle owner(root);
    if (!root)
        return unexpected(QStringLiteral("not a valid property list"));
    auto converted = fromPlist(root, maxDepth);
    if (!converted)
        return unexpected(QStringLiteral("property list nested too deeply"));
    return std::move(*converted);
}

Expected<QVariant, QString> parseJson(QByteArrayView bytes, int maxDepth)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return unexpected(error.errorString());
    const QJsonValue top = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    auto converted = fromJson(top, maxDepth);
    if (!converted)
        return unexpected(QStringLiteral("JSON nested too deeply"));
    return std::move(*converted);
}

} // namespace archive
