// The window-pixel table of the palette and the direct conversion.
#include "platform/screen_lookup.h"

#include "gfx2d/palette.h"

static SDL_Surface *surface_like(const SDL_PixelFormat *format, int width) {
    return SDL_CreateRGBSurface(SDL_SWSURFACE, width, 1, format->BitsPerPixel, format->Rmask, format->Gmask,
                                format->Bmask, format->Amask);
}

int screen_lookup_build(ScreenLookup *lookup, const SDL_Surface *frame, const SDL_Surface *screen) {
    lookup->bytes_per_pixel = 0;
    const SDL_PixelFormat *to = screen->format;
    if ((to->BytesPerPixel != 2 && to->BytesPerPixel != 4) || to->palette != nullptr) return -1;
    if (frame->format->BytesPerPixel != 4) return -1;
    SDL_Surface *colours = surface_like(frame->format, 256);
    SDL_Surface *converted = surface_like(to, 256);
    int result = -1;
    if (colours != nullptr && converted != nullptr) {
        uint32_t *in = static_cast<uint32_t *>(colours->pixels);
        for (int i = 0; i < 256; i++) in[i] = Palette[i];
        if (SDL_UpperBlit(colours, nullptr, converted, nullptr) == 0) {
            for (int i = 0; i < 256; i++) {
                if (to->BytesPerPixel == 2)
                    lookup->pixels16[i] = static_cast<const uint16_t *>(converted->pixels)[i];
                else
                    lookup->pixels32[i] = static_cast<const uint32_t *>(converted->pixels)[i];
            }
            lookup->bytes_per_pixel = to->BytesPerPixel;
            result = 0;
        }
    }
    SDL_FreeSurface(colours);
    SDL_FreeSurface(converted);
    return result;
}

void screen_lookup_show_area(const ScreenLookup *lookup, const uint8_t *pixels, int width, const SDL_Rect *area,
                             SDL_Surface *screen) {
    const bool locked = SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) == 0;
    if (SDL_MUSTLOCK(screen) && !locked) return;
    const int bytes = lookup->bytes_per_pixel;
    uint8_t *row = static_cast<uint8_t *>(screen->pixels) + area->y * screen->pitch + area->x * bytes;
    for (int y = area->y; y < area->y + area->h; y++, row += screen->pitch) {
        const uint8_t *src = pixels + y * width + area->x;
        if (bytes == 2) {
            uint16_t *dst = reinterpret_cast<uint16_t *>(row);
            for (int x = 0; x < area->w; x++) dst[x] = lookup->pixels16[src[x]];
        } else {
            uint32_t *dst = reinterpret_cast<uint32_t *>(row);
            for (int x = 0; x < area->w; x++) dst[x] = lookup->pixels32[src[x]];
        }
    }
    if (locked) SDL_UnlockSurface(screen);
}

void screen_lookup_show(const ScreenLookup *lookup, const uint8_t *pixels, int width, int height,
                        SDL_Surface *screen) {
    SDL_Rect whole = {0, 0, static_cast<Uint16>(width), static_cast<Uint16>(height)};
    screen_lookup_show_area(lookup, pixels, width, &whole, screen);
}
