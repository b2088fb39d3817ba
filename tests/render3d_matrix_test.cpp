// Matrix constructors, the composing product with its rounding, the euler
// rotation's halved products, and the bounds of the matrix stack.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "render3d/matrix.h"
#include "render3d/trig.h"

static const Fixed DEG = FIXED_ONE;

static void expect_block(const Matrix4 &m, const Fixed rows[3][3]) {
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) EXPECT_EQ(m.m[r][c], rows[r][c]) << "m[" << r << "][" << c << "]";
}

static void reset_stack(void) {
    while (matrix_stack_top > 0) matrix_pop();
    current_identity();
}

TEST(Render3dMatrix, Constructors) {
    Matrix4 m;
    std::memset(&m, 0x5A, sizeof m);
    matrix_rotate_x(&m, 0);
    const Fixed rx0[4][4] = {{65536, 0, 0, 0}, {0, 65535, 0, 0}, {0, 0, 65535, 0}, {0, 0, 0, 65536}};
    EXPECT_EQ(std::memcmp(m.m, rx0, sizeof rx0), 0);

    // +X towards +Y about Z: the point (1, 0, 0) lands on (0, ~1, 0).
    matrix_rotate_z(&m, 90 * DEG);
    EXPECT_EQ(m.m[0][0], 0);
    EXPECT_EQ(m.m[0][1], 65535);
    EXPECT_EQ(m.m[1][0], -65535);
    EXPECT_EQ(m.m[3][3], 65536);
    // +Z towards +X about Y.
    matrix_rotate_y(&m, 90 * DEG);
    EXPECT_EQ(m.m[2][0], 65535);
    EXPECT_EQ(m.m[0][2], -65535);
    // +Y towards +Z about X.
    matrix_rotate_x(&m, 90 * DEG);
    EXPECT_EQ(m.m[1][2], 65535);
    EXPECT_EQ(m.m[2][1], -65535);

    matrix_scale(&m, 2 * FIXED_ONE, 3 * FIXED_ONE, -FIXED_ONE);
    const Fixed sc[4][4] = {{131072, 0, 0, 0}, {0, 196608, 0, 0}, {0, 0, -65536, 0}, {0, 0, 0, 65536}};
    EXPECT_EQ(std::memcmp(m.m, sc, sizeof sc), 0);

    // Translation touches the three translation entries only.
    matrix_translate(&m, FIXED_ONE, 0, 0);
    matrix_translate(&m, FIXED_ONE, 0, 0);
    EXPECT_EQ(m.m[3][0], 131072);
    matrix_set_translation(&m, 5, 6, 7);
    const Fixed st[4][4] = {{131072, 0, 0, 0}, {0, 196608, 0, 0}, {0, 0, -65536, 0}, {5, 6, 7, 65536}};
    EXPECT_EQ(std::memcmp(m.m, st, sizeof st), 0);
    // Wrapping, not overflow, at the top of the range.
    matrix_set_translation(&m, INT32_MAX, 0, 0);
    matrix_translate(&m, 1, 0, 0);
    EXPECT_EQ(m.m[3][0], INT32_MIN);
}

TEST(Render3dMatrix, EulerFigures) {
    Matrix4 m;
    matrix_identity(&m);
    matrix_set_translation(&m, 11, -22, 33);
    matrix_rotate_euler(&m, 0, 0, 0);
    const Fixed zero[3][3] = {{65532, 0, 0}, {0, 65532, 0}, {0, 0, 65532}};
    expect_block(m, zero);
    // Row 3 and column 3 untouched: the translation survives.
    EXPECT_EQ(m.m[3][0], 11);
    EXPECT_EQ(m.m[3][1], -22);
    EXPECT_EQ(m.m[3][2], 33);
    EXPECT_EQ(m.m[3][3], 65536);
    EXPECT_EQ(m.m[0][3], 0);

    matrix_rotate_euler(&m, 90 * DEG, 0, 0);
    const Fixed a90[3][3] = {{0, 0, -65534}, {0, 65532, 0}, {65532, 0, 0}};
    expect_block(m, a90);

    matrix_rotate_euler(&m, 30 * DEG, 45 * DEG, 60 * DEG);
    const Fixed mixed[3][3] = {{48295, 40041, 18385}, {-37550, 23030, 48337}, {23117, -46340, 39991}};
    expect_block(m, mixed);
}

TEST(Render3dMatrix, EulerMatchesComposedRotations) {
    // Up to rounding, euler(a, b, c) = rotate_z(c) x rotate_x(b) x rotate_y(a).
    srand(5);
    for (int trial = 0; trial < 200; trial++) {
        Fixed a = (rand() % 720 - 360) * DEG + rand() % DEG;
        Fixed b = (rand() % 720 - 360) * DEG + rand() % DEG;
        Fixed c = (rand() % 720 - 360) * DEG + rand() % DEG;
        Matrix4 euler, rz, rx;
        matrix_rotate_euler(&euler, a, b, c);
        reset_stack();
        matrix_rotate_y(current_matrix, a);
        matrix_rotate_x(&rx, b);
        current_multiply(&rx);
        matrix_rotate_z(&rz, c);
        current_multiply(&rz);
        for (int r = 0; r < 3; r++)
            for (int k = 0; k < 3; k++)
                ASSERT_NEAR(euler.m[r][k], current_matrix->m[r][k], 8)
                    << "a " << a << " b " << b << " c " << c << " entry " << r << k;
    }
    reset_stack();
}

