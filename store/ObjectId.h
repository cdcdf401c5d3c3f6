#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

#include <optional>

// The identity of one stored object: its entity, its primary key and the store it lives
// in. Objects inserted but not yet saved have a temporary identifier that changes when
// they are saved. Saved identifiers are never reused, so an identifier of a deleted
// object never finds another one. Plain value; usable on any thread.
class ObjectId
{
public:
    ObjectId() = default;
    ObjectId(QString storeIdentifier, int entityIndex, qint64 primaryKey, bool temporary = false);

    bool isValid() const { return m_entity >= 0; }
    bool isTemporary() const { return m_temporary; }
    int entityIndex() const { return m_entity; }
    QString entityName() const;
    qint64 primaryKey() const { return m_key; }
    QString storeIdentifier() const { return m_store; }

    // "x-kestrelnote://<store UUID>/<Entity>/p<key>", stable for the object's life.
    QString uriRepresentation() const;
    // The identifier named by a URI, or none when the text is not one of ours.
    static std::optional<ObjectId> fromUriRepresentation(const QString &uri);

    friend bool operator==(const ObjectId &a, const ObjectId &b)
    {
        return a.m_entity == b.m_entity && a.m_key == b.m_key && a.m_temporary == b.m_temporary
            && a.m_store == b.m_store;
    }
    friend bool operator!=(const ObjectId &a, const ObjectId &b) { return !(a == b); }
    friend size_t qHash(const ObjectId &id, size_t seed = 0)
    {
        return qHashMulti(seed, id.m_entity, id.m_key, id.m_temporary);
    }

private:
    QString m_store;
    int m_entity = -1;
    qint64 m_key = 0;
    bool m_temporary = false;
};

Q_DECLARE_METATYPE(ObjectId)
