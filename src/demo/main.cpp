// The demo program: brings the engine up in its fixed order and runs the
// scene for ever. It ends only through SIGINT, SIGQUIT, SIGHUP or SIGTERM,
// with status 0 (one it was started with ignored, as by nohup, stays
// ignored). It takes no arguments: --help answers with its usage on
// standard output (status 0, nothing started); anything else gets the
// usage line on standard error and status 2, as every program does.
#include <cstdlib>

#include "demo/demo_scene.h"
#include "gfx2d/font.h"
#include "gfx2d/glyphs.h"
#include "platform/audio_output.h"
#include "platform/music_start.h"
#include "platform/exit_signals.h"
#include "gfx2d/framebuffer.h"
#include "platform/program_args.h"
#include "platform/video.h"
#include "util/std_fds.h"

static const char USAGE[] =
    "usage: demo\n"
    "Runs the demo scene with its music (res/kevo.mod, from the working directory) until\n"
    "SIGINT, SIGQUIT, SIGHUP or SIGTERM (Ctrl-C) ends it with status 0.\n"
    "KEVO_MUSIC=path plays that module (MOD, XM or S3M) instead;\n"
    "KEVO_FROM=ORDER[:ROW] starts the music at that row; KEVO_CAPTURE with\n"
    "KEVO_CAPTURE_FRAMES=N records its first N frames and their sound instead.\n";

int main(int argc, char **argv) {
    // Before anything opens a file: a closed standard error would hand its
    // number to the audio capture, and the rate lines would go into it.
    if (keep_standard_fds_open() != 0) return 1;
    // First of all, so that a stop signal at any moment of start-up ends
    // the demo with status 0 (the loop acts on it at its first frame).
    exit_signals_install();
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 0, 0, USAGE)) return USAGE_ERROR_STATUS;
    demo_font = font_new(glyphs_32x32, 32, 32);
    music_start();  // before SDL_Init: SDL 1.2 brings its audio up by itself
    video_init();
    video_set_title("demo");
    fb_clear();
    audio_unpause();  // the music starts just before the first frame
    for (;;) {
        demo_draw_frame();
        fb_present();
        frame_counter++;
        // A stop signal, or a capture that has made its last frame.
        if (exit_requested()) exit(0);
    }
}
