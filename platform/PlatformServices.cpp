#include "platform/PlatformServices.h"

#include "platform/fake/FakeFrontApplication.h"
#include "platform/fake/FakeGlobalHotKey.h"
#include "platform/fake/FakePasteKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/log/Log.h"
#include "platform/x11/X11FrontApplication.h"
#include "platform/x11/X11GlobalHotKey.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PasteKeystrokePoster.h"

#include <QGuiApplication>

QString choosePlatformBeforeStart()
{
    // Without XWayland (no DISPLAY) forcing X11 would only make Qt abort at start.
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        || qEnvironmentVariableIsEmpty("DISPLAY"))
        return QString();
    qputenv("QT_QPA_PLATFORM", "xcb");
    return QStringLiteral("Wayland session: running as an X11 client through XWayland");
}

PlatformServices makeX11Services()
{
    PlatformServices services;
    services.backend = QStringLiteral("x11");
    services.pasteboard = X11Pasteboard::create();
    services.frontApplication = X11FrontApplication::create();
    services.keystrokePoster = X11PasteKeystrokePoster::create();
    services.hotKey = X11GlobalHotKey::create();
    return services;
}

PlatformServices makeFakeServices()
{
    PlatformServices services;
    services.backend = QStringLiteral("fake");
    services.pasteboard = std::make_unique<FakePasteboard>();
    services.frontApplication = std::make_unique<FakeFrontApplication>();
    services.keystrokePoster = std::make_unique<FakePasteKeystrokePoster>();
    services.hotKey = std::make_unique<FakeGlobalHotKey>();
    return services;
}

PlatformServices makePlatformServices()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        PlatformServices services = makeX11Services();
        if (services.pasteboard && services.frontApplication && services.keystrokePoster && services.hotKey)
            return services;
        klog::fault(klog::Category::App, QStringLiteral("the X server cannot be used; running without clipboard access"));
    }
    klog::notice(klog::Category::App, QStringLiteral("platform %1: running with stand-in services")
                                          .arg(QGuiApplication::platformName()));
    return makeFakeServices();
}
