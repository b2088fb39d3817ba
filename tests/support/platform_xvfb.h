// A virtual X display (Xvfb) for tests that open real windows. Tests use
// only displays they started themselves, never one that was already there.
#ifndef TESTS_SUPPORT_PLATFORM_XVFB_H
#define TESTS_SUPPORT_PLATFORM_XVFB_H

#include <string>

#include "support/platform_process.h"

struct VirtualDisplay {
    ChildProcess server;
    int number;        // the display number Xvfb chose, e.g. 71 for ":71"
    std::string name;  // ":71"
    bool up;           // true once the server accepts connections
};

// Starts Xvfb on a display number that no other server uses (Xvfb picks it
// and reports it once it accepts connections) with a 640 x 480 x 24 screen
// that never resets (so clients may come and go). Waits up to `timeout_ms`.
// Returns 0 when it is up, -1 otherwise (Xvfb missing, or it failed).
int virtual_display_start(VirtualDisplay *display, int timeout_ms);

// The same with a screen of width x height pixels.
int virtual_display_start_sized(VirtualDisplay *display, int width, int height, int timeout_ms);

// Ends the server and waits for it; does nothing when it is not running.
void virtual_display_stop(VirtualDisplay *display);

// Stops the display when the test's scope ends, however it ends (a failed
// ASSERT returns early): no server outlives its test.
struct VirtualDisplayStopper {
    VirtualDisplay *display;
    ~VirtualDisplayStopper() { virtual_display_stop(display); }
};

#endif
