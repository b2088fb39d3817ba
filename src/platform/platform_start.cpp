// The platform's start: decided once, by whichever start-up step comes first.
#include "platform/platform_start.h"

#include <cstdlib>

#include "platform/capture.h"
#include "platform/exit_signals.h"

void platform_start(void) {
    static bool started = false;
    if (started) return;
    started = true;
    ignore_file_size_signal();
    // A capture needs no display and no sound device.
    if (capture_start()) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
}
