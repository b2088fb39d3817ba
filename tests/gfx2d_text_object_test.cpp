// Text objects: the buffer (creation, appending with truncation, clearing)
// and drawing (wrapping, transparency, codes outside the set, clipping).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx2d/font.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/text_object.h"
#include "support/gfx2d_canvas.h"
#include "util/alloc.h"

typedef std::vector<std::pair<int32_t, int32_t>> Points;

TEST(TextObject, NewAppendTruncatesAtCapacityAndClear) {
    Font *font = font_new(glyphs_8x8, 8, 8);
    TextObject *text = text_new(font, 5, 100, 10, 20);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->font, font);
    EXPECT_EQ(text->x, 10);
    EXPECT_EQ(text->y, 20);
    EXPECT_EQ(text->capacity, 5u);
    EXPECT_EQ(text->wrap_width, 100u);
    EXPECT_STREQ(text->text, "");
    text_append(text, "abc");
    EXPECT_STREQ(text->text, "abc");
    text_append(text, "defg");  // only two more fit
    EXPECT_STREQ(text->text, "abcde");
    text_append(text, "z");
    EXPECT_STREQ(text->text, "abcde");
    text_append(text, nullptr);
    EXPECT_STREQ(text->text, "abcde");
    text_clear(text);
    EXPECT_STREQ(text->text, "");
    text_append(text, "xy");
    EXPECT_STREQ(text->text, "xy");
    text_set_position(text, -3, 7);
    EXPECT_EQ(text->x, -3);
    EXPECT_EQ(text->y, 7);
    text_free(text);

    // Capacity 0 holds nothing at all.
    TextObject *none = text_new(font, 0, 100, 0, 0);
    ASSERT_NE(none, nullptr);
    text_append(none, "abc");
    EXPECT_STREQ(none->text, "");
    text_free(none);

    // Null objects and buffers are ignored.
    text_append(nullptr, "a");
    text_clear(nullptr);
    text_set_position(nullptr, 1, 2);
    text_free(nullptr);
    TextObject bufferless = {font, 0, 0, 4, nullptr, 100};
    text_append(&bufferless, "a");
    text_clear(&bufferless);
    EXPECT_EQ(bufferless.text, nullptr);

    // A capacity whose buffer size would wrap is refused.
    EXPECT_EQ(text_new(font, UINT64_MAX, 100, 0, 0), nullptr);
    // Either allocation failing gives null.
    alloc_fail_after(0);
    EXPECT_EQ(text_new(font, 4, 100, 0, 0), nullptr);
    alloc_fail_after(1);
    EXPECT_EQ(text_new(font, 4, 100, 0, 0), nullptr);
    alloc_fail_after(-1);
    font_free(font);
}

// Draws `string` with a 32 x 32 font whose glyphs are one dot at their
// top-left corner and returns where the dots landed: the pen positions.
static Points pen_positions(const char *string, uint32_t wrap_width, int32_t x, int32_t y) {
    static const std::vector<uint8_t> dots = dot_glyph_set(32, 32);
    canvas_reset();
    Font *font = font_new(dots.data(), 32, 32);
    TextObject *text = text_new(font, strlen(string), wrap_width, x, y);
    text_append(text, string);
    const std::vector<uint8_t> before = canvas_snapshot();
    set_draw_color(9);
    text_draw(text);
    const Points changes = canvas_changes(before, canvas_snapshot());
    text_free(text);
    font_free(font);
    return changes;
}

