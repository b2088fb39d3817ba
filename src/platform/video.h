// Video start-up through SDL 1.2 and the per-frame present: the window's
// pixels from the palette, the update of the display, the hooks run after
// each frame, pacing to 17 ms and the frame-rate line. What differs between
// the native window and the browser's canvas is in one file each
// (video_window.cpp, video_window_web.cpp). Includes the exit signals
// (exit_signals.h), whose stop flag the programs' frame loops read.
#ifndef PLATFORM_VIDEO_H
#define PLATFORM_VIDEO_H

#include <SDL/SDL.h>
#include <cstdint>

#include "platform/engine_clock.h"  // FRAME_PERIOD_MS
#include "platform/exit_signals.h"
#include "platform/frame_pacing.h"   // present_wait_ms
#include "platform/frame_surface.h"  // frame_surface, fb_convert
#include "platform/window_scale.h"   // screen_surface

// SDL tick count at the end of the previous present; 0 until the first.
extern uint32_t last_present_ticks;

// SDL_Init (all subsystems), SDL_Quit registered at exit, the window, the
// 32-bit surface, the framebuffer globals and the four signal handlers
// (SIGINT, SIGQUIT, SIGHUP, SIGTERM): handle_exit_signal for each of them
// still at its default, while one the program installed first thing in
// main is kept and one it was started with ignored (nohup) stays ignored.
// Both are in place before SDL_Init, so SDL installs none of its own. When
// SDL, the video mode or the surface cannot be had it prints one
// "VIDEO: ..." line with SDL's reason on standard error and exits with
// status 1. Opening the window is platform start-up (platform_start): a
// capture asked for starts here at the latest, and then SDL runs on its
// dummy video and audio drivers.
void video_init(void);

// Names the window (its title and its icon's name) after the program.
void video_set_title(const char *title);

// Shows the framebuffer (fb_show), runs the frame hooks (frame_hooks.h),
// waits out the rest of the 17 ms frame period and prints "FPS: %2.1f\r"
// on standard error (the page's rate line in the browser). It never ends
// the process: the frame loop that calls it asks exit_requested() and ends
// the program itself.
void fb_present(void);

// fb_present without the pacing and the rate line, for tools and
// benchmarks: puts into the window exactly the pixels that converting the
// framebuffer into frame_surface and SDL's blit of that would, and sends
// the window to the display. When the window's format allows (2 or 4 bytes
// a pixel, no palette) it writes them straight from the indices through a
// table of the window pixel of each palette index, made by SDL's own blit
// whenever the window surface is made anew, and frame_surface is left
// alone; otherwise it calls fb_convert and blits. A scaled window is drawn
// through the same table (window_show_scaled). It writes and sends the
// whole window; but when SDL converts the window's pixels for the display
// on the way, only the tiles that changed since the last frame sent (the
// whole window every 30 frames besides).
void fb_show(void);

#endif
