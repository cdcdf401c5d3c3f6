#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

// Frees what xcb allocated (replies, events, errors).
struct XcbFree {
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XcbPtr = std::unique_ptr<T, XcbFree>;

// A connection of our own to the X server. The back ends keep their traffic off Qt's
// connection so that a slow clipboard owner or a probe never stalls Qt's event handling,
// and so that Qt never swallows the events they wait for.
class XcbConnection final : public QObject
{
    Q_OBJECT

public:
    // Connects to $DISPLAY; none when the server cannot be reached.
    static std::unique_ptr<XcbConnection> open();
    ~XcbConnection() override;

    xcb_connection_t *get() const { return m_connection; }
    xcb_window_t root() const { return m_screen->root; }
    const xcb_screen_t *screen() const { return m_screen; }
    bool hasError() const;

    // Interned once and cached.
    xcb_atom_t atom(const char *name);
    // Names of atoms, asked in one batch; an atom the server does not know has no name.
    QList<QByteArray> atomNames(const QList<xcb_atom_t> &atoms);

    // Events are handed here as they arrive while the event loop runs, and from
    // dispatchPendingEvents and waitForEvent.
    void setEventHandler(std::function<void(const xcb_generic_event_t &)> handler);
    // Hands every event already sent by the server to the handler, without blocking.
    void dispatchPendingEvents();
    // Waits until an event for which accept is true arrives, until stop turns true (asked
    // after each other event, which goes to the handler) or until the deadline. Never
    // blocks past the deadline.
    XcbPtr<xcb_generic_event_t> waitForEvent(
        const std::function<bool(const xcb_generic_event_t &)> &accept, QDeadlineTimer deadline,
        const std::function<bool()> &stop = {});

    // Reads a whole property (at most maxBytes; none when larger, missing or unreadable).
    struct Property {
        xcb_atom_t type = XCB_ATOM_NONE;
        quint8 format = 0;
        QByteArray bytes;
    };
    std::optional<Property> property(xcb_window_t window, xcb_atom_t property,
                                     qsizetype maxBytes = 1 << 20);
    std::optional<xcb_window_t> windowProperty(xcb_window_t window, xcb_atom_t property);

    // The server's time now (a zero-length property append answered by its notification),
    // or XCB_CURRENT_TIME when the server did not answer within a second.
    xcb_timestamp_t serverTime();

private:
    XcbConnection(xcb_connection_t *connection, xcb_screen_t *screen);
    void dispatch(XcbPtr<xcb_generic_event_t> event);

    xcb_connection_t *m_connection;
    xcb_screen_t *m_screen;
    QSocketNotifier *m_notifier = nullptr;
    xcb_window_t m_timeWindow = XCB_NONE;
    QHash<QByteArray, xcb_atom_t> m_atoms;
    QHash<xcb_atom_t, QByteArray> m_atomNames;
    std::function<void(const xcb_generic_event_t &)> m_handler;
};

// The event's type without the "sent by a client" bit.
inline quint8 xcbEventType(const xcb_generic_event_t &event)
{
    return event.response_type & 0x7f;
}
