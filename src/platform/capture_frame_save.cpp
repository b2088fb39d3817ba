// A captured frame as a PNG file in the capture's folder, named where a
// second stop finds it until its present is complete.
#include <atomic>
#include <cstring>

#include "platform/capture_internal.h"
#include "platform/screenshot.h"

void capture_frame_save(long number) {
    const int next = 1 - capture_state.frame_at;
    snprintf(capture_state.frame_paths[next], sizeof capture_state.frame_paths[next], "%s/frame_%06ld.png",
             capture_state.dir, number);
    capture_state.frame_numbers[next] = static_cast<sig_atomic_t>(number);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture_state.frame_at = next;
    const char *path = capture_state.frame_paths[next];
    if (fb_save_png(path) != 0)
        capture_fail("stopped: frame %s of '%s' could not be saved", path + strlen(capture_state.dir) + 1,
                     capture_state.dir);
}
