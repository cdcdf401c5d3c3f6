#include "platform/x11/SessionLockWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {
const QString screenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString screenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
// KDE serves the interface at /ScreenSaver, others at /org/freedesktop/ScreenSaver.
const QStringList screenSaverPaths{QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")};
const QString logindService = QStringLiteral("org.freedesktop.login1");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
} // namespace

SessionLockWatcher::SessionLockWatcher(QObject *parent)
    : QObject(parent)
{
    watchScreenSaver();
    watchLogind();
}

void SessionLockWatcher::watchScreenSaver()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    for (const QString &path : screenSaverPaths) {
        bus.connect(screenSaverService, path, screenSaverInterface, QStringLiteral("ActiveChanged"),
                    this, SLOT(screenSaverActiveChanged(bool)));
    }
    // Asked without waiting: the answer arrives through the event loop.
    const QDBusMessage call = QDBusMessage::createMethodCall(
        screenSaverService, screenSaverPaths.first(), screenSaverInterface, QStringLiteral("GetActive"));
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<bool> reply = *w;
        if (reply.isValid())
            m_screenSaverActive = reply.value();
        w->deleteLater();
    });
}

void SessionLockWatcher::screenSaverActiveChanged(bool active)
{
    m_screenSaverActive = active;
}

void SessionLockWatcher::watchLogind()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    // "auto" is the caller's own session; its signals come from the session's real path.
    QDBusMessage call = QDBusMessage::createMethodCall(
        logindService, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("GetSession"));
    call << QStringLiteral("auto");
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        w->deleteLater();
        if (!reply.isValid())
            return;
        const QString path = reply.value().path();
        QDBusConnection::systemBus().connect(logindService, path, propertiesInterface,
                                             QStringLiteral("PropertiesChanged"), this,
                                             SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
        readLockedHint(path);
    });
}

void SessionLockWatcher::readLockedHint(const QString &sessionPath)
{
    QDBusMessage call = QDBusMessage::createMethodCall(logindService, sessionPath, propertiesInterface,
                                                       QStringLiteral("Get"));
    call << sessionInterface << QStringLiteral("LockedHint");
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isValid())
            m_logindLocked = reply.value().variant().toBool();
        w->deleteLater();
    });
}

void SessionLockWatcher::sessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                                  const QStringList &)
{
    if (interface == sessionInterface && changed.contains(QStringLiteral("LockedHint")))
        m_logindLocked = changed.value(QStringLiteral("LockedHint")).toBool();
}
