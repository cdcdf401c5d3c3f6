#pragma once

#include "store/ContextQueue.h"
#include "store/FetchRequest.h"
#include "store/ObjectChanges.h"
#include "store/StoreError.h"
#include "store/StoreObject.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>

#include <functional>
#include <memory>
#include <vector>

class StoreContainer;
class StoreCoordinator;
namespace sql {
class Connection;
class Statement;
}

// A scratch pad over the store: objects are fetched into it, changed, inserted or deleted
// in memory, and written together by save() in one SQLite transaction (all or nothing).
//
// Each context has its own serial queue and its own SQLite connection. The view context
// runs on the main thread; a background context has a thread of its own. Every call on a
// context and on its objects must happen on its queue: for a background context inside
// perform() or performAndWait(). Calls from elsewhere fail with WrongQueue (or are
// ignored, for calls without a result). Never hand an object to another context; pass
// its objectId() and look it up there with existingObject().
//
// Merge policy: property-object trump. A save writes only the attributes this context
// changed, so two contexts changing different attributes of one object both win, and on
// the same attribute the later save wins. An update of a row that was deleted meanwhile
// is dropped; the rest of the save goes through.
class StoreContext : public QObject
{
    Q_OBJECT

public:
    enum class ConcurrencyType { MainQueue, PrivateQueue };
    enum class MergePolicy { PropertyObjectTrump };

    ~StoreContext() override;

    ConcurrencyType concurrencyType() const { return m_concurrency; }

    QString name() const;
    void setName(const QString &name);
    // Recorded with each save in the store's transaction history.
    QString transactionAuthor() const;
    void setTransactionAuthor(const QString &author);
    MergePolicy mergePolicy() const { return m_mergePolicy; }
    void setMergePolicy(MergePolicy policy) { m_mergePolicy = policy; }
    // Whether saves of the container's other contexts, and changes made by other
    // processes, are merged into this context as they happen. On for the view context.
    bool automaticallyMergesChanges() const;
    void setAutomaticallyMergesChanges(bool merges);

    // Runs the block on the context's queue later; returns at once.
    void perform(std::function<void()> block);
    // Runs the block on the context's queue and waits for it (at once when already on
    // it). Do not wait on the main thread for a block that itself waits for the main
    // thread.
    void performAndWait(const std::function<void()> &block);
    template<typename F>
    auto performAndWait(F block) -> decltype(block())
        requires(!std::is_void_v<decltype(block())>)
    {
        std::optional<decltype(block())> result;
        performAndWait(std::function<void()>([&] { result.emplace(block()); }));
        return std::move(*result);
    }
    bool isOnQueue() const { return m_queue && m_queue->isCurrent(); }

    // A new object with its entity's defaults, saved with the next save().
    template<typename T>
    std::shared_ptr<T> insert()
    {
        return std::static_pointer_cast<T>(insertObject(T::entityIndex));
    }
    StoreObjectPtr insertObject(int entityIndex);
    // Marks the object for deletion at the next save (an unsaved insert is simply dropped).
    void deleteObject(const StoreObjectPtr &object);
    bool hasChanges() const;
    QList<StoreObjectPtr> insertedObjects() const;
    QList<StoreObjectPtr> updatedObjects() const;
    QList<StoreObjectPtr> deletedObjects() const;
    // Whether the object belongs to this context (false once it was removed from it).
    bool owns(const StoreObject &object) const { return object.context() == this; }

    // Writes every change in one transaction. On failure nothing is written and the
    // changes stay pending, so the caller can roll back or try again.
    StoreResult<void> save();
    // Drops every unsaved change: inserts vanish, changes and deletions are undone.
    void rollback();
    // Drops the object's unsaved changes and reads it again from the store; an object whose
    // row is gone reports isDeleted() and leaves the context.
    void refresh(const StoreObjectPtr &object);
    // Refreshes every object without changes and lets go of their loaded values, so that
    // a long run of batches keeps memory flat. Objects with changes keep them.
    void refreshAll();
    // Forgets every object and every unsaved change.
    void reset();

