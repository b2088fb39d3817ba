// Pixels, Bresenham lines and dotted circles, on screen and clipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "gfx2d/framebuffer.h"
#include "gfx2d/primitives.h"
#include "support/platform_fb.h"

namespace {

// The unclipped walk, written independently with 64-bit state and no
// framebuffer: every pixel the line visits, in order.
std::vector<std::pair<int64_t, int64_t>> reference_walk(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    std::vector<std::pair<int64_t, int64_t>> out;
    int64_t dx = std::llabs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    int64_t dy = std::llabs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int64_t err = (dx > dy ? dx : -dy) / 2;
    for (;;) {
        out.push_back({x0, y0});
        if (x0 == x1 && y0 == y1) break;
        int64_t e = err;
        if (e > -dx) { err -= dy; x0 += sx; }
        if (e < dy) { err += dx; y0 += sy; }
    }
    return out;
}

PixelSet on_screen_part(const std::vector<std::pair<int64_t, int64_t>> &walk) {
    PixelSet set;
    for (auto [x, y] : walk)
        if (x >= 0 && x < SCREEN_WIDTH_PX && y >= 0 && y < SCREEN_HEIGHT_PX) set.insert({static_cast<int>(x), static_cast<int>(y)});
    return set;
}

PixelSet line_pixels(int x0, int y0, int x1, int y1) {
    guarded_fb_setup();
    draw_line(x0, y0, x1, y1, 9);
    EXPECT_TRUE(guarded_fb_intact());
    return fb_nonzero_pixels();
}

}  // namespace

TEST(Pixels, ExplicitColorAndDrawColorAndClipping) {
    guarded_fb_setup();
    set_draw_color(12);
    put_pixel(3, 4);
    put_pixel_color(399, 239, 200);
    EXPECT_EQ(fb_pixels[3 + 4 * 400], 12);
    EXPECT_EQ(fb_pixels[399 + 239 * 400], 200);
    EXPECT_EQ(draw_color, 12) << "drawing never resets the colour";
    // Every neighbour of the screen's edge is dropped, including the ones a
    // plain offset would wrap onto the next row.
    for (auto [x, y] : {std::pair{-1, 0}, {400, 0}, {0, -1}, {0, 240}, {-1, 239}, {400, 239},
                        {INT32_MIN, 0}, {0, INT32_MAX}})
        put_pixel_color(x, y, 1);
    EXPECT_TRUE(guarded_fb_intact());
    EXPECT_EQ(fb_nonzero_pixels(), (PixelSet{{3, 4}, {399, 239}}));
}

