// Line and rectangle lists: storage by index, readers, drawing order,
// never-set entries, corner order, n beyond count, and clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "gfx2d/framebuffer.h"
#include "gfx2d/line_list.h"
#include "gfx2d/primitives.h"
#include "gfx2d/rect_list.h"
#include "support/gfx2d_canvas.h"
#include "util/alloc.h"

typedef std::vector<std::pair<int32_t, int32_t>> Points;

TEST(TextLineList, SetGetAndIndicesBeyondCount) {
    LineList *list = line_list_new(3, 42);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 3u);
    EXPECT_EQ(list->color, 42);
    int32_t a = -1, b = -1, c = -1, d = -1;
    line_list_get(list, 2, &a, &b, &c, &d);  // never set: zeros
    EXPECT_EQ(a | b | c | d, 0);
    line_list_set(list, 1, 5, 6, 7, 8);
    line_list_get(list, 1, &a, &b, &c, &d);
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 6);
    EXPECT_EQ(c, 7);
    EXPECT_EQ(d, 8);
    EXPECT_EQ(list->entries[1].color, 42);  // the list's colour goes with the entry
    EXPECT_EQ(list->entries[0].color, 0);
    line_list_set(list, 3, 1, 1, 1, 1);  // beyond count: ignored
    a = b = c = d = -9;
    line_list_get(list, 3, &a, &b, &c, &d);
    EXPECT_EQ(a, -9);
    line_list_get(list, UINT64_MAX, &a, &b, &c, &d);
    EXPECT_EQ(d, -9);
    line_list_set(nullptr, 0, 1, 1, 1, 1);
    line_list_get(nullptr, 0, &a, &b, &c, &d);
    line_list_draw(nullptr, 5);
    line_list_free(list);
    line_list_free(nullptr);

    LineList *empty = line_list_new(0, 1);
    ASSERT_NE(empty, nullptr);
    line_list_set(empty, 0, 1, 1, 1, 1);
    line_list_free(empty);
    EXPECT_EQ(line_list_new(UINT64_MAX / 4, 1), nullptr);
    alloc_fail_after(0);
    EXPECT_EQ(line_list_new(4, 1), nullptr);
    alloc_fail_after(1);
    EXPECT_EQ(line_list_new(4, 1), nullptr);
    alloc_fail_after(-1);
}

TEST(TextLineList, DrawsEntriesInOrderInDrawColorWithTheLineWalk) {
    LineList *list = line_list_new(4, 99);
    line_list_set(list, 0, 10, 10, 50, 30);
    line_list_set(list, 1, 50, 10, 10, 30);  // crosses entry 0: drawn over it
    line_list_set(list, 2, -30, 200, 420, 150);  // both ends off screen
    // Entry 3 never set: one pixel at (0, 0).
    canvas_reset();
    std::vector<uint8_t> before = canvas_snapshot();
    set_draw_color(7);
    line_list_draw(list, 0);
    EXPECT_EQ(canvas_snapshot(), before);  // n = 0 draws nothing
    line_list_draw(list, 1000);            // n beyond count draws all
    const std::vector<uint8_t> drawn = canvas_snapshot();
    EXPECT_TRUE(canvas_fence_intact());
    // The same lines through draw_line, in order, in colour 7.
    canvas_reset();
    draw_line(10, 10, 50, 30, 7);
    draw_line(50, 10, 10, 30, 7);
    draw_line(-30, 200, 420, 150, 7);
    draw_line(0, 0, 0, 0, 7);
    EXPECT_EQ(drawn[0], 7);
    EXPECT_EQ(drawn, canvas_snapshot());
    // n = 1: only the first entry.
    canvas_reset();
    before = canvas_snapshot();
    line_list_draw(list, 1);
    const Points changed = canvas_changes(before, canvas_snapshot());
    EXPECT_EQ(changed.size(), 41u);  // x-major, 40 steps, both ends set
    EXPECT_EQ(changed.front(), (std::pair<int32_t, int32_t>(10, 10)));
    EXPECT_EQ(changed.back(), (std::pair<int32_t, int32_t>(50, 30)));
    line_list_free(list);
}

