// Builds the engine's three glyph sets and writes them as C++ source files:
// glyphs_8x8 and glyphs_8x16 from X11 bitmap fonts that Debian ships in PCF
// form (gzip-compressed), glyphs_32x32 from a bold oblique outline font
// rasterized with FreeType. The output is a pure function of the input
// font files, so running it again reproduces the committed files byte for
// byte.
//
// Usage: make_glyphs OUTPUT_DIR [FONT_8X8 FONT_8X16 OUTLINE_FONT]
// Writes OUTPUT_DIR/glyphs_8x8.cpp, glyphs_8x16.cpp and glyphs_32x32.cpp.
// Exit status 0 on success; 2 with the usage line for a wrong command line;
// 1 with one "GLYPHS: ..." line on standard error when a font cannot be
// read, has the wrong shape, lacks a glyph, or a glyph would not fit its
// cell.
//
// Layout written (the engine's glyph layout): glyph c is glyph_height rows
// of glyph_width / 8 bytes, top row first; within a row pixel j is bit
// j mod 8 of byte j / 8, leftmost pixel in bit 0.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <zlib.h>  // the bitmap fonts ship gzip-compressed
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>  // std::swap
#include <vector>

#include "platform/program_args.h"
#include "util/bit_rows.h"
#include "util/file_open.h"
#include "util/std_fds.h"

static const char *const DEFAULT_FONT_8X8 = "/usr/share/fonts/X11/misc/clB8x8.pcf.gz";
static const char *const DEFAULT_FONT_8X16 = "/usr/share/fonts/X11/misc/h16_b.pcf.gz";
static const char *const DEFAULT_OUTLINE_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-BoldOblique.ttf";

// Every set covers codes 0 to 127.
static const int GLYPH_COUNT = 128;

// Baseline rows of the two small sets: the 8 x 8 font's cell is 7 pixels
// above its baseline and 1 below, the 8 x 16 font's 14 above and 2 below,
// so with the baseline on these rows each font cell is exactly our cell.
static const int BASELINE_ROW_8X8 = 7;
static const int BASELINE_ROW_8X16 = 14;

// Unicode code points of the code page 437 symbols that the 8 x 16 set
// carries at codes 1 to 31 (smileys, card suits, arrows and the like).
static const uint32_t CP437_SYMBOLS[32] = {
    0,      0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};
// Code 127 of code page 437: the house.
static const uint32_t CP437_HOUSE = 0x2302;

static const size_t FONT_MAX_BYTES = 4 << 20;

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

static void set_init(GlyphSet *set, int width_px, int height_px) {
    set->width_px = width_px;
    set->height_px = height_px;
    set->ink.assign(static_cast<size_t>(GLYPH_COUNT) * width_px * height_px, 0);
}

// Reads a whole font file, gzip-compressed or not (zlib passes other files
// through as they are). Only a regular file is read, so a FIFO or a device
// named as a font cannot stall or flood the tool. 0, or -1 with a message.
static int read_font_file(const char *path, std::vector<uint8_t> *bytes) {
    const char *why = nullptr;
    const int fd = open_regular_file(path, &why);
    if (fd < 0) {
        fprintf(stderr, "GLYPHS: cannot open '%s': %s\n", path, why);
        return -1;
    }
    gzFile file = gzdopen(fd, "rb");
    if (!file) {
        fprintf(stderr, "GLYPHS: cannot open '%s': out of memory\n", path);
        close(fd);
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
        if (bytes->size() > FONT_MAX_BYTES) {
            fprintf(stderr, "GLYPHS: '%s' is too large for a font\n", path);
            gzclose(file);
            return -1;
        }
    }
    gzclose(file);
    return 0;
}

// PCF, the X11 bitmap font format: "\1fcp", a table count and a table of
// contents (type, format, size, offset; little-endian), then the tables.
// Each table starts with its format word (little-endian); the rest of it is
// in the byte order that word gives. Three tables are read: glyph metrics,
// glyph bitmaps and the encoding from character codes to glyphs.
static const uint8_t PCF_MAGIC[4] = {1, 'f', 'c', 'p'};
static const uint32_t PCF_METRICS = 1u << 2;
static const uint32_t PCF_BITMAPS = 1u << 3;
static const uint32_t PCF_BDF_ENCODINGS = 1u << 5;
static const uint32_t PCF_GLYPH_PAD_MASK = 3u;         // rows padded to 1 << n bytes
static const uint32_t PCF_BYTE_MASK = 1u << 2;         // set: most significant byte first
static const uint32_t PCF_BIT_MASK = 1u << 3;          // set: leftmost pixel in bit 7
static const uint32_t PCF_SCAN_UNIT_SHIFT = 4;         // bitmap words of 1 << n bytes
static const uint32_t PCF_COMPRESSED_METRICS = 0x100;  // metrics as five offset bytes
static const uint16_t PCF_NO_GLYPH = 0xFFFF;
static const uint32_t PCF_MAX_TABLES = 64;
static const int PCF_MAX_GLYPH_PX = 256;

