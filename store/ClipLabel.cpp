#include "store/ClipLabel.h"

#include "store/StorageValues.h"

std::optional<QUuid> ClipLabel::id() const
{
    const QVariant stored = value(Id);
    return stored.isNull() ? std::nullopt : std::optional<QUuid>(stored.value<QUuid>());
}

void ClipLabel::setId(const std::optional<QUuid> &id)
{
    setValue(Id, id ? QVariant::fromValue(*id) : QVariant());
}

std::optional<QString> ClipLabel::name() const
{
    const QVariant stored = value(Name);
    return stored.isNull() ? std::nullopt : std::optional<QString>(stored.toString());
}

void ClipLabel::setName(const std::optional<QString> &name)
{
    setValue(Name, name ? QVariant(*name) : QVariant());
}

qint16 ClipLabel::colorIndex() const
{
    return qint16(value(ColorIndex).toLongLong());
}

void ClipLabel::setColorIndex(qint16 index)
{
    setValue(ColorIndex, qint64(index));
}

std::optional<QDateTime> ClipLabel::createdAt() const
{
    return dateOf(value(CreatedAt));
}

void ClipLabel::setCreatedAt(const std::optional<QDateTime> &createdAt)
{
    setValue(CreatedAt, createdAt ? QVariant(*createdAt) : QVariant());
}

QString uuidString(const QUuid &uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}
