// image_sheet: pictures before and after they kept their colours, side by
// side (docs/image_sheet.png). One row a picture, five panels a row: its
// true colours; what the engine showed before (the file's indices through
// the engine's palette, what the raw option still shows; a true-colour
// file, having no indices, was refused); and the engine's colours now with
// no dithering, the ordered pattern and error diffusion.
//
//   image_sheet OUT.png [IN ...]
//
// Without IN the rows are the tool's own pictures, drawn by code in whole
// numbers and square roots, so the same on every machine: a sunset in a
// 256-colour palette of its own (eight ramps of 32 shades, as a paint
// program of the VGA days saved pictures), the same sunset in true colour,
// and a colour chart (every hue from white to black, a grey ramp and a
// ramp of skin tones). With IN, a row for each file (PNG or PCX, by
// content), cut to its middle 256 x 192 when larger. Pictures are mapped
// whole and cut after, as the engine would show them.
//
// Writes OUT.png as an 8-bit RGB PNG and prints one line on standard
// output. Status 0; 1 with one "image_sheet: ..." line on standard error
// for a picture it cannot read or a sheet it cannot write; 2 for arguments
// it cannot take.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "assets/image.h"
#include "assets/pcx.h"  // texture_destroy
#include "gfx2d/glyphs.h"
#include "gfx2d/palette.h"
#include "platform/program_args.h"

static const char USAGE[] =
    "usage: image_sheet OUT.png [IN ...]\n"
    "Draws pictures before and after they kept their colours: true colours, the file's\n"
    "indices through the engine's palette (as before), and the engine's colours with no\n"
    "dithering, ordered and diffusion. Without IN, the tool's own pictures.\n";

