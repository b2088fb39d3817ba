// Frame costs of the platform and the 2D primitives: palette conversion,
// the present without its wait (dummy video driver), clear, lines, circles.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "demo/demo_scene.h"
#include "gfx2d/primitives.h"
#include "platform/framebuffer.h"
#include "platform/video.h"

static void ensure_video(void) {
    static bool started = false;
    if (started) return;
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    video_init();
    frame_counter = 0;
    demo_draw_frame();
    started = true;
}

static void BM_PaletteConversion(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) {
        fb_convert();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 400 * 240);
}
BENCHMARK(BM_PaletteConversion);

static void BM_PresentWithoutWait(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) {
        fb_convert();
        fb_show();
    }
}
BENCHMARK(BM_PresentWithoutWait);

static void BM_FbClear(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) {
        fb_clear();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FbClear);

static void BM_DrawLine(benchmark::State &state) {
    ensure_video();
    int i = 0;
    for (auto _ : state) {
        draw_line(0, i % 240, 399, 239 - i % 240, 15);  // 400 pixels
        i++;
    }
    state.SetItemsProcessed(state.iterations() * 400);
}
BENCHMARK(BM_DrawLine);

static void BM_DrawLineClipped(benchmark::State &state) {
    ensure_video();
    int i = 0;
    for (auto _ : state) {
        draw_line(-100000, i % 240 - 500, 100399, 739 - i % 240, 15);
        i++;
    }
}
BENCHMARK(BM_DrawLineClipped);

static void BM_DrawCircle(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) draw_circle(320, 120, 60, 200);
    state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_DrawCircle);

static void BM_DemoFrame(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) {
        demo_draw_frame();
        frame_counter++;
    }
}
BENCHMARK(BM_DemoFrame);