TEST(TextRectList, SetGetWithNullOutputsAndIndicesBeyondCount) {
    RectList *list = rect_list_new(2);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 2u);
    rect_list_set(list, 0, 1, 2, 3, 4);
    int32_t a = -1, c = -1;
    rect_list_get(list, 0, &a, nullptr, &c, nullptr);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(c, 3);
    int32_t b = -1, d = -1;
    rect_list_get(list, 0, nullptr, &b, nullptr, &d);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(d, 4);
    rect_list_get(list, 1, &a, &b, &c, &d);  // never set
    EXPECT_EQ(a | b | c | d, 0);
    rect_list_set(list, 2, 9, 9, 9, 9);
    a = -5;
    rect_list_get(list, 2, &a, nullptr, nullptr, nullptr);
    EXPECT_EQ(a, -5);
    rect_list_set(nullptr, 0, 1, 1, 1, 1);
    rect_list_get(nullptr, 0, &a, &b, &c, &d);
    rect_list_draw(nullptr, 1);
    rect_list_free(list);
    rect_list_free(nullptr);
    EXPECT_EQ(rect_list_new(UINT64_MAX / 8), nullptr);
    alloc_fail_after(0);
    EXPECT_EQ(rect_list_new(4), nullptr);
    alloc_fail_after(1);
    EXPECT_EQ(rect_list_new(4), nullptr);
    alloc_fail_after(-1);
}

// The pixels a fill of (x0, y0, x1, y1) sets, by the per-pixel rule. The
// walk starts a pixel before the screen and stops a pixel after it, so huge
// rectangles stay cheap while every on-screen pixel is still decided by
// the rule.
static void reference_fill(std::vector<uint8_t> &screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           uint8_t color) {
    const int64_t top = std::max<int64_t>(std::min(y0, y1), -1);
    const int64_t bottom = std::min<int64_t>(std::max(y0, y1), fb_height + 1);
    const int64_t left = std::max<int64_t>(std::min(x0, x1), -1);
    const int64_t right = std::min<int64_t>(std::max(x0, x1), fb_width + 1);
    for (int64_t y = top; y < bottom; y++)
        for (int64_t x = left; x < right; x++) reference_put(screen, x, y, color);
}

TEST(TextRectList, FillsHalfOpenBlocksInAnyCornerOrder) {
    RectList *list = rect_list_new(5);
    rect_list_set(list, 0, 10, 10, 20, 15);
    rect_list_set(list, 1, 60, 15, 50, 10);  // corners swapped: same shape
    rect_list_set(list, 2, 30, 30, 30, 40);  // zero width: nothing
    rect_list_set(list, 3, 30, 30, 40, 30);  // zero height: nothing
    // Entry 4 never set: nothing.
    canvas_reset();
    const std::vector<uint8_t> before = canvas_snapshot();
    set_draw_color(3);
    rect_list_draw(list, 0);
    EXPECT_EQ(canvas_snapshot(), before);
    rect_list_draw(list, 99);
    const Points changed = canvas_changes(before, canvas_snapshot());
    ASSERT_EQ(changed.size(), 100u);  // two blocks of 10 x 5
    for (const auto &p : changed) {
        const bool first = p.first >= 10 && p.first < 20 && p.second >= 10 && p.second < 15;
        const bool second = p.first >= 50 && p.first < 60 && p.second >= 10 && p.second < 15;
        EXPECT_TRUE(first || second) << p.first << ", " << p.second;
        EXPECT_EQ(fb_pixels[p.second * fb_width + p.first], 3);
    }
    // Later entries overwrite earlier ones.
    rect_list_set(list, 0, 0, 0, 8, 8);
    rect_list_set(list, 1, 4, 4, 12, 12);
    set_draw_color(1);
    rect_list_draw(list, 1);
    set_draw_color(2);
    rect_list_draw(list, 2);
    EXPECT_EQ(fb_pixels[5 * fb_width + 5], 2);
    EXPECT_EQ(fb_pixels[1 * fb_width + 1], 2);  // both drawn in the colour of the last draw
    rect_list_free(list);
}

TEST(TextRectList, ClipsExactlyToTheFramebuffer) {
    const int32_t rects[][4] = {{-10, -10, 20, 20},  {390, 230, 420, 260}, {-50, 100, -1, 120},
                                {400, 0, 500, 240},  {0, 240, 400, 300},   {0, -30, 400, 0},
                                {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {399, 239, 400, 240},
                                {200, 100, -300, -300}, {100, 50, 150, 90}};
    RectList *list = rect_list_new(1);
    for (const auto &r : rects) {
        canvas_reset();
        std::vector<uint8_t> expected = canvas_snapshot();
        reference_fill(expected, r[0], r[1], r[2], r[3], 11);
        rect_list_set(list, 0, r[0], r[1], r[2], r[3]);
        set_draw_color(11);
        rect_list_draw(list, 1);
        EXPECT_EQ(canvas_snapshot(), expected) << r[0] << ", " << r[1] << ", " << r[2] << ", " << r[3];
        EXPECT_TRUE(canvas_fence_intact());
    }
    rect_list_free(list);
}
