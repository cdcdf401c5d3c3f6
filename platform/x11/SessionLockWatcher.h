#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

// Whether the session is locked, as the desktop tells over D-Bus: the screen saver's
// active state (org.freedesktop.ScreenSaver) and logind's LockedHint of our session.
// Both are followed through their change signals, so isLocked() costs nothing. Either
// service may be missing; then it counts as unlocked.
class SessionLockWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit SessionLockWatcher(QObject *parent = nullptr);

    bool isLocked() const { return m_screenSaverActive || m_logindLocked; }

private Q_SLOTS:
    void screenSaverActiveChanged(bool active);
    void sessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                  const QStringList &invalidated);

private:
    void watchScreenSaver();
    void watchLogind();
    void readLockedHint(const QString &sessionPath);

    bool m_screenSaverActive = false;
    bool m_logindLocked = false;
};
