// The fixed-point software 3D renderer: open this first. It includes the
// whole subsystem; the files below each do one job.
//
//   fixed.h      Fixed (16.16), FIXED_ONE, angle units, wrapping helpers
//   trig.h       sine_table, fixed_sin, fixed_cos, sin_eighths
//   matrix.h     Matrix4, constructors, current_multiply, the matrix stack
//   geometry.h   Texture, Vertex, TexCoord, Triangle, TriangleList, Mesh
//   transform.h  transform_triangles (per-frame vertex cache), project_triangle
//   raster.h     depth_buffer, flat and textured fills, sorted and wireframe draws
//   scene.h      SceneNode tree: transform walk and draw walk
//   particles.h  the particle-triangle effect and its frame loop
//
// CONVENTIONS (every function relies on these instead of restating them)
//
// Numbers. Fixed is a signed 32-bit 16.16 number; 1.0 is FIXED_ONE = 65536.
//   Sums and differences wrap in 32 bits (written through unsigned, so no
//   signed-overflow undefined behaviour), right shifts are arithmetic and
//   round towards minus infinity (x >> 16 of -0.5 is -1), divisions truncate
//   towards zero. Products are formed as each operation states: 64-bit
//   terms in the matrix product and the projection, 32-bit integer part x
//   Fixed in the vertex transform, halved operands in matrix_rotate_euler.
// Angles. Fixed degrees (full turn 360 * 65536 = 23592960) for the matrix
//   constructors; integer eighths of a degree (full turn 2880) for the
//   particle effect. Sines come from a quarter-wave table and never reach
//   +-65536: the cosine of 0 is 65535.
// Matrices. m[row][col], stored row by row. Points are row vectors on the
//   left: (x, y, z, 1) M, so column c yields coordinate c and row 3 holds
//   the translation. current_multiply(M) makes current := M x current, so M
//   acts first and the former current matrix after it (child, then parent).
// Space. View space has +X to the right, +Y downwards on screen, +Z into the
//   screen: vz is the depth and larger is farther. The projection centre is
//   column 200, row 120; the focal factor 150 pixels per unit of vx/vz.
//   Depths below 1.0 project as at 1.0 (no near-plane clipping).
// Screen. 400 x 240, fb_pixels[y * 400 + x]. The fills draw rows
//   ymin .. ymax - 1 and columns xs .. xe - 1 of each row, so row 239 and
//   column 399 are never written by a fill. Corners must have sx and sy in
//   -32768 .. 32767 (they are shifted into 16.16); other triangles are not
//   drawn. The wireframe uses the clipped draw_line and may go anywhere.
// Depth buffer. 96000 uint16 entries, index y * 400 + x, holding the integer
//   part of the depth last drawn there; 65535 means empty. A pixel passes
//   when its depth's integer part read as int16 is below the entry (read as
//   0 .. 65535): flat pixels with negative depths always pass; textured
//   pixels also need a depth of at least 1.
// Frames. transform_triangles stamps each vertex with frame_counter and
//   skips vertices already stamped this frame: frame_counter must advance
//   between frames, and a mesh reached twice in one frame keeps the first
//   position. A solid frame is: fb_clear, depth_clear, set the current
//   matrix, transform, draw, fb_present, frame_counter += 1.
#ifndef RENDER3D_RENDER3D_H
#define RENDER3D_RENDER3D_H

#include "render3d/fixed.h"
#include "render3d/geometry.h"
#include "render3d/matrix.h"
#include "render3d/particles.h"
#include "render3d/raster.h"
#include "render3d/scene.h"
#include "render3d/transform.h"
#include "render3d/trig.h"

#endif
