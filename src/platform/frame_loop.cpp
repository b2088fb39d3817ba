// The programs' shared frame loop: command line, window, keys, stop
// signals, the --frames/--shot route and the capture rule.
#include "platform/frame_loop.h"

#include <cstdio>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "platform/audio_output.h"
#include "platform/capture.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"
#include "platform/screenshot.h"
#include "platform/video.h"
#include "platform/window_scale.h"
#include "util/std_fds.h"

// The loop's own options in the usage line, after the program's.
static const char *loop_args(const FrameLoopSetup *setup) {
    return setup->headless_shots ? "[--frames N --shot out.png] [--scale k]" : "[--frames N] [--shot out.png] [--scale k]";
}

static void write_usage(FILE *out, const FrameLoopSetup *setup) {
    fprintf(out, "usage: %s%s%s %s\n", setup->name, setup->args[0] ? " " : "", setup->args, loop_args(setup));
}

// Ends start-up with `status`.
static int end_at_once(FrameLoop *loop, int status) {
    loop->status = status;
    return -1;
}

int frame_loop_start(FrameLoop *loop, const FrameLoopSetup *setup, int argc, char **argv) {
    *loop = FrameLoop{setup, 0, nullptr, nullptr, false, false, false, false, 0, 0};
    if (keep_standard_fds_open() != 0) return end_at_once(loop, 1);
    exit_signals_install();
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0) {
            write_usage(stdout, setup);
            fputs(setup->about, stdout);
            return end_at_once(loop, 0);
        }
    if (window_take_scale_option(&argc, argv) != 0) return end_at_once(loop, USAGE_ERROR_STATUS);
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (setup->flag && strcmp(arg, setup->flag) == 0) {
            loop->flag_given = true;
        } else if (strcmp(arg, "--frames") == 0 && i + 1 < argc) {
            if (parse_long(argv[++i], 1, FRAME_LOOP_MAX_FRAMES, &loop->frames) != 0) {
                failure_line(setup->name, "--frames wants a count from 1 to %ld, not '%s'", FRAME_LOOP_MAX_FRAMES, argv[i]);
                return end_at_once(loop, USAGE_ERROR_STATUS);
            }
        } else if (strcmp(arg, "--shot") == 0 && i + 1 < argc && !arg_is_option(argv[i + 1])) {
            loop->shot_path = argv[++i];
        } else if (setup->takes_file && !arg_is_option(arg) && !loop->file) {
            loop->file = arg;
        } else {
            write_usage(stderr, setup);
            return end_at_once(loop, USAGE_ERROR_STATUS);
        }
    }
    if (setup->headless_shots) {
        if ((loop->frames > 0) != (loop->shot_path != nullptr)) {
            write_usage(stderr, setup);
            return end_at_once(loop, USAGE_ERROR_STATUS);
        }
        loop->headless = loop->shot_path != nullptr;
        // Nothing is presented there: a capture would wait for frames that
        // never come.
        if (loop->headless && capture_decline())
            failure_line(setup->name, "KEVO_CAPTURE is ignored with --frames and --shot, which draw without a window "
                                      "or pacing");
    }
    return 0;
}

void frame_loop_open(FrameLoop *loop) {
    if (loop->headless) {
        fb_attach_storage();
        return;
    }
    video_init();
    video_set_title(loop->setup->name);
    if (loop->shot_path && capture_active()) {
        failure_line(loop->setup->name, "--shot is ignored while capturing (KEVO_CAPTURE): the capture's frames are "
                                        "the pictures");
        loop->shot_path = nullptr;
    }
}

// Takes the window's events: its close and Escape end the loop; F and
// Alt-Enter toggle fullscreen; other keys go to the program.
static void take_events(FrameLoop *loop) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (window_handle_event(&event)) continue;
        if (event.type == SDL_QUIT) loop->stopped = true;
        if (event.type != SDL_KEYDOWN) continue;
        if (event.key.keysym.sym == SDLK_ESCAPE)
            loop->stopped = true;
        else if (loop->setup->on_key)
            loop->setup->on_key(event.key.keysym.sym);
    }
}

// The loop is over, and so is the sound: in the browser the device's
// timers would keep the page's program running (and playing) after main
// returns.
static bool loop_over(void) {
    audio_close();
    return false;
}

bool frame_loop_next(FrameLoop *loop) {
    if (loop->in_frame) {
        loop->in_frame = false;
        if (!loop->headless) fb_present();
        frame_counter += 1;
        loop->drawn++;
        if (loop->frames > 0 && loop->drawn >= loop->frames) {
            if (loop->shot_path && fb_save_png(loop->shot_path) != 0) loop->status = 1;
            return loop_over();
        }
    }
    if (!loop->headless) take_events(loop);
    if (exit_requested() || loop->stopped) return loop_over();
    loop->in_frame = true;
    return true;
}
