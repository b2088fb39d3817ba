// The built-in glyph sets: ink exactly on the listed codes, the layout's
// bit order, the 32 x 32 set's heavy right-leaning shapes, and the
// generator reproducing the committed data byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx2d/glyphs.h"
#include "support/gfx2d_canvas.h"
#include "support/platform_process.h"
#include "support/platform_tools.h"
#include "support/test_files.h"

struct SetInfo {
    const char *name;
    const uint8_t *glyphs;
    int32_t width_px, height_px;
};

static const SetInfo SETS[] = {
    {"glyphs_32x32", glyphs_32x32, 32, 32},
    {"glyphs_8x8", glyphs_8x8, 8, 8},
    {"glyphs_8x16", glyphs_8x16, 8, 16},
};

static int ink_count(const SetInfo &set, int code) {
    int count = 0;
    for (int32_t r = 0; r < set.height_px; r++)
        for (int32_t j = 0; j < set.width_px; j++)
            count += glyph_ink(set.glyphs, set.width_px, set.height_px, code, j, r);
    return count;
}

TEST(TextGlyphs, InkExactlyOnTheListedCodes) {
    EXPECT_EQ(sizeof glyphs_32x32, 16384u);
    EXPECT_EQ(sizeof glyphs_8x8, 1024u);
    EXPECT_EQ(sizeof glyphs_8x16, 2048u);
    for (int code = 0; code < 128; code++) {
        const bool ascii = code >= 33 && code <= 126;
        EXPECT_EQ(ink_count(SETS[0], code) > 0, ascii) << "32x32 code " << code;
        EXPECT_EQ(ink_count(SETS[1], code) > 0, ascii || code == 127) << "8x8 code " << code;
        EXPECT_EQ(ink_count(SETS[2], code) > 0, code != 0 && code != 32) << "8x16 code " << code;
    }
}

TEST(TextGlyphs, LeftmostPixelIsBitZero) {
    // The stem of an L stands at the left of its cell and its foot is the
    // widest row; with the bit order reversed it would stand at the right.
    for (const SetInfo &set : SETS) {
        int stem_left = 0, stem_right = 0, widest = 0, widest_row = -1;
        for (int32_t r = 0; r < set.height_px; r++) {
            int row_ink = 0, first = -1;
            for (int32_t j = 0; j < set.width_px; j++)
                if (glyph_ink(set.glyphs, set.width_px, set.height_px, 'L', j, r)) {
                    row_ink++;
                    if (first < 0) first = j;
                }
            if (row_ink == 0) continue;
            if (first < set.width_px / 2) stem_left++; else stem_right++;
            if (row_ink > widest) widest = row_ink, widest_row = r;
        }
        EXPECT_GT(stem_left, stem_right) << set.name;
        EXPECT_GT(widest_row, set.height_px / 2) << set.name;  // the foot is at the bottom
    }
}

// A house: a peak of at most 3 pixels on top, a floor at the bottom that is
// its widest row, and walls (rows of two separate strokes) in between.
TEST(TextGlyphs, HouseAt127HasARoofOverABody) {
    for (const SetInfo &set : {SETS[1], SETS[2]}) {
        int top_row_ink = -1, bottom_row_ink = -1, widest = 0, wall_rows = 0;
        for (int32_t r = 0; r < set.height_px; r++) {
            int row_ink = 0, runs = 0;
            bool previous = false;
            for (int32_t j = 0; j < 8; j++) {
                const bool ink = glyph_ink(set.glyphs, 8, set.height_px, 127, j, r);
                row_ink += ink;
                runs += ink && !previous;
                previous = ink;
            }
            if (row_ink == 0) continue;
            if (top_row_ink < 0) top_row_ink = row_ink;
            bottom_row_ink = row_ink;
            if (row_ink > widest) widest = row_ink;
            if (runs == 2) wall_rows++;
        }
        EXPECT_GE(top_row_ink, 1) << set.name;
        EXPECT_LE(top_row_ink, 3) << set.name;           // the peak
        EXPECT_GE(bottom_row_ink, 6) << set.name;        // the floor
        EXPECT_EQ(bottom_row_ink, widest) << set.name;
        EXPECT_GE(wall_rows, 3) << set.name;
    }
}

TEST(TextGlyphs, LargeSetIsHeavyAndLeansRight) {
    const SetInfo &set = SETS[0];
    // Right-leaning: over the letters, ink in the upper half of a glyph
    // lies further right than ink in the lower half.
    int leaning = 0, letters = 0;
    long runs = 0, run_pixels = 0;
    for (int code = 'A'; code <= 'z'; code++) {
        if (code > 'Z' && code < 'a') continue;
        letters++;
        double upper = 0, lower = 0;
        int upper_n = 0, lower_n = 0;
        for (int32_t r = 0; r < 32; r++) {
            int run = 0;
            for (int32_t j = 0; j <= 32; j++) {
                const bool ink = j < 32 && glyph_ink(set.glyphs, 32, 32, code, j, r);
                if (ink) {
                    run++;
                    if (r < 16) upper += j, upper_n++;
                    else lower += j, lower_n++;
                } else if (run > 0) {
                    runs++;
                    run_pixels += run;
                    run = 0;
                }
            }
        }
        if (upper_n > 0 && lower_n > 0 && upper / upper_n > lower / lower_n) leaning++;
    }
    EXPECT_GE(leaning, letters * 3 / 4);
    // Heavy: horizontal ink runs average at least 4 pixels.
    EXPECT_GE(run_pixels, runs * 4);
}

