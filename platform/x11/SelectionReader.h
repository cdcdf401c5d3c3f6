#pragma once

#include "platform/x11/SelectionReadLimits.h"
#include "platform/x11/XcbConnection.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <functional>

enum class SelectionReadError {
    None,
    Refused,        // the owner has no such target or declined
    TimedOut,       // the owner did not answer in time
    TooLarge,       // more than SelectionReadLimits::maxBytes
    Interrupted,    // the clipboard changed while reading
    ConnectionLost, // the X server went away
};

struct SelectionReadResult {
    SelectionReadError error = SelectionReadError::None;
    xcb_atom_t type = XCB_ATOM_NONE;
    quint8 format = 0;
    QByteArray bytes;

    bool ok() const { return error == SelectionReadError::None; }
};

// Converts a selection to a target through our own connection and an invisible window of
// our own, following ICCCM, including incremental (INCR) transfers.
class SelectionReader
{
public:
    SelectionReader(XcbConnection &connection, xcb_atom_t selection);
    ~SelectionReader();
    SelectionReader(const SelectionReader &) = delete;
    SelectionReader &operator=(const SelectionReader &) = delete;

    // Waits at most limits.stepTimeout for each answer and never past deadline. Stops
    // with Interrupted as soon as changed() turns true (checked as events arrive).
    SelectionReadResult read(xcb_atom_t target, const SelectionReadLimits &limits,
                             QDeadlineTimer deadline, const std::function<bool()> &changed);

private:
    xcb_window_t createWindow() const;
    SelectionReadResult convert(xcb_atom_t target, const SelectionReadLimits &limits,
                                QDeadlineTimer deadline, const std::function<bool()> &changed);
    SelectionReadResult readIncrementally(xcb_atom_t property, const SelectionReadLimits &limits,
                                          QDeadlineTimer deadline,
                                          const std::function<bool()> &changed);
    XcbPtr<xcb_generic_event_t> waitStep(const std::function<bool(const xcb_generic_event_t &)> &accept,
                                         const SelectionReadLimits &limits, QDeadlineTimer deadline,
                                         const std::function<bool()> &changed,
                                         SelectionReadError &error);

    XcbConnection &m_connection;
    xcb_atom_t m_selection;
    // Replaced after a read we gave up on.
    xcb_window_t m_window;
    // Properties are used in turn so that a late answer to an abandoned request cannot be
    // taken for the answer to the next one.
    QList<xcb_atom_t> m_properties;
    qsizetype m_nextProperty = 0;
};
