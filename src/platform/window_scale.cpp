// Scaled and fullscreen windows: the mode set at k times the framebuffer's
// size, or at the desktop's size for full screen, and the framebuffer
// drawn through the palette's window-pixel table straight into the window
// surface, each pixel repeated k times across and k rows down (in full
// screen at the largest k that fits, centred).
//
// Full screen is always set at the desktop's own size. Given another size,
// SDL 1.2 on X11 puts a smaller surface in the middle of a screen-sized
// window (or switches the display's mode) and shows a larger one cropped,
// while sdl12-compat stretches any surface to the screen, smoothly and at
// any ratio. A surface of the desktop's size is shown 1:1 by both, so the
// picture's edges stay hard.
#include "platform/window_scale.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "platform/program_args.h"

SDL_Surface *screen_surface = nullptr;
WindowState window_state = {1, false, false, 0, 0};

constexpr int WINDOW_BITS_PER_PIXEL = 16;

static int current_scale(void) { return window_state.scale > 1 ? window_state.scale : 1; }

int window_take_scale_option(int *argc, char **argv) {
    for (int i = 1; i < *argc; i++) {
        const char *value = nullptr;
        int used = 0;
        if (strcmp(argv[i], "--scale") == 0) {
            value = i + 1 < *argc ? argv[i + 1] : "";
            used = i + 1 < *argc ? 2 : 1;
        } else if (strncmp(argv[i], "--scale=", 8) == 0) {
            value = argv[i] + 8;
            used = 1;
        } else {
            continue;
        }
        long k = 0;
        if (parse_long(value, 1, WINDOW_MAX_SCALE, &k) != 0) {
            fprintf(stderr, "WINDOW: --scale wants a whole number from 1 to %d, not '%s'\n", WINDOW_MAX_SCALE, value);
            return -1;
        }
        window_state.scale = static_cast<int>(k);
        for (int j = i; j + used <= *argc; j++) argv[j] = argv[j + used];
        *argc -= used;
        i--;
    }
    return 0;
}

void window_note_desktop(void) {
    const SDL_VideoInfo *info = SDL_GetVideoInfo();
    window_state.desktop_width = info && info->current_w > 0 ? info->current_w : 0;
    window_state.desktop_height = info && info->current_h > 0 ? info->current_h : 0;
}

// The size of the mode for the current scale and fullscreen flag: full
// screen at the desktop's size (at least the framebuffer's), or at the
// window's when the driver did not tell the desktop's.
static void mode_size(int *width, int *height) {
    if (window_state.fullscreen && window_state.desktop_width > 0 && window_state.desktop_height > 0) {
        *width = std::max(window_state.desktop_width, SCREEN_WIDTH_PX);
        *height = std::max(window_state.desktop_height, SCREEN_HEIGHT_PX);
        return;
    }
    *width = SCREEN_WIDTH_PX * current_scale();
    *height = SCREEN_HEIGHT_PX * current_scale();
}

// Sets the mode for the current scale and fullscreen flag; screen_surface
// changes, black all over. 0, or -1 (the old surface stays).
static int set_mode(void) {
#ifdef __EMSCRIPTEN__
    // The canvas stays 400 x 240: its size on the page and full screen are
    // the page's own (web.h), which takes F and Alt-Enter itself.
    return 0;
#endif
    int width = 0, height = 0;
    mode_size(&width, &height);
    SDL_Surface *screen =
        SDL_SetVideoMode(width, height, WINDOW_BITS_PER_PIXEL, window_state.fullscreen ? SDL_FULLSCREEN : 0);
    if (!screen) return -1;
    SDL_FillRect(screen, nullptr, 0);  // the border around a full-screen picture
    screen_surface = screen;
    window_state.changed = true;
    return 0;
}

void window_apply(void) {
    if (current_scale() == 1 && !window_state.fullscreen) return;
    if (set_mode() != 0) {
        int width = 0, height = 0;
        mode_size(&width, &height);
        fprintf(stderr, "WINDOW: cannot open a %dx%d %s (%s); showing 400x240\n", width, height,
                window_state.fullscreen ? "full screen" : "window", SDL_GetError());
        window_state.scale = 1;
        window_state.fullscreen = false;
    }
}

int window_set_scale(int k) {
    if (k < 1 || k > WINDOW_MAX_SCALE) return -1;
    const int old = window_state.scale;
    window_state.scale = k;
    if (!screen_surface) return 0;
    if (set_mode() != 0) {
        window_state.scale = old;
        return -1;
    }
    return 0;
}

int window_toggle_fullscreen(void) {
    if (!screen_surface) return -1;
    // The mode is set again rather than the window switched in place
    // (SDL_WM_ToggleFullScreen): full screen has a size of its own.
    window_state.fullscreen = !window_state.fullscreen;
    if (set_mode() == 0) return 0;
    window_state.fullscreen = !window_state.fullscreen;
    return -1;
}

int window_handle_event(const SDL_Event *event) {
    if (!event || event->type != SDL_KEYDOWN) return 0;
    const SDLKey key = event->key.keysym.sym;
    const bool alt_enter = key == SDLK_RETURN && (event->key.keysym.mod & KMOD_ALT);
    if (key != SDLK_f && !alt_enter) return 0;
    window_toggle_fullscreen();
    return 1;
}

// The largest whole scale at which a width x height picture fits a
// surface_width x surface_height surface; at least 1.
static int fit_scale(int surface_width, int surface_height, int width, int height) {
    if (width <= 0 || height <= 0) return 1;
    return std::max(1, std::min(surface_width / width, surface_height / height));
}

bool window_show_scaled(const ScreenLookup *lookup) {
    SDL_Surface *screen = screen_surface;
    if (!screen || fb_width <= 0 || fb_height <= 0) return false;
    const int k = window_state.fullscreen ? fit_scale(screen->w, screen->h, fb_width, fb_height) : current_scale();
    const int left = window_state.fullscreen ? (screen->w - fb_width * k) / 2 : 0;
    const int top = window_state.fullscreen ? (screen->h - fb_height * k) / 2 : 0;
    if (k == 1 && left == 0 && top == 0) return false;
    if (left < 0 || top < 0 || screen->w < left + fb_width * k || screen->h < top + fb_height * k) return false;
    const int bytes = lookup->bytes_per_pixel;
    if (bytes == 0 || bytes != screen->format->BytesPerPixel) return false;
    SDL_Rect whole = {0, 0, static_cast<Uint16>(fb_width), static_cast<Uint16>(fb_height)};
    if (screen_lookup_write(lookup, fb_pixels, fb_width, &whole, k, left, top, screen) != 0) return false;
    SDL_Flip(screen);
    return true;
}
