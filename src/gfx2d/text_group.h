// The jittering-text effect: a string shown as one text object per
// character, one glyph width apart. Every few updates each character is
// thrown to a new random offset around its place; every update each one is
// drawn in a new random colour. Random numbers come from rand(), never
// seeded here.
#ifndef GFX2D_TEXT_GROUP_H
#define GFX2D_TEXT_GROUP_H

#include <cstdint>

#include "gfx2d/font.h"
#include "util/vector.h"

// Each item is a TextObject holding one character in a capacity of 2 with
// wrap width 2, so its glyph is drawn one line below its own position.
struct TextGroup {
    Vector *items;     // TextObject pointers, one per character in string order; owned
    Font *font;        // font of every character object; not owned
    int32_t origin_x;  // left edge of the first character before jitter
    int32_t origin_y;  // top edge of the characters before jitter
    int32_t jitter_x;  // horizontal jitter range, at least 1
    int32_t jitter_y;  // vertical jitter range, at least 1
    int32_t period;    // offsets re-roll on every (period + 2)-th update
    int32_t counter;   // updates since the last re-roll; 0 at creation
};

// A new empty group, or null when the record or its vector (initial
// capacity 16) cannot be allocated (nothing leaked). Jitter ranges below 1
// are stored as 1.
TextGroup *text_group_new(Font *font, int32_t origin_x, int32_t origin_y, int32_t jitter_x,
                          int32_t jitter_y, int32_t period);

// Adds one character object per byte of `string` after those already in
// the group, each at (0, 0) until the next re-roll. Returns 0 when every
// character was stored; -1 when the group or string is null or an object
// could not be created or stored, the characters before it staying in the
// group.
int text_group_set_text(TextGroup *group, const char *string);

// Frees every character object, last first, leaving the group empty.
// Returns 0; -1 for a null group.
int text_group_clear(TextGroup *group);

// Moves the origin; the characters follow at the next re-roll. Null does
// nothing.
void text_group_set_position(TextGroup *group, int32_t x, int32_t y);

// Sets the jitter ranges, values below 1 taken as 1. Null does nothing.
void text_group_set_jitter(TextGroup *group, int32_t jitter_x, int32_t jitter_y);

// Sets the re-roll period. Null does nothing.
void text_group_set_period(TextGroup *group, int32_t period);

// One frame. The counter advances (and is reset to 0 once it has passed
// `period`); when it is 0, each character in turn gets the offset
// dx = rand() % jitter_x - jitter_x / 2, then dy likewise, and stands at
// (origin_x + dx + i * glyph_width, origin_y + dy). Then each character is
// drawn in colour rand() % 256, which is left in draw_color. A re-roll takes
// three rand() values per character (x, y, colour), any other update one.
// Null does nothing.
void text_group_update(TextGroup *group);

// Frees the vector and the record, not the character objects: empty the
// group with text_group_clear first. Null does nothing.
void text_group_free(TextGroup *group);

#endif
