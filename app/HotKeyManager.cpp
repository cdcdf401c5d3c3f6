#include "app/HotKeyManager.h"

#include "platform/defaults/UserDefaults.h"
#include "platform/hotkey/GlobalHotKey.h"
#include "platform/log/Log.h"

#include <QKeySequence>

HotKeyManager::HotKeyManager(GlobalHotKey &hotKey, UserDefaults &defaults)
    : m_hotKey(hotKey)
    , m_defaults(defaults)
{
}

HotKeyManager::~HotKeyManager()
{
    if (m_registered)
        m_hotKey.unregisterKey();
    QObject::disconnect(m_handler);
}

bool HotKeyManager::registerHotKey(QKeyCombination combination)
{
    if (!m_handler) {
        m_handler = QObject::connect(&m_hotKey, &GlobalHotKey::pressed, [this] {
            if (m_onHotKey)
                m_onHotKey();
        });
    }
    if (m_registered) {
        m_hotKey.unregisterKey();
        m_registered.reset();
    }
    if (!m_hotKey.registerKey(combination))
        return false;
    m_registered = combination;
    return true;
}

void HotKeyManager::registerShelfShortcut()
{
    if (registerHotKey(firstChoice)) {
        m_defaults.setString(SettingsKey::activeShortcut, firstChoiceName);
        klog::info(klog::Category::App, QStringLiteral("registered ⇧⌘V"));
        return;
    }
    if (registerHotKey(secondChoice)) {
        m_defaults.setString(SettingsKey::activeShortcut, secondChoiceName);
        klog::info(klog::Category::App,
                   QStringLiteral("⇧⌘V is taken by another app (Paste?) — using ⌃⇧V instead"));
        return;
    }
    m_defaults.setString(SettingsKey::activeShortcut, QString());
    klog::error(klog::Category::App, QStringLiteral("could not register any global shortcut"));
}

QString HotKeyManager::displayText(const QString &activeShortcut)
{
    if (activeShortcut == firstChoiceName)
        return displayText(firstChoice);
    if (activeShortcut == secondChoiceName)
        return displayText(secondChoice);
    return QString();
}

QString HotKeyManager::displayText(QKeyCombination combination)
{
    // The names Linux desktops print on their own shortcut settings, in their order.
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    QStringList parts;
    if (modifiers & Qt::ControlModifier)
        parts << QStringLiteral("Ctrl");
    if (modifiers & Qt::AltModifier)
        parts << QStringLiteral("Alt");
    if (modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("Shift");
    if (modifiers & Qt::MetaModifier)
        parts << QStringLiteral("Super");
    parts << QKeySequence(combination.key()).toString(QKeySequence::PortableText);
    return parts.join(QLatin1Char('+'));
}
