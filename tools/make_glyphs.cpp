// Builds the engine's three glyph sets and writes them as C++ source files:
// glyphs_8x8 and glyphs_8x16 from Debian console fonts (PSF version 1,
// gzip-compressed), glyphs_32x32 from a bold oblique outline font
// rasterized with FreeType. The output is a pure function of the input
// font files, so running it again reproduces the committed files byte for
// byte.
//
// Usage: make_glyphs OUTPUT_DIR [FONT_8X8 FONT_8X16 OUTLINE_FONT]
// Writes OUTPUT_DIR/glyphs_8x8.cpp, glyphs_8x16.cpp and glyphs_32x32.cpp.
// Exit status 0 on success; 1 with one "GLYPHS: ..." line on standard error
// when a font cannot be read, has the wrong shape, or a glyph would not fit
// its cell.
//
// Layout written (the engine's glyph layout): glyph c is glyph_height rows
// of glyph_width / 8 bytes, top row first; within a row pixel j is bit
// j mod 8 of byte j / 8, leftmost pixel in bit 0.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <zlib.h>  // the console fonts ship gzip-compressed

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/program_args.h"
#include "util/std_fds.h"

static const char *const DEFAULT_FONT_8X8 = "/usr/share/consolefonts/alt-8x8.psf.gz";
static const char *const DEFAULT_FONT_8X16 = "/usr/share/consolefonts/default8x16.psf.gz";
static const char *const DEFAULT_OUTLINE_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-BoldOblique.ttf";

// Every set covers codes 0 to 127.
static const int GLYPH_COUNT = 128;

// PSF version 1 header: magic 36 04, mode byte, glyph height byte; the
// glyphs follow, 8 pixels wide, one byte per row, leftmost pixel in bit 7.
static const uint8_t PSF1_MAGIC0 = 0x36;
static const uint8_t PSF1_MAGIC1 = 0x04;
static const int PSF1_MODE_OFFSET = 2;
static const int PSF1_HEIGHT_OFFSET = 3;
static const int PSF1_HEADER_BYTES = 4;
static const uint8_t PSF1_MODE_512_GLYPHS = 0x01;
static const size_t PSF_MAX_BYTES = 1 << 20;

// The 32 x 32 set: FreeType renders at this pixel size with the baseline on
// this row of the cell, which leaves room for capitals and descenders.
static const int OUTLINE_PIXEL_SIZE = 30;
static const int OUTLINE_BASELINE_ROW = 25;
// Antialiased coverage at or above this value becomes ink: sharper, more
// even strokes than FreeType's own monochrome rasterizer gives at this size.
static const int OUTLINE_INK_THRESHOLD = 128;

// A glyph set being built: GLYPH_COUNT glyphs of width x height pixels,
// one byte per pixel (0 or 1) until it is packed.
struct GlyphSet {
    int width_px;
    int height_px;
    std::vector<uint8_t> ink;  // [code][row][column]
};

static uint8_t &ink_at(GlyphSet &set, int code, int row, int column) {
    return set.ink[(static_cast<size_t>(code) * set.height_px + row) * set.width_px + column];
}

static int read_gzip_file(const char *path, std::vector<uint8_t> *bytes) {
    gzFile file = gzopen(path, "rb");
    if (!file) {
        fprintf(stderr, "GLYPHS: cannot open '%s'\n", path);
        return -1;
    }
    bytes->clear();
    uint8_t chunk[4096];
    for (;;) {
        const int got = gzread(file, chunk, sizeof chunk);
        if (got < 0) {
            fprintf(stderr, "GLYPHS: cannot read '%s': corrupt compressed data\n", path);
            gzclose(file);
            return -1;
        }
        if (got == 0) break;
        bytes->insert(bytes->end(), chunk, chunk + got);
        if (bytes->size() > PSF_MAX_BYTES) {
            fprintf(stderr, "GLYPHS: '%s' is too large for a console font\n", path);
            gzclose(file);
            return -1;
        }
    }
    gzclose(file);
    return 0;
}

