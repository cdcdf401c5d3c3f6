// Another X client holding keys, for the hot-key and secure-input tests.
//   kn_test_key_grabber key MODIFIERS KEY   grabs e.g. "shift+super" "v" on the root window
//                                           for every Lock and NumLock state
//   kn_test_key_grabber keyboard            grabs the whole keyboard (as a password prompt)
//                                           and prints "key KEYCODE" for each key it gets
// Prints "ready" and waits to be killed, or prints "refused" and exits 1.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (argc < 2 || xcb_connection_has_error(c))
        return 2;
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    bool ok = true;
    if (std::string(argv[1]) == "keyboard") {
        xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
        ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        free(reply);
    } else if (argc == 4) {
        // The modifier bits of Xvfb's default keymap: Alt on Mod1, Num Lock on Mod2,
        // Super on Mod4.
        const std::string modifiers = argv[2];
        uint16_t mask = 0;
        if (modifiers.find("shift") != std::string::npos) mask |= XCB_MOD_MASK_SHIFT;
        if (modifiers.find("ctrl") != std::string::npos) mask |= XCB_MOD_MASK_CONTROL;
        if (modifiers.find("alt") != std::string::npos) mask |= XCB_MOD_MASK_1;
        if (modifiers.find("super") != std::string::npos) mask |= XCB_MOD_MASK_4;
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t *keycodes = xcb_key_symbols_get_keycode(symbols, xcb_keysym_t(argv[3][0]));
        if (!keycodes)
            return 2;
        for (uint16_t lock : {uint16_t(0), uint16_t(XCB_MOD_MASK_LOCK), uint16_t(XCB_MOD_MASK_2),
                              uint16_t(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)}) {
            xcb_generic_error_t *error = xcb_request_check(
                c, xcb_grab_key_checked(c, 1, root, uint16_t(mask | lock), keycodes[0],
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            ok = ok && !error;
            free(error);
        }
        free(keycodes);
        xcb_key_symbols_free(symbols);
    } else {
        return 2;
    }
    printf(ok ? "ready\n" : "refused\n");
    fflush(stdout);
    if (!ok)
        return 1;
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            printf("key %d\n", reinterpret_cast<xcb_key_press_event_t *>(event)->detail);
            fflush(stdout);
        }
        free(event);
    }
    for (;;)
        pause();
}
