// Textured triangles: the edge walker that also carries texel coordinates,
// the span filler that samples the texture, and the choice between the
// textured and the flat path for a solid draw.
#include "gfx2d/framebuffer.h"  // fb_pixels
#include "render3d/raster.h"
#include "render3d/raster_internal.h"

// Start values of a row before any edge crosses it.
static const Fixed TEX_LEFT_X_START = INT32_MAX;
static const Fixed TEX_RIGHT_X_START = INT32_MIN;
static const Fixed LEFT_DEPTH_START = 32767 * FIXED_ONE;
static const Fixed RIGHT_DEPTH_START = 0;
static const Fixed LEFT_TEXEL_START = 32767 * FIXED_ONE;
static const Fixed RIGHT_TEXEL_START = -FIXED_ONE;

// One end of an edge: 16.16 column, row, depth and 16.16 texel column and row.
struct TexturedEnd {
    Fixed x;
    int32_t y;
    Fixed z, u, v;
};

static inline TexturedEnd textured_end(const Vertex *p, const TexCoord *t) {
    return TexturedEnd{wrap_shl(p->sx, FIXED_SHIFT), p->sy, p->vz,
                       wrap_shl(t->u, FIXED_SHIFT), wrap_shl(t->v, FIXED_SHIFT)};
}

static void walk_edge_textured(const TexturedEnd *pa, const TexturedEnd *pb, RowEdges *e) {
    TexturedEnd a = *pa, b = *pb;
    if (b.y < a.y) {
        a = *pb;
        b = *pa;
    }
    int32_t dy = b.y - a.y;  // corners in range: 0 .. 65535
    // With dy = 0 the steps stay the plain differences; the edge then
    // covers no row and they are never used.
    Fixed dx = wrap_sub(b.x, a.x), dz = wrap_sub(b.z, a.z);
    Fixed du = wrap_sub(b.u, a.u), dv = wrap_sub(b.v, a.v);
    if (dy != 0) {
        dx = raster_div(dx, dy);
        dz = raster_div(dz, dy);
        du = raster_div(du, dy);
        dv = raster_div(dv, dy);
    }
    if (b.y > RASTER_LAST_ROW) b.y = RASTER_LAST_ROW;
    if (a.y < 0) {
        a.x = wrap_add(a.x, wrap_mul(dx, -a.y));
        a.z = wrap_add(a.z, wrap_mul(dz, -a.y));
        a.u = wrap_add(a.u, wrap_mul(du, -a.y));
        a.v = wrap_add(a.v, wrap_mul(dv, -a.y));
        a.y = 0;
    }
    for (int32_t y = a.y; y < b.y; y++) {
        if (a.x < e->left_x[y]) {
            e->left_x[y] = a.x;
            e->left_depth[y] = a.z;
            e->left_u[y] = a.u;
            e->left_v[y] = a.v;
        }
        if (a.x > e->right_x[y]) {
            e->right_x[y] = a.x;
            e->right_depth[y] = a.z;
            e->right_u[y] = a.u;
            e->right_v[y] = a.v;
        }
        a.x = wrap_add(a.x, dx);
        a.z = wrap_add(a.z, dz);
        a.u = wrap_add(a.u, du);
        a.v = wrap_add(a.v, dv);
    }
}

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
        if (xs < 0) {
            z = wrap_add(z, wrap_mul(-xs, dz));
            u = wrap_add(u, wrap_mul(-xs, du));
            v = wrap_add(v, wrap_mul(-xs, dv));
            xs = 0;
        }
        if (xs > RASTER_LAST_COLUMN || xe < 0) continue;
        if (xe > RASTER_LAST_COLUMN) xe = RASTER_LAST_COLUMN;
        uint8_t *pixel = fb_pixels + y * RASTER_WIDTH_PX;
        uint16_t *depth = depth_buffer + y * RASTER_WIDTH_PX;
        for (int32_t x = xs; x < xe; x++) {
            int16_t c = (int16_t)fixed_int(z);
            if (c < depth[x] && c > 0) {
                // The row offset is formed in 32 bits from a texel row kept
                // inside the texture: the same address as a 16-bit offset
                // wherever that one is defined (corners inside a texture of
                // at most 32768 texels), and never outside the pixels.
                int32_t row = clamp_texel(fixed_int(v), height);
                int32_t column = clamp_texel(fixed_int(u), width);
                pixel[x] = texels[(int64_t)row * width + column];
                depth[x] = (uint16_t)c;
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
    if (!raster_corners_in_range(t)) return;
    int32_t ymin, ymax;
    raster_row_range(t, &ymin, &ymax);
    if (ymin == ymax) return;
    RowEdges edges;
    for (int32_t y = ymin; y < ymax; y++) {
        edges.left_x[y] = TEX_LEFT_X_START;
        edges.right_x[y] = TEX_RIGHT_X_START;
        edges.left_depth[y] = LEFT_DEPTH_START;
        edges.right_depth[y] = RIGHT_DEPTH_START;
        edges.left_u[y] = LEFT_TEXEL_START;
        edges.right_u[y] = RIGHT_TEXEL_START;
        edges.left_v[y] = LEFT_TEXEL_START;
        edges.right_v[y] = RIGHT_TEXEL_START;
    }
    TexturedEnd ends[3];
    for (int k = 0; k < 3; k++) ends[k] = textured_end(t->v[k], t->t[k]);
    for (int k = 0; k < 3; k++) walk_edge_textured(&ends[k], &ends[(k + 1) % 3], &edges);
    t->pixels = fill_spans_textured(t, (int16_t)ymin, (int16_t)ymax, &edges);
}

void draw_triangle_solid(Triangle *t) {
    if (t->pixels >= 0 && texture_usable(t->texture) && has_all_texcoords(t))
        draw_triangle_textured(t);
    else
        draw_triangle_flat(t);
}