TEST(Render3dMatrix, ProductOrderAndRounding) {
    reset_stack();
    Matrix4 id;
    matrix_identity(&id);
    // The identity leaves any current matrix exactly as it was.
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) current_matrix->m[r][c] = (r * 4 + c) * 77777 - 600000;
    Matrix4 before = *current_matrix;
    current_multiply(&id);
    EXPECT_EQ(std::memcmp(&before, current_matrix, sizeof before), 0);

    // Terms round towards minus infinity: (-1 x 1) >> 16 is -1, and
    // 0.5 x 0.5 is 0.25.
    Matrix4 m;
    std::memset(&m, 0, sizeof m);
    std::memset(current_matrix, 0, sizeof(Matrix4));
    m.m[0][0] = -1;
    current_matrix->m[0][0] = 1;
    m.m[1][1] = 32768;
    current_matrix->m[1][1] = 32768;
    current_multiply(&m);
    EXPECT_EQ(current_matrix->m[0][0], -1);
    EXPECT_EQ(current_matrix->m[1][1], 16384);

    // M acts first: scale by 2, then the former current translation by 1.
    reset_stack();
    matrix_set_translation(current_matrix, FIXED_ONE, 0, 0);
    Matrix4 scale;
    matrix_scale(&scale, 2 * FIXED_ONE, 2 * FIXED_ONE, 2 * FIXED_ONE);
    current_multiply(&scale);
    EXPECT_EQ(current_matrix->m[0][0], 2 * FIXED_ONE);
    EXPECT_EQ(current_matrix->m[3][0], FIXED_ONE);  // translation not scaled

    // The four terms wrap in 32 bits: two terms of 2^30 sum to INT32_MIN.
    std::memset(current_matrix, 0, sizeof(Matrix4));
    std::memset(&m, 0, sizeof m);
    current_matrix->m[0][0] = 1 << 30;
    current_matrix->m[1][0] = 1 << 30;
    m.m[0][0] = FIXED_ONE;
    m.m[0][1] = FIXED_ONE;
    current_multiply(&m);
    EXPECT_EQ(current_matrix->m[0][0], INT32_MIN);

    // Composing the current matrix onto itself uses a temporary.
    reset_stack();
    matrix_scale(current_matrix, 3 * FIXED_ONE, 3 * FIXED_ONE, 3 * FIXED_ONE);
    current_multiply(current_matrix);
    EXPECT_EQ(current_matrix->m[0][0], 9 * FIXED_ONE);
    EXPECT_EQ(current_matrix->m[2][2], 9 * FIXED_ONE);

    current_identity();
    Matrix4 t;
    matrix_identity(&t);
    matrix_set_translation(&t, 1, 2, 3);
    current_add_translation(&t);
    current_add_translation(&t);
    EXPECT_EQ(current_matrix->m[3][0], 2);
    EXPECT_EQ(current_matrix->m[3][2], 6);
    EXPECT_EQ(current_matrix->m[0][0], FIXED_ONE);
}

TEST(Render3dMatrix, StackPushPopAndBounds) {
    reset_stack();
    ASSERT_EQ(matrix_stack_top, 0);
    ASSERT_EQ(current_matrix, &matrix_stack[0]);
    Matrix4 saved = *current_matrix;

    matrix_push();
    EXPECT_EQ(matrix_stack_top, 1);
    EXPECT_EQ(current_matrix, &matrix_stack[1]);
    EXPECT_EQ(std::memcmp(current_matrix, &saved, sizeof saved), 0);  // same value, new slot
    matrix_rotate_z(current_matrix, 33 * DEG);
    matrix_pop();
    EXPECT_EQ(current_matrix, &matrix_stack[0]);
    EXPECT_EQ(std::memcmp(current_matrix, &saved, sizeof saved), 0);
    // The slot left behind is not cleared.
    EXPECT_EQ(matrix_stack[1].m[0][0], fixed_cos(33 * DEG));

    // Pop at slot 0 stays at slot 0.
    matrix_pop();
    EXPECT_EQ(matrix_stack_top, 0);
    EXPECT_EQ(current_matrix, &matrix_stack[0]);

    // Seven pushes reach the top slot; the eighth does nothing.
    for (int i = 0; i < 7; i++) matrix_push();
    EXPECT_EQ(matrix_stack_top, 7);
    current_matrix->m[3][0] = 1234;
    matrix_push();
    EXPECT_EQ(matrix_stack_top, 7);
    EXPECT_EQ(current_matrix, &matrix_stack[7]);
    EXPECT_EQ(current_matrix->m[3][0], 1234);
    for (int i = 0; i < 7; i++) matrix_pop();
    EXPECT_EQ(matrix_stack_top, 0);
    EXPECT_EQ(std::memcmp(current_matrix, &saved, sizeof saved), 0);
}
