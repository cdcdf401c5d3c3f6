#include "store/StoreCoordinator.h"

#include "store/Schema.h"
#include "store/SearchIndexer.h"
#include "store/StoreContext.h"
#include "store/WalCheckpointer.h"
#include "store/sql/SqlConnection.h"

#include <QMutexLocker>
#include <QUuid>

StoreCoordinator::StoreCoordinator(const ObjectModel &model)
    : m_model(model)
    , m_origin(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

void StoreCoordinator::setOpenStore(const StoreDescription &description, const QString &connectionPath,
                                    const QString &storeIdentifier)
{
    QMutexLocker locker(&m_mutex);
    m_open = true;
    m_description = description;
    m_connectionPath = connectionPath;
    m_storeIdentifier = storeIdentifier;
}

void StoreCoordinator::setClosed()
{
    QMutexLocker locker(&m_mutex);
    m_open = false;
}

bool StoreCoordinator::isOpen() const
{
    QMutexLocker locker(&m_mutex);
    return m_open;
}

StoreDescription StoreCoordinator::description() const
{
    QMutexLocker locker(&m_mutex);
    return m_description;
}

QString StoreCoordinator::storeIdentifier() const
{
    QMutexLocker locker(&m_mutex);
    return m_storeIdentifier;
}

StoreResult<std::unique_ptr<sql::Connection>> StoreCoordinator::openConnection() const
{
    QMutexLocker locker(&m_mutex);
    if (!m_open)
        return StoreError{StoreError::Code::NotLoaded, 0, QStringLiteral("the store is not open")};
    sql::Connection::OpenOptions options;
    options.createIfMissing = false;
    options.uri = m_description.isInMemory();
    options.vfs = m_description.vfs;
    options.busyTimeoutMs = m_description.busyTimeoutMs;
    const QString path = m_connectionPath;
    locker.unlock();
    auto connection = sql::Connection::open(path, options);
    if (!connection)
        return connection.error();
    if (auto configured = schema::configureConnection(**connection); !configured)
        return configured.error();
    WalCheckpointer::watchCommits(**connection, this);
    return connection;
}

void StoreCoordinator::setSearchIndexer(SearchIndexer *indexer)
{
    QMutexLocker locker(&m_mutex);
    m_searchIndexer = indexer;
}

void StoreCoordinator::searchIndexRowsMayWait() const
{
    // Under the lock, so that the indexer cannot go away meanwhile; this only posts.
    QMutexLocker locker(&m_mutex);
    if (m_searchIndexer)
        m_searchIndexer->rowsMayBeWaiting();
}

void StoreCoordinator::setWalCheckpointer(WalCheckpointer *checkpointer)
{
    QMutexLocker locker(&m_mutex);
    m_walCheckpointer = checkpointer;
}

void StoreCoordinator::walGrew() const
{
    QMutexLocker locker(&m_mutex);
    if (m_walCheckpointer)
        m_walCheckpointer->logGrew();
}

void StoreCoordinator::addContext(const std::shared_ptr<StoreContext> &context)
{
    QMutexLocker locker(&m_mutex);
    std::erase_if(m_contexts, [](const std::weak_ptr<StoreContext> &weak) { return weak.expired(); });
    m_contexts.push_back(context);
}

QList<std::shared_ptr<StoreContext>> StoreCoordinator::contexts() const
{
    QMutexLocker locker(&m_mutex);
    QList<std::shared_ptr<StoreContext>> alive;
    for (const auto &weak : m_contexts) {
        if (auto context = weak.lock())
            alive.append(context);
    }
    return alive;
}

void StoreCoordinator::mergeIntoContexts(const ObjectChanges &changes, const StoreContext *except) const
{
    for (const auto &context : contexts()) {
        if (context.get() == except || !context->automaticallyMergesChanges())
            continue;
        std::weak_ptr<StoreContext> weak = context;
        context->perform([weak, changes] {
            if (auto target = weak.lock())
                target->mergeChanges(changes);
        });
    }
}
