// GIF capture in a build without giflib (the browser build, where a page
// keeps the frames itself): asking for one is refused with one line.
#include "platform/capture_internal.h"

static int gif_start(const char *target) {
    capture_fail("'%s': a GIF is not made in this build (it has no giflib); a page takes the frames itself", target);
}

static void gif_frame(long number) { (void)number; }

static int gif_finish(void) { return -1; }

static bool gif_keep(void) { return false; }

static void gif_drop(void) {}

const CaptureWriter capture_gif_writer = {"GIF", gif_start, gif_frame, gif_finish, gif_keep, gif_drop};
