#pragma once

#include <QJsonObject>
#include <QObject>

#include <memory>

class ClipboardMonitor;
class HotKeyManager;
class PasteService;
class StoreContainer;
class UserDefaults;
struct PlatformServices;

// The composition root: owns the long-lived services and creates them in a fixed order:
// the store at construction, the monitor (with its capture) and the paste service on first
// use; launch() runs the migrations, starts polling and registers the shelf shortcut.
// Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT
    // The launch sequence has run.
    Q_PROPERTY(bool launched READ isLaunched NOTIFY launchedChanged)

public:
    // The store must already be open.
    AppDelegate(PlatformServices &platform, UserDefaults &defaults, StoreContainer &store);
    ~AppDelegate() override;

    StoreContainer &persistence() const { return m_store; }
    ClipboardMonitor &monitor();
    PasteService &pasteService();
    HotKeyManager *hotKey() const { return m_hotKey.get(); }

    // Runs once; later calls do nothing.
    void launch();
    bool isLaunched() const { return m_launched; }

    // The shortcut's action.
    void toggleShelf();

    // Answers another process of the same store (a second start, the command line).
    QJsonObject handleRequest(const QJsonObject &request);

Q_SIGNALS:
    void launchedChanged();

private:
    // X11 loses the clipboard with its owner: offer the newest item again, as clipboard
    // managers do, without capturing it anew.
    void offerNewestItemAgain();
    void offerNewestItemNow(qint64 lostAt);

    PlatformServices &m_platform;
    UserDefaults &m_defaults;
    StoreContainer &m_store;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    std::unique_ptr<PasteService> m_pasteService;
    std::unique_ptr<HotKeyManager> m_hotKey;
    bool m_launched = false;
};
