// Video start-up through SDL 1.2 and the per-frame present: the window's
// pixels from the palette, the update of the display, pacing to 17 ms and
// the frame-rate line. Includes the exit signals (exit_signals.h), through
// which programs end.
#ifndef PLATFORM_VIDEO_H
#define PLATFORM_VIDEO_H

#include <SDL/SDL.h>
#include <cstdint>

#include "platform/exit_signals.h"

// One frame period: about 58.8 frames per second at most.
constexpr uint32_t FRAME_PERIOD_MS = 17;

extern SDL_Surface *screen_surface;  // the 400 x 240, 16-bit window surface (8-bit in the browser)
extern SDL_Surface *frame_surface;   // 400 x 240, 32-bit R 0xFF000000, G 0x00FF0000, B 0x0000FF00
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
// status 1. Opening the window is platform start-up: a capture asked for
// starts here at the latest (capture_start), and then SDL runs on its dummy
// video and audio drivers.
void video_init(void);

// Names the window (its title and its icon's name) after the program.
void video_set_title(const char *title);

// Shows the framebuffer (fb_show), waits out the rest of the 17 ms frame
// period and prints "FPS: %2.1f\r" on standard error. When an exit signal
// has arrived, it then exits the process with status 0.
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

// Stores Palette[index] for every framebuffer pixel into frame_surface.
void fb_convert(void);

// The pacing decision. `elapsed_ms` is the time since the mark at the
// pacing step, `elapsed_again_ms` a second reading taken just before the
// wait. Returns the delay in milliseconds: 17 - elapsed_again_ms when
// elapsed_ms is 0..17 and the second reading is still below 17, else 0. A
// frame that ends within the mark's own millisecond waits like any other
// fast frame, so no paced program shows more than one frame per 17 ms.
uint32_t present_wait_ms(uint32_t elapsed_ms, uint32_t elapsed_again_ms);

#endif
