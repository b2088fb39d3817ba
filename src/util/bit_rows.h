// Rows of 1-bit pixels: packing one byte per pixel into bytes of eight
// pixels, in either of the two bit orders in use (the glyph sets keep the
// leftmost pixel in bit 0, PCX planes in bit 7).
#ifndef UTIL_BIT_ROWS_H
#define UTIL_BIT_ROWS_H

#include <cstdint>

// Where a byte keeps the leftmost of its eight pixels.
enum BitOrder {
    BITS_LEFTMOST_LOW,   // pixel j is bit j mod 8 of byte j / 8
    BITS_LEFTMOST_HIGH,  // pixel j is bit 7 - j mod 8 of byte j / 8
};

// Packs the `count` pixels at `pixels` (one byte each: 0 is a clear bit,
// any other value a set one) into the (count + 7) / 8 bytes at `bits`, in
// `order`. The last byte's bits past `count` are clear. A count of 0 or
// below writes nothing.
void bit_row_pack(const uint8_t *pixels, int count, BitOrder order, uint8_t *bits);

#endif
