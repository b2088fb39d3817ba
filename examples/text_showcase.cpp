// Text and 2D showcase: the three glyph sets, a typewriter revealing a
// paragraph, a jittering colour-cycling title, sprites, and line and
// rectangle lists, some of them sliding off the screen's edges to show the
// clipping.
//
// Usage: text_showcase                       a real window; Escape, closing
//                                            the window or SIGINT, SIGQUIT,
//                                            SIGHUP, SIGTERM end it
//        text_showcase --frames N --shot out.png
//                                            headless: draws N frames without
//                                            a window and saves the last one
//                                            (KEVO_CAPTURE is ignored there,
//                                            with one line saying so)
// --scale k shows it k times larger; F or Alt-Enter toggles fullscreen.
// Exit status 0; 2 with one line on standard error for bad arguments; 1
// for a failed start-up or screenshot.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "gfx2d/gfx2d.h"
#include "gfx2d/palette.h"
#include "platform/frame_loop.h"

// The panel's inside, almost black, and its frame.
static const uint8_t COLOR_PANEL = palette_grey(1);
static const uint8_t COLOR_FRAME = PALETTE_DARK_GREY;

static const char *const TITLE = "TEXT & 2D";
static const char *const LINE_8X16 = "\x01\x02\x03\x04\x05\x06 8x16 code page 437 \x0e\x0f\x10\x11\x18\x19\x1a\x1b";
static const char *const LINE_8X8 = "8x8: The quick brown fox jumps over a lazy dog \x7f";
static const char *const PARAGRAPH =
    "A typewriter reveals this paragraph one character at a time, no faster than "
    "one every two frames. Text objects wrap before the glyph that would pass "
    "their wrap width, and every glyph clips exactly to the framebuffer, so "
    "text, sprites, lines and rectangles may slide off any edge.";

// Panel for the typewriter, in pixels.
static const int32_t PANEL_X = 6, PANEL_Y = 76, PANEL_W = 228, PANEL_H = 92;
static const int TYPEWRITER_INTERVAL_FRAMES = 2;
static const int TYPEWRITER_HOLD_FRAMES = 120;  // shown whole before it starts again

static const int STAR_POINTS = 5;
static const int BAR_COUNT = 12;
static const int SPRITE_SIZE_PX = 24;

struct Showcase {
    Font *font_32x32, *font_8x8, *font_8x16;
    TextGroup *title;
    TextObject *line_8x16, *line_8x8, *paragraph, *scroller;
    Typewriter *typewriter;
    int32_t finished_frame;  // frame the typewriter finished on, -1 while typing
    Sprite *ball, *gem;
    LineList *star;
    RectList *panel, *bars;
};

// A shaded ball on black: rings of hue by distance from a highlight.
static void paint_ball(Sprite *sprite) {
    const double r = SPRITE_SIZE_PX / 2.0;
    for (int y = 0; y < SPRITE_SIZE_PX; y++)
        for (int x = 0; x < SPRITE_SIZE_PX; x++) {
            const double dx = x + 0.5 - r, dy = y + 0.5 - r;
            const double hx = x + 0.5 - r * 0.7, hy = y + 0.5 - r * 0.7;
            uint8_t color = 0;
            if (dx * dx + dy * dy < r * r) {
                const int shade = static_cast<int>(sqrt(hx * hx + hy * hy) / (r * 1.6) * 4.0);
                color = palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_RED + (shade > 3 ? 3 : shade));
                if (shade == 0) color = PALETTE_WHITE;
            }
            sprite->pixels[y * SPRITE_SIZE_PX + x] = color;
        }
}

// A diamond with a frame, its square corners black (sprites are opaque).
static void paint_gem(Sprite *sprite) {
    const int half = SPRITE_SIZE_PX / 2;
    for (int y = 0; y < SPRITE_SIZE_PX; y++)
        for (int x = 0; x < SPRITE_SIZE_PX; x++) {
            const int d = abs(x - half) + abs(y - half);
            uint8_t color = 0;
            if (d < half - 2) color = palette_ring(PALETTE_RING_BRIGHT, x + y);
            else if (d < half) color = PALETTE_WHITE;
            sprite->pixels[y * SPRITE_SIZE_PX + x] = color;
        }
}

