#include "store/FetchedResultsModel.h"

#include "store/ClipLabel.h"
#include "store/FetchQuery.h"
#include "store/Schema.h"
#include "store/StoreContext.h"
#include "store/StoreCoordinator.h"
#include "store/StorageValues.h"
#include "store/sql/SqlConnection.h"

#include "platform/log/Log.h"

#include <QSet>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace {

// Beyond this many changed rows one fresh run of the request is cheaper than row by row.
constexpr qsizetype incrementalLimit = 1000;
// Rows loaded together when one row is read, and how many loaded objects are kept.
constexpr int loadBefore = 8;
constexpr int loadAfter = 40;
constexpr qsizetype cacheLimit = 1024;
// The most rows a fetch reserves room for before reading them.
constexpr qint64 maxReservedRows = 4'000'000;

bool isNumeric(AttributeType type)
{
    return type == AttributeType::Date || type == AttributeType::Integer16 || type == AttributeType::Integer64
        || type == AttributeType::Boolean;
}

int compareValues(qint64 a, qint64 b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

} // namespace

FetchedResultsModel::FetchedResultsModel(StoreContext *context, FetchRequest request, QObject *parent)
    : QAbstractListModel(parent)
    , m_context(context)
    , m_request(std::move(request))
{
    Q_ASSERT(context->concurrencyType() == StoreContext::ConcurrencyType::MainQueue);
    m_entity = context->m_coordinator->model().indexOf(m_request.entityName());
    connect(context, &StoreContext::objectsDidChange, this, &FetchedResultsModel::contextChanged);
}

FetchedResultsModel::~FetchedResultsModel() = default;

StoreResult<void> FetchedResultsModel::setPredicate(std::optional<Predicate> predicate)
{
    m_request.setPredicate(std::move(predicate));
    return performFetch();
}

StoreResult<void> FetchedResultsModel::performFetch()
{
    if (m_entity < 0)
        return fetchquery::invalidRequest(QStringLiteral("no entity named %1").arg(m_request.entityName()));
    const EntityDescription &entity = m_context->m_coordinator->model().entities[m_entity];
    m_sortAttributes.clear();
    m_ascending.clear();
    for (const SortDescriptor &sort : m_request.sortDescriptors()) {
        const int index = entity.indexOf(sort.key);
        if (index < 0 || entity.attributes[index].isBinary())
            return fetchquery::invalidRequest(QStringLiteral("%1 cannot be sorted by %2").arg(entity.name, sort.key));
        m_sortAttributes.append(index);
        m_ascending.append(sort.ascending);
    }
    const bool generalKeys = !m_sortAttributes.isEmpty()
        && (m_sortValueNotInteger || m_sortAttributes.size() > 1
            || !isNumeric(entity.attributes[m_sortAttributes.first()].type));
    if (generalKeys != m_generalKeys)
        forgetRowsRead(generalKeys);

    const int before = count();
    beginResetModel();
    m_cache.clear();
    m_cacheOrder.clear();
    auto rows = fetchRows();
    if (rows && m_sortValueNotInteger && !m_generalKeys) {
        forgetRowsRead(true);
        rows = fetchRows();
    }
    m_fetched = rows.ok();
    m_missedChange = false;
    if (rows)
        m_current = std::move(*rows);
    else
        m_current = {};
    endResetModel();
    if (count() != before)
        Q_EMIT countChanged();
    if (!rows)
        return rows.error();
    return {};
}

// Rows kept to narrow down by a search hold the sort values of one kind of list only.
void FetchedResultsModel::forgetRowsRead(bool generalKeys)
{
    m_generalKeys = generalKeys;
    m_unsearched.reset();
    m_currentSnapshot.reset();
}

