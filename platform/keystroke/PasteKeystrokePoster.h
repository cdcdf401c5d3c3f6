#pragma once

#include <QObject>

// How one paste keystroke ended.
enum class PasteKeystrokeOutcome {
    Sent,
    Unavailable,        // synthetic keystrokes cannot be sent here
    NoTarget,           // no window was remembered
    TargetGone,         // the remembered window was closed meanwhile
    TargetNotActivated, // the window manager did not give the window back its focus
    KeyboardHeld,       // another client holds the keyboard, which would get the keystroke
};

// Sends the platform's paste keystroke to the window that was active before ours.
// Main thread only.
class PasteKeystrokePoster : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether synthetic keystrokes reach other applications ("post-event access").
    virtual bool isAvailable() const = 0;
    // Whether another client holds the keyboard (a password prompt, a screen locker,
    // xterm's secure keyboard), so that a synthetic keystroke would go to it. False when
    // that cannot be known.
    virtual bool isSecureInputActive() const = 0;
    // Remembers the active window as the target of the next paste. Called when our window
    // is about to be shown (while it is active, the window active before it is taken).
    virtual void rememberTargetWindow() = 0;
    // Whether the remembered window pastes from the primary selection (Shift+Insert in
    // xterm), so that the entries must be written there as well.
    virtual bool targetReadsPrimarySelection() const = 0;
    // Makes the remembered window active again and, once the user has let go of the
    // modifier keys, sends its paste keystroke. Returns at once; pasteFinished follows.
    virtual void postPaste() = 0;

Q_SIGNALS:
    void pasteFinished(PasteKeystrokeOutcome outcome);
};