static bool showcase_init(Showcase *s) {
    memset(s, 0, sizeof *s);
    s->font_32x32 = font_new(glyphs_32x32, 32, 32);
    s->font_8x8 = font_new(glyphs_8x8, 8, 8);
    s->font_8x16 = font_new(glyphs_8x16, 8, 16);
    if (!s->font_32x32 || !s->font_8x8 || !s->font_8x16) return false;
    // The title's characters draw one line below their position, hence the
    // origin a glyph height above where they show.
    const int32_t title_x = (SCREEN_WIDTH_PX - font_text_width(s->font_32x32, TITLE)) / 2;
    s->title = text_group_new(s->font_32x32, title_x, 4 - 32, 5, 5, 6);
    if (!s->title || text_group_set_text(s->title, TITLE) != 0) return false;
    s->line_8x16 = text_new(s->font_8x16, strlen(LINE_8X16), UINT32_MAX, 8, 40);
    s->line_8x8 = text_new(s->font_8x8, strlen(LINE_8X8), UINT32_MAX, 8, 60);
    s->paragraph = text_new(s->font_8x8, strlen(PARAGRAPH), PANEL_W - 8, PANEL_X + 4, PANEL_Y + 4);
    s->scroller = text_new(s->font_32x32, 64, UINT32_MAX, 0, 200);
    if (!s->line_8x16 || !s->line_8x8 || !s->paragraph || !s->scroller) return false;
    text_append(s->line_8x16, LINE_8X16);
    text_append(s->line_8x8, LINE_8X8);
    text_append(s->scroller, "Clipped at both edges...");
    s->typewriter = typewriter_new(s->paragraph, TYPEWRITER_INTERVAL_FRAMES);
    if (!s->typewriter) return false;
    typewriter_set_text(s->typewriter, PARAGRAPH);
    s->finished_frame = -1;
    s->ball = sprite_new_owned(SPRITE_SIZE_PX, SPRITE_SIZE_PX);
    s->gem = sprite_new_owned(SPRITE_SIZE_PX, SPRITE_SIZE_PX);
    if (!s->ball || !s->gem) return false;
    paint_ball(s->ball);
    paint_gem(s->gem);
    s->star = line_list_new(STAR_POINTS, PALETTE_YELLOW);
    s->panel = rect_list_new(2);
    s->bars = rect_list_new(BAR_COUNT);
    if (!s->star || !s->panel || !s->bars) return false;
    rect_list_set(s->panel, 0, PANEL_X - 2, PANEL_Y - 2, PANEL_X + PANEL_W + 2, PANEL_Y + PANEL_H + 2);
    rect_list_set(s->panel, 1, PANEL_X, PANEL_Y, PANEL_X + PANEL_W, PANEL_Y + PANEL_H);
    return true;
}

static void showcase_free(Showcase *s) {
    text_group_clear(s->title);
    text_group_free(s->title);
    text_free(s->line_8x16);
    text_free(s->line_8x8);
    text_free(s->paragraph);
    text_free(s->scroller);
    typewriter_free(s->typewriter);
    sprite_free(s->ball);
    sprite_free(s->gem);
    line_list_free(s->star);
    rect_list_free(s->panel);
    rect_list_free(s->bars);
    font_free(s->font_32x32);
    font_free(s->font_8x8);
    font_free(s->font_8x16);
}

