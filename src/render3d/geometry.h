// The records geometry travels in through the renderer: textures, vertices,
// texture coordinates, triangles, triangle lists and loaded meshes. The OBJ
// loader fills them, the transform and projection (render3d/transform.h)
// write their view and screen fields, the rasterizer reads them.
#ifndef RENDER3D_GEOMETRY_H
#define RENDER3D_GEOMETRY_H

#include <cstdint>

#include "render3d/fixed.h"
#include "util/vector.h"  // Mesh keeps its records in Vectors

// 8-bit indexed image sampled by textured triangles.
struct Texture {
    uint8_t *pixels;  // palette indices, row by row, width * height bytes
    int32_t width;    // texels per row
    int32_t height;   // rows
};

// One model point, shared by every triangle that uses it.
struct Vertex {
    Fixed x, y, z;     // model coordinates
    Fixed vx, vy, vz;  // view coordinates; vz is the depth, larger is farther
    int32_t sx, sy;    // screen column and row, written by the projection
    uint32_t stamp;    // frame_counter when last projected (0 for new ones)
    uint8_t color;     // palette index; the loader sets 15, nothing draws it
};

// A corner's place in its triangle's texture, in whole texels (not 0..1).
struct TexCoord {
    int32_t u;  // texel column
    int32_t v;  // texel row
};

struct Triangle {
    Vertex *v[3];      // the corners, in order; never null
    TexCoord *t[3];    // the corners' texture coordinates, null where absent
    Texture *texture;  // image for the textured fill, or null
    // Pixels that passed the depth test the last time it was drawn solid; a
    // negative value forces the flat fill even when textured. The loader
    // starts it at INT32_MAX.
    int32_t pixels;
    uint8_t color;  // palette index of the flat fill
    Fixed depth;    // sort key: the least vz of the corners
};

// The triangles handed to the renderer. Does not own them; for a loaded mesh
// `items` is the faces vector's own array (so the sorting pass reorders it).
struct TriangleList {
    Triangle **items;
    int32_t count;  // valid entries in items
};

// A loaded model. Owns every record reachable from it.
struct Mesh {
    Vector *vertices;    // Vertex *
    Vector *texcoords;   // TexCoord *
    Vector *faces;       // Triangle *
    Texture *material;   // texture of the mesh's material, or null
    TriangleList *list;  // the faces as the renderer takes them
};

#endif
