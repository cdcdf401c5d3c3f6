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
    m_active = m_connection.windowProperty(m_connection.root(), m_activeWindowAtom).value_or(XCB_NONE);
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
    // Window managers clear the property for a moment while focus moves, and with nothing
    // active the user's last application is still the one they were in.
    if (m_active == XCB_NONE || isWindowOfThisApplication(m_active))
        return m_lastForeign;
    return m_active;
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
