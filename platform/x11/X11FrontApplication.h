#pragma once

#include "platform/frontapp/FrontApplication.h"

#include <QObject>

#include <memory>

// The application of the active window (_NET_ACTIVE_WINDOW): its desktop entry, found by
// the window's WM_CLASS and process, gives the name and the identifier; without one the
// WM_CLASS class is the name. Our own windows never count: while one of them is active,
// the last other active window is the front application. While the session is locked
// (screen saver active on the X server or over D-Bus, or logind's LockedHint) there is
// none.
class X11FrontApplication final : public QObject, public FrontApplicationProvider
{
    Q_OBJECT

public:
    // Desktop entries from the XDG folders, localized for the messages locale. None when
    // the X server cannot be reached.
    static std::unique_ptr<X11FrontApplication> create();
    ~X11FrontApplication() override;

    std::optional<FrontApplication> frontApplication() const override;

private:
    struct State;
    explicit X11FrontApplication(std::unique_ptr<State> state);

    std::unique_ptr<State> d;
};
