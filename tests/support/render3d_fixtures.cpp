// Screen-space triangles and fresh frames for the renderer's tests.
#include "support/render3d_fixtures.h"

#include "gfx2d/framebuffer.h"

void screen_triangle(ScreenTriangle *st, const int32_t xy[6], const Fixed depth[3], uint8_t color) {
    *st = ScreenTriangle{};
    Fixed least = INT32_MAX;
    for (int k = 0; k < 3; k++) {
        st->v[k].sx = xy[2 * k];
        st->v[k].sy = xy[2 * k + 1];
        st->v[k].vz = depth[k];
        st->tri.v[k] = &st->v[k];
        if (depth[k] < least) least = depth[k];
    }
    st->tri.pixels = INT32_MAX;
    st->tri.color = color;
    st->tri.depth = least;
}

void screen_triangle_at(ScreenTriangle *st, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                        int32_t x2, int32_t y2, Fixed depth, uint8_t color) {
    const int32_t xy[6] = {x0, y0, x1, y1, x2, y2};
    const Fixed depths[3] = {depth, depth, depth};
    screen_triangle(st, xy, depths, color);
}

void screen_triangle_texture(ScreenTriangle *st, Texture *texture, const int32_t uv[6]) {
    for (int k = 0; k < 3; k++) {
        st->t[k].u = uv[2 * k];
        st->t[k].v = uv[2 * k + 1];
        st->tri.t[k] = &st->t[k];
    }
    st->tri.texture = texture;
}

void render3d_fresh_frame(void) {
    fb_attach_storage();
    fb_clear();
    depth_clear();
}

int count_pixels(uint8_t color) {
    int n = 0;
    for (int i = 0; i < 400 * 240; i++) n += fb_pixels[i] == color;
    return n;
}