// One glyph's box relative to its origin on the baseline: columns left to
// right - 1, rows ascent above the baseline to descent below it.
struct PcfGlyph {
    int left, right, ascent, descent;
    uint32_t offset;  // of its rows in PcfFont::bitmaps
};

struct PcfFont {
    std::vector<PcfGlyph> glyphs;
    std::vector<uint8_t> bitmaps;  // bytes in file order, swapped per word as needed
    int row_pad_bytes;
    bool msbit_first;
    // Encoding: code = byte1 * 256 + byte2; index table row-major over byte1
    // (min_byte1 .. max_byte1) and byte2 (min_byte2 .. max_byte2).
    int min_byte2, max_byte2, min_byte1, max_byte1;
    std::vector<uint16_t> glyph_for_code;
};

// Bounds-checked reads from a table of the file.
struct PcfReader {
    const std::vector<uint8_t> *bytes;
    size_t pos, end;
    bool big_endian;
    bool ok;
};

// The next `size` (1, 2 or 4) bytes of the table as an unsigned number in
// its byte order; 0, and ok false from then on, past the table's end.
static uint32_t pcf_read(PcfReader *r, size_t size) {
    if (!r->ok || r->end - r->pos < size) {
        r->ok = false;
        return 0;
    }
    const uint8_t *p = r->bytes->data() + r->pos;
    r->pos += size;
    uint32_t value = 0;
    for (size_t i = 0; i < size; i++) value = value << 8 | p[r->big_endian ? i : size - 1 - i];
    return value;
}

static uint32_t pcf_u32(PcfReader *r) { return pcf_read(r, 4); }
static uint16_t pcf_u16(PcfReader *r) { return static_cast<uint16_t>(pcf_read(r, 2)); }
static uint8_t pcf_u8(PcfReader *r) { return static_cast<uint8_t>(pcf_read(r, 1)); }

// A reader over the table of `type`, positioned after its format word,
// which goes to *format. ok is false when the file has no such table or
// the table lies outside the file.
static PcfReader pcf_table(const std::vector<uint8_t> &bytes, uint32_t type, uint32_t *format) {
    *format = 0;
    PcfReader toc = {&bytes, 4, bytes.size(), false, true};
    const uint32_t count = pcf_u32(&toc);
    if (count > PCF_MAX_TABLES) toc.ok = false;
    for (uint32_t i = 0; toc.ok && i < count; i++) {
        const uint32_t entry_type = pcf_u32(&toc);
        pcf_u32(&toc);  // the format again; the table's own copy is the one used
        const uint32_t size = pcf_u32(&toc), offset = pcf_u32(&toc);
        if (!toc.ok || entry_type != type) continue;
        if (offset > bytes.size() || size > bytes.size() - offset) break;
        PcfReader table = {&bytes, offset, static_cast<size_t>(offset) + size, false, true};
        *format = pcf_u32(&table);
        table.big_endian = (*format & PCF_BYTE_MASK) != 0;
        return table;
    }
    return PcfReader{&bytes, 0, 0, false, false};
}

