// make_assets: writes the engine's data files from code, byte for byte the
// same on every run and machine (integer arithmetic only):
//   tunnel.pcx  the particle effect's image, 256 x 128, brick wall in hues
//   torus.pcx   the sample model's texture, 256 x 128, hue checkerboard
//   torus.mtl   its material ("map_Kd res/torus.pcx")
//   torus.obj   a textured torus, 24 x 12 quads = 576 triangles, unit size
//   crate.pcx   a wooden crate side, 128 x 128
//   crate.mtl   its material ("map_Kd res/crate.pcx")
//   crate.obj   a cube of side 2, each side 4 x 4 quads = 192 triangles
// Usage: make_assets [output directory, default "res"]. The files name each
// other as "res/..." (paths are taken relative to the working directory), so
// they are meant to live in res/ and be used from the repository root.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/pcx.h"
#include "gfx2d/palette.h"
#include "platform/program_args.h"
#include "util/std_fds.h"

// Both images: 256 x 128 keeps (height - 1) x width within the textured
// fill's 16-bit row offsets.
constexpr int IMAGE_WIDTH_PX = 256;
constexpr int IMAGE_HEIGHT_PX = 128;

// The engine's palette (gfx2d/palette.h): bricks in the bright and dim
// rings, speckled darker; the torus's checks bright and bright-soft.
constexpr uint8_t GREY_DARK = palette_grey(2);
constexpr uint8_t GREY_MID = palette_grey(6);
// Crate: the dim-soft ring (dull colours) and the dim ring near orange,
// halfway from red to yellow.
constexpr int HUE_ORANGE = PALETTE_HUE_RED + 2;
constexpr int CRATE_SIDE_PX = 128;

// Small integer hash for speckles: the same value for the same inputs on
// every machine.
static uint32_t speckle(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0xC2B2AE3Du;
    return h ^ (h >> 13);
}

// The engine's palette as the 768 RGB bytes a PCX file carries.
static void palette_bytes(uint8_t *out) {
    for (int i = 0; i < 256; i++) {
        out[3 * i] = static_cast<uint8_t>(Palette[i] >> 24);
        out[3 * i + 1] = static_cast<uint8_t>(Palette[i] >> 16);
        out[3 * i + 2] = static_cast<uint8_t>(Palette[i] >> 8);
    }
}

// Tunnel wall: rows of 32 x 16 bricks, every other row shifted by half a
// brick, one-pixel dark mortar. Each brick takes a hue from its place, lit
// brightest in its middle rows and speckled with the darker ring.
static void draw_tunnel(uint8_t *pixels) {
    const int brick_w = 32, brick_h = 16;
    for (int y = 0; y < IMAGE_HEIGHT_PX; y++) {
        int row = y / brick_h, in_y = y % brick_h;
        for (int x = 0; x < IMAGE_WIDTH_PX; x++) {
            int shifted = x + (row & 1) * (brick_w / 2);
            int column = shifted / brick_w, in_x = shifted % brick_w;
            uint8_t color;
            if (in_y == 0 || in_x == 0) {
                color = GREY_DARK;
            } else {
                int hue = column * 3 + row * 7;
                int ring = (in_y < 3 || in_y > brick_h - 3) ? PALETTE_RING_DIM : PALETTE_RING_BRIGHT;
                if (speckle(static_cast<uint32_t>(x), static_cast<uint32_t>(y)) % 7 == 0)
                    ring = ring == PALETTE_RING_BRIGHT ? PALETTE_RING_DIM : PALETTE_RING_DARK;
                color = palette_ring(ring, hue);
            }
            pixels[y * IMAGE_WIDTH_PX + x] = color;
        }
    }
}

