// The window-pixel table of the palette, and the one writer that puts the
// framebuffer into the window through it at any whole scale.
#include "platform/screen_lookup.h"

#include <cstddef>
#include <cstring>

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
    SDL_Surface *colors = surface_like(frame->format, 256);
    SDL_Surface *converted = surface_like(to, 256);
    int result = -1;
    if (colors != nullptr && converted != nullptr) {
        uint32_t *in = static_cast<uint32_t *>(colors->pixels);
        for (int i = 0; i < 256; i++) in[i] = Palette[i];
        if (SDL_UpperBlit(colors, nullptr, converted, nullptr) == 0) {
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
    SDL_FreeSurface(colors);
    SDL_FreeSurface(converted);
    return result;
}

// Rows of `area` through `table`, each index `scale` pixels wide and its
// row written `scale` times; `first` is where the area's top-left block
// begins in the surface.
template <typename Pixel>
static void write_rows(const Pixel *table, const uint8_t *pixels, int width, const SDL_Rect *area, int scale,
                       uint8_t *first, int pitch) {
    const size_t row_bytes = static_cast<size_t>(area->w) * scale * sizeof(Pixel);
    uint8_t *row = first;
    for (int y = area->y; y < area->y + area->h; y++, row += static_cast<ptrdiff_t>(scale) * pitch) {
        const uint8_t *src = pixels + static_cast<size_t>(y) * width + area->x;
        Pixel *dst = reinterpret_cast<Pixel *>(row);
        // Scale 1 stores each pixel once, without the inner loop: through
        // that loop (a count of one) the plain present ran twice the
        // instructions.
        if (scale <= 1) {
            for (int x = 0; x < area->w; x++) dst[x] = table[src[x]];
        } else {
            for (int x = 0; x < area->w; x++) {
                const Pixel pixel = table[src[x]];
                for (int i = 0; i < scale; i++) *dst++ = pixel;
            }
        }
        for (int i = 1; i < scale; i++) memcpy(row + static_cast<ptrdiff_t>(i) * pitch, row, row_bytes);
    }
}

int screen_lookup_write(const ScreenLookup *lookup, const uint8_t *pixels, int width, const SDL_Rect *area,
                        int scale, int left, int top, SDL_Surface *screen) {
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) < 0) return -1;
    const int bytes = lookup->bytes_per_pixel;
    uint8_t *first = static_cast<uint8_t *>(screen->pixels) +
                     static_cast<ptrdiff_t>(top + area->y * scale) * screen->pitch +
                     static_cast<ptrdiff_t>(left + area->x * scale) * bytes;
    if (bytes == 2)
        write_rows(lookup->pixels16, pixels, width, area, scale, first, screen->pitch);
    else
        write_rows(lookup->pixels32, pixels, width, area, scale, first, screen->pitch);
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
    return 0;
}

void screen_lookup_show_area(const ScreenLookup *lookup, const uint8_t *pixels, int width, const SDL_Rect *area,
                             SDL_Surface *screen) {
    screen_lookup_write(lookup, pixels, width, area, 1, 0, 0, screen);
}

void screen_lookup_show(const ScreenLookup *lookup, const uint8_t *pixels, int width, int height,
                        SDL_Surface *screen) {
    SDL_Rect whole = {0, 0, static_cast<Uint16>(width), static_cast<Uint16>(height)};
    screen_lookup_show_area(lookup, pixels, width, &whole, screen);
}
