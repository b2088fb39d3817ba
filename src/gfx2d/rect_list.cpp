// Rectangle lists: fixed-size storage of rectangles and filling them in
// order, clipped to the framebuffer.
#include "gfx2d/rect_list.h"

#include <cstring>

#include "gfx2d/framebuffer.h"
#include "util/alloc.h"

RectList *rect_list_new(uint64_t count) {
    if (count > SIZE_MAX / sizeof(RectEntry)) return nullptr;
    RectList *list = static_cast<RectList *>(engine_calloc(1, sizeof(RectList)));
    if (!list) return nullptr;
    // An empty list still gets one slot, so entries is never null.
    list->entries = static_cast<RectEntry *>(engine_calloc(count ? count : 1, sizeof(RectEntry)));
    if (!list->entries) {
        engine_free(list);
        return nullptr;
    }
    list->count = count;
    return list;
}

void rect_list_set(RectList *list, uint64_t index, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (!list || index >= list->count) return;
    list->entries[index] = RectEntry{x0, y0, x1, y1};
}

void rect_list_get(const RectList *list, uint64_t index, int32_t *x0, int32_t *y0, int32_t *x1,
                   int32_t *y1) {
    if (!list || index >= list->count) return;
    const RectEntry &entry = list->entries[index];
    if (x0) *x0 = entry.x0;
    if (y0) *y0 = entry.y0;
    if (x1) *x1 = entry.x1;
    if (y1) *y1 = entry.y1;
}

static int32_t clamp(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : value > high ? high : value;
}

void rect_list_draw(const RectList *list, uint64_t n) {
    if (!list) return;
    const uint64_t end = n < list->count ? n : list->count;
    const uint8_t color = draw_color;
    for (uint64_t i = 0; i < end; i++) {
        const RectEntry &entry = list->entries[i];
        // Half-open spans [left, right) x [top, bottom), cut to the screen.
        const int32_t left = clamp(entry.x0 < entry.x1 ? entry.x0 : entry.x1, 0, fb_width);
        const int32_t right = clamp(entry.x0 < entry.x1 ? entry.x1 : entry.x0, 0, fb_width);
        const int32_t top = clamp(entry.y0 < entry.y1 ? entry.y0 : entry.y1, 0, fb_height);
        const int32_t bottom = clamp(entry.y0 < entry.y1 ? entry.y1 : entry.y0, 0, fb_height);
        if (left >= right) continue;
        for (int32_t y = top; y < bottom; y++)
            memset(fb_pixels + static_cast<int64_t>(y) * fb_width + left, color,
                   static_cast<size_t>(right - left));
    }
}

void rect_list_free(RectList *list) {
    if (!list) return;
    engine_free(list->entries);
    engine_free(list);
}
