// Builds the palette from its rule at compile time; the tests re-derive the
// anchor entries independently.
#include "gfx2d/palette.h"

#include <array>

namespace {

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 24 | g << 16 | b << 8; }

// Base colours 0..15 as (R, G, B).
constexpr uint8_t base_colors[PALETTE_BASE_COLORS][3] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0xA8}, {0x00, 0xA8, 0x00}, {0x00, 0xA8, 0xA8},
    {0xA8, 0x00, 0x00}, {0xA8, 0x00, 0xA8}, {0xA8, 0x57, 0x00}, {0xA8, 0xA8, 0xA8},
    {0x57, 0x57, 0x57}, {0x57, 0x57, 0xFF}, {0x57, 0xFF, 0x57}, {0x57, 0xFF, 0xFF},
    {0xFF, 0x57, 0x57}, {0xFF, 0x57, 0xFF}, {0xFF, 0xFF, 0x57}, {0xFF, 0xFF, 0xFF},
};

// Greys 16..31, R = G = B.
constexpr uint8_t grey_levels[PALETTE_GREYS] = {0x00, 0x17, 0x20, 0x2F, 0x38, 0x47, 0x50, 0x60,
                                     0x70, 0x80, 0x90, 0xA0, 0xB7, 0xC8, 0xE0, 0xFF};

// The five levels L0 < .. < L4 of each of the nine hue rings at 32, 56, .., 224.
constexpr uint8_t ring_levels[PALETTE_RINGS][5] = {
    {0x00, 0x40, 0x7F, 0xBF, 0xFF}, {0x7F, 0x9F, 0xBF, 0xDF, 0xFF},
    {0xB7, 0xC7, 0xD8, 0xE8, 0xFF}, {0x00, 0x1F, 0x38, 0x57, 0x70},
    {0x38, 0x47, 0x57, 0x60, 0x70}, {0x50, 0x58, 0x60, 0x68, 0x70},
    {0x00, 0x10, 0x20, 0x30, 0x40}, {0x20, 0x28, 0x30, 0x38, 0x40},
    {0x2F, 0x30, 0x37, 0x3F, 0x40},
};

// Entry j of a ring walks the colour wheel blue -> magenta -> red -> yellow
// -> green -> cyan -> back towards blue, one component moving per group of
// four entries while the other two sit at L0 or L4.
constexpr uint32_t ring_color(const uint8_t *L, int j) {
    if (j < 4) return rgb(L[j], L[0], L[4]);
    if (j < 8) return rgb(L[4], L[0], L[8 - j]);
    if (j < 12) return rgb(L[4], L[j - 8], L[0]);
    if (j < 16) return rgb(L[16 - j], L[4], L[0]);
    if (j < 20) return rgb(L[0], L[4], L[j - 16]);
    return rgb(L[0], L[24 - j], L[4]);
}

constexpr std::array<uint32_t, 256> build_palette() {
    std::array<uint32_t, 256> p{};
    for (int i = 0; i < PALETTE_BASE_COLORS; i++)
        p[i] = rgb(base_colors[i][0], base_colors[i][1], base_colors[i][2]);
    for (int i = 0; i < PALETTE_GREYS; i++)
        p[palette_grey(i)] = rgb(grey_levels[i], grey_levels[i], grey_levels[i]);
    for (int ring = 0; ring < PALETTE_RINGS; ring++)
        for (int j = 0; j < PALETTE_RING_HUES; j++) p[palette_ring(ring, j)] = ring_color(ring_levels[ring], j);
    // The blacks, PALETTE_BLACKS_FIRST on, stay 0.
    return p;
}

constexpr std::array<uint32_t, 256> palette_table = build_palette();

}  // namespace

// The exported C array is filled from the table eight entries at a time.
const uint32_t Palette[256] = {
#define P8(i) palette_table[i], palette_table[i + 1], palette_table[i + 2], palette_table[i + 3], \
              palette_table[i + 4], palette_table[i + 5], palette_table[i + 6], palette_table[i + 7]
    P8(0),   P8(8),   P8(16),  P8(24),  P8(32),  P8(40),  P8(48),  P8(56),
    P8(64),  P8(72),  P8(80),  P8(88),  P8(96),  P8(104), P8(112), P8(120),
    P8(128), P8(136), P8(144), P8(152), P8(160), P8(168), P8(176), P8(184),
    P8(192), P8(200), P8(208), P8(216), P8(224), P8(232), P8(240), P8(248),
#undef P8
};
