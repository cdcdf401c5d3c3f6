#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// The object model of the history, declared in code. The store's schema is made from it;
// the names are the stored names and must not change.

enum class AttributeType { UUID, Date, String, Binary, Integer16, Integer64, Boolean };

struct AttributeDescription {
    QString name;
    AttributeType type = AttributeType::String;
    QVariant defaultValue;            // null: no default
    bool isOptional = true;
    bool allowsExternalBinaryDataStorage = false;

    bool isBinary() const { return type == AttributeType::Binary; }
};

struct EntityDescription {
    QString name;
    QString className;
    QList<AttributeDescription> attributes;   // in declaration order

    // -1 when the entity has no such attribute.
    int indexOf(const QString &attributeName) const;
    const AttributeDescription *attribute(const QString &attributeName) const;
};

struct ObjectModel {
    QList<EntityDescription> entities;

    const EntityDescription *entity(const QString &name) const;
    int indexOf(const QString &entityName) const;
};

// The model of ClipItem and ClipLabel, built once per process on first use.
const ObjectModel &makeModel();

// Entity indexes in makeModel(), in declaration order.
namespace EntityIndex {
inline constexpr int ClipItem = 0;
inline constexpr int ClipLabel = 1;
}
