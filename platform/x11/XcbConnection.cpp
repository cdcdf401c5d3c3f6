#include "platform/x11/XcbConnection.h"

#include <QSocketNotifier>

#include <cstring>

#include <poll.h>

std::unique_ptr<XcbConnection> XcbConnection::open()
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<XcbConnection>(new XcbConnection(connection, it.data));
}

XcbConnection::XcbConnection(xcb_connection_t *connection, xcb_screen_t *screen)
    : m_connection(connection)
    , m_screen(screen)
{
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &XcbConnection::dispatchPendingEvents);
}

XcbConnection::~XcbConnection()
{
    delete m_notifier;
    if (m_timeWindow != XCB_NONE)
        xcb_destroy_window(m_connection, m_timeWindow);
    xcb_disconnect(m_connection);
}

bool XcbConnection::hasError() const
{
    return xcb_connection_has_error(m_connection) != 0;
}

xcb_atom_t XcbConnection::atom(const char *name)
{
    const QByteArray key(name);
    if (const auto it = m_atoms.constFind(key); it != m_atoms.cend())
        return *it;
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, key.size(), key.constData()), nullptr));
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    if (atom != XCB_ATOM_NONE) {
        m_atoms.insert(key, atom);
        m_atomNames.insert(atom, key);
    }
    return atom;
}

QList<QByteArray> XcbConnection::atomNames(const QList<xcb_atom_t> &atoms)
{
    QList<xcb_get_atom_name_cookie_t> cookies(atoms.size());
    for (qsizetype i = 0; i < atoms.size(); ++i) {
        if (!m_atomNames.contains(atoms[i]))
            cookies[i] = xcb_get_atom_name(m_connection, atoms[i]);
    }
    QList<QByteArray> names;
    names.reserve(atoms.size());
    for (qsizetype i = 0; i < atoms.size(); ++i) {
        if (const auto it = m_atomNames.constFind(atoms[i]); it != m_atomNames.cend()) {
            names.append(*it);
            continue;
        }
        xcb_generic_error_t *error = nullptr;
        XcbPtr<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(m_connection, cookies[i], &error));
        std::free(error);
        QByteArray name;
        if (reply) {
            name = QByteArray(xcb_get_atom_name_name(reply.get()),
                              xcb_get_atom_name_name_length(reply.get()));
            m_atomNames.insert(atoms[i], name);
            m_atoms.insert(name, atoms[i]);
        }
        names.append(name);
    }
    return names;
}

void XcbConnection::setEventHandler(std::function<void(const xcb_generic_event_t &)> handler)
{
    m_handler = std::move(handler);
}

void XcbConnection::dispatch(XcbPtr<xcb_generic_event_t> event)
{
    if (m_handler && event)
        m_handler(*event);
}

void XcbConnection::dispatchPendingEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        dispatch(XcbPtr<xcb_generic_event_t>(event));
}

XcbPtr<xcb_generic_event_t> XcbConnection::waitForEvent(
    const std::function<bool(const xcb_generic_event_t &)> &accept, QDeadlineTimer deadline,
    const std::function<bool()> &stop)
{
    xcb_flush(m_connection);
    for (;;) {
        while (xcb_generic_event_t *raw = xcb_poll_for_event(m_connection)) {
            XcbPtr<xcb_generic_event_t> event(raw);
            if (accept(*event))
                return event;
            dispatch(std::move(event));
            if (stop && stop())
                return nullptr;
        }
        if (hasError() || deadline.hasExpired())
            return nullptr;
        pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        const qint64 remaining = deadline.remainingTime();
        ::poll(&fd, 1, remaining < 0 ? -1 : int(std::min<qint64>(remaining, 1000)));
    }
}

std::optional<XcbConnection::Property> XcbConnection::property(xcb_window_t window,
                                                                xcb_atom_t property,
                                                                qsizetype maxBytes)
{
    const quint32 longs = quint32((maxBytes + 3) / 4);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs),
        nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->bytes_after > 0)
        return std::nullopt;
    Property result;
    result.type = reply->type;
    result.format = reply->format;
    result.bytes = QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                              xcb_get_property_value_length(reply.get()));
    return result;
}

std::optional<xcb_window_t> XcbConnection::windowProperty(xcb_window_t window, xcb_atom_t property)
{
    const std::optional<Property> value = this->property(window, property, 4);
    if (!value || value->format != 32 || value->bytes.size() != 4)
        return std::nullopt;
    xcb_window_t result;
    std::memcpy(&result, value->bytes.constData(), sizeof result);
    return result;
}

xcb_timestamp_t XcbConnection::serverTime()
{
    if (m_timeWindow == XCB_NONE) {
        m_timeWindow = xcb_generate_id(m_connection);
        const quint32 eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_timeWindow, root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &eventMask);
    }
    const xcb_atom_t property = atom("_KESTRELNOTE_TIMESTAMP");
    xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_timeWindow, property,
                        XCB_ATOM_INTEGER, 32, 0, nullptr);
    const xcb_window_t window = m_timeWindow;
    XcbPtr<xcb_generic_event_t> event = waitForEvent(
        [window, property](const xcb_generic_event_t &e) {
            if (xcbEventType(e) != XCB_PROPERTY_NOTIFY)
                return false;
            const auto &n = reinterpret_cast<const xcb_property_notify_event_t &>(e);
            return n.window == window && n.atom == property;
        },
        QDeadlineTimer(1000));
    if (!event)
        return XCB_CURRENT_TIME;
    return reinterpret_cast<const xcb_property_notify_event_t *>(event.get())->time;
}
