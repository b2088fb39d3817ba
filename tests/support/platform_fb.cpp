// A guarded framebuffer for drawing tests.
#include "support/platform_fb.h"

#include <cstring>

#include "gfx2d/framebuffer.h"

constexpr int GUARD_BYTES = 64 * 1024;
constexpr int FB_BYTES = SCREEN_WIDTH_PX * SCREEN_HEIGHT_PX;
static uint8_t guarded_block[GUARD_BYTES + FB_BYTES + GUARD_BYTES];

void guarded_fb_setup(void) {
    memset(guarded_block, GUARD_BYTE, sizeof guarded_block);
    fb_pixels = guarded_block + GUARD_BYTES;
    fb_width = SCREEN_WIDTH_PX;
    fb_height = SCREEN_HEIGHT_PX;
    memset(fb_pixels, 0, FB_BYTES);
}

bool guarded_fb_intact(void) {
    for (int i = 0; i < GUARD_BYTES; i++)
        if (guarded_block[i] != GUARD_BYTE || guarded_block[GUARD_BYTES + FB_BYTES + i] != GUARD_BYTE)
            return false;
    return true;
}

PixelSet fb_nonzero_pixels(void) {
    PixelSet set;
    for (int y = 0; y < fb_height; y++)
        for (int x = 0; x < fb_width; x++)
            if (fb_pixels[x + y * fb_width] != 0) set.insert({x, y});
    return set;
}