// Loads the metrics, bitmaps and encoding of a gzip-compressed PCF font.
// 0 on success, -1 with a message otherwise.
static int load_pcf_font(const char *path, PcfFont *font) {
    std::vector<uint8_t> bytes;
    if (read_font_file(path, &bytes) != 0) return -1;
    if (bytes.size() < 8 || memcmp(bytes.data(), PCF_MAGIC, sizeof PCF_MAGIC) != 0) {
        fprintf(stderr, "GLYPHS: '%s' is not a PCF bitmap font\n", path);
        return -1;
    }
    uint32_t format;
    PcfReader metrics = pcf_table(bytes, PCF_METRICS, &format);
    uint32_t glyph_count = (format & PCF_COMPRESSED_METRICS) ? pcf_u16(&metrics) : pcf_u32(&metrics);
    if (glyph_count > 0x10000) metrics.ok = false;
    font->glyphs.clear();
    for (uint32_t i = 0; metrics.ok && i < glyph_count; i++) {
        PcfGlyph glyph;
        if (format & PCF_COMPRESSED_METRICS) {
            glyph.left = pcf_u8(&metrics) - 0x80;
            glyph.right = pcf_u8(&metrics) - 0x80;
            pcf_u8(&metrics);  // advance width
            glyph.ascent = pcf_u8(&metrics) - 0x80;
            glyph.descent = pcf_u8(&metrics) - 0x80;
        } else {
            glyph.left = static_cast<int16_t>(pcf_u16(&metrics));
            glyph.right = static_cast<int16_t>(pcf_u16(&metrics));
            pcf_u16(&metrics);  // advance width
            glyph.ascent = static_cast<int16_t>(pcf_u16(&metrics));
            glyph.descent = static_cast<int16_t>(pcf_u16(&metrics));
            pcf_u16(&metrics);  // attributes
        }
        glyph.offset = 0;
        font->glyphs.push_back(glyph);
    }

    PcfReader bitmaps = pcf_table(bytes, PCF_BITMAPS, &format);
    if (metrics.ok && bitmaps.ok && pcf_u32(&bitmaps) != glyph_count) bitmaps.ok = false;
    for (uint32_t i = 0; metrics.ok && bitmaps.ok && i < glyph_count; i++)
        font->glyphs[i].offset = pcf_u32(&bitmaps);
    uint32_t data_bytes[4];
    for (uint32_t &size : data_bytes) size = pcf_u32(&bitmaps);
    const uint32_t pad_index = format & PCF_GLYPH_PAD_MASK;
    if (bitmaps.ok && bitmaps.end - bitmaps.pos >= data_bytes[pad_index]) {
        const auto data = bytes.begin() + static_cast<std::ptrdiff_t>(bitmaps.pos);
        font->bitmaps.assign(data, data + data_bytes[pad_index]);
    } else {
        bitmaps.ok = false;
    }
    font->row_pad_bytes = 1 << pad_index;
    font->msbit_first = (format & PCF_BIT_MASK) != 0;
    // Bitmap words are stored in the file's byte order; pixels are read
    // byte by byte in bit order, so words whose byte order differs from the
    // bit order are reversed first.
    const size_t word_bytes = static_cast<size_t>(1) << ((format >> PCF_SCAN_UNIT_SHIFT) & 3);
    if (bitmaps.ok && word_bytes > 1 && ((format & PCF_BYTE_MASK) != 0) != font->msbit_first)
        for (size_t w = 0; w + word_bytes <= font->bitmaps.size(); w += word_bytes)
            for (size_t a = w, b = w + word_bytes - 1; a < b; a++, b--)
                std::swap(font->bitmaps[a], font->bitmaps[b]);

    PcfReader encodings = pcf_table(bytes, PCF_BDF_ENCODINGS, &format);
    font->min_byte2 = pcf_u16(&encodings);
    font->max_byte2 = pcf_u16(&encodings);
    font->min_byte1 = pcf_u16(&encodings);
    font->max_byte1 = pcf_u16(&encodings);
    pcf_u16(&encodings);  // default character
    font->glyph_for_code.clear();
    if (font->max_byte2 > 255 || font->max_byte1 > 255 || font->min_byte2 > font->max_byte2 ||
        font->min_byte1 > font->max_byte1)
        encodings.ok = false;
    const int codes = (font->max_byte2 - font->min_byte2 + 1) * (font->max_byte1 - font->min_byte1 + 1);
    for (int i = 0; encodings.ok && i < codes; i++) {
        const uint16_t index = pcf_u16(&encodings);
        font->glyph_for_code.push_back(index < glyph_count ? index : PCF_NO_GLYPH);
    }

    if (!metrics.ok || !bitmaps.ok || !encodings.ok) {
        fprintf(stderr, "GLYPHS: '%s' is a damaged PCF font (%s table)\n", path,
                !metrics.ok ? "metrics" : !bitmaps.ok ? "bitmap" : "encoding");
        return -1;
    }
    return 0;
}

