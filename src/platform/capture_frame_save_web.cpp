// A captured frame in the browser, where there is no PNG: the page keeps
// its indices (web.h); the sound goes to DIR/audio.wav in the page's
// memory as everywhere.
#include "gfx2d/framebuffer.h"
#include "platform/capture_internal.h"
#include "platform/web.h"

void capture_frame_save(long number) {
    (void)number;
    web_page_frame(fb_pixels, fb_width, fb_height);
}
