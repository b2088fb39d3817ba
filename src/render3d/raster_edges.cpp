// The edge walk both triangle fills share: the row range of a triangle and
// the left and right crossings of its three edges in each row, with depth,
// and texel coordinates for a textured draw.
#include "render3d/raster.h"
#include "render3d/raster_internal.h"

// Start values of a row's x tables: beyond any crossing, so that the
// row's first crossing replaces both. Any left start at column 400 or
// beyond and any right start left of column 0 (401.0 and -1.0, say) draw
// the same pixels: a row keeps its left start only when no crossing lies
// left of it, its right start only when none lies right of it, and either
// way the row's span begins right of column 399 or ends left of column 0,
// so the fill skips it; otherwise both ends are the same crossings.
static const Fixed LEFT_X_START = INT32_MAX;
static const Fixed RIGHT_X_START = INT32_MIN;
// The other tables' start values are never drawn from (a row keeps them
// only together with its x start, see above); they give the fill defined
// values to step over.
static const Fixed LEFT_DEPTH_START = 32767 * FIXED_ONE;
static const Fixed RIGHT_DEPTH_START = 0;
static const Fixed LEFT_TEXEL_START = 32767 * FIXED_ONE;
static const Fixed RIGHT_TEXEL_START = -FIXED_ONE;

// One end of an edge: 16.16 column, row, depth, and for a textured draw
// the 16.16 texel column and row (0 for a flat one).
struct EdgeEnd {
    Fixed x;
    int32_t y;
    Fixed z, u, v;
};

// True when every corner's sx and sy can be shifted into 16.16 (the range
// the fills represent); other triangles are not drawn.
static bool corners_in_range(const Triangle *t) {
    for (int k = 0; k < 3; k++) {
        const Vertex *p = t->v[k];
        if (p->sx < RASTER_COORD_MIN || p->sx > RASTER_COORD_MAX) return false;
        if (p->sy < RASTER_COORD_MIN || p->sy > RASTER_COORD_MAX) return false;
    }
    return true;
}

// The rows a triangle may cover: ymin = max(least sy, 0) and
// ymax = min(greatest sy, 239); rows ymin .. ymax - 1 are drawn (the bottom
// corner's row never is). With corners in range both fit 16 bits.
static void row_range(const Triangle *t, int32_t *ymin, int32_t *ymax) {
    int32_t lo = RASTER_HEIGHT_PX + 1, hi = -1;
    for (int k = 0; k < 3; k++) {
        int32_t sy = t->v[k]->sy;
        if (sy < lo) lo = sy;
        if (sy > hi) hi = sy;
    }
    *ymin = lo < 0 ? 0 : lo;
    *ymax = hi > RASTER_LAST_ROW ? RASTER_LAST_ROW : hi;
}

// Corner k of `t` as an edge end.
template <bool Texels>
static inline EdgeEnd edge_end(const Triangle *t, int k) {
    const Vertex *p = t->v[k];
    if (!Texels) return EdgeEnd{wrap_shl(p->sx, FIXED_SHIFT), p->sy, p->vz, 0, 0};
    return EdgeEnd{wrap_shl(p->sx, FIXED_SHIFT), p->sy, p->vz, wrap_shl(t->t[k]->u, FIXED_SHIFT),
                   wrap_shl(t->t[k]->v, FIXED_SHIFT)};
}

// Records the edge from end a to end b in the rows it crosses: x and
// depth, and u and v as well when `Texels`.
template <bool Texels>
static inline void walk_edge(EdgeEnd a, EdgeEnd b, RowEdges *e) {
    if (b.y < a.y) {
        const EdgeEnd swap = a;
        a = b;
        b = swap;
    }
    int32_t dy = b.y - a.y;  // corners in range: 0 .. 65535
    // With dy = 0 the steps stay the plain differences; the edge then
    // covers no row and they are never used.
    Fixed dx = wrap_sub(b.x, a.x), dz = wrap_sub(b.z, a.z);
    Fixed du = wrap_sub(b.u, a.u), dv = wrap_sub(b.v, a.v);
    if (dy != 0) {
        dx = raster_div(dx, dy);
        dz = raster_div(dz, dy);
        if (Texels) {
            du = raster_div(du, dy);
            dv = raster_div(dv, dy);
        }
    }
    if (b.y > RASTER_LAST_ROW) b.y = RASTER_LAST_ROW;
    if (a.y < 0) {
        a.x = wrap_add(a.x, wrap_mul(dx, -a.y));
        a.z = wrap_add(a.z, wrap_mul(dz, -a.y));
        if (Texels) {
            a.u = wrap_add(a.u, wrap_mul(du, -a.y));
            a.v = wrap_add(a.v, wrap_mul(dv, -a.y));
        }
        a.y = 0;
    }
    for (int32_t y = a.y; y < b.y; y++) {
        if (a.x < e->left_x[y]) {
            e->left_x[y] = a.x;
            e->left_depth[y] = a.z;
            if (Texels) {
                e->left_u[y] = a.u;
                e->left_v[y] = a.v;
            }
        }
        if (a.x > e->right_x[y]) {
            e->right_x[y] = a.x;
            e->right_depth[y] = a.z;
            if (Texels) {
                e->right_u[y] = a.u;
                e->right_v[y] = a.v;
            }
        }
        a.x = wrap_add(a.x, dx);
        a.z = wrap_add(a.z, dz);
        if (Texels) {
            a.u = wrap_add(a.u, du);
            a.v = wrap_add(a.v, dv);
        }
    }
}

template <bool Texels>
static void walk_edges(const Triangle *t, int32_t ymin, int32_t ymax, RowEdges *e) {
    for (int32_t y = ymin; y < ymax; y++) {
        e->left_x[y] = LEFT_X_START;
        e->right_x[y] = RIGHT_X_START;
        e->left_depth[y] = LEFT_DEPTH_START;
        e->right_depth[y] = RIGHT_DEPTH_START;
        if (Texels) {
            e->left_u[y] = LEFT_TEXEL_START;
            e->right_u[y] = RIGHT_TEXEL_START;
            e->left_v[y] = LEFT_TEXEL_START;
            e->right_v[y] = RIGHT_TEXEL_START;
        }
    }
    // Edge k runs from corner k to corner k + 1 (mod 3).
    walk_edge<Texels>(edge_end<Texels>(t, 0), edge_end<Texels>(t, 1), e);
    walk_edge<Texels>(edge_end<Texels>(t, 1), edge_end<Texels>(t, 2), e);
    walk_edge<Texels>(edge_end<Texels>(t, 2), edge_end<Texels>(t, 0), e);
}

bool raster_walk_edges(const Triangle *t, bool texels, RowEdges *edges, int32_t *ymin, int32_t *ymax) {
    if (!corners_in_range(t)) return false;
    int32_t first = 0, end = 0;
    row_range(t, &first, &end);
    *ymin = first;
    *ymax = end;
    if (first == end) return false;
    if (texels)
        walk_edges<true>(t, first, end, edges);
    else
        walk_edges<false>(t, first, end, edges);
    return true;
}
