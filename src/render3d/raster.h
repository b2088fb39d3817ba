// The triangle rasterizer: the 16-bit depth buffer, the per-row edge tables
// a triangle draw builds, the flat and textured span fillers, the solid
// drawing pass that sorts a list a little each frame, and the wireframe.
// Screen extent, coverage and depth format: see CONVENTIONS in
// render3d/render3d.h.
#ifndef RENDER3D_RASTER_H
#define RENDER3D_RASTER_H

#include <cstdint>

#include "gfx2d/palette.h"
#include "render3d/fixed.h"
#include "render3d/geometry.h"

// The rasterizer's fixed screen: it writes fb_pixels[y * 400 + x] and never
// reads fb_width or fb_height.
constexpr int32_t RASTER_WIDTH_PX = 400;
constexpr int32_t RASTER_HEIGHT_PX = 240;
constexpr int32_t RASTER_LAST_COLUMN = RASTER_WIDTH_PX - 1;  // 399, never written
constexpr int32_t RASTER_LAST_ROW = RASTER_HEIGHT_PX - 1;    // 239, never reached by a triangle draw
constexpr int DEPTH_BUFFER_ENTRIES = RASTER_WIDTH_PX * RASTER_HEIGHT_PX;
constexpr uint16_t DEPTH_EMPTY = 65535;
// Corners whose sx or sy lie outside this range cannot be shifted into
// 16.16 screen coordinates; such triangles are not drawn.
constexpr int32_t RASTER_COORD_MIN = -32768;
constexpr int32_t RASTER_COORD_MAX = 32767;
constexpr uint8_t WIREFRAME_COLOR = PALETTE_WHITE;

// Integer part of the depth of the pixel last drawn at y * 400 + x, as a
// 16-bit pattern; DEPTH_EMPTY where nothing was drawn since depth_clear.
extern uint16_t depth_buffer[DEPTH_BUFFER_ENTRIES];

// Per-row edge crossings of one triangle, in 16.16 (x in pixels, u and v in
// texels, depth in view units). Built by a draw on its own stack and read by
// the matching filler; only the rows the triangle covers are set. A flat
// draw uses the x and depth tables only.
struct RowEdges {
    Fixed left_x[RASTER_HEIGHT_PX], right_x[RASTER_HEIGHT_PX];
    Fixed left_depth[RASTER_HEIGHT_PX], right_depth[RASTER_HEIGHT_PX];
    Fixed left_u[RASTER_HEIGHT_PX], right_u[RASTER_HEIGHT_PX];
    Fixed left_v[RASTER_HEIGHT_PX], right_v[RASTER_HEIGHT_PX];
};

// Every depth_buffer entry := DEPTH_EMPTY.
void depth_clear(void);

// Fills rows ymin .. ymax - 1 from the flat tables in `color`: in each row
// the columns from left_x >> 16 up to, not including, right_x >> 16, clipped
// to 0 .. 398. A pixel is written (colour and its 16-bit depth) when its
// depth's integer part, as a signed 16-bit value, is below the stored entry.
// Rows outside 0 .. 239 are not visited. Returns the pixels written.
int fill_spans_flat(int16_t ymin, int16_t ymax, const RowEdges *edges, uint8_t color);

// As fill_spans_flat, sampling T's texture at the interpolated (u, v) and
// accepting only depths of at least 1. Texel addresses are clamped into
// the texture, so no read leaves it. Returns the pixels written; 0 when T
// has no texture with pixels.
int fill_spans_textured(const Triangle *triangle, int16_t ymin, int16_t ymax, const RowEdges *edges);

// Fills T in its colour against the depth buffer and sets T.pixels to the
// pixels written. Returns at once, keeping T.pixels, when its clamped rows
// are empty (least sy clamped to 0 equals greatest sy clamped to 239) or
// when a corner's sx or sy is outside -32768 .. 32767.
void draw_triangle_flat(Triangle *triangle);

// As draw_triangle_flat, textured from T.texture and T.t. Without a texture
// with pixels or with a missing texture coordinate it draws flat instead.
void draw_triangle_textured(Triangle *triangle);

// Textured when T.pixels >= 0 and T has a texture with pixels and all three
// texture coordinates; flat otherwise.
void draw_triangle_solid(Triangle *triangle);

// One bubble pass towards ascending depth over L.items, interleaved with
// drawing each triangle solid; exchanges persist in L.items, so the order
// converges over frames. Empty or null lists draw nothing.
void draw_triangles_sorted(TriangleList *list);

// The three edges of every triangle of L as clipped lines in palette index
// 15, no depth test and no depth write. A null list does nothing.
void draw_wireframe(const TriangleList *list);

#endif