StoreResult<FetchedResultsModel::Rows> FetchedResultsModel::fetchRows()
{
    sql::Connection *connection = m_context->m_connection.get();
    if (!connection)
        return StoreError{StoreError::Code::NotLoaded, 0, QStringLiteral("the store is not open")};
    // The rows listed until now may be what a search narrows down.
    if (m_currentSnapshot)
        m_unsearched = Unsearched{*std::exchange(m_currentSnapshot, std::nullopt), std::move(m_current)};

    sql::ReadSnapshot snapshot(*connection);
    auto changeCount = beginReading(snapshot);
    if (!changeCount)
        return changeCount.error();
    auto unsearchedFor = [&](const std::optional<Predicate> &predicate) {
        return m_unsearched && m_unsearched->snapshot.changeCount == *changeCount
            && m_unsearched->snapshot.predicate == predicate;
    };
    const std::optional<Predicate> &predicate = m_request.predicate();
    const EntityDescription &entity = m_context->m_coordinator->model().entities[m_entity];
    const std::optional<SplitSearch> search = predicate ? splitSearch(entity, *predicate) : std::nullopt;

    if (!search) {
        Rows rows;
        if (unsearchedFor(predicate)) {
            rows = std::move(m_unsearched->rows);
        } else {
            m_unsearched.reset();
            auto fresh = queryRows(predicate, nullptr);
            if (!fresh)
                return fresh.error();
            rows = std::move(*fresh);
        }
        m_unsearched.reset();
        m_currentSnapshot = Snapshot{predicate, *changeCount};
        return rows;
    }
    // The search's keys come straight from the index, without SQLite walking the list's
    // order to test each row against them; the order comes from the rows without the search.
    if (!unsearchedFor(search->rest)) {
        m_unsearched.reset();
        auto fresh = queryRows(search->rest, nullptr);
        if (!fresh)
            return fresh.error();
        m_unsearched = Unsearched{Snapshot{search->rest, *changeCount}, std::move(*fresh)};
    }
    auto keys = queryKeys(search->keys);
    if (!keys)
        return keys.error();
    return rowsWithKeys(m_unsearched->rows, KeySet(std::move(*keys)));
}

StoreResult<qint64> FetchedResultsModel::beginReading(sql::ReadSnapshot &snapshot) const
{
    if (auto begun = snapshot.begin(); !begun)
        return begun.error();
    return m_context->m_connection->queryInt64(schema::changeCounterQuery);
}

StoreResult<std::vector<qint64>> FetchedResultsModel::queryKeys(const CompiledPredicate &query) const
{
    auto statement = m_context->m_connection->prepare(query.sql, query.bindings);
    if (!statement)
        return statement.error();
    std::vector<qint64> keys;
    while (statement->next())
        keys.push_back(statement->int64(0));
    if (statement->hasError())
        return statement->error();
    return keys;
}

FetchedResultsModel::Rows FetchedResultsModel::rowsWithKeys(const Rows &from, const KeySet &keys) const
{
    Rows result;
    // Growing row by row copies the list at every doubling.
    result.rows.reserve(std::min(from.rows.size(), keys.size()));
    for (size_t i = 0; i < from.rows.size(); ++i) {
        if (!keys.contains(from.rows[i].key))
            continue;
        result.rows.push_back(from.rows[i]);
        if (m_generalKeys)
            result.general.push_back(from.general[i]);
    }
    return result;
}

