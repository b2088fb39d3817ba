// The nearest-colour table and the three ways of turning a picture into
// palette indices. The table is filled by an exact search, block by block,
// over the few entries that can win anywhere in the block.
#include "gfx2d/palette_map.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "gfx2d/palette.h"
#include "util/alloc.h"

namespace {

uint8_t palette_red(int index) { return static_cast<uint8_t>(Palette[index] >> 24); }
uint8_t palette_green(int index) { return static_cast<uint8_t>(Palette[index] >> 16); }
uint8_t palette_blue(int index) { return static_cast<uint8_t>(Palette[index] >> 8); }

uint32_t packed(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint32_t>(r) << 24 | static_cast<uint32_t>(g) << 16 | static_cast<uint32_t>(b) << 8;
}

// An sRGB channel value (0 .. 255) as linear light (0 .. 1), by the sRGB
// transfer function.
double srgb_to_linear(double value) {
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The cube root of v >= 0 (light is never negative; 0 for anything
// below), to the last bit or two of a double: a first guess from the
// exponent divided by three (the bit pattern over three plus the bias's
// two thirds: within a few percent), then two steps of Halley's method,
// each cubing the relative error (at most 7e-15 of the C library's cbrt
// over 1e-12 .. 1.2). Several times quicker than cbrt, which the table's
// 786432 roots would wait on.
double cube_root(double v) {
    if (!(v > 0.0)) return 0.0;
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = bits / 3 + 0x2A9F7893782DA1CEull;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    for (int step = 0; step < 2; step++) {
        const double cube = x * x * x;
        x *= (cube + 2.0 * v) / (2.0 * cube + v);
    }
    return x;
}

// OkLab from linear sRGB, with the published matrices of the space.
void oklab(double r, double g, double b, double out[3]) {
    const double l = cube_root(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
    const double m = cube_root(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
    const double s = cube_root(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
    out[0] = 0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s;
    out[1] = 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s;
    out[2] = 0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s;
}

// CIE L*a*b* from linear sRGB: XYZ by the sRGB matrix, then the CIE
// function against the D65 white.
double cielab_f(double t) {
    const double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? cube_root(t) : t / (3.0 * delta * delta) + 4.0 / 29.0;
}

void cielab(double r, double g, double b, double out[3]) {
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    const double fy = cielab_f(y);
    out[0] = 116.0 * fy - 16.0;
    out[1] = 500.0 * (cielab_f(x) - fy);
    out[2] = 200.0 * (fy - cielab_f(z));
}

// One distinct engine colour: its coordinates and the lowest index that
// has it.
struct Entry {
    int32_t coords[3];
    uint8_t index;
};

// The engine's distinct colours in one space, by index.
struct Space {
    Entry entries[256];
    int count;
};

void space_build(Space *space, PaletteMetric metric) {
    space->count = 0;
    for (int i = 0; i < 256; i++) {
        bool seen = false;
        for (int j = 0; j < i && !seen; j++) seen = Palette[j] == Palette[i];
        if (seen) continue;
        Entry *entry = &space->entries[space->count++];
        palette_metric_coords(metric, palette_red(i), palette_green(i), palette_blue(i), entry->coords);
        entry->index = static_cast<uint8_t>(i);
    }
}

// Coordinates from values already in linear light (or, for RGB, the
// values themselves): the part of palette_metric_coords after the
// transfer function.
void coords_from_linear(PaletteMetric metric, const double linear[3], int32_t out[3]) {
    double values[3];
    if (metric == PALETTE_METRIC_RGB) {
        values[0] = linear[0], values[1] = linear[1], values[2] = linear[2];
    } else if (metric == PALETTE_METRIC_CIELAB) {
        cielab(linear[0], linear[1], linear[2], values);
    } else {
        oklab(linear[0], linear[1], linear[2], values);
    }
    for (int k = 0; k < 3; k++) out[k] = static_cast<int32_t>(std::floor(values[k] * PALETTE_METRIC_SCALE[metric] + 0.5));
}

// The table is filled a block of 4 x 4 x 4 cells at a time. The block's
// middle cell m has its nearest entry at distance d; every cell of the
// block lies within r of m. For a cell x, the nearest entry is at most
// d + r away (the entry nearest m is), and an entry e is at least
// |m e| - r away; so only entries with |m e| <= d + 2r can be nearest to
// any cell of the block, ties included. Each cell then searches those
// alone. Bounds are widened by a whole unit against rounding in the
// square roots; a wider set only costs time.
constexpr int BLOCK_CELLS = 4;  // per side

void build_block(PaletteMap *map, const Space *space, PaletteMetric metric, const double levels[][PALETTE_MAP_SIDE],
                 int r0, int g0, int b0) {
    int32_t cells[BLOCK_CELLS][BLOCK_CELLS][BLOCK_CELLS][3];
    for (int r = 0; r < BLOCK_CELLS; r++)
        for (int g = 0; g < BLOCK_CELLS; g++)
            for (int b = 0; b < BLOCK_CELLS; b++) {
                const double linear[3] = {levels[0][r0 + r], levels[1][g0 + g], levels[2][b0 + b]};
                coords_from_linear(metric, linear, cells[r][g][b]);
            }
    const int32_t *middle = cells[BLOCK_CELLS / 2][BLOCK_CELLS / 2][BLOCK_CELLS / 2];
    int64_t reach = 0;
    for (const auto &plane : cells)
        for (const auto &row : plane)
            for (const auto &cell : row) reach = std::max(reach, palette_metric_distance(middle, cell));
    struct Candidate {
        const Entry *entry;
        double to_middle;
    };
    Candidate all[256];
    int64_t nearest = INT64_MAX;
    for (int j = 0; j < space->count; j++) {
        const int64_t distance = palette_metric_distance(middle, space->entries[j].coords);
        nearest = std::min(nearest, distance);
        all[j] = {&space->entries[j], std::sqrt(static_cast<double>(distance))};
    }
    const double bound = std::sqrt(static_cast<double>(nearest)) + 2.0 * std::sqrt(static_cast<double>(reach)) + 1.0;
    Candidate candidates[256];
    int count = 0;
    for (int j = 0; j < space->count; j++)
        if (all[j].to_middle <= bound) candidates[count++] = all[j];
    // Nearest the middle first: the first is mostly the winner, and once
    // an entry's distance from the middle less the cell's exceeds the best
    // distance found (by a unit, against rounding), it and all after it are
    // farther from the cell.
    std::sort(candidates, candidates + count,
              [](const Candidate &a, const Candidate &b) { return a.to_middle < b.to_middle; });
    for (int r = 0; r < BLOCK_CELLS; r++)
        for (int g = 0; g < BLOCK_CELLS; g++)
            for (int b = 0; b < BLOCK_CELLS; b++) {
                const int32_t *coords = cells[r][g][b];
                const double from_middle = std::sqrt(static_cast<double>(palette_metric_distance(coords, middle)));
                int64_t best = INT64_MAX;
                double best_root = 0;
                uint8_t best_index = 0;
                for (int k = 0; k < count; k++) {
                    if (k > 0 && candidates[k].to_middle - from_middle > best_root + 1.0) break;
                    const Entry *entry = candidates[k].entry;
                    const int64_t distance = palette_metric_distance(coords, entry->coords);
                    if (distance < best || (distance == best && entry->index < best_index)) {
                        best = distance, best_index = entry->index;
                        best_root = std::sqrt(static_cast<double>(best));
                    }
                }
                const int cell = ((r0 + r) << (2 * PALETTE_MAP_CELL_BITS)) | ((g0 + g) << PALETTE_MAP_CELL_BITS) |
                                 (b0 + b);
                map->nearest[cell] = best_index;
            }
}

// The Bayer threshold of (x, y), 0 .. 63, by the recursive rule: the 2 x 2
// pattern [0 2; 3 1], and each doubling puts 4 * M + 0, + 2, + 3, + 1 in
// the four quadrants. Bit k of x and y picks the quadrant at size 2^(k+1),
// which weighs 4^(2-k) in the threshold.
constexpr int bayer_threshold(int x, int y) {
    int value = 0;
    for (int k = 0; k < 3; k++) {
        const int bx = (x >> k) & 1, by = (y >> k) & 1;
        const int quadrant = by ? (bx ? 1 : 3) : (bx ? 2 : 0);
        value += quadrant << (2 * (2 - k));
    }
    return value;
}
static_assert(bayer_threshold(0, 0) == 0 && bayer_threshold(1, 0) == 32 && bayer_threshold(0, 1) == 48 &&
                  bayer_threshold(1, 1) == 16 && bayer_threshold(2, 0) == 8 && bayer_threshold(7, 7) == 21,
              "the 8 x 8 Bayer matrix");

uint8_t clamp_channel(int32_t value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// The index `map` gives a pixel, and whether its colour is that entry's
// exactly (such a pixel is never dithered).
uint8_t exact_or_nearest(const PaletteMap *map, const uint8_t *pixel, bool *exact) {
    const uint8_t index = palette_map_nearest(map, pixel[0], pixel[1], pixel[2]);
    *exact = Palette[index] == packed(pixel[0], pixel[1], pixel[2]);
    return index;
}

void map_plain(const PaletteMap *map, const uint8_t *rgb, const uint8_t *decided, size_t count, uint8_t *out) {
    for (size_t i = 0; i < count; i++) {
        if (decided != nullptr && decided[i] != 0) continue;
        out[i] = palette_map_nearest(map, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    }
}

void map_ordered(const PaletteMap *map, const uint8_t *rgb, const uint8_t *decided, int width, int height,
                 uint8_t *out) {
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            if (decided != nullptr && decided[i] != 0) continue;
            const uint8_t *pixel = rgb + 3 * i;
            bool exact;
            out[i] = exact_or_nearest(map, pixel, &exact);
            if (exact) continue;
            // -16 .. +15: half the threshold less half the spread.
            const int shift = bayer_threshold(x & 7, y & 7) * PALETTE_DITHER_ORDERED_SPREAD / 64 -
                              PALETTE_DITHER_ORDERED_SPREAD / 2;
            out[i] = palette_map_nearest(map, clamp_channel(pixel[0] + shift), clamp_channel(pixel[1] + shift),
                                         clamp_channel(pixel[2] + shift));
        }
    }
}

// The error carried to a pixel, in sixteenths of a channel step, rounded to
// whole steps (halves up), without relying on how >> treats negatives.
int32_t sixteenths_to_steps(int32_t sixteenths) {
    const int32_t shifted = sixteenths + 8;
    return shifted >= 0 ? shifted / 16 : -((-shifted + 15) / 16);
}

// Floyd-Steinberg: each pixel's error (the wanted colour less the entry's)
// goes 7/16 to the next pixel in the row, 3/16, 5/16 and 1/16 to the
// three below; rows alternate direction. Rows of errors are kept with a
// spare column at each end, so the spread never tests for the edges.
int map_diffusion(const PaletteMap *map, const uint8_t *rgb, const uint8_t *decided, int width, int height,
                  uint8_t *out) {
    const size_t row_values = (static_cast<size_t>(width) + 2) * 3;
    int32_t *errors = static_cast<int32_t *>(engine_calloc(2 * row_values, sizeof(int32_t)));
    if (errors == nullptr) return -1;
    int32_t *current = errors, *next = errors + row_values;
    for (int y = 0; y < height; y++) {
        std::fill(next, next + row_values, 0);
        const int step = y % 2 == 0 ? 1 : -1;
        for (int k = 0; k < width; k++) {
            const int x = step > 0 ? k : width - 1 - k;
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            if (decided != nullptr && decided[i] != 0) continue;  // its error is dropped
            const uint8_t *pixel = rgb + 3 * i;
            bool exact;
            out[i] = exact_or_nearest(map, pixel, &exact);
            if (exact) continue;
            int32_t *here = current + 3 * (x + 1);
            uint8_t wanted[3];
            for (int c = 0; c < 3; c++) wanted[c] = clamp_channel(pixel[c] + sixteenths_to_steps(here[c]));
            const uint8_t index = palette_map_nearest(map, wanted[0], wanted[1], wanted[2]);
            out[i] = index;
            const int32_t shown[3] = {palette_red(index), palette_green(index), palette_blue(index)};
            int32_t *ahead = here + 3 * step;
            int32_t *below = next + 3 * (x + 1);
            for (int c = 0; c < 3; c++) {
                const int32_t error = wanted[c] - shown[c];
                ahead[c] += 7 * error;
                below[c - 3 * step] += 3 * error;
                below[c] += 5 * error;
                below[c + 3 * step] += error;
            }
        }
        std::swap(current, next);
    }
    engine_free(errors);
    return 0;
}

}  // namespace

double palette_map_cell_level(int level_cell) {
    const int cell = level_cell < 0 ? 0 : level_cell >= PALETTE_MAP_SIDE ? PALETTE_MAP_SIDE - 1 : level_cell;
    for (int i = 0; i < 256; i++) {
        const uint8_t levels[3] = {palette_red(i), palette_green(i), palette_blue(i)};
        for (uint8_t level : levels)
            if (level >> 2 == cell) return level;
    }
    return cell * 4 + 1.5;
}

void palette_metric_coords(PaletteMetric metric, double r, double g, double b, int32_t out[3]) {
    if (metric != PALETTE_METRIC_CIELAB && metric != PALETTE_METRIC_RGB) metric = PALETTE_METRIC_OKLAB;
    const double linear[3] = {metric == PALETTE_METRIC_RGB ? r : srgb_to_linear(r),
                              metric == PALETTE_METRIC_RGB ? g : srgb_to_linear(g),
                              metric == PALETTE_METRIC_RGB ? b : srgb_to_linear(b)};
    coords_from_linear(metric, linear, out);
}

void palette_map_build(PaletteMap *map, PaletteMetric metric) {
    if (metric != PALETTE_METRIC_CIELAB && metric != PALETTE_METRIC_RGB) metric = PALETTE_METRIC_OKLAB;
    map->metric = metric;
    Space space;
    space_build(&space, metric);
    // The levels the cells stand for, in linear light where the space
    // starts from it; the same for all three channels.
    double levels[3][PALETTE_MAP_SIDE];
    for (int c = 0; c < PALETTE_MAP_SIDE; c++) {
        const double level = palette_map_cell_level(c);
        levels[0][c] = levels[1][c] = levels[2][c] = metric == PALETTE_METRIC_RGB ? level : srgb_to_linear(level);
    }
    for (int r = 0; r < PALETTE_MAP_SIDE; r += BLOCK_CELLS)
        for (int g = 0; g < PALETTE_MAP_SIDE; g += BLOCK_CELLS)
            for (int b = 0; b < PALETTE_MAP_SIDE; b += BLOCK_CELLS) build_block(map, &space, metric, levels, r, g, b);
}

const PaletteMap *palette_map_shared(void) {
    // Built once, on the first call, even when threads race to it: a
    // function-local static is initialized exactly once.
    static PaletteMap map;
    static const PaletteMap *const built = [] {
        palette_map_build(&map, PALETTE_METRIC_DEFAULT);
        return &map;
    }();
    return built;
}

void palette_map_entries(const PaletteMap *map, const uint8_t *rgb, int count, uint8_t *out) {
    if (count > 256) count = 256;
    for (int i = 0; i < count; i++) {
        const uint8_t *color = rgb + 3 * i;
        out[i] = Palette[i] == packed(color[0], color[1], color[2])
                     ? static_cast<uint8_t>(i)
                     : palette_map_nearest(map, color[0], color[1], color[2]);
    }
}

int palette_map_pixels(const PaletteMap *map, const uint8_t *rgb, const uint8_t *decided, int width, int height,
                       PaletteDither dither, uint8_t *out) {
    if (map == nullptr || rgb == nullptr || out == nullptr || width < 0 || height < 0) return -1;
    if (dither == PALETTE_DITHER_DIFFUSION) return map_diffusion(map, rgb, decided, width, height, out);
    if (dither == PALETTE_DITHER_ORDERED) {
        map_ordered(map, rgb, decided, width, height, out);
    } else {
        map_plain(map, rgb, decided, static_cast<size_t>(width) * static_cast<size_t>(height), out);
    }
    return 0;
}
