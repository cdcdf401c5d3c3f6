#include "store/StoreContext.h"

#include "store/Schema.h"
#include "store/StorageValues.h"
#include "store/StoreCoordinator.h"
#include "store/TransactionHistory.h"
#include "store/sql/SqlConnection.h"

#include <QStringList>

namespace {

StoreResult<void> insertRow(sql::Connection &connection, const StoreObject &object, qint64 &key)
{
    const EntityDescription &entity = object.entity();
    QStringList columns, marks, externalColumns, externalMarks;
    QVariantList values, externalValues;
    for (int i = 0; i < entity.attributes.size(); ++i) {
        const auto &attribute = entity.attributes[i];
        const QVariant stored = toStorage(attribute.type, object.value(i));
        if (attribute.isBinary()) {
            if (stored.isNull())
                continue;
            externalColumns.append(attribute.name);
            externalMarks.append(QStringLiteral("?"));
            externalValues.append(stored);
        } else {
            columns.append(attribute.name);
            marks.append(QStringLiteral("?"));
            values.append(stored);
        }
    }
    auto insert = connection.cached(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                        .arg(schema::tableName(entity), columns.join(QLatin1Char(',')),
                                             marks.join(QLatin1Char(','))));
    if (!insert)
        return insert.error();
    for (int i = 0; i < values.size(); ++i)
        (*insert)->bind(i + 1, values[i]);
    if (auto result = (*insert)->exec(); !result)
        return result;
    key = connection.lastInsertRowId();
    if (externalColumns.isEmpty())
        return {};
    auto external = connection.cached(QStringLiteral("INSERT INTO %1 (pk,%2) VALUES (?,%3)")
                                          .arg(schema::externalTableName(entity), externalColumns.join(QLatin1Char(',')),
                                               externalMarks.join(QLatin1Char(','))));
    if (!external)
        return external.error();
    (*external)->bindInt64(1, key);
    for (int i = 0; i < externalValues.size(); ++i)
        (*external)->bind(i + 2, externalValues[i]);
    return (*external)->exec();
}

// Writes only the changed attributes; `present` is false when the row is gone.
StoreResult<void> updateRow(sql::Connection &connection, const StoreObject &object, qint64 key, bool &present)
{
    const EntityDescription &entity = object.entity();
    const quint32 changed = object.changedAttributeMask();
    QStringList assignments, externalColumns, externalUpdates;
    QVariantList values, externalValues;
    for (int i = 0; i < entity.attributes.size(); ++i) {
        if (!(changed & (quint32(1) << i)))
            continue;
        const auto &attribute = entity.attributes[i];
        const QVariant stored = toStorage(attribute.type, object.value(i));
        if (attribute.isBinary()) {
            externalColumns.append(attribute.name);
            externalUpdates.append(QStringLiteral("%1 = excluded.%1").arg(attribute.name));
            externalValues.append(stored);
        } else {
            assignments.append(attribute.name + QStringLiteral(" = ?"));
            values.append(stored);
        }
    }
    if (!assignments.isEmpty()) {
        auto update = connection.cached(QStringLiteral("UPDATE %1 SET %2 WHERE pk = ?")
                                            .arg(schema::tableName(entity), assignments.join(QLatin1Char(','))));
        if (!update)
            return update.error();
        for (int i = 0; i < values.size(); ++i)
            (*update)->bind(i + 1, values[i]);
        (*update)->bindInt64(int(values.size()) + 1, key);
        if (auto result = (*update)->exec(); !result)
            return result;
        present = connection.changes() > 0;
    } else {
        auto exists = connection.cached(QStringLiteral("SELECT 1 FROM %1 WHERE pk = ?").arg(schema::tableName(entity)));
        if (!exists)
            return exists.error();
        (*exists)->bindInt64(1, key);
        present = (*exists)->next();
        if ((*exists)->hasError())
            return (*exists)->error();
        (*exists)->reset();
    }
    if (!present || externalColumns.isEmpty())
        return {};
    QStringList marks(externalColumns.size(), QStringLiteral("?"));
    auto upsert = connection.cached(QStringLiteral("INSERT INTO %1 (pk,%2) VALUES (?,%3) ON CONFLICT(pk) DO UPDATE SET %4")
                                        .arg(schema::externalTableName(entity), externalColumns.join(QLatin1Char(',')),
                                             marks.join(QLatin1Char(',')), externalUpdates.join(QLatin1Char(','))));
    if (!upsert)
        return upsert.error();
    (*upsert)->bindInt64(1, key);
    for (int i = 0; i < externalValues.size(); ++i)
        (*upsert)->bind(i + 2, externalValues[i]);
    return (*upsert)->exec();
}

StoreResult<void> deleteRow(sql::Connection &connection, const EntityDescription &entity, qint64 key)
{
    // Triggers remove the external and folded rows with it, and the folded row from the
    // trigram index; the index of characters and pairs is ours to clear.
    if (entity.name == QLatin1String("ClipItem")) {
        auto ungram = connection.cached(schema::ungramRowStatement());
        if (!ungram)
            return ungram.error();
        (*ungram)->bindInt64(1, key);
        if (auto result = (*ungram)->exec(); !result)
            return result;
    }
    auto remove = connection.cached(QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(schema::tableName(entity)));
    if (!remove)
        return remove.error();
    (*remove)->bindInt64(1, key);
    return (*remove)->exec();
}

} // namespace

