// Video start-up and the present with its pacing and frame-rate line.
#include "platform/video.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/capture.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/engine_clock.h"
#include "platform/failure_line.h"
#include "platform/screen_changes.h"
#include "platform/screen_lookup.h"
#include "platform/web.h"
#include "platform/window_scale.h"

SDL_Surface *screen_surface = nullptr;
SDL_Surface *frame_surface = nullptr;
uint32_t last_present_ticks = 0;

// The window pixel of every palette index, made by SDL's blit for the
// window surface of the moment; fb_show writes through it instead of
// blitting when the window's format allows. `lookup_fits_window`: it is
// usable and the window is the framebuffer's own size.
static ScreenLookup screen_lookup = {};
static bool lookup_fits_window = false;

// When the display's own format differs from the window surface's, SDL
// converts the window's pixels for it at every flip (a second, hidden
// surface), at a cost above all the rest of a frame. Then only the tiles
// that changed since the frame last sent are written into the window and
// passed on (the window keeps the rest from the frames before), and the
// whole window every FULL_UPDATE_FRAMES frames besides, so that a part of
// the window the display lost (uncovered, without backing store) comes
// back within half a second.
static bool display_converts = false;
constexpr int FULL_UPDATE_FRAMES = 30;
constexpr int MAX_UPDATE_RECTS = 200;
static uint8_t shown_pixels[SCREEN_WIDTH_PX * SCREEN_HEIGHT_PX];
static int updates_since_full = -1;  // -1: the next update is whole

#ifdef __EMSCRIPTEN__
// The canvas takes the indices and the palette as they are (web.h).
constexpr int SCREEN_BITS_PER_PIXEL = 8;
constexpr Uint32 SCREEN_MODE_FLAGS = SDL_HWPALETTE;
#else
constexpr int SCREEN_BITS_PER_PIXEL = 16;
constexpr Uint32 SCREEN_MODE_FLAGS = 0;
#endif
constexpr int FRAME_BITS_PER_PIXEL = 32;
constexpr Uint32 FRAME_RED_MASK = 0xFF000000;
constexpr Uint32 FRAME_GREEN_MASK = 0x00FF0000;
constexpr Uint32 FRAME_BLUE_MASK = 0x0000FF00;

[[noreturn]] static void video_fail(const char *what) { failure_exit("VIDEO", "%s failed: %s", what, SDL_GetError()); }

// Adapts the present to the window surface as it is now (made by
// video_init, or set again for fullscreen or another scale): its pixels
// are nothing shown before, so the next frame is sent whole.
static void adapt_to_window(void) {
    lookup_fits_window = screen_lookup_build(&screen_lookup, frame_surface, screen_surface) == 0 &&
                         screen_surface->w == SCREEN_WIDTH_PX && screen_surface->h == SCREEN_HEIGHT_PX;
    updates_since_full = -1;
    window_state.changed = false;
}

