#include "import/codecs/ArchiveParsing.h"

#include <QDateTime>
#include <QHash>
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
#include <optional>

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
        list.reserve(qsizetype(plist_array_get_size(node)));
        // By iterator: libplist finds an element by index by walking the list up to it,
        // which made a long array quadratic.
        plist_array_iter iter = nullptr;
        plist_array_new_iter(node, &iter);
        const std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
        while (true) {
            plist_t element = nullptr;
            plist_array_next_item(node, iter, &element);
            if (!element)
                break;
            auto converted = fromPlist(element, depthLeft - 1);
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

// Walks a binary property list from its top object the way libplist will, before libplist
// does. libplist 2.2 copies an object for every reference to it and checks each object
// against the whole path above it, so a few hundred bytes of shared references expand to
// gigabytes and deep nesting takes quadratic time; it also aborts the process (an
// assertion) on a dictionary key holding a NUL character. The walk refuses all three, and
// counts each object once, so that it stays linear itself.
class BinaryPlistCheck
{
public:
    BinaryPlistCheck(QByteArrayView bytes, int maxDepth)
        : m_data(reinterpret_cast<const uchar *>(bytes.data()))
        , m_size(quint64(bytes.size()))
        , m_maxDepth(maxDepth)
        // What a legitimate archive expands to stays near its own size: shared keys and
        // values only repeat small objects.
        , m_budget(16 * m_size + 16 * 1024 * 1024)
    {
    }

    std::optional<QString> problem()
    {
        if (m_size < 8 + trailerSize)
            return invalid();
        const uchar *trailer = m_data + m_size - trailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_objectCount = readBigEndian(trailer + 8, 8);
        const quint64 top = readBigEndian(trailer + 16, 8);
        m_tableOffset = readBigEndian(trailer + 24, 8);
        const quint64 objectsEnd = m_size - trailerSize;
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || m_tableOffset >= objectsEnd
            || m_objectCount > (objectsEnd - m_tableOffset) / quint64(m_offsetSize) || top >= m_objectCount)
            return invalid();
        qint64 cost = 0;
        int height = 0;
        if (const auto failed = walk(top, m_maxDepth, cost, height))
            return failed;
        return std::nullopt;
    }

private:
    static constexpr quint64 trailerSize = 32;
    static constexpr qint64 objectCost = 64; // a node of libplist and of the converted tree

    struct Walked {
        qint64 cost = 0;
        int height = 0;
    };

    static QString invalid() { return QStringLiteral("not a valid property list"); }
    static QString tooDeep() { return QStringLiteral("property list nested too deeply"); }

    // A count or length after a marker: the low four bits, or an integer object after them.
    bool readLength(quint64 &at, uchar marker, quint64 &length) const
    {
        length = marker & 0xF;
        if (length != 0xF)
            return true;
        if (at >= m_size || (m_data[at] >> 4) != 0x1)
            return false;
        const int size = 1 << (m_data[at] & 0xF);
        if (size > 8 || at + 1 + quint64(size) > m_size)
            return false;
        length = readBigEndian(m_data + at + 1, size);
        at += 1 + quint64(size);
        return true;
    }

    bool holdsNul(quint64 start, quint64 length, quint64 unit) const
    {
        for (quint64 j = 0; j < length; ++j) {
            if (unit == 1 ? m_data[start + j] == 0 : (m_data[start + 2 * j] == 0 && m_data[start + 2 * j + 1] == 0))
                return true;
        }
        return false;
    }

    std::optional<QString> walk(quint64 index, int depthLeft, qint64 &cost, int &height)
    {
        if (depthLeft < 0)
            return tooDeep();
        if (const auto known = m_walked.constFind(index); known != m_walked.cend()) {
            if (known->height > depthLeft)
                return tooDeep();
            cost = known->cost;
            height = known->height;
            return std::nullopt;
        }
        const quint64 objectsEnd = m_size - trailerSize;
        const quint64 offset = readBigEndian(m_data + m_tableOffset + index * quint64(m_offsetSize), m_offsetSize);
        if (offset < 8 || offset >= objectsEnd)
            return invalid();
        const uchar marker = m_data[offset];
        quint64 at = offset + 1;
        Walked walked{objectCost, 0};
        switch (marker >> 4) {
        case 0x4: // data
        case 0x5: // ASCII string
        case 0x6: { // UTF-16 string
            quint64 length = 0;
            if (!readLength(at, marker, length))
                return invalid();
            const quint64 unit = (marker >> 4) == 0x6 ? 2 : 1;
            if (length > (objectsEnd - std::min(at, objectsEnd)) / unit)
                return invalid();
            // Counted before it is scanned, so that overlapping strings cannot make the scans
            // quadratic; UTF-16 may take three bytes a unit once converted.
            if (!spend(length * unit))
                return tooLarge();
            walked.cost += qint64(length * (unit == 2 ? 3 : 1));
            if (walked.cost > m_budget)
                return tooLarge();
            if ((marker >> 4) != 0x4 && holdsNul(at, length, unit))
                return QStringLiteral("property list holds a NUL character in a string");
            break;
        }
        case 0xA: // array
        case 0xB: // ordered set
        case 0xC: // set
        case 0xD: { // dictionary: keys, then values
            quint64 count = 0;
            if (!readLength(at, marker, count))
                return invalid();
            const quint64 refs = (marker >> 4) == 0xD ? 2 : 1;
            if (count > (objectsEnd - std::min(at, objectsEnd)) / quint64(m_refSize) / refs)
                return invalid();
            if (!spend(count * refs))
                return tooLarge();
            for (quint64 i = 0; i < count * refs; ++i) {
                const quint64 child = readBigEndian(m_data + at + i * quint64(m_refSize), m_refSize);
                if (child >= m_objectCount)
                    return invalid();
                qint64 childCost = 0;
                int childHeight = 0;
                if (const auto failed = walk(child, depthLeft - 1, childCost, childHeight))
                    return failed;
                walked.cost += childCost;
                walked.height = std::max(walked.height, childHeight + 1);
                if (walked.cost > m_budget)
                    return tooLarge();
            }
            break;
        }
        default:
            break; // a number, date, Boolean or UID: a fixed size; libplist judges the rest
        }
        m_walked.insert(index, walked);
        cost = walked.cost;
        height = walked.height;
        return std::nullopt;
    }

    static QString tooLarge() { return QStringLiteral("property list expands to more than the allowed size"); }

    // The walk's own work: each object is looked at once, but objects may overlap.
    bool spend(quint64 work)
    {
        if (work > quint64(m_budget - m_spent))
            return false;
        m_spent += qint64(work);
        return true;
    }

    const uchar *m_data;
    quint64 m_size;
    int m_maxDepth;
    qint64 m_budget;
    qint64 m_spent = 0;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_tableOffset = 0;
    QHash<quint64, Walked> m_walked;
};

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
    if (bytes.startsWith("bplist")) {
        if (auto problem = BinaryPlistCheck(bytes, maxDepth).problem())
            return unexpected(std::move(*problem));
    } else if (xmlHoldsNul(bytes)) {
        return unexpected(QStringLiteral("property list holds a NUL character in a string"));
    }
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
