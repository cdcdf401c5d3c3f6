#include "platform/x11/X11FrontApplication.h"

#include "platform/frontapp/DesktopEntries.h"
#include "platform/x11/ActiveWindowTracker.h"
#include "platform/x11/SessionLockWatcher.h"
#include "platform/x11/XcbConnection.h"

#include <QFileInfo>
#include <QSysInfo>

#include <xcb/screensaver.h>

struct X11FrontApplication::State {
    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<ActiveWindowTracker> tracker;
    SessionLockWatcher lockWatcher;
    bool hasScreenSaverExtension = false;
    QByteArray hostName = QSysInfo::machineHostName().toUtf8();
    DesktopEntryIndex entries{DesktopEntryIndex::defaultApplicationDirs(), DesktopEntryIndex::messagesLocale()};
};

namespace {

struct WindowFacts {
    QString instance;
    QString wmClass;
    QString program;
    bool screenSaverOn = false;
};

template<typename Reply>
QByteArray propertyBytes(const Reply &reply)
{
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

// The program a local process runs; empty for other machines' windows.
QString programOfProcess(quint32 pid)
{
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    return QFileInfo(exe).fileName();
}

} // namespace

std::unique_ptr<X11FrontApplication> X11FrontApplication::create()
{
    auto state = std::make_unique<State>();
    state->connection = XcbConnection::open();
    if (!state->connection)
        return nullptr;
    const xcb_query_extension_reply_t *screenSaver =
        xcb_get_extension_data(state->connection->get(), &xcb_screensaver_id);
    state->hasScreenSaverExtension = screenSaver && screenSaver->present;
    state->tracker = std::make_unique<ActiveWindowTracker>(*state->connection);
    return std::unique_ptr<X11FrontApplication>(new X11FrontApplication(std::move(state)));
}

X11FrontApplication::X11FrontApplication(std::unique_ptr<State> state)
    : d(std::move(state))
{
    ActiveWindowTracker *tracker = d->tracker.get();
    d->connection->setEventHandler([tracker](const xcb_generic_event_t &event) { tracker->handleEvent(event); });
}

X11FrontApplication::~X11FrontApplication() = default;

std::optional<FrontApplication> X11FrontApplication::frontApplication() const
{
    if (d->lockWatcher.isLocked())
        return std::nullopt;
    const xcb_window_t window = d->tracker->frontWindow();
    if (window == XCB_NONE)
        return std::nullopt;

    // All questions at once: one round trip.
    xcb_connection_t *c = d->connection->get();
    // Any type: some toolkits write WM_CLASS as UTF8_STRING, which a request for STRING
    // answers with no value.
    const auto classCookie = xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    const auto pidCookie = xcb_get_property(c, 0, window, d->connection->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1);
    const auto machineCookie = xcb_get_property(c, 0, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 0, 64);
    std::optional<xcb_screensaver_query_info_cookie_t> screenSaverCookie;
    if (d->hasScreenSaverExtension)
        screenSaverCookie = xcb_screensaver_query_info(c, d->connection->root());

    XcbPtr<xcb_get_property_reply_t> classReply(xcb_get_property_reply(c, classCookie, nullptr));
    XcbPtr<xcb_get_property_reply_t> pidReply(xcb_get_property_reply(c, pidCookie, nullptr));
    XcbPtr<xcb_get_property_reply_t> machineReply(xcb_get_property_reply(c, machineCookie, nullptr));
    if (screenSaverCookie) {
        XcbPtr<xcb_screensaver_query_info_reply_t> info(
            xcb_screensaver_query_info_reply(c, *screenSaverCookie, nullptr));
        if (info && info->state == XCB_SCREENSAVER_STATE_ON)
            return std::nullopt;
    }
    if (!classReply)
        return std::nullopt; // the window is gone

    const QList<QByteArray> classParts = propertyBytes(classReply).split('\0');
    const QString instance = classParts.size() > 0 ? QString::fromUtf8(classParts[0]) : QString();
    const QString wmClass = classParts.size() > 1 ? QString::fromUtf8(classParts[1]) : QString();
    QString program;
    const QByteArray pidBytes = propertyBytes(pidReply);
    const QByteArray machine = propertyBytes(machineReply);
    // A process id means something only for windows of this machine.
    if (pidBytes.size() == 4 && (machine.isEmpty() || machine == d->hostName)) {
        quint32 pid = 0;
        std::memcpy(&pid, pidBytes.constData(), sizeof pid);
        if (pid > 0)
            program = programOfProcess(pid);
    }

    FrontApplication front;
    if (const std::optional<DesktopEntry> entry = d->entries.match(instance, wmClass, program)) {
        front.localizedName = entry->name;
        front.bundleIdentifier = entry->id;
    } else if (!wmClass.isEmpty() || !instance.isEmpty()) {
        front.localizedName = wmClass.isEmpty() ? instance : wmClass;
    }
    return front;
}
