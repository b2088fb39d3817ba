// Font descriptors and text measurement. Owns nothing but the descriptor;
// also home of the demo's font.
#include "gfx2d/font.h"

#include <cstring>

#include "util/alloc.h"

Font *demo_font = nullptr;

// The byte offset of the last glyph row is formed in signed 32 bits (see
// the layout in font.h), so a whole set must stay below 2^31 bytes.
static const int64_t FONT_MAX_SET_BYTES = INT32_MAX;

static int32_t saturate_int32(uint64_t value) {
    return value > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

Font *font_new(const uint8_t *glyphs, int32_t glyph_width, int32_t glyph_height) {
    if (!glyphs || glyph_width < 1 || glyph_height < 1) return nullptr;
    const int64_t set_bits = static_cast<int64_t>(FONT_CODE_COUNT) * glyph_width * glyph_height;
    if (set_bits / 8 + 1 > FONT_MAX_SET_BYTES) return nullptr;
    Font *font = static_cast<Font *>(engine_malloc(sizeof(Font)));
    if (!font) return nullptr;
    font->glyphs = glyphs;
    font->glyph_width = glyph_width;
    font->glyph_height = glyph_height;
    return font;
}

void font_free(Font *font) { engine_free(font); }

int font_text_size(const Font *font, const char *string, int32_t chars_per_line, int32_t *width_px,
                   int32_t *height_px) {
    if (!font || !string || chars_per_line < 1) return -1;
    const uint64_t length = strlen(string);
    const uint64_t per_line = static_cast<uint64_t>(chars_per_line);
    uint64_t lines = length / per_line + (length % per_line != 0);  // ceil without overflow
    if (lines == 0) lines = 1;
    // Products of a 32-bit and a 64-bit figure: formed in 128 bits so the
    // saturation sees the true value (__extension__: a GCC and clang type,
    // not ISO C++).
    __extension__ typedef unsigned __int128 wide_t;
    const wide_t gw = font->glyph_width > 0 ? font->glyph_width : 0;
    const wide_t gh = font->glyph_height > 0 ? font->glyph_height : 0;
    if (width_px) {
        const wide_t w = lines == 1 ? gw * length : gw * per_line;
        *width_px = w > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w);
    }
    if (height_px) {
        const wide_t h = gh * lines;
        *height_px = h > INT32_MAX ? INT32_MAX : static_cast<int32_t>(h);
    }
    return 0;
}

int32_t font_line_height(const Font *font) { return font ? font->glyph_height : -1; }

int32_t font_text_width(const Font *font, const char *string) {
    if (!font || !string) return -1;
    const uint64_t length = strlen(string);
    if (font->glyph_width <= 0) return 0;
    if (length > static_cast<uint64_t>(INT32_MAX) / static_cast<uint64_t>(font->glyph_width))
        return INT32_MAX;
    return saturate_int32(length * static_cast<uint64_t>(font->glyph_width));
}
