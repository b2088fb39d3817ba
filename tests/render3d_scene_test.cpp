// Scene graph: child order, local-matrix modes, the depth translation, the
// wireframe walk, the vertex-cache consequence of one list under two nodes,
// the stack depth limit, allocation failures and release.
#include <gtest/gtest.h>

#include <cstring>

#include "gfx2d/framebuffer.h"
#include "render3d/render3d.h"
#include "support/render3d_fixtures.h"
#include "util/alloc.h"
#include "util/vector.h"

static const Fixed ONE = FIXED_ONE;

// A one-triangle mesh in model space: a right triangle of side `size`
// units with its corner at (x, y, z).
struct TinyMesh {
    Vertex v[3];
    Triangle tri;
    Triangle *items[1];
    TriangleList list;
};
static void tiny_mesh(TinyMesh *m, int32_t x, int32_t y, int32_t z, int32_t size, uint8_t color) {
    *m = TinyMesh{};
    const int32_t corners[3][2] = {{0, 0}, {size, 0}, {0, size}};
    for (int k = 0; k < 3; k++) {
        m->v[k].x = (x + corners[k][0]) * ONE;
        m->v[k].y = (y + corners[k][1]) * ONE;
        m->v[k].z = z * ONE;
        m->tri.v[k] = &m->v[k];
    }
    m->tri.color = color;
    m->tri.pixels = INT32_MAX;
    m->items[0] = &m->tri;
    m->list = TriangleList{m->items, 1};
}

// Also moves frame_counter away from 0, at which fresh vertices (stamp 0)
// would count as already transformed.
static void identity_base(void) {
    while (matrix_stack_top > 0) matrix_pop();
    current_identity();
    frame_counter = 1000;
}

static SceneNode *child(SceneNode *group, uint64_t i) {
    return static_cast<SceneNode *>(static_cast<Vector *>(group->content)->items[i]);
}

TEST(Render3dScene, CreationAndEmptyRoot) {
    SceneNode *root = scene_new_root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->kind, SCENE_GROUP);
    EXPECT_EQ(root->mode, 0);
    Matrix4 id;
    matrix_identity(&id);
    EXPECT_EQ(std::memcmp(&root->local, &id, sizeof id), 0);
    Vector *children = static_cast<Vector *>(root->content);
    ASSERT_NE(children, nullptr);
    EXPECT_EQ(children->count, 0u);
    EXPECT_EQ(children->capacity, 8u);

    // An empty root changes neither the stack nor the picture.
    identity_base();
    matrix_set_translation(current_matrix, 1, 2, 3);
    Matrix4 before = *current_matrix;
    root->mode = 1;
    matrix_scale(&root->local, 3 * ONE, 3 * ONE, 3 * ONE);
    scene_transform(root);
    EXPECT_EQ(matrix_stack_top, 0);
    EXPECT_EQ(std::memcmp(current_matrix, &before, sizeof before), 0);
    render3d_fresh_frame();
    scene_draw(root, 1);
    scene_draw(root, 0);
    EXPECT_EQ(count_pixels(0), 96000);

    // Mesh nodes take no children; null parents are refused.
    TinyMesh m;
    tiny_mesh(&m, 0, 0, 5, 1, 9);
    SceneNode *mesh = scene_add_mesh(root, &m.list);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->kind, SCENE_MESH);
    EXPECT_EQ(mesh->content, &m.list);
    EXPECT_EQ(scene_add_group(mesh), nullptr);
    EXPECT_EQ(scene_add_mesh(mesh, &m.list), nullptr);
    EXPECT_EQ(scene_add_group(nullptr), nullptr);
    scene_transform(nullptr);
    scene_draw(nullptr, 1);
    scene_node_destroy(root);
    scene_node_destroy(nullptr);
}

