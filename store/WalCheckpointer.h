#pragma once

#include "store/ContextQueue.h"

#include <atomic>
#include <memory>

class StoreCoordinator;
namespace sql {
class Connection;
}

// Copies the write-ahead log back into the database file on a thread and connection of
// its own. Left to SQLite, the commit that finds the log long does it, with a sync of the
// file: a third of the time of a batch save, and a pause in any save on the main thread.
class WalCheckpointer
{
public:
    // Log lengths, in pages, after a commit: past the first the checkpointer is asked to
    // run; past the second the committing connection runs one itself, so the log stays
    // bounded while saves go on without a break.
    static constexpr int backgroundPages = 1000;
    static constexpr int committerPages = 16000;

    explicit WalCheckpointer(std::shared_ptr<const StoreCoordinator> coordinator);
    // Lets a running checkpoint finish.
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer &) = delete;
    WalCheckpointer &operator=(const WalCheckpointer &) = delete;

    // Makes the connection's commits report the log's length to the coordinator, in place
    // of SQLite's own checkpoint after commits. The coordinator must outlive the connection.
    static void watchCommits(sql::Connection &connection, const StoreCoordinator *coordinator);

    // From any thread: runs a checkpoint soon, unless one is already waiting to run.
    void logGrew();

private:
    void checkpoint();

    std::shared_ptr<const StoreCoordinator> m_coordinator;
    std::atomic<bool> m_waiting = false;
    ContextQueue m_queue;
    // Used on the queue only.
    std::unique_ptr<sql::Connection> m_connection;
};
