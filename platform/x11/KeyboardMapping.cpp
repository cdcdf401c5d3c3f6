#include "platform/x11/KeyboardMapping.h"

#include "platform/x11/XcbConnection.h"

namespace {
// Keysyms from X11/keysymdef.h.
constexpr xcb_keysym_t keysymAltL = 0xffe9, keysymAltR = 0xffea, keysymMetaL = 0xffe7;
constexpr xcb_keysym_t keysymSuperL = 0xffeb, keysymSuperR = 0xffec;
constexpr xcb_keysym_t keysymNumLock = 0xff7f, keysymCapsLock = 0xffe5, keysymShiftLock = 0xffe6;
constexpr xcb_keysym_t keysymInsert = 0xff63, keysymF1 = 0xffbe;
} // namespace

KeyboardMapping::KeyboardMapping(xcb_connection_t *connection)
    : m_connection(connection)
    , m_symbols(xcb_key_symbols_alloc(connection))
{
    XcbPtr<xcb_get_modifier_mapping_reply_t> mapping(xcb_get_modifier_mapping_reply(
        connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!mapping || !m_symbols)
        return;
    const xcb_keycode_t *keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    quint16 metaFallback = 0;
    for (int modifier = 0; modifier < 8; ++modifier) {
        const quint16 mask = quint16(1u << modifier);
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
            if (keycode == 0)
                continue;
            bool lockKey = false;
            for (int column = 0; column < 4; ++column) {
                const xcb_keysym_t sym = xcb_key_symbols_get_keysym(m_symbols, keycode, column);
                if (modifier >= 3) {
                    if ((sym == keysymAltL || sym == keysymAltR) && !m_alt)
                        m_alt = mask;
                    if (sym == keysymMetaL && !metaFallback)
                        metaFallback = mask;
                    if ((sym == keysymSuperL || sym == keysymSuperR) && !m_super)
                        m_super = mask;
                    if (sym == keysymNumLock && !m_numLock)
                        m_numLock = mask;
                }
                lockKey = lockKey || sym == keysymNumLock || sym == keysymCapsLock || sym == keysymShiftLock;
            }
            if (!lockKey && !m_modifierKeycodes.contains(keycode))
                m_modifierKeycodes.append(keycode);
        }
    }
    if (!m_alt)
        m_alt = metaFallback;
}

KeyboardMapping::~KeyboardMapping()
{
    if (m_symbols)
        xcb_key_symbols_free(m_symbols);
}

std::optional<xcb_keycode_t> KeyboardMapping::keycode(xcb_keysym_t keysym) const
{
    if (!m_symbols)
        return std::nullopt;
    XcbPtr<xcb_keycode_t> keycodes(xcb_key_symbols_get_keycode(m_symbols, keysym));
    if (!keycodes || keycodes.get()[0] == XCB_NO_SYMBOL)
        return std::nullopt;
    return keycodes.get()[0];
}

std::optional<xcb_keysym_t> KeyboardMapping::keysymForKey(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t('a' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return xcb_keysym_t('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return xcb_keysym_t(keysymF1 + (key - Qt::Key_F1));
    if (key == Qt::Key_Insert)
        return keysymInsert;
    return std::nullopt;
}

std::optional<quint16> KeyboardMapping::modifierMask(Qt::KeyboardModifiers modifiers) const
{
    quint16 mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier) {
        if (!m_alt)
            return std::nullopt;
        mask |= m_alt;
    }
    if (modifiers & Qt::MetaModifier) {
        if (!m_super)
            return std::nullopt;
        mask |= m_super;
    }
    if (modifiers & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return std::nullopt;
    return mask;
}