// The glyph index for character code `code` (Unicode for an ISO 10646
// font), or -1 when the font has none.
static int pcf_glyph_index(const PcfFont &font, uint32_t code) {
    const int byte1 = static_cast<int>(code >> 8), byte2 = static_cast<int>(code & 0xFF);
    if (code > 0xFFFF || byte1 < font.min_byte1 || byte1 > font.max_byte1 || byte2 < font.min_byte2 ||
        byte2 > font.max_byte2)
        return -1;
    const int row_codes = font.max_byte2 - font.min_byte2 + 1;
    const uint16_t index =
        font.glyph_for_code[(byte1 - font.min_byte1) * row_codes + (byte2 - font.min_byte2)];
    return index == PCF_NO_GLYPH ? -1 : index;
}

// Sets the ink of `code` in `set` from the font's glyph for `char_code`,
// the glyph's origin at column 0 of row `baseline_row`. 0 on success, -1
// with a message when the font has no such glyph, its bitmap lies outside
// the font's data, or ink would fall outside the cell.
static int place_pcf_glyph(const PcfFont &font, const char *path, uint32_t char_code, int baseline_row,
                           GlyphSet *set, int code) {
    const unsigned u = char_code;  // for messages
    const int index = pcf_glyph_index(font, char_code);
    if (index < 0) {
        fprintf(stderr, "GLYPHS: '%s' has no glyph for U+%04X (code %d)\n", path, u, code);
        return -1;
    }
    const PcfGlyph &glyph = font.glyphs[index];
    const int width = glyph.right - glyph.left, height = glyph.ascent + glyph.descent;
    if (width < 0 || height < 0 || width > PCF_MAX_GLYPH_PX || height > PCF_MAX_GLYPH_PX) {
        fprintf(stderr, "GLYPHS: '%s' has a damaged glyph for U+%04X\n", path, u);
        return -1;
    }
    const int pad = font.row_pad_bytes;
    const size_t row_bytes = static_cast<size_t>(((width + 7) / 8 + pad - 1) / pad * pad);
    if (glyph.offset > font.bitmaps.size() || row_bytes * height > font.bitmaps.size() - glyph.offset) {
        fprintf(stderr, "GLYPHS: '%s' has a damaged glyph for U+%04X\n", path, u);
        return -1;
    }
    for (int row = 0; row < height; row++)
        for (int column = 0; column < width; column++) {
            const uint8_t byte = font.bitmaps[glyph.offset + row * row_bytes + column / 8];
            const int bit = font.msbit_first ? 7 - column % 8 : column % 8;
            if (!((byte >> bit) & 1)) continue;
            const int y = baseline_row - glyph.ascent + row, x = glyph.left + column;
            if (x < 0 || x >= set->width_px || y < 0 || y >= set->height_px) {
                fprintf(stderr, "GLYPHS: U+%04X of '%s' does not fit the %d x %d cell\n", u, path,
                        set->width_px, set->height_px);
                return -1;
            }
            ink_at(*set, code, y, x) = 1;
        }
    return 0;
}

// The 8 x 8 set: printable ASCII (33..126) of an 8 x 8 font in ASCII
// order. 0 or -1 with a message.
static int load_font_8x8(const char *path, GlyphSet *set) {
    PcfFont font;
    if (load_pcf_font(path, &font) != 0) return -1;
    set_init(set, 8, 8);
    for (int code = '!'; code <= '~'; code++)
        if (place_pcf_glyph(font, path, static_cast<uint32_t>(code), BASELINE_ROW_8X8, set, code) != 0)
            return -1;
    return 0;
}

// The 8 x 16 set: the code page 437 symbols (1..31), printable ASCII
// (33..126) and the house (127) of an 8 x 16 Unicode (ISO 10646) font.
// 0 or -1 with a message.
static int load_font_8x16(const char *path, GlyphSet *set) {
    PcfFont font;
    if (load_pcf_font(path, &font) != 0) return -1;
    set_init(set, 8, 16);
    for (int code = 1; code < GLYPH_COUNT; code++) {
        if (code == ' ') continue;
        const uint32_t char_code =
            code < ' ' ? CP437_SYMBOLS[code] : code == 127 ? CP437_HOUSE : static_cast<uint32_t>(code);
        if (place_pcf_glyph(font, path, char_code, BASELINE_ROW_8X16, set, code) != 0) return -1;
    }
    return 0;
}

