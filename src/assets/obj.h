// Wavefront OBJ models with their MTL materials: the subset the renderer
// draws (vertices, texture coordinates, triangles, one PNG or PCX texture
// per material, in its own colours). Whole lines are read through a buffer (assets/obj_lines.h),
// numbers through parse_fixed; messages go to standard output, a failure's
// reason also to standard error.
#ifndef ASSETS_OBJ_H
#define ASSETS_OBJ_H

#include <cstdint>

#include "gfx2d/palette.h"
#include "render3d/fixed.h"
#include "render3d/geometry.h"

// Capacity the mesh's three vectors start with.
constexpr int OBJ_VECTOR_START_CAPACITY = 32;
// Palette index of loaded vertices and flat-filled faces (white).
constexpr uint8_t OBJ_COLOR = PALETTE_WHITE;
// Start value of a loaded triangle's `pixels` (INT32_MAX): drawn textured
// when it has a texture.
constexpr int32_t OBJ_TRIANGLE_PIXELS_START = 2147483647;

// Opens a model or material file read-only, exactly as named, when it is a
// regular file (never blocking on a FIFO or reading a device for ever). The
// descriptor, or -1 with *why pointing at a short static text: the system's
// reason or what the path is instead ("is a directory", "is a FIFO", ...).
int obj_open_read(const char *path, const char **why);

// Splits the next token off a line held in a writable buffer: tokens are
// separated by spaces and tabs. The token, zero-terminated in place, with
// *cursor moved past it; null when none is left.
char *obj_next_token(char **cursor);

// Decimal text to Fixed: optional '-', digits, optional '.' and fraction
// digits; anything after is ignored, no '+', blanks or exponent. Integer
// digits wrap in 32 bits; each fraction digit is folded in from the last one
// back with a truncating division by 10 (so "0.1" is 6553). Null or
// non-numeric text gives 0.
Fixed parse_fixed(const char *text);

// parse_fixed of the next token of a line, read in place: the same value as
// parse_fixed(obj_next_token(cursor)) in one pass, without splitting the
// token off. *cursor moves past the token; 0 when no token is left.
Fixed obj_next_fixed(char **cursor);

// Loads the material of an MTL file: the picture (PNG or PCX, through
// image_load_texture) of its last "map_Kd" line, loaded from that path as written or, when nothing is there, beside
// the MTL file (printing "Loading texure '<path>'" for each, as written). A
// new Texture owning its pixels; a file without "map_Kd" gives a texture of
// size 0 x 0 with null pixels. Null, with one line on standard error, when
// the file cannot be opened or read to its end, a "map_Kd" line has no path
// or its image cannot be loaded, or an allocation fails; nothing is left
// allocated or open then.
Texture *mtl_load(const char *path);

// Loads an OBJ model, multiplying every coordinate by `scale` and flipping
// y. Prints the path first. Material files are opened as written or, when
// nothing is there, beside the model. A new Mesh owning all its records
// (free it with mesh_destroy), or null: "Failed" when the file cannot be
// opened or read to its end, "Unable to load mtllib" when a material cannot
// be loaded; nothing is left allocated or open then.
// Faces: a polygon of n corners becomes the fan of n - 2 triangles from its
// first corner. Indices are 1-based and count the records read so far;
// negative ones count back from the latest (-1 is the last read). A face
// with fewer than three corners or a vertex index that names no vertex is
// skipped with a message naming its line; a texture coordinate index that
// names nothing leaves the face without texture coordinates (drawn flat),
// also with a message.
// Materials: each face carries the material current when it was read;
// `material` is the last one loaded. Texture coordinates hold texels of the
// texture of the faces that use them, clamped into it ("vt" lines read
// before any material included); a coordinate shared by faces of two
// materials gets a record for each, so `texcoords` holds one record per
// "vt" line and then such extra ones.
Mesh *obj_load(const char *path, int scale);

// Releases a mesh and everything it owns: vertices, texture coordinates,
// triangles, their vectors, the triangle list, `material` and every other
// material its faces carry, with their pixels. Null does nothing.
void mesh_destroy(Mesh *mesh);

#endif
