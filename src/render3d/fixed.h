// The 16.16 fixed-point number the whole 3D path computes in, and its angle
// units. Nothing here multiplies: each operation states how its products are
// formed (see the CONVENTIONS block in render3d/render3d.h).
#ifndef RENDER3D_FIXED_H
#define RENDER3D_FIXED_H

#include <cstdint>

// Signed 32-bit 16.16 number: value = raw / 65536. Sums wrap in 32 bits,
// right shifts are arithmetic (towards minus infinity), divisions truncate
// towards zero.
typedef int32_t Fixed;

constexpr int FIXED_SHIFT = 16;
constexpr Fixed FIXED_ONE = 1 << FIXED_SHIFT;  // 1.0
constexpr Fixed FIXED_HALF = FIXED_ONE / 2;    // 0.5

// Angles in Fixed degrees: one degree is FIXED_ONE.
constexpr Fixed FIXED_DEGREE = FIXED_ONE;
constexpr Fixed FIXED_QUARTER_TURN = 90 * FIXED_DEGREE;  // 0x5A0000
constexpr Fixed FIXED_HALF_TURN = 180 * FIXED_DEGREE;
constexpr Fixed FIXED_FULL_TURN = 360 * FIXED_DEGREE;    // 0x1680000

// Angles in eighths of a degree (the particle effect's unit).
constexpr int EIGHTHS_PER_DEGREE = 8;
constexpr int EIGHTHS_QUARTER_TURN = 90 * EIGHTHS_PER_DEGREE;  // 720
constexpr int EIGHTHS_FULL_TURN = 360 * EIGHTHS_PER_DEGREE;    // 2880

// Whole number n as Fixed (n must lie within -32768 .. 32767).
constexpr Fixed fixed_from_int(int32_t n) {
    return static_cast<Fixed>(static_cast<uint32_t>(n) << FIXED_SHIFT);
}

// Integer part, rounded towards minus infinity (so -0.5 gives -1).
constexpr int32_t fixed_int(Fixed f) { return f >> FIXED_SHIFT; }

// 32-bit wrapping sum, difference and negation, free of the undefined
// behaviour C++ gives signed overflow.
constexpr int32_t wrap_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t wrap_sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
constexpr int32_t wrap_neg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }
// Low 32 bits of the product, as the hardware's 32-bit multiply gives them.
constexpr int32_t wrap_mul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// a shifted left by n bits within 32 bits (bits shifted out are lost), the
// same bit pattern a plain shift gives on non-negative values.
constexpr int32_t wrap_shl(int32_t a, int n) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) << n);
}

#endif
