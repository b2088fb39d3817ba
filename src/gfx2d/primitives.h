// Pixels, lines and dotted circles: the smallest drawing operations. They
// write palette indices straight into the framebuffer and clip to it: a
// pixel outside fb_width x fb_height is dropped, and nothing is ever written
// outside fb_pixels[0 .. fb_width * fb_height - 1].
#ifndef GFX2D_PRIMITIVES_H
#define GFX2D_PRIMITIVES_H

#include <cstdint>

// Sets pixel (x, y) to draw_color.
void put_pixel(int32_t x, int32_t y);

// Sets pixel (x, y) to `color`.
void put_pixel_color(int32_t x, int32_t y, uint8_t color);

// Bresenham line from (x0, y0) to (x1, y1) in `color`, both end points
// included: max(|dx|, |dy|) + 1 pixels. A line and its reverse need not set
// the same pixels. Clipped lines draw exactly the on-screen pixels of the
// unclipped walk, at a cost bounded by the visible part.
void draw_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t color);

// `count` separate points in draw_color at angles i * (6.28 / count), the
// first at (cx + radius, cy), running clockwise on screen. Coordinates are
// truncated towards zero, so some points land a pixel inside the radius.
void draw_circle(int32_t cx, int32_t cy, int32_t radius, int32_t count);

#endif
