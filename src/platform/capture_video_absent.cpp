// Video capture in a build without processes (the browser build, where a
// page keeps the frames itself): asking for one is refused with one line.
#include "platform/capture_internal.h"

static int video_start(const char *target) {
    capture_fail("'%s': videos are not made in the browser (no ffmpeg there); a page takes the frames itself", target);
}

static void video_frame(long number) { (void)number; }

static int video_finish(void) { return -1; }

static bool video_keep(void) { return false; }

static void video_drop(void) {}

const CaptureWriter capture_video_writer = {"video", video_start, video_frame, video_finish, video_keep, video_drop};
