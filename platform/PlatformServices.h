#pragma once

#include "platform/frontapp/FrontApplication.h"
#include "platform/hotkey/GlobalHotKey.h"
#include "platform/keystroke/PasteKeystrokePoster.h"
#include "platform/pasteboard/Pasteboard.h"

#include <QString>

#include <memory>

// The platform back ends the application runs with, chosen once at start-up.
struct PlatformServices {
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<FrontApplicationProvider> frontApplication;
    std::unique_ptr<PasteKeystrokePoster> keystrokePoster;
    std::unique_ptr<GlobalHotKey> hotKey;
    // "x11" or "fake", for the log.
    QString backend;
};

// Called before the QApplication exists. On a Wayland session with XWayland the application
// runs as an X11 client unless the user chose a Qt platform; the returned line says so, for
// the log once it runs (empty when nothing was changed).
QString choosePlatformBeforeStart();

// X11 back ends when Qt runs on xcb, fakes otherwise (offscreen, tests).
PlatformServices makePlatformServices();
// The X11 back ends; a member is null when the X server could not be reached for it.
PlatformServices makeX11Services();
PlatformServices makeFakeServices();
