#include "store/WalCheckpointer.h"

#include "store/StoreCoordinator.h"
#include "store/sql/SqlConnection.h"

#include "platform/log/Log.h"

#include <sqlite3.h>

namespace {

int afterCommit(void *coordinator, sqlite3 *db, const char *schemaName, int pages)
{
    if (pages >= WalCheckpointer::committerPages) {
        // Passive: if the checkpointer is at work, this gives way and the log is copied anyway.
        sqlite3_wal_checkpoint_v2(db, schemaName, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    } else if (pages >= WalCheckpointer::backgroundPages) {
        static_cast<const StoreCoordinator *>(coordinator)->walGrew();
    }
    return SQLITE_OK;
}

} // namespace

WalCheckpointer::WalCheckpointer(std::shared_ptr<const StoreCoordinator> coordinator)
    : m_coordinator(std::move(coordinator))
    , m_queue(ContextQueue::Kind::OwnThread, QStringLiteral("wal-checkpoint"))
{
}

WalCheckpointer::~WalCheckpointer()
{
    m_queue.runAndWait([this] { m_connection.reset(); });
}

void WalCheckpointer::watchCommits(sql::Connection &connection, const StoreCoordinator *coordinator)
{
    sqlite3_wal_hook(connection.handle(), afterCommit, const_cast<StoreCoordinator *>(coordinator));
}

void WalCheckpointer::logGrew()
{
    if (m_waiting.exchange(true))
        return;
    m_queue.post([this] {
        m_waiting = false;
        checkpoint();
    });
}

void WalCheckpointer::checkpoint()
{
    if (!m_connection) {
        auto connection = m_coordinator->openConnection();
        if (!connection) {
            klog::error(klog::Category::Persistence, QStringLiteral("write-ahead log checkpoint: %1")
                                                         .arg(connection.error().localizedDescription()));
            return;
        }
        m_connection = std::move(*connection);
    }
    // Passive: never waits for readers or writers; what it cannot copy now, the next one does.
    const int rc = sqlite3_wal_checkpoint_v2(m_connection->handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE,
                                             nullptr, nullptr);
    if (rc != SQLITE_OK && rc != SQLITE_BUSY)
        klog::error(klog::Category::Persistence,
                    QStringLiteral("write-ahead log checkpoint: %1").arg(m_connection->lastError(rc).localizedDescription()));
}
