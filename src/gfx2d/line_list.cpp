// Line lists: fixed-size storage of segments and drawing them in order.
#include "gfx2d/line_list.h"

#include "gfx2d/framebuffer.h"
#include "gfx2d/primitives.h"
#include "util/alloc.h"

LineList *line_list_new(uint64_t count, int32_t color) {
    if (count > SIZE_MAX / sizeof(LineEntry)) return nullptr;
    LineList *list = static_cast<LineList *>(engine_calloc(1, sizeof(LineList)));
    if (!list) return nullptr;
    // An empty list still gets one slot, so entries is never null.
    list->entries = static_cast<LineEntry *>(engine_calloc(count ? count : 1, sizeof(LineEntry)));
    if (!list->entries) {
        engine_free(list);
        return nullptr;
    }
    list->count = count;
    list->color = color;
    return list;
}

void line_list_set(LineList *list, uint64_t index, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (!list || index >= list->count) return;
    list->entries[index] = LineEntry{x0, y0, x1, y1, list->color};
}

void line_list_get(const LineList *list, uint64_t index, int32_t *x0, int32_t *y0, int32_t *x1,
                   int32_t *y1) {
    if (!list || index >= list->count) return;
    const LineEntry &entry = list->entries[index];
    *x0 = entry.x0;
    *y0 = entry.y0;
    *x1 = entry.x1;
    *y1 = entry.y1;
}

void line_list_draw(const LineList *list, uint64_t n) {
    if (!list) return;
    const uint64_t end = n < list->count ? n : list->count;
    for (uint64_t i = 0; i < end; i++) {
        const LineEntry &entry = list->entries[i];
        draw_line(entry.x0, entry.y0, entry.x1, entry.y1, draw_color);
    }
}

void line_list_free(LineList *list) {
    if (!list) return;
    engine_free(list->entries);
    engine_free(list);
}
