// Sprites: construction over borrowed or owned pixels, and the clipped
// opaque copy into the framebuffer.
#include "gfx2d/sprite.h"

#include <cstring>

#include "gfx2d/framebuffer.h"
#include "util/alloc.h"

Sprite *sprite_new(int32_t width, int32_t height, uint8_t *pixels) {
    Sprite *sprite = static_cast<Sprite *>(engine_calloc(1, sizeof(Sprite)));
    if (!sprite) return nullptr;
    sprite->pixels = pixels;
    sprite->owns_pixels = false;
    sprite->width = width;
    sprite->height = height;
    return sprite;
}

Sprite *sprite_new_owned(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    // Both factors are below 2^31, so the product fits in 64 bits.
    const uint64_t size_bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (size_bytes > SIZE_MAX) return nullptr;
    // An empty sprite still gets a block, so pixels is never null.
    uint8_t *pixels = static_cast<uint8_t *>(engine_malloc(size_bytes ? size_bytes : 1));
    if (!pixels) return nullptr;
    Sprite *sprite = sprite_new(width, height, pixels);
    if (!sprite) {
        engine_free(pixels);
        return nullptr;
    }
    sprite->owns_pixels = true;
    return sprite;
}

Sprite *sprite_new_taking(int32_t width, int32_t height, uint8_t *pixels) {
    if (width < 0 || height < 0 || pixels == nullptr) return nullptr;
    Sprite *sprite = sprite_new(width, height, pixels);
    if (sprite != nullptr) sprite->owns_pixels = true;
    return sprite;
}

void sprite_free(Sprite *sprite) {
    if (!sprite) return;
    if (sprite->owns_pixels) engine_free(sprite->pixels);
    engine_free(sprite);
}

void sprite_set_position(Sprite *sprite, int32_t x, int32_t y) {
    if (!sprite) return;
    sprite->x = x;
    sprite->y = y;
}

void sprite_draw(const Sprite *sprite) {
    if (!sprite || !sprite->pixels) return;
    // The on-screen part, in sprite coordinates; 64-bit so that a far-off
    // position plus a large size cannot wrap.
    const int64_t x = sprite->x, y = sprite->y;
    const int64_t column_begin = x < 0 ? -x : 0;
    const int64_t column_end = x + sprite->width > fb_width ? fb_width - x : sprite->width;
    const int64_t row_begin = y < 0 ? -y : 0;
    const int64_t row_end = y + sprite->height > fb_height ? fb_height - y : sprite->height;
    if (column_begin >= column_end || row_begin >= row_end) return;
    const size_t run_bytes = static_cast<size_t>(column_end - column_begin);
    for (int64_t row = row_begin; row < row_end; row++)
        memcpy(fb_pixels + (y + row) * fb_width + x + column_begin,
               sprite->pixels + row * sprite->width + column_begin, run_bytes);
}
