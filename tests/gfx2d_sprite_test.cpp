// Sprites: borrowed and owned pixels, the opaque copy, and clipping.
#include <gtest/gtest.h>

#include <vector>

#include "gfx2d/framebuffer.h"
#include "gfx2d/sprite.h"
#include "support/gfx2d_canvas.h"
#include "util/alloc.h"

// Reference: every sprite pixel that lands on screen, copied as is.
static std::vector<uint8_t> expected_after_sprite(const Sprite &sprite) {
    std::vector<uint8_t> screen = canvas_snapshot();
    for (int64_t i = 0; i < sprite.height; i++)
        for (int64_t j = 0; j < sprite.width; j++)
            reference_put(screen, static_cast<int64_t>(sprite.x) + j, static_cast<int64_t>(sprite.y) + i,
                          sprite.pixels[i * sprite.width + j]);
    return screen;
}

TEST(TextSprite, BorrowedPixelsAreCopiedOpaquelyAndLeftToTheCaller) {
    // Index 0 included: there is no transparent colour.
    std::vector<uint8_t> pixels = {0, 1, 2, 0, 3, 4, 0, 0, 5, 6, 7, 0};
    const std::vector<uint8_t> original = pixels;
    Sprite *sprite = sprite_new(4, 3, pixels.data());
    ASSERT_NE(sprite, nullptr);
    EXPECT_EQ(sprite->pixels, pixels.data());
    EXPECT_FALSE(sprite->owns_pixels);
    EXPECT_EQ(sprite->x, 0);
    EXPECT_EQ(sprite->y, 0);
    EXPECT_EQ(sprite->width, 4);
    EXPECT_EQ(sprite->height, 3);
    sprite_set_position(sprite, 10, 20);
    EXPECT_EQ(sprite->x, 10);
    EXPECT_EQ(sprite->y, 20);
    canvas_reset();
    const std::vector<uint8_t> before = canvas_snapshot();
    sprite_draw(sprite);
    for (int32_t y = 19; y <= 23; y++)
        for (int32_t x = 9; x <= 14; x++) {
            const bool inside = x >= 10 && x < 14 && y >= 20 && y < 23;
            EXPECT_EQ(fb_pixels[y * fb_width + x],
                      inside ? pixels[(y - 20) * 4 + (x - 10)] : before[y * fb_width + x])
                << x << ", " << y;
        }
    sprite_free(sprite);
    EXPECT_EQ(pixels, original);  // untouched, still ours
    sprite_free(nullptr);
    sprite_set_position(nullptr, 1, 1);
    sprite_draw(nullptr);
    alloc_fail_after(0);
    EXPECT_EQ(sprite_new(4, 3, pixels.data()), nullptr);
    alloc_fail_after(-1);
}

TEST(TextSprite, OwnedPixelsComeWithTheSpriteAndGoWithIt) {
    Sprite *sprite = sprite_new_owned(64, 32);
    ASSERT_NE(sprite, nullptr);
    EXPECT_TRUE(sprite->owns_pixels);
    ASSERT_NE(sprite->pixels, nullptr);
    for (int i = 0; i < 64 * 32; i++) sprite->pixels[i] = static_cast<uint8_t>(i % 7);
    sprite_set_position(sprite, 300, 100);
    canvas_reset();
    const std::vector<uint8_t> expected = expected_after_sprite(*sprite);
    sprite_draw(sprite);
    EXPECT_EQ(canvas_snapshot(), expected);
    sprite_free(sprite);  // the sanitizer build sees a leak or double free here

    Sprite *empty = sprite_new_owned(0, 5);
    ASSERT_NE(empty, nullptr);
    canvas_reset();
    const std::vector<uint8_t> before = canvas_snapshot();
    sprite_draw(empty);
    EXPECT_EQ(canvas_snapshot(), before);
    sprite_free(empty);

    EXPECT_EQ(sprite_new_owned(-1, 5), nullptr);
    EXPECT_EQ(sprite_new_owned(5, -1), nullptr);
    EXPECT_EQ(sprite_new_owned(-2, -2), nullptr);  // a positive product, still refused
    alloc_fail_after(0);
    EXPECT_EQ(sprite_new_owned(4, 4), nullptr);  // the block
    alloc_fail_after(1);
    EXPECT_EQ(sprite_new_owned(4, 4), nullptr);  // the record
    alloc_fail_after(-1);
}

TEST(TextSprite, ClipsExactlyToTheFramebuffer) {
    Sprite *sprite = sprite_new_owned(64, 64);
    ASSERT_NE(sprite, nullptr);
    for (int i = 0; i < 64 * 64; i++) sprite->pixels[i] = static_cast<uint8_t>(1 + i % 13);
    const int32_t positions[][2] = {{-10, -20}, {370, 200}, {-63, 100}, {399, 100}, {100, -63},
                                    {100, 239}, {-64, 0},   {400, 0},   {0, -64},   {0, 240},
                                    {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MAX - 10, 5},
                                    {-40, -40}, {0, 0},     {336, 176}};
    for (const auto &position : positions) {
        canvas_reset();
        sprite_set_position(sprite, position[0], position[1]);
        const std::vector<uint8_t> expected = expected_after_sprite(*sprite);
        sprite_draw(sprite);
        EXPECT_EQ(canvas_snapshot(), expected) << position[0] << ", " << position[1];
        EXPECT_TRUE(canvas_fence_intact()) << position[0] << ", " << position[1];
    }
    sprite_free(sprite);
    // Borrowed pixels with a nonsense negative size draw nothing.
    uint8_t pixel = 3;
    Sprite *negative = sprite_new(-5, 4, &pixel);
    canvas_reset();
    const std::vector<uint8_t> before = canvas_snapshot();
    sprite_draw(negative);
    EXPECT_EQ(canvas_snapshot(), before);
    EXPECT_TRUE(canvas_fence_intact());
    sprite_free(negative);
}
