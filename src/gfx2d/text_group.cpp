// The jittering-text effect: building the group's character objects,
// re-rolling their offsets and drawing them in random colours.
#include "gfx2d/text_group.h"

#include <cstdlib>

#include "gfx2d/framebuffer.h"
#include "gfx2d/text_object.h"
#include "util/alloc.h"

static const uint64_t TEXT_GROUP_INITIAL_CAPACITY = 16;
// Each character object holds its one character, and its wrap width is
// narrower than any glyph, so its glyph sits one line below its position.
static const uint64_t TEXT_GROUP_CHAR_CAPACITY = 2;
static const uint32_t TEXT_GROUP_CHAR_WRAP_PX = 2;
static const int TEXT_GROUP_COLORS = 256;

// A remainder by a range below 1 has no result; such a range acts as 1.
static int32_t jitter_range(int32_t range) { return range < 1 ? 1 : range; }

TextGroup *text_group_new(Font *font, int32_t origin_x, int32_t origin_y, int32_t jitter_x,
                          int32_t jitter_y, int32_t period) {
    TextGroup *group = static_cast<TextGroup *>(engine_calloc(1, sizeof(TextGroup)));
    if (!group) return nullptr;
    group->items = vector_create(TEXT_GROUP_INITIAL_CAPACITY);
    if (!group->items) {
        engine_free(group);
        return nullptr;
    }
    group->font = font;
    group->origin_x = origin_x;
    group->origin_y = origin_y;
    group->jitter_x = jitter_range(jitter_x);
    group->jitter_y = jitter_range(jitter_y);
    group->period = period;
    return group;
}

int text_group_set_text(TextGroup *group, const char *string) {
    if (!group || !string) return -1;
    for (const char *p = string; *p; p++) {
        TextObject *object = text_new(group->font, TEXT_GROUP_CHAR_CAPACITY, TEXT_GROUP_CHAR_WRAP_PX, 0, 0);
        if (!object) return -1;
        const char one[2] = {*p, '\0'};
        text_append(object, one);
        if (vector_append(group->items, object) != 0) {
            text_free(object);
            return -1;
        }
    }
    return 0;
}

int text_group_clear(TextGroup *group) {
    if (!group) return -1;
    while (group->items->count > 0) {
        const uint64_t last = group->items->count - 1;
        text_free(static_cast<TextObject *>(group->items->items[last]));
        vector_remove_at(group->items, last);
    }
    return 0;
}

void text_group_set_position(TextGroup *group, int32_t x, int32_t y) {
    if (!group) return;
    group->origin_x = x;
    group->origin_y = y;
}

void text_group_set_jitter(TextGroup *group, int32_t jitter_x, int32_t jitter_y) {
    if (!group) return;
    group->jitter_x = jitter_range(jitter_x);
    group->jitter_y = jitter_range(jitter_y);
}

void text_group_set_period(TextGroup *group, int32_t period) {
    if (group) group->period = period;
}

// Far-off characters stay far off instead of wrapping back onto the
// screen.
static int32_t clamp_int32(int64_t value) {
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
}

void text_group_update(TextGroup *group) {
    if (!group) return;
    const int32_t previous = group->counter;
    // previous == INT32_MAX can only be reached with period INT32_MAX; the
    // counter then restarts instead of overflowing.
    group->counter = previous > group->period || previous == INT32_MAX ? 0 : previous + 1;
    const bool reroll = group->counter == 0;
    // The fields are public, so the ranges are checked again where used.
    const int32_t range_x = jitter_range(group->jitter_x);
    const int32_t range_y = jitter_range(group->jitter_y);
    const int64_t glyph_width = group->font ? group->font->glyph_width : 0;
    for (uint64_t i = 0; i < group->items->count; i++) {
        TextObject *object = static_cast<TextObject *>(group->items->items[i]);
        if (reroll) {
            const int32_t dx = rand() % range_x - range_x / 2;
            const int32_t dy = rand() % range_y - range_y / 2;
            const int64_t x = static_cast<int64_t>(group->origin_x) + dx + static_cast<int64_t>(i) * glyph_width;
            const int64_t y = static_cast<int64_t>(group->origin_y) + dy;
            text_set_position(object, clamp_int32(x), clamp_int32(y));
        }
        set_draw_color(static_cast<uint8_t>(rand() % TEXT_GROUP_COLORS));
        text_draw(object);
    }
}

void text_group_free(TextGroup *group) {
    if (!group) return;
    // The character objects are left alone: callers empty the group with
    // text_group_clear first, and may have released them themselves.
    vector_destroy(group->items);
    engine_free(group);
}