TEST(Lines, WalkFigures) {
    EXPECT_EQ(line_pixels(0, 0, 4, 1), (PixelSet{{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}}));
    EXPECT_EQ(line_pixels(0, 0, 1, 4), (PixelSet{{0, 0}, {0, 1}, {0, 2}, {1, 3}, {1, 4}}));
    EXPECT_EQ(line_pixels(0, 0, 3, 3), (PixelSet{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
    // A line and its reverse differ.
    EXPECT_EQ(line_pixels(0, 0, 2, 1), (PixelSet{{0, 0}, {1, 0}, {2, 1}}));
    EXPECT_EQ(line_pixels(2, 1, 0, 0), (PixelSet{{2, 1}, {1, 1}, {0, 0}}));
    EXPECT_EQ(line_pixels(7, 9, 7, 9), (PixelSet{{7, 9}}));
    PixelSet row;
    for (int x = 340; x <= 380; x++) row.insert({x, 120});
    EXPECT_EQ(line_pixels(380, 120, 340, 120), row);
}

TEST(Lines, OnScreenLinesMatchTheReferenceWalk) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> xs(0, 399), ys(0, 239);
    for (int n = 0; n < 2000; n++) {
        int x0 = xs(rng), y0 = ys(rng), x1 = xs(rng), y1 = ys(rng);
        auto walk = reference_walk(x0, y0, x1, y1);
        ASSERT_EQ(walk.size(), size_t(std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1));
        ASSERT_EQ(line_pixels(x0, y0, x1, y1), on_screen_part(walk)) << x0 << "," << y0 << " " << x1 << "," << y1;
    }
}

TEST(Lines, ClippedLinesDrawExactlyTheVisiblePartOfTheWalk) {
    std::mt19937 rng(99);
    // End points around the screen, a few screens away, and far away.
    const int spans[] = {450, 2000, 100000};
    for (int span : spans) {
        std::uniform_int_distribution<int> xs(-span, 399 + span), ys(-span, 239 + span);
        for (int n = 0; n < 300; n++) {
            int x0 = xs(rng), y0 = ys(rng), x1 = xs(rng), y1 = ys(rng);
            ASSERT_EQ(line_pixels(x0, y0, x1, y1), on_screen_part(reference_walk(x0, y0, x1, y1)))
                << x0 << "," << y0 << " " << x1 << "," << y1;
        }
    }
    // Hand-picked: wholly off screen on every side, grazing corners,
    // crossing the whole screen.
    const int cases[][4] = {{-10, -10, -1, 300}, {400, 0, 900, 239}, {-5, 245, 405, 245},
                            {-1, -1, 400, 240}, {-30, 120, 430, 121}, {200, -1000, 201, 1000},
                            {399, -1, 0, 240}, {-1, 0, 0, -1}};
    for (auto &c : cases)
        EXPECT_EQ(line_pixels(c[0], c[1], c[2], c[3]), on_screen_part(reference_walk(c[0], c[1], c[2], c[3])));
}

TEST(Lines, FarAwayEndPointsAreClippedWithoutWalkingTheWholeLine) {
    // A full walk of these would take billions of steps: the test is that
    // they finish at once and draw what the walk would draw on screen.
    // Near-horizontal: err starts at dx / 2 = 2e9 and drops by 1 a step, so
    // the one minor step comes right after the pixel at x = 0.
    PixelSet expected{{0, 120}};
    for (int x = 1; x < 400; x++) expected.insert({x, 121});
    EXPECT_EQ(line_pixels(-2000000000, 120, 2000000000, 121), expected);

    expected.clear();
    for (int i = 0; i < 240; i++) expected.insert({i, i});
    EXPECT_EQ(line_pixels(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), expected);

    expected.clear();
    for (int x = 0; x < 400; x++) expected.insert({x, 5});
    EXPECT_EQ(line_pixels(INT32_MAX, 5, INT32_MIN, 5), expected);
    EXPECT_TRUE(line_pixels(INT32_MIN, -1, INT32_MAX, -1).empty());
}

TEST(Circles, PointFiguresAndClipping) {
    guarded_fb_setup();
    set_draw_color(7);
    draw_circle(100, 100, 10, 4);
    EXPECT_EQ(fb_nonzero_pixels(), (PixelSet{{110, 100}, {100, 109}, {91, 100}, {100, 91}}));

    guarded_fb_setup();
    draw_circle(100, 100, 10, 0);
    draw_circle(100, 100, 10, -5);
    EXPECT_TRUE(fb_nonzero_pixels().empty());

    guarded_fb_setup();
    draw_circle(320, 120, 60, 200);
    for (auto [x, y] : {std::pair{380, 120}, {379, 121}, {379, 123}, {379, 125}})
        EXPECT_EQ(fb_pixels[x + y * 400], 7) << x << "," << y;
    EXPECT_LE(fb_nonzero_pixels().size(), 200u);

    // Partly and wholly off screen, and centres at the int32 limits.
    guarded_fb_setup();
    draw_circle(0, 0, 50, 400);
    draw_circle(399, 239, 300, 1000);
    draw_circle(-1000, 50, 20, 100);
    draw_circle(INT32_MAX, INT32_MAX, INT32_MAX, 100);
    draw_circle(INT32_MIN, 0, 10, 100);
    EXPECT_TRUE(guarded_fb_intact());
    EXPECT_EQ(fb_pixels[50 + 0 * 400], 7) << "the on-screen first point of the corner circle";
}
