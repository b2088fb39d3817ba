// Rectangle lists: a fixed number of axis-aligned rectangles, set by index
// and filled together in draw_color.
#ifndef GFX2D_RECT_LIST_H
#define GFX2D_RECT_LIST_H

#include <cstdint>

// Two opposite corners, in any order.
struct RectEntry {
    int32_t x0, y0, x1, y1;
};

// Entries start zero-filled; count never changes after creation.
struct RectList {
    RectEntry *entries;  // count entries
    uint64_t count;
};

// A list of `count` zeroed entries (0 is allowed), or null when an
// allocation fails (nothing leaked).
RectList *rect_list_new(uint64_t count);

// Stores the corners into entry `index`. Does nothing for a null list or
// index >= count.
void rect_list_set(RectList *list, uint64_t index, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// Writes entry `index`'s corners through each pointer that is not null.
// Does nothing for a null list or index >= count.
void rect_list_get(const RectList *list, uint64_t index, int32_t *x0, int32_t *y0, int32_t *x1,
                   int32_t *y1);

// Fills entries 0 .. min(n, count) - 1 in index order in draw_color: the
// columns min(x0, x1) .. max(x0, x1) - 1 of the rows min(y0, y1) ..
// max(y0, y1) - 1, so the right column and bottom row stay unfilled and
// (10, 10, 20, 15) fills 10 x 5 pixels. Clipped to the framebuffer. Null
// does nothing.
void rect_list_draw(const RectList *list, uint64_t n);

// Frees the entries and the record. Null does nothing.
void rect_list_free(RectList *list);

#endif
