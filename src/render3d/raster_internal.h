// What the rasterizer's files share: safe 32-bit division, the edge walk
// and the rows a filler may visit. Not part of the engine's interface.
#ifndef RENDER3D_RASTER_INTERNAL_H
#define RENDER3D_RASTER_INTERNAL_H

#include <cstdint>

#include "render3d/geometry.h"
#include "render3d/raster.h"

// a / b truncated towards zero, as 32-bit division gives it, except that
// INT32_MIN / -1 (which traps in hardware) wraps to INT32_MIN. b != 0.
static inline int32_t raster_div(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(a) / b)));
}

// The edge walk of a triangle draw, the flat and the textured one alike:
// false when a corner's sx or sy is outside -32768 .. 32767 or the clamped
// rows are empty (the triangle is not drawn then); otherwise sets the rows
// ymin .. ymax - 1 to draw (0 <= ymin < ymax <= 239) and in those rows of
// `edges` the x and depth tables, and the u and v tables as well when
// `texels` (all three t[k] must then be set), and returns true.
bool raster_walk_edges(const Triangle *triangle, bool texels, RowEdges *edges, int32_t *ymin, int32_t *ymax);

// Rows a filler may visit: never outside the 240 rows of the tables and
// buffers. (Through the triangle draws ymax is at most 239, so row 239 is
// reached only by a direct call.)
static inline void raster_clip_rows(int32_t *ymin, int32_t *ymax) {
    if (*ymin < 0) *ymin = 0;
    if (*ymax > RASTER_HEIGHT_PX) *ymax = RASTER_HEIGHT_PX;
}

#endif
