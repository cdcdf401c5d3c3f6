#pragma once

#include "store/Model.h"
#include "store/ObjectId.h"

#include <QList>
#include <QStringList>
#include <QVariant>

#include <memory>

class StoreContext;

// One stored object (a row) as seen by one context. An object belongs to exactly one
// context and may only be read or changed on that context's queue (the main thread for
// the view context, inside perform/performAndWait for a background context). Hand other
// contexts its objectId() instead. A context keeps one object per row: fetching a row
// twice gives the same object while anyone holds it.
//
// Values are loaded on first access; binary attributes separately, so reading an item's
// text never loads its image. Values are null QVariants when absent.
class StoreObject
{
public:
    virtual ~StoreObject();
    StoreObject(const StoreObject &) = delete;
    StoreObject &operator=(const StoreObject &) = delete;

    const EntityDescription &entity() const;
    int entityIndex() const { return m_entity; }
    ObjectId objectId() const;
    // The owning context; null once the object was removed from it (deleted and saved,
    // deleted elsewhere and merged, or its context reset).
    StoreContext *context() const { return m_context; }

    bool isInserted() const { return m_state == State::Inserted; }
    // Marked for deletion in its context, or known to be gone from the store.
    bool isDeleted() const { return m_state == State::Deleted || m_state == State::Gone; }
    bool isUpdated() const { return m_state == State::Persisted && m_changed != 0; }
    bool hasChanges() const { return isInserted() || m_state == State::Deleted || m_changed != 0; }
    // No values loaded yet; the first read loads them.
    bool isFault() const { return (m_loaded & scalarMask()) == 0 && !isInserted(); }
    QStringList changedAttributeNames() const;
    quint32 changedAttributeMask() const { return m_changed; }

    QVariant value(int attribute) const;
    QVariant value(const QString &attributeName) const;
    // Ignored on an object that is deleted or has no context.
    void setValue(int attribute, const QVariant &value);
    void setValue(const QString &attributeName, const QVariant &value);

protected:
    explicit StoreObject(int entityIndex);

private:
    friend class StoreContext;
    friend class ContextRegistry;

    enum class State { Persisted, Inserted, Deleted, Gone };

    quint32 scalarMask() const;
    static quint32 bit(int attribute) { return quint32(1) << attribute; }

    int m_entity;
    qint64 m_key = 0;
    // Keys given to unsaved objects are negative, but so may be a row's key written by
    // another program: only this says which kind m_key holds.
    bool m_temporaryKey = false;
    QString m_store;
    StoreContext *m_context = nullptr;
    State m_state = State::Persisted;
    mutable QList<QVariant> m_values;
    mutable quint32 m_loaded = 0;
    quint32 m_changed = 0;
};

using StoreObjectPtr = std::shared_ptr<StoreObject>;

// The object as T when it is of T's entity, else null.
template<typename T>
std::shared_ptr<T> objectCast(const StoreObjectPtr &object)
{
    if (object && object->entityIndex() == T::entityIndex)
        return std::static_pointer_cast<T>(object);
    return nullptr;
}
