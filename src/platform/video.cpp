// Video start-up and the present with its hooks, pacing and frame-rate
// line, the same in both builds; their windows differ in
// video_window_internal.h.
#include "platform/video.h"

#include <cstdio>
#include <cstdlib>

#include "gfx2d/framebuffer.h"
#include "platform/engine_clock.h"
#include "platform/failure_line.h"
#include "platform/frame_hooks.h"
#include "platform/platform_start.h"
#include "platform/video_window_internal.h"

uint32_t last_present_ticks = 0;

constexpr int FRAME_BITS_PER_PIXEL = 32;
constexpr Uint32 FRAME_RED_MASK = 0xFF000000;
constexpr Uint32 FRAME_GREEN_MASK = 0x00FF0000;
constexpr Uint32 FRAME_BLUE_MASK = 0x0000FF00;

[[noreturn]] static void video_fail(const char *what) { failure_exit("VIDEO", "%s failed: %s", what, SDL_GetError()); }

void video_init(void) {
    // Before SDL_Init: SDL leaves a signal that has a handler alone.
    ExitSignalHandlers handlers;
    exit_signals_claim(&handlers);
    // Opening the window is platform start-up: a capture asked for starts
    // here at the latest (capture.h), on SDL's dummy drivers.
    platform_start();
    if (SDL_Init(SDL_INIT_EVERYTHING) < 0) video_fail("SDL_Init");
    // Should SDL have put its own in place anyway, ours come back.
    exit_signals_restore(&handlers);
    // SDL 1.2's timer subsystem runs a thread that wakes every millisecond
    // for timer callbacks, which nothing here uses: the tick counter and
    // the delay of the pacing work without it. Stopped, it costs nothing.
    SDL_QuitSubSystem(SDL_INIT_TIMER);
    atexit(SDL_Quit);
    window_note_desktop();  // while SDL still reports the desktop, not a mode
    screen_surface = video_window_open();
    if (!screen_surface) video_fail("setting the 400x240 video mode");
    frame_surface = SDL_CreateRGBSurface(0, SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, FRAME_BITS_PER_PIXEL,
                                         FRAME_RED_MASK, FRAME_GREEN_MASK, FRAME_BLUE_MASK, 0);
    if (!frame_surface) video_fail("creating the 32-bit frame surface");
    fb_attach_storage();
    video_window_ready();
}

void video_set_title(const char *title) { SDL_WM_SetCaption(title, title); }

void fb_show(void) { video_window_show(); }

void fb_present(void) {
    if (last_present_ticks == 0) last_present_ticks = engine_ticks();
    fb_show();
    frame_hooks_run();
    video_window_pace(last_present_ticks);
    video_window_rate(1000.0 / static_cast<double>(engine_ticks() - last_present_ticks));
    last_present_ticks = engine_ticks();
}
