// Helpers the rasterizer's files share: safe 32-bit division, the corner
// range check and the clamped row range of a triangle. Not part of the
// engine's interface.
#ifndef RENDER3D_RASTER_INTERNAL_H
#define RENDER3D_RASTER_INTERNAL_H

#include <cstdint>

#include "render3d/geometry.h"
#include "render3d/raster.h"

// a / b truncated towards zero, as 32-bit division gives it, except that
// INT32_MIN / -1 (which traps in hardware) wraps to INT32_MIN. b != 0.
static inline int32_t raster_div(int32_t a, int32_t b) {
    return (int32_t)(uint32_t)(uint64_t)((int64_t)a / b);
}

// True when every corner's sx and sy can be shifted into 16.16 (the range
// the fills represent); other triangles are not drawn.
static inline bool raster_corners_in_range(const Triangle *t) {
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
static inline void raster_row_range(const Triangle *t, int32_t *ymin, int32_t *ymax) {
    int32_t lo = RASTER_HEIGHT_PX + 1, hi = -1;
    for (int k = 0; k < 3; k++) {
        int32_t sy = t->v[k]->sy;
        if (sy < lo) lo = sy;
        if (sy > hi) hi = sy;
    }
    *ymin = lo < 0 ? 0 : lo;
    *ymax = hi > RASTER_LAST_ROW ? RASTER_LAST_ROW : hi;
}

// Rows a filler may visit: never outside the 240 rows of the tables and
// buffers. (Through the triangle draws ymax is at most 239, so row 239 is
// reached only by a direct call.)
static inline void raster_clip_rows(int32_t *ymin, int32_t *ymax) {
    if (*ymin < 0) *ymin = 0;
    if (*ymax > RASTER_HEIGHT_PX) *ymax = RASTER_HEIGHT_PX;
}

#endif
