// Showing the indexed framebuffer straight in the window's own pixel
// format. SDL's blit from the 32-bit frame surface to the 16-bit window
// converts every pixel on its own, so the window pixel of a palette index
// never depends on where it is: a table of 256 window pixels, made by SDL's
// own blit of the 256 palette colours, lets one lookup per pixel write
// exactly what the conversion and the blit together would.
#ifndef PLATFORM_SCREEN_LOOKUP_H
#define PLATFORM_SCREEN_LOOKUP_H

#include <SDL/SDL.h>
#include <cstdint>

struct ScreenLookup {
    int bytes_per_pixel;  // 2 or 4 when the table is usable; 0 otherwise
    uint16_t pixels16[256];
    uint32_t pixels32[256];
};

// Fills `lookup` with the pixel SDL's blit writes into a surface of
// `screen`'s format for each Palette colour in a surface of `frame`'s
// format (the two surfaces themselves are not touched). 0 on success; -1
// with bytes_per_pixel 0 when the window's pixels are neither 2 nor 4
// bytes, it has a palette, or SDL cannot make or blit the small surfaces:
// the caller then keeps to SDL's blit.
int screen_lookup_build(ScreenLookup *lookup, const SDL_Surface *frame, const SDL_Surface *screen);

// The one writer of window pixels: writes the part `area` of the picture of
// palette indices at `pixels` (row-major, `width` bytes per row) into
// `screen` through the table, each index as a `scale` x `scale` block, the
// picture's top-left corner at (left, top) of the surface: index (x, y)
// covers columns left + x * scale .. left + x * scale + scale - 1 and the
// rows likewise. Locks the surface when SDL requires it. 0, or -1 with
// nothing written when the lock fails. The lookup must be usable, `area`
// inside the picture, `scale` at least 1, and the scaled area inside the
// surface.
int screen_lookup_write(const ScreenLookup *lookup, const uint8_t *pixels, int width, const SDL_Rect *area,
                        int scale, int left, int top, SDL_Surface *screen);

// The `width` x `height` picture at `pixels` written 1:1 into the top-left
// corner of `screen` (screen_lookup_write at scale 1), the surface at least
// that large.
void screen_lookup_show(const ScreenLookup *lookup, const uint8_t *pixels, int width, int height,
                        SDL_Surface *screen);

// The same for the part `area` of the picture only (inside the picture and
// the surface), written at the same place in `screen`.
void screen_lookup_show_area(const ScreenLookup *lookup, const uint8_t *pixels, int width, const SDL_Rect *area,
                             SDL_Surface *screen);

#endif
