// The window's size and fullscreen: the framebuffer stays 400 x 240, and
// the window shows it k times larger (each pixel a hard-edged k x k
// block), in a window or full screen. With k = 1 and no change asked for,
// nothing here runs and the present is the plain one.
//
// Programs take "--scale k" with window_take_scale_option before their own
// options, and hand their SDL events to window_handle_event, which toggles
// fullscreen on F or Alt-Enter. video_init makes the window the chosen
// size (window_apply); fb_show draws through window_show_scaled when k > 1.
#ifndef PLATFORM_WINDOW_SCALE_H
#define PLATFORM_WINDOW_SCALE_H

#include <SDL/SDL.h>

#include "platform/screen_lookup.h"

constexpr int WINDOW_MAX_SCALE = 8;

struct WindowState {
    int scale;                 // 1 .. WINDOW_MAX_SCALE; 0 counts as 1
    bool fullscreen;
    bool changed;              // the window was made or switched again; fb_show
                               // clears it once it has adapted to the new one
};
extern WindowState window_state;

// Finds "--scale k" (or "--scale=k") among the arguments, remembers k and
// removes it from argv (argc shrinks). 0 when absent or good; -1 after one
// "WINDOW: ..." line on standard error when k is not 1 .. 8.
int window_take_scale_option(int *argc, char **argv);

// Sets the scale. Before video_init it is remembered; after, the window is
// made again at the new size. 0, or -1 when k is out of range or SDL
// cannot set the mode (the window then stays as it was).
int window_set_scale(int k);

// Switches between window and full screen at the current scale. 0, or -1
// when SDL can do neither.
int window_toggle_fullscreen(void);

// F and Alt-Enter toggle fullscreen: returns 1 when `event` was one of
// them (the program should then ignore it), 0 otherwise.
int window_handle_event(const SDL_Event *event);

// Called at the end of video_init: makes the window as chosen before.
void window_apply(void);

// Called by fb_show: when the scale is above 1, draws the framebuffer k x
// k into the window surface through `lookup` (the window pixel of each
// palette index, made for the surface as it is now) and flips it, and
// returns true; otherwise returns false and the plain present goes on.
bool window_show_scaled(const ScreenLookup *lookup);

#endif
