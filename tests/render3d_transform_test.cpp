// Vertex transform and projection: the published figures, depth keys and
// the per-frame vertex cache.
#include <gtest/gtest.h>

#include "gfx2d/framebuffer.h"
#include "render3d/render3d.h"

static void reset_identity(void) {
    while (matrix_stack_top > 0) matrix_pop();
    current_identity();
}

// One triangle whose three corners are the given model points.
struct ModelTriangle {
    Vertex v[3];
    Triangle tri;
    Triangle *items[1];
    TriangleList list;
};

static void model_triangle(ModelTriangle *mt, const Fixed xyz[9]) {
    *mt = ModelTriangle{};
    for (int k = 0; k < 3; k++) {
        mt->v[k].x = xyz[3 * k];
        mt->v[k].y = xyz[3 * k + 1];
        mt->v[k].z = xyz[3 * k + 2];
        mt->tri.v[k] = &mt->v[k];
    }
    mt->items[0] = &mt->tri;
    mt->list = TriangleList{mt->items, 1};
}

TEST(Render3dTransform, ProjectionFigures) {
    reset_identity();
    frame_counter = 100;
    ModelTriangle mt;
    const Fixed xyz[9] = {2 * FIXED_ONE, FIXED_ONE, 10 * FIXED_ONE,       // (2.0, 1.0, 10.0)
                          98304, -32768, 4 * FIXED_ONE,                  // (1.5, -0.5, 4.0)
                          -FIXED_ONE / 4, 5 * FIXED_ONE, 5 * FIXED_ONE};  // (-0.25, 5.0, 5.0)
    model_triangle(&mt, xyz);
    transform_triangles(&mt.list);
    const Vertex &a = mt.v[0], &b = mt.v[1], &c = mt.v[2];
    EXPECT_EQ(a.vx, 131072);
    EXPECT_EQ(a.vy, 65536);
    EXPECT_EQ(a.vz, 655360);
    EXPECT_EQ(a.sx, 230);
    EXPECT_EQ(a.sy, 135);
    // Integer parts 1, -1, 4 (rounded towards minus infinity); -37.5 truncates.
    EXPECT_EQ(b.vx, 65536);
    EXPECT_EQ(b.vy, -65536);
    EXPECT_EQ(b.vz, 262144);
    EXPECT_EQ(b.sx, 237);
    EXPECT_EQ(b.sy, 83);
    EXPECT_EQ(c.vx, -65536);  // -0.25 has integer part -1
    EXPECT_EQ(a.stamp, 100u);
    EXPECT_EQ(mt.tri.depth, 262144);

    // Depths at or below 1.0 project as at 1.0.
    const Fixed near_depths[] = {32768, 0, -65536, 65535, 65536};
    for (Fixed vz : near_depths) {
        Vertex p{};
        p.vx = FIXED_ONE;
        p.vz = vz;
        project_vertex(&p);
        EXPECT_EQ(p.sx, 350) << "vz " << vz;
        EXPECT_EQ(p.sy, 120);
    }
    // 64-bit intermediate: 150 x vx would overflow 32 bits here.
    Vertex far{};
    far.vx = 100 * FIXED_ONE;
    far.vy = -100 * FIXED_ONE;
    far.vz = 2 * FIXED_ONE;
    project_vertex(&far);
    EXPECT_EQ(far.sx, 7700);
    EXPECT_EQ(far.sy, -7380);
}

TEST(Render3dTransform, ProjectTriangleDepthKey) {
    frame_counter = 7;
    Vertex v[3] = {};
    const Fixed depths[3] = {5 * FIXED_ONE, 2 * FIXED_ONE, 9 * FIXED_ONE};
    Triangle t{};
    for (int k = 0; k < 3; k++) {
        v[k].vx = (k + 1) * FIXED_ONE;
        v[k].vz = depths[k];
        t.v[k] = &v[k];
    }
    project_triangle(&t);
    EXPECT_EQ(t.depth, 131072);
    EXPECT_EQ(v[1].sx, 200 + 150 * 2 / 2);
    EXPECT_EQ(v[2].sx, 200 + 150 * 3 / 9);
    EXPECT_EQ(v[0].stamp, 7u);
    // A negative depth is the key even though it projects as 1.0.
    v[2].vz = -3 * FIXED_ONE;
    project_triangle(&t);
    EXPECT_EQ(t.depth, -3 * FIXED_ONE);
}

