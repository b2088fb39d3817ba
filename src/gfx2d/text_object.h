// Text objects: a string buffer with a font, a screen position and a wrap
// width, drawn glyph by glyph into the framebuffer in draw_color.
#ifndef GFX2D_TEXT_OBJECT_H
#define GFX2D_TEXT_OBJECT_H

#include <cstdint>

#include "gfx2d/font.h"

// Invariant: `text` holds a zero-terminated string of at most `capacity`
// bytes; text_append keeps it so by truncating.
struct TextObject {
    Font *font;           // not owned
    int32_t x;            // left edge of the first line, pixels
    int32_t y;            // top edge of the first line, pixels
    uint64_t capacity;    // most characters `text` may hold
    char *text;           // owned, capacity + 1 bytes
    uint32_t wrap_width;  // widest a line may reach, pixels; 4294967295 never wraps
};

// A new object with an empty text and room for `capacity` characters, or
// null when an allocation fails or capacity + 1 bytes cannot be addressed
// (nothing is leaked). The font is borrowed and must outlive the object.
TextObject *text_new(Font *font, uint64_t capacity, uint32_t wrap_width, int32_t x, int32_t y);

// Frees the buffer and the record. Null does nothing.
void text_free(TextObject *text);

// Draws the text in draw_color (read once): the ink of each glyph is set,
// clear bits leave the framebuffer as it was. Before every glyph, the first
// included, a new line starts (pen back to x, down one glyph height) when
// wrap_width < line width + glyph width, compared as unsigned 32-bit. Bytes
// are codes 0..127; bytes 128..255 draw nothing but advance the pen like a
// glyph. No byte breaks a line. Clips exactly to the framebuffer. A null
// object, font or glyph pointer draws nothing.
void text_draw(const TextObject *text);

// Moves the first line's top-left corner to (x, y). Null does nothing.
void text_set_position(TextObject *text, int32_t x, int32_t y);

// Appends `string`, keeping as much of it as fits in `capacity`. Does
// nothing when the object, its buffer or the string is null.
void text_append(TextObject *text, const char *string);

// Makes the text empty. Does nothing when the object or its buffer is null.
void text_clear(TextObject *text);

#endif