// Loads codes 0..127 of an 8-pixel-wide PSF1 console font whose glyph
// height must be `height_px`. 0 on success, -1 with a message otherwise.
static int load_console_font(const char *path, int height_px, GlyphSet *set) {
    std::vector<uint8_t> bytes;
    if (read_gzip_file(path, &bytes) != 0) return -1;
    if (bytes.size() < PSF1_HEADER_BYTES || bytes[0] != PSF1_MAGIC0 || bytes[1] != PSF1_MAGIC1) {
        fprintf(stderr, "GLYPHS: '%s' is not a PSF1 console font\n", path);
        return -1;
    }
    const int file_height = bytes[PSF1_HEIGHT_OFFSET];
    const int file_glyphs = (bytes[PSF1_MODE_OFFSET] & PSF1_MODE_512_GLYPHS) ? 512 : 256;
    if (file_height != height_px) {
        fprintf(stderr, "GLYPHS: '%s' has %d-pixel glyphs, %d wanted\n", path, file_height, height_px);
        return -1;
    }
    if (bytes.size() < PSF1_HEADER_BYTES + static_cast<size_t>(file_glyphs) * file_height) {
        fprintf(stderr, "GLYPHS: '%s' is truncated\n", path);
        return -1;
    }
    set->width_px = 8;
    set->height_px = height_px;
    set->ink.assign(static_cast<size_t>(GLYPH_COUNT) * 8 * height_px, 0);
    for (int code = 0; code < GLYPH_COUNT; code++)
        for (int row = 0; row < height_px; row++) {
            const uint8_t bits = bytes[PSF1_HEADER_BYTES + code * height_px + row];
            for (int column = 0; column < 8; column++)
                ink_at(*set, code, row, column) = (bits >> (7 - column)) & 1;
        }
    return 0;
}

static void blank_code(GlyphSet *set, int code) {
    for (int row = 0; row < set->height_px; row++)
        for (int column = 0; column < set->width_px; column++) ink_at(*set, code, row, column) = 0;
}

// Rasterizes printable ASCII (33..126) of an outline font into 32 x 32
// cells: each glyph's ink box centred horizontally, all glyphs on one
// baseline. Every other code stays blank. 0 on success, -1 with a message
// when the font cannot be used or a glyph would not fit its cell.
static int load_outline_font(const char *path, GlyphSet *set) {
    set->width_px = 32;
    set->height_px = 32;
    set->ink.assign(static_cast<size_t>(GLYPH_COUNT) * 32 * 32, 0);
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0) {
        fprintf(stderr, "GLYPHS: cannot start FreeType\n");
        return -1;
    }
    FT_Face face;
    if (FT_New_Face(library, path, 0, &face) != 0) {
        fprintf(stderr, "GLYPHS: cannot load outline font '%s'\n", path);
        FT_Done_FreeType(library);
        return -1;
    }
    int result = 0;
    if (FT_Set_Pixel_Sizes(face, 0, OUTLINE_PIXEL_SIZE) != 0) {
        fprintf(stderr, "GLYPHS: '%s' cannot be scaled to %d pixels\n", path, OUTLINE_PIXEL_SIZE);
        result = -1;
    }
    for (int code = '!'; result == 0 && code <= '~'; code++) {
        if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0 ||
            face->glyph->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
            fprintf(stderr, "GLYPHS: '%s' has no usable glyph for '%c'\n", path, code);
            result = -1;
            break;
        }
        const FT_Bitmap &bitmap = face->glyph->bitmap;
        const int top = OUTLINE_BASELINE_ROW - face->glyph->bitmap_top;
        const int left = (32 - static_cast<int>(bitmap.width)) / 2;
        for (unsigned row = 0; result == 0 && row < bitmap.rows; row++)
            for (unsigned column = 0; column < bitmap.width; column++) {
                const uint8_t coverage = bitmap.buffer[row * bitmap.pitch + column];
                if (coverage < OUTLINE_INK_THRESHOLD) continue;
                const int y = top + static_cast<int>(row), x = left + static_cast<int>(column);
                if (x < 0 || x >= 32 || y < 0 || y >= 32) {
                    fprintf(stderr, "GLYPHS: '%c' of '%s' does not fit a 32 x 32 cell\n", code, path);
                    result = -1;
                    break;
                }
                ink_at(*set, code, y, x) = 1;
            }
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return result;
}

