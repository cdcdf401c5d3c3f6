#pragma once

#include "platform/keystroke/PasteKeystrokePoster.h"

#include <chrono>
#include <memory>

// How long the poster waits for the window manager and for the user.
struct PasteKeystrokeTiming {
    // How long the window manager may take to activate the target.
    std::chrono::milliseconds activationTimeout{1000};
    // How long the user may keep holding modifier keys before we send anyway.
    std::chrono::milliseconds modifierTimeout{1500};
    std::chrono::milliseconds pollInterval{20};
};

// Pastes with XTest. The target is given its focus back with a _NET_ACTIVE_WINDOW request
// as a pager would (source 2), or with SetInputFocus where no EWMH window manager runs;
// the keystroke follows once the window is active and the user's own modifier keys are
// up. Terminals get their own paste key (see PasteKeystroke).
class X11PasteKeystrokePoster final : public PasteKeystrokePoster
{
    Q_OBJECT

public:
    // None when the X server cannot be reached.
    static std::unique_ptr<X11PasteKeystrokePoster> create(PasteKeystrokeTiming timing = {});
    ~X11PasteKeystrokePoster() override;

    bool isAvailable() const override;
    bool isSecureInputActive() const override;
    void rememberTargetWindow() override;
    bool targetReadsPrimarySelection() const override;
    void postPaste() override;

private:
    struct State;
    explicit X11PasteKeystrokePoster(std::unique_ptr<State> state);

    void step();
    void finish(PasteKeystrokeOutcome outcome);

    std::unique_ptr<State> d;
};
