#pragma once

#include "store/ContextQueue.h"
#include "store/StoreError.h"

#include <memory>

class QTimer;
class StoreCoordinator;
namespace sql {
class Connection;
}

// Adds the rows that saves leave waiting to the substring index, a few hundred at a time
// on a thread and connection of its own, once saving has paused. Written inside each
// save, the index cost two thirds of a batch save. Searches read the waiting rows
// directly, so what they find never depends on how far the indexer has got.
class SearchIndexer
{
public:
    SearchIndexer(std::shared_ptr<const StoreCoordinator> coordinator, int pauseMs);
    // Lets the running step finish; what still waits is indexed after the next opening.
    ~SearchIndexer();
    SearchIndexer(const SearchIndexer &) = delete;
    SearchIndexer &operator=(const SearchIndexer &) = delete;

    // From any thread, after a save or another process's change: indexing starts once
    // this has not been called for a pause, and each save puts that pause back.
    void rowsMayBeWaiting();
    // Indexes everything waiting now and returns when it is done.
    StoreResult<void> indexAll();

private:
    void indexSomeRows();
    StoreResult<int> step();

    std::shared_ptr<const StoreCoordinator> m_coordinator;
    const int m_pauseMs;
    ContextQueue m_queue;
    // Used on the queue only.
    std::unique_ptr<sql::Connection> m_connection;
    std::unique_ptr<QTimer> m_pause;
};
