#pragma once

#include "store/Model.h"
#include "store/ObjectChanges.h"
#include "store/StoreContainer.h"
#include "store/StoreError.h"

#include <QMutex>
#include <QString>

#include <memory>
#include <vector>

class SearchIndexer;
class StoreContext;
class WalCheckpointer;
namespace sql {
class Connection;
}

// What the contexts of one container share: the model, the open store's identity and
// settings, and the list of contexts to merge saves into. Contexts hold it, so a context
// that outlives its container stays safe to use. Thread-safe.
class StoreCoordinator
{
public:
    explicit StoreCoordinator(const ObjectModel &model);

    const ObjectModel &model() const { return m_model; }
    // This container's mark in the transaction history.
    QString origin() const { return m_origin; }

    void setOpenStore(const StoreDescription &description, const QString &connectionPath,
                      const QString &storeIdentifier);
    void setClosed();
    bool isOpen() const;
    StoreDescription description() const;
    QString storeIdentifier() const;

    StoreResult<std::unique_ptr<sql::Connection>> openConnection() const;

    // The open store's indexer, told after each save that adds rows; none when closed.
    void setSearchIndexer(SearchIndexer *indexer);
    void searchIndexRowsMayWait() const;
    // The open store's checkpointer, told when a commit leaves the log long; none when closed.
    void setWalCheckpointer(WalCheckpointer *checkpointer);
    void walGrew() const;

    void addContext(const std::shared_ptr<StoreContext> &context);
    QList<std::shared_ptr<StoreContext>> contexts() const;
    // Hands the changes to every context that merges automatically, on its own queue.
    void mergeIntoContexts(const ObjectChanges &changes, const StoreContext *except) const;

private:
    const ObjectModel &m_model;
    const QString m_origin;
    mutable QMutex m_mutex;
    bool m_open = false;
    StoreDescription m_description;
    QString m_connectionPath;
    QString m_storeIdentifier;
    SearchIndexer *m_searchIndexer = nullptr;
    WalCheckpointer *m_walCheckpointer = nullptr;
    std::vector<std::weak_ptr<StoreContext>> m_contexts;
};
