#include "platform/x11/X11PasteKeystrokePoster.h"

#include "platform/keystroke/PasteKeystroke.h"
#include "platform/log/Log.h"
#include "platform/x11/ActiveWindowTracker.h"
#include "platform/x11/KeyboardMapping.h"
#include "platform/x11/XcbConnection.h"

#include <QElapsedTimer>
#include <QTimer>

#include <xcb/xtest.h>

namespace {
// Keysyms from X11/keysymdef.h.
constexpr xcb_keysym_t keysymControlL = 0xffe3, keysymShiftL = 0xffe1, keysymV = 0x76, keysymInsert = 0xff63;

enum class Phase { Idle, Activating, WaitingForModifiers };
constexpr qint64 focusSettleMs = 60;
} // namespace

struct X11PasteKeystrokePoster::State {
    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<ActiveWindowTracker> tracker;
    PasteKeystrokeTiming timing;
    bool hasXTest = false;

    xcb_window_t target = XCB_NONE;
    PasteKeystroke keystroke = PasteKeystroke::ControlV;

    Phase phase = Phase::Idle;
    QTimer poll;
    QElapsedTimer phaseTimer;
    bool usesFocusFallback = false;
    QElapsedTimer activeSince;

    // Whether the input focus is on the target or inside it.
    bool targetHasFocus() const
    {
        xcb_connection_t *c = connection->get();
        XcbPtr<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_window_t window = focus ? focus->focus : XCB_NONE;
        for (int depth = 0; depth < 8 && window != XCB_NONE && window != connection->root(); ++depth) {
            if (window == target)
                return true;
            XcbPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
            window = tree ? tree->parent : XCB_NONE;
        }
        return false;
    }

    xcb_window_t activeWindow() const
    {
        return connection->windowProperty(connection->root(), connection->atom("_NET_ACTIVE_WINDOW"))
            .value_or(XCB_NONE);
    }

    bool targetIsActive() const
    {
        return (usesFocusFallback || activeWindow() == target) && targetHasFocus();
    }

    bool targetExists() const
    {
        xcb_connection_t *c = connection->get();
        XcbPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, target), nullptr));
        return attributes != nullptr;
    }
};

std::unique_ptr<X11PasteKeystrokePoster> X11PasteKeystrokePoster::create(PasteKeystrokeTiming timing)
{
    auto state = std::make_unique<State>();
    state->connection = XcbConnection::open();
    if (!state->connection)
        return nullptr;
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(state->connection->get(), &xcb_test_id);
    state->hasXTest = xtest && xtest->present;
    state->tracker = std::make_unique<ActiveWindowTracker>(*state->connection);
    state->timing = timing;
    return std::unique_ptr<X11PasteKeystrokePoster>(new X11PasteKeystrokePoster(std::move(state)));
}

X11PasteKeystrokePoster::X11PasteKeystrokePoster(std::unique_ptr<State> state)
    : d(std::move(state))
{
    ActiveWindowTracker *tracker = d->tracker.get();
    d->connection->setEventHandler([tracker](const xcb_generic_event_t &event) { tracker->handleEvent(event); });
    d->poll.setInterval(d->timing.pollInterval);
    connect(&d->poll, &QTimer::timeout, this, &X11PasteKeystrokePoster::step);
}

X11PasteKeystrokePoster::~X11PasteKeystrokePoster() = default;

bool X11PasteKeystrokePoster::isAvailable() const
{
    return d->hasXTest && !d->connection->hasError();
}

bool X11PasteKeystrokePoster::isSecureInputActive() const
{
    xcb_connection_t *c = d->connection->get();
    XcbPtr<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, d->connection->root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    if (!reply)
        return false;
    if (reply->status == XCB_GRAB_STATUS_SUCCESS) {
        // Let go at once, and wait until the server has, so no key goes astray.
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        return false;
    }
    return reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED || reply->status == XCB_GRAB_STATUS_FROZEN;
}

void X11PasteKeystrokePoster::rememberTargetWindow()
{
    d->target = d->tracker->frontWindow();
    d->keystroke = PasteKeystroke::ControlV;
    if (d->target == XCB_NONE)
        return;
    const std::optional<XcbConnection::Property> wmClass =
        d->connection->property(d->target, XCB_ATOM_WM_CLASS, 1024);
    if (wmClass) {
        const QList<QByteArray> parts = wmClass->bytes.split('\0');
        d->keystroke = pasteKeystrokeForWindowClass(QString::fromUtf8(parts.value(0)), QString::fromUtf8(parts.value(1)));
    }
}

bool X11PasteKeystrokePoster::targetReadsPrimarySelection() const
{
    return d->target != XCB_NONE && pastesPrimarySelection(d->keystroke);
}

