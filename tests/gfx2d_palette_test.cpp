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

// The names of the regions stand where their colours are: the base colours
// by what they show, the greys by brightness, each ring by its brightness
// and saturation, each hue by its place on the wheel.
TEST(Palette, RegionNamesStandWhereTheirColorsAre) {
    const struct {
        uint8_t index;
        uint32_t color;
    } base[] = {
        {PALETTE_BLACK, rgb(0, 0, 0)},           {PALETTE_BLUE, rgb(0, 0, 0xA8)},
        {PALETTE_GREEN, rgb(0, 0xA8, 0)},        {PALETTE_CYAN, rgb(0, 0xA8, 0xA8)},
        {PALETTE_RED, rgb(0xA8, 0, 0)},          {PALETTE_MAGENTA, rgb(0xA8, 0, 0xA8)},
        {PALETTE_ORANGE, rgb(0xA8, 0x57, 0)},    {PALETTE_LIGHT_GREY, rgb(0xA8, 0xA8, 0xA8)},
        {PALETTE_DARK_GREY, rgb(0x57, 0x57, 0x57)}, {PALETTE_LIGHT_BLUE, rgb(0x57, 0x57, 0xFF)},
        {PALETTE_LIGHT_GREEN, rgb(0x57, 0xFF, 0x57)}, {PALETTE_LIGHT_CYAN, rgb(0x57, 0xFF, 0xFF)},
        {PALETTE_LIGHT_RED, rgb(0xFF, 0x57, 0x57)}, {PALETTE_LIGHT_MAGENTA, rgb(0xFF, 0x57, 0xFF)},
        {PALETTE_YELLOW, rgb(0xFF, 0xFF, 0x57)}, {PALETTE_WHITE, rgb(0xFF, 0xFF, 0xFF)},
    };
    int named = 0;
    for (const auto &b : base) {
        EXPECT_EQ(Palette[b.index], b.color) << static_cast<int>(b.index);
        named |= 1 << b.index;
    }
    EXPECT_EQ(named, 0xFFFF) << "each base colour has one name";

    // Greys: black to white, R = G = B, brighter at every level; a level
    // outside 0 .. 15 is the nearest end.
    EXPECT_EQ(palette_grey(0), PALETTE_BASE_COLORS);
    EXPECT_EQ(Palette[palette_grey(0)], rgb(0, 0, 0));
    EXPECT_EQ(Palette[palette_grey(15)], rgb(0xFF, 0xFF, 0xFF));
    for (int level = 1; level < PALETTE_GREYS; level++) {
        const uint32_t c = Palette[palette_grey(level)];
        EXPECT_EQ(c >> 24, (c >> 16) & 0xFF) << level;
        EXPECT_EQ(c >> 24, (c >> 8) & 0xFF) << level;
        EXPECT_GT(c >> 24, Palette[palette_grey(level - 1)] >> 24) << level;
    }
    EXPECT_EQ(palette_grey(-4), palette_grey(0));
    EXPECT_EQ(palette_grey(40), palette_grey(15));

    // The six hues of the bright ring are the pure colours.
    EXPECT_EQ(Palette[palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_BLUE)], rgb(0, 0, 0xFF));
    EXPECT_EQ(Palette[palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_MAGENTA)], rgb(0xFF, 0, 0xFF));
    EXPECT_EQ(Palette[palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_RED)], rgb(0xFF, 0, 0));
    EXPECT_EQ(Palette[palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_YELLOW)], rgb(0xFF, 0xFF, 0));
    EXPECT_EQ(Palette[palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_GREEN)], rgb(0, 0xFF, 0));
    EXPECT_EQ(Palette[palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_CYAN)], rgb(0, 0xFF, 0xFF));

    // Every ring: red's strongest component is its brightness, its weakest
    // its saturation; the hues go round; a ring outside 0 .. 8 is the
    // nearest end.
    const struct {
        int ring;
        uint32_t strongest;
        double weakest_share_min, weakest_share_max;
    } rings[] = {
        {PALETTE_RING_BRIGHT, 0xFF, 0.0, 0.0},      {PALETTE_RING_BRIGHT_SOFT, 0xFF, 0.45, 0.55},
        {PALETTE_RING_BRIGHT_PALE, 0xFF, 0.7, 0.76}, {PALETTE_RING_DIM, 0x70, 0.0, 0.0},
        {PALETTE_RING_DIM_SOFT, 0x70, 0.45, 0.55},  {PALETTE_RING_DIM_PALE, 0x70, 0.7, 0.76},
        {PALETTE_RING_DARK, 0x40, 0.0, 0.0},        {PALETTE_RING_DARK_SOFT, 0x40, 0.45, 0.55},
        {PALETTE_RING_DARK_PALE, 0x40, 0.7, 0.76},
    };
    for (const auto &r : rings) {
        const uint32_t red = Palette[palette_ring(r.ring, PALETTE_HUE_RED)];
        const uint32_t strongest = red >> 24, weakest = (red >> 16) & 0xFF;
        EXPECT_EQ(strongest, r.strongest) << "ring " << r.ring;
        EXPECT_EQ((red >> 8) & 0xFF, weakest) << "ring " << r.ring;
        const double share = static_cast<double>(weakest) / static_cast<double>(strongest);
        EXPECT_GE(share, r.weakest_share_min) << "ring " << r.ring;
        EXPECT_LE(share, r.weakest_share_max) << "ring " << r.ring;
        EXPECT_EQ(palette_ring(r.ring, PALETTE_RING_HUES), palette_ring(r.ring, 0));
        EXPECT_EQ(palette_ring(r.ring, -1), palette_ring(r.ring, PALETTE_RING_HUES - 1));
        EXPECT_EQ(palette_ring(r.ring, 5 * PALETTE_RING_HUES + 7), palette_ring(r.ring, 7));
    }
    EXPECT_EQ(palette_ring(-1, 3), palette_ring(0, 3));
    EXPECT_EQ(palette_ring(PALETTE_RINGS, 3), palette_ring(PALETTE_RINGS - 1, 3));

    // The regions follow one another: 16 base colours, 16 greys, the rings
    // from 32 to 247, then the blacks.
    static_assert(palette_ring(PALETTE_RING_BRIGHT, 0) == 32, "the rings start at 32");
    static_assert(palette_ring(PALETTE_RING_DARK_PALE, PALETTE_RING_HUES - 1) == 247, "and end at 247");
    EXPECT_EQ(PALETTE_BLACKS_FIRST, 248);
    for (int i = PALETTE_BLACKS_FIRST; i < PALETTE_BLACKS_FIRST + PALETTE_BLACKS; i++) EXPECT_EQ(Palette[i], 0u) << i;
}
