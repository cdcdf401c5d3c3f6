#include "platform/x11/ActiveWindowTracker.h"

#include "platform/x11/QtX11.h"

ActiveWindowTracker::ActiveWindowTracker(XcbConnection &connection)
    : m_connection(connection)
    , m_activeWindowAtom(connection.atom("_NET_ACTIVE_WINDOW"))
{
    const quint32 eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection.get(), connection.root(), XCB_CW_EVENT_MASK, &eventMask);
    readActiveWindow();
}

void ActiveWindowTracker::readActiveWindow()
{
    const std::optional<xcb_window_t> active = m_connection.windowProperty(m_connection.root(), m_activeWindowAtom);
    m_windowManagerSetsActive = active.has_value();
    m_active = active.value_or(XCB_NONE);
    if (m_active != XCB_NONE && !isWindowOfThisApplication(m_active))
        m_lastForeign = m_active;
}

void ActiveWindowTracker::handleEvent(const xcb_generic_event_t &event)
{
    if (xcbEventType(event) != XCB_PROPERTY_NOTIFY)
        return;
    const auto &notify = reinterpret_cast<const xcb_property_notify_event_t &>(event);
    if (notify.window == m_connection.root() && notify.atom == m_activeWindowAtom)
        readActiveWindow();
}

xcb_window_t ActiveWindowTracker::frontWindow()
{
    m_connection.dispatchPendingEvents();
    if (!m_windowManagerSetsActive) {
        // No EWMH window manager: the top-level window holding the input focus.
        m_active = focusedTopLevel();
        if (m_active != XCB_NONE && !isWindowOfThisApplication(m_active))
            m_lastForeign = m_active;
    }
    // Window managers clear the property for a moment while focus moves, and with nothing
    // active the user's last application is still the one they were in.
    if (m_active == XCB_NONE || isWindowOfThisApplication(m_active))
        return m_lastForeign;
    return m_active;
}

xcb_window_t ActiveWindowTracker::focusedTopLevel() const
{
    xcb_connection_t *c = m_connection.get();
    XcbPtr<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_window_t window = focus ? focus->focus : XCB_NONE;
    if (window == XCB_INPUT_FOCUS_POINTER_ROOT || window == m_connection.root())
        return XCB_NONE;
    for (int depth = 0; depth < 16 && window != XCB_NONE; ++depth) {
        XcbPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            return XCB_NONE;
        if (tree->parent == m_connection.root())
            return window;
        window = tree->parent;
    }
    return XCB_NONE;
}

bool ActiveWindowTracker::windowManagerTracksActiveWindow()
{
    const std::optional<XcbConnection::Property> supported =
        m_connection.property(m_connection.root(), m_connection.atom("_NET_SUPPORTED"), 64 * 1024);
    if (!supported || supported->format != 32)
        return false;
    const auto *atoms = reinterpret_cast<const xcb_atom_t *>(supported->bytes.constData());
    for (qsizetype i = 0; i < supported->bytes.size() / 4; ++i) {
        if (atoms[i] == m_activeWindowAtom)
            return true;
    }
    return false;
}
