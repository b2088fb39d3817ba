// Text objects: the buffer's life cycle and drawing its glyphs with exact
// clipping to the framebuffer.
#include "gfx2d/text_object.h"

#include <cstring>

#include "gfx2d/framebuffer.h"
#include "util/alloc.h"

TextObject *text_new(Font *font, uint64_t capacity, uint32_t wrap_width, int32_t x, int32_t y) {
    if (capacity >= SIZE_MAX) return nullptr;  // capacity + 1 bytes would wrap to 0
    TextObject *text = static_cast<TextObject *>(engine_malloc(sizeof(TextObject)));
    if (!text) return nullptr;
    text->text = static_cast<char *>(engine_malloc(capacity + 1));
    if (!text->text) {
        engine_free(text);
        return nullptr;
    }
    text->text[0] = '\0';
    text->font = font;
    text->x = x;
    text->y = y;
    text->capacity = capacity;
    text->wrap_width = wrap_width;
    return text;
}

void text_free(TextObject *text) {
    if (!text) return;
    engine_free(text->text);
    engine_free(text);
}

void text_set_position(TextObject *text, int32_t x, int32_t y) {
    if (!text) return;
    text->x = x;
    text->y = y;
}

void text_append(TextObject *text, const char *string) {
    if (!text || !text->text || !string) return;
    const size_t used = strnlen(text->text, text->capacity);
    const size_t room = text->capacity - used;
    const size_t take = strnlen(string, room);
    memcpy(text->text + used, string, take);
    text->text[used + take] = '\0';
}

void text_clear(TextObject *text) {
    if (!text || !text->text) return;
    text->text[0] = '\0';
}

// Sets the ink of glyph `code` with its top-left corner at (pen_x, pen_y),
// only where it lies on the framebuffer. Bit addressing follows the font
// layout exactly (row start and byte within the row each truncated), so
// any glyph width works, not only multiples of 8.
static void draw_glyph(const Font *font, int code, int64_t pen_x, int64_t pen_y, uint8_t color) {
    const int64_t gw = font->glyph_width, gh = font->glyph_height;
    // The part of the glyph cell that lies on screen, in glyph coordinates.
    const int64_t row_begin = pen_y < 0 ? -pen_y : 0;
    const int64_t row_end = pen_y + gh > fb_height ? fb_height - pen_y : gh;
    const int64_t column_begin = pen_x < 0 ? -pen_x : 0;
    const int64_t column_end = pen_x + gw > fb_width ? fb_width - pen_x : gw;
    if (row_begin >= row_end || column_begin >= column_end) return;
    const uint8_t *glyph = font->glyphs + (code * gh * gw) / 8;
    for (int64_t r = row_begin; r < row_end; r++) {
        const uint8_t *row = glyph + (r * gw) / 8;
        uint8_t *target = fb_pixels + (pen_y + r) * fb_width + pen_x;
        for (int64_t j = column_begin; j < column_end; j++)
            if ((row[j / 8] >> (j % 8)) & 1) target[j] = color;
    }
}

void text_draw(const TextObject *text) {
    if (!text || !text->text || !text->font || !text->font->glyphs) return;
    const Font *font = text->font;
    const uint8_t color = draw_color;
    const uint32_t gw = static_cast<uint32_t>(font->glyph_width);
    // The pen is kept in 64 bits: a long text walks it far past 32 bits'
    // reach without wrapping back onto the screen.
    int64_t pen_x = text->x, pen_y = text->y;
    uint32_t line_width = 0;
    for (const char *p = text->text; *p; p++) {
        if (text->wrap_width < line_width + gw) {
            pen_x = text->x;
            pen_y += font->glyph_height;
            line_width = 0;
        }
        const int code = static_cast<signed char>(*p);
        if (code >= 0 && code < FONT_CODE_COUNT) draw_glyph(font, code, pen_x, pen_y, color);
        pen_x += font->glyph_width;
        line_width += gw;
    }
}
