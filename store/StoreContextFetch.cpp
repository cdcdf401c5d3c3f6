#include "store/StoreContext.h"

#include "store/FetchQuery.h"
#include "store/Schema.h"
#include "store/StorageValues.h"
#include "store/StoreCoordinator.h"
#include "store/sql/SqlConnection.h"

#include <QSet>

#include <algorithm>
#include <utility>

using namespace fetchquery;


StoreResult<QList<StoreObjectPtr>> StoreContext::fetch(const FetchRequest &request)
{
    if (auto connection = readyConnection(); !connection)
        return connection.error();
    auto entity = entityOf(m_coordinator->model(), request);
    if (!entity)
        return entity.error();
    const int entityIndex = m_coordinator->model().indexOf((*entity)->name);
    if (request.includesPendingChanges() && hasPendingChanges(entityIndex))
        return fetchWithPending(request, **entity);
    return fetchSaved(request, **entity);
}

StoreResult<QList<StoreObjectPtr>> StoreContext::fetchSaved(const FetchRequest &request, const EntityDescription &entity)
{
    auto query = buildQuery(entity, request);
    if (!query)
        return query.error();
    const int entityIndex = m_coordinator->model().indexOf(entity.name);
    const bool asFaults = request.fetchBatchSize() > 0;
    QStringList columns{QStringLiteral("t.pk")};
    if (!asFaults) {
        for (const auto &attribute : entity.attributes) {
            if (!attribute.isBinary())
                columns.append(QStringLiteral("t.") + attribute.name);
        }
    }
    const QString sql = QStringLiteral("SELECT %1 FROM %2 t%3 ORDER BY %4%5")
                            .arg(columns.join(QStringLiteral(", ")), schema::tableName(entity),
                                 whereClause(query->where, {}), query->order, limitClause(request));
    auto statement = m_connection->prepare(sql, query->bindings);
    if (!statement)
        return statement.error();
    QList<StoreObjectPtr> objects;
    while (statement->next()) {
        StoreObjectPtr object = objectForRow(entityIndex, statement->int64(0));
        if (!asFaults)
            setScalarsFromRow(object.get(), *statement, 1);
        objects.append(object);
    }
    if (statement->hasError())
        return statement->error();
    return objects;
}

