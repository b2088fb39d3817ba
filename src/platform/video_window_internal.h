// What differs between the two builds' windows: the native window (a 16-bit
// SDL surface written through a table of window pixels, video_window.cpp)
// and the browser's canvas (an 8-bit surface with the engine's palette,
// video_window_web.cpp). video.cpp does the rest, the same in both.
#ifndef PLATFORM_VIDEO_WINDOW_INTERNAL_H
#define PLATFORM_VIDEO_WINDOW_INTERNAL_H

#include <SDL/SDL.h>
#include <cstdint>

// Sets the 400 x 240 video mode: the window surface, or null (SDL_GetError
// says why).
SDL_Surface *video_window_open(void);

// Once the window surface and frame_surface exist: ready to show frames
// (and, natively, the window made as its scale and full screen ask).
void video_window_ready(void);

// fb_show's work: the framebuffer into the window, and the display updated.
void video_window_show(void);

// The wait that keeps frames a frame period apart, after the frame shown
// and its hooks; `last_present_ms` is when the previous present ended.
void video_window_pace(uint32_t last_present_ms);

// The frame-rate line, `frames_per_second` measured over the last frame.
void video_window_rate(double frames_per_second);

#endif
