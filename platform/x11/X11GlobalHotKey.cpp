#include "platform/x11/X11GlobalHotKey.h"

#include "platform/log/Log.h"
#include "platform/x11/KeyboardMapping.h"
#include "platform/x11/QtX11.h"
#include "platform/x11/XcbConnection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>

#include <optional>

namespace {

struct Grab {
    xcb_keycode_t keycode = 0;
    quint16 modifiers = 0;
};

} // namespace

struct X11GlobalHotKey::State final : QAbstractNativeEventFilter {
    X11GlobalHotKey *owner = nullptr;
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_NONE;
    // The combination asked for, and the keys grabbed for it under the current mapping.
    std::optional<QKeyCombination> combination;
    std::optional<Grab> grab;
    // Our own connection hears of mapping changes: Qt's asks for XKB events instead.
    std::unique_ptr<XcbConnection> mappingWatch;
    bool regrabScheduled = false;
    quint16 numLock = 0;
    // X repeats a held key as release and press pairs with one timestamp.
    xcb_timestamp_t lastRelease = XCB_CURRENT_TIME;

    QList<quint16> lockVariants() const
    {
        QList<quint16> variants{0, XCB_MOD_MASK_LOCK};
        if (numLock)
            variants << numLock << quint16(numLock | XCB_MOD_MASK_LOCK);
        return variants;
    }

    void ungrab(const Grab &g) const
    {
        for (const quint16 variant : lockVariants())
            xcb_ungrab_key(connection, g.keycode, root, quint16(g.modifiers | variant));
        xcb_flush(connection);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (!grab || eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const quint8 type = xcbEventType(*event);
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            return false;
        const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
        const quint16 relevant = quint16(key->state & ~(XCB_MOD_MASK_LOCK | numLock));
        if (key->event != root || key->detail != grab->keycode || relevant != grab->modifiers)
            return false;
        if (type == XCB_KEY_RELEASE) {
            lastRelease = key->time;
            return true;
        }
        if (key->time != lastRelease)
            Q_EMIT owner->pressed();
        return true;
    }
};

std::unique_ptr<X11GlobalHotKey> X11GlobalHotKey::create()
{
    xcb_connection_t *connection = qtXcbConnection();
    if (!connection)
        return nullptr;
    auto state = std::make_unique<State>();
    state->connection = connection;
    state->root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    state->mappingWatch = XcbConnection::open();
    return std::unique_ptr<X11GlobalHotKey>(new X11GlobalHotKey(std::move(state)));
}

X11GlobalHotKey::X11GlobalHotKey(std::unique_ptr<State> state)
    : d(std::move(state))
{
    d->owner = this;
    QCoreApplication::instance()->installNativeEventFilter(d.get());
    if (d->mappingWatch) {
        // A new layout (setxkbmap, xmodmap) may move the key to another keycode or Num
        // Lock to another modifier; the server then tells every client, unasked.
        d->mappingWatch->setEventHandler([this](const xcb_generic_event_t &event) {
            if (xcbEventType(event) != XCB_MAPPING_NOTIFY)
                return;
            const auto &notify = reinterpret_cast<const xcb_mapping_notify_event_t &>(event);
            if (notify.request == XCB_MAPPING_POINTER || d->regrabScheduled)
                return;
            // One layout change sends several notices.
            d->regrabScheduled = true;
            QTimer::singleShot(0, this, [this] { regrab(); });
        });
    }
}

X11GlobalHotKey::~X11GlobalHotKey()
{
    unregisterKey();
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(d.get());
}

bool X11GlobalHotKey::registerKey(QKeyCombination combination)
{
    unregisterKey();
    if (!grabKey(combination))
        return false;
    d->combination = combination;
    return true;
}

void X11GlobalHotKey::regrab()
{
    d->regrabScheduled = false;
    if (!d->combination)
        return;
    if (d->grab) {
        d->ungrab(*d->grab);
        d->grab.reset();
    }
    // Kept on failure: a later mapping may have the key again.
    if (!grabKey(*d->combination))
        klog::error(klog::Category::App, QStringLiteral("the shortcut could not be grabbed again after the keyboard changed"));
}

bool X11GlobalHotKey::grabKey(QKeyCombination combination)
{
    // The mapping is read afresh: the user may have changed the layout since.
    const KeyboardMapping mapping(d->connection);
    const std::optional<xcb_keysym_t> keysym = KeyboardMapping::keysymForKey(combination.key());
    const std::optional<xcb_keycode_t> keycode = keysym ? mapping.keycode(*keysym) : std::nullopt;
    const std::optional<quint16> modifiers = mapping.modifierMask(combination.keyboardModifiers());
    if (!keycode || !modifiers) {
        klog::error(klog::Category::App, QStringLiteral("the keyboard has no key for the shortcut"));
        return false;
    }
    d->numLock = mapping.numLockMask();
    const Grab grab{*keycode, *modifiers};

    QList<xcb_void_cookie_t> cookies;
    for (const quint16 variant : d->lockVariants()) {
        cookies.append(xcb_grab_key_checked(d->connection, 1, d->root, quint16(grab.modifiers | variant),
                                            grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool refused = false;
    for (const xcb_void_cookie_t cookie : cookies) {
        // BadAccess: another client holds this combination.
        if (XcbPtr<xcb_generic_error_t> error{xcb_request_check(d->connection, cookie)})
            refused = true;
    }
    if (refused) {
        // Releases only the variants this client got; the other client's stay.
        d->ungrab(grab);
        return false;
    }
    d->grab = grab;
    return true;
}

void X11GlobalHotKey::unregisterKey()
{
    d->combination.reset();
    if (!d->grab)
        return;
    d->ungrab(*d->grab);
    d->grab.reset();
}
