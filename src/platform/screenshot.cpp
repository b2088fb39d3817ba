// PNG screenshots of the framebuffer: its pixels through the palette as
// RGB, written by the picture writer (assets/image.h).
#include "platform/screenshot.h"

#include <cstdio>

#include "assets/image.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "util/alloc.h"

int fb_save_png(const char *path) {
    const size_t pixels = static_cast<size_t>(fb_width) * fb_height;
    uint8_t *rgb = static_cast<uint8_t *>(engine_malloc(pixels * 3));
    if (!rgb) {
        fprintf(stderr, "SCREENSHOT: cannot save '%s': out of memory\n", path);
        return -1;
    }
    for (size_t i = 0; i < pixels; i++) {
        const uint32_t color = Palette[fb_pixels[i]];
        rgb[3 * i] = static_cast<uint8_t>(color >> 24);
        rgb[3 * i + 1] = static_cast<uint8_t>(color >> 16);
        rgb[3 * i + 2] = static_cast<uint8_t>(color >> 8);
    }
    const int result = image_save_png_rgb(path, fb_width, fb_height, rgb);
    engine_free(rgb);
    return result;
}
