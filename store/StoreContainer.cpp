#include "store/StoreContainer.h"

#include "store/Schema.h"
#include "store/SearchIndexer.h"
#include "store/StoreContext.h"
#include "store/StoreCoordinator.h"
#include "store/StoreFiles.h"
#include "store/TransactionHistory.h"
#include "store/WalCheckpointer.h"
#include "store/sql/SqlConnection.h"

#include "platform/log/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

namespace {

StoreResult<QString> readStoreIdentifier(sql::Connection &connection)
{
    auto statement = connection.prepare(QStringLiteral("SELECT value FROM store_metadata WHERE key = 'storeUUID'"));
    if (!statement)
        return statement.error();
    if (!statement->next()) {
        if (statement->hasError())
            return statement->error();
        return StoreError{StoreError::Code::UnknownSchema, 0, QStringLiteral("the store has no identifier")};
    }
    const QString identifier = statement->text(0).toUpper();
    if (QUuid::fromString(identifier).isNull())
        return StoreError{StoreError::Code::UnknownSchema, 0, QStringLiteral("the store identifier is malformed")};
    return identifier;
}

StoreResult<void> useWriteAheadLog(sql::Connection &connection)
{
    auto statement = connection.prepare(QStringLiteral("PRAGMA journal_mode = WAL"));
    if (!statement)
        return statement.error();
    if (!statement->next())
        return statement->hasError() ? statement->error()
                                     : StoreError{StoreError::Code::SqliteError, 0, QStringLiteral("no journal mode")};
    if (statement->text(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        return StoreError{StoreError::Code::ReadOnly, 0,
                          QStringLiteral("the store cannot use a write-ahead log (%1)").arg(statement->text(0))};
    return {};
}

} // namespace

StoreContainer::StoreContainer(const QString &name, const ObjectModel &model, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_model(model)
    , m_coordinator(std::make_shared<StoreCoordinator>(model))
{
    qRegisterMetaType<ObjectChanges>();
    qRegisterMetaType<SaveNotification>();
    qRegisterMetaType<RemoteChange>();
    qRegisterMetaType<ObjectId>();
    m_description.path = defaultStorePath();
    m_viewContext.reset(new StoreContext(m_coordinator, StoreContext::ConcurrencyType::MainQueue));
    m_coordinator->addContext(m_viewContext);
    connect(&m_pollTimer, &QTimer::timeout, this, &StoreContainer::pollForRemoteChanges);
}

StoreContainer::~StoreContainer()
{
    close();
}

QString StoreContainer::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString StoreContainer::defaultStorePath() const
{
    return defaultDirectory() + QLatin1Char('/') + m_name + QStringLiteral(".sqlite");
}

QString StoreContainer::storeIdentifier() const
{
    return m_coordinator->storeIdentifier();
}

StoreResult<void> StoreContainer::loadPersistentStore()
{
    if (m_loaded)
        return {};
    auto opened = open();
    if (!opened)
        return opened;
    m_loaded = true;
    return {};
}

StoreResult<void> StoreContainer::open()
{
    const bool inMemory = m_description.isInMemory();
    QString path;
    QString connectionPath;
    sql::Connection::OpenOptions options;
    options.busyTimeoutMs = m_description.busyTimeoutMs;
    if (inMemory) {
        // A named in-memory database that this container's connections share.
        connectionPath = QStringLiteral("file:/kestrelnote-%1?vfs=memdb")
                             .arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
        options.uri = true;
    } else {
        path = QFileInfo(m_description.path).absoluteFilePath();
        const QString folder = QFileInfo(path).absolutePath();
        // Only the folder we chose ourselves is narrowed; a folder handed to us may be shared.
        const bool ownFolder = QDir::cleanPath(folder) == QDir::cleanPath(defaultDirectory());
        if (auto prepared = storefiles::preparePrivateFolder(folder, ownFolder); !prepared)
            return prepared;
        if (auto created = storefiles::createPrivateFile(path); !created)
            return created;
        if (auto whole = storefiles::checkNotTruncated(path); !whole)
            return whole;
        connectionPath = path;
        options.vfs = m_description.vfs;
    }

    auto connection = sql::Connection::open(connectionPath, options);
    if (!connection)
        return connection.error();
    if (auto configured = schema::configureConnection(**connection); !configured)
        return configured;
    WalCheckpointer::watchCommits(**connection, m_coordinator.get());
    if (!inMemory) {
        // Know the file before changing anything in it.
        if (auto version = schema::storedVersion(**connection); !version)
            return version.error();
        if (auto wal = useWriteAheadLog(**connection); !wal)
            return wal;
    }
    if (auto prepared = schema::prepareDatabase(**connection, m_model); !prepared)
        return prepared;
    auto identifier = readStoreIdentifier(**connection);
    if (!identifier)
        return identifier.error();
    if (!inMemory)
        storefiles::repairFileModes(path);

    StoreDescription opened = m_description;
    opened.path = inMemory ? m_description.path : path;
    m_coordinator->setOpenStore(opened, connectionPath, *identifier);
    m_searchIndexer = std::make_unique<SearchIndexer>(m_coordinator, m_description.searchIndexPauseMs);
    m_coordinator->setSearchIndexer(m_searchIndexer.get());
    m_walCheckpointer = std::make_unique<WalCheckpointer>(m_coordinator);
    m_coordinator->setWalCheckpointer(m_walCheckpointer.get());
    // Rows left waiting by an earlier run or another program.
    if (auto waiting = schema::rowsWaitForIndex(**connection); waiting && *waiting)
        m_searchIndexer->rowsMayBeWaiting();

    if (!inMemory && m_description.remoteChangeNotifications) {
        auto version = (*connection)->queryInt64(QStringLiteral("PRAGMA data_version"));
        auto last = lastTransactionId(**connection);
        auto counted = changeCounter(**connection);
        if (version && last && counted) {
            m_dataVersion = *version;
            m_lastTransaction = *last;
            m_lastChangeCount = *counted;
            m_pollTimer.start(m_description.remoteChangePollIntervalMs);
        }
    }
    m_viewContext->attachConnection(std::move(*connection));
    return {};
}

std::shared_ptr<StoreContext> StoreContainer::newBackgroundContext()
{
    std::shared_ptr<StoreContext> context(new StoreContext(m_coordinator, StoreContext::ConcurrencyType::PrivateQueue));
    if (m_loaded) {
        auto connection = m_coordinator->openConnection();
        if (connection)
            context->attachConnection(std::move(*connection));
        else
            klog::error(klog::Category::Persistence,
                        QStringLiteral("background context cannot open the store: %1")
                            .arg(connection.error().localizedDescription()));
    }
    m_coordinator->addContext(context);
    return context;
}

std::optional<ObjectId> StoreContainer::objectIdForUri(const QString &uri) const
{
    auto id = ObjectId::fromUriRepresentation(uri);
    if (!id || id->storeIdentifier() != storeIdentifier() || id->entityIndex() >= m_model.entities.size())
        return std::nullopt;
    return id;
}

StoreResult<void> StoreContainer::indexWaitingRows()
{
    if (!m_searchIndexer)
        return StoreError{StoreError::Code::NotLoaded, 0, QStringLiteral("the store is not open")};
    return m_searchIndexer->indexAll();
}

void StoreContainer::close()
{
    m_pollTimer.stop();
    m_coordinator->setSearchIndexer(nullptr);
    m_searchIndexer.reset();
    m_coordinator->setWalCheckpointer(nullptr);
    m_walCheckpointer.reset();
    for (const auto &context : m_coordinator->contexts()) {
        if (context == m_viewContext)
            context->attachConnection(nullptr);
        else
            context->performAndWait([&context] { context->attachConnection(nullptr); });
    }
    m_coordinator->setClosed();
    m_loaded = false;
}

void StoreContainer::pollForRemoteChanges()
{
    sql::Connection *connection = m_viewContext->m_connection.get();
    if (!connection)
        return;
    auto version = connection->queryInt64(QStringLiteral("PRAGMA data_version"));
    if (!version || *version == m_dataVersion)
        return;

    // Read the records and the counter in one snapshot.
    if (!connection->exec(QStringLiteral("BEGIN")))
        return;
    auto records = transactionsAfter(*connection, m_lastTransaction, storeIdentifier());
    auto counted = changeCounter(*connection);
    connection->exec(QStringLiteral("COMMIT"));
    // Taken as seen only once read, so that a store busy now is read at the next poll.
    if (!records || !counted)
        return;
    m_dataVersion = *version;
    RemoteChange change;
    // Records missing before the new ones were pruned unread; a break in the chain of
    // change counts is a write made without a record. Either way anything may have changed.
    qint64 expected = m_lastChangeCount;
    if (!records->isEmpty() && records->first().id > m_lastTransaction + 1)
        change.changes.everythingMayHaveChanged = true;
    for (const TransactionRecord &record : std::as_const(*records)) {
        if (record.changesBefore != expected)
            change.changes.everythingMayHaveChanged = true;
        expected = record.changesAfter;
    }
    if (*counted != expected)
        change.changes.everythingMayHaveChanged = true;
    m_lastChangeCount = *counted;
    const QString ownOrigin = m_coordinator->origin();
    qint64 foreignBefore = -1;
    qint64 foreignAfter = -1;
    bool foreignInOneRun = true;
    for (const TransactionRecord &record : std::as_const(*records)) {
        if (record.origin == ownOrigin)
            continue;
        foreignInOneRun = foreignInOneRun && (foreignAfter < 0 || record.changesBefore == foreignAfter);
        foreignBefore = foreignBefore < 0 ? record.changesBefore : foreignBefore;
        foreignAfter = record.changesAfter;
        change.changes.append(record.changes);
        if (!change.authors.contains(record.author))
            change.authors.append(record.author);
    }
    if (foreignInOneRun && !change.changes.everythingMayHaveChanged) {
        change.changes.changeCountBefore = foreignBefore;
        change.changes.changeCountAfter = foreignAfter;
    }
    if (!records->isEmpty())
        m_lastTransaction = records->last().id;
    if (change.changes.isEmpty())
        return;
    klog::debug(klog::Category::Persistence, QStringLiteral("store changed by another process"));
    m_searchIndexer->rowsMayBeWaiting();
    if (m_viewContext->automaticallyMergesChanges())
        m_viewContext->mergeChanges(change.changes);
    m_coordinator->mergeIntoContexts(change.changes, m_viewContext.get());
    Q_EMIT remoteChange(change);
}
