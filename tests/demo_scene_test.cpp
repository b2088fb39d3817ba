// The demo scene, drawn headless and checked pixel by pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "demo/demo_scene.h"
#include "gfx2d/framebuffer.h"
#include "support/platform_fb.h"

namespace {
constexpr uint8_t ORANGE = 6, PINK = 37;

std::vector<uint8_t> draw_frame_at(uint32_t frame) {
    guarded_fb_setup();
    frame_counter = frame;
    demo_draw_frame();
    EXPECT_TRUE(guarded_fb_intact());
    return std::vector<uint8_t>(fb_pixels, fb_pixels + 400 * 240);
}
}  // namespace

TEST(DemoScene, FiguresLieWhereTheSceneSays) {
    const std::vector<uint8_t> frame = draw_frame_at(0xFFFFFFFFu);
    EXPECT_EQ(draw_color, ORANGE) << "the frame ends with draw_color 6";
    auto at = [&](int x, int y) { return frame[x + y * 400]; };
    // The line covers the first circle's rightmost point and runs 40 pixels in.
    for (int x = 340; x <= 380; x++) EXPECT_EQ(at(x, 120), PINK) << x;
    EXPECT_EQ(at(339, 120), 0);
    for (auto [x, y] : {std::pair{379, 121}, {379, 123}, {379, 125}}) EXPECT_EQ(at(x, y), PINK);
    // The two orange circles start at their rightmost points.
    EXPECT_EQ(at(100, 60), ORANGE);
    EXPECT_EQ(at(100, 180), ORANGE);

    // The wave band: orange plus-shaped dots within x 0..300, y 69..171.
    int wave_min_y = 240, wave_max_y = -1, wave_max_x = -1;
    for (int y = 0; y < 240; y++) {
        for (int x = 101; x < 260; x++) {  // clear of the circles
            if (at(x, y) == ORANGE) {
                wave_min_y = std::min(wave_min_y, y);
                wave_max_y = std::max(wave_max_y, y);
            }
        }
    }
    for (int y = 69; y <= 171; y++) {
        for (int x = 101; x < 400; x++) {
            if (at(x, y) == ORANGE) wave_max_x = std::max(wave_max_x, x);
        }
    }
    EXPECT_GE(wave_min_y, 69);
    EXPECT_LE(wave_max_y, 171);
    EXPECT_LE(wave_max_x, 300);
    EXPECT_GT(wave_max_x, 290) << "the band reaches to the right end";
    // Nothing orange or pink outside the figures' boxes.
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 400; x++) {
            uint8_t c = at(x, y);
            if (c == 0) continue;
            ASSERT_TRUE(c == ORANGE || c == PINK) << x << "," << y;
            if (c == PINK) {
                EXPECT_TRUE(x >= 260 && x <= 380 && y >= 60 && y <= 180) << x << "," << y;
            }
        }
}

TEST(DemoScene, TheWaveMovesBetweenFramesAndTheCirclesStay) {
    const std::vector<uint8_t> first = draw_frame_at(0xFFFFFFFFu);
    const std::vector<uint8_t> second = draw_frame_at(0);
    const std::vector<uint8_t> second_again = draw_frame_at(0);
    EXPECT_NE(first, second) << "the first two frames' waves differ";
    EXPECT_EQ(second, second_again) << "a frame depends only on frame_counter";
    // The pink figures do not animate.
    for (int i = 0; i < 400 * 240; i++)
        if (first[i] == PINK) {
            ASSERT_EQ(second[i], PINK) << i;
        }
}
