#include "store/StoreObject.h"

#include "store/StoreContext.h"

#include <QDateTime>
#include <QUuid>

namespace {

// The one in-memory type of each stored type, so that comparisons and SQL binding
// never depend on what a caller happened to pass.
QVariant canonicalValue(AttributeType type, const QVariant &value)
{
    if (value.isNull())
        return {};
    switch (type) {
    case AttributeType::UUID:
        if (value.typeId() == QMetaType::QUuid)
            return value;
        return QVariant(QUuid::fromString(value.toString()));
    case AttributeType::Date: {
        const QDateTime date = value.toDateTime();
        return date.isValid() ? QVariant(date.toUTC()) : QVariant();
    }
    case AttributeType::String: return value.toString();
    case AttributeType::Binary: return value.toByteArray();
    case AttributeType::Integer16: return QVariant(qint64(qint16(value.toLongLong())));
    case AttributeType::Integer64: return QVariant(value.toLongLong());
    case AttributeType::Boolean: return QVariant(value.toBool());
    }
    return value;
}

} // namespace

StoreObject::StoreObject(int entityIndex)
    : m_entity(entityIndex)
{
    m_values.resize(entity().attributes.size());
}

StoreObject::~StoreObject() = default;

const EntityDescription &StoreObject::entity() const
{
    return makeModel().entities[m_entity];
}

ObjectId StoreObject::objectId() const
{
    return ObjectId(m_store, m_entity, m_key, m_temporaryKey);
}

quint32 StoreObject::scalarMask() const
{
    quint32 mask = 0;
    const auto &attributes = entity().attributes;
    for (int i = 0; i < attributes.size(); ++i) {
        if (!attributes[i].isBinary())
            mask |= bit(i);
    }
    return mask;
}

QStringList StoreObject::changedAttributeNames() const
{
    QStringList names;
    const auto &attributes = entity().attributes;
    for (int i = 0; i < attributes.size(); ++i) {
        if (m_changed & bit(i))
            names.append(attributes[i].name);
    }
    return names;
}

QVariant StoreObject::value(int attribute) const
{
    if (attribute < 0 || attribute >= m_values.size())
        return {};
    if (!(m_loaded & bit(attribute)) && m_context)
        m_context->fulfillFault(const_cast<StoreObject *>(this), attribute);
    return m_values[attribute];
}

QVariant StoreObject::value(const QString &attributeName) const
{
    return value(entity().indexOf(attributeName));
}

void StoreObject::setValue(int attribute, const QVariant &value)
{
    if (attribute < 0 || attribute >= m_values.size() || !m_context || isDeleted())
        return;
    Q_ASSERT_X(m_context->isOnQueue(), "StoreObject::setValue", "object used off its context's queue");
    const QVariant canonical = canonicalValue(entity().attributes[attribute].type, value);
    const QVariant current = this->value(attribute);
    if (!m_context || isDeleted())
        return;   // loading found the row gone
    // QVariant calls some values of two types equal ('false' and false): a value of another
    // type, which another program wrote, is always replaced.
    if (current.typeId() == canonical.typeId() && current == canonical && current.isNull() == canonical.isNull())
        return;
    m_values[attribute] = canonical;
    m_loaded |= bit(attribute);
    if (m_state == State::Persisted) {
        m_changed |= bit(attribute);
        m_context->objectDidChange(this);
    }
}

void StoreObject::setValue(const QString &attributeName, const QVariant &value)
{
    setValue(entity().indexOf(attributeName), value);
}
