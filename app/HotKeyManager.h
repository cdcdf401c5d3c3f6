#pragma once

#include <QKeyCombination>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class GlobalHotKey;
class UserDefaults;

// The global shortcut that opens and closes the shelf: one registered key combination
// whose presses call onHotKey. At launch Shift+Super+V is tried first, Ctrl+Alt+V second
// (Ctrl+Shift+V is the paste key of terminals, so it is never grabbed system-wide), and the
// outcome is written to "activeShortcut" under the names "⇧⌘V" and "⌃⇧V".
class HotKeyManager
{
public:
    HotKeyManager(GlobalHotKey &hotKey, UserDefaults &defaults);
    // Unregisters the hot key.
    ~HotKeyManager();
    HotKeyManager(const HotKeyManager &) = delete;
    HotKeyManager &operator=(const HotKeyManager &) = delete;

    // The combinations tried at launch, and their names in "activeShortcut".
    static constexpr QKeyCombination firstChoice{Qt::ShiftModifier | Qt::MetaModifier, Qt::Key_V};
    static constexpr QKeyCombination secondChoice{Qt::ControlModifier | Qt::AltModifier, Qt::Key_V};
    static inline const QString firstChoiceName = QStringLiteral("⇧⌘V");
    static inline const QString secondChoiceName = QStringLiteral("⌃⇧V");

    // Called on the main thread for every press; holds its owner weakly (a QPointer).
    void setOnHotKey(std::function<void()> action) { m_onHotKey = std::move(action); }

    // Makes the combination the one global hot key; false when it could not be had.
    bool registerHotKey(QKeyCombination combination);
    // The launch sequence: first choice, else second choice, else none; records the result.
    void registerShelfShortcut();

    // The registered combination, if any.
    std::optional<QKeyCombination> registeredCombination() const { return m_registered; }

    // What the user is shown for a value of "activeShortcut": the keys actually grabbed, by
    // their names on this platform ("Shift+Super+V", "Ctrl+Alt+V"); empty for none.
    static QString displayText(const QString &activeShortcut);
    static QString displayText(QKeyCombination combination);

private:
    GlobalHotKey &m_hotKey;
    UserDefaults &m_defaults;
    std::optional<QKeyCombination> m_registered;
    // The press handler, connected once for the manager's lifetime.
    QMetaObject::Connection m_handler;
    std::function<void()> m_onHotKey;
};
