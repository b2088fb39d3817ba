// Matrix constructors, the composing product and the matrix stack.
#include "render3d/matrix.h"

#include <cstring>  // memcpy for the product's temporary and push

#include "render3d/trig.h"

Matrix4 matrix_stack[MATRIX_STACK_SLOTS];
int matrix_stack_top = 0;
Matrix4 *current_matrix = &matrix_stack[0];

// Rows as written, top to bottom.
static void matrix_set_rows(Matrix4 *matrix, const Fixed rows[4][4]) {
    std::memcpy(matrix->m, rows, sizeof matrix->m);
}

void matrix_identity(Matrix4 *matrix) {
    const Fixed rows[4][4] = {{FIXED_ONE, 0, 0, 0},
                              {0, FIXED_ONE, 0, 0},
                              {0, 0, FIXED_ONE, 0},
                              {0, 0, 0, FIXED_ONE}};
    matrix_set_rows(matrix, rows);
}

void current_identity(void) { matrix_identity(current_matrix); }

void matrix_rotate_x(Matrix4 *matrix, Fixed angle) {
    Fixed s = fixed_sin(angle), c = fixed_cos(angle);
    const Fixed rows[4][4] = {{FIXED_ONE, 0, 0, 0},
                              {0, c, s, 0},
                              {0, -s, c, 0},
                              {0, 0, 0, FIXED_ONE}};
    matrix_set_rows(matrix, rows);
}

void matrix_rotate_y(Matrix4 *matrix, Fixed angle) {
    Fixed s = fixed_sin(angle), c = fixed_cos(angle);
    const Fixed rows[4][4] = {{c, 0, -s, 0},
                              {0, FIXED_ONE, 0, 0},
                              {s, 0, c, 0},
                              {0, 0, 0, FIXED_ONE}};
    matrix_set_rows(matrix, rows);
}

void matrix_rotate_z(Matrix4 *matrix, Fixed angle) {
    Fixed s = fixed_sin(angle), c = fixed_cos(angle);
    const Fixed rows[4][4] = {{c, s, 0, 0},
                              {-s, c, 0, 0},
                              {0, 0, FIXED_ONE, 0},
                              {0, 0, 0, FIXED_ONE}};
    matrix_set_rows(matrix, rows);
}

// Halved operand: |H(v)| <= 32767 for any table sine or cosine, so a product
// of two halves stays below 2^30 and fits 32 bits; after >> 15 a third half
// again keeps the product below 2^30.
static inline int32_t half(Fixed v) { return v >> 1; }

// Two halves multiplied and brought back to Fixed: (H(u) H(v)) >> 14.
static inline Fixed product2(Fixed u, Fixed v) {
    return (half(u) * half(v)) >> 14;
}

// Three halves, the first two combined first: ((H(u) H(v) >> 15) H(w)) >> 14.
static inline Fixed product3(Fixed u, Fixed v, Fixed w) {
    return (((half(u) * half(v)) >> 15) * half(w)) >> 14;
}

void matrix_rotate_euler(Matrix4 *matrix, Fixed a, Fixed b, Fixed c) {
    Fixed sa = fixed_sin(a), sb = fixed_sin(b), sc = fixed_sin(c);
    Fixed ca = fixed_cos(a), cb = fixed_cos(b), cc = fixed_cos(c);
    Fixed (*m)[4] = matrix->m;
    m[0][0] = product2(ca, cc) + product3(sa, sb, sc);
    m[0][1] = product2(cb, sc);
    m[0][2] = product2(-cc, sa) + product3(ca, sb, sc);
    m[1][0] = product2(-ca, sc) + product3(cc, sa, sb);
    m[1][1] = product2(cb, cc);
    m[1][2] = product2(sa, sc) + product3(ca, cc, sb);
    m[2][0] = product2(cb, sa);
    m[2][1] = -sb;
    m[2][2] = product2(ca, cb);
}

void matrix_scale(Matrix4 *matrix, Fixed sx, Fixed sy, Fixed sz) {
    const Fixed rows[4][4] = {{sx, 0, 0, 0},
                              {0, sy, 0, 0},
                              {0, 0, sz, 0},
                              {0, 0, 0, FIXED_ONE}};
    matrix_set_rows(matrix, rows);
}

void matrix_translate(Matrix4 *matrix, Fixed x, Fixed y, Fixed z) {
    matrix->m[3][0] = wrap_add(matrix->m[3][0], x);
    matrix->m[3][1] = wrap_add(matrix->m[3][1], y);
    matrix->m[3][2] = wrap_add(matrix->m[3][2], z);
}

void matrix_set_translation(Matrix4 *matrix, Fixed x, Fixed y, Fixed z) {
    matrix->m[3][0] = x;
    matrix->m[3][1] = y;
    matrix->m[3][2] = z;
}

void current_add_translation(const Matrix4 *matrix) {
    for (int k = 0; k < 3; k++)
        current_matrix->m[3][k] = wrap_add(current_matrix->m[3][k], matrix->m[3][k]);
}

void current_multiply(const Matrix4 *matrix) {
    const Fixed (*m)[4] = matrix->m;
    const Fixed (*c)[4] = current_matrix->m;
    Matrix4 result;
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            int32_t sum = 0;
            for (int k = 0; k < 4; k++) {
                // The 64-bit product cannot overflow (|a b| < 2^62); the
                // arithmetic shift rounds it towards minus infinity.
                int64_t term = (static_cast<int64_t>(m[i][k]) * c[k][j]) >> FIXED_SHIFT;
                sum = wrap_add(sum, static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(term))));
            }
            result.m[i][j] = sum;
        }
    }
    *current_matrix = result;
}

void matrix_push(void) {
    if (matrix_stack_top >= MATRIX_STACK_SLOTS - 1) return;  // no slot above
    matrix_stack[matrix_stack_top + 1] = matrix_stack[matrix_stack_top];
    matrix_stack_top++;
    current_matrix = &matrix_stack[matrix_stack_top];
}

void matrix_pop(void) {
    if (matrix_stack_top <= 0) return;  // slot 0 is the base
    matrix_stack_top--;
    current_matrix = &matrix_stack[matrix_stack_top];
}
