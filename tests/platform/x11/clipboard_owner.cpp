// A misbehaving (or well-behaved) clipboard owner for the X11 tests, written with plain
// xcb so that every step of the selection protocol is under the test's control.
//   kn_test_clipboard_owner MODE TARGET [BYTES [FILL]]
// MODE: silent        owns CLIPBOARD and answers nothing
//       targets-only  answers TARGETS, never the data
//       die-on-data   answers TARGETS, exits when asked for the data
//       bad-targets   answers TARGETS with 7 bytes of junk
//       bogus-atoms   answers TARGETS with atoms the server never made, then TARGET
//       incr          sends BYTES bytes of TARGET incrementally, correctly
//       incr-stall    announces BYTES incrementally, sends one chunk, then nothing
//       incr-die      announces BYTES incrementally, sends one chunk, then exits
//       incr-endless  announces 1000 bytes incrementally, then sends chunks forever
//       incr-slow     sends BYTES bytes incrementally, each chunk 50 ms after it was asked for
// Data is BYTES times the character FILL (default x). Prints "ready" once it owns the
// selection. Losing it ends the program, but only once a running incremental transfer is
// done, as toolkits finish theirs.
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

xcb_connection_t *c;
xcb_window_t window;

xcb_atom_t atom(const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return result;
}

void notify(const xcb_selection_request_event_t &request, xcb_atom_t property)
{
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

struct Transfer {
    xcb_window_t requestor = XCB_NONE;
    xcb_atom_t property = XCB_NONE;
    xcb_atom_t type = XCB_NONE;
    size_t remaining = 0;
    bool endless = false;
    bool stallAfterFirst = false;
    bool dieAfterFirst = false;
    int chunksSent = 0;
    bool slow = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s MODE TARGET [BYTES]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const char *targetName = argv[2];
    const size_t bytes = argc > 3 ? strtoull(argv[3], nullptr, 10) : 1000;
    const char fill = argc > 4 ? argv[4][0] : 'x';

    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t targets = atom("TARGETS");
    const xcb_atom_t incr = atom("INCR");
    const xcb_atom_t target = atom(targetName);
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    free(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    printf("ready\n");
    fflush(stdout);

    const size_t chunkSize = 64 * 1024;
    std::vector<char> chunk(chunkSize, fill);
    Transfer transfer;
    bool cleared = false;

    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            free(event);
            if (transfer.requestor == XCB_NONE)
                return 0;
            cleared = true;
            continue;
        }
        if (type == XCB_SELECTION_REQUEST && mode != "silent") {
            const auto &request = *reinterpret_cast<xcb_selection_request_event_t *>(event);
            const xcb_atom_t property = request.property ? request.property : request.target;
            if (request.target == targets) {
                if (mode == "bad-targets") {
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                        XCB_ATOM_ATOM, 8, 7, "garbage");
                } else if (mode == "bogus-atoms") {
                    const xcb_atom_t offered[] = {0x7ffffff0, 0x7ffffff1, 0, target};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                        XCB_ATOM_ATOM, 32, 4, offered);
                } else {
                    const xcb_atom_t offered[] = {targets, target};
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                        XCB_ATOM_ATOM, 32, 2, offered);
                }
                notify(request, property);
            } else if (request.target == target) {
                if (mode == "die-on-data")
                    return 0;
                if (mode.rfind("incr", 0) == 0) {
                    const uint32_t announced = mode == "incr-endless" ? 1000 : uint32_t(bytes);
                    transfer = Transfer{request.requestor, property, target, bytes,
                                        mode == "incr-endless", mode == "incr-stall",
                                        mode == "incr-die", 0, mode == "incr-slow"};
                    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, incr,
                                        32, 1, &announced);
                    notify(request, property);
                }
            } else {
                notify(request, XCB_ATOM_NONE);
            }
        } else if (type == XCB_PROPERTY_NOTIFY && transfer.requestor != XCB_NONE) {
            const auto &change = *reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (change.window == transfer.requestor && change.atom == transfer.property
                && change.state == XCB_PROPERTY_DELETE) {
                if (transfer.chunksSent == 1 && transfer.dieAfterFirst)
                    return 0;
                if (transfer.chunksSent == 1 && transfer.stallAfterFirst) {
                    free(event);
                    continue;
                }
                if (transfer.slow)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const size_t n = transfer.endless ? chunkSize : std::min(chunkSize, transfer.remaining);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, transfer.requestor, transfer.property,
                                    transfer.type, 8, uint32_t(n), chunk.data());
                xcb_flush(c);
                ++transfer.chunksSent;
                if (!transfer.endless) {
                    if (n == 0 && cleared)
                        return 0;
                    if (n == 0)
                        transfer.requestor = XCB_NONE;
                    transfer.remaining -= n;
                }
            }
        }
        free(event);
    }
    return 0;
}
