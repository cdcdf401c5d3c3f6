#pragma once

// The application itself: settings defaults, the store, one instance per store, the
// platform back ends and the delegate, then the event loop.
namespace KestrelnoteApp {
int run(int &argc, char **argv);
}