static void showcase_draw(Showcase *s, int32_t frame) {
    set_draw_color(PALETTE_BLACK);
    fb_clear();

    // The panel: a frame and its inside, filled as two rectangles.
    set_draw_color(COLOR_FRAME);
    rect_list_draw(s->panel, 1);
    set_draw_color(COLOR_PANEL);
    rect_list_draw(s->panel, 2);  // entry 1 fills over entry 0's middle

    // The typewriter types, then holds the whole paragraph, then starts over.
    set_draw_color(PALETTE_LIGHT_GREEN);
    if (s->finished_frame < 0) {
        if (typewriter_update(s->typewriter, frame)) s->finished_frame = frame;
    } else {
        text_draw(s->paragraph);
        if (frame - s->finished_frame > TYPEWRITER_HOLD_FRAMES) {
            typewriter_set_text(s->typewriter, PARAGRAPH);
            s->finished_frame = -1;
        }
    }

    // The glyph sets: 8 x 16 with its symbols, 8 x 8 with its house.
    set_draw_color(PALETTE_YELLOW);
    text_draw(s->line_8x16);
    set_draw_color(PALETTE_LIGHT_CYAN);
    text_draw(s->line_8x8);

    // A turning five-pointed star, each point joined to the one two along.
    const double cx = 316, cy = 122, radius = 40, turn = frame * 0.03;
    for (int i = 0; i < STAR_POINTS; i++) {
        const double a0 = turn + i * 2 * M_PI / STAR_POINTS;
        const double a1 = turn + (i + 2) * 2 * M_PI / STAR_POINTS;
        line_list_set(s->star, i, static_cast<int32_t>(cx + radius * cos(a0)),
                      static_cast<int32_t>(cy + radius * sin(a0)), static_cast<int32_t>(cx + radius * cos(a1)),
                      static_cast<int32_t>(cy + radius * sin(a1)));
    }
    set_draw_color(PALETTE_YELLOW);
    line_list_draw(s->star, STAR_POINTS);

    // Bars rising and falling; the rightmost run past the screen's edge.
    for (int i = 0; i < BAR_COUNT; i++) {
        const int32_t height = 8 + static_cast<int32_t>(22 * (1 + sin(frame * 0.08 + i * 0.6)));
        const int32_t left = 246 + i * 14;
        rect_list_set(s->bars, i, left, 196, left + 10, 196 - height);  // corners bottom-up
    }
    set_draw_color(palette_ring(PALETTE_RING_BRIGHT, frame / 4));
    rect_list_draw(s->bars, BAR_COUNT);

    // Sprites: a ball bouncing across the bottom and off its sides, a gem
    // sliding along the top-right corner.
    const int32_t ball_x = static_cast<int32_t>(200 + 230 * sin(frame * 0.021)) - SPRITE_SIZE_PX / 2;
    const int32_t ball_y = 236 - SPRITE_SIZE_PX - static_cast<int32_t>(fabs(sin(frame * 0.09)) * 40);
    sprite_set_position(s->ball, ball_x, ball_y);
    sprite_draw(s->ball);
    sprite_set_position(s->gem, 380 + static_cast<int32_t>(12 * sin(frame * 0.05)),
                        -6 + static_cast<int32_t>(10 * cos(frame * 0.05)));
    sprite_draw(s->gem);

    // A 32 x 32 scroller across the bottom edge, half below the screen.
    text_set_position(s->scroller, 400 - (frame * 2) % 1200, 222);
    set_draw_color(PALETTE_LIGHT_RED);
    text_draw(s->scroller);

    // The title last, over everything, jittering and changing colour.
    text_group_update(s->title);
}

static const FrameLoopSetup SETUP = {
    "text_showcase", "",
    "The glyph sets, text effects, sprites and line and rectangle lists in a\n"
    "window; Escape or closing the window ends it. With --frames and --shot it\n"
    "draws N frames without a window and saves the last one as PNG.\n",
    nullptr, false, true, nullptr};

int main(int argc, char **argv) {
    FrameLoop loop;
    if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;
    frame_loop_open(&loop);
    Showcase showcase;
    if (!showcase_init(&showcase)) {
        fprintf(stderr, "SHOWCASE: out of memory\n");
        showcase_free(&showcase);
        return 1;
    }
    while (frame_loop_next(&loop)) showcase_draw(&showcase, static_cast<int32_t>(loop.drawn));
    showcase_free(&showcase);
    return loop.status;
}
