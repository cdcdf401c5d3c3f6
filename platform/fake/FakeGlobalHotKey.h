#pragma once

#include "platform/hotkey/GlobalHotKey.h"

#include <QList>

#include <optional>

// A hot-key service that tests script: combinations "held by other clients" fail to
// register, and press() delivers a press of the registered one.
class FakeGlobalHotKey final : public GlobalHotKey
{
public:
    bool registerKey(QKeyCombination combination) override
    {
        unregisterKey();
        m_attempts.append(combination);
        if (m_heldElsewhere.contains(combination))
            return false;
        m_registered = combination;
        return true;
    }
    void unregisterKey() override { m_registered.reset(); }

    void holdElsewhere(QKeyCombination combination) { m_heldElsewhere.append(combination); }
    // Presses the registered combination; false when none is registered.
    bool press()
    {
        if (!m_registered)
            return false;
        Q_EMIT pressed();
        return true;
    }
    std::optional<QKeyCombination> registered() const { return m_registered; }
    QList<QKeyCombination> attempts() const { return m_attempts; }

private:
    std::optional<QKeyCombination> m_registered;
    QList<QKeyCombination> m_heldElsewhere;
    QList<QKeyCombination> m_attempts;
};
