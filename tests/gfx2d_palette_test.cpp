// The fixed palette: anchor entries and the hue-ring rule over all rings;
// the nearest-colour table against a search over every entry, and the
// three ways of turning a picture into indices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "gfx2d/palette.h"
#include "gfx2d/palette_map.h"
#include "util/alloc.h"

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

// --- The nearest-colour table -------------------------------------------

namespace {

uint8_t channel(int index, int shift) { return static_cast<uint8_t>(Palette[index] >> shift); }

// The entry nearest to `coords` by a search over all 256, ties to the
// lowest index.
uint8_t brute_nearest(const int32_t entries[256][3], const int32_t coords[3]) {
    int best = 0;
    for (int i = 1; i < 256; i++)
        if (palette_metric_distance(coords, entries[i]) < palette_metric_distance(coords, entries[best])) best = i;
    return static_cast<uint8_t>(best);
}

// A picture's mean colour, channel by channel, through the palette.
void mean_shown(const std::vector<uint8_t> &indices, double mean[3]) {
    mean[0] = mean[1] = mean[2] = 0;
    for (uint8_t index : indices)
        for (int c = 0; c < 3; c++) mean[c] += channel(index, 24 - 8 * c);
    for (int c = 0; c < 3; c++) mean[c] /= static_cast<double>(indices.size());
}

}  // namespace

// Published values of the two spaces (OkLab's author's table; the CIE
// formulas under D65), to about the precision of the integer coordinates.
TEST(PaletteMap, CoordinatesMatchPublishedValues) {
    const struct {
        PaletteMetric metric;
        int r, g, b;
        double want[3];
    } cases[] = {
        {PALETTE_METRIC_OKLAB, 255, 255, 255, {1.0, 0.0, 0.0}},
        {PALETTE_METRIC_OKLAB, 255, 0, 0, {0.62796, 0.22486, 0.12585}},
        {PALETTE_METRIC_OKLAB, 0, 255, 0, {0.86644, -0.23389, 0.17950}},
        {PALETTE_METRIC_OKLAB, 0, 0, 255, {0.45201, -0.03246, -0.31153}},
        {PALETTE_METRIC_CIELAB, 255, 255, 255, {100.0, 0.0, 0.0}},
        {PALETTE_METRIC_CIELAB, 255, 0, 0, {53.2408, 80.0925, 67.2032}},
        {PALETTE_METRIC_CIELAB, 0, 0, 255, {32.2970, 79.1875, -107.8602}},
        {PALETTE_METRIC_CIELAB, 128, 128, 128, {53.5850, 0.0, 0.0}},
        {PALETTE_METRIC_RGB, 12, 34, 255, {12, 34, 255}},
    };
    for (const auto &c : cases) {
        int32_t coords[3];
        palette_metric_coords(c.metric, c.r, c.g, c.b, coords);
        const double scale = PALETTE_METRIC_SCALE[c.metric];
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(coords[k] / scale, c.want[k], 2e-3 * (c.metric == PALETTE_METRIC_OKLAB ? 1 : 100))
                << "metric " << c.metric << " colour " << c.r << " " << c.g << " " << c.b << " coordinate " << k;
    }
}

// Every cell of every metric's table against a search over all 256
// entries at the colour the cell stands for.
TEST(PaletteMap, EveryCellIsTheNearestEntryByAFullSearch) {
    static PaletteMap map;
    for (PaletteMetric metric : {PALETTE_METRIC_OKLAB, PALETTE_METRIC_CIELAB, PALETTE_METRIC_RGB}) {
        palette_map_build(&map, metric);
        EXPECT_EQ(map.metric, metric);
        int32_t entries[256][3];
        for (int i = 0; i < 256; i++)
            palette_metric_coords(metric, channel(i, 24), channel(i, 16), channel(i, 8), entries[i]);
        double levels[PALETTE_MAP_SIDE];
        for (int c = 0; c < PALETTE_MAP_SIDE; c++) levels[c] = palette_map_cell_level(c);
        int wrong = 0;
        for (int r = 0; r < PALETTE_MAP_SIDE; r++)
            for (int g = 0; g < PALETTE_MAP_SIDE; g++)
                for (int b = 0; b < PALETTE_MAP_SIDE; b++) {
                    int32_t coords[3];
                    palette_metric_coords(metric, levels[r], levels[g], levels[b], coords);
                    const int cell = palette_map_cell(static_cast<uint8_t>(4 * r), static_cast<uint8_t>(4 * g),
                                                      static_cast<uint8_t>(4 * b));
                    const uint8_t want = brute_nearest(entries, coords);
                    if (map.nearest[cell] != want && wrong++ < 5)
                        ADD_FAILURE() << "metric " << metric << " cell " << r << " " << g << " " << b << ": "
                                      << int(map.nearest[cell]) << ", a full search gives " << int(want);
                }
        EXPECT_EQ(wrong, 0) << "metric " << metric;
    }
    // The shared table is the default metric's.
    palette_map_build(&map, PALETTE_METRIC_DEFAULT);
    const PaletteMap *shared = palette_map_shared();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared, palette_map_shared());
    EXPECT_EQ(shared->metric, PALETTE_METRIC_DEFAULT);
    EXPECT_EQ(std::vector<uint8_t>(shared->nearest, shared->nearest + PALETTE_MAP_CELLS),
              std::vector<uint8_t>(map.nearest, map.nearest + PALETTE_MAP_CELLS));
}

