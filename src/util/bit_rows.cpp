// Packing rows of 1-bit pixels.
#include "util/bit_rows.h"

void bit_row_pack(const uint8_t *pixels, int count, BitOrder order, uint8_t *bits) {
    for (int byte = 0; byte * 8 < count; byte++) {
        unsigned value = 0;
        for (int i = 0; i < 8 && byte * 8 + i < count; i++) {
            if (pixels[byte * 8 + i] == 0) continue;
            value |= order == BITS_LEFTMOST_LOW ? 1u << i : 0x80u >> i;
        }
        bits[byte] = static_cast<uint8_t>(value);
    }
}