TEST(TextObject, WrapsBeforeTheGlyphThatWouldPassTheWrapWidth) {
    // Width 100: lines of 3, 3, 3 and 1 glyphs.
    EXPECT_EQ(pen_positions("0123456789", 100, 10, 20),
              (Points{{10, 20}, {42, 20}, {74, 20},
                      {10, 52}, {42, 52}, {74, 52},
                      {10, 84}, {42, 84}, {74, 84},
                      {10, 116}}));
    // Exactly 96 still fits three (96 < 96 is false).
    EXPECT_EQ(pen_positions("abcd", 96, 0, 0), (Points{{0, 0}, {32, 0}, {64, 0}, {0, 32}}));
    // 95 fits two.
    EXPECT_EQ(pen_positions("abcd", 95, 0, 0), (Points{{0, 0}, {32, 0}, {0, 32}, {32, 32}}));
    // Narrower than a glyph: every glyph on a line of its own, the first
    // already one line down.
    EXPECT_EQ(pen_positions("a", 2, 50, 60), (Points{{50, 92}}));
    EXPECT_EQ(pen_positions("ab", 2, 50, 60), (Points{{50, 92}, {50, 124}}));
    // The widest wrap width never wraps.
    EXPECT_EQ(pen_positions("abcdefghijkl", 4294967295u, 0, 100),
              (Points{{0, 100}, {32, 100}, {64, 100}, {96, 100}, {128, 100}, {160, 100},
                      {192, 100}, {224, 100}, {256, 100}, {288, 100}, {320, 100}, {352, 100}}));
    // A newline is glyph 10, not a line break; bytes 128..255 draw nothing
    // but take a glyph's room.
    EXPECT_EQ(pen_positions("a\nb", 1000, 0, 0), (Points{{0, 0}, {32, 0}, {64, 0}}));
    EXPECT_EQ(pen_positions("a\x80\xff" "b", 1000, 0, 0), (Points{{0, 0}, {96, 0}}));
}

TEST(TextObject, DrawSetsInkInDrawColorAndLeavesClearBitsAlone) {
    canvas_reset();
    Font *font = font_new(glyphs_32x32, 32, 32);
    TextObject *text = text_new(font, 16, 4294967295u, 20, 30);
    text_append(text, "Ag@W");
    const std::vector<uint8_t> before = canvas_snapshot();
    std::vector<uint8_t> expected = before;
    reference_text_draw(expected, *text, 12);
    set_draw_color(12);
    text_draw(text);
    const std::vector<uint8_t> after = canvas_snapshot();
    EXPECT_EQ(after, expected);
    // Between the strokes the picture shows through, and the ink is there.
    size_t ink = 0, kept = 0;
    for (size_t i = 0; i < after.size(); i++) {
        if (after[i] == 12) ink++;
        else if (after[i] == before[i]) kept++;
    }
    EXPECT_GT(ink, 4u * 100u);        // four heavy glyphs
    EXPECT_EQ(ink + kept, after.size());
    EXPECT_EQ(draw_color, 12);        // drawing changes no state
    EXPECT_STREQ(text->text, "Ag@W");
    // Glyph 0 cannot be in a string, and the space is blank.
    text_clear(text);
    text_append(text, "   ");
    const std::vector<uint8_t> before_space = canvas_snapshot();
    text_draw(text);
    EXPECT_EQ(canvas_snapshot(), before_space);
    text_free(text);
    font_free(font);
    text_draw(nullptr);  // ignored
}

TEST(TextObject, ClipsExactlyToTheFramebuffer) {
    Font *fonts[3] = {font_new(glyphs_32x32, 32, 32), font_new(glyphs_8x8, 8, 8),
                      font_new(glyphs_8x16, 8, 16)};
    // Partly off every edge, wholly off each side, and far off.
    const int32_t positions[][2] = {{-13, -9},   {380, 225}, {-20, 100}, {390, 100}, {200, -20},
                                    {200, 230},  {-400, 0},  {400, 0},   {0, -240},  {0, 240},
                                    {-2000000000, -2000000000}, {2147483000, 2147483000},
                                    {-40, 10}};
    for (Font *font : fonts) {
        ASSERT_NE(font, nullptr);
        for (const auto &position : positions) {
            canvas_reset();
            TextObject *text = text_new(font, 64, 150, position[0], position[1]);
            text_append(text, "Clip\x01\x7f me! jumps over {the} lazy dog");
            std::vector<uint8_t> expected = canvas_snapshot();
            reference_text_draw(expected, *text, 5);
            set_draw_color(5);
            text_draw(text);
            EXPECT_EQ(canvas_snapshot(), expected)
                << "glyph width " << font->glyph_width << " at " << position[0] << ", " << position[1];
            EXPECT_TRUE(canvas_fence_intact());
            text_free(text);
        }
        font_free(font);
    }
}