StoreResult<FetchedResultsModel::Rows> FetchedResultsModel::queryRows(const std::optional<Predicate> &predicate,
                                                                      const QList<qint64> *onlyKeys) const
{
    sql::Connection *connection = m_context->m_connection.get();
    if (!connection)
        return StoreError{StoreError::Code::NotLoaded, 0, QStringLiteral("the store is not open")};
    const EntityDescription &entity = m_context->m_coordinator->model().entities[m_entity];
    FetchRequest request = m_request;
    request.setPredicate(predicate);
    auto query = fetchquery::buildQuery(entity, request,
                                        onlyKeys ? PredicateScope::FewRows : PredicateScope::WholeTable);
    if (!query)
        return query.error();
    QStringList columns{QStringLiteral("t.pk")};
    for (int index : std::as_const(m_sortAttributes))
        columns.append(QStringLiteral("t.") + entity.attributes[index].name);
    QVariantList bindings = query->bindings;
    QString restriction;
    if (onlyKeys) {
        restriction = QStringLiteral("t.pk IN (SELECT value FROM json_each(?))");
        bindings.append(fetchquery::keyListJson(QSet<qint64>(onlyKeys->cbegin(), onlyKeys->cend())));
    }
    const QString sql = QStringLiteral("SELECT %1 FROM %2 t%3 ORDER BY %4")
                            .arg(columns.join(QStringLiteral(", ")), schema::tableName(entity),
                                 fetchquery::whereClause(query->where, restriction), query->order);
    auto statement = connection->prepare(sql, bindings);
    if (!statement)
        return statement.error();
    Rows result;
    if (!onlyKeys) {
        // Growing the list row by row costs more than reading the rows at 1,000,000 items
        // (every doubling copies, and fresh memory is faulted in page by page). The key
        // range bounds the count for two index lookups; capacity never written takes no memory.
        // Capped, so that a store with far-apart keys cannot ask for gigabytes.
        const auto range = connection->queryInt64(
            QStringLiteral("SELECT coalesce((SELECT max(pk) FROM %1) - (SELECT min(pk) FROM %1) + 1, 0)")
                .arg(schema::tableName(entity)));
        const size_t bound = range ? size_t(std::clamp<qint64>(*range, 0, maxReservedRows)) : 0;
        result.rows.reserve(bound);
        if (m_generalKeys)
            result.general.reserve(bound);
    }
    while (statement->next()) {
        Row row;
        row.key = statement->int64(0);
        if (m_generalKeys) {
            QVariantList values;
            for (int column = 1; column < columns.size(); ++column)
                values.append(statement->value(column));
            result.general.push_back(std::move(values));
        } else if (!m_sortAttributes.isEmpty()) {
            row.isNull = statement->isNull(1);
            row.number = statement->int64(1);
            if (!row.isNull && !statement->isInteger(1))
                m_sortValueNotInteger = true;
        }
        result.rows.push_back(row);
    }
    if (statement->hasError())
        return statement->error();
    return result;
}

int FetchedResultsModel::compareRows(const Row &a, const QVariantList *generalA, const Row &b,
                                     const QVariantList *generalB) const
{
    if (m_generalKeys) {
        for (int i = 0; i < m_ascending.size(); ++i) {
            const int c = compareStored(generalA->at(i), generalB->at(i));
            if (c != 0)
                return m_ascending[i] ? c : -c;
        }
    } else if (!m_sortAttributes.isEmpty()) {
        // SQLite puts NULL before every number.
        int c = a.isNull == b.isNull ? (a.isNull ? 0 : compareValues(a.number, b.number)) : (a.isNull ? -1 : 1);
        if (c != 0)
            return m_ascending.first() ? c : -c;
    }
    const bool lastAscending = m_ascending.isEmpty() || m_ascending.last();
    const int c = compareValues(a.key, b.key);
    return lastAscending ? c : -c;
}

void FetchedResultsModel::contextChanged(const ObjectChanges &changes)
{
    followChanges(changes);
    // Rows read for the change showed that integers cannot order this list: it is read
    // again whole, once.
    if (m_sortValueNotInteger && !m_generalKeys)
        (void)performFetch();
}

