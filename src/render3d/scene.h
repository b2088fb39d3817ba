// The scene graph: a tree of group and mesh nodes, each with a local matrix,
// rendered in two walks. The transform walk composes local matrices on the
// matrix stack and transforms every mesh; the draw walk draws every mesh
// solid (depth-tested, sorted) or as a wireframe.
#ifndef RENDER3D_SCENE_H
#define RENDER3D_SCENE_H

#include <cstdint>

#include "render3d/geometry.h"
#include "render3d/matrix.h"

constexpr int32_t SCENE_GROUP = 0;  // any kind other than SCENE_MESH walks as a group
constexpr int32_t SCENE_MESH = 1;
// `mode` values that compose `local` in the transform walk (alike); any
// other value, SCENE_LOCAL_IGNORED included, leaves it out.
constexpr int32_t SCENE_LOCAL_IGNORED = 0;
constexpr int32_t SCENE_LOCAL_APPLIED = 1;
constexpr int32_t SCENE_LOCAL_APPLIED_TOO = 2;
constexpr uint64_t SCENE_CHILDREN_START_CAPACITY = 8;
// The deepest tree the transform walk can nest, the root counting as one:
// one stack slot per level above slot 0.
constexpr int SCENE_MAX_LEVELS = MATRIX_STACK_SLOTS - 1;

// Users set `local` (with the matrix constructors) and `mode` directly.
struct SceneNode {
    int32_t kind;    // SCENE_GROUP or SCENE_MESH
    Matrix4 local;   // identity at creation
    int32_t mode;    // SCENE_LOCAL_IGNORED at creation
    // Group: a Vector of child SceneNode pointers in the order added, owned
    // by the node. Mesh: the TriangleList to render, not owned.
    void *content;
};

// A new group node without a parent, or null when an allocation fails.
SceneNode *scene_new_root(void);

// A new group node appended to `parent`'s children. Null (and nothing
// changed) when parent is null or a mesh node, or an allocation fails.
SceneNode *scene_add_group(SceneNode *parent);

// A new mesh node for `list` (not owned) appended to `parent`'s children.
// Null (and nothing changed) when parent is null or a mesh node, or an
// allocation fails.
SceneNode *scene_add_mesh(SceneNode *parent, TriangleList *list);

// Releases `node` and all its descendants with their children vectors,
// never a TriangleList. The node must not still be listed as a child of a
// live node. Null does nothing.
void scene_node_destroy(SceneNode *node);

// Transform walk from `node` (null does nothing): push; compose `local`
// onto the current matrix when mode is 1 or 2; a mesh node transforms its
// list, a group walks its children in order; pop. Leaves the current matrix
// and the stack as it found them. A node that would need a stack slot above
// the top (more than SCENE_MAX_LEVELS levels from slot 0) is skipped with
// its subtree, whose meshes keep their previous positions.
void scene_transform(SceneNode *node);

// Draw walk from `node` (null does nothing): each mesh in tree order,
// sorted and depth-tested when `solid` is nonzero, otherwise as a wireframe
// in palette index 15 that neither reads nor writes the depth buffer. Uses
// the positions of the last transform walk.
void scene_draw(SceneNode *node, uint8_t solid);

#endif
