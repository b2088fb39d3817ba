// 4 x 4 Fixed matrices: the constructors, the product that composes a
// matrix onto the current transform, and the 8-slot matrix stack whose top
// slot is the current matrix read by the vertex transform. Layout and
// product order are in the CONVENTIONS block of render3d/render3d.h.
#ifndef RENDER3D_MATRIX_H
#define RENDER3D_MATRIX_H

#include "render3d/fixed.h"

// m[row][col]; row 3 holds the translation, column c yields coordinate c.
struct Matrix4 {
    Fixed m[4][4];
};

constexpr int MATRIX_STACK_SLOTS = 8;

// The stack's slots (all zero at start: slot 0 is NOT the identity until
// someone sets it), the index of the current slot, and a pointer to it.
// Invariant: current_matrix == &matrix_stack[matrix_stack_top] and
// 0 <= matrix_stack_top < MATRIX_STACK_SLOTS.
extern Matrix4 matrix_stack[MATRIX_STACK_SLOTS];
extern int matrix_stack_top;
extern Matrix4 *current_matrix;

// M := identity (65536 on the diagonal).
void matrix_identity(Matrix4 *matrix);

// The current matrix := identity.
void current_identity(void);

// M := rotation by `angle` Fixed degrees about X, Y or Z (all 16 entries).
// With row vectors, a positive angle turns +Y towards +Z about X, +Z towards
// +X about Y, +X towards +Y about Z. Cosines come from the table, so a
// rotation by 0 has 65535 where a cosine stands.
void matrix_rotate_x(Matrix4 *matrix, Fixed angle);
void matrix_rotate_y(Matrix4 *matrix, Fixed angle);
void matrix_rotate_z(Matrix4 *matrix, Fixed angle);

// Upper-left 3 x 3 of M := turn by c about Z, then by b about X, then by a
// about Y, formed from halved operands in 32-bit products (so 0, 0, 0
// gives 65532 on the diagonal). The other seven entries are unchanged.
void matrix_rotate_euler(Matrix4 *matrix, Fixed a, Fixed b, Fixed c);

// M := scale by sx, sy, sz (all 16 entries).
void matrix_scale(Matrix4 *matrix, Fixed sx, Fixed sy, Fixed sz);

// Adds (x, y, z) to M's translation row (32-bit wrapping); nothing else.
void matrix_translate(Matrix4 *matrix, Fixed x, Fixed y, Fixed z);

// Sets M's translation row to (x, y, z); nothing else.
void matrix_set_translation(Matrix4 *matrix, Fixed x, Fixed y, Fixed z);

// Adds M's translation row to the current matrix's (32-bit wrapping).
void current_add_translation(const Matrix4 *matrix);

// current := M x current: points go through M first, then through the
// former current matrix. Each term is a 64-bit product shifted right by 16
// (towards minus infinity) and truncated to 32 bits; the four terms of an
// entry add with 32-bit wrapping. M may be the current matrix itself.
void current_multiply(const Matrix4 *matrix);

// Copies the current matrix one slot up and makes that slot current. At
// the top slot (7 pushes outstanding) it does nothing.
void matrix_push(void);

// Makes the slot below current (the slot left is not cleared). At slot 0 it
// does nothing.
void matrix_pop(void);

#endif
