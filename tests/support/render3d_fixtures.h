// Test helpers for the 3D renderer: triangles placed directly in screen
// space, frames prepared headless, and pixel counts.
#ifndef TESTS_SUPPORT_RENDER3D_FIXTURES_H
#define TESTS_SUPPORT_RENDER3D_FIXTURES_H

#include <cstdint>

#include "render3d/render3d.h"

// A triangle with its own three vertices and texture coordinates.
struct ScreenTriangle {
    Vertex v[3];
    TexCoord t[3];
    Triangle tri;
};

// Corners at screen (x, y) with view depth `depth` each; in `color`,
// no texture, pixels 2147483647, triangle depth = the least corner depth.
void screen_triangle(ScreenTriangle *st, const int32_t xy[6], const Fixed depth[3], uint8_t color);

// As above with the same depth at every corner.
void screen_triangle_at(ScreenTriangle *st, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                        int32_t x2, int32_t y2, Fixed depth, uint8_t color);

// Gives the triangle texture coordinates (u, v) per corner and `texture`.
void screen_triangle_texture(ScreenTriangle *st, Texture *texture, const int32_t uv[6]);

// Attaches the framebuffer, clears it (index 0) and the depth buffer.
void render3d_fresh_frame(void);

// Framebuffer pixels (400 x 240) equal to `color`.
int count_pixels(uint8_t color);

#endif
