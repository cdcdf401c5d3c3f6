#include "store/SearchIndexer.h"

#include "store/Schema.h"
#include "store/StoreCoordinator.h"
#include "store/sql/SqlConnection.h"

#include "platform/log/Log.h"

#include <QTimer>

namespace {

// About 250 KB of text at typical clipboard sizes: the write lock is held for tens of
// milliseconds at a time.
constexpr int rowsPerStep = 256;

} // namespace

SearchIndexer::SearchIndexer(std::shared_ptr<const StoreCoordinator> coordinator, int pauseMs)
    : m_coordinator(std::move(coordinator))
    , m_pauseMs(pauseMs)
    , m_queue(ContextQueue::Kind::OwnThread, QStringLiteral("search-index"))
{
    m_queue.runAndWait([this] {
        m_pause = std::make_unique<QTimer>();
        m_pause->setSingleShot(true);
        QObject::connect(m_pause.get(), &QTimer::timeout, [this] { indexSomeRows(); });
    });
}

SearchIndexer::~SearchIndexer()
{
    m_queue.runAndWait([this] {
        m_pause.reset();
        m_connection.reset();
    });
}

void SearchIndexer::rowsMayBeWaiting()
{
    m_queue.post([this] {
        if (m_pause)
            m_pause->start(m_pauseMs);
    });
}

StoreResult<void> SearchIndexer::indexAll()
{
    StoreResult<void> outcome;
    m_queue.runAndWait([this, &outcome] {
        for (;;) {
            const auto indexed = step();
            if (!indexed) {
                outcome = indexed.error();
                return;
            }
            if (*indexed < rowsPerStep)
                return;
        }
    });
    return outcome;
}

void SearchIndexer::indexSomeRows()
{
    const auto indexed = step();
    if (!indexed) {
        // Tried again after the next save.
        klog::error(klog::Category::Persistence,
                    QStringLiteral("search index not brought up to date: %1").arg(indexed.error().localizedDescription()));
        return;
    }
    // More may wait: go on at once, unless a save posted in the meantime puts the pause back.
    if (*indexed == rowsPerStep)
        m_pause->start(0);
}

StoreResult<int> SearchIndexer::step()
{
    if (!m_connection) {
        auto connection = m_coordinator->openConnection();
        if (!connection)
            return connection.error();
        m_connection = std::move(*connection);
    }
    return schema::indexWaitingRows(*m_connection, rowsPerStep);
}
