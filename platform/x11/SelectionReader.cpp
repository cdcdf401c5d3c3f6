#include "platform/x11/SelectionReader.h"

#include <algorithm>
#include <cstring>

SelectionReader::SelectionReader(XcbConnection &connection, xcb_atom_t selection)
    : m_connection(connection)
    , m_selection(selection)
    , m_window(createWindow())
{
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "_KESTRELNOTE_SELECTION_" + QByteArray::number(i);
        m_properties.append(connection.atom(name.constData()));
    }
}

xcb_window_t SelectionReader::createWindow() const
{
    xcb_connection_t *c = m_connection.get();
    const xcb_window_t window = xcb_generate_id(c);
    const quint32 eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, m_connection.root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &eventMask);
    return window;
}

SelectionReader::~SelectionReader()
{
    xcb_destroy_window(m_connection.get(), m_window);
    xcb_flush(m_connection.get());
}

XcbPtr<xcb_generic_event_t> SelectionReader::waitStep(
    const std::function<bool(const xcb_generic_event_t &)> &accept, const SelectionReadLimits &limits,
    QDeadlineTimer deadline, const std::function<bool()> &changed, SelectionReadError &error)
{
    QDeadlineTimer step(limits.stepTimeout);
    if (!deadline.isForever() && deadline.deadlineNSecs() < step.deadlineNSecs())
        step = deadline;
    XcbPtr<xcb_generic_event_t> event = m_connection.waitForEvent(accept, step, changed);
    if (changed())
        error = SelectionReadError::Interrupted;
    else if (m_connection.hasError())
        error = SelectionReadError::ConnectionLost;
    else if (!event)
        error = SelectionReadError::TimedOut;
    if (error != SelectionReadError::None)
        return nullptr;
    return event;
}

SelectionReadResult SelectionReader::read(xcb_atom_t target, const SelectionReadLimits &limits,
                                          QDeadlineTimer deadline, const std::function<bool()> &changed)
{
    SelectionReadResult result = convert(target, limits, deadline, changed);
    switch (result.error) {
    case SelectionReadError::TimedOut:
    case SelectionReadError::Interrupted:
    case SelectionReadError::TooLarge:
        // The owner we stopped listening to may still answer: late, or with the rest of an
        // incremental transfer as soon as a later read deletes the property it writes to.
        // It now writes to a window that is gone instead of into another read.
        xcb_destroy_window(m_connection.get(), m_window);
        m_window = createWindow();
        break;
    case SelectionReadError::None:
    case SelectionReadError::Refused:
    case SelectionReadError::ConnectionLost:
        break;
    }
    return result;
}

SelectionReadResult SelectionReader::convert(xcb_atom_t target, const SelectionReadLimits &limits,
                                             QDeadlineTimer deadline, const std::function<bool()> &changed)
{
    xcb_connection_t *c = m_connection.get();
    const xcb_atom_t property = m_properties[m_nextProperty++ % m_properties.size()];
    xcb_delete_property(c, m_window, property);
    xcb_convert_selection(c, m_window, m_selection, target, property, XCB_CURRENT_TIME);

    SelectionReadResult result;
    const xcb_window_t window = m_window;
    const xcb_atom_t selection = m_selection;
    XcbPtr<xcb_generic_event_t> event = waitStep(
        [=](const xcb_generic_event_t &e) {
            if (xcbEventType(e) != XCB_SELECTION_NOTIFY)
                return false;
            const auto &n = reinterpret_cast<const xcb_selection_notify_event_t &>(e);
            return n.requestor == window && n.selection == selection && n.target == target
                && (n.property == property || n.property == XCB_ATOM_NONE);
        },
        limits, deadline, changed, result.error);
    if (!event)
        return result;
    if (reinterpret_cast<const xcb_selection_notify_event_t *>(event.get())->property == XCB_ATOM_NONE) {
        result.error = SelectionReadError::Refused;
        return result;
    }

    // The size first, so that oversized contents are never transferred.
    XcbPtr<xcb_get_property_reply_t> head(xcb_get_property_reply(
        c, xcb_get_property(c, 0, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    if (!head || head->type == XCB_ATOM_NONE) {
        result.error = m_connection.hasError() ? SelectionReadError::ConnectionLost
                                               : SelectionReadError::Refused;
        return result;
    }
    if (head->type == m_connection.atom("INCR"))
        return readIncrementally(property, limits, deadline, changed);
    if (qsizetype(head->bytes_after) > limits.maxBytes) {
        xcb_delete_property(c, m_window, property);
        result.error = SelectionReadError::TooLarge;
        return result;
    }
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 1, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                            (head->bytes_after + 3) / 4),
        nullptr));
    if (!reply) {
        result.error = SelectionReadError::ConnectionLost;
        return result;
    }
    result.type = reply->type;
    result.format = reply->format;
    result.bytes = QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                              xcb_get_property_value_length(reply.get()));
    if (changed())
        result.error = SelectionReadError::Interrupted;
    return result;
}

SelectionReadResult SelectionReader::readIncrementally(xcb_atom_t property,
                                                       const SelectionReadLimits &limits,
                                                       QDeadlineTimer deadline,
                                                       const std::function<bool()> &changed)
{
    xcb_connection_t *c = m_connection.get();
    SelectionReadResult result;
    // The INCR property holds a lower bound of the size.
    const std::optional<XcbConnection::Property> announced = m_connection.property(m_window, property, 4);
    if (announced && announced->format == 32 && announced->bytes.size() == 4) {
        quint32 lowerBound = 0;
        std::memcpy(&lowerBound, announced->bytes.constData(), sizeof lowerBound);
        if (qsizetype(lowerBound) > limits.maxBytes) {
            result.error = SelectionReadError::TooLarge;
            return result;
        }
    }
    // Deleting the property asks the owner for the first chunk.
    xcb_delete_property(c, m_window, property);
    const xcb_window_t window = m_window;
    for (;;) {
        XcbPtr<xcb_generic_event_t> event = waitStep(
            [=](const xcb_generic_event_t &e) {
                if (xcbEventType(e) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto &n = reinterpret_cast<const xcb_property_notify_event_t &>(e);
                return n.window == window && n.atom == property && n.state == XCB_PROPERTY_NEW_VALUE;
            },
            limits, deadline, changed, result.error);
        if (!event) {
            result.bytes.clear();
            return result;
        }
        const qsizetype room = limits.maxBytes - result.bytes.size();
        XcbPtr<xcb_get_property_reply_t> chunk(xcb_get_property_reply(
            c, xcb_get_property(c, 1, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                quint32(std::min<qsizetype>(room / 4 + 1, 0x3fffffff))),
            nullptr));
        if (!chunk) {
            result.error = SelectionReadError::ConnectionLost;
            result.bytes.clear();
            return result;
        }
        const int length = xcb_get_property_value_length(chunk.get());
        if (chunk->bytes_after > 0 || length > room) {
            xcb_delete_property(c, m_window, property);
            result.error = SelectionReadError::TooLarge;
            result.bytes.clear();
            return result;
        }
        if (length == 0) {
            if (changed()) {
                result.error = SelectionReadError::Interrupted;
                result.bytes.clear();
            }
            return result;
        }
        result.type = chunk->type;
        result.format = chunk->format;
        result.bytes.append(static_cast<const char *>(xcb_get_property_value(chunk.get())), length);
    }
}