StoreResult<QList<StoreObjectPtr>> StoreContext::fetchWithPending(const FetchRequest &request,
                                                                  const EntityDescription &entity)
{
    auto query = buildQuery(entity, request);
    if (!query)
        return query.error();
    const int entityIndex = m_coordinator->model().indexOf(entity.name);

    // Rows changed or deleted here are judged by their in-memory values, not the store's.
    QSet<qint64> judgedInMemory;
    QList<StoreObjectPtr> candidates;
    for (const auto &object : std::as_const(m_inserted)) {
        if (object->entityIndex() == entityIndex)
            candidates.append(object);
    }
    for (const auto &object : std::as_const(m_updated)) {
        if (object->entityIndex() == entityIndex) {
            judgedInMemory.insert(object->m_key);
            candidates.append(object);
        }
    }
    for (const auto &object : std::as_const(m_deleted)) {
        if (object->entityIndex() == entityIndex)
            judgedInMemory.insert(object->m_key);
    }

    struct Entry {
        qint64 key;
        QVariantList sortValues;
        StoreObjectPtr object;
    };
    std::vector<Entry> entries;

    QStringList columns{QStringLiteral("t.pk")};
    for (int index : std::as_const(query->sortAttributes))
        columns.append(QStringLiteral("t.") + entity.attributes[index].name);
    QVariantList bindings = query->bindings;
    QString exclusion;
    if (!judgedInMemory.isEmpty()) {
        exclusion = QStringLiteral("t.pk NOT IN (SELECT value FROM json_each(?))");
        bindings.append(keyListJson(judgedInMemory));
    }
    const QString sql = QStringLiteral("SELECT %1 FROM %2 t%3")
                            .arg(columns.join(QStringLiteral(", ")), schema::tableName(entity),
                                 whereClause(query->where, exclusion));
    auto statement = m_connection->prepare(sql, bindings);
    if (!statement)
        return statement.error();
    while (statement->next()) {
        Entry entry{statement->int64(0), {}, nullptr};
        for (int column = 1; column < columns.size(); ++column)
            entry.sortValues.append(statement->value(column));
        entries.push_back(std::move(entry));
    }
    if (statement->hasError())
        return statement->error();

    for (const auto &object : std::as_const(candidates)) {
        if (request.predicate() && !request.predicate()->evaluate(*object))
            continue;
        if (object->m_context != this)
            continue;   // its row vanished while it was read
        Entry entry{object->m_key, {}, object};
        for (int index : std::as_const(query->sortAttributes))
            entry.sortValues.append(toStorage(entity.attributes[index].type, object->value(index)));
        entries.push_back(std::move(entry));
    }

    const QList<bool> ascending = query->ascending;
    const bool lastAscending = ascending.isEmpty() || ascending.last();
    // Ties go by the key the row has, or will have once saved: an unsaved object's row comes
    // after every row there is, in the order the objects were inserted.
    auto tieKey = [](const Entry &entry) {
        const bool unsaved = entry.object && entry.object->m_temporaryKey;
        return std::pair<bool, qint64>(unsaved, unsaved ? -entry.key : entry.key);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        for (int i = 0; i < ascending.size(); ++i) {
            const int c = compareStored(a.sortValues[i], b.sortValues[i]);
            if (c != 0)
                return ascending[i] ? c < 0 : c > 0;
        }
        return lastAscending ? tieKey(a) < tieKey(b) : tieKey(a) > tieKey(b);
    });

    const qsizetype begin = std::min<qsizetype>(std::max(0, request.fetchOffset()), qsizetype(entries.size()));
    qsizetype end = qsizetype(entries.size());
    if (request.fetchLimit() > 0)
        end = std::min(end, begin + request.fetchLimit());

    QList<qint64> storedKeys;
    for (qsizetype i = begin; i < end; ++i) {
        if (!entries[size_t(i)].object)
            storedKeys.append(entries[size_t(i)].key);
    }
    auto loaded = objectsForKeys(entityIndex, storedKeys, request.fetchBatchSize() > 0);
    if (!loaded)
        return loaded.error();
    QHash<qint64, StoreObjectPtr> byKey;
    for (const auto &object : std::as_const(*loaded))
        byKey.insert(object->m_key, object);

    QList<StoreObjectPtr> objects;
    for (qsizetype i = begin; i < end; ++i) {
        const Entry &entry = entries[size_t(i)];
        StoreObjectPtr object = entry.object ? entry.object : byKey.value(entry.key);
        if (object && (object->m_context == this))
            objects.append(object);
    }
    return objects;
}

StoreResult<QList<StoreObjectPtr>> StoreContext::objectsForKeys(int entity, const QList<qint64> &keys, bool asFaults)
{
    QList<StoreObjectPtr> objects;
    QList<StoreObject *> faults;
    for (qint64 key : keys) {
        StoreObjectPtr object = objectForRow(entity, key);
        if (object->isFault())
            faults.append(object.get());
        objects.append(object);
    }
    if (!asFaults) {
        loadInChunks(faults);
        objects.removeIf([this](const StoreObjectPtr &object) { return object->m_context != this; });
    }
    return objects;
}

StoreResult<QList<QVariantMap>> StoreContext::fetchDictionaries(const FetchRequest &request)
{
    if (auto connection = readyConnection(); !connection)
        return connection.error();
    auto entity = entityOf(m_coordinator->model(), request);
    if (!entity)
        return entity.error();
    auto query = buildQuery(**entity, request);
    if (!query)
        return query.error();

    QList<int> attributes;
    if (request.propertiesToFetch().isEmpty()) {
        for (int i = 0; i < (*entity)->attributes.size(); ++i) {
            if (!(*entity)->attributes[i].isBinary())
                attributes.append(i);
        }
    } else {
        for (const QString &name : request.propertiesToFetch()) {
            const int index = (*entity)->indexOf(name);
            if (index < 0)
                return invalidRequest(QStringLiteral("%1 has no attribute %2").arg((*entity)->name, name));
            attributes.append(index);
        }
    }
    QStringList columns;
    bool needsExternal = false;
    for (int index : std::as_const(attributes)) {
        const auto &attribute = (*entity)->attributes[index];
        needsExternal = needsExternal || attribute.isBinary();
        columns.append((attribute.isBinary() ? QStringLiteral("e.") : QStringLiteral("t.")) + attribute.name);
    }
    const QString join = needsExternal
        ? QStringLiteral(" LEFT JOIN %1 e ON e.pk = t.pk").arg(schema::externalTableName(**entity))
        : QString();
    const QString sql = QStringLiteral("SELECT %1 FROM %2 t%3%4 ORDER BY %5%6")
                            .arg(columns.join(QStringLiteral(", ")), schema::tableName(**entity), join,
                                 whereClause(query->where, {}), query->order, limitClause(request));
    auto statement = m_connection->prepare(sql, query->bindings);
    if (!statement)
        return statement.error();
    QList<QVariantMap> rows;
    while (statement->next()) {
        QVariantMap row;
        for (int column = 0; column < attributes.size(); ++column) {
            const auto &attribute = (*entity)->attributes[attributes[column]];
            QVariant value = fromStorage(attribute.type, statement->value(column));
            // A dictionary holds dates, also where another program stored a real or a text.
            if (attribute.type == AttributeType::Date)
                value = dateVariantOf(value);
            if (!value.isNull())
                row.insert(attribute.name, value);
        }
        rows.append(row);
    }
    if (statement->hasError())
        return statement->error();
    return rows;
}