// Torus skin: 8 x 4 cells of 32 x 32, hues walking round the ring (u),
// bright and pastel alternating like a checkerboard, white grid lines, and
// a dark band along the tube's outer equator (v = 0) to show the spin.
static void draw_torus_skin(uint8_t *pixels) {
    const int cell = 32;
    for (int y = 0; y < IMAGE_HEIGHT_PX; y++) {
        for (int x = 0; x < IMAGE_WIDTH_PX; x++) {
            int cx = x / cell, cy = y / cell;
            uint8_t color;
            if (x % cell == 0 || y % cell == 0) {
                color = PALETTE_WHITE;
            } else if (y > 12 && y < 20) {
                color = GREY_MID;
            } else {
                color = palette_ring((cx + cy) & 1 ? PALETTE_RING_BRIGHT_SOFT : PALETTE_RING_BRIGHT, cx * 3);
            }
            pixels[y * IMAGE_WIDTH_PX + x] = color;
        }
    }
}

// Crate side: a dark frame 12 pixels wide, horizontal planks of 26 pixels
// with dark seams and grain streaks, a diagonal brace, and nail heads at the
// frame's corners.
static void draw_crate_side(uint8_t *pixels) {
    const int frame = 12, plank = 26;
    for (int y = 0; y < CRATE_SIDE_PX; y++) {
        for (int x = 0; x < CRATE_SIDE_PX; x++) {
            bool in_frame = x < frame || y < frame || x >= CRATE_SIDE_PX - frame || y >= CRATE_SIDE_PX - frame;
            int brace = x - y;  // the brace runs from top left to bottom right
            uint8_t color;
            if (in_frame) {
                bool edge = x == 0 || y == 0 || x == CRATE_SIDE_PX - 1 || y == CRATE_SIDE_PX - 1 ||
                            x == frame - 1 || y == frame - 1 || x == CRATE_SIDE_PX - frame ||
                            y == CRATE_SIDE_PX - frame;
                color = edge ? GREY_DARK : palette_ring(PALETTE_RING_DIM, HUE_ORANGE);
                int nx = x < frame ? frame / 2 : CRATE_SIDE_PX - frame / 2;
                int ny = y < frame ? frame / 2 : CRATE_SIDE_PX - frame / 2;
                if ((x - nx) * (x - nx) + (y - ny) * (y - ny) <= 4) color = GREY_MID;
            } else if (brace >= -8 && brace <= 8) {
                color = brace == -8 || brace == 8 ? GREY_DARK : palette_ring(PALETTE_RING_DIM, HUE_ORANGE - 1);
            } else if ((y - frame) % plank == 0) {
                color = GREY_DARK;
            } else {
                // Grain: streaks that run along the plank, from a hash of
                // the row and a coarse column.
                bool streak = speckle(static_cast<uint32_t>(x / 9), static_cast<uint32_t>(y)) % 5 == 0;
                color = palette_ring(PALETTE_RING_DIM_SOFT, streak ? HUE_ORANGE - 1 : HUE_ORANGE);
            }
            pixels[y * CRATE_SIDE_PX + x] = color;
        }
    }
}

// --- Integer trigonometry for the model -----------------------------------

// Numbers of the model in units of 2^-28 (so |x| < 8 fits with room for
// products in 64 bits).
constexpr int UNIT_SHIFT = 28;
constexpr int64_t UNIT = static_cast<int64_t>(1) << UNIT_SHIFT;
constexpr int64_t PI_UNITS = 843314857;  // pi x 2^28, rounded

static int64_t mul_units(int64_t a, int64_t b) { return (a * b) / UNIT; }

// sin and cos of `step` / `steps` of a full turn by their Taylor series on
// the angle folded into -pi .. pi, to well under 10^-6.
static void sin_cos(int step, int steps, int64_t *sine, int64_t *cosine) {
    int folded = step % steps;
    if (2 * folded > steps) folded -= steps;  // now -steps/2 .. steps/2
    int64_t x = 2 * PI_UNITS * folded / steps;
    int64_t s = 0, c = 0;
    int64_t term_s = x, term_c = UNIT;  // x^(2k+1)/(2k+1)!, x^(2k)/(2k)!
    for (int k = 0; k < 14; k++) {
        s += term_s;
        c += term_c;
        term_s = -mul_units(mul_units(term_s, x), x) / ((2 * k + 2) * (2 * k + 3));
        term_c = -mul_units(mul_units(term_c, x), x) / ((2 * k + 1) * (2 * k + 2));
    }
    *sine = s;
    *cosine = c;
}