void FetchedResultsModel::followChanges(const ObjectChanges &changes)
{
    if (m_entity < 0 || !m_fetched || !m_context->m_connection)
        return;
    if (changes.everythingMayHaveChanged || m_missedChange) {
        applyFullDiff();
        return;
    }
    // Changes that start from the state the rows were read at leave them that of the state
    // after the changes.
    const bool follows = m_currentSnapshot && changes.changeCountBefore >= 0
        && m_currentSnapshot->changeCount == changes.changeCountBefore;
    auto keysOf = [this](const QList<ObjectId> &ids) {
        QList<qint64> keys;
        for (const ObjectId &id : ids) {
            if (id.entityIndex() == m_entity && !id.isTemporary())
                keys.append(id.primaryKey());
        }
        return keys;
    };
    const QList<qint64> inserted = keysOf(changes.inserted);
    const QList<qint64> updated = keysOf(changes.updated);
    const QList<qint64> deleted = keysOf(changes.deleted);
    const qsizetype total = inserted.size() + updated.size() + deleted.size();
    if (total > incrementalLimit) {
        applyFullDiff();
        return;
    }
    if (total > 0 && !applyIncrementally(inserted, updated, deleted, !follows))
        return;
    if (follows)
        m_currentSnapshot->changeCount = changes.changeCountAfter;
    else
        m_currentSnapshot.reset();
}

bool FetchedResultsModel::applyIncrementally(const QList<qint64> &inserted, const QList<qint64> &updated,
                                             const QList<qint64> &deleted, bool readAfterChangeBegan)
{
    const int before = count();
    QList<qint64> touched = inserted + updated;
    Rows fresh;
    if (!touched.isEmpty()) {
        auto rows = queryRows(m_request.predicate(), &touched);
        if (!rows) {
            klog::error(klog::Category::Persistence,
                        QStringLiteral("live results could not follow a change: %1").arg(rows.error().localizedDescription()));
            m_currentSnapshot.reset();
            m_missedChange = true;
            return false;
        }
        fresh = std::move(*rows);
    }
    QHash<qint64, size_t> freshByKey;
    for (size_t i = 0; i < fresh.rows.size(); ++i)
        freshByKey.insert(fresh.rows[i].key, i);

    // Where the changed rows are now. A new row may already be listed when the list was
    // fetched after its save: at its sorted place, or, when a later save not merged yet
    // moved it, anywhere.
    std::vector<qsizetype> positions;
    QList<qint64> lookFor = updated + deleted;
    for (qint64 key : inserted) {
        auto found = freshByKey.find(key);
        if (found == freshByKey.end())
            continue;
        const qsizetype at = lowerBound(fresh.rows[found.value()], generalAt(fresh, found.value()));
        if (at < count() && m_current.rows[size_t(at)].key == key)
            positions.push_back(at);
        else if (readAfterChangeBegan)
            lookFor.append(key);
    }
    for (qsizetype position : findKeys(lookFor))
        positions.push_back(position);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());

    std::vector<qsizetype> removals;
    for (qsizetype position : positions) {
        const Row &row = m_current.rows[size_t(position)];
        auto found = freshByKey.find(row.key);
        if (found != freshByKey.end()
            && compareRows(row, generalAt(m_current, size_t(position)), fresh.rows[found.value()],
                           generalAt(fresh, found.value())) == 0) {
            // Still listed at the same place: only its values changed.
            freshByKey.erase(found);
            const QModelIndex index = this->index(int(position));
            Q_EMIT dataChanged(index, index);
            continue;
        }
        removals.push_back(position);
    }
    for (auto it = removals.rbegin(); it != removals.rend(); ++it) {
        forgetCached(m_current.rows[size_t(*it)].key);
        removeAt(*it);
    }
    for (auto it = freshByKey.cbegin(); it != freshByKey.cend(); ++it)
        insertSorted(fresh.rows[it.value()], generalAt(fresh, it.value()));
    for (qint64 key : deleted)
        forgetCached(key);
    if (count() != before)
        Q_EMIT countChanged();
    return true;
}