void X11PasteKeystrokePoster::postPaste()
{
    if (d->phase != Phase::Idle) {
        // A newer paste replaces the one still waiting.
        d->poll.stop();
        d->phase = Phase::Idle;
    }
    if (!isAvailable()) {
        finish(PasteKeystrokeOutcome::Unavailable);
        return;
    }
    if (d->target == XCB_NONE) {
        finish(PasteKeystrokeOutcome::NoTarget);
        return;
    }
    xcb_connection_t *c = d->connection->get();
    if (!d->targetExists()) {
        klog::error(klog::Category::App, QStringLiteral("paste keystroke: the target window is gone; keystroke skipped"));
        finish(PasteKeystrokeOutcome::TargetGone);
        return;
    }

    d->usesFocusFallback = !d->tracker->windowManagerTracksActiveWindow();
    const xcb_timestamp_t now = d->connection->serverTime();
    if (d->usesFocusFallback) {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, d->target, now);
        const quint32 above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, d->target, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    } else if (d->activeWindow() != d->target) {
        // As a pager asks (source 2), which window managers honour without
        // focus-stealing prevention.
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = d->target;
        message.type = d->connection->atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2;
        message.data.data32[1] = now;
        message.data.data32[2] = XCB_NONE;
        xcb_send_event(c, 0, d->connection->root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&message));
    }
    xcb_flush(c);
    d->phase = Phase::Activating;
    d->phaseTimer.start();
    d->activeSince.invalidate();
    d->poll.start();
    step();
}

void X11PasteKeystrokePoster::step()
{
    xcb_connection_t *c = d->connection->get();
    if (d->phase == Phase::Activating) {
        // Active for the window manager, holding the input focus, and for long enough that
        // the application has taken in its focus before the keys arrive.
        const bool active = d->targetIsActive();
        if (!active)
            d->activeSince.invalidate();
        else if (!d->activeSince.isValid())
            d->activeSince.start();
        if (!active || d->activeSince.elapsed() < focusSettleMs) {
            if (d->phaseTimer.elapsed() < d->timing.activationTimeout.count())
                return;
            klog::error(klog::Category::App,
                        QStringLiteral("paste keystroke: the target window did not become active; keystroke skipped"));
            finish(PasteKeystrokeOutcome::TargetNotActivated);
            return;
        }
        d->phase = Phase::WaitingForModifiers;
        d->phaseTimer.start();
    }

    const KeyboardMapping mapping(c);
    XcbPtr<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    bool held = false;
    for (const xcb_keycode_t keycode : mapping.modifierKeycodes()) {
        if (keymap && (keymap->keys[keycode / 8] & (1 << (keycode % 8))))
            held = true;
    }
    if (held) {
        if (d->phaseTimer.elapsed() < d->timing.modifierTimeout.count())
            return;
        klog::error(klog::Category::App, QStringLiteral("paste keystroke: modifier keys still held; sending anyway"));
    }
    // While the keys were held the target may have closed or the user moved on: the
    // keystroke would land in whichever window has the focus now.
    if (!d->targetIsActive()) {
        if (!d->targetExists()) {
            klog::error(klog::Category::App, QStringLiteral("paste keystroke: the target window is gone; keystroke skipped"));
            finish(PasteKeystrokeOutcome::TargetGone);
        } else {
            klog::error(klog::Category::App,
                        QStringLiteral("paste keystroke: the target window is no longer active; keystroke skipped"));
            finish(PasteKeystrokeOutcome::TargetNotActivated);
        }
        return;
    }

    // A password prompt or screen locker holding the keyboard would get the keystroke, and
    // with it the clipboard's contents.
    if (isSecureInputActive()) {
        klog::error(klog::Category::App,
                    QStringLiteral("paste keystroke: another client holds the keyboard; keystroke skipped"));
        finish(PasteKeystrokeOutcome::KeyboardHeld);
        return;
    }

    QList<xcb_keysym_t> modifiers;
    xcb_keysym_t key = keysymV;
    switch (d->keystroke) {
    case PasteKeystroke::ControlV:
        modifiers = {keysymControlL};
        break;
    case PasteKeystroke::ControlShiftV:
        modifiers = {keysymControlL, keysymShiftL};
        break;
    case PasteKeystroke::ShiftInsert:
        modifiers = {keysymShiftL};
        key = keysymInsert;
        break;
    }
    QList<xcb_keycode_t> keycodes;
    for (const xcb_keysym_t sym : modifiers + QList<xcb_keysym_t>{key}) {
        const std::optional<xcb_keycode_t> keycode = mapping.keycode(sym);
        if (!keycode) {
            klog::error(klog::Category::App, QStringLiteral("paste keystroke: the keyboard has no key for %1")
                                                 .arg(pasteKeystrokeName(d->keystroke)));
            finish(PasteKeystrokeOutcome::Unavailable);
            return;
        }
        keycodes.append(*keycode);
    }
    for (const xcb_keycode_t keycode : std::as_const(keycodes))
        xcb_test_fake_input(c, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto it = keycodes.crbegin(); it != keycodes.crend(); ++it)
        xcb_test_fake_input(c, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    klog::debug(klog::Category::App, QStringLiteral("paste keystroke: sent %1").arg(pasteKeystrokeName(d->keystroke)));
    finish(PasteKeystrokeOutcome::Sent);
}

void X11PasteKeystrokePoster::finish(PasteKeystrokeOutcome outcome)
{
    d->poll.stop();
    d->phase = Phase::Idle;
    // Told from the event loop, so that postPaste never calls back into its caller.
    QTimer::singleShot(0, this, [this, outcome] { Q_EMIT pasteFinished(outcome); });
}