StoreResult<qint64> StoreContext::count(const FetchRequest &request)
{
    if (auto connection = readyConnection(); !connection)
        return connection.error();
    auto entity = entityOf(m_coordinator->model(), request);
    if (!entity)
        return entity.error();
    const int entityIndex = m_coordinator->model().indexOf((*entity)->name);
    if (request.includesPendingChanges() && hasPendingChanges(entityIndex)) {
        FetchRequest keysOnly = request;
        keysOnly.setSortDescriptors({});
        keysOnly.setFetchBatchSize(1);
        auto objects = fetchWithPending(keysOnly, **entity);
        if (!objects)
            return objects.error();
        return qint64(objects->size());
    }
    auto query = buildQuery(**entity, request);
    if (!query)
        return query.error();
    QString sql = QStringLiteral("SELECT count(*) FROM %1 t%2")
                      .arg(schema::tableName(**entity), whereClause(query->where, {}));
    if (request.fetchLimit() > 0 || request.fetchOffset() > 0)
        sql = QStringLiteral("SELECT count(*) FROM (SELECT t.pk FROM %1 t%2%3)")
                  .arg(schema::tableName(**entity), whereClause(query->where, {}), limitClause(request));
    auto statement = m_connection->prepare(sql, query->bindings);
    if (!statement)
        return statement.error();
    if (!statement->next())
        return statement->hasError() ? statement->error()
                                     : StoreError{StoreError::Code::SqliteError, 0, QStringLiteral("no count")};
    return statement->int64(0);
}

StoreResult<StoreObjectPtr> StoreContext::existingObject(const ObjectId &id)
{
    if (auto connection = readyConnection(); !connection)
        return connection.error();
    const StoreError notFound{StoreError::Code::ObjectNotFound, 0, QStringLiteral("the object is gone")};
    if (!id.isValid() || id.entityIndex() >= int(m_registry.size()))
        return notFound;
    if (id.storeIdentifier() != m_storeIdentifier)
        return StoreError{StoreError::Code::ForeignStore, 0, QStringLiteral("the object is of another store")};
    if (id.isTemporary()) {
        for (const auto &object : std::as_const(m_inserted)) {
            if (object->entityIndex() == id.entityIndex() && object->m_key == id.primaryKey())
                return object;
        }
        return notFound;
    }
    // Read even when loaded: another process, or a context whose saves this one does not
    // take in, may have deleted the row.
    StoreObjectPtr object = objectForRow(id.entityIndex(), id.primaryKey());
    loadScalars({object.get()});
    if (object->m_context != this)
        return notFound;
    return object;
}

StoreResult<QList<StoreObjectPtr>> StoreContext::existingObjects(const QList<ObjectId> &ids)
{
    if (auto connection = readyConnection(); !connection)
        return connection.error();
    QList<StoreObjectPtr> objects;
    QList<StoreObject *> rows;
    for (const ObjectId &id : ids) {
        if (!id.isValid() || id.isTemporary() || id.entityIndex() >= int(m_registry.size())
            || id.storeIdentifier() != m_storeIdentifier)
            continue;
        StoreObjectPtr object = objectForRow(id.entityIndex(), id.primaryKey());
        rows.append(object.get());
        objects.append(object);
    }
    // Loaded ones too, as in existingObject.
    loadInChunks(rows);
    objects.removeIf([this](const StoreObjectPtr &object) { return object->m_context != this; });
    return objects;
}
