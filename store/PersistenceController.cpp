#include "store/PersistenceController.h"

#include "store/CloudMirror.h"
#include "store/StoreContext.h"
#include "store/StoreFailureAlert.h"
#include "store/StoreFiles.h"

#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>

namespace {

const QString containerName = QStringLiteral("Kestrelnote");

} // namespace

PersistenceController::PersistenceController(bool inMemory, std::optional<QString> location)
    : PersistenceController(inMemory, std::move(location), Options())
{
}

PersistenceController::PersistenceController(bool inMemory, std::optional<QString> location, Options options)
    : m_container(std::make_unique<StoreContainer>(containerName, makeModel()))
    , m_options(std::move(options))
{
    StoreDescription &description = m_container->storeDescription();
    if (inMemory)
        description.path = QStringLiteral("/dev/null");
    else if (location)
        description.path = *location;
    description.historyTracking = true;
    description.remoteChangeNotifications = true;
    description.busyTimeoutMs = m_options.busyTimeoutMs;
    description.vfs = m_options.vfs;
    if (cloudmirror::isAvailable() && !inMemory)
        description.cloudContainerIdentifier = cloudmirror::containerIdentifier;

    loadWithRecovery(inMemory);
    configureViewContext();
}

PersistenceController::~PersistenceController() = default;

void PersistenceController::loadWithRecovery(bool inMemory)
{
    auto loaded = m_container->loadPersistentStore();
    if (loaded)
        return;
    const StoreError error = loaded.error();
    klog::error(klog::Category::Persistence,
                QStringLiteral("store load failed: %1").arg(error.localizedDescription()));
    const QString location = m_container->storeDescription().path;
    if (inMemory || location.isEmpty())
        return;
    if (!isCorruptStoreError(error)) {
        showStoreFailureAlert(error);
        return;
    }
    moveStoreAside(location);
    auto reloaded = m_container->loadPersistentStore();
    if (!reloaded) {
        klog::fault(klog::Category::Persistence,
                    QStringLiteral("store recreate failed: %1").arg(reloaded.error().localizedDescription()));
        showStoreFailureAlert(reloaded.error());
        return;
    }
    klog::notice(klog::Category::Persistence, QStringLiteral("corrupt store moved aside; recreated empty store"));
}

void PersistenceController::configureViewContext()
{
    StoreContext *view = m_container->viewContext();
    view->setAutomaticallyMergesChanges(true);
    view->setMergePolicy(StoreContext::MergePolicy::PropertyObjectTrump);
    view->setName(QStringLiteral("viewContext"));
    view->setTransactionAuthor(QStringLiteral("app"));
}

void PersistenceController::moveStoreAside(const QString &location)
{
    for (const QString &suffix : storefiles::suffixes()) {
        const QString source = location + suffix;
        const QString target = source + QStringLiteral(".broken");
        QFile::remove(target);
        QFile::rename(source, target);
    }
}

void PersistenceController::showStoreFailureAlert(const StoreError &error)
{
    const QString message = QStringLiteral("Kestrelnote can't open its clipboard history");
    const QString information
        = QStringLiteral("The history database couldn't be opened (") + error.localizedDescription()
        + QStringLiteral("). Try freeing disk space or restarting your computer; if this keeps happening, reinstall Kestrelnote.");
    StoreFailureAlert *alert = m_options.alert;
    std::function<void()> quit = m_options.quit;
    if (!quit)
        quit = [] { QCoreApplication::exit(EXIT_FAILURE); };
    // After the start-up code that is already running.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alert, quit, message, information] {
            if (alert)
                alert->show(message, information, QStringLiteral("Quit"));
            quit();
        },
        Qt::QueuedConnection);
}