StoreResult<void> StoreContext::writeChanges(sql::Connection &connection, QList<qint64> &newKeys,
                                             QList<StoreObject *> &vanished, ObjectChanges &changes)
{
    const QString store = m_storeIdentifier;
    auto before = changeCounter(connection);
    if (!before)
        return before.error();
    for (const auto &object : std::as_const(m_inserted)) {
        qint64 key = 0;
        if (auto result = insertRow(connection, *object, key); !result)
            return result;
        newKeys.append(key);
        changes.inserted.append(ObjectId(store, object->entityIndex(), key));
    }
    for (const auto &object : std::as_const(m_updated)) {
        bool present = false;
        if (auto result = updateRow(connection, *object, object->m_key, present); !result)
            return result;
        if (present)
            changes.updated.append(object->objectId());
        else
            vanished.append(object.get());
    }
    for (const auto &object : std::as_const(m_deleted)) {
        if (auto result = deleteRow(connection, object->entity(), object->m_key); !result)
            return result;
        changes.deleted.append(ObjectId(store, object->entityIndex(), object->m_key));
    }
    if (!m_coordinator->description().historyTracking)
        return {};
    auto after = changeCounter(connection);
    if (!after)
        return after.error();
    changes.changeCountBefore = *before;
    changes.changeCountAfter = *after;
    TransactionRecord record;
    record.changesBefore = *before;
    record.changesAfter = *after;
    record.author = m_author;
    record.contextName = m_name;
    record.origin = m_coordinator->origin();
    record.changes = changes;
    return appendTransaction(connection, record);
}

StoreResult<void> StoreContext::save()
{
    auto connection = readyConnection();
    if (!connection)
        return connection.error();
    if (!hasChanges())
        return {};

    QList<qint64> newKeys;
    QList<StoreObject *> vanished;
    ObjectChanges changes;
    {
        sql::Transaction transaction(**connection);
        if (auto result = transaction.begin(); !result)
            return result;
        if (auto result = writeChanges(**connection, newKeys, vanished, changes); !result)
            return result;
        if (auto result = transaction.commit(); !result)
            return result;
    }
    if (!m_inserted.isEmpty())
        m_coordinator->searchIndexRowsMayWait();

    SaveNotification notification;
    notification.contextName = m_name;
    notification.transactionAuthor = m_author;
    const QString store = m_storeIdentifier;
    for (qsizetype i = 0; i < m_inserted.size(); ++i) {
        const StoreObjectPtr &object = m_inserted[i];
        object->m_key = newKeys[i];
        object->m_temporaryKey = false;
        object->m_store = store;
        object->m_state = StoreObject::State::Persisted;
        object->m_changed = 0;
        registerObject(object);
        notification.inserted.append(object);
    }
    const QList<StoreObjectPtr> updated = m_updated.values();
    for (const auto &object : updated) {
        if (vanished.contains(object.get())) {
            markGone(object.get());
            continue;
        }
        object->m_changed = 0;
        notification.updated.append(object);
    }
    for (const auto &object : std::as_const(m_deleted)) {
        notification.deleted.append(object);
        object->m_state = StoreObject::State::Gone;
        m_registry[object->entityIndex()].remove(object->m_key);
        object->m_context = nullptr;
    }
    m_inserted.clear();
    m_updated.clear();
    m_deleted.clear();
    notification.changes = changes;

    Q_EMIT didSave(notification);
    Q_EMIT objectsDidChange(changes);
    m_coordinator->mergeIntoContexts(changes, this);
    return {};
}
