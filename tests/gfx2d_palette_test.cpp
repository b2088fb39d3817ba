// The fixed palette: anchor entries and the hue-ring rule over all rings.
#include <gtest/gtest.h>

#include "gfx2d/palette.h"

namespace {
uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 24 | g << 16 | b << 8; }
}  // namespace

TEST(Palette, AnchorEntries) {
    EXPECT_EQ(Palette[0], rgb(0, 0, 0));
    EXPECT_EQ(Palette[1], rgb(0, 0, 0xA8));
    EXPECT_EQ(Palette[6], rgb(0xA8, 0x57, 0x00));
    EXPECT_EQ(Palette[7], rgb(0xA8, 0xA8, 0xA8));
    EXPECT_EQ(Palette[8], rgb(0x57, 0x57, 0x57));
    EXPECT_EQ(Palette[14], rgb(0xFF, 0xFF, 0x57));
    EXPECT_EQ(Palette[15], rgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(Palette[16], rgb(0, 0, 0));
    EXPECT_EQ(Palette[19], rgb(0x2F, 0x2F, 0x2F));
    EXPECT_EQ(Palette[28], rgb(0xB7, 0xB7, 0xB7));
    EXPECT_EQ(Palette[31], rgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(Palette[32], rgb(0, 0, 0xFF));
    EXPECT_EQ(Palette[36], rgb(0xFF, 0, 0xFF));
    EXPECT_EQ(Palette[37], rgb(0xFF, 0, 0xBF));
    EXPECT_EQ(Palette[40], rgb(0xFF, 0, 0));
    EXPECT_EQ(Palette[44], rgb(0xFF, 0xFF, 0));
    EXPECT_EQ(Palette[48], rgb(0, 0xFF, 0));
    EXPECT_EQ(Palette[52], rgb(0, 0xFF, 0xFF));
    EXPECT_EQ(Palette[55], rgb(0, 0x40, 0xFF));
    EXPECT_EQ(Palette[56], rgb(0x7F, 0x7F, 0xFF));
    for (int i = 248; i < 256; i++) EXPECT_EQ(Palette[i], 0u) << i;
    for (int i = 0; i < 256; i++) EXPECT_EQ(Palette[i] & 0xFF, 0u) << "low byte of " << i;
}

TEST(Palette, EveryRingWalksTheColorWheel) {
    const uint8_t levels[9][5] = {
        {0x00, 0x40, 0x7F, 0xBF, 0xFF}, {0x7F, 0x9F, 0xBF, 0xDF, 0xFF}, {0xB7, 0xC7, 0xD8, 0xE8, 0xFF},
        {0x00, 0x1F, 0x38, 0x57, 0x70}, {0x38, 0x47, 0x57, 0x60, 0x70}, {0x50, 0x58, 0x60, 0x68, 0x70},
        {0x00, 0x10, 0x20, 0x30, 0x40}, {0x20, 0x28, 0x30, 0x38, 0x40}, {0x2F, 0x30, 0x37, 0x3F, 0x40}};
    for (int ring = 0; ring < 9; ring++) {
        const uint8_t *L = levels[ring];
        const int base = 32 + 24 * ring;
        // Walk the wheel as six arcs of four, each moving one component
        // between L0 and L4 while the others hold.
        uint32_t expected[24];
        for (int k = 0; k < 4; k++) {
            expected[k] = rgb(L[k], L[0], L[4]);        // blue -> magenta: red rises
            expected[4 + k] = rgb(L[4], L[0], L[4 - k]); // magenta -> red: blue falls
            expected[8 + k] = rgb(L[4], L[k], L[0]);    // red -> yellow: green rises
            expected[12 + k] = rgb(L[4 - k], L[4], L[0]);// yellow -> green: red falls
            expected[16 + k] = rgb(L[0], L[4], L[k]);   // green -> cyan: blue rises
            expected[20 + k] = rgb(L[0], L[4 - k], L[4]);// cyan -> blue: green falls
        }
        for (int j = 0; j < 24; j++) EXPECT_EQ(Palette[base + j], expected[j]) << "ring " << ring << " entry " << j;
    }
}
