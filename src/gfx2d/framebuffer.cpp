// The framebuffer globals, the drawing colour and the per-frame clear.
#include "gfx2d/framebuffer.h"

#include <cstring>

uint8_t fb_storage[FB_STORAGE_BYTES];
uint8_t *fb_pixels = nullptr;
int32_t fb_width = 800;
int32_t fb_height = 480;
uint8_t draw_color = 0;
uint32_t frame_counter = 0xFFFFFFFFu;

void fb_attach_storage(void) {
    fb_pixels = fb_storage;
    fb_width = SCREEN_WIDTH_PX;
    fb_height = SCREEN_HEIGHT_PX;
}

void fb_clear(void) { memset(fb_pixels, 0, static_cast<size_t>(fb_width) * static_cast<size_t>(fb_height)); }

void set_draw_color(uint8_t index) { draw_color = index; }