void FetchedResultsModel::applyFullDiff()
{
    m_currentSnapshot.reset();
    std::optional<qint64> changeCount;
    auto rows = [&]() -> StoreResult<Rows> {
        sql::ReadSnapshot snapshot(*m_context->m_connection);
        auto counted = beginReading(snapshot);
        if (!counted)
            return counted.error();
        changeCount = *counted;
        return queryRows(m_request.predicate(), nullptr);
    }();
    m_missedChange = !rows;
    if (!rows) {
        klog::error(klog::Category::Persistence,
                    QStringLiteral("live results could not follow a change: %1").arg(rows.error().localizedDescription()));
        return;
    }
    const int before = count();
    const Rows fresh = std::move(*rows);
    m_cache.clear();
    m_cacheOrder.clear();

    // Both lists are sorted by the same total order, so a merge walk finds what went and
    // what came; a row whose sort key changed goes and comes back elsewhere.
    size_t p = 0;
    size_t j = 0;
    auto compareAt = [&](size_t current, size_t next) {
        return compareRows(m_current.rows[current], generalAt(m_current, current), fresh.rows[next],
                           generalAt(fresh, next));
    };
    while (p < m_current.rows.size() || j < fresh.rows.size()) {
        if (p < m_current.rows.size() && (j == fresh.rows.size() || compareAt(p, j) < 0)) {
            size_t end = p;
            while (end < m_current.rows.size() && (j == fresh.rows.size() || compareAt(end, j) < 0))
                ++end;
            beginRemoveRows({}, int(p), int(end) - 1);
            m_current.rows.erase(m_current.rows.begin() + qsizetype(p), m_current.rows.begin() + qsizetype(end));
            if (m_generalKeys)
                m_current.general.erase(m_current.general.begin() + qsizetype(p),
                                        m_current.general.begin() + qsizetype(end));
            endRemoveRows();
        } else if (p < m_current.rows.size() && compareAt(p, j) == 0) {
            ++p;
            ++j;
        } else {
            size_t end = j;
            while (end < fresh.rows.size() && (p == m_current.rows.size() || compareAt(p, end) > 0))
                ++end;
            beginInsertRows({}, int(p), int(p + (end - j)) - 1);
            m_current.rows.insert(m_current.rows.begin() + qsizetype(p), fresh.rows.begin() + qsizetype(j),
                                  fresh.rows.begin() + qsizetype(end));
            if (m_generalKeys)
                m_current.general.insert(m_current.general.begin() + qsizetype(p),
                                         fresh.general.begin() + qsizetype(j), fresh.general.begin() + qsizetype(end));
            endInsertRows();
            p += end - j;
            j = end;
        }
    }
    if (!m_current.rows.empty())
        Q_EMIT dataChanged(index(0), index(count() - 1));
    if (count() != before)
        Q_EMIT countChanged();
    const EntityDescription &entity = m_context->m_coordinator->model().entities[m_entity];
    if (!m_request.predicate() || !splitSearch(entity, *m_request.predicate()))
        m_currentSnapshot = Snapshot{m_request.predicate(), *changeCount};
}