// `value` (2^-28 units) as decimal text with 4 places, rounded half away
// from zero.
static std::string decimal(int64_t value) {
    bool negative = value < 0;
    int64_t magnitude = negative ? -value : value;
    int64_t ten_thousandths = (magnitude * 10000 + UNIT / 2) >> UNIT_SHIFT;
    char text[32];
    snprintf(text, sizeof text, "%s%lld.%04lld", negative && ten_thousandths ? "-" : "",
             static_cast<long long>(ten_thousandths / 10000), static_cast<long long>(ten_thousandths % 10000));
    return text;
}

// Torus of ring radius 1.0 and tube radius 0.4 lying in the x-z plane:
// vertex (i, j) sits at angle i/24 round the ring and j/12 round the tube.
// Texture coordinates have their own seam column and row (25 x 13), so the
// skin wraps once each way without a jump.
static std::string torus_obj(void) {
    const int ring_steps = 24, tube_steps = 12;
    const int64_t ring_radius = UNIT, tube_radius = UNIT * 2 / 5;
    std::string text =
        "# Textured torus written by tools/make_assets: 24 x 12 quads as 576\n"
        "# triangles, ring radius 1, tube radius 0.4. Unit size: load with a\n"
        "# scale such as 64 (only whole units survive the transform).\n"
        "mtllib res/torus.mtl\n";
    for (int i = 0; i < ring_steps; i++) {
        int64_t ring_sin, ring_cos;
        sin_cos(i, ring_steps, &ring_sin, &ring_cos);
        for (int j = 0; j < tube_steps; j++) {
            int64_t tube_sin, tube_cos;
            sin_cos(j, tube_steps, &tube_sin, &tube_cos);
            int64_t reach = ring_radius + mul_units(tube_radius, tube_cos);
            text += "v " + decimal(mul_units(reach, ring_cos)) + " " + decimal(mul_units(tube_radius, tube_sin)) +
                    " " + decimal(mul_units(reach, ring_sin)) + "\n";
        }
    }
    for (int i = 0; i <= ring_steps; i++) {
        for (int j = 0; j <= tube_steps; j++) {
            text += "vt " + decimal(UNIT * i / ring_steps) + " " + decimal(UNIT * j / tube_steps) + "\n";
        }
    }
    auto vertex = [&](int i, int j) { return (i % ring_steps) * tube_steps + (j % tube_steps) + 1; };
    auto texcoord = [&](int i, int j) { return i * (tube_steps + 1) + j + 1; };
    auto corner = [&](int i, int j) {
        return std::to_string(vertex(i, j)) + "/" + std::to_string(texcoord(i, j));
    };
    for (int i = 0; i < ring_steps; i++) {
        for (int j = 0; j < tube_steps; j++) {
            text += "f " + corner(i, j) + " " + corner(i + 1, j) + " " + corner(i + 1, j + 1) + "\n";
            text += "f " + corner(i, j) + " " + corner(i + 1, j + 1) + " " + corner(i, j + 1) + "\n";
        }
    }
    return text;
}