// Each level the palette uses has a cell of its own and the cell stands
// for it, so every engine colour maps to an entry of that very colour, the
// lowest index that has it; a file palette equal to the engine's keeps
// every index, duplicates included.
TEST(PaletteMap, EngineColorsMapToThemselves) {
    int owner[PALETTE_MAP_SIDE];
    for (int &o : owner) o = -1;
    for (int i = 0; i < 256; i++)
        for (int shift : {24, 16, 8}) {
            const int level = channel(i, shift);
            EXPECT_TRUE(owner[level >> 2] == -1 || owner[level >> 2] == level)
                << "levels " << owner[level >> 2] << " and " << level << " share a cell";
            owner[level >> 2] = level;
            EXPECT_EQ(palette_map_cell_level(level >> 2), level);
        }
    EXPECT_EQ(palette_map_cell_level(1), 5.5);  // no level in 4 .. 7: the middle
    EXPECT_EQ(palette_map_cell_level(-3), palette_map_cell_level(0));
    EXPECT_EQ(palette_map_cell_level(99), palette_map_cell_level(63));

    const PaletteMap *map = palette_map_shared();
    std::vector<uint8_t> file_palette;
    for (int i = 0; i < 256; i++) {
        const uint8_t index = palette_map_nearest(map, channel(i, 24), channel(i, 16), channel(i, 8));
        EXPECT_EQ(Palette[index], Palette[i]) << i;
        int lowest = 0;
        while (Palette[lowest] != Palette[i]) lowest++;
        EXPECT_EQ(index, lowest) << i;
        for (int shift : {24, 16, 8}) file_palette.push_back(channel(i, shift));
    }
    uint8_t mapped[256];
    palette_map_entries(map, file_palette.data(), 256, mapped);
    for (int i = 0; i < 256; i++) EXPECT_EQ(mapped[i], i);
    // Only the entries that match keep theirs: a file palette with its
    // black and white swapped maps each to the lowest index of its colour.
    std::swap_ranges(file_palette.begin(), file_palette.begin() + 3, file_palette.begin() + 3 * 15);
    palette_map_entries(map, file_palette.data(), 256, mapped);
    EXPECT_EQ(mapped[0], PALETTE_WHITE);
    EXPECT_EQ(mapped[15], PALETTE_BLACK);
    EXPECT_EQ(mapped[7], 7);
    EXPECT_EQ(mapped[248], 248);
    // Colours between entries take the nearest: a dark red is the dim
    // ring's red, a near-white the white.
    EXPECT_EQ(palette_map_nearest(map, 0x72, 0x02, 0x01), palette_ring(PALETTE_RING_DIM, PALETTE_HUE_RED));
    EXPECT_EQ(palette_map_nearest(map, 0xFD, 0xFE, 0xFD), PALETTE_WHITE);
}