static const char *base_name(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Writes one set as a C++ source file defining `name`, naming the font it
// came from by its file name; 0 or -1.
static int write_glyph_source(const std::string &path, const char *name, const GlyphSet &set,
                              const char *font_path) {
    FILE *out = fopen(path.c_str(), "w");
    if (!out) {
        fprintf(stderr, "GLYPHS: cannot write '%s': %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    const int row_bytes = set.width_px / 8;
    const int glyph_bytes = row_bytes * set.height_px;
    fprintf(out, "// The %d x %d glyph set, generated by tools/make_glyphs; do not edit.\n", set.width_px,
            set.height_px);
    fprintf(out, "// Source: %s (sources and licences in res/NOTICE).\n", base_name(font_path));
    fprintf(out, "// Codes 0 to 127, %d bytes per glyph; each line is one glyph row, top row\n", glyph_bytes);
    fprintf(out, "// first, leftmost pixel in bit 0.\n");
    fprintf(out, "#include \"gfx2d/glyphs.h\"\n\n");
    fprintf(out, "const uint8_t %s[%d] = {\n", name, GLYPH_COUNT * glyph_bytes);
    for (int code = 0; code < GLYPH_COUNT; code++) {
        if (code > 32 && code < 127)
            fprintf(out, "    // %d '%c'\n", code, code);
        else
            fprintf(out, "    // %d\n", code);
        for (int row = 0; row < set.height_px; row++) {
            fprintf(out, "   ");
            std::string picture;
            for (int byte = 0; byte < row_bytes; byte++) {
                unsigned value = 0;
                for (int bit = 0; bit < 8; bit++) {
                    const int column = byte * 8 + bit;
                    const unsigned ink = set.ink[(static_cast<size_t>(code) * set.height_px + row) *
                                                     set.width_px + column];
                    value |= ink << bit;
                    picture += ink ? '#' : '.';
                }
                fprintf(out, " 0x%02x,", value);
            }
            fprintf(out, "  // %s\n", picture.c_str());
        }
    }
    fprintf(out, "};\n");
    if (fclose(out) != 0) {
        fprintf(stderr, "GLYPHS: cannot write '%s'\n", path.c_str());
        return -1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv,
                         "usage: make_glyphs OUTPUT_DIR [FONT_8X8 FONT_8X16 OUTLINE_FONT]\n"
                         "Writes the three glyph sets as C++ source files into OUTPUT_DIR.\n"))
        return 0;
    bool options = false;
    for (int i = 1; i < argc; i++) options = options || arg_is_option(argv[i]);
    if ((argc != 2 && argc != 5) || options) {
        fprintf(stderr, "usage: make_glyphs OUTPUT_DIR [FONT_8X8 FONT_8X16 OUTLINE_FONT]\n");
        return 1;
    }
    const std::string out_dir = argv[1];
    const char *font_8x8 = argc == 5 ? argv[2] : DEFAULT_FONT_8X8;
    const char *font_8x16 = argc == 5 ? argv[3] : DEFAULT_FONT_8X16;
    const char *outline_font = argc == 5 ? argv[4] : DEFAULT_OUTLINE_FONT;

    // 8 x 8: ink on 33..127 only (127 is the house); the code page's
    // symbols at 1..31 are dropped.
    GlyphSet set_8x8;
    if (load_console_font(font_8x8, 8, &set_8x8) != 0) return 1;
    for (int code = 0; code <= ' '; code++) blank_code(&set_8x8, code);

    // 8 x 16: the code page 437 symbols stay at 1..31 and 127; 0 and the
    // space are blank.
    GlyphSet set_8x16;
    if (load_console_font(font_8x16, 16, &set_8x16) != 0) return 1;
    blank_code(&set_8x16, 0);
    blank_code(&set_8x16, ' ');

    GlyphSet set_32x32;
    if (load_outline_font(outline_font, &set_32x32) != 0) return 1;

    if (write_glyph_source(out_dir + "/glyphs_8x8.cpp", "glyphs_8x8", set_8x8, font_8x8) != 0 ||
        write_glyph_source(out_dir + "/glyphs_8x16.cpp", "glyphs_8x16", set_8x16, font_8x16) != 0 ||
        write_glyph_source(out_dir + "/glyphs_32x32.cpp", "glyphs_32x32", set_32x32, outline_font) != 0)
        return 1;
    return 0;
}
