// Vertex transform by the current matrix and perspective projection to the
// screen, with the per-frame vertex cache (a vertex whose stamp equals
// frame_counter is left as it is).
#ifndef RENDER3D_TRANSFORM_H
#define RENDER3D_TRANSFORM_H

#include "render3d/fixed.h"
#include "render3d/geometry.h"

// Projection centre (middle of the 400 x 240 screen) and focal factor in
// screen pixels per unit of vx/vz and vy/vz.
constexpr int32_t PROJECTION_CENTRE_X_PX = 200;
constexpr int32_t PROJECTION_CENTRE_Y_PX = 120;
constexpr int64_t PROJECTION_FOCAL_PX = 150;
// Depths below 1.0 (zero and negative included) project as at 1.0: there is
// no near-plane clipping.
constexpr Fixed PROJECTION_NEAREST_DEPTH = FIXED_ONE;

// Projects one vertex from its vx, vy, vz: sx = 150 vx / d + 200 and
// sy = 150 vy / d + 120 (64-bit, truncated), d = max(vz, 1.0) as described;
// stamps it with frame_counter.
void project_vertex(Vertex *vertex);

// Projects the three corners of T from their view coordinates as they
// stand and sets T.depth to their least vz.
void project_triangle(Triangle *triangle);

// For each triangle of L, in order: every corner not yet stamped with this
// frame_counter gets vx, vy, vz from the integer parts of its model
// coordinates times the current matrix (32-bit wrapping) and is projected;
// then the triangle's depth := its corners' least vz. A vertex reached
// again in the same frame keeps its first result, whatever the current
// matrix is then. A null list does nothing.
void transform_triangles(TriangleList *list);

#endif