// Gives the 8 x 8 set the 8 x 16 set's house at code 127 (the 8 x 8 font
// has none): its ink rows, bottom row on the cell's bottom row, columns
// unchanged. 0, or -1 with a message when the house is taller than 8 rows.
static int copy_house_8x8(GlyphSet *set_8x16, GlyphSet *set_8x8, const char *path_8x16) {
    int top = -1, bottom = -1;
    for (int row = 0; row < set_8x16->height_px; row++)
        for (int column = 0; column < 8; column++)
            if (ink_at(*set_8x16, 127, row, column)) {
                if (top < 0) top = row;
                bottom = row;
            }
    if (top < 0 || bottom - top + 1 > set_8x8->height_px) {
        fprintf(stderr, "GLYPHS: the house of '%s' does not fit an 8 x 8 cell\n", path_8x16);
        return -1;
    }
    for (int row = top; row <= bottom; row++)
        for (int column = 0; column < 8; column++)
            ink_at(*set_8x8, 127, row - bottom + set_8x8->height_px - 1, column) =
                ink_at(*set_8x16, 127, row, column);
    return 0;
}

// Rasterizes printable ASCII (33..126) of an outline font into 32 x 32
// cells: each glyph's ink box centred horizontally, all glyphs on one
// baseline. Every other code stays blank. 0 on success, -1 with a message
// when the font cannot be used or a glyph would not fit its cell.
static int load_outline_font(const char *path, GlyphSet *set) {
    set_init(set, 32, 32);
    std::vector<uint8_t> bytes;  // FreeType reads the face from here until it is done
    if (read_font_file(path, &bytes) != 0) return -1;
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0) {
        fprintf(stderr, "GLYPHS: cannot start FreeType\n");
        return -1;
    }
    FT_Face face;
    if (FT_New_Memory_Face(library, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face) != 0) {
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

// Writes one set as a C++ source file defining `name`, naming the fonts it
// came from (`sources`, file names); 0 or -1.
static int write_glyph_source(const std::string &path, const char *name, const GlyphSet &set,
                              const std::string &sources) {
    FILE *out = fopen(path.c_str(), "w");
    if (!out) {
        fprintf(stderr, "GLYPHS: cannot write '%s': %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    const int row_bytes = set.width_px / 8;
    const int glyph_bytes = row_bytes * set.height_px;
    std::vector<uint8_t> packed(static_cast<size_t>(row_bytes));
    fprintf(out, "// The %d x %d glyph set, generated by tools/make_glyphs; do not edit.\n", set.width_px,
            set.height_px);
    fprintf(out, "// Source: %s (sources and licences in res/NOTICE).\n", sources.c_str());
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
            const uint8_t *ink = &set.ink[(static_cast<size_t>(code) * set.height_px + row) * set.width_px];
            bit_row_pack(ink, set.width_px, BITS_LEFTMOST_LOW, packed.data());
            std::string picture;
            for (int column = 0; column < set.width_px; column++) picture += ink[column] ? '#' : '.';
            for (int byte = 0; byte < row_bytes; byte++) fprintf(out, " 0x%02x,", packed[byte]);
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
        return USAGE_ERROR_STATUS;
    }
    const std::string out_dir = argv[1];
    const char *font_8x8 = argc == 5 ? argv[2] : DEFAULT_FONT_8X8;
    const char *font_8x16 = argc == 5 ? argv[3] : DEFAULT_FONT_8X16;
    const char *outline_font = argc == 5 ? argv[4] : DEFAULT_OUTLINE_FONT;

    // 8 x 8: printable ASCII, and at 127 the 8 x 16 font's house. 8 x 16:
    // the code page 437 symbols at 1..31, printable ASCII and the house.
    // 0 and the space stay blank in both.
    GlyphSet set_8x8, set_8x16;
    if (load_font_8x8(font_8x8, &set_8x8) != 0 || load_font_8x16(font_8x16, &set_8x16) != 0 ||
        copy_house_8x8(&set_8x16, &set_8x8, font_8x16) != 0)
        return 1;

    GlyphSet set_32x32;
    if (load_outline_font(outline_font, &set_32x32) != 0) return 1;

    const std::string sources_8x8 =
        std::string(base_name(font_8x8)) + " and the house of " + base_name(font_8x16);
    if (write_glyph_source(out_dir + "/glyphs_8x8.cpp", "glyphs_8x8", set_8x8, sources_8x8) != 0 ||
        write_glyph_source(out_dir + "/glyphs_8x16.cpp", "glyphs_8x16", set_8x16,
                           base_name(font_8x16)) != 0 ||
        write_glyph_source(out_dir + "/glyphs_32x32.cpp", "glyphs_32x32", set_32x32,
                           base_name(outline_font)) != 0)
        return 1;
    return 0;
}
