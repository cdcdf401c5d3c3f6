#include "store/StoreContext.h"

#include "store/ClipItem.h"
#include "store/ClipLabel.h"
#include "store/Schema.h"
#include "store/StorageValues.h"
#include "store/StoreCoordinator.h"
#include "store/sql/SqlConnection.h"

#include "platform/log/Log.h"

#include <QStringList>

namespace {

StoreObjectPtr makeObject(int entityIndex)
{
    switch (entityIndex) {
    case EntityIndex::ClipItem: return std::make_shared<ClipItem>();
    case EntityIndex::ClipLabel: return std::make_shared<ClipLabel>();
    default: return nullptr;
    }
}

QStringList scalarColumns(const EntityDescription &entity, QList<int> *indexes = nullptr)
{
    QStringList columns;
    for (int i = 0; i < entity.attributes.size(); ++i) {
        if (!entity.attributes[i].isBinary()) {
            columns.append(QStringLiteral("t.") + entity.attributes[i].name);
            if (indexes)
                indexes->append(i);
        }
    }
    return columns;
}

void reportWrongQueue(const char *what)
{
    klog::fault(klog::Category::Persistence,
                QStringLiteral("store context used off its queue (%1)").arg(QLatin1String(what)));
}

} // namespace

StoreContext::StoreContext(std::shared_ptr<StoreCoordinator> coordinator, ConcurrencyType concurrency)
    : m_coordinator(std::move(coordinator))
    , m_concurrency(concurrency)
    , m_queue(std::make_unique<ContextQueue>(concurrency == ConcurrencyType::MainQueue
                                                 ? ContextQueue::Kind::MainThread
                                                 : ContextQueue::Kind::OwnThread,
                                             QStringLiteral("store context")))
{
    m_registry.resize(m_coordinator->model().entities.size());
}

void StoreContext::attachConnection(std::unique_ptr<sql::Connection> connection)
{
    m_storeIdentifier = m_coordinator->storeIdentifier();
    m_connection = std::move(connection);
}

StoreContext::~StoreContext()
{
    // Let queued blocks finish while the context is whole; a block queued meanwhile runs
    // during the queue's own teardown and finds the context off its queue.
    m_queue->runAndWait([] { });
    m_queue.reset();
    for (const auto &object : registeredObjects())
        object->m_context = nullptr;
    for (const auto &object : std::as_const(m_inserted))
        object->m_context = nullptr;
}

QString StoreContext::name() const
{
    return m_name;
}

void StoreContext::setName(const QString &name)
{
    m_name = name;
}

QString StoreContext::transactionAuthor() const
{
    return m_author;
}

void StoreContext::setTransactionAuthor(const QString &author)
{
    m_author = author;
}

bool StoreContext::automaticallyMergesChanges() const
{
    return m_mergesChanges;
}

void StoreContext::setAutomaticallyMergesChanges(bool merges)
{
    m_mergesChanges = merges;
}

void StoreContext::perform(std::function<void()> block)
{
    m_queue->post(std::move(block));
}

void StoreContext::performAndWait(const std::function<void()> &block)
{
    m_queue->runAndWait(block);
}

StoreResult<void> StoreContext::checkQueue() const
{
    if (isOnQueue())
        return {};
    reportWrongQueue("call");
    return StoreError{StoreError::Code::WrongQueue, 0,
                      QStringLiteral("context \"%1\" used off its queue").arg(m_name)};
}

StoreResult<sql::Connection *> StoreContext::readyConnection() const
{
    if (auto onQueue = checkQueue(); !onQueue)
        return onQueue.error();
    if (!m_connection)
        return StoreError{StoreError::Code::NotLoaded, 0, QStringLiteral("the store is not open")};
    return m_connection.get();
}

StoreObjectPtr StoreContext::insertObject(int entityIndex)
{
    if (!isOnQueue()) {
        reportWrongQueue("insert");
        return nullptr;
    }
    StoreObjectPtr object = makeObject(entityIndex);
    if (!object)
        return nullptr;
    const auto &attributes = object->entity().attributes;
    for (int i = 0; i < attributes.size(); ++i)
        object->m_values[i] = attributes[i].defaultValue;
    object->m_loaded = ~quint32(0);
    object->m_state = StoreObject::State::Inserted;
    object->m_key = m_nextTemporaryKey--;
    object->m_temporaryKey = true;
    object->m_store = m_storeIdentifier;
    object->m_context = this;
    m_inserted.append(object);
    return object;
}

void StoreContext::deleteObject(const StoreObjectPtr &object)
{
    if (!object || object->m_context != this)
        return;
    if (!isOnQueue()) {
        reportWrongQueue("delete");
        return;
    }
    if (object->isInserted()) {
        m_inserted.removeOne(object);
        object->m_state = StoreObject::State::Gone;
        object->m_context = nullptr;
        return;
    }
    if (object->m_state != StoreObject::State::Persisted)
        return;
    object->m_state = StoreObject::State::Deleted;
    m_updated.remove(object.get());
    m_deleted.append(object);
}

bool StoreContext::hasChanges() const
{
    return !m_inserted.isEmpty() || !m_updated.isEmpty() || !m_deleted.isEmpty();
}