qsizetype FetchedResultsModel::lowerBound(const Row &row, const QVariantList *general) const
{
    qsizetype low = 0;
    qsizetype high = qsizetype(m_current.rows.size());
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        if (compareRows(m_current.rows[size_t(middle)], generalAt(m_current, size_t(middle)), row, general) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

std::vector<qsizetype> FetchedResultsModel::findKeys(const QList<qint64> &keys) const
{
    // Changed rows are mostly new ones near the front or trimmed ones at the back, so the
    // scan runs from both ends and stops once every key is found.
    std::vector<qsizetype> positions;
    QSet<qint64> missing(keys.cbegin(), keys.cend());
    qsizetype front = 0;
    qsizetype back = count() - 1;
    while (!missing.isEmpty() && front <= back) {
        if (missing.remove(m_current.rows[size_t(front)].key))
            positions.push_back(front);
        if (back != front && missing.remove(m_current.rows[size_t(back)].key))
            positions.push_back(back);
        ++front;
        --back;
    }
    return positions;
}

void FetchedResultsModel::insertSorted(const Row &row, const QVariantList *general)
{
    const qsizetype low = lowerBound(row, general);
    beginInsertRows({}, int(low), int(low));
    m_current.rows.insert(m_current.rows.begin() + low, row);
    if (m_generalKeys)
        m_current.general.insert(m_current.general.begin() + low, *general);
    endInsertRows();
}

void FetchedResultsModel::removeAt(qsizetype position)
{
    beginRemoveRows({}, int(position), int(position));
    m_current.rows.erase(m_current.rows.begin() + position);
    if (m_generalKeys)
        m_current.general.erase(m_current.general.begin() + position);
    endRemoveRows();
}

qsizetype FetchedResultsModel::positionOf(qint64 key) const
{
    const std::vector<qsizetype> found = findKeys({key});
    return found.empty() ? -1 : found.front();
}

void FetchedResultsModel::forgetCached(qint64 key) const
{
    if (m_cache.remove(key))
        m_cacheOrder.removeOne(key);
}

int FetchedResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

ObjectId FetchedResultsModel::objectIdAt(int row) const
{
    if (row < 0 || row >= count())
        return {};
    return ObjectId(m_context->m_storeIdentifier, m_entity, m_current.rows[size_t(row)].key);
}

int FetchedResultsModel::rowOf(const ObjectId &id) const
{
    if (id.entityIndex() != m_entity || id.isTemporary())
        return -1;
    return int(positionOf(id.primaryKey()));
}

StoreObjectPtr FetchedResultsModel::objectAt(int row) const
{
    if (row < 0 || row >= count())
        return nullptr;
    const qint64 key = m_current.rows[size_t(row)].key;
    if (StoreObjectPtr cached = m_cache.value(key); cached && cached->context() == m_context)
        return cached;

    // Rows are read as they are shown, so load the neighbours with it.
    QList<ObjectId> ids;
    const int first = std::max(0, row - loadBefore);
    const int last = std::min(count() - 1, row + loadAfter);
    for (int i = first; i <= last; ++i) {
        const qint64 other = m_current.rows[size_t(i)].key;
        if (i == row || !m_cache.contains(other))
            ids.append(objectIdAt(i));
    }
    auto objects = m_context->existingObjects(ids);
    if (!objects)
        return nullptr;
    for (const StoreObjectPtr &object : std::as_const(*objects)) {
        const qint64 loaded = object->objectId().primaryKey();
        if (!m_cache.contains(loaded))
            m_cacheOrder.append(loaded);
        m_cache.insert(loaded, object);
    }
    while (m_cacheOrder.size() > cacheLimit)
        m_cache.remove(m_cacheOrder.takeFirst());
    return m_cache.value(key);
}

QVariant FetchedResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == ObjectIdRole)
        return QVariant::fromValue(objectIdAt(index.row()));
    if (role == UriRole)
        return objectIdAt(index.row()).uriRepresentation();
    StoreObjectPtr object = objectAt(index.row());
    if (!object)
        return {};
    const EntityDescription &entity = object->entity();
    int attribute = -1;
    if (role == Qt::DisplayRole)
        attribute = entity.indexOf(QStringLiteral("plainText"));
    else if (role >= FirstAttributeRole)
        attribute = role - FirstAttributeRole;
    if (attribute < 0 || attribute >= entity.attributes.size())
        return {};
    const QVariant value = object->value(attribute);
    if (value.isNull())
        return value;
    // Views get the attribute's own type, also where another program stored another.
    switch (entity.attributes[attribute].type) {
    case AttributeType::UUID: return uuidString(value.value<QUuid>());
    case AttributeType::Date: return dateVariantOf(value);
    case AttributeType::String: return QVariant(value.toString());
    default: return value;
    }
}

QHash<int, QByteArray> FetchedResultsModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(ObjectIdRole, QByteArrayLiteral("objectId"));
    names.insert(UriRole, QByteArrayLiteral("uri"));
    if (m_entity >= 0) {
        const auto &attributes = m_context->m_coordinator->model().entities[m_entity].attributes;
        for (int i = 0; i < attributes.size(); ++i)
            names.insert(FirstAttributeRole + i, attributes[i].name.toUtf8());
    }
    return names;
}
