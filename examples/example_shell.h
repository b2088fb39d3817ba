// What the 3D examples share around their frame loops: the command line
// (--frames N to stop after N frames, --shot FILE to save the last frame as
// PNG, --scale k for a window k times larger; F or Alt-Enter toggles
// fullscreen), ending cleanly on Escape, window close and the four exit signals,
// and presenting a frame. Header-only so each example stays one program.
// While capturing (KEVO_CAPTURE) the capture's frames are the pictures:
// --shot is ignored, with one line saying so, and --frames N still ends the
// example after N frames when that comes before KEVO_CAPTURE_FRAMES.
#ifndef EXAMPLES_EXAMPLE_SHELL_H
#define EXAMPLES_EXAMPLE_SHELL_H

#include <SDL/SDL.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/capture.h"
#include "platform/exit_signals.h"
#include "gfx2d/framebuffer.h"
#include "platform/program_args.h"
#include "platform/screenshot.h"
#include "platform/video.h"
#include "platform/window_scale.h"
#include "util/std_fds.h"

struct ExampleOptions {
    long frames;             // frames to run; 0 runs until asked to stop
    const char *shot_path;   // PNG written after the last frame, or null
    const char *input_path;  // first plain argument, or null
};

// Set by the signal handler and by the event poll; the loop ends at the
// next frame boundary so the example can release what it loaded.
static volatile sig_atomic_t example_quit_requested = 0;

static void example_on_signal(int) { example_quit_requested = 1; }

// First thing in main: keeps descriptors 0-2 open (-1 when it cannot; the
// example then ends with status 1), and the four exit signals end the loop
// from now on, so one that arrives while the example loads still ends it
// with status 0.
static inline int example_begin(void) {
    if (keep_standard_fds_open() != 0) return -1;
    exit_signals_install(example_on_signal);
    return 0;
}

// Set when the requested shot could not be written: the example then ends
// with status 1 (fb_save_png has said why).
static bool example_shot_failed = false;

// Most frames --frames takes: over a year at the paced rate.
static const long EXAMPLE_MAX_FRAMES = 2147483647;

// The usage line on standard error, for arguments the example cannot take.
static inline void example_usage_error(const char *program, const char *usage) {
    std::fprintf(stderr, "usage: %s %s [--scale k]\n", program, usage);
}

// Reads --frames N, --shot FILE, one plain argument and, when `flag` is not
// null, that flag (setting *flag_set). 0 on success; 1 when --help was
// asked for and answered on standard output with the usage and `about`
// (the example then ends with status 0); -1 with a usage line on standard
// error for anything else, an option-looking file name among them.
static inline int example_parse(int argc, char **argv, ExampleOptions *options, const char *usage,
                                const char *about, const char *flag = nullptr, bool *flag_set = nullptr) {
    *options = ExampleOptions{0, nullptr, nullptr};
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: %s %s [--scale k]\n%s", argv[0], usage, about);
            return 1;
        }
    if (window_take_scale_option(&argc, argv) != 0) return -1;
    for (int i = 1; i < argc; i++) {
        if (flag != nullptr && std::strcmp(argv[i], flag) == 0) {
            *flag_set = true;
        } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            if (parse_long(argv[++i], 1, EXAMPLE_MAX_FRAMES, &options->frames) != 0) {
                std::fprintf(stderr, "EXAMPLE: --frames wants a count from 1 to %ld, not '%s'\n",
                             EXAMPLE_MAX_FRAMES, argv[i]);
                return -1;
            }
        } else if (std::strcmp(argv[i], "--shot") == 0 && i + 1 < argc && !arg_is_option(argv[i + 1])) {
            options->shot_path = argv[++i];
        } else if (!arg_is_option(argv[i]) && options->input_path == nullptr) {
            options->input_path = argv[i];
        } else {
            example_usage_error(argv[0], usage);
            return -1;
        }
    }
    if (options->shot_path != nullptr && capture_requested()) {
        std::fprintf(stderr, "EXAMPLE: --shot is ignored while capturing (KEVO_CAPTURE): the capture's frames "
                             "are the pictures\n");
        options->shot_path = nullptr;
    }
    return 0;
}

// example_parse for an example that takes no plain argument: one given is
// refused like any other argument it cannot take.
static inline int example_parse_options(int argc, char **argv, ExampleOptions *options, const char *usage,
                                        const char *about) {
    const int parsed = example_parse(argc, argv, options, usage, about);
    if (parsed != 0 || options->input_path == nullptr) return parsed;
    example_usage_error(argv[0], usage);
    return -1;
}

// Opens the window (exits with status 1 when SDL cannot) with `title`, the
// example's name. video_init keeps the handlers example_begin installed, so
// the four exit signals still end the loop cleanly instead of exiting from
// fb_present.
static inline void example_start(const char *title) {
    video_init();
    video_set_title(title);
}

// Drains SDL's events: window close and Escape ask to quit; any other key
// press is handed to `on_key` (may be null).
static inline void example_poll(void (*on_key)(SDLKey key)) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (window_handle_event(&event)) continue;  // F, Alt-Enter: fullscreen
        if (event.type == SDL_QUIT) example_quit_requested = 1;
        if (event.type == SDL_KEYDOWN) {
            if (event.key.keysym.sym == SDLK_ESCAPE)
                example_quit_requested = 1;
            else if (on_key != nullptr)
                on_key(event.key.keysym.sym);
        }
    }
}

// Ends a frame: present, advance frame_counter. Returns true while the loop
// should go on; after the last of options->frames it writes the shot.
// `drawn` counts the frames drawn so far including this one.
static inline bool example_end_frame(const ExampleOptions *options, long drawn) {
    fb_present();
    frame_counter += 1;
    if (options->frames > 0 && drawn >= options->frames) {
        if (options->shot_path != nullptr && fb_save_png(options->shot_path) != 0) example_shot_failed = true;
        return false;
    }
    return example_quit_requested == 0;
}

#endif
