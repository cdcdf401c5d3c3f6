#include "app/AppDelegate.h"

#include "app/HotKeyManager.h"
#include "capture/ClipboardCapture.h"
#include "capture/ClipboardMonitor.h"
#include "paste/PasteService.h"
#include "platform/PlatformServices.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "store/ClipItem.h"
#include "store/ClipLabel.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUuid>

AppDelegate::AppDelegate(PlatformServices &platform, UserDefaults &defaults, StoreContainer &store)
    : m_platform(platform)
    , m_defaults(defaults)
    , m_store(store)
{
    if (m_platform.hotKey)
        m_hotKey = std::make_unique<HotKeyManager>(*m_platform.hotKey, m_defaults);
}

AppDelegate::~AppDelegate() = default;

ClipboardMonitor &AppDelegate::monitor()
{
    if (!m_monitor) {
        m_monitor = std::make_unique<ClipboardMonitor>(m_store, *m_platform.pasteboard, *m_platform.frontApplication,
                                                       m_defaults);
        connect(m_platform.pasteboard.get(), &Pasteboard::contentsLost, this, &AppDelegate::offerNewestItemAgain);
    }
    return *m_monitor;
}

PasteService &AppDelegate::pasteService()
{
    if (!m_pasteService)
        m_pasteService = std::make_unique<PasteService>(monitor(), *m_platform.keystrokePoster);
    return *m_pasteService;
}

void AppDelegate::launch()
{
    if (m_launched)
        return;
    m_launched = true;
    ClipboardMonitor &clipboard = monitor();
    clipboard.capture().runHashMigration();
    clipboard.capture().runAttributionMigration();
    clipboard.start();
    if (m_hotKey) {
        QPointer<AppDelegate> self(this);
        m_hotKey->setOnHotKey([self] {
            if (self)
                self->toggleShelf();
        });
        m_hotKey->registerShelfShortcut();
    }
    klog::notice(klog::Category::App, QStringLiteral("launched (platform: %1)").arg(m_platform.backend));
    Q_EMIT launchedChanged();
}

void AppDelegate::toggleShelf()
{
    // The shelf's panel joins here once it exists; until then the press is only noted.
    klog::info(klog::Category::App, QStringLiteral("shelf requested"));
}

void AppDelegate::offerNewestItemAgain()
{
    const qint64 lostAt = m_platform.pasteboard->changeCount();
    // The owner may have quit right after we read its contents: let that capture finish
    // first, so the item offered is the one just copied.
    QPointer<AppDelegate> self(this);
    monitor().capture().context().perform([self, lostAt] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, lostAt] {
                if (self)
                    self->offerNewestItemNow(lostAt);
            },
            Qt::QueuedConnection);
    });
}

void AppDelegate::offerNewestItemNow(qint64 lostAt)
{
    // Someone copied something meanwhile: theirs wins, also while it cannot be read (an
    // owner slow to answer).
    if (m_platform.pasteboard->changeCount() != lostAt)
        return;
    if (const auto types = m_platform.pasteboard->types(); types && !types->isEmpty())
        return;
    FetchRequest newest = FetchRequest::of<ClipItem>();
    newest.setSortDescriptors({{QStringLiteral("createdAt"), false}});
    newest.setFetchLimit(1);
    const auto items = m_store.viewContext()->fetch<ClipItem>(newest);
    if (!items || items->isEmpty())
        return;
    pasteService().copy(*items->first(), PasteStyle::Rich);
    klog::info(klog::Category::App, QStringLiteral("clipboard owner quit; offered the newest item again"));
}

QJsonObject AppDelegate::handleRequest(const QJsonObject &request)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    const auto failure = [](const QString &why) {
        return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
    };
    if (command == QLatin1String("activate")) {
        toggleShelf();
        return {{QStringLiteral("ok"), true}};
    }
    if (command == QLatin1String("pause") || command == QLatin1String("resume")) {
        monitor().setPaused(command == QLatin1String("pause"));
        return {{QStringLiteral("ok"), true}};
    }
    if (command == QLatin1String("copy") || command == QLatin1String("paste")) {
        const QUuid id = QUuid::fromString(request.value(QStringLiteral("id")).toString());
        if (id.isNull())
            return failure(QStringLiteral("no item id given"));
        FetchRequest byId = FetchRequest::of<ClipItem>();
        byId.setPredicate(Predicate::equal(QStringLiteral("id"), id));
        const auto items = m_store.viewContext()->fetch<ClipItem>(byId);
        if (!items || items->isEmpty())
            return failure(QStringLiteral("no item with id %1").arg(uuidString(id)));
        const PasteStyle style = request.value(QStringLiteral("style")).toString() == QLatin1String("plainText")
            ? PasteStyle::PlainText : PasteStyle::Rich;
        if (command == QLatin1String("copy")) {
            pasteService().copy(*items->first(), style);
        } else {
            // No window of ours is in front: the target is the window the user is in now.
            m_platform.keystrokePoster->rememberTargetWindow();
            pasteService().pasteOrCopy(*items->first(), style);
        }
        return {{QStringLiteral("ok"), true}};
    }
    return failure(QStringLiteral("unknown request %1").arg(command));
}