QList<StoreObjectPtr> StoreContext::insertedObjects() const
{
    return m_inserted;
}

QList<StoreObjectPtr> StoreContext::updatedObjects() const
{
    return m_updated.values();
}

QList<StoreObjectPtr> StoreContext::deletedObjects() const
{
    return m_deleted;
}

bool StoreContext::hasPendingChanges(int entity) const
{
    auto ofEntity = [entity](const StoreObjectPtr &object) { return object->entityIndex() == entity; };
    return std::any_of(m_inserted.cbegin(), m_inserted.cend(), ofEntity)
        || std::any_of(m_updated.cbegin(), m_updated.cend(), ofEntity)
        || std::any_of(m_deleted.cbegin(), m_deleted.cend(), ofEntity);
}

void StoreContext::objectDidChange(StoreObject *object)
{
    if (m_updated.contains(object))
        return;
    if (StoreObjectPtr strong = registeredObject(object->entityIndex(), object->m_key))
        m_updated.insert(object, strong);
}

StoreObjectPtr StoreContext::registeredObject(int entity, qint64 key) const
{
    if (entity < 0 || entity >= int(m_registry.size()))
        return nullptr;
    return m_registry[entity].value(key).lock();
}

void StoreContext::registerObject(const StoreObjectPtr &object)
{
    auto &registry = m_registry[object->entityIndex()];
    // Drop the entries of objects nobody holds any more now and then.
    if (registry.size() > 1024 && registry.size() % 1024 == 0) {
        for (auto it = registry.begin(); it != registry.end();)
            it = it->expired() ? registry.erase(it) : std::next(it);
    }
    registry.insert(object->m_key, object);
}

QList<StoreObjectPtr> StoreContext::registeredObjects() const
{
    QList<StoreObjectPtr> objects;
    for (const auto &registry : m_registry) {
        for (const auto &weak : registry) {
            if (StoreObjectPtr object = weak.lock())
                objects.append(object);
        }
    }
    return objects;
}

StoreObjectPtr StoreContext::objectForRow(int entity, qint64 key)
{
    if (StoreObjectPtr existing = registeredObject(entity, key))
        return existing;
    StoreObjectPtr object = makeObject(entity);
    object->m_key = key;
    object->m_store = m_storeIdentifier;
    object->m_context = this;
    registerObject(object);
    return object;
}

void StoreContext::forget(StoreObject *object)
{
    m_registry[object->entityIndex()].remove(object->m_key);
    m_updated.remove(object);
    m_deleted.removeIf([object](const StoreObjectPtr &p) { return p.get() == object; });
    m_inserted.removeIf([object](const StoreObjectPtr &p) { return p.get() == object; });
    object->m_context = nullptr;
}

void StoreContext::markGone(StoreObject *object)
{
    object->m_state = StoreObject::State::Gone;
    object->m_changed = 0;
    forget(object);
}

void StoreContext::setScalarsFromRow(StoreObject *object, const sql::Statement &row, int firstColumn)
{
    const auto &attributes = object->entity().attributes;
    int column = firstColumn;
    for (int i = 0; i < attributes.size(); ++i) {
        if (attributes[i].isBinary())
            continue;
        // Unsaved changes win over what the store holds.
        if (!(object->m_changed & StoreObject::bit(i)))
            object->m_values[i] = fromStorage(attributes[i].type, row.value(column));
        object->m_loaded |= StoreObject::bit(i);
        ++column;
    }
}

bool StoreContext::loadScalars(const QList<StoreObject *> &objects)
{
    if (objects.isEmpty() || !m_connection)
        return false;
    const EntityDescription &entity = objects.front()->entity();
    QHash<qint64, StoreObject *> byKey;
    QStringList marks;
    for (StoreObject *object : objects) {
        byKey.insert(object->m_key, object);
        marks.append(QString::number(object->m_key));
    }
    const QString sql = QStringLiteral("SELECT t.pk, %1 FROM %2 t WHERE t.pk IN (%3)")
                            .arg(scalarColumns(entity).join(QStringLiteral(", ")), schema::tableName(entity),
                                 marks.join(QLatin1Char(',')));
    auto statement = m_connection->prepare(sql);
    if (!statement)
        return false;
    while (statement->next()) {
        if (StoreObject *object = byKey.take(statement->int64(0)))
            setScalarsFromRow(object, *statement, 1);
    }
    if (statement->hasError()) {
        klog::error(klog::Category::Persistence,
                    QStringLiteral("loading objects failed: %1").arg(statement->error().localizedDescription()));
        return false;
    }
    // What the store no longer has was deleted elsewhere.
    for (StoreObject *gone : std::as_const(byKey)) {
        if (gone->m_state == StoreObject::State::Persisted || gone->m_state == StoreObject::State::Deleted)
            markGone(gone);
    }
    return true;
}

