// Single pixels, dropped when outside the framebuffer.
#include "gfx2d/primitives.h"

#include "gfx2d/framebuffer.h"

void put_pixel_color(int32_t x, int32_t y, uint8_t color) {
    // One unsigned compare per axis also rejects negative coordinates.
    if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(fb_width) ||
        static_cast<uint32_t>(y) >= static_cast<uint32_t>(fb_height))
        return;
    fb_pixels[x + y * fb_width] = color;
}

void put_pixel(int32_t x, int32_t y) { put_pixel_color(x, y, draw_color); }
