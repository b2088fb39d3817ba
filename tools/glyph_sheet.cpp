// Renders one built-in glyph set as a PNG sheet of all 128 codes, 16 to a
// row, each on a grey cell the size of the glyph, so the sets can be
// looked at. Draws through text objects, the path every program uses.
//
// Usage: glyph_sheet 8x8|8x16|32x32 OUT.png
// Exit status 0 on success; 2 with the usage line or one "GLYPHS: ..." line
// on standard error for a bad argument; 1 when the PNG cannot be written.
#include <cstdio>
#include <cstring>

#include "gfx2d/font.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/text_object.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/program_args.h"
#include "platform/screenshot.h"
#include "util/std_fds.h"

static const int SHEET_COLUMNS = 16;
static const int SHEET_ROWS = FONT_CODE_COUNT / SHEET_COLUMNS;
static const int CELL_GAP_PX = 2;
static const uint8_t CELL_COLOR = palette_grey(2);  // a dark grey
static const uint8_t INK_COLOR = PALETTE_WHITE;
static const uint8_t GAP_COLOR = PALETTE_BLACK;

static const char USAGE[] =
    "usage: glyph_sheet 8x8|8x16|32x32 OUT.png\n"
    "Draws all 128 codes of one built-in glyph set, 16 to a row, as a PNG sheet.\n";

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 2, 2, USAGE)) return USAGE_ERROR_STATUS;
    const uint8_t *glyphs;
    int width_px, height_px;
    if (strcmp(argv[1], "8x8") == 0) {
        glyphs = glyphs_8x8, width_px = 8, height_px = 8;
    } else if (strcmp(argv[1], "8x16") == 0) {
        glyphs = glyphs_8x16, width_px = 8, height_px = 16;
    } else if (strcmp(argv[1], "32x32") == 0) {
        glyphs = glyphs_32x32, width_px = 32, height_px = 32;
    } else {
        fprintf(stderr, "GLYPHS: unknown glyph set '%s' (8x8, 8x16 or 32x32)\n", argv[1]);
        return USAGE_ERROR_STATUS;
    }
    // The sheet may be larger than the screen; the framebuffer's storage
    // holds up to 800 x 480.
    fb_attach_storage();
    fb_width = SHEET_COLUMNS * (width_px + CELL_GAP_PX) + CELL_GAP_PX;
    fb_height = SHEET_ROWS * (height_px + CELL_GAP_PX) + CELL_GAP_PX;
    set_draw_color(GAP_COLOR);
    fb_clear();
    Font *font = font_new(glyphs, width_px, height_px);
    TextObject *text = text_new(font, 1, UINT32_MAX, 0, 0);
    if (!font || !text) {
        fprintf(stderr, "GLYPHS: out of memory\n");
        return 1;
    }
    for (int code = 0; code < FONT_CODE_COUNT; code++) {
        const int x = CELL_GAP_PX + (code % SHEET_COLUMNS) * (width_px + CELL_GAP_PX);
        const int y = CELL_GAP_PX + (code / SHEET_COLUMNS) * (height_px + CELL_GAP_PX);
        for (int row = 0; row < height_px; row++)
            memset(fb_pixels + (y + row) * fb_width + x, CELL_COLOR, width_px);
        // Code 0 cannot be put in a string; its cell shows the blank it is.
        const char one[2] = {static_cast<char>(code), '\0'};
        text_clear(text);
        text_append(text, one);
        text_set_position(text, x, y);
        set_draw_color(INK_COLOR);
        text_draw(text);
    }
    text_free(text);
    font_free(font);
    return fb_save_png(argv[2]) == 0 ? 0 : 1;
}