void video_init(void) {
    // Before SDL_Init: SDL leaves a signal that has a handler alone.
    ExitSignalHandlers handlers;
    exit_signals_claim(&handlers);
    // Opening the window is platform start-up: a capture asked for starts
    // here at the latest (capture.h). It needs no display and no audio
    // device.
    if (capture_start()) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    if (SDL_Init(SDL_INIT_EVERYTHING) < 0) video_fail("SDL_Init");
    // Should SDL have put its own in place anyway, ours come back.
    exit_signals_restore(&handlers);
    // SDL 1.2's timer subsystem runs a thread that wakes every millisecond
    // for timer callbacks, which nothing here uses: the tick counter and
    // the delay of the pacing work without it. Stopped, it costs nothing.
    SDL_QuitSubSystem(SDL_INIT_TIMER);
    atexit(SDL_Quit);
    window_note_desktop();  // while SDL still reports the desktop, not a mode
#ifdef __EMSCRIPTEN__
    web_video_prepare();
#endif
    screen_surface = SDL_SetVideoMode(SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, SCREEN_BITS_PER_PIXEL, SCREEN_MODE_FLAGS);
    if (!screen_surface) video_fail("setting the 400x240 video mode");
#ifdef __EMSCRIPTEN__
    web_video_set_palette(screen_surface);
#endif
    frame_surface = SDL_CreateRGBSurface(0, SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, FRAME_BITS_PER_PIXEL,
                                         FRAME_RED_MASK, FRAME_GREEN_MASK, FRAME_BLUE_MASK, 0);
    if (!frame_surface) video_fail("creating the 32-bit frame surface");
    fb_attach_storage();
    adapt_to_window();
    const SDL_PixelFormat *display = SDL_GetVideoInfo()->vfmt;
    const SDL_PixelFormat *window = screen_surface->format;
    display_converts = display->BitsPerPixel != window->BitsPerPixel || display->Rmask != window->Rmask ||
                       display->Gmask != window->Gmask || display->Bmask != window->Bmask;
    window_apply();  // a scaled or fullscreen window, when asked for
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

// Writes and sends only the tiles that changed since the last frame sent;
// false when there were too many to list (then nothing was done).
static bool fb_show_changes(void) {
    SDL_Rect rects[MAX_UPDATE_RECTS];
    const int count = screen_changes_collect(fb_pixels, shown_pixels, fb_width, fb_height, rects, MAX_UPDATE_RECTS);
    if (count < 0) return false;
    for (int i = 0; i < count; i++) screen_lookup_show_area(&screen_lookup, fb_pixels, fb_width, &rects[i], screen_surface);
    if (count > 0) SDL_UpdateRects(screen_surface, count, rects);
    return true;
}

void fb_show(void) {
#ifdef __EMSCRIPTEN__
    web_video_show(screen_surface);
    return;
#endif
    if (window_state.changed) adapt_to_window();
    if (window_show_scaled(&screen_lookup)) {  // k x k pixels: a path of its own
        updates_since_full = -1;
        return;
    }
    const bool direct = lookup_fits_window && fb_width == SCREEN_WIDTH_PX && fb_height == SCREEN_HEIGHT_PX;
    if (direct && display_converts && updates_since_full >= 0 && updates_since_full < FULL_UPDATE_FRAMES &&
        fb_show_changes()) {
        updates_since_full++;
        return;
    }
    if (direct) {
        // The pixels that converting into frame_surface and SDL's blit
        // would write, one lookup each, straight from the indices.
        screen_lookup_show(&screen_lookup, fb_pixels, fb_width, fb_height, screen_surface);
    } else {
        fb_convert();
        // SDL converts the 32-bit pixels to the window's format here.
        SDL_UpperBlit(frame_surface, nullptr, screen_surface, nullptr);
    }
    if (direct && display_converts) {
        memcpy(shown_pixels, fb_pixels, sizeof shown_pixels);
        updates_since_full = 0;
    } else {
        updates_since_full = -1;
    }
    SDL_Flip(screen_surface);
}

uint32_t present_wait_ms(uint32_t elapsed_ms, uint32_t elapsed_again_ms) {
    if (elapsed_ms > FRAME_PERIOD_MS) return 0;
    if (elapsed_again_ms >= FRAME_PERIOD_MS) return 0;
    return FRAME_PERIOD_MS - elapsed_again_ms;
}

void fb_present(void) {
    if (last_present_ticks == 0) last_present_ticks = engine_ticks();
    fb_show();
    capture_frame();
#ifdef __EMSCRIPTEN__
    if (!capture_active()) web_pace_frame(FRAME_PERIOD_MS);
#else
    const uint32_t elapsed = engine_ticks() - last_present_ticks;
    if (elapsed <= FRAME_PERIOD_MS) {
        const uint32_t wait = present_wait_ms(elapsed, engine_ticks() - last_present_ticks);
        if (wait > 0) SDL_Delay(wait);
    }
#endif
    const double interval_ms = static_cast<double>(engine_ticks() - last_present_ticks);
#ifdef __EMSCRIPTEN__
    web_show_rate(1000.0 / interval_ms);
#else
    fprintf(stderr, "FPS: %2.1f\r", 1000.0 / interval_ms);
#endif
    last_present_ticks = engine_ticks();
    if (exit_requested()) exit(0);
    capture_end_when_done();
}