TEST(Render3dScene, ModesAndDepthTranslation) {
    TinyMesh m;
    tiny_mesh(&m, 1, 1, 5, 2, 9);
    SceneNode *root = scene_new_root();
    SceneNode *group = scene_add_group(root);
    ASSERT_NE(scene_add_mesh(group, &m.list), nullptr);
    matrix_identity(&group->local);
    matrix_set_translation(&group->local, 0, 0, 10 * ONE);
    identity_base();

    const int modes[] = {0, 1, 2, 3, -1};
    Fixed depth[5];
    int32_t sx[5];
    for (int i = 0; i < 5; i++) {
        group->mode = modes[i];
        frame_counter++;
        scene_transform(root);
        EXPECT_EQ(matrix_stack_top, 0);
        depth[i] = m.v[1].vz;
        sx[i] = m.v[1].sx;
    }
    EXPECT_EQ(depth[0], 5 * ONE);
    EXPECT_EQ(depth[1], 15 * ONE);  // 10.0 deeper with mode 1
    EXPECT_EQ(depth[2], depth[1]);  // mode 2 behaves as mode 1
    EXPECT_EQ(sx[2], sx[1]);
    EXPECT_EQ(depth[3], depth[0]);  // other values: local ignored
    EXPECT_EQ(depth[4], depth[0]);
    EXPECT_EQ(sx[0], 200 + 150 * 3 / 5);
    EXPECT_EQ(sx[1], 200 + 150 * 3 / 15);
    EXPECT_EQ(m.tri.depth, depth[4]);

    // Local applies before the ancestors' matrices: a child scale by 2
    // under a parent translation scales the model, not the translation.
    SceneNode *scaled = scene_add_group(group);
    TinyMesh s;
    tiny_mesh(&s, 1, 0, 1, 1, 9);
    scene_add_mesh(scaled, &s.list);
    scaled->mode = 1;
    matrix_scale(&scaled->local, 2 * ONE, 2 * ONE, 2 * ONE);
    group->mode = 1;
    frame_counter++;
    scene_transform(root);
    EXPECT_EQ(s.v[0].vx, 2 * ONE);
    EXPECT_EQ(s.v[0].vz, 12 * ONE);
    scene_node_destroy(root);
}

TEST(Render3dScene, ChildOrderAndSharedList) {
    identity_base();
    // Two overlapping meshes at the same depth: the first drawn keeps the
    // shared pixels (an equal depth does not pass the test).
    TinyMesh a, b;
    tiny_mesh(&a, -2, -2, 5, 4, 40);
    tiny_mesh(&b, -2, -2, 5, 4, 41);
    SceneNode *root = scene_new_root();
    scene_add_mesh(root, &a.list);
    scene_add_mesh(root, &b.list);
    frame_counter++;
    render3d_fresh_frame();
    scene_transform(root);
    scene_draw(root, 1);
    EXPECT_GT(count_pixels(40), 0);
    EXPECT_EQ(count_pixels(41), 0);
    EXPECT_EQ(b.tri.pixels, 0);
    scene_node_destroy(root);

    root = scene_new_root();
    scene_add_mesh(root, &b.list);
    scene_add_mesh(root, &a.list);
    frame_counter++;
    render3d_fresh_frame();
    scene_transform(root);
    scene_draw(root, 1);
    EXPECT_EQ(count_pixels(40), 0);
    EXPECT_GT(count_pixels(41), 0);
    scene_node_destroy(root);

    // One list under two nodes with different locals: transformed only at
    // the first in a frame, so both draw it at the first node's place.
    TinyMesh shared;
    tiny_mesh(&shared, 0, 0, 5, 2, 9);
    root = scene_new_root();
    SceneNode *near_node = scene_add_group(root);
    SceneNode *far_node = scene_add_group(root);
    scene_add_mesh(near_node, &shared.list);
    scene_add_mesh(far_node, &shared.list);
    near_node->mode = far_node->mode = 1;
    matrix_set_translation(&far_node->local, 0, 0, 20 * ONE);
    frame_counter++;
    scene_transform(root);
    EXPECT_EQ(shared.v[0].vz, 5 * ONE);
    // Swap the children: now the far node comes first.
    Vector *children = static_cast<Vector *>(root->content);
    children->items[0] = far_node;
    children->items[1] = near_node;
    frame_counter++;
    scene_transform(root);
    EXPECT_EQ(shared.v[0].vz, 25 * ONE);
    EXPECT_EQ(child(root, 0), far_node);
    scene_node_destroy(root);
}

