#include "app/cli/ItemJson.h"

#include <QCryptographicHash>
#include <QJsonValue>

namespace {

QJsonValue text(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue bytes(const std::optional<QByteArray> &value)
{
    if (!value)
        return QJsonValue::Null;
    return QJsonObject{
        {QStringLiteral("bytes"), qint64(value->size())},
        {QStringLiteral("sha256"),
         QString::fromLatin1(QCryptographicHash::hash(*value, QCryptographicHash::Sha256).toHex())},
    };
}

} // namespace

QString idText(const std::optional<QUuid> &id)
{
    return id ? uuidString(*id) : QString();
}

QString isoDate(const std::optional<QDateTime> &date)
{
    return date ? date->toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonObject itemToJson(const ClipItem &item)
{
    return {
        {QStringLiteral("id"), item.id() ? QJsonValue(idText(item.id())) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("createdAt"), item.createdAt() ? QJsonValue(isoDate(item.createdAt())) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("kind"), text(item.storedKind())},
        {QStringLiteral("plainText"), text(item.plainText())},
        {QStringLiteral("rtfData"), bytes(item.rtfData())},
        {QStringLiteral("imageData"), bytes(item.imageData())},
        {QStringLiteral("fileName"), text(item.fileName())},
        {QStringLiteral("sourceAppName"), text(item.sourceAppName())},
        {QStringLiteral("sourceBundleID"), text(item.sourceBundleID())},
        // A 64-bit integer: JSON numbers lose precision past 2^53 in most readers.
        {QStringLiteral("contentHash"), QString::number(item.contentHash())},
        {QStringLiteral("isPinned"), item.isPinned()},
        {QStringLiteral("labelID"), text(item.labelID())},
        {QStringLiteral("title"), text(item.title())},
    };
}

QJsonObject labelToJson(const ClipLabel &label)
{
    return {
        {QStringLiteral("id"), label.id() ? QJsonValue(idText(label.id())) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("name"), text(label.name())},
        {QStringLiteral("colorIndex"), label.colorIndex()},
        {QStringLiteral("createdAt"), label.createdAt() ? QJsonValue(isoDate(label.createdAt())) : QJsonValue(QJsonValue::Null)},
    };
}
