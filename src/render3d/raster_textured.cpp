// Textured triangles: the span filler that samples the texture, over the
// tables of the shared edge walk with texel coordinates, and the choice
// between the textured and the flat path for a solid draw.
#include "gfx2d/framebuffer.h"  // fb_pixels
#include "render3d/raster.h"
#include "render3d/raster_internal.h"

static inline bool texture_usable(const Texture *texture) {
    return texture != nullptr && texture->pixels != nullptr && texture->width > 0 &&
           texture->height > 0;
}

static inline int32_t clamp_texel(int32_t value, int32_t size) {
    if (value < 0) return 0;
    if (value >= size) return size - 1;
    return value;
}

int fill_spans_textured(const Triangle *t, int16_t ymin16, int16_t ymax16, const RowEdges *e) {
    const Texture *texture = t->texture;
    if (!texture_usable(texture)) return 0;
    const int32_t width = texture->width, height = texture->height;
    const uint8_t *texels = texture->pixels;
    int32_t ymin = ymin16, ymax = ymax16;
    raster_clip_rows(&ymin, &ymax);
    int n = 0;
    for (int32_t y = ymin; y < ymax; y++) {
        int32_t xs = fixed_int(e->left_x[y]), xe = fixed_int(e->right_x[y]);
        Fixed z = e->left_depth[y], u = e->left_u[y], v = e->left_v[y];
        int32_t w = xe - xs;
        Fixed dz = 0, du = 0, dv = 0;
        if (w != 0) {
            dz = raster_div(wrap_sub(e->right_depth[y], e->left_depth[y]), w);
            du = raster_div(wrap_sub(e->right_u[y], e->left_u[y]), w);
            dv = raster_div(wrap_sub(e->right_v[y], e->left_v[y]), w);
        }
        if (xs > RASTER_LAST_COLUMN || xe < 0) continue;
        if (xs < 0) {
            z = wrap_add(z, wrap_mul(-xs, dz));
            u = wrap_add(u, wrap_mul(-xs, du));
            v = wrap_add(v, wrap_mul(-xs, dv));
            xs = 0;
        }
        if (xe > RASTER_LAST_COLUMN) xe = RASTER_LAST_COLUMN;
        uint8_t *pixel = fb_pixels + y * RASTER_WIDTH_PX;
        uint16_t *depth = depth_buffer + y * RASTER_WIDTH_PX;
        for (int32_t x = xs; x < xe; x++) {
            // The depth test of the flat fill, and the one rule of this
            // fill's own: the depth must be at least 1, so a pixel at or
            // behind the eye, or whose depth wrapped negative in 16 bits,
            // is never sampled (the flat fill draws those).
            int16_t c = static_cast<int16_t>(fixed_int(z));
            if (c < depth[x] && c > 0) {
                // The row offset is formed in 32 bits from a texel row kept
                // inside the texture: the same address as a 16-bit offset
                // wherever that one is defined (corners inside a texture of
                // at most 32768 texels), and never outside the pixels.
                int32_t row = clamp_texel(fixed_int(v), height);
                int32_t column = clamp_texel(fixed_int(u), width);
                pixel[x] = texels[static_cast<int64_t>(row) * width + column];
                depth[x] = static_cast<uint16_t>(c);
                n++;
            }
            z = wrap_add(z, dz);
            u = wrap_add(u, du);
            v = wrap_add(v, dv);
        }
    }
    return n;
}

static inline bool has_all_texcoords(const Triangle *t) {
    return t->t[0] != nullptr && t->t[1] != nullptr && t->t[2] != nullptr;
}

void draw_triangle_textured(Triangle *t) {
    if (!texture_usable(t->texture) || !has_all_texcoords(t)) {
        draw_triangle_flat(t);
        return;
    }
    RowEdges edges;
    int32_t ymin, ymax;
    if (!raster_walk_edges(t, true, &edges, &ymin, &ymax)) return;
    t->pixels = fill_spans_textured(t, static_cast<int16_t>(ymin), static_cast<int16_t>(ymax), &edges);
}

void draw_triangle_solid(Triangle *t) {
    if (t->pixels >= 0 && texture_usable(t->texture) && has_all_texcoords(t))
        draw_triangle_textured(t);
    else
        draw_triangle_flat(t);
}
