// GIF capture in a build without giflib (the browser build, where a page
// keeps the frames itself): asking for one is refused with one line.
#include "platform/capture_internal.h"

void capture_gif_start(const char *target) {
    capture_fail("'%s': a GIF is not made in this build (it has no giflib); a page takes the frames itself", target);
}

void capture_gif_frame(long frame_number) { (void)frame_number; }

int capture_gif_finish(void) { return -1; }

bool capture_gif_keep_what_was_made(void) { return false; }
