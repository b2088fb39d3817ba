// Pictures into the engine's palette: the nearest engine colour for any
// 24-bit colour, through a table built once, and whole pictures turned
// into palette indices without dithering, with an ordered (Bayer) pattern
// or with error diffusion. Needs only the palette; knows nothing of files.
//
// Nearness is a distance in a perceptual space: CIELAB by default, OkLab
// and plain RGB for comparison (PaletteMetric). On 172 real pictures
// from Debian games (102 with palettes of their own, 35 PNG and the same
// as 24-bit PCX), judged by CIEDE2000, CIELAB's mean error was 3.73,
// OkLab's 3.94, RGB's 4.02 (and ImageMagick's -remap onto the same
// palette 4.18): tools/compare-images.sh measures it.
//
// The table has 64 x 64 x 64 cells, 6 bits of each of R, G and B, one
// byte each (256 KiB). A cell stands for one colour: in each channel the
// palette's own level when one falls inside the cell (every level the
// palette uses falls in a cell of its own), otherwise the middle of the
// cell. The cell holds the engine entry nearest to that colour, exactly as
// a search over all 256 entries finds it (ties to the lowest index). So a
// colour that is an engine colour maps to an entry of that very colour
// (the lowest index that has it), and any other colour to the entry
// nearest to it after its channels are taken to 6 bits.
#ifndef GFX2D_PALETTE_MAP_H
#define GFX2D_PALETTE_MAP_H

#include <cstdint>

// How nearness is measured. Coordinates are integers (the space's values
// scaled by PALETTE_METRIC_SCALE and rounded), distances their squared
// Euclidean distance, so that every search is exact and repeatable.
enum PaletteMetric {
    PALETTE_METRIC_OKLAB = 0,   // OkLab (L 0 .. 1)
    PALETTE_METRIC_CIELAB = 1,  // CIE L*a*b* under D65 (L 0 .. 100)
    PALETTE_METRIC_RGB = 2,     // the sRGB values themselves (0 .. 255)
};
constexpr int PALETTE_METRICS = 3;                                       // how many there are
constexpr PaletteMetric PALETTE_METRIC_DEFAULT = PALETTE_METRIC_CIELAB;  // the measured winner
// Units per unit of each space: about 16000 from darkest to brightest in
// every one, so coordinates stay below 2^15 and squared distances fit in
// 64 bits with room to spare.
constexpr double PALETTE_METRIC_SCALE[PALETTE_METRICS] = {16384.0, 160.0, 64.0};

// Table geometry: cell (r >> 2, g >> 2, b >> 2), red the slowest.
constexpr int PALETTE_MAP_CELL_BITS = 6;
constexpr int PALETTE_MAP_SIDE = 1 << PALETTE_MAP_CELL_BITS;  // cells per channel
constexpr int PALETTE_MAP_CELLS = PALETTE_MAP_SIDE * PALETTE_MAP_SIDE * PALETTE_MAP_SIDE;

// The nearest engine entry of every cell, for one metric.
struct PaletteMap {
    PaletteMetric metric;                // how nearness was measured
    uint8_t nearest[PALETTE_MAP_CELLS];  // engine index of each cell
};

// The cell of a colour.
inline int palette_map_cell(uint8_t r, uint8_t g, uint8_t b) {
    return (r >> 2) << (2 * PALETTE_MAP_CELL_BITS) | (g >> 2) << PALETTE_MAP_CELL_BITS | b >> 2;
}

// The engine index a colour maps to.
inline uint8_t palette_map_nearest(const PaletteMap *map, uint8_t r, uint8_t g, uint8_t b) {
    return map->nearest[palette_map_cell(r, g, b)];
}

// The channel value (0 .. 255, perhaps with a half) that channel cell
// `level_cell` (0 .. 63) stands for. Outside 0 .. 63 it is taken into it.
double palette_map_cell_level(int level_cell);

// The coordinates of the sRGB colour (r, g, b), each 0 .. 255 (fractions
// allowed), in `metric`'s space, written to out[0 .. 2].
void palette_metric_coords(PaletteMetric metric, double r, double g, double b, int32_t out[3]);

// Squared distance between two points of one space.
inline int64_t palette_metric_distance(const int32_t a[3], const int32_t b[3]) {
    const int64_t d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

// Fills `map` for `metric` (an unknown metric counts as the default).
// About 10 ms; no allocation.
void palette_map_build(PaletteMap *map, PaletteMetric metric);

// The table for PALETTE_METRIC_DEFAULT, built on the first call and kept
// for the whole process (one static PaletteMap); safe to call from several
// threads at once. Never null.
const PaletteMap *palette_map_shared(void);

// Maps the `count` (at most 256) RGB triples of a file's palette: entry i
// that is exactly the engine's entry i keeps index i (so a picture saved
// with the engine's palette keeps its indices, duplicates of black and
// white included); every other entry takes its nearest engine colour.
void palette_map_entries(const PaletteMap *map, const uint8_t *rgb, int count, uint8_t *out);

// How a picture's colours between engine colours are spread.
enum PaletteDither {
    PALETTE_DITHER_NONE = 0,       // each pixel its nearest colour: stable in motion
    PALETTE_DITHER_ORDERED = 1,    // an 8 x 8 Bayer pattern, the same in every frame
    PALETTE_DITHER_DIFFUSION = 2,  // Floyd-Steinberg error diffusion, serpentine
};

// The Bayer pattern's reach: a pixel of the ordered dither is moved by
// -16 .. +15 in each channel (the same in all three) before its lookup,
// about the distance between neighbouring levels of the palette.
constexpr int PALETTE_DITHER_ORDERED_SPREAD = 32;

// Turns `width` x `height` pixels (RGB triples, row by row) into engine
// indices in `out` (width * height bytes). Pixels where `decided` (null,
// or one byte per pixel) is not 0 keep the index already in `out`: they
// take part in no dithering, neither moved nor passing error on. A pixel
// whose colour is an engine colour takes that entry whatever the
// dithering, so a picture made of engine colours comes out the same in
// every mode. Error diffusion works in whole numbers (sixteenths of a
// channel step): the result is the same on every machine. 0; -1 when
// memory for the diffusion's two error rows cannot be had or an argument
// is null or negative, with `out` then unchanged.
int palette_map_pixels(const PaletteMap *map, const uint8_t *rgb, const uint8_t *decided, int width, int height,
                       PaletteDither dither, uint8_t *out);

#endif
