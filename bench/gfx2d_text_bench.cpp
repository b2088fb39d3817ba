// Speed of the text and 2D drawing paths: a full screen of 8 x 8 text, a
// 40-character text group's update, a 64 x 64 sprite and 100 rectangles.
#include <benchmark/benchmark.h>

#include <string>

#include "gfx2d/framebuffer.h"
#include "gfx2d/gfx2d.h"

// 50 x 30 glyphs of 8 x 8 fill the 400 x 240 screen.
static void BM_TextDrawFullScreen8x8(benchmark::State &state) {
    fb_attach_storage();
    Font *font = font_new(glyphs_8x8, 8, 8);
    std::string screen_text;
    for (int i = 0; i < 50 * 30; i++) screen_text += static_cast<char>('!' + i % 94);
    TextObject *text = text_new(font, screen_text.size(), 400, 0, 0);
    text_append(text, screen_text.c_str());
    set_draw_color(15);
    for (auto _ : state) {
        text_draw(text);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 50 * 30);
    text_free(text);
    font_free(font);
}
BENCHMARK(BM_TextDrawFullScreen8x8);

// 40 characters of the 32 x 32 font, re-rolled every call (the costliest
// case: three rand() values per character).
static void BM_TextGroupUpdate40(benchmark::State &state) {
    fb_attach_storage();
    Font *font = font_new(glyphs_32x32, 32, 32);
    TextGroup *group = text_group_new(font, 8, 40, 6, 6, static_cast<int32_t>(state.range(0)));
    text_group_set_text(group, "Forty characters jitter in random colour");
    for (auto _ : state) {
        text_group_update(group);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 40);
    text_group_clear(group);
    text_group_free(group);
    font_free(font);
}
BENCHMARK(BM_TextGroupUpdate40)->Arg(-1)->Arg(10);

static void BM_SpriteDraw64(benchmark::State &state) {
    fb_attach_storage();
    Sprite *sprite = sprite_new_owned(64, 64);
    for (int i = 0; i < 64 * 64; i++) sprite->pixels[i] = static_cast<uint8_t>(i);
    // Argument 1: straddling the top-left corner, so clipping is on the path.
    const int32_t at = state.range(0) ? -32 : 168;
    sprite_set_position(sprite, at, at);
    for (auto _ : state) {
        sprite_draw(sprite);
        benchmark::ClobberMemory();
    }
    sprite_free(sprite);
}
BENCHMARK(BM_SpriteDraw64)->Arg(0)->Arg(1);

// 100 rectangles of 40 x 24 spread over the screen.
static void BM_RectListDraw100(benchmark::State &state) {
    fb_attach_storage();
    RectList *list = rect_list_new(100);
    for (int i = 0; i < 100; i++) {
        const int32_t x = (i % 10) * 36, y = (i / 10) * 21;
        rect_list_set(list, i, x, y, x + 40, y + 24);
    }
    set_draw_color(9);
    for (auto _ : state) {
        rect_list_draw(list, 100);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 100);
    rect_list_free(list);
}
BENCHMARK(BM_RectListDraw100);
