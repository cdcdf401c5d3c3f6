#pragma once

#include "store/StoreContainer.h"
#include "store/StoreError.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class StoreFailureAlert;

// Owns the one store of the process: opens it at start-up, repairs a damaged store by
// moving its files aside and starting empty, and ends the application with the store
// failure alert when the store cannot be opened at all. Configures the view context.
// Create it once, on the main thread, before anything touches the store.
class PersistenceController
{
public:
    struct Options {
        // Shown (queued on the main thread) when the store cannot be opened; none: only logged.
        StoreFailureAlert *alert = nullptr;
        // Ends the application after the alert; default QCoreApplication::exit(1).
        std::function<void()> quit;
        // How long opening waits for another process's lock.
        int busyTimeoutMs = 5000;
        // The SQLite file-system layer; tests inject faults with it.
        QByteArray vfs;
    };

    // inMemory: a private in-memory store, never mirrored, never repaired or alerted about.
    // Otherwise the store at `location`, or at the per-user data location when none.
    explicit PersistenceController(bool inMemory = false, std::optional<QString> location = std::nullopt);
    PersistenceController(bool inMemory, std::optional<QString> location, Options options);
    ~PersistenceController();
    PersistenceController(const PersistenceController &) = delete;
    PersistenceController &operator=(const PersistenceController &) = delete;

    StoreContainer &container() { return *m_container; }
    const StoreContainer &container() const { return *m_container; }
    bool isLoaded() const { return m_container->isLoaded(); }

    // Moves P, P-wal and P-shm to the same names with ".broken" added, replacing older
    // copies; missing files are skipped.
    static void moveStoreAside(const QString &location);
    // Queues the store failure alert on the main thread, then quits.
    void showStoreFailureAlert(const StoreError &error);

private:
    void loadWithRecovery(bool inMemory);
    void configureViewContext();

    std::unique_ptr<StoreContainer> m_container;
    Options m_options;
};