static std::string read_file(const std::string &path) {
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, &bytes)) return "";
    return std::string(bytes.begin(), bytes.end());
}

TEST(TextGlyphs, GeneratorReproducesTheCommittedSources) {
    const std::string dir = make_temp_dir("text_glyphs");
    ASSERT_FALSE(dir.empty());
    const std::string tool = ENGINE_BINARY_DIR "/make_glyphs";
    ASSERT_EQ(run_command(tool + " " + dir), 0);
    for (const char *name : {"glyphs_8x8.cpp", "glyphs_8x16.cpp", "glyphs_32x32.cpp"}) {
        const std::string committed = read_file(std::string(ENGINE_SOURCE_DIR "/src/gfx2d/") + name);
        const std::string made = read_file(dir + "/" + name);
        EXPECT_FALSE(made.empty()) << name;
        EXPECT_TRUE(made == committed) << name << " differs from the generator's output";
    }
    // Bad input fails with one tagged line and status 1.
    const std::string err = dir + "/err.txt";
    EXPECT_EQ(
        run_command(tool + " " + dir + " /nonexistent.pcf.gz /nonexistent.pcf.gz /nonexistent.ttf 2>" + err), 1);
    EXPECT_EQ(read_file(err).rfind("GLYPHS: cannot open '/nonexistent.pcf.gz'", 0), 0u) << read_file(err);
    // A gzip file that is not a bitmap font.
    const std::string bogus = dir + "/bogus.pcf.gz";
    ASSERT_EQ(run_command("echo not a font | gzip > " + bogus), 0);
    EXPECT_EQ(run_command(tool + " " + dir + " " + bogus + " " + bogus + " /nonexistent.ttf 2>" + err), 1);
    EXPECT_NE(read_file(err).find("is not a PCF bitmap font"), std::string::npos) << read_file(err);
    // A font cut short: its tables point past the end of the file.
    const std::string font_8x8 = "/usr/share/fonts/X11/misc/clB8x8.pcf.gz";
    const std::string font_8x16 = "/usr/share/fonts/X11/misc/h16_b.pcf.gz";
    const std::string cut = dir + "/cut.pcf.gz";
    ASSERT_EQ(run_command("zcat " + font_8x16 + " | head -c 3000 | gzip > " + cut), 0);
    EXPECT_EQ(run_command(tool + " " + dir + " " + font_8x8 + " " + cut + " /nonexistent.ttf 2>" + err), 1);
    EXPECT_NE(read_file(err).find("is a damaged PCF font"), std::string::npos) << read_file(err);
    // The 8 x 16 font offered as the 8 x 8 one does not fit its cells; the
    // 8 x 8 font offered as the 8 x 16 one lacks the code page's symbols.
    EXPECT_EQ(run_command(tool + " " + dir + " " + font_8x16 + " " + font_8x16 + " /nonexistent.ttf 2>" + err),
              1);
    EXPECT_NE(read_file(err).find("does not fit the 8 x 8 cell"), std::string::npos) << read_file(err);
    EXPECT_EQ(run_command(tool + " " + dir + " " + font_8x8 + " " + font_8x8 + " /nonexistent.ttf 2>" + err),
              1);
    EXPECT_NE(read_file(err).find("has no glyph for U+263A (code 1)"), std::string::npos) << read_file(err);
    // Only regular files are read: a FIFO with no writer is refused at once
    // instead of stalling the tool, and so is a directory as the outline font.
    const std::string fifo = dir + "/fifo.pcf.gz";
    ASSERT_EQ(run_command("mkfifo " + fifo), 0);
    EXPECT_EQ(run_command(tool + " " + dir + " " + fifo + " " + font_8x16 + " /nonexistent.ttf 2>" + err), 1);
    EXPECT_EQ(read_file(err), "GLYPHS: cannot open '" + fifo + "': is a FIFO\n");
    EXPECT_EQ(run_command(tool + " " + dir + " " + font_8x8 + " " + font_8x16 + " " + dir + " 2>" + err), 1);
    EXPECT_EQ(read_file(err), "GLYPHS: cannot open '" + dir + "': is a directory\n");
    EXPECT_EQ(run_command(tool + " 2>" + err), 2) << "the usage status";
    remove_tree(dir);
}

TEST(TextGlyphs, SheetToolWritesOnePngPerSet) {
    ASSERT_EQ(missing_tool("identify", "imagemagick"), "");
    const std::string dir = make_temp_dir("text_sheets");
    ASSERT_FALSE(dir.empty());
    const std::string tool = ENGINE_BINARY_DIR "/glyph_sheet";
    // 16 x 8 cells of the glyph size, 2 pixels apart and around.
    const struct { const char *set; const char *size; } sheets[] = {
        {"8x8", "162x82"}, {"8x16", "162x146"}, {"32x32", "546x274"}};
    for (const auto &sheet : sheets) {
        const std::string png = dir + "/" + sheet.set + ".png";
        ASSERT_EQ(run_command(tool + " " + sheet.set + " " + png), 0);
        // ImageMagick reads it back independently.
        const std::string size_file = png + ".size";
        ASSERT_EQ(run_command("identify -format %wx%h " + png + " > " + size_file), 0);
        EXPECT_EQ(read_file(size_file), sheet.size) << sheet.set;
    }
    EXPECT_EQ(run_command(tool + " 9x9 " + dir + "/x.png 2>/dev/null"), 2) << "the usage status";
    remove_tree(dir);
}
