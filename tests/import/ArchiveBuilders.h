#pragma once

// Builders for the archives the decoder reads, made with the real writers: libplist for
// binary property lists, zlib for raw DEFLATE, Qt for JSON.

#include <QByteArray>
#include <QJsonDocument>
#include <QVariant>

#include <plist/plist.h>
#include <zlib.h>

#include <cstdlib>

namespace testarchive {

inline plist_t toPlist(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), toPlist(it.value()));
        return dict;
    }
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant &element : value.toList())
            plist_array_append_item(array, toPlist(element));
        return array;
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::Double:
        return plist_new_real(value.toDouble());
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

// `writer` is libplist's plist_to_bin or plist_to_xml.
template <typename Writer>
QByteArray writtenPlist(const QVariant &value, Writer writer)
{
    plist_t root = toPlist(value);
    char *bytes = nullptr;
    uint32_t length = 0;
    writer(root, &bytes, &length);
    QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(root);
    return result;
}
inline QByteArray binaryPlist(const QVariant &value) { return writtenPlist(value, plist_to_bin); }
inline QByteArray xmlPlist(const QVariant &value) { return writtenPlist(value, plist_to_xml); }

// JSON has no bytes: Paste writes them as Base64 texts.
inline QVariant withBytesAsBase64(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            *it = withBytesAsBase64(*it);
        return map;
    }
    case QMetaType::QVariantList: {
        QVariantList list = value.toList();
        for (QVariant &element : list)
            element = withBytesAsBase64(element);
        return list;
    }
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    default:
        return value;
    }
}

inline QByteArray json(const QVariant &value)
{
    return QJsonDocument::fromVariant(withBytesAsBase64(value)).toJson(QJsonDocument::Compact);
}

inline QByteArray rawDeflate(const QByteArray &bytes)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline void appendBigEndian(QByteArray &out, quint64 value, int size)
{
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        out += char(quint8(value >> shift));
}

// A binary property list laid out by hand, for shapes libplist's writer never makes: each
// object given as its encoded bytes, references four bytes wide, `top` the root's index.
inline QByteArray handBuiltPlist(const QList<QByteArray> &objects, quint64 top)
{
    QByteArray out("bplist00");
    QList<quint64> offsets;
    for (const QByteArray &object : objects) {
        offsets.append(quint64(out.size()));
        out += object;
    }
    const quint64 table = quint64(out.size());
    for (const quint64 offset : offsets)
        appendBigEndian(out, offset, 4);
    out += QByteArray(6, '\0');
    out += char(4); // offset size
    out += char(4); // reference size
    appendBigEndian(out, quint64(objects.size()), 8);
    appendBigEndian(out, top, 8);
    appendBigEndian(out, table, 8);
    return out;
}

inline QByteArray handBuiltArray(const QList<quint32> &references)
{
    QByteArray out;
    out += char(0xAF); // an array whose count follows as a four-byte integer
    out += char(0x12);
    appendBigEndian(out, quint64(references.size()), 4);
    for (const quint32 reference : references)
        appendBigEndian(out, reference, 4);
    return out;
}

// One pasteboard item as Paste archives it.
inline QVariantMap item(const QVariantMap &dataByType, const QStringList &types = {})
{
    QVariantMap map{{QStringLiteral("dataByType"), dataByType}};
    if (!types.isEmpty()) {
        QVariantList list;
        for (const QString &type : types)
            list.append(type);
        map.insert(QStringLiteral("types"), list);
    }
    return map;
}

} // namespace testarchive
