// The 32-bit frame surface and the conversion into it.
#include "platform/frame_surface.h"

#include <cstdint>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"

SDL_Surface *frame_surface = nullptr;

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