TEST(Render3dTransform, VertexCacheAcrossFrames) {
    reset_identity();
    frame_counter = 0xFFFFFFFFu;  // the first frame
    // Two triangles sharing vertex 1 and 2.
    Vertex v[4] = {};
    const Fixed pts[4][3] = {{0, 0, 4 * FIXED_ONE}, {FIXED_ONE, 0, 4 * FIXED_ONE},
                             {0, FIXED_ONE, 8 * FIXED_ONE}, {FIXED_ONE, FIXED_ONE, 2 * FIXED_ONE}};
    for (int i = 0; i < 4; i++) {
        v[i].x = pts[i][0];
        v[i].y = pts[i][1];
        v[i].z = pts[i][2];
    }
    Triangle t0{}, t1{};
    t0.v[0] = &v[0]; t0.v[1] = &v[1]; t0.v[2] = &v[2];
    t1.v[0] = &v[1]; t1.v[1] = &v[3]; t1.v[2] = &v[2];
    Triangle *items[2] = {&t0, &t1};
    TriangleList list{items, 2};
    transform_triangles(&list);
    EXPECT_EQ(v[1].sx, 237);  // 150 / 4 = 37
    EXPECT_EQ(t0.depth, 4 * FIXED_ONE);
    EXPECT_EQ(t1.depth, 2 * FIXED_ONE);

    // A second call in the same frame under another matrix keeps the first
    // results, and still recomputes the depth keys from them.
    matrix_set_translation(current_matrix, 0, 0, 10 * FIXED_ONE);
    t0.depth = t1.depth = 12345;
    transform_triangles(&list);
    EXPECT_EQ(v[0].vz, 4 * FIXED_ONE);
    EXPECT_EQ(v[1].sx, 237);
    EXPECT_EQ(t0.depth, 4 * FIXED_ONE);
    EXPECT_EQ(t1.depth, 2 * FIXED_ONE);

    // The next frame transforms every vertex again.
    frame_counter++;
    EXPECT_EQ(frame_counter, 0u);
    transform_triangles(&list);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(v[i].vz, pts[i][2] + 10 * FIXED_ONE) << i;
        EXPECT_EQ(v[i].stamp, 0u);
    }
    EXPECT_EQ(v[1].sx, 200 + 150 / 14);
    EXPECT_EQ(t1.depth, 12 * FIXED_ONE);

    // A new vertex met first when frame_counter is 0 counts as stamped.
    Vertex fresh{};
    fresh.x = fresh.y = fresh.z = 3 * FIXED_ONE;
    Triangle t2{};
    t2.v[0] = t2.v[1] = t2.v[2] = &fresh;
    Triangle *one[1] = {&t2};
    TriangleList single{one, 1};
    transform_triangles(&single);
    EXPECT_EQ(fresh.vz, 0);
    EXPECT_EQ(fresh.sx, 0);
    EXPECT_EQ(t2.depth, 0);
    reset_identity();
}

TEST(Render3dTransform, MatrixEntriesAndWrapping) {
    reset_identity();
    frame_counter = 42;
    // Rows of the matrix feed the output columns: x' = x m00 + y m10 + z m20 + m30.
    Matrix4 *m = current_matrix;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) m->m[r][c] = (r + 1) * 1000 + (c + 1) * 10;
    ModelTriangle mt;
    const Fixed xyz[9] = {2 * FIXED_ONE, 3 * FIXED_ONE, 5 * FIXED_ONE, 0, 0, 0, 0, 0, 0};
    model_triangle(&mt, xyz);
    transform_triangles(&mt.list);
    EXPECT_EQ(mt.v[0].vx, 2 * 1010 + 3 * 2010 + 5 * 3010 + 4010);
    EXPECT_EQ(mt.v[0].vy, 2 * 1020 + 3 * 2020 + 5 * 3020 + 4020);
    EXPECT_EQ(mt.v[0].vz, 2 * 1030 + 3 * 2030 + 5 * 3030 + 4030);
    // Products and sums wrap in 32 bits: 32767 x 65536 x 2 terms.
    current_identity();
    frame_counter++;
    const Fixed big[9] = {32767 * FIXED_ONE, 0, 0, 0, 0, 0, 0, 0, 0};
    model_triangle(&mt, big);
    matrix_scale(current_matrix, 2 * FIXED_ONE, FIXED_ONE, FIXED_ONE);
    transform_triangles(&mt.list);
    EXPECT_EQ(mt.v[0].vx, static_cast<int32_t>(static_cast<uint32_t>(32767u * 131072u)));
    reset_identity();
}
