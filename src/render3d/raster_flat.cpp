// Flat-colour triangles: the span filler that writes one colour against the
// depth buffer, over the x and depth tables of the shared edge walk.
#include "gfx2d/framebuffer.h"  // fb_pixels
#include "render3d/raster.h"
#include "render3d/raster_internal.h"

int fill_spans_flat(int16_t ymin16, int16_t ymax16, const RowEdges *e, uint8_t color) {
    int32_t ymin = ymin16, ymax = ymax16;
    raster_clip_rows(&ymin, &ymax);
    int n = 0;
    for (int32_t y = ymin; y < ymax; y++) {
        int32_t xs = fixed_int(e->left_x[y]), xe = fixed_int(e->right_x[y]);
        Fixed z = e->left_depth[y];
        int32_t w = xe - xs;
        Fixed dz = w != 0 ? raster_div(wrap_sub(e->right_depth[y], e->left_depth[y]), w) : 0;
        if (xs > RASTER_LAST_COLUMN || xe < 0) continue;
        if (xs < 0) {
            z = wrap_add(z, wrap_mul(-xs, dz));
            xs = 0;
        }
        if (xe > RASTER_LAST_COLUMN) xe = RASTER_LAST_COLUMN;
        uint8_t *pixel = fb_pixels + y * RASTER_WIDTH_PX;
        uint16_t *depth = depth_buffer + y * RASTER_WIDTH_PX;
        for (int32_t x = xs; x < xe; x++) {
            // Signed 16-bit depth against the unsigned entry: a negative or
            // wrapped depth always passes and stores its 16-bit pattern.
            int16_t c = static_cast<int16_t>(fixed_int(z));
            if (c < depth[x]) {
                pixel[x] = color;
                depth[x] = static_cast<uint16_t>(c);
                n++;
            }
            z = wrap_add(z, dz);
        }
    }
    return n;
}

void draw_triangle_flat(Triangle *t) {
    RowEdges edges;
    int32_t ymin, ymax;
    if (!raster_walk_edges(t, false, &edges, &ymin, &ymax)) return;
    t->pixels = fill_spans_flat(static_cast<int16_t>(ymin), static_cast<int16_t>(ymax), &edges, t->color);
}
