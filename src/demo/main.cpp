// The demo program: brings the engine up in its fixed order and runs the
// scene for ever. It ends only through SIGINT, SIGQUIT, SIGHUP or SIGTERM,
// with status 0.
#include "demo/demo_scene.h"
#include "platform/framebuffer.h"
#include "platform/video.h"

int main(int, char **) {
    // (the demo font is created here, first)
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
