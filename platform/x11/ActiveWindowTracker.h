#pragma once

#include "platform/x11/XcbConnection.h"

// Follows the window manager's _NET_ACTIVE_WINDOW (without an EWMH window manager, the
// top-level window holding the input focus, asked when needed) and remembers the last active window
// that is not one of ours, so that our shelf taking focus does not hide where the user was.
class ActiveWindowTracker
{
public:
    explicit ActiveWindowTracker(XcbConnection &connection);

    // Feed every event of the connection here.
    void handleEvent(const xcb_generic_event_t &event);
    // The active window unless it is ours or none, else the last other active window
    // (XCB_NONE before any).
    xcb_window_t frontWindow();
    // Whether the window manager maintains _NET_ACTIVE_WINDOW (EWMH).
    bool windowManagerTracksActiveWindow();

private:
    void readActiveWindow();
    xcb_window_t focusedTopLevel() const;

    XcbConnection &m_connection;
    xcb_atom_t m_activeWindowAtom;
    xcb_window_t m_active = XCB_NONE;
    xcb_window_t m_lastForeign = XCB_NONE;
    bool m_windowManagerSetsActive = false;
};
