// Fonts: construction and its refusals, and the measuring functions.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "gfx2d/font.h"
#include "gfx2d/glyphs.h"
#include "util/alloc.h"

TEST(TextFont, NewKeepsGlyphsAndSizesAndRefusesUndrawableFonts) {
    Font *font = font_new(glyphs_32x32, 32, 32);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->glyphs, glyphs_32x32);
    EXPECT_EQ(font->glyph_width, 32);
    EXPECT_EQ(font->glyph_height, 32);
    font_free(font);
    font_free(nullptr);  // ignored

    EXPECT_EQ(font_new(nullptr, 8, 8), nullptr);
    EXPECT_EQ(font_new(glyphs_8x8, 0, 8), nullptr);
    EXPECT_EQ(font_new(glyphs_8x8, 8, -1), nullptr);
    // 128 glyphs of 65536 x 65536 pixels need 2^33 bytes, beyond the
    // 32-bit offsets of the layout.
    EXPECT_EQ(font_new(glyphs_8x8, 65536, 65536), nullptr);
    Font *odd = font_new(glyphs_8x8, 5, 3);  // any positive size that fits is fine
    EXPECT_NE(odd, nullptr);
    font_free(odd);

    alloc_fail_after(0);
    EXPECT_EQ(font_new(glyphs_8x8, 8, 8), nullptr);
    alloc_fail_after(-1);
}

TEST(TextFont, TextSizeFiguresForLinesOfNCharacters) {
    Font *font = font_new(glyphs_32x32, 32, 32);
    ASSERT_NE(font, nullptr);
    int32_t w = -7, h = -7;
    // 10 characters, 3 to a line: lines of 3, 3, 3 and 1.
    EXPECT_EQ(font_text_size(font, "0123456789", 3, &w, &h), 0);
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 128);
    // Empty string: one line of no width.
    EXPECT_EQ(font_text_size(font, "", 5, &w, &h), 0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 32);
    // 7 characters, 10 to a line: one line of 7.
    EXPECT_EQ(font_text_size(font, "abcdefg", 10, &w, &h), 0);
    EXPECT_EQ(w, 7 * 32);
    EXPECT_EQ(h, 32);
    // 7 characters, 3 to a line: 3 lines, 3 wide.
    EXPECT_EQ(font_text_size(font, "abcdefg", 3, &w, &h), 0);
    EXPECT_EQ(w, 3 * 32);
    EXPECT_EQ(h, 3 * 32);
    // Exactly full lines: 6 characters, 3 to a line, 2 lines.
    EXPECT_EQ(font_text_size(font, "abcdef", 3, &w, &h), 0);
    EXPECT_EQ(h, 64);
    // Either output may be left out.
    w = -7;
    EXPECT_EQ(font_text_size(font, "abcd", 2, nullptr, &h), 0);
    EXPECT_EQ(h, 64);
    EXPECT_EQ(font_text_size(font, "abcd", 2, &w, nullptr), 0);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(font_text_size(font, "abcd", 2, nullptr, nullptr), 0);
    // A huge count per line cannot overflow the rounding up.
    EXPECT_EQ(font_text_size(font, "abcd", INT32_MAX, &w, &h), 0);
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 32);

    // Failures write nothing.
    w = h = -7;
    EXPECT_EQ(font_text_size(nullptr, "abc", 3, &w, &h), -1);
    EXPECT_EQ(font_text_size(font, nullptr, 3, &w, &h), -1);
    EXPECT_EQ(font_text_size(font, "abc", 0, &w, &h), -1);
    EXPECT_EQ(font_text_size(font, "abc", -4, &w, &h), -1);
    EXPECT_EQ(w, -7);
    EXPECT_EQ(h, -7);
    font_free(font);
}

TEST(TextFont, LineHeightAndTextWidth) {
    Font *font = font_new(glyphs_8x16, 8, 16);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font_line_height(font), 16);
    EXPECT_EQ(font_line_height(nullptr), -1);
    EXPECT_EQ(font_text_width(font, "hello"), 40);
    EXPECT_EQ(font_text_width(font, ""), 0);
    EXPECT_EQ(font_text_width(nullptr, "hello"), -1);
    EXPECT_EQ(font_text_width(font, nullptr), -1);
    font_free(font);
}

TEST(TextFont, FiguresBeyondInt32Saturate) {
    // A 3 MB string in a font 1024 pixels wide is about 3 * 2^30 pixels.
    static uint8_t glyphs[FONT_CODE_COUNT * 1024 * 1 / 8];
    Font *font = font_new(glyphs, 1024, 1);
    ASSERT_NE(font, nullptr);
    const std::string long_text(3u << 20, 'x');
    EXPECT_EQ(font_text_width(font, long_text.c_str()), INT32_MAX);
    int32_t w = 0, h = 0;
    EXPECT_EQ(font_text_size(font, long_text.c_str(), INT32_MAX, &w, &h), 0);
    EXPECT_EQ(w, INT32_MAX);
    EXPECT_EQ(h, 1);
    font_free(font);
}

TEST(TextFont, DemoFontIsCreatedOverTheLargeSetAtStartUp) {
    // Nothing creates it before the program's start-up does.
    EXPECT_EQ(demo_font, nullptr);
    demo_font = font_new(glyphs_32x32, 32, 32);  // the start-up's first step
    ASSERT_NE(demo_font, nullptr);
    EXPECT_EQ(demo_font->glyphs, glyphs_32x32);
    EXPECT_EQ(font_line_height(demo_font), 32);
    EXPECT_EQ(font_text_width(demo_font, "demo"), 128);
    font_free(demo_font);
    demo_font = nullptr;
}
