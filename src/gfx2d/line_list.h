// Line lists: a fixed number of line segments, set by index and drawn
// together in draw_color.
#ifndef GFX2D_LINE_LIST_H
#define GFX2D_LINE_LIST_H

#include <cstdint>

struct LineEntry {
    int32_t x0, y0, x1, y1;
    int32_t color;  // the list's colour, stored by line_list_set; drawing uses draw_color
};

// Entries start zero-filled; count never changes after creation.
struct LineList {
    LineEntry *entries;  // count entries
    uint64_t count;
    int32_t color;       // recorded into every entry that is set
};

// A list of `count` zeroed entries (0 is allowed), or null when an
// allocation fails (nothing leaked).
LineList *line_list_new(uint64_t count, int32_t color);

// Stores the end points and the list's colour into entry `index`. Does
// nothing for a null list or index >= count.
void line_list_set(LineList *list, uint64_t index, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// Writes entry `index`'s end points through all four pointers, which must
// not be null. Does nothing for a null list or index >= count.
void line_list_get(const LineList *list, uint64_t index, int32_t *x0, int32_t *y0, int32_t *x1,
                   int32_t *y1);

// Draws entries 0 .. min(n, count) - 1 in index order with draw_line's
// walk in draw_color, both end points set, clipped to the framebuffer. An
// entry never set is a one-pixel line at (0, 0). Null does nothing.
void line_list_draw(const LineList *list, uint64_t n);

// Frees the entries and the record. Null does nothing.
void line_list_free(LineList *list);

#endif
