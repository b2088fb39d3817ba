// Video start-up and the present with its pacing and frame-rate line.
#include "platform/video.h"

#include <cstdio>
#include <cstdlib>

#include "platform/framebuffer.h"
#include "platform/palette.h"

SDL_Surface *screen_surface = nullptr;
SDL_Surface *frame_surface = nullptr;
uint32_t last_present_ticks = 0;

constexpr Uint32 SDL_INIT_ALL_SUBSYSTEMS = 0x0000FFFF;
constexpr int SCREEN_BITS_PER_PIXEL = 16;
constexpr int FRAME_BITS_PER_PIXEL = 32;
constexpr Uint32 FRAME_RED_MASK = 0xFF000000;
constexpr Uint32 FRAME_GREEN_MASK = 0x00FF0000;
constexpr Uint32 FRAME_BLUE_MASK = 0x0000FF00;

static void video_fail(const char *what) {
    fprintf(stderr, "VIDEO: %s failed: %s\n", what, SDL_GetError());
    exit(1);
}

void video_init(void) {
    // Before SDL_Init: SDL leaves a signal that has a handler alone.
    ExitSignalHandlers handlers;
    exit_signals_claim(&handlers);
    if (SDL_Init(SDL_INIT_ALL_SUBSYSTEMS) < 0) video_fail("SDL_Init");
    // Should SDL have put its own in place anyway, ours come back.
    exit_signals_restore(&handlers);
    atexit(SDL_Quit);
    screen_surface = SDL_SetVideoMode(SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, SCREEN_BITS_PER_PIXEL, 0);
    if (!screen_surface) video_fail("setting the 400x240 video mode");
    frame_surface = SDL_CreateRGBSurface(0, SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, FRAME_BITS_PER_PIXEL,
                                         FRAME_RED_MASK, FRAME_GREEN_MASK, FRAME_BLUE_MASK, 0);
    if (!frame_surface) video_fail("creating the 32-bit frame surface");
    fb_attach_storage();
}

void video_set_title(const char *title) { SDL_WM_SetCaption(title, title); }

void fb_convert(void) {
    // A software surface needs no lock; its pixels are written directly.
    uint32_t *surface_pixels = static_cast<uint32_t *>(frame_surface->pixels);
    const int surface_stride = frame_surface->pitch / 4;
    for (int y = 0; y < fb_height; y++) {
        const uint8_t *src = fb_pixels + y * fb_width;
        uint32_t *dst = surface_pixels + y * surface_stride;
        for (int x = 0; x < fb_width; x++) dst[x] = Palette[src[x]];
    }
}

void fb_show(void) {
    // SDL converts the 32-bit pixels to the window's 16-bit format here.
    SDL_UpperBlit(frame_surface, nullptr, screen_surface, nullptr);
    SDL_Flip(screen_surface);
}

uint32_t present_wait_ms(uint32_t elapsed_ms, uint32_t elapsed_again_ms) {
    if (elapsed_ms > FRAME_PERIOD_MS) return 0;
    if (elapsed_again_ms >= FRAME_PERIOD_MS) return 0;
    return FRAME_PERIOD_MS - elapsed_again_ms;
}

void fb_present(void) {
    if (last_present_ticks == 0) last_present_ticks = SDL_GetTicks();
    fb_convert();
    fb_show();
    const uint32_t elapsed = SDL_GetTicks() - last_present_ticks;
    if (elapsed <= FRAME_PERIOD_MS) {
        const uint32_t wait = present_wait_ms(elapsed, SDL_GetTicks() - last_present_ticks);
        if (wait > 0) SDL_Delay(wait);
    }
    const double interval_ms = static_cast<double>(SDL_GetTicks() - last_present_ticks);
    fprintf(stderr, "FPS: %2.1f\r", 1000.0 / interval_ms);
    last_present_ticks = SDL_GetTicks();
    if (exit_requested()) exit(0);
}
