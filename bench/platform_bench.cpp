// Frame costs of the platform and the 2D primitives: palette conversion,
// the present without its wait (dummy video driver) beside the way it was
// (conversion into the 32-bit surface and SDL's blit) and in a scaled
// window, finding changed tiles, clear, lines, circles. The running demo's
// share of a core is measured from /proc by tools/demo-cpu.sh.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "demo/demo_scene.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/primitives.h"
#include "platform/screen_changes.h"
#include "platform/video.h"
#include "platform/window_scale.h"

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

// The present without its wait as it was: conversion into frame_surface,
// then SDL's generic 32-to-16-bit blit into the window, then the flip. The
// reference for BM_PresentWithoutWait.
static void BM_PresentWithoutWaitSdlBlit(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) {
        fb_convert();
        SDL_UpperBlit(frame_surface, nullptr, screen_surface, nullptr);
        SDL_Flip(screen_surface);
    }
}
BENCHMARK(BM_PresentWithoutWaitSdlBlit);

// The present without its wait: the window written straight from the
// indices through the palette's window-pixel table, the flip.
static void BM_PresentWithoutWait(benchmark::State &state) {
    ensure_video();
    for (auto _ : state) fb_show();
}
BENCHMARK(BM_PresentWithoutWait);

// The same in a window k times the framebuffer's size (each pixel a k x k
// block), then back to the plain window for the benchmarks after it.
static void BM_PresentScaledWithoutWait(benchmark::State &state) {
    ensure_video();
    if (window_set_scale(static_cast<int>(state.range(0))) != 0) {
        state.SkipWithError("cannot set the scaled mode");
        return;
    }
    for (auto _ : state) fb_show();
    window_set_scale(1);
}
BENCHMARK(BM_PresentScaledWithoutWait)->Arg(2)->Arg(3);

// Finding the changed tiles between two consecutive demo frames: what a
// present adds when SDL converts the window for the display (a 16-bit
// window on a 24-bit X server) and only the changes are sent.
static void BM_ScreenChangesDemoFrames(benchmark::State &state) {
    ensure_video();
    static uint8_t frames[2][SCREEN_WIDTH_PX * SCREEN_HEIGHT_PX];
    static uint8_t shown[SCREEN_WIDTH_PX * SCREEN_HEIGHT_PX];
    for (uint8_t *frame : frames) {
        demo_draw_frame();
        memcpy(frame, fb_pixels, sizeof frames[0]);
        frame_counter += 7;  // a few frames on: a handful of dots moved
    }
    memcpy(shown, frames[0], sizeof shown);
    SDL_Rect rects[200];
    int i = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(screen_changes_collect(frames[i], shown, 400, 240, rects, 200));
        i ^= 1;
    }
}
BENCHMARK(BM_ScreenChangesDemoFrames);

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
