// Test helpers for the 2D text and sprite tests: a framebuffer whose
// surroundings in fb_storage are fenced with a known byte, so a test can
// prove nothing was written outside fb_width x fb_height, and plain
// reference drawing that follows the documented per-pixel rules on a copy
// of the screen, so clipped drawing can be compared with it.
#ifndef SUPPORT_GFX2D_CANVAS_H
#define SUPPORT_GFX2D_CANVAS_H

#include <cstdint>
#include <vector>

#include "gfx2d/font.h"
#include "gfx2d/text_object.h"

// Byte written to every byte of fb_storage outside the framebuffer.
constexpr uint8_t CANVAS_FENCE = 0xA5;

// Attaches the 400 x 240 framebuffer, fences all of fb_storage and fills
// the framebuffer with a pattern that depends on (x, y), so any change
// shows.
void canvas_reset(void);

// The pattern byte canvas_reset put at (x, y).
uint8_t canvas_pattern(int32_t x, int32_t y);

// True when every byte of fb_storage outside the framebuffer still holds
// CANVAS_FENCE.
bool canvas_fence_intact(void);

// The framebuffer as it is now.
std::vector<uint8_t> canvas_snapshot(void);

// Sets (x, y) of a screen copy to `color` when it is on screen.
void reference_put(std::vector<uint8_t> &screen, int64_t x, int64_t y, uint8_t color);

// Draws a text object into a screen copy by the plain per-glyph, per-bit
// rule with 64-bit coordinates, in `color`.
void reference_text_draw(std::vector<uint8_t> &screen, const TextObject &text, uint8_t color);

// A 128-glyph set of width x height pixels in the font layout in which
// every glyph has exactly one ink pixel, at its top-left corner (column 0,
// row 0), so a drawn pixel marks exactly where the pen stood.
std::vector<uint8_t> dot_glyph_set(int32_t width_px, int32_t height_px);

// Whether glyph `code` of a set in the font layout has ink at (column, row),
// addressed by the layout's rule.
bool glyph_ink(const uint8_t *glyphs, int32_t width_px, int32_t height_px, int code, int32_t column,
               int32_t row);

// The on-screen coordinates of every pixel that differs between two
// screen copies, in row-major order.
std::vector<std::pair<int32_t, int32_t>> canvas_changes(const std::vector<uint8_t> &before,
                                                        const std::vector<uint8_t> &after);

#endif