namespace {

// The tool's own pictures.
constexpr int OWN_WIDTH_PX = 192;
constexpr int OWN_HEIGHT_PX = 128;
// The largest panel; a larger picture shows its middle.
constexpr int PANEL_MAX_WIDTH_PX = 256;
constexpr int PANEL_MAX_HEIGHT_PX = 192;
constexpr int COLUMNS = 5;
constexpr int MARGIN_PX = 8;
constexpr int GLYPH_WIDTH_PX = 8;
constexpr int GLYPH_HEIGHT_PX = 16;
constexpr int TEXT_GAP_PX = 4;
constexpr uint8_t BACKGROUND[3] = {40, 40, 44};
constexpr uint8_t INK[3] = {225, 225, 225};
constexpr uint8_t REFUSED_FILL[3] = {20, 20, 22};
const char *const COLUMN_TITLES[COLUMNS] = {"true colours", "before: indices", "now: no dither", "now: ordered",
                                            "now: diffusion"};

// A picture of RGB triples, row by row.
struct Rgb {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// One row of the sheet: the picture's name and its five panels; a panel
// without pixels was refused.
struct Row {
    std::string caption;
    Rgb panels[COLUMNS];
};

// --- The tool's own pictures ---

// Eight ramps of colour, each a few stops from dark to light: the sunset's
// palette holds 32 shades of each.
constexpr int RAMPS = 8;
constexpr int RAMP_SHADES = 32;
constexpr int LEVEL_MAX = 1023;  // a ramp's finest steps, for true colour
enum Ramp { SKY, SUN, CLOUD, FAR_HILLS, WATER, GRASS, PLUM, PEACH };
struct RampStops {
    int count;
    uint8_t rgb[4][3];
};
constexpr RampStops RAMP_STOPS[RAMPS] = {
    {4, {{18, 22, 70}, {96, 64, 140}, {236, 120, 96}, {255, 212, 140}}},    // sky: night to the glow
    {3, {{240, 110, 30}, {255, 190, 70}, {255, 250, 215}}},                  // sun
    {3, {{80, 52, 100}, {230, 140, 150}, {255, 228, 210}}},                  // clouds
    {3, {{30, 30, 70}, {80, 70, 120}, {170, 130, 160}}},                     // far hills in haze
    {3, {{6, 24, 48}, {30, 96, 120}, {150, 200, 210}}},                      // water
    {4, {{8, 30, 14}, {40, 96, 36}, {120, 170, 60}, {215, 225, 130}}},       // grass
    {4, {{26, 8, 40}, {104, 36, 156}, {186, 116, 232}, {250, 230, 255}}},    // a plum-coloured ball
    {4, {{64, 30, 22}, {170, 100, 76}, {236, 176, 144}, {255, 236, 220}}},   // a peach-coloured ball
};

// The colour `level` (0 .. LEVEL_MAX) of a ramp: straight lines between
// its stops, rounded.
void ramp_color(int ramp, int level, uint8_t *out) {
    const RampStops &stops = RAMP_STOPS[ramp];
    level = std::clamp(level, 0, LEVEL_MAX);
    const int position = level * (stops.count - 1);
    const int segment = std::min(position / LEVEL_MAX, stops.count - 2);
    const int along = position - segment * LEVEL_MAX;
    for (int c = 0; c < 3; c++)
        out[c] = static_cast<uint8_t>(
            (stops.rgb[segment][c] * (LEVEL_MAX - along) + stops.rgb[segment + 1][c] * along + LEVEL_MAX / 2) /
            LEVEL_MAX);
}

struct Shade {
    int ramp;
    int level;
};

// The light on a ball of radius r at offset (dx, dy) from its middle, lit
// from the upper right and a little from the front: a level, or -1 outside
// the ball.
int ball_level(int dx, int dy, int r) {
    const int inside = r * r - dx * dx - dy * dy;
    if (inside < 0) return -1;
    const double nz = std::sqrt(static_cast<double>(inside));
    // Light direction (0.5, -0.6, 0.62), about unit length.
    const double lit = std::max(0.0, (0.5 * dx - 0.6 * dy + 0.62 * nz) / r);
    const double highlight = lit > 0.94 ? (lit - 0.94) * 2500.0 : 0.0;
    return std::clamp(static_cast<int>(60.0 + 780.0 * lit + highlight), 0, LEVEL_MAX);
}

// The sunset at (x, y): sky with clouds and a sun low over hills and
// water, a grassy bank in front with two balls on it.
Shade sunset_shade(int x, int y) {
    const int horizon = 84, sun_x = 132, sun_y = 70, sun_r = 13;
    const int ball_x = 54, ball_y = 94, ball_r = 20, small_x = 90, small_y = 106, small_r = 11;
    // The balls stand in front of everything.
    int level = ball_level(x - ball_x, y - ball_y, ball_r);
    if (level >= 0) return {PLUM, level};
    level = ball_level(x - small_x, y - small_y, small_r);
    if (level >= 0) return {PEACH, level};
    // The bank: a slope rising to the left, lit from the right.
    const int bank_top = 96 + (x - 30) * (x - 30) / 90;
    if (y >= bank_top) {
        int shade = 760 - (y - bank_top) * 14 + (x - 30) * 5;
        // The big ball's shadow falls to its lower left.
        const int sx = x - (ball_x - 12), sy = 2 * (y - (ball_y + ball_r - 2));
        if (sx * sx + sy * sy < 18 * 18) shade -= 300;
        return {GRASS, shade};
    }
    if (y >= horizon) {
        // Water, darker towards the bank, with the sun's path on it.
        const int depth = y - horizon;
        const int off = std::abs(x - sun_x);
        if (off < 3 + depth / 4 && depth % 4 < 2) return {SUN, 860 - depth * 14 - off * 40};
        return {WATER, 620 - depth * 30};
    }
    // Far hills: two low mounds on the horizon, lighter at the top.
    const int hill_a = std::max(0, 14 * 45 * 45 - 14 * (x - 40) * (x - 40)) / (45 * 45);
    const int hill_b = std::max(0, 10 * 40 * 40 - 10 * (x - 172) * (x - 172)) / (40 * 40);
    const int ridge = horizon - std::max(hill_a, hill_b);
    if (y >= ridge) return {FAR_HILLS, 760 - (y - ridge) * 60};
    const int dx = x - sun_x, dy = y - sun_y, d2 = dx * dx + dy * dy;
    if (d2 <= sun_r * sun_r) return {SUN, LEVEL_MAX - d2 * 500 / (sun_r * sun_r)};
    // Clouds: two flat ellipses, brightest in the middle.
    const struct {
        int x, y, rx, ry;
    } clouds[] = {{58, 30, 34, 6}, {150, 22, 26, 5}, {110, 48, 20, 3}};
    for (const auto &c : clouds) {
        const int e = (x - c.x) * (x - c.x) * 1024 / (c.rx * c.rx) + (y - c.y) * (y - c.y) * 1024 / (c.ry * c.ry);
        if (e < 1024) return {CLOUD, 300 + (1024 - e) * 600 / 1024 + (y - c.y + c.ry) * 20};
    }
    // Sky: night at the top to the glow at the horizon, brighter round the sun.
    const int glow = LEVEL_MAX - static_cast<int>(std::sqrt(static_cast<double>(d2)) * 14.0);
    return {SKY, std::max(y * LEVEL_MAX / horizon, glow)};
}

// The sunset in true colour, each ramp in its finest steps.
void sunset_color(int x, int y, uint8_t *out) {
    const Shade s = sunset_shade(x, y);
    ramp_color(s.ramp, s.level, out);
}

// The sunset in its own 256-colour palette: ramp r's shade s is entry
// 32 r + s.
ImagePixels sunset_indexed(std::vector<uint8_t> *pixels) {
    ImagePixels image = {};
    image.width = OWN_WIDTH_PX;
    image.height = OWN_HEIGHT_PX;
    image.palette_colors = 256;
    for (int i = 0; i < 256; i++)
        ramp_color(i / RAMP_SHADES, (i % RAMP_SHADES) * LEVEL_MAX / (RAMP_SHADES - 1), image.palette + 3 * i);
    pixels->resize(static_cast<size_t>(OWN_WIDTH_PX) * OWN_HEIGHT_PX);
    for (int y = 0; y < OWN_HEIGHT_PX; y++)
        for (int x = 0; x < OWN_WIDTH_PX; x++) {
            const Shade s = sunset_shade(x, y);
            const int shade = (std::clamp(s.level, 0, LEVEL_MAX) * (RAMP_SHADES - 1) + LEVEL_MAX / 2) / LEVEL_MAX;
            (*pixels)[static_cast<size_t>(y) * OWN_WIDTH_PX + x] = static_cast<uint8_t>(s.ramp * RAMP_SHADES + shade);
        }
    image.pixels = pixels->data();
    return image;
}

// A true-colour picture of the tool's own, drawn by `color`.
template <typename Color>
ImagePixels own_rgb(std::vector<uint8_t> *pixels, Color color) {
    ImagePixels image = {};
    image.width = OWN_WIDTH_PX;
    image.height = OWN_HEIGHT_PX;
    pixels->resize(static_cast<size_t>(OWN_WIDTH_PX) * OWN_HEIGHT_PX * 3);
    for (int y = 0; y < OWN_HEIGHT_PX; y++)
        for (int x = 0; x < OWN_WIDTH_PX; x++) color(x, y, pixels->data() + 3 * (static_cast<size_t>(y) * OWN_WIDTH_PX + x));
    image.pixels = pixels->data();
    return image;
}

// The chart at (x, y): the hues left to right, from white at the top
// through the full colour to black; below, a grey ramp and a ramp of skin
// tones.
void chart_color(int x, int y, uint8_t *out) {
    const int w = OWN_WIDTH_PX - 1;
    if (y >= 112) {
        const uint8_t dark[3] = {60, 30, 20}, light[3] = {255, 225, 200};
        for (int c = 0; c < 3; c++) out[c] = static_cast<uint8_t>((dark[c] * (w - x) + light[c] * x + w / 2) / w);
        return;
    }
    if (y >= 96) {
        out[0] = out[1] = out[2] = static_cast<uint8_t>((255 * x + w / 2) / w);
        return;
    }
    // Hue 0 .. 1535: six sixths of 256 steps, red, yellow, green, cyan,
    // blue, magenta and back.
    const int hue = x * 1536 / OWN_WIDTH_PX, sixth = hue / 256, step = hue % 256;
    int pure[3];
    const int up = step, down = 255 - step;
    const int table[6][3] = {{255, up, 0}, {down, 255, 0}, {0, 255, up}, {0, down, 255}, {up, 0, 255}, {255, 0, down}};
    for (int c = 0; c < 3; c++) pure[c] = table[sixth][c];
    for (int c = 0; c < 3; c++)
        out[c] = static_cast<uint8_t>(y < 48 ? (255 * (47 - y) + pure[c] * y + 23) / 47 : (pure[c] * (95 - y) + 23) / 47);
}

// --- The panels ---

// The picture's true colours, transparency composited onto black as the
// engine does.
Rgb true_colors(const ImagePixels *image) {
    Rgb out;
    out.width = image->width;
    out.height = image->height;
    const size_t count = static_cast<size_t>(image->width) * image->height;
    out.pixels.resize(count * 3);
    for (size_t i = 0; i < count; i++) {
        const uint8_t *rgb = image->palette_colors > 0 ? image->palette + 3 * image->pixels[i] : image->pixels + 3 * i;
        const int alpha = image->alpha != nullptr ? image->alpha[i] : 255;
        for (int c = 0; c < 3; c++) out.pixels[3 * i + c] = static_cast<uint8_t>((rgb[c] * alpha + 127) / 255);
    }
    return out;
}

// The picture as the engine shows it with `options`; false when refused.
bool engine_colors(const ImagePixels *image, const ImageOptions *options, Rgb *out) {
    Texture *texture = image_to_texture(image, options, nullptr);
    if (texture == nullptr) return false;
    out->width = texture->width;
    out->height = texture->height;
    const size_t count = static_cast<size_t>(texture->width) * texture->height;
    out->pixels.resize(count * 3);
    for (size_t i = 0; i < count; i++)
        for (int c = 0; c < 3; c++)
            out->pixels[3 * i + c] = static_cast<uint8_t>(Palette[texture->pixels[i]] >> (24 - 8 * c));
    texture_destroy(texture);
    return true;
}

// The middle of `picture`, at most the largest panel.
void cut_middle(Rgb *picture) {
    const int width = std::min(picture->width, PANEL_MAX_WIDTH_PX);
    const int height = std::min(picture->height, PANEL_MAX_HEIGHT_PX);
    const int left = (picture->width - width) / 2, top = (picture->height - height) / 2;
    std::vector<uint8_t> cut(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; y++)
        memcpy(&cut[static_cast<size_t>(y) * width * 3],
               &picture->pixels[(static_cast<size_t>(top + y) * picture->width + left) * 3], static_cast<size_t>(width) * 3);
    picture->width = width;
    picture->height = height;
    picture->pixels.swap(cut);
}

// The five panels of one picture; false when memory ran out.
bool make_row(const ImagePixels *image, const std::string &caption, Row *row) {
    row->caption = caption;
    row->panels[0] = true_colors(image);
    ImageOptions options = IMAGE_OPTIONS_DEFAULT;
    options.raw = true;
    if (image->palette_colors > 0 && !engine_colors(image, &options, &row->panels[1])) return false;
    options.raw = false;
    const PaletteDither ditherings[3] = {PALETTE_DITHER_NONE, PALETTE_DITHER_ORDERED, PALETTE_DITHER_DIFFUSION};
    for (int i = 0; i < 3; i++) {
        options.dither = ditherings[i];
        if (!engine_colors(image, &options, &row->panels[2 + i])) return false;
    }
    for (Rgb &panel : row->panels)
        if (!panel.pixels.empty()) cut_middle(&panel);
    return true;
}

// --- The sheet ---

struct Sheet {
    int width, height;
    std::vector<uint8_t> rgb;
};

void fill(Sheet *sheet, int left, int top, int width, int height, const uint8_t *color) {
    for (int y = top; y < top + height; y++)
        for (int x = left; x < left + width; x++) memcpy(&sheet->rgb[(static_cast<size_t>(y) * sheet->width + x) * 3], color, 3);
}

// `text` in the 8 x 16 glyphs from (left, top), cut at `max_width`.
void write_text(Sheet *sheet, int left, int top, int max_width, const char *text) {
    for (int i = 0; text[i] != '\0' && (i + 1) * GLYPH_WIDTH_PX <= max_width; i++) {
        const uint8_t *glyph = glyphs_8x16 + (text[i] & 0x7F) * GLYPH_HEIGHT_PX;
        for (int y = 0; y < GLYPH_HEIGHT_PX; y++)
            for (int x = 0; x < GLYPH_WIDTH_PX; x++)
                if (glyph[y] >> x & 1)
                    memcpy(&sheet->rgb[(static_cast<size_t>(top + y) * sheet->width + left + i * GLYPH_WIDTH_PX + x) * 3],
                           INK, 3);
    }
}

Sheet draw_sheet(const std::vector<Row> &rows) {
    int column_width = static_cast<int>(strlen("before: indices")) * GLYPH_WIDTH_PX;
    for (const Row &row : rows) column_width = std::max(column_width, row.panels[0].width);
    const int line = GLYPH_HEIGHT_PX + TEXT_GAP_PX;
    Sheet sheet;
    sheet.width = MARGIN_PX + COLUMNS * (column_width + MARGIN_PX);
    sheet.height = MARGIN_PX + line;
    for (const Row &row : rows) sheet.height += line + row.panels[0].height + MARGIN_PX;
    sheet.rgb.resize(static_cast<size_t>(sheet.width) * sheet.height * 3);
    fill(&sheet, 0, 0, sheet.width, sheet.height, BACKGROUND);
    for (int c = 0; c < COLUMNS; c++)
        write_text(&sheet, MARGIN_PX + c * (column_width + MARGIN_PX), MARGIN_PX, column_width, COLUMN_TITLES[c]);
    int top = MARGIN_PX + line;
    for (const Row &row : rows) {
        write_text(&sheet, MARGIN_PX, top, sheet.width - 2 * MARGIN_PX, row.caption.c_str());
        top += line;
        const int height = row.panels[0].height;
        for (int c = 0; c < COLUMNS; c++) {
            const int left = MARGIN_PX + c * (column_width + MARGIN_PX);
            const Rgb &panel = row.panels[c];
            if (panel.pixels.empty()) {
                fill(&sheet, left, top, row.panels[0].width, height, REFUSED_FILL);
                write_text(&sheet, left + 4, top + 4, row.panels[0].width - 8, "no indices:");
                write_text(&sheet, left + 4, top + 4 + line, row.panels[0].width - 8, "refused");
                continue;
            }
            for (int y = 0; y < panel.height; y++)
                memcpy(&sheet.rgb[(static_cast<size_t>(top + y) * sheet.width + left) * 3],
                       &panel.pixels[static_cast<size_t>(y) * panel.width * 3], static_cast<size_t>(panel.width) * 3);
        }
        top += height + MARGIN_PX;
    }
    return sheet;
}

}  // namespace

int main(int argc, char **argv) {
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 1, argc > 1 ? argc - 1 : 1, USAGE)) return USAGE_ERROR_STATUS;
    std::vector<Row> rows;
    bool made = true;
    if (argc == 2) {
        std::vector<uint8_t> indexed, sunset, chart;
        const ImagePixels own[3] = {sunset_indexed(&indexed), own_rgb(&sunset, sunset_color),
                                    own_rgb(&chart, chart_color)};
        const char *const captions[3] = {"a sunset in a palette of its own: 8 ramps of 32 shades, as a PCX holds it",
                                         "the same sunset in true colour", "hues, greys and skin tones in true colour"};
        for (int i = 0; i < 3 && made; i++) {
            rows.emplace_back();
            made = make_row(&own[i], captions[i], &rows.back());
        }
    }
    for (int i = 2; i < argc && made; i++) {
        ImageWhy why;
        ImagePixels *image = image_read(argv[i], &why);
        if (image == nullptr) {
            fprintf(stderr, "image_sheet: cannot read '%s': %s\n", argv[i], why.text);
            return 1;
        }
        const char *slash = strrchr(argv[i], '/');
        char caption[160];
        if (image->palette_colors > 0)
            snprintf(caption, sizeof caption, "%s: %d x %d, %d colours", slash ? slash + 1 : argv[i], image->width,
                     image->height, image->palette_colors);
        else
            snprintf(caption, sizeof caption, "%s: %d x %d, true colour", slash ? slash + 1 : argv[i], image->width,
                     image->height);
        rows.emplace_back();
        made = make_row(image, caption, &rows.back());
        image_pixels_free(image);
    }
    if (!made) {
        fprintf(stderr, "image_sheet: out of memory\n");
        return 1;
    }
    const Sheet sheet = draw_sheet(rows);
    if (image_save_png_rgb(argv[1], sheet.width, sheet.height, sheet.rgb.data()) < 0) return 1;
    printf("%s: %zu pictures, %d x %d\n", argv[1], rows.size(), sheet.width, sheet.height);
    return 0;
}