TEST(Render3dScene, WireframeWalk) {
    identity_base();
    TinyMesh m;
    tiny_mesh(&m, -2, -2, 5, 4, 40);
    SceneNode *root = scene_new_root();
    scene_add_mesh(scene_add_group(root), &m.list);
    frame_counter++;
    render3d_fresh_frame();
    scene_transform(root);
    scene_draw(root, 0);
    int lines = count_pixels(15);
    EXPECT_GT(lines, 100);
    EXPECT_EQ(lines + count_pixels(0), 96000);
    for (int i = 0; i < DEPTH_BUFFER_ENTRIES; i++) ASSERT_EQ(depth_buffer[i], 65535);
    // Solid afterwards fills the inside in the mesh colour.
    scene_draw(root, 1);
    EXPECT_GT(count_pixels(40), 0);
    scene_node_destroy(root);
}

TEST(Render3dScene, DepthLimitKeepsTheStackBalanced) {
    identity_base();
    // A chain of 9 group levels with a mesh at every level; each level adds
    // 1.0 of depth. Levels beyond the 7 the stack holds are skipped.
    SceneNode *root = scene_new_root();
    SceneNode *level = root;
    TinyMesh meshes[9];
    for (int i = 0; i < 9; i++) {
        level->mode = 1;
        matrix_set_translation(&level->local, 0, 0, ONE);
        tiny_mesh(&meshes[i], 0, 0, 4, 1, 9);
        scene_add_mesh(level, &meshes[i].list);
        if (i < 8) level = scene_add_group(level);
    }
    frame_counter++;
    scene_transform(root);
    EXPECT_EQ(matrix_stack_top, 0);
    // The mesh of group level i sits at level i + 2 (slot i + 2).
    for (int i = 0; i < 6; i++) EXPECT_EQ(meshes[i].v[0].vz, (4 + i + 1) * ONE) << i;
    for (int i = 6; i < 9; i++) EXPECT_NE(meshes[i].v[0].stamp, frame_counter) << i;
    scene_node_destroy(root);
}

TEST(Render3dScene, AllocationFailuresLeaveNothingBehind) {
    alloc_fail_after(0);
    EXPECT_EQ(scene_new_root(), nullptr);
    alloc_fail_after(2);  // the vector record and its array, then the node fails
    EXPECT_EQ(scene_new_root(), nullptr);
    alloc_fail_after(-1);
    SceneNode *root = scene_new_root();
    ASSERT_NE(root, nullptr);
    TinyMesh m;
    tiny_mesh(&m, 0, 0, 5, 1, 9);
    for (int i = 0; i < 8; i++) ASSERT_NE(scene_add_mesh(root, &m.list), nullptr);
    // The ninth child needs the children vector to grow.
    alloc_fail_after(1);
    EXPECT_EQ(scene_add_mesh(root, &m.list), nullptr);
    alloc_fail_after(-1);
    EXPECT_EQ(static_cast<Vector *>(root->content)->count, 8u);
    alloc_fail_after(0);
    EXPECT_EQ(scene_add_group(root), nullptr);
    alloc_fail_after(-1);
    EXPECT_EQ(static_cast<Vector *>(root->content)->count, 8u);
    ASSERT_NE(scene_add_group(root), nullptr);
    EXPECT_EQ(static_cast<Vector *>(root->content)->count, 9u);
    // Destroy releases the tree (checked by LeakSanitizer) and never the list.
    scene_node_destroy(root);
    EXPECT_EQ(m.list.items[0], &m.tri);
}