    StoreResult<QList<StoreObjectPtr>> fetch(const FetchRequest &request);
    template<typename T>
    StoreResult<QList<std::shared_ptr<T>>> fetch(FetchRequest request)
    {
        if (request.entityName() != T::entityName())
            return StoreError{StoreError::Code::InvalidRequest, 0,
                              QStringLiteral("request for %1 fetched as %2").arg(request.entityName(), T::entityName())};
        auto objects = fetch(request);
        if (!objects)
            return objects.error();
        QList<std::shared_ptr<T>> typed;
        typed.reserve(objects->size());
        for (const auto &object : std::as_const(*objects))
            typed.append(std::static_pointer_cast<T>(object));
        return typed;
    }
    // Plain values of the request's propertiesToFetch for each saved row (unsaved changes
    // are never included); no objects are made.
    StoreResult<QList<QVariantMap>> fetchDictionaries(const FetchRequest &request);
    StoreResult<qint64> count(const FetchRequest &request);
    // The object with this identifier, loaded from the store when not yet in the context;
    // ObjectNotFound once it is gone.
    StoreResult<StoreObjectPtr> existingObject(const ObjectId &id);
    // The objects with these identifiers that still exist, loaded with one query, in the
    // order given; the ones that are gone are left out.
    StoreResult<QList<StoreObjectPtr>> existingObjects(const QList<ObjectId> &ids);

Q_SIGNALS:
    // After every successful save, on this context's queue.
    void didSave(const SaveNotification &notification);
    // After this context's own saves and after each merge of outside changes into it, on
    // this context's queue. Live results follow the view context through it.
    void objectsDidChange(const ObjectChanges &changes);

private:
    friend class StoreContainer;
    friend class StoreCoordinator;
    friend class FetchedResultsModel;
    friend class StoreObject;

    StoreContext(std::shared_ptr<StoreCoordinator> coordinator, ConcurrencyType concurrency);
    // Gives the context its connection to the open store (or takes it away with null).
    void attachConnection(std::unique_ptr<sql::Connection> connection);

    StoreResult<void> checkQueue() const;
    StoreResult<sql::Connection *> readyConnection() const;

    // Objects and the registry.
    StoreObjectPtr registeredObject(int entity, qint64 key) const;
    StoreObjectPtr objectForRow(int entity, qint64 key);
    void registerObject(const StoreObjectPtr &object);
    void forget(StoreObject *object);
    void markGone(StoreObject *object);
    void objectDidChange(StoreObject *object);
    bool hasPendingChanges(int entity) const;
    QList<StoreObjectPtr> registeredObjects() const;

    // Loading values.
    void fulfillFault(StoreObject *object, int attribute);
    bool loadScalars(const QList<StoreObject *> &objects);
    // Loads objects of any entities, a few hundred per query.
    void loadInChunks(const QList<StoreObject *> &objects);
    void setScalarsFromRow(StoreObject *object, const sql::Statement &row, int firstColumn);
    void unloadUnchanged(StoreObject *object);

    // Fetching (StoreContextFetch.cpp).
    StoreResult<QList<StoreObjectPtr>> fetchSaved(const FetchRequest &request, const EntityDescription &entity);
    StoreResult<QList<StoreObjectPtr>> fetchWithPending(const FetchRequest &request, const EntityDescription &entity);
    StoreResult<QList<StoreObjectPtr>> objectsForKeys(int entity, const QList<qint64> &keys, bool asFaults);

    // Saving (StoreContextSave.cpp).
    StoreResult<void> writeChanges(sql::Connection &connection, QList<qint64> &newKeys,
                                   QList<StoreObject *> &vanished, ObjectChanges &changes);

    // Called on this context's queue by the container.
    void mergeChanges(const ObjectChanges &changes);

    std::shared_ptr<StoreCoordinator> m_coordinator;
    ConcurrencyType m_concurrency;
    std::unique_ptr<ContextQueue> m_queue;
    std::unique_ptr<sql::Connection> m_connection;
    QString m_storeIdentifier;
    QString m_name;
    QString m_author;
    MergePolicy m_mergePolicy = MergePolicy::PropertyObjectTrump;
    std::atomic<bool> m_mergesChanges = false;

    std::vector<QHash<qint64, std::weak_ptr<StoreObject>>> m_registry;
    QList<StoreObjectPtr> m_inserted;
    QHash<StoreObject *, StoreObjectPtr> m_updated;
    QList<StoreObjectPtr> m_deleted;
    qint64 m_nextTemporaryKey = -1;
};

using StoreContextPtr = std::shared_ptr<StoreContext>;
