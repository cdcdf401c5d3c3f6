#pragma once

#include <xcb/xcb.h>

// Qt's own connection to the X server (key grabs must live on it so that Qt hands us the
// presses), or null when Qt does not run on xcb.
xcb_connection_t *qtXcbConnection();

// Whether a window was created by this process's Qt connection: our own windows, and the
// window through which Qt owns the clipboard after we wrote it.
bool isWindowOfThisApplication(xcb_window_t window);

// Sets the X server time that Qt stamps its next requests with (selection ownership among
// them). Qt otherwise uses the time of the last event it handled, which may be older than
// the current clipboard owner's, and the server then ignores our claim to the clipboard.
void setQtX11Time(xcb_timestamp_t time);
