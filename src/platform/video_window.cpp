// The native window: a 16-bit SDL surface written straight from the
// framebuffer's indices through a table of window pixels made by SDL's own
// blit, only the changed tiles sent when the display converts, scaled and
// full-screen windows (window_scale.h), pacing with SDL_Delay and the rate
// line on standard error.
#include <cstdio>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "platform/engine_clock.h"
#include "platform/screen_changes.h"
#include "platform/screen_lookup.h"
#include "platform/frame_pacing.h"
#include "platform/frame_surface.h"
#include "platform/video_window_internal.h"
#include "platform/window_scale.h"

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

constexpr int SCREEN_BITS_PER_PIXEL = 16;

// Adapts the present to the window surface as it is now (made by
// video_init, or set again for fullscreen or another scale): its pixels
// are nothing shown before, so the next frame is sent whole.
static void adapt_to_window(void) {
    lookup_fits_window = screen_lookup_build(&screen_lookup, frame_surface, screen_surface) == 0 &&
                         screen_surface->w == SCREEN_WIDTH_PX && screen_surface->h == SCREEN_HEIGHT_PX;
    updates_since_full = -1;
    window_state.changed = false;
}

SDL_Surface *video_window_open(void) {
    return SDL_SetVideoMode(SCREEN_WIDTH_PX, SCREEN_HEIGHT_PX, SCREEN_BITS_PER_PIXEL, 0);
}

void video_window_ready(void) {
    adapt_to_window();
    const SDL_PixelFormat *display = SDL_GetVideoInfo()->vfmt;
    const SDL_PixelFormat *window = screen_surface->format;
    display_converts = display->BitsPerPixel != window->BitsPerPixel || display->Rmask != window->Rmask ||
                       display->Gmask != window->Gmask || display->Bmask != window->Bmask;
    window_apply();  // a scaled or fullscreen window, when asked for
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

void video_window_show(void) {
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

void video_window_pace(uint32_t last_present_ms) {
    const uint32_t elapsed = engine_ticks() - last_present_ms;
    if (elapsed > FRAME_PERIOD_MS) return;
    const uint32_t wait = present_wait_ms(elapsed, engine_ticks() - last_present_ms);
    if (wait > 0) SDL_Delay(wait);
}

void video_window_rate(double frames_per_second) { fprintf(stderr, "FPS: %2.1f\r", frames_per_second); }
