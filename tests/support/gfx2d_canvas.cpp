// Fenced framebuffer and reference drawing for the 2D text and sprite tests.
#include "support/gfx2d_canvas.h"

#include <cstring>

#include "gfx2d/framebuffer.h"

void canvas_reset(void) {
    fb_attach_storage();
    memset(fb_storage, CANVAS_FENCE, sizeof fb_storage);
    for (int32_t y = 0; y < fb_height; y++)
        for (int32_t x = 0; x < fb_width; x++) fb_pixels[y * fb_width + x] = canvas_pattern(x, y);
}

uint8_t canvas_pattern(int32_t x, int32_t y) {
    // Never the fence byte and never the colours the tests draw with (1..15).
    return static_cast<uint8_t>(16 + (x * 7 + y * 13) % 200);
}

bool canvas_fence_intact(void) {
    const size_t used = static_cast<size_t>(fb_width) * fb_height;
    for (size_t i = used; i < sizeof fb_storage; i++)
        if (fb_storage[i] != CANVAS_FENCE) return false;
    return fb_pixels == fb_storage;
}

std::vector<uint8_t> canvas_snapshot(void) {
    return std::vector<uint8_t>(fb_pixels, fb_pixels + static_cast<size_t>(fb_width) * fb_height);
}

void reference_put(std::vector<uint8_t> &screen, int64_t x, int64_t y, uint8_t color) {
    if (x < 0 || y < 0 || x >= fb_width || y >= fb_height) return;
    screen[static_cast<size_t>(y * fb_width + x)] = color;
}

bool glyph_ink(const uint8_t *glyphs, int32_t width_px, int32_t height_px, int code, int32_t column,
               int32_t row) {
    const int64_t row_start = (static_cast<int64_t>(code) * height_px * width_px) / 8 +
                              (static_cast<int64_t>(row) * width_px) / 8;
    return (glyphs[row_start + column / 8] >> (column % 8)) & 1;
}

void reference_text_draw(std::vector<uint8_t> &screen, const TextObject &text, uint8_t color) {
    const Font &font = *text.font;
    const int64_t gw = font.glyph_width, gh = font.glyph_height;
    int64_t pen_x = text.x, pen_y = text.y, line = 0;
    for (const char *p = text.text; *p; p++) {
        if (static_cast<int64_t>(text.wrap_width) < line + gw) {
            pen_x = text.x;
            pen_y += gh;
            line = 0;
        }
        const int code = static_cast<signed char>(*p);
        if (code >= 0)
            for (int32_t r = 0; r < gh; r++)
                for (int32_t j = 0; j < gw; j++)
                    if (glyph_ink(font.glyphs, font.glyph_width, font.glyph_height, code, j, r))
                        reference_put(screen, pen_x + j, pen_y + r, color);
        pen_x += gw;
        line += gw;
    }
}

std::vector<uint8_t> dot_glyph_set(int32_t width_px, int32_t height_px) {
    const size_t glyph_bytes = static_cast<size_t>(width_px) * height_px / 8;
    std::vector<uint8_t> set(FONT_CODE_COUNT * glyph_bytes, 0);
    for (int code = 0; code < FONT_CODE_COUNT; code++) set[code * glyph_bytes] = 1;
    return set;
}

std::vector<std::pair<int32_t, int32_t>> canvas_changes(const std::vector<uint8_t> &before,
                                                        const std::vector<uint8_t> &after) {
    std::vector<std::pair<int32_t, int32_t>> changes;
    for (size_t i = 0; i < before.size() && i < after.size(); i++)
        if (before[i] != after[i])
            changes.emplace_back(static_cast<int32_t>(i % fb_width), static_cast<int32_t>(i / fb_width));
    return changes;
}
