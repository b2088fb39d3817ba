// The window's size and fullscreen: the framebuffer stays 400 x 240, and
// the window shows it k times larger (each pixel a hard-edged k x k
// block). Full screen covers the screen at the desktop's own size (the
// display's mode never changes) and shows the picture centred at the
// largest whole scale that fits the screen, black around it; k is the
// window's. With k = 1 and no change asked for, nothing here runs and the
// present is the plain one.
//
// Programs take "--scale k" with window_take_scale_option before their own
// options, and hand their SDL events to window_handle_event, which toggles
// fullscreen on F or Alt-Enter. video_init makes the window the chosen
// size (window_apply); fb_show draws through window_show_scaled when k > 1
// or in full screen.
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
    int desktop_width;         // the screen's size before any mode was set;
    int desktop_height;        // 0 when the video driver does not say
};
extern WindowState window_state;

// The window's surface: 400 x 240 (k times that, or the desktop's size in
// full screen), 16 bits a pixel natively, 8 with the engine's palette in
// the browser. Made by video_init, made again by the calls below; null
// before.
extern SDL_Surface *screen_surface;

// Finds "--scale k" (or "--scale=k") among the arguments, remembers k and
// removes it from argv (argc shrinks). 0 when absent or good; -1 after one
// "WINDOW: ..." line on standard error when k is not 1 .. 8.
int window_take_scale_option(int *argc, char **argv);

// Sets the window's scale. Before video_init it is remembered; after, the
// mode is set again (in full screen the picture keeps the scale that fits
// the screen; k applies once back in a window). 0, or -1 when k is out of
// range or SDL cannot set the mode (the window then stays as it was).
int window_set_scale(int k);

// Switches between the window (at the current scale) and full screen. 0,
// or -1 when SDL cannot set the mode (nothing changes then).
int window_toggle_fullscreen(void);

// F and Alt-Enter toggle fullscreen: returns 1 when `event` was one of
// them (the program should then ignore it), 0 otherwise.
int window_handle_event(const SDL_Event *event);

// Called by video_init after SDL_Init and before the first mode is set
// (SDL reports the desktop's size only until then): remembers the size
// full screen is made at.
void window_note_desktop(void);

// Called at the end of video_init: makes the window as chosen before.
void window_apply(void);

// Called by fb_show: when the scale is above 1 or the picture is not at
// the surface's corner (full screen), draws the framebuffer k x k into the
// window surface through `lookup` (the window pixel of each palette index,
// made for the surface as it is now) and flips it, and returns true;
// otherwise returns false and the plain present goes on.
bool window_show_scaled(const ScreenLookup *lookup);

#endif
