#include "store/Model.h"

int EntityDescription::indexOf(const QString &attributeName) const
{
    for (int i = 0; i < attributes.size(); ++i) {
        if (attributes[i].name == attributeName)
            return i;
    }
    return -1;
}

const AttributeDescription *EntityDescription::attribute(const QString &attributeName) const
{
    const int index = indexOf(attributeName);
    return index < 0 ? nullptr : &attributes[index];
}

const EntityDescription *ObjectModel::entity(const QString &name) const
{
    const int index = indexOf(name);
    return index < 0 ? nullptr : &entities[index];
}

int ObjectModel::indexOf(const QString &entityName) const
{
    for (int i = 0; i < entities.size(); ++i) {
        if (entities[i].name == entityName)
            return i;
    }
    return -1;
}

namespace {

AttributeDescription attribute(const char *name, AttributeType type, QVariant defaultValue = {})
{
    AttributeDescription description;
    description.name = QString::fromLatin1(name);
    description.type = type;
    description.defaultValue = std::move(defaultValue);
    // Large values may live outside the main rows; only the binary attributes allow it.
    description.allowsExternalBinaryDataStorage = type == AttributeType::Binary;
    return description;
}

ObjectModel buildModel()
{
    EntityDescription item;
    item.name = QStringLiteral("ClipItem");
    item.className = item.name;
    item.attributes = {
        attribute("id", AttributeType::UUID),
        attribute("createdAt", AttributeType::Date),
        attribute("kind", AttributeType::String, QStringLiteral("text")),
        attribute("plainText", AttributeType::String),
        attribute("rtfData", AttributeType::Binary),
        attribute("imageData", AttributeType::Binary),
        attribute("fileName", AttributeType::String),
        attribute("sourceAppName", AttributeType::String),
        attribute("sourceBundleID", AttributeType::String),
        attribute("contentHash", AttributeType::Integer64, qint64(0)),
        attribute("isPinned", AttributeType::Boolean, false),
        attribute("labelID", AttributeType::String),
        attribute("title", AttributeType::String),
    };

    EntityDescription label;
    label.name = QStringLiteral("ClipLabel");
    label.className = label.name;
    label.attributes = {
        attribute("id", AttributeType::UUID),
        attribute("name", AttributeType::String),
        attribute("colorIndex", AttributeType::Integer16, qint64(0)),
        attribute("createdAt", AttributeType::Date),
    };

    ObjectModel model;
    model.entities = {item, label};
    return model;
}

} // namespace

const ObjectModel &makeModel()
{
    static const ObjectModel model = buildModel();
    return model;
}
