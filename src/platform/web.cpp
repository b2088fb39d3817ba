// The browser build's side of the edge (web.h): the canvas, the page's
// calls, Web Audio's clock. Empty in the native build.
#include "platform/web.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

#include <cstring>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/music_sync.h"

// clang-format off
EM_JS(void, web_video_prepare_js, (), {
    SDL.defaults.copyOnLock = false;
    SDL.defaults.discardOnLock = true;
    SDL.defaults.opaqueFrontBuffer = false;
});

EM_JS(void, web_show_rate_js, (double rate), {
    if (Module.kevoRate) Module.kevoRate(rate);
});

EM_JS(double, web_audio_queued_seconds_js, (), {
    if (typeof SDL == "undefined" || !SDL.audio || !SDL.audioContext || !SDL.audio.nextPlayTime) return 0;
    var ahead = SDL.audio.nextPlayTime - SDL.audioContext.currentTime;
    return ahead > 0 ? ahead : 0;
});

EM_JS(int, web_audio_paused_js, (), {
    return (typeof SDL != "undefined" && SDL.audio && SDL.audio.paused) ? 1 : 0;
});

EM_JS(void, web_page_frame_js, (const uint8_t *indices, int width, int height), {
    if (Module.kevoCaptureFrame) Module.kevoCaptureFrame(HEAPU8.slice(indices, indices + width * height), width, height);
});

// clang-format on

void web_video_prepare(void) { web_video_prepare_js(); }

void web_video_set_palette(SDL_Surface *screen) {
    SDL_Color colors[256];
    for (int i = 0; i < 256; i++) {
        colors[i].r = static_cast<Uint8>(Palette[i] >> 24);
        colors[i].g = static_cast<Uint8>(Palette[i] >> 16);
        colors[i].b = static_cast<Uint8>(Palette[i] >> 8);
        colors[i].unused = 0;
    }
    SDL_SetColors(screen, colors, 0, 256);
}

void web_video_show(SDL_Surface *screen) {
    if (SDL_LockSurface(screen) != 0) return;
    const int width = fb_width < screen->w ? fb_width : screen->w;
    const int height = fb_height < screen->h ? fb_height : screen->h;
    uint8_t *pixels = static_cast<uint8_t *>(screen->pixels);
    for (int y = 0; y < height; y++)
        memcpy(pixels + y * screen->pitch, fb_pixels + y * fb_width, static_cast<size_t>(width));
    SDL_UnlockSurface(screen);
}

void web_pace_frame(uint32_t period_ms) {
    constexpr double STALL_MS = 250;
    static double next_ms = 0;
    const double now_ms = emscripten_get_now();
    if (next_ms == 0 || now_ms - next_ms > STALL_MS) next_ms = now_ms;
    next_ms += period_ms;
    // SDL_Delay takes whole milliseconds: rounding down wakes early rather
    // than late, and the schedule makes up the rest next frame.
    if (next_ms > now_ms) SDL_Delay(static_cast<uint32_t>(next_ms - now_ms));
}

void web_show_rate(double frames_per_second) { web_show_rate_js(frames_per_second); }

int64_t web_audio_queued_frames(int rate_hz) {
    return static_cast<int64_t>(web_audio_queued_seconds_js() * rate_hz + 0.5);
}

void web_audio_close(void) { SDL_CloseAudio(); }

bool web_audio_paused(void) { return web_audio_paused_js() != 0; }

void web_page_frame(const uint8_t *indices, int width, int height) { web_page_frame_js(indices, width, height); }


// For the page: the song frame heard now (music_heard_position), or -1
// while no music plays.
extern "C" EMSCRIPTEN_KEEPALIVE double kevo_heard_frame(void) {
    MusicPosition position;
    if (music_heard_position(&position) != 0) return -1;
    return static_cast<double>(position.song_frame);
}

// For the page: the engine's 256 colours, 0xRRGGBBAA each (Palette).
extern "C" EMSCRIPTEN_KEEPALIVE const uint32_t *kevo_palette(void) { return Palette; }
#endif
