// Scaled and fullscreen windows: the mode set at k times the framebuffer's
// size, and the framebuffer drawn through the palette's window-pixel table
// straight into the window surface, each pixel repeated k times across and
// k rows down.
#include "platform/window_scale.h"

#include <cstdio>
#include <cstring>

#include "platform/framebuffer.h"
#include "platform/program_args.h"
#include "platform/video.h"

WindowState window_state = {1, false, false};

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
        window_state.scale = (int)k;
        for (int j = i; j + used <= *argc; j++) argv[j] = argv[j + used];
        *argc -= used;
        i--;
    }
    return 0;
}

// Sets the mode for the current scale and fullscreen flag; screen_surface
// changes. 0, or -1 (the old surface stays).
static int set_mode(void) {
    const int k = current_scale();
    SDL_Surface *screen = SDL_SetVideoMode(SCREEN_WIDTH_PX * k, SCREEN_HEIGHT_PX * k, WINDOW_BITS_PER_PIXEL,
                                           window_state.fullscreen ? SDL_FULLSCREEN : 0);
    if (!screen) return -1;
    screen_surface = screen;
    window_state.changed = true;
    return 0;
}

void window_apply(void) {
    if (current_scale() == 1 && !window_state.fullscreen) return;
    if (set_mode() != 0) {
        fprintf(stderr, "WINDOW: cannot open a %dx%d window (%s); showing 400x240\n", SCREEN_WIDTH_PX * current_scale(),
                SCREEN_HEIGHT_PX * current_scale(), SDL_GetError());
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
    window_state.fullscreen = !window_state.fullscreen;
    // X11 can switch the window itself; otherwise the mode is set again.
    if (SDL_WM_ToggleFullScreen(screen_surface) == 1) {
        window_state.changed = true;
        return 0;
    }
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

template <typename Pixel>
static void draw_scaled(SDL_Surface *screen, int k, const Pixel *window_pixels) {
    const int pitch = screen->pitch;
    uint8_t *base = static_cast<uint8_t *>(screen->pixels);
    for (int y = 0; y < fb_height; y++) {
        const uint8_t *src = fb_pixels + y * fb_width;
        Pixel *row = reinterpret_cast<Pixel *>(base + (size_t)y * k * pitch);
        for (int x = 0; x < fb_width; x++) {
            const Pixel colour = window_pixels[src[x]];
            for (int i = 0; i < k; i++) *row++ = colour;
        }
        const size_t row_bytes = (size_t)fb_width * k * sizeof(Pixel);
        for (int i = 1; i < k; i++) memcpy(base + ((size_t)y * k + i) * pitch, base + (size_t)y * k * pitch, row_bytes);
    }
}

bool window_show_scaled(const ScreenLookup *lookup) {
    const int k = current_scale();
    SDL_Surface *screen = screen_surface;
    if (k == 1 || !screen || screen->w < fb_width * k || screen->h < fb_height * k) return false;
    const int bytes = lookup->bytes_per_pixel;
    if (bytes == 0 || bytes != screen->format->BytesPerPixel) return false;
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) < 0) return false;
    if (bytes == 2)
        draw_scaled<uint16_t>(screen, k, lookup->pixels16);
    else
        draw_scaled<uint32_t>(screen, k, lookup->pixels32);
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
    SDL_Flip(screen);
    return true;
}
