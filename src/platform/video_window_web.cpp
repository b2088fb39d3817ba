// The browser's canvas (web.h): an 8-bit surface with the engine's
// palette, which takes the framebuffer's indices as they are; frames kept
// to a schedule of one a frame period; the rate line on the page.
#include <emscripten.h>

#include <cstring>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/engine_clock.h"
#include "platform/video_window_internal.h"
#include "platform/window_scale.h"

constexpr int SCREEN_BITS_PER_PIXEL = 8;

// clang-format off
EM_JS(void, web_video_prepare_js, (), {
    SDL.defaults.copyOnLock = false;
    SDL.defaults.discardOnLock = true;
    SDL.defaults.opaqueFrontBuffer = false;
});

EM_JS(void, web_show_rate_js, (double rate), {
    if (Module.kevoRate) Module.kevoRate(rate);
});
// clang-format on

SDL_Surface *video_window_open(void) {
    // The canvas is written, never read back, on each unlock (SDL's
    // defaults would copy it into the surface at each lock).
    web_video_prepare_js();
    SDL_Surface *screen = SDL_SetVideoMode(SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, SCREEN_BITS_PER_PIXEL, SDL_HWPALETTE);
    if (!screen) return nullptr;
    SDL_Color colors[256];
    for (int i = 0; i < 256; i++) {
        colors[i].r = static_cast<Uint8>(Palette[i] >> 24);
        colors[i].g = static_cast<Uint8>(Palette[i] >> 16);
        colors[i].b = static_cast<Uint8>(Palette[i] >> 8);
        colors[i].unused = 0;
    }
    SDL_SetColors(screen, colors, 0, 256);
    return screen;
}

// Its size on the page and full screen are the page's own.
void video_window_ready(void) {}

// The framebuffer's indices into the 8-bit surface: on its unlock the
// canvas shows them.
void video_window_show(void) {
    SDL_Surface *screen = screen_surface;
    if (SDL_LockSurface(screen) != 0) return;
    const int width = fb_width < screen->w ? fb_width : screen->w;
    const int height = fb_height < screen->h ? fb_height : screen->h;
    uint8_t *pixels = static_cast<uint8_t *>(screen->pixels);
    for (int y = 0; y < height; y++)
        memcpy(pixels + y * screen->pitch, fb_pixels + y * fb_width, static_cast<size_t>(width));
    SDL_UnlockSurface(screen);
}

// Waits, yielding to the browser, until the next frame's time on a schedule
// of one frame per period: the browser's timers wake late by a fraction of
// a millisecond or more, so a frame shown late shortens the next wait and
// the rate holds on average. After a stall (a hidden tab) the schedule
// starts again from now. On a capture's virtual clock nothing waits.
void video_window_pace(uint32_t last_present_ms) {
    (void)last_present_ms;
    if (engine_clock.is_virtual) return;
    constexpr double STALL_MS = 250;
    static double next_ms = 0;
    const double now_ms = emscripten_get_now();
    if (next_ms == 0 || now_ms - next_ms > STALL_MS) next_ms = now_ms;
    next_ms += FRAME_PERIOD_MS;
    // SDL_Delay takes whole milliseconds: rounding down wakes early rather
    // than late, and the schedule makes up the rest next frame.
    if (next_ms > now_ms) SDL_Delay(static_cast<uint32_t>(next_ms - now_ms));
}

void video_window_rate(double frames_per_second) { web_show_rate_js(frames_per_second); }
