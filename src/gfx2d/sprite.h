// Sprites: rectangular blocks of palette indices with a screen position,
// copied opaquely into the framebuffer. Pixels are borrowed or owned.
#ifndef GFX2D_SPRITE_H
#define GFX2D_SPRITE_H

#include <cstdint>

// A sprite: its pixels and where it stands.
struct Sprite {
    uint8_t *pixels;   // width * height indices, row-major, width bytes per row
    bool owns_pixels;  // true when pixels were allocated by the sprite and die with it
    int32_t x;         // framebuffer column of the top-left pixel
    int32_t y;         // framebuffer row of the top-left pixel
    int32_t width;     // pixels per row
    int32_t height;    // rows
};

// A sprite at (0, 0) over the caller's `pixels` (neither copied nor ever
// freed by the sprite), or null when the record cannot be allocated.
Sprite *sprite_new(int32_t width, int32_t height, uint8_t *pixels);

// A sprite at (0, 0) with its own uninitialized block of width * height
// bytes for the caller to fill, or null when a dimension is negative or an
// allocation fails (nothing leaked).
Sprite *sprite_new_owned(int32_t width, int32_t height);

// A sprite at (0, 0) that takes over `pixels`, a block of width * height
// bytes from engine_malloc (a loaded picture's, for one), and frees it
// with itself. Null when a dimension is negative, `pixels` is null or the
// record cannot be allocated; the block then stays the caller's.
Sprite *sprite_new_taking(int32_t width, int32_t height, uint8_t *pixels);

// Frees the pixels when the sprite owns them, then the record. Null does
// nothing.
void sprite_free(Sprite *sprite);

// Moves the top-left pixel to (x, y). Null does nothing.
void sprite_set_position(Sprite *sprite, int32_t x, int32_t y);

// Copies every pixel, index 0 included (there is no transparent colour),
// to the framebuffer at the sprite's position, clipped exactly to the
// framebuffer. Null sprite or pixels draw nothing.
void sprite_draw(const Sprite *sprite);

#endif
