#pragma once

#include "platform/hotkey/GlobalHotKey.h"

#include <memory>

// A passive key grab on the root window through Qt's own connection, so that Qt delivers
// the presses on the main thread (picked out by a native event filter). The grab covers
// every state of Caps Lock and Num Lock. X11 refuses a grab that another client holds
// (BadAccess); then nothing stays grabbed. When the keyboard mapping changes, the key is
// grabbed again where the new mapping puts it.
class X11GlobalHotKey final : public GlobalHotKey
{
    Q_OBJECT

public:
    // None when Qt does not run on X11.
    static std::unique_ptr<X11GlobalHotKey> create();
    ~X11GlobalHotKey() override;

    bool registerKey(QKeyCombination combination) override;
    void unregisterKey() override;

private:
    struct State;
    explicit X11GlobalHotKey(std::unique_ptr<State> state);
    bool grabKey(QKeyCombination combination);
    void regrab();

    std::unique_ptr<State> d;
};
