// Scene nodes: creation, release and the two walks.
#include "render3d/scene.h"

#include "render3d/raster.h"
#include "render3d/transform.h"
#include "util/alloc.h"
#include "util/vector.h"

static SceneNode *scene_node_new(int32_t kind, void *content) {
    SceneNode *node = static_cast<SceneNode *>(engine_malloc(sizeof(SceneNode)));
    if (node == nullptr) return nullptr;
    node->kind = kind;
    matrix_identity(&node->local);
    node->mode = SCENE_LOCAL_IGNORED;
    node->content = content;
    return node;
}

static SceneNode *scene_group_new(void) {
    Vector *children = vector_create(SCENE_CHILDREN_START_CAPACITY);
    if (children == nullptr) return nullptr;
    SceneNode *node = scene_node_new(SCENE_GROUP, children);
    if (node == nullptr) vector_destroy(children);
    return node;
}

static bool scene_is_group(const SceneNode *node) {
    return node != nullptr && node->kind != SCENE_MESH && node->content != nullptr;
}

// Appends `child` to `parent`; on failure releases the child.
static SceneNode *scene_adopt(SceneNode *parent, SceneNode *child) {
    if (child == nullptr) return nullptr;
    if (vector_append(static_cast<Vector *>(parent->content), child) != 0) {
        scene_node_destroy(child);
        return nullptr;
    }
    return child;
}

SceneNode *scene_new_root(void) { return scene_group_new(); }

SceneNode *scene_add_group(SceneNode *parent) {
    if (!scene_is_group(parent)) return nullptr;
    return scene_adopt(parent, scene_group_new());
}

SceneNode *scene_add_mesh(SceneNode *parent, TriangleList *list) {
    if (!scene_is_group(parent)) return nullptr;
    return scene_adopt(parent, scene_node_new(SCENE_MESH, list));
}

void scene_node_destroy(SceneNode *node) {
    if (node == nullptr) return;
    if (node->kind != SCENE_MESH) {
        Vector *children = static_cast<Vector *>(node->content);
        if (children != nullptr) {
            for (uint64_t i = 0; i < children->count; i++)
                scene_node_destroy(static_cast<SceneNode *>(children->items[i]));
            vector_destroy(children);
        }
    }
    engine_free(node);
}

void scene_transform(SceneNode *node) {
    if (node == nullptr) return;
    int slot = matrix_stack_top;
    matrix_push();
    // At the top slot the push does nothing; walking on would compose onto
    // the parent's matrix and the pop would then take the parent's slot.
    if (matrix_stack_top == slot) return;
    if (node->mode == SCENE_LOCAL_APPLIED || node->mode == SCENE_LOCAL_APPLIED_TOO)
        current_multiply(&node->local);
    if (node->kind == SCENE_MESH) {
        transform_triangles(static_cast<TriangleList *>(node->content));
    } else if (node->content != nullptr) {
        Vector *children = static_cast<Vector *>(node->content);
        for (uint64_t i = 0; i < children->count; i++) scene_transform(static_cast<SceneNode *>(children->items[i]));
    }
    matrix_pop();
}

void scene_draw(SceneNode *node, uint8_t solid) {
    if (node == nullptr) return;
    if (node->kind == SCENE_MESH) {
        if (solid != 0)
            draw_triangles_sorted(static_cast<TriangleList *>(node->content));
        else
            draw_wireframe(static_cast<const TriangleList *>(node->content));
        return;
    }
    if (node->content == nullptr) return;
    Vector *children = static_cast<Vector *>(node->content);
    for (uint64_t i = 0; i < children->count; i++) scene_draw(static_cast<SceneNode *>(children->items[i]), solid);
}
