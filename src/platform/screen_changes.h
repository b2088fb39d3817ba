// Which parts of the framebuffer changed since the frame last sent to the
// display. When SDL converts the window surface for the display itself
// (the window's 16-bit pixels on a 24-bit X server), that conversion costs
// more than everything else in a frame; sending only the changed parts
// leaves the display showing exactly the same pixels for a fraction of it.
#ifndef PLATFORM_SCREEN_CHANGES_H
#define PLATFORM_SCREEN_CHANGES_H

#include <SDL/SDL.h>
#include <cstdint>

// Changes are collected in square tiles of this many pixels.
constexpr int SCREEN_CHANGE_TILE_PX = 16;
// Widest framebuffer the collection handles (the framebuffer storage's).
constexpr int SCREEN_CHANGE_MAX_WIDTH_PX = 800;

// Compares the `width` x `height` indices at `pixels` with `shown` (the
// frame sent last, same size and layout) tile by tile and writes one
// rectangle per horizontal run of changed tiles in a band of tile rows
// (cut to the frame's size) into `rects`; copies the changed rows into
// `shown`. Returns the number of rectangles (0 when nothing changed), or -1
// when `width` is over SCREEN_CHANGE_MAX_WIDTH_PX or more than `max_rects`
// would be needed (then `shown` is left as it was).
int screen_changes_collect(const uint8_t *pixels, uint8_t *shown, int width, int height, SDL_Rect *rects,
                           int max_rects);

#endif
