#pragma once

#include <QKeyCombination>

#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <optional>

// The keyboard's mapping as one X client sees it: which keycode types a key, and which
// modifier bit (Mod1..Mod5) Alt, Super and Num Lock live on.
class KeyboardMapping
{
public:
    explicit KeyboardMapping(xcb_connection_t *connection);
    ~KeyboardMapping();
    KeyboardMapping(const KeyboardMapping &) = delete;
    KeyboardMapping &operator=(const KeyboardMapping &) = delete;

    // The first keycode that types the keysym; none when no key does.
    std::optional<xcb_keycode_t> keycode(xcb_keysym_t keysym) const;
    // The keysym of a Qt key: letters, digits, function keys, Insert; none otherwise.
    static std::optional<xcb_keysym_t> keysymForKey(Qt::Key key);
    // The X modifier mask of Qt modifiers; none when one of them has no modifier bit.
    std::optional<quint16> modifierMask(Qt::KeyboardModifiers modifiers) const;
    quint16 numLockMask() const { return m_numLock; }
    // Every keycode bound to a modifier (Shift, Control, Alt, Super, AltGr, ...), except
    // the lock keys.
    QList<xcb_keycode_t> modifierKeycodes() const { return m_modifierKeycodes; }

private:
    xcb_connection_t *m_connection;
    xcb_key_symbols_t *m_symbols;
    quint16 m_alt = 0;
    quint16 m_super = 0;
    quint16 m_numLock = 0;
    QList<xcb_keycode_t> m_modifierKeycodes;
};
