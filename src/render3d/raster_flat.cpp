// Flat-colour triangles: the edge walker that builds the x and depth tables
// and the span filler that writes one colour against the depth buffer.
#include "gfx2d/framebuffer.h"  // fb_pixels
#include "render3d/raster.h"
#include "render3d/raster_internal.h"

// Start values of a row before any edge crosses it: left beyond the right
// border, right before the left one, so the first crossing sets both.
static const Fixed FLAT_LEFT_X_START = 401 * FIXED_ONE;
static const Fixed FLAT_RIGHT_X_START = -FIXED_ONE;
static const Fixed LEFT_DEPTH_START = 32767 * FIXED_ONE;
static const Fixed RIGHT_DEPTH_START = 0;

// One end of an edge: 16.16 column, row and depth.
struct FlatEnd {
    Fixed x;
    int32_t y;
    Fixed z;
};

static inline FlatEnd flat_end(const Vertex *p) {
    return FlatEnd{wrap_shl(p->sx, FIXED_SHIFT), p->sy, p->vz};
}

// Records the edge from corner a to corner b in the rows it crosses.
static void walk_edge_flat(const Vertex *pa, const Vertex *pb, RowEdges *e) {
    FlatEnd a = flat_end(pa), b = flat_end(pb);
    if (b.y < a.y) {
        FlatEnd swap = a;
        a = b;
        b = swap;
    }
    int32_t dy = b.y - a.y;  // corners in range: 0 .. 65535
    Fixed dx = wrap_sub(b.x, a.x), dz = wrap_sub(b.z, a.z);
    if (dy != 0) {
        dx = raster_div(dx, dy);
        dz = raster_div(dz, dy);
    }
    if (b.y > RASTER_LAST_ROW) b.y = RASTER_LAST_ROW;
    if (a.y < 0) {
        a.x = wrap_add(a.x, wrap_mul(dx, -a.y));
        a.z = wrap_add(a.z, wrap_mul(dz, -a.y));
        a.y = 0;
    }
    for (int32_t y = a.y; y < b.y; y++) {
        if (a.x < e->left_x[y]) {
            e->left_x[y] = a.x;
            e->left_depth[y] = a.z;
        }
        if (a.x > e->right_x[y]) {
            e->right_x[y] = a.x;
            e->right_depth[y] = a.z;
        }
        a.x = wrap_add(a.x, dx);
        a.z = wrap_add(a.z, dz);
    }
}

int fill_spans_flat(int16_t ymin16, int16_t ymax16, const RowEdges *e, uint8_t colour) {
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
            int16_t c = (int16_t)fixed_int(z);
            if (c < depth[x]) {
                pixel[x] = colour;
                depth[x] = (uint16_t)c;
                n++;
            }
            z = wrap_add(z, dz);
        }
    }
    return n;
}

void draw_triangle_flat(Triangle *t) {
    if (!raster_corners_in_range(t)) return;
    int32_t ymin, ymax;
    raster_row_range(t, &ymin, &ymax);
    if (ymin == ymax) return;
    RowEdges edges;
    for (int32_t y = ymin; y < ymax; y++) {
        edges.left_x[y] = FLAT_LEFT_X_START;
        edges.right_x[y] = FLAT_RIGHT_X_START;
        edges.left_depth[y] = LEFT_DEPTH_START;
        edges.right_depth[y] = RIGHT_DEPTH_START;
    }
    for (int k = 0; k < 3; k++) walk_edge_flat(t->v[k], t->v[(k + 1) % 3], &edges);
    t->pixels = fill_spans_flat((int16_t)ymin, (int16_t)ymax, &edges, t->color);
}
