#pragma once

#include "store/Model.h"
#include "store/ObjectChanges.h"
#include "store/StoreError.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class SearchIndexer;
class StoreContext;
class StoreCoordinator;
class WalCheckpointer;

// Where and how the store is opened.
struct StoreDescription {
    // The database file. "/dev/null" opens a private in-memory database instead.
    QString path;
    // Each save is recorded with its author and process, so that changes made by another
    // process can be told from this one's and announced with remoteChange().
    bool historyTracking = true;
    bool remoteChangeNotifications = true;
    // The cloud container to mirror to; none keeps the store local.
    std::optional<QString> cloudContainerIdentifier;
    // How long a connection waits for another one's lock before giving up.
    int busyTimeoutMs = 5000;
    // How often the file is checked for changes made by other processes.
    int remoteChangePollIntervalMs = 300;
    // How long saving must pause before the substring index takes in the new rows. Long
    // enough that batch saves in a row never wait for the index; a search meanwhile reads
    // the new rows directly, which is as exact, only slower.
    int searchIndexPauseMs = 400;
    // The SQLite file-system layer; empty for the default. Tests inject faults with it.
    QByteArray vfs;

    bool isInMemory() const { return path == QLatin1String("/dev/null"); }
};

// The one store of a process: the database, the view context (main thread) and the
// background contexts made from it. Changes saved by one context are merged into the
// contexts that merge automatically (the view context); changes made by other processes
// are noticed by polling the file and announced with remoteChange().
//
//   StoreContainer container(QStringLiteral("Kestrelnote"));
//   container.storeDescription().path = dir + "/Kestrelnote.sqlite";
//   if (auto loaded = container.loadPersistentStore(); !loaded) ... loaded.error()
//   StoreContext *view = container.viewContext();
//   auto background = container.newBackgroundContext();
class StoreContainer : public QObject
{
    Q_OBJECT

public:
    explicit StoreContainer(const QString &name, const ObjectModel &model = makeModel(), QObject *parent = nullptr);
    ~StoreContainer() override;

    QString name() const { return m_name; }
    const ObjectModel &model() const { return m_model; }
    StoreDescription &storeDescription() { return m_description; }
    const StoreDescription &storeDescription() const { return m_description; }

    // The default folder for stores: the per-user data location (made private on use).
    static QString defaultDirectory();
    // The default file: <defaultDirectory>/<name>.sqlite.
    QString defaultStorePath() const;

    // Opens (creating, migrating) the store. Call once, on the main thread, before using
    // any context; on failure the contexts stay unusable and report NotLoaded.
    StoreResult<void> loadPersistentStore();
    bool isLoaded() const { return m_loaded; }
    // The store's own UUID, part of every object URI.
    QString storeIdentifier() const;

    // The main-thread context; owned by the container.
    StoreContext *viewContext() const { return m_viewContext.get(); }
    // A new private-queue context with its own thread and connection.
    std::shared_ptr<StoreContext> newBackgroundContext();

    // The identifier named by a URI of this store; none for another store or a malformed text.
    std::optional<ObjectId> objectIdForUri(const QString &uri) const;

    // Brings the substring index up to date now; normally it catches up by itself once
    // saving pauses. NotLoaded when the store is not open.
    StoreResult<void> indexWaitingRows();

    // Stops watching the file and closes every connection. Contexts made earlier stay
    // valid objects but report NotLoaded. Wait for background work to end first.
    void close();

Q_SIGNALS:
    // On the main thread, when another process changed the store file. The contexts that
    // merge automatically have already taken the changes in.
    void remoteChange(const RemoteChange &change);

private:
    StoreResult<void> open();
    void pollForRemoteChanges();

    QString m_name;
    const ObjectModel &m_model;
    StoreDescription m_description;
    bool m_loaded = false;
    std::shared_ptr<StoreCoordinator> m_coordinator;
    std::shared_ptr<StoreContext> m_viewContext;
    std::unique_ptr<SearchIndexer> m_searchIndexer;
    std::unique_ptr<WalCheckpointer> m_walCheckpointer;

    QTimer m_pollTimer;
    qint64 m_dataVersion = -1;
    qint64 m_lastTransaction = 0;
    qint64 m_lastChangeCount = 0;
};
