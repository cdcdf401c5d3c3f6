#pragma once

#include "store/StoreObject.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// A user-named, coloured label. Items refer to it by ClipItem::labelID (its id as an
// upper-case UUID string); nothing in the store keeps that reference valid.
// Belongs to one context and is used only on that context's queue.
class ClipLabel : public StoreObject
{
public:
    static constexpr int entityIndex = EntityIndex::ClipLabel;
    static QString entityName() { return QStringLiteral("ClipLabel"); }

    enum Attribute { Id, Name, ColorIndex, CreatedAt };

    ClipLabel() : StoreObject(entityIndex) { }

    std::optional<QUuid> id() const;
    void setId(const std::optional<QUuid> &id);
    std::optional<QString> name() const;
    void setName(const std::optional<QString> &name);
    qint16 colorIndex() const;
    void setColorIndex(qint16 index);
    std::optional<QDateTime> createdAt() const;
    void setCreatedAt(const std::optional<QDateTime> &createdAt);
};

using ClipLabelPtr = std::shared_ptr<ClipLabel>;

// The canonical text of a UUID as items store it in labelID: upper case, with hyphens.
QString uuidString(const QUuid &uuid);