void StoreContext::loadInChunks(const QList<StoreObject *> &objects)
{
    constexpr qsizetype chunk = 500;
    for (int entity = 0; entity < int(m_registry.size()); ++entity) {
        QList<StoreObject *> ofEntity;
        for (StoreObject *object : objects) {
            if (object->entityIndex() == entity)
                ofEntity.append(object);
        }
        for (qsizetype start = 0; start < ofEntity.size(); start += chunk)
            loadScalars(ofEntity.mid(start, chunk));
    }
}

void StoreContext::fulfillFault(StoreObject *object, int attribute)
{
    if (!isOnQueue()) {
        reportWrongQueue("read");
        return;
    }
    if (object->isInserted() || !m_connection)
        return;
    const AttributeDescription &description = object->entity().attributes[attribute];
    if (!description.isBinary()) {
        loadScalars({object});
        return;
    }
    const EntityDescription &entity = object->entity();
    auto statement = m_connection->cached(
        QStringLiteral("SELECT e.%1 FROM %2 t LEFT JOIN %3 e ON e.pk = t.pk WHERE t.pk = ?")
            .arg(description.name, schema::tableName(entity), schema::externalTableName(entity)));
    if (!statement)
        return;
    sql::Statement *row = &**statement;
    row->bindInt64(1, object->m_key);
    if (row->next()) {
        object->m_values[attribute] = fromStorage(description.type, row->value(0));
        object->m_loaded |= StoreObject::bit(attribute);
    } else if (!row->hasError()) {
        markGone(object);
    }
}

void StoreContext::unloadUnchanged(StoreObject *object)
{
    object->m_loaded &= object->m_changed;
    for (int i = 0; i < object->m_values.size(); ++i) {
        if (!(object->m_changed & StoreObject::bit(i)))
            object->m_values[i] = QVariant();
    }
}

void StoreContext::rollback()
{
    if (!isOnQueue()) {
        reportWrongQueue("rollback");
        return;
    }
    for (const auto &object : std::as_const(m_inserted)) {
        object->m_state = StoreObject::State::Gone;
        object->m_context = nullptr;
    }
    m_inserted.clear();
    for (const auto &object : std::as_const(m_deleted))
        object->m_state = StoreObject::State::Persisted;
    for (const auto &object : std::as_const(m_updated)) {
        object->m_changed = 0;
        unloadUnchanged(object.get());
    }
    for (const auto &object : std::as_const(m_deleted)) {
        object->m_changed = 0;
        unloadUnchanged(object.get());
    }
    m_updated.clear();
    m_deleted.clear();
}

void StoreContext::refresh(const StoreObjectPtr &object)
{
    if (!object || object->m_context != this || object->isInserted())
        return;
    if (!isOnQueue()) {
        reportWrongQueue("refresh");
        return;
    }
    m_updated.remove(object.get());
    if (object->m_state == StoreObject::State::Deleted) {
        m_deleted.removeOne(object);
        object->m_state = StoreObject::State::Persisted;
    }
    object->m_changed = 0;
    unloadUnchanged(object.get());
    loadScalars({object.get()});
}

void StoreContext::refreshAll()
{
    if (!isOnQueue()) {
        reportWrongQueue("refreshAll");
        return;
    }
    for (auto &registry : m_registry) {
        for (auto it = registry.begin(); it != registry.end();) {
            StoreObjectPtr object = it->lock();
            if (!object) {
                it = registry.erase(it);
                continue;
            }
            if (object->m_state == StoreObject::State::Persisted)
                unloadUnchanged(object.get());
            ++it;
        }
    }
}

void StoreContext::reset()
{
    if (!isOnQueue()) {
        reportWrongQueue("reset");
        return;
    }
    for (const auto &object : registeredObjects())
        object->m_context = nullptr;
    for (const auto &object : std::as_const(m_inserted))
        object->m_context = nullptr;
    for (auto &registry : m_registry)
        registry.clear();
    m_inserted.clear();
    m_updated.clear();
    m_deleted.clear();
}

void StoreContext::mergeChanges(const ObjectChanges &changes)
{
    // Held strongly: marking an object gone can drop the last other reference to it (its
    // pending change), and changes merged from several saves may update and delete one row.
    QList<StoreObjectPtr> holders;
    auto reloadIfRegistered = [&](const ObjectId &id) {
        if (StoreObjectPtr object = registeredObject(id.entityIndex(), id.primaryKey())) {
            if (object->m_state == StoreObject::State::Persisted || object->m_state == StoreObject::State::Deleted)
                holders.append(object);
        }
    };
    if (changes.everythingMayHaveChanged) {
        for (const auto &object : registeredObjects()) {
            if (object->m_state != StoreObject::State::Inserted)
                holders.append(object);
        }
    } else {
        for (const ObjectId &id : changes.updated)
            reloadIfRegistered(id);
        for (const ObjectId &id : changes.deleted) {
            if (StoreObjectPtr object = registeredObject(id.entityIndex(), id.primaryKey()))
                markGone(object.get());
        }
    }
    QList<StoreObject *> reload;
    for (const StoreObjectPtr &object : std::as_const(holders)) {
        if (object->m_context != this)
            continue;   // deleted by a later change
        unloadUnchanged(object.get());
        reload.append(object.get());
    }
    loadInChunks(reload);
    Q_EMIT objectsDidChange(changes);
}