// Cube from -1 to 1 on each axis. Each side is a 5 x 5 grid of its own
// vertices (4 x 4 quads) sharing one 5 x 5 grid of texture coordinates
// that spans the whole crate image. Sides are listed by their corner at
// texture (0, 0) and the two edge directions, in half units.
static std::string crate_obj(void) {
    struct Side {
        int origin[3], s[3], t[3];
    };
    const Side sides[6] = {
        {{-2, 2, 2}, {1, 0, 0}, {0, -1, 0}},    // front (z = 1)
        {{2, 2, -2}, {-1, 0, 0}, {0, -1, 0}},   // back
        {{2, 2, 2}, {0, 0, -1}, {0, -1, 0}},    // right
        {{-2, 2, -2}, {0, 0, 1}, {0, -1, 0}},   // left
        {{-2, 2, -2}, {1, 0, 0}, {0, 0, 1}},    // top
        {{-2, -2, 2}, {1, 0, 0}, {0, 0, -1}},   // bottom
    };
    const int steps = 4;
    std::string text =
        "# Textured crate written by tools/make_assets: a cube of side 2, each\n"
        "# side 4 x 4 quads, 192 triangles. Unit size: load with a scale such\n"
        "# as 64.\n"
        "mtllib res/crate.mtl\n";
    for (const Side &side : sides) {
        for (int b = 0; b <= steps; b++) {
            for (int a = 0; a <= steps; a++) {
                text += "v";
                for (int k = 0; k < 3; k++) {
                    // Half units: origin +- 2, one step of s or t is 1.
                    int half_units = side.origin[k] + a * side.s[k] + b * side.t[k];
                    text += " " + decimal(UNIT * half_units / 2);
                }
                text += "\n";
            }
        }
    }
    for (int b = 0; b <= steps; b++)
        for (int a = 0; a <= steps; a++)
            text += "vt " + decimal(UNIT * a / steps) + " " + decimal(UNIT * b / steps) + "\n";
    const int per_side = (steps + 1) * (steps + 1);
    for (int side = 0; side < 6; side++) {
        auto corner = [&](int a, int b) {
            int grid = b * (steps + 1) + a + 1;
            return std::to_string(side * per_side + grid) + "/" + std::to_string(grid);
        };
        for (int b = 0; b < steps; b++) {
            for (int a = 0; a < steps; a++) {
                text += "f " + corner(a, b) + " " + corner(a + 1, b) + " " + corner(a + 1, b + 1) + "\n";
                text += "f " + corner(a, b) + " " + corner(a + 1, b + 1) + " " + corner(a, b + 1) + "\n";
            }
        }
    }
    return text;
}

static const char crate_mtl[] =
    "# Material of res/crate.obj, written by tools/make_assets.\n"
    "newmtl crate_wood\n"
    "Kd 1.0 1.0 1.0\n"
    "map_Kd res/crate.pcx\n";

static const char torus_mtl[] =
    "# Material of res/torus.obj, written by tools/make_assets.\n"
    "newmtl torus_skin\n"
    "Kd 1.0 1.0 1.0\n"
    "map_Kd res/torus.pcx\n";

static bool write_text(const std::string &path, const std::string &text) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        fprintf(stderr, "ASSETS: cannot write '%s': %s\n", path.c_str(), strerror(errno));
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = fclose(file) == 0 && ok;
    if (!ok) fprintf(stderr, "ASSETS: cannot write '%s'\n", path.c_str());
    return ok;
}

static const char USAGE[] =
    "usage: make_assets [output directory, default res]\n"
    "Writes the engine's images, materials and models (tunnel.pcx, torus.*, crate.*).\n";

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 0, 1, USAGE)) return USAGE_ERROR_STATUS;
    std::string dir = argc == 2 ? argv[1] : "res";
    static uint8_t pixels[IMAGE_WIDTH_PX * IMAGE_HEIGHT_PX];
    uint8_t palette[PCX_PALETTE_BYTES];
    palette_bytes(palette);

    draw_tunnel(pixels);
    bool ok = pcx_save((dir + "/tunnel.pcx").c_str(), IMAGE_WIDTH_PX, IMAGE_HEIGHT_PX, pixels, palette) == 0;
    draw_torus_skin(pixels);
    ok = ok && pcx_save((dir + "/torus.pcx").c_str(), IMAGE_WIDTH_PX, IMAGE_HEIGHT_PX, pixels, palette) == 0;
    ok = ok && write_text(dir + "/torus.mtl", torus_mtl);
    ok = ok && write_text(dir + "/torus.obj", torus_obj());
    draw_crate_side(pixels);
    ok = ok && pcx_save((dir + "/crate.pcx").c_str(), CRATE_SIDE_PX, CRATE_SIDE_PX, pixels, palette) == 0;
    ok = ok && write_text(dir + "/crate.mtl", crate_mtl);
    ok = ok && write_text(dir + "/crate.obj", crate_obj());
    return ok ? 0 : 1;
}
