#include "platform/x11/QtX11.h"

#include <QGuiApplication>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>

xcb_connection_t *qtXcbConnection()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    const auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool isWindowOfThisApplication(xcb_window_t window)
{
    xcb_connection_t *connection = qtXcbConnection();
    if (!connection || window == XCB_NONE)
        return false;
    // Every resource a client creates carries the id base the server gave that client.
    const xcb_setup_t *setup = xcb_get_setup(connection);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

void setQtX11Time(xcb_timestamp_t time)
{
    if (!qtXcbConnection() || time == XCB_CURRENT_TIME)
        return;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native)
        return;
    using SetAppTime = void (*)(QScreen *, xcb_timestamp_t);
    // Qt hands the function out under a generic signature.
    using Generic = void (*)();
    const auto resource = native->nativeResourceFunctionForScreen("setapptime");
    if (!resource)
        return;
    auto setAppTime = reinterpret_cast<SetAppTime>(reinterpret_cast<Generic>(resource));
    setAppTime(QGuiApplication::primaryScreen(), time);
}