// The three ways of mapping a picture: plain lookup; the Bayer pattern,
// which depends on the position alone; diffusion, whose mean colour over a
// flat area comes closest to the wanted one. Pixels already decided are
// left alone, engine colours are never dithered.
TEST(PaletteMap, PicturesMapPlainOrderedAndDiffused) {
    const PaletteMap *map = palette_map_shared();
    const int width = 64, height = 48;
    const size_t count = width * height;
    // A flat colour between entries (a greyish blue).
    const uint8_t flat[3] = {0x64, 0x8C, 0xB4};
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < count; i++) rgb.insert(rgb.end(), flat, flat + 3);
    std::vector<uint8_t> plain(count), ordered(count), diffused(count);
    ASSERT_EQ(palette_map_pixels(map, rgb.data(), nullptr, width, height, PALETTE_DITHER_NONE, plain.data()), 0);
    ASSERT_EQ(palette_map_pixels(map, rgb.data(), nullptr, width, height, PALETTE_DITHER_ORDERED, ordered.data()), 0);
    ASSERT_EQ(palette_map_pixels(map, rgb.data(), nullptr, width, height, PALETTE_DITHER_DIFFUSION, diffused.data()),
              0);
    const uint8_t nearest = palette_map_nearest(map, flat[0], flat[1], flat[2]);
    for (uint8_t index : plain) ASSERT_EQ(index, nearest);
    double error[3];
    for (int mode = 0; mode < 3; mode++) {
        double mean[3];
        mean_shown(mode == 0 ? plain : mode == 1 ? ordered : diffused, mean);
        error[mode] = std::sqrt(std::pow(mean[0] - flat[0], 2) + std::pow(mean[1] - flat[1], 2) +
                                std::pow(mean[2] - flat[2], 2));
    }
    EXPECT_LT(error[1], error[0]) << "the ordered dither's mean is nearer the colour than one entry";
    EXPECT_LT(error[2], error[1]) << "diffusion's mean is nearer still";
    EXPECT_LT(error[2], 3.0);
    // The Bayer pattern repeats every 8 pixels each way and uses more than
    // one entry.
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            ASSERT_EQ(ordered[y * width + x], ordered[(y % 8) * width + x % 8]) << x << " " << y;
    EXPECT_GT(std::count(ordered.begin(), ordered.end(), nearest), 0);
    EXPECT_LT(std::count(ordered.begin(), ordered.end(), nearest), static_cast<long>(count));
    // Diffusion runs its rows in alternate directions: in a picture whose
    // first row is an engine colour (it passes no error on), the second
    // row comes out as that row mirrored, diffused alone left to right,
    // mirrored back.
    std::vector<uint8_t> ramp_row, mirrored_row;
    for (int x = 0; x < width; x++) {
        const uint8_t v = static_cast<uint8_t>(x * 4 + 1);
        ramp_row.insert(ramp_row.end(), {v, static_cast<uint8_t>(200 - v / 2), 0x45});
    }
    for (int x = width - 1; x >= 0; x--)
        mirrored_row.insert(mirrored_row.end(), ramp_row.begin() + 3 * x, ramp_row.begin() + 3 * x + 3);
    std::vector<uint8_t> two_rows(3 * width, 0);
    two_rows.insert(two_rows.end(), ramp_row.begin(), ramp_row.end());
    std::vector<uint8_t> both(2 * width), alone(width), forward(width);
    ASSERT_EQ(palette_map_pixels(map, two_rows.data(), nullptr, width, 2, PALETTE_DITHER_DIFFUSION, both.data()), 0);
    ASSERT_EQ(palette_map_pixels(map, mirrored_row.data(), nullptr, width, 1, PALETTE_DITHER_DIFFUSION, alone.data()),
              0);
    ASSERT_EQ(palette_map_pixels(map, ramp_row.data(), nullptr, width, 1, PALETTE_DITHER_DIFFUSION, forward.data()),
              0);
    std::reverse(alone.begin(), alone.end());
    EXPECT_EQ(std::vector<uint8_t>(both.begin() + width, both.end()), alone);
    EXPECT_NE(alone, forward) << "a ramp whose two directions differ";

    // Engine colours stay exactly theirs in every mode, and decided pixels
    // keep what out held.
    std::vector<uint8_t> engine_rgb, want(count), decided(count, 0);
    for (size_t i = 0; i < count; i++) {
        const int index = (i * 37) % 256;
        for (int shift : {24, 16, 8}) engine_rgb.push_back(channel(index, shift));
        int lowest = 0;
        while (Palette[lowest] != Palette[index]) lowest++;
        want[i] = static_cast<uint8_t>(lowest);
    }
    for (PaletteDither dither : {PALETTE_DITHER_NONE, PALETTE_DITHER_ORDERED, PALETTE_DITHER_DIFFUSION}) {
        std::vector<uint8_t> out(count, 0);
        ASSERT_EQ(palette_map_pixels(map, engine_rgb.data(), nullptr, width, height, dither, out.data()), 0);
        EXPECT_EQ(out, want) << "dither " << dither;
        std::vector<uint8_t> keyed(count, 0xEE);
        for (size_t i = 0; i < count; i += 3) decided[i] = 1;
        ASSERT_EQ(palette_map_pixels(map, rgb.data(), decided.data(), width, height, dither, keyed.data()), 0);
        for (size_t i = 0; i < count; i++)
            ASSERT_EQ(keyed[i] == 0xEE, i % 3 == 0) << "dither " << dither << " pixel " << i;
    }
    // Null arguments and a failed allocation (diffusion's error rows).
    EXPECT_EQ(palette_map_pixels(nullptr, rgb.data(), nullptr, 1, 1, PALETTE_DITHER_NONE, plain.data()), -1);
    EXPECT_EQ(palette_map_pixels(map, rgb.data(), nullptr, -1, 1, PALETTE_DITHER_NONE, plain.data()), -1);
    alloc_fail_after(0);
    std::vector<uint8_t> untouched(count, 0x11);
    EXPECT_EQ(palette_map_pixels(map, rgb.data(), nullptr, width, height, PALETTE_DITHER_DIFFUSION, untouched.data()),
              -1);
    alloc_fail_after(-1);
    EXPECT_EQ(untouched, std::vector<uint8_t>(count, 0x11));
}
