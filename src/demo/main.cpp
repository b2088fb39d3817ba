// The demo program: brings the engine up in its fixed order and runs the
// scene for ever. It ends only through SIGINT, SIGQUIT, SIGHUP or SIGTERM,
// with status 0.
#include "demo/demo_scene.h"
#include "gfx2d/font.h"
#include "gfx2d/glyphs.h"
#include "platform/framebuffer.h"
#include "platform/video.h"

int main(int, char **) {
    demo_font = font_new(glyphs_32x32, 32, 32);
    // (the music is started here, before SDL_Init)
    video_init();
    fb_clear();
    // (the music is unpaused here, just before the first frame)
    for (;;) {
        demo_draw_frame();
        fb_present();
        frame_counter++;
    }
}
