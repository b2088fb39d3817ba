// The 8-bit indexed framebuffer every drawing operation writes into, the
// current drawing colour and the frame counter. Owned by the main thread.
#ifndef GFX2D_FRAMEBUFFER_H
#define GFX2D_FRAMEBUFFER_H

#include <cstdint>

// Backing store of the framebuffer: large enough for 800 x 480, the size
// fb_width and fb_height claim before video_init.
constexpr int FB_STORAGE_BYTES = 524288;
constexpr int SCREEN_WIDTH_PX = 400;
constexpr int SCREEN_HEIGHT_PX = 240;

// Palette indices, row-major, fb_width bytes per row, no gap between rows:
// pixel (x, y) is fb_pixels[x + y * fb_width]. Points at fb_storage after
// video_init (or fb_attach_storage); not usable before.
extern uint8_t *fb_pixels;
extern int32_t fb_width;   // 400 after video start-up
extern int32_t fb_height;  // 240 after video start-up
extern uint8_t fb_storage[FB_STORAGE_BYTES];

// Palette index used by every drawing operation that takes no colour of
// its own. 0 at program start; only set_draw_color changes it.
extern uint8_t draw_color;

// Frame number: starts with all bits set, and every frame loop adds 1 after
// each fb_present, so the first frame runs at 4294967295 and the second at
// 0. Animates the demo and stamps transformed vertices once per frame.
extern uint32_t frame_counter;

// Points the framebuffer globals at fb_storage with the 400 x 240 size.
// video_init does this; tests and tools that draw without a window call it
// alone.
void fb_attach_storage(void);

// Sets all fb_width * fb_height bytes to index 0 (black).
void fb_clear(void);

// Makes `index` the draw_color of the drawing operations that follow.
void set_draw_color(uint8_t index);

#endif
