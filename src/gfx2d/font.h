// Fonts: descriptors over 1-bit glyph sets, and measuring text set in them.
// A Font never owns its glyph bits. Drawing lives in gfx2d/text_object.h.
//
// Glyph layout (all built-in sets are in it, see gfx2d/glyphs.h): row r of
// the glyph for code c begins at byte (c * glyph_height * glyph_width) / 8
// + (r * glyph_width) / 8 of `glyphs`; pixel j of a row (0 = leftmost) is
// bit j mod 8 of byte row start + j / 8. A set bit is ink, a clear bit is
// transparent. A font's glyph data covers codes 0 to 127.
#ifndef GFX2D_FONT_H
#define GFX2D_FONT_H

#include <cstdint>

// Codes 0 .. FONT_CODE_COUNT - 1 have glyphs; text bytes outside that range
// (128 to 255) draw nothing but take a glyph's room.
constexpr int FONT_CODE_COUNT = 128;

struct Font {
    const uint8_t *glyphs;  // FONT_CODE_COUNT glyphs in the layout above; not owned
    int32_t glyph_width;    // pixels per glyph row, 1 or more
    int32_t glyph_height;   // rows per glyph, 1 or more
};

// The demo's font over glyphs_32x32 (32 x 32). Created first thing at
// start-up by the demo's main; null until then. Lives until the process
// ends.
extern Font *demo_font;

// A new Font over `glyphs`, or null when the record cannot be allocated, or
// when `glyphs` is null or a dimension is below 1 or so large that the
// 128-glyph set would not fit in 2^31 bytes (such a font could not be drawn
// without reading outside its data).
Font *font_new(const uint8_t *glyphs, int32_t glyph_width, int32_t glyph_height);

// Frees the descriptor, never the glyph bits. Null does nothing.
void font_free(Font *font);

// The block a string covers when set `chars_per_line` characters to a line
// (as text_draw sets it with a wrap width of chars_per_line glyph widths):
// lines = ceil(length / chars_per_line), at least 1; width = glyph_width *
// length for one line, chars_per_line * glyph_width for more; height =
// lines * glyph_height. Each figure is written through its pointer unless
// that is null; figures above INT32_MAX are written as INT32_MAX.
// Returns 0; -1 (writing nothing) for a null font or string or fewer than
// 1 character per line.
int font_text_size(const Font *font, const char *string, int32_t chars_per_line, int32_t *width_px,
                   int32_t *height_px);

// glyph_height, or -1 for a null font.
int32_t font_line_height(const Font *font);

// glyph_width * strlen(string) (INT32_MAX when larger), or -1 for a null
// font or string.
int32_t font_text_width(const Font *font, const char *string);

#endif
