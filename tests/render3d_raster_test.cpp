// The rasterizer: coverage figures, early returns, depth acceptance of the
// two fills, the sorting pass, the wireframe, the safety of any triangle
// (framebuffer, depth buffer and texture stay within bounds), and the edge
// walk the two fills share.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "gfx2d/framebuffer.h"
#include "render3d/render3d.h"
#include "support/render3d_fixtures.h"

static const Fixed ONE = FIXED_ONE;
// 40000.0 does not fit Fixed: it wraps to a negative value whose integer
// part, cut to 16 bits, is the pattern 40000.
static const Fixed DEPTH_40000 = static_cast<Fixed>(40000u * 65536u);

static uint8_t pixel_at(int x, int y) { return fb_pixels[y * 400 + x]; }
static uint16_t depth_at(int x, int y) { return depth_buffer[y * 400 + x]; }

// A texture inside a larger block whose margins hold GUARD_TEXEL: a sample
// read from outside the texture shows up as that value on screen.
static const uint8_t GUARD_TEXEL = 250;
static const int GUARD_BYTES = 4096;
struct GuardedTexture {
    std::vector<uint8_t> block;
    Texture texture;
};
static void guarded_texture(GuardedTexture *g, int32_t width, int32_t height, uint8_t (*texel)(int32_t u, int32_t v)) {
    size_t n = static_cast<size_t>(width) * height;
    g->block.assign(n + 2 * GUARD_BYTES, GUARD_TEXEL);
    for (int32_t v = 0; v < height; v++)
        for (int32_t u = 0; u < width; u++) g->block[GUARD_BYTES + v * width + u] = texel(u, v);
    g->texture = Texture{g->block.data() + GUARD_BYTES, width, height};
}
static uint8_t texel_by_row(int32_t, int32_t v) { return static_cast<uint8_t>(1 + v % 200); }
static uint8_t texel_mixed(int32_t u, int32_t v) { return static_cast<uint8_t>(1 + (u * 7 + v * 13) % 99); }

TEST(Render3dRaster, DepthClear) {
    render3d_fresh_frame();
    std::memset(depth_buffer, 0, sizeof depth_buffer);
    depth_clear();
    for (int i = 0; i < DEPTH_BUFFER_ENTRIES; i++) ASSERT_EQ(depth_buffer[i], 65535) << i;
}

TEST(Render3dRaster, FlatCoverage55PixelsAndRedraw) {
    render3d_fresh_frame();
    ScreenTriangle st;
    screen_triangle_at(&st, 10, 10, 20, 10, 10, 20, 5 * ONE, 9);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 55);
    EXPECT_EQ(count_pixels(9), 55);
    // Row 10 + k holds columns 10 .. 19 - k; row 20 (the bottom corner) none.
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 400; x++) {
            bool inside = y >= 10 && y < 20 && x >= 10 && x <= 19 - (y - 10);
            ASSERT_EQ(pixel_at(x, y), inside ? 9 : 0) << x << "," << y;
            ASSERT_EQ(depth_at(x, y), inside ? 5 : 65535) << x << "," << y;
        }
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 0);
    // Corner order does not change the coverage.
    render3d_fresh_frame();
    screen_triangle_at(&st, 10, 20, 20, 10, 10, 10, 5 * ONE, 9);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 55);
}

TEST(Render3dRaster, FullScreenLeavesLastRowAndColumn) {
    render3d_fresh_frame();
    ScreenTriangle st;
    screen_triangle_at(&st, -10, -10, 1000, -10, -10, 1000, 7 * ONE, 44);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 95361);
    EXPECT_EQ(count_pixels(44), 239 * 399);
    for (int x = 0; x < 400; x++) EXPECT_EQ(pixel_at(x, 239), 0) << x;
    for (int y = 0; y < 240; y++) EXPECT_EQ(pixel_at(399, y), 0) << y;
    EXPECT_EQ(depth_at(399, 0), 65535);
    EXPECT_EQ(depth_at(0, 239), 65535);
    EXPECT_EQ(depth_at(398, 238), 7);

    // The textured fill covers the same pixels.
    render3d_fresh_frame();
    GuardedTexture g;
    guarded_texture(&g, 16, 16, texel_mixed);
    const int32_t uv[6] = {0, 0, 15, 0, 0, 15};
    screen_triangle_texture(&st, &g.texture, uv);
    draw_triangle_textured(&st.tri);
    EXPECT_EQ(st.tri.pixels, 95361);
    EXPECT_EQ(count_pixels(0), 96000 - 95361);
    for (int x = 0; x < 400; x++) EXPECT_EQ(pixel_at(x, 239), 0) << x;
}

TEST(Render3dRaster, EarlyReturnsKeepPixels) {
    render3d_fresh_frame();
    ScreenTriangle st;
    // All corners on one row.
    screen_triangle_at(&st, 10, 50, 100, 50, 300, 50, 5 * ONE, 3);
    st.tri.pixels = 777;
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 777);
    // Rows 239, 250, 260: clamped range is empty.
    screen_triangle_at(&st, 10, 239, 100, 250, 300, 260, 5 * ONE, 3);
    st.tri.pixels = 778;
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 778);
    // Wholly below row 239 or above row 0: drawn with nothing, pixels 0.
    screen_triangle_at(&st, 10, 245, 100, 250, 300, 260, 5 * ONE, 3);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 0);
    screen_triangle_at(&st, 10, -20, 100, -5, 300, -10, 5 * ONE, 3);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 0);
    // Wholly left or right of the screen: rows visited, nothing written.
    screen_triangle_at(&st, -300, 10, -100, 10, -200, 100, 5 * ONE, 3);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 0);
    screen_triangle_at(&st, 400, 10, 600, 10, 500, 100, 5 * ONE, 3);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 0);
    EXPECT_EQ(count_pixels(3), 0);
    // A corner beyond the representable screen range: not drawn at all.
    screen_triangle_at(&st, 10, 10, 40000, 10, 10, 200, 5 * ONE, 3);
    st.tri.pixels = 779;
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 779);
    screen_triangle_at(&st, 10, 10, 300, -32769, 10, 200, 5 * ONE, 3);
    st.tri.pixels = 779;
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, 779);
    EXPECT_EQ(count_pixels(3), 0);
    // The last representable coordinates are still drawn.
    screen_triangle_at(&st, -32768, -32768, 32767, -32768, -32768, 32767, 5 * ONE, 3);
    draw_triangle_flat(&st.tri);
    EXPECT_GT(st.tri.pixels, 0);
}

TEST(Render3dRaster, DepthAcceptanceFlatVersusTextured) {
    GuardedTexture g;
    guarded_texture(&g, 8, 8, texel_mixed);
    const int32_t uv[6] = {0, 0, 7, 0, 0, 7};
    ScreenTriangle st;

    // Flat at -3.0 passes everywhere and leaves the pattern 65533.
    render3d_fresh_frame();
    screen_triangle_at(&st, 0, 0, 100, 0, 0, 100, -3 * ONE, 20);
    draw_triangle_flat(&st.tri);
    EXPECT_GT(st.tri.pixels, 0);
    EXPECT_EQ(depth_at(10, 10), 65533);
    // A later flat triangle at 5.0 is drawn over it.
    ScreenTriangle over;
    screen_triangle_at(&over, 0, 0, 100, 0, 0, 100, 5 * ONE, 21);
    draw_triangle_flat(&over.tri);
    EXPECT_EQ(over.tri.pixels, st.tri.pixels);
    EXPECT_EQ(pixel_at(10, 10), 21);
    // Flat at 40000.0 (negative as 16 bits) is drawn over anything.
    screen_triangle_at(&st, 0, 0, 100, 0, 0, 100, DEPTH_40000, 22);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(st.tri.pixels, over.tri.pixels);
    EXPECT_EQ(depth_at(10, 10), 40000);
    EXPECT_EQ(pixel_at(10, 10), 22);

    // Textured at either depth draws nothing.
    const Fixed depths[] = {-3 * ONE, DEPTH_40000, 0, ONE / 2};
    for (Fixed d : depths) {
        render3d_fresh_frame();
        screen_triangle_at(&st, 0, 0, 100, 0, 0, 100, d, 20);
        screen_triangle_texture(&st, &g.texture, uv);
        draw_triangle_textured(&st.tri);
        EXPECT_EQ(st.tri.pixels, 0) << d;
        EXPECT_EQ(count_pixels(0), 96000) << d;
    }
    // At 1.0 it draws, and not over a nearer flat one.
    render3d_fresh_frame();
    screen_triangle_at(&st, 0, 0, 100, 0, 0, 100, ONE, 20);
    screen_triangle_texture(&st, &g.texture, uv);
    draw_triangle_textured(&st.tri);
    EXPECT_EQ(st.tri.pixels, 5050);
    render3d_fresh_frame();
    screen_triangle_at(&over, 0, 0, 100, 0, 0, 100, 2 * ONE, 21);
    draw_triangle_flat(&over.tri);
    screen_triangle_at(&st, 0, 0, 100, 0, 0, 100, 3 * ONE, 20);
    screen_triangle_texture(&st, &g.texture, uv);
    draw_triangle_textured(&st.tri);
    EXPECT_EQ(st.tri.pixels, 0);
}

TEST(Render3dRaster, DepthInterpolatesAcrossTheTriangle) {
    // Depth 2.0 on the left edge and 100.0 at the right corner: a nearer
    // flat triangle at 50.0 wins only where the first one is deeper.
    render3d_fresh_frame();
    ScreenTriangle st;
    const int32_t xy[6] = {0, 0, 200, 0, 0, 200};
    const Fixed depths[3] = {2 * ONE, 100 * ONE, 2 * ONE};
    screen_triangle(&st, xy, depths, 30);
    draw_triangle_flat(&st.tri);
    EXPECT_EQ(depth_at(0, 0), 2);
    EXPECT_GT(depth_at(190, 0), 90);
    EXPECT_LT(depth_at(190, 0), 100);
    ScreenTriangle wall;
    screen_triangle_at(&wall, 0, 0, 300, 0, 0, 300, 50 * ONE, 31);
    draw_triangle_flat(&wall.tri);
    EXPECT_EQ(pixel_at(5, 0), 30);
    EXPECT_EQ(pixel_at(190, 0), 31);
}

TEST(Render3dRaster, TexturedSamplingAndTheMends) {
    // A 256-wide texture: row offsets beyond 32767 still read the right row.
    GuardedTexture g;
    guarded_texture(&g, 256, 256, texel_by_row);
    render3d_fresh_frame();
    ScreenTriangle st;
    screen_triangle_at(&st, 0, 0, 300, 0, 0, 230, 5 * ONE, 99);
    const int32_t uv[6] = {0, 0, 255, 0, 0, 230};
    screen_triangle_texture(&st, &g.texture, uv);
    draw_triangle_textured(&st.tri);
    EXPECT_GT(st.tri.pixels, 0);
    for (int y = 0; y < 229; y++) EXPECT_EQ(pixel_at(0, y), texel_by_row(0, y)) << y;
    EXPECT_EQ(pixel_at(2, 150), 151);  // offset 150 x 256 = 38400

    // Texture coordinates far outside a small texture read only its texels.
    GuardedTexture small;
    guarded_texture(&small, 8, 4, texel_mixed);
    render3d_fresh_frame();
    const int32_t wild[6] = {-5000, 1000, 3000, -70000, 100000, 100000};
    screen_triangle_at(&st, 0, 0, 390, 10, 30, 230, 5 * ONE, 99);
    screen_triangle_texture(&st, &small.texture, wild);
    draw_triangle_textured(&st.tri);
    EXPECT_GT(st.tri.pixels, 1000);
    int texels = 0;
    for (int i = 0; i < 96000; i++) {
        ASSERT_NE(fb_pixels[i], GUARD_TEXEL) << i;
        if (fb_pixels[i] != 0) {
            texels++;
            ASSERT_LE(fb_pixels[i], 99);
        }
    }
    EXPECT_EQ(texels, st.tri.pixels);

    // Without pixels or without all coordinates the textured draw goes flat.
    render3d_fresh_frame();
    Texture empty{nullptr, 0, 0};
    screen_triangle_at(&st, 0, 0, 100, 0, 0, 100, 5 * ONE, 77);
    screen_triangle_texture(&st, &empty, uv);
    draw_triangle_textured(&st.tri);
    EXPECT_EQ(count_pixels(77), st.tri.pixels);
    EXPECT_GT(st.tri.pixels, 0);
    render3d_fresh_frame();
    screen_triangle_texture(&st, &g.texture, uv);
    st.tri.t[1] = nullptr;
    draw_triangle_solid(&st.tri);
    EXPECT_EQ(count_pixels(77), st.tri.pixels);

    // Negative pixels with a texture: drawn flat in its colour.
    render3d_fresh_frame();
    screen_triangle_texture(&st, &g.texture, uv);
    st.tri.pixels = -1;
    draw_triangle_solid(&st.tri);
    EXPECT_EQ(count_pixels(77), 5050);
    EXPECT_EQ(st.tri.pixels, 5050);
    // ... and textured again once pixels is not negative.
    render3d_fresh_frame();
    draw_triangle_solid(&st.tri);
    EXPECT_EQ(count_pixels(77), 0);
    // The left edge steps v by (230 << 16) / 100 per row, truncated.
    EXPECT_EQ(pixel_at(1, 50), texel_by_row(0, (50 * ((230 << 16) / 100)) >> 16));
}

TEST(Render3dRaster, FillersSurviveHostileTables) {
    render3d_fresh_frame();
    RowEdges e;
    // A row whose width is -1 and whose depth difference is INT32_MIN: the
    // division that traps in hardware must not happen.
    for (int y = 0; y < 240; y++) {
        e.left_x[y] = 5 * ONE;
        e.right_x[y] = 4 * ONE;
        e.left_depth[y] = 0;
        e.right_depth[y] = INT32_MIN;
        e.left_u[y] = e.left_v[y] = 0;
        e.right_u[y] = e.right_v[y] = INT32_MIN;
    }
    EXPECT_EQ(fill_spans_flat(0, 240, &e, 5), 0);
    GuardedTexture g;
    guarded_texture(&g, 4, 4, texel_mixed);
    Triangle t{};
    t.texture = &g.texture;
    EXPECT_EQ(fill_spans_textured(&t, 0, 240, &e), 0);
    // Row ranges beyond the tables are cut to rows 0 .. 239 (a direct call
    // reaches row 239, which no triangle draw does).
    for (int y = 0; y < 240; y++) {
        e.left_x[y] = INT32_MIN;
        e.right_x[y] = INT32_MAX;
        e.left_depth[y] = e.right_depth[y] = 3 * ONE;
        e.left_u[y] = e.left_v[y] = 0;
        e.right_u[y] = e.right_v[y] = 3 * ONE;
    }
    EXPECT_EQ(fill_spans_flat(-32768, 32767, &e, 5), 240 * 399);
    render3d_fresh_frame();
    EXPECT_EQ(fill_spans_textured(&t, -100, 500, &e), 240 * 399);
    render3d_fresh_frame();
    EXPECT_EQ(fill_spans_flat(238, 240, &e, 5), 2 * 399);
    t.texture = nullptr;
    EXPECT_EQ(fill_spans_textured(&t, 0, 239, &e), 0);
}

TEST(Render3dRaster, SortedPassOrders) {
    // Every triangle covers the same pixels at a fill depth equal to its
    // sort key, so a triangle gets pixels only if nothing nearer came first.
    ScreenTriangle st[3];
    Triangle *items[3];
    auto setup = [&](const int keys[3]) {
        for (int i = 0; i < 3; i++) {
            screen_triangle_at(&st[i], 0, 0, 50, 0, 0, 50, keys[i] * ONE, static_cast<uint8_t>(keys[i] + 100));
            items[i] = &st[i].tri;
        }
    };
    auto key = [&](int i) { return items[i]->depth / ONE; };

    const int a[3] = {5, 3, 4};
    setup(a);
    TriangleList list{items, 3};
    render3d_fresh_frame();
    draw_triangles_sorted(&list);
    EXPECT_EQ(key(0), 3);
    EXPECT_EQ(key(1), 4);
    EXPECT_EQ(key(2), 5);
    // 3 came first: 4 and 5 found nearer pixels everywhere.
    EXPECT_EQ(st[1].tri.pixels, 1275);
    EXPECT_EQ(st[2].tri.pixels, 0);
    EXPECT_EQ(st[0].tri.pixels, 0);

    const int b[3] = {5, 4, 3};
    setup(b);
    render3d_fresh_frame();
    draw_triangles_sorted(&list);
    // Drawn 4, 3, 5 and left in that order.
    EXPECT_EQ(key(0), 4);
    EXPECT_EQ(key(1), 3);
    EXPECT_EQ(key(2), 5);
    EXPECT_EQ(st[1].tri.pixels, 1275);  // the 4
    EXPECT_EQ(st[2].tri.pixels, 1275);  // the 3, nearer, over it
    EXPECT_EQ(st[0].tri.pixels, 0);     // the 5, last
    EXPECT_EQ(pixel_at(1, 1), 103);
    // A second call finishes the order and draws 3 first.
    render3d_fresh_frame();
    draw_triangles_sorted(&list);
    EXPECT_EQ(key(0), 3);
    EXPECT_EQ(key(1), 4);
    EXPECT_EQ(key(2), 5);
    EXPECT_EQ(st[2].tri.pixels, 1275);
    EXPECT_EQ(st[1].tri.pixels, 0);

    // Equal depths are never exchanged.
    const int c[3] = {4, 4, 4};
    setup(c);
    Triangle *order[3] = {items[0], items[1], items[2]};
    draw_triangles_sorted(&list);
    for (int i = 0; i < 3; i++) EXPECT_EQ(items[i], order[i]);
    // Empty and single lists.
    TriangleList empty{items, 0};
    draw_triangles_sorted(&empty);
    TriangleList none{nullptr, 5};
    draw_triangles_sorted(&none);
    TriangleList one{items, 1};
    render3d_fresh_frame();
    draw_triangles_sorted(&one);
    EXPECT_EQ(items[0]->pixels, 1275);
}

TEST(Render3dRaster, WireframeLinesOnlyNoDepth) {
    render3d_fresh_frame();
    ScreenTriangle st;
    screen_triangle_at(&st, 10, 10, 50, 10, 10, 50, 5 * ONE, 3);
    Triangle *items[1] = {&st.tri};
    TriangleList list{items, 1};
    draw_wireframe(&list);
    EXPECT_EQ(pixel_at(10, 10), 15);
    EXPECT_EQ(pixel_at(50, 10), 15);
    EXPECT_EQ(pixel_at(10, 50), 15);
    EXPECT_EQ(pixel_at(30, 30), 15);  // on the hypotenuse
    EXPECT_EQ(pixel_at(20, 20), 0);   // inside stays empty
    EXPECT_EQ(count_pixels(15), 40 + 40 + 40);
    for (int i = 0; i < DEPTH_BUFFER_ENTRIES; i++) ASSERT_EQ(depth_buffer[i], 65535);
    // Corners far off screen are clipped by the line drawing.
    screen_triangle_at(&st, -100000, -5, 2000000, 120, 200, 999999, 5 * ONE, 3);
    draw_wireframe(&list);
    EXPECT_GT(count_pixels(15), 120);
}

// Random corners drawn from several ranges: near the screen, wide, at the
// representable edges, and anything at all.
static int32_t random_coord(std::mt19937 &rng, int mode, bool vertical) {
    static const int32_t edges[] = {-32769, -32768, -32767, -1, 0, 1, 238, 239, 240,
                                    398, 399, 400, 32767, 32768, INT32_MIN, INT32_MAX};
    switch (mode) {
    case 0: return vertical ? static_cast<int32_t>(rng() % 1040) - 400 : static_cast<int32_t>(rng() % 1600) - 600;
    case 1: return static_cast<int32_t>(rng() % 80001) - 40000;
    case 2: return edges[rng() % (sizeof edges / sizeof edges[0])];
    default: return static_cast<int32_t>(rng());
    }
}

TEST(Render3dRaster, AnyTriangleStaysInBounds) {
    std::mt19937 rng(20261207);
    fb_attach_storage();
    // Everything past the 400 x 240 picture in the framebuffer's storage is
    // a guard that must never change.
    std::memset(fb_storage + 96000, 0xEE, FB_STORAGE_BYTES - 96000);
    GuardedTexture textures[4];
    guarded_texture(&textures[0], 1, 1, texel_mixed);
    guarded_texture(&textures[1], 7, 3, texel_mixed);
    guarded_texture(&textures[2], 64, 64, texel_mixed);
    guarded_texture(&textures[3], 256, 200, texel_mixed);
    const int ROUNDS = 20000;
    int drawn = 0;
    for (int round = 0; round < ROUNDS; round++) {
        if (round % 64 == 0) {
            fb_clear();
            depth_clear();
        }
        ScreenTriangle st;
        int mode = static_cast<int>(rng() % 4);
        int32_t xy[6];
        for (int k = 0; k < 6; k++) xy[k] = random_coord(rng, (rng() % 3 == 0) ? static_cast<int>(rng() % 4) : mode, k % 2);
        Fixed depth[3];
        for (int k = 0; k < 3; k++)
            depth[k] = (rng() % 4 == 0) ? static_cast<Fixed>(rng()) : static_cast<Fixed>(rng() % (200 * ONE)) - 10 * ONE;
        screen_triangle(&st, xy, depth, 200);
        Texture *texture = &textures[rng() % 4].texture;
        int32_t uv[6];
        for (int k = 0; k < 3; k++) {
            bool wild = rng() % 5 == 0;
            uv[2 * k] = wild ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % texture->width);
            uv[2 * k + 1] = wild ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % texture->height);
        }
        screen_triangle_texture(&st, texture, uv);
        if (rng() % 10 == 0) st.tri.t[rng() % 3] = nullptr;
        if (rng() % 10 == 0) st.tri.texture = nullptr;
        if (rng() % 4 == 0) st.tri.pixels = -1;
        switch (rng() % 3) {
        case 0: draw_triangle_flat(&st.tri); break;
        case 1: draw_triangle_textured(&st.tri); break;
        default: draw_triangle_solid(&st.tri); break;
        }
        drawn += st.tri.pixels > 0 && st.tri.pixels != INT32_MAX;
        if (round % 16 == 0) {
            Triangle *items[1] = {&st.tri};
            TriangleList list{items, 1};
            draw_wireframe(&list);
        }
        if (round % 64 == 63) {
            for (int x = 0; x < 400; x++) ASSERT_NE(pixel_at(x, 239), 200) << "round " << round;
            for (int i = 0; i < 96000; i++) ASSERT_NE(fb_pixels[i], GUARD_TEXEL) << "round " << round;
        }
    }
    for (int i = 96000; i < FB_STORAGE_BYTES; i++) ASSERT_EQ(fb_storage[i], 0xEE) << i;
    EXPECT_GT(drawn, ROUNDS / 20);  // the run did draw, not only reject
}

// FNV-1a over 64-bit words: a short fingerprint of a whole picture.
static uint64_t hash_words(uint64_t hash, const void *data, size_t bytes) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i + 8 <= bytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        hash = (hash ^ word) * 1099511628211ull;
    }
    return hash;
}

// The flat and the textured fill share one edge walk: a triangle textured
// from a single texel of its own colour draws exactly the flat one's
// pixels and depths wherever every depth is at least 1.0 (the textured
// fill's one rule of its own), corners on the screen, far off it and at the
// representable edges alike. What the rasterizer draws for these triangles
// is pinned by a fingerprint of every picture.
TEST(Render3dRaster, FlatAndTexturedWalkTheSameEdges) {
    std::mt19937 rng(1919);
    uint8_t texel = 77;
    Texture single{&texel, 1, 1};
    std::vector<uint8_t> flat_pixels(96000);
    std::vector<uint16_t> flat_depth(DEPTH_BUFFER_ENTRIES);
    uint64_t hash = 14695981039346656037ull;
    int drawn = 0;
    for (int round = 0; round < 1500; round++) {
        const int mode = rng() % 3 == 0 ? static_cast<int>(rng() % 4) : 0;
        int32_t xy[6];
        for (int k = 0; k < 6; k++) xy[k] = random_coord(rng, rng() % 4 == 0 ? static_cast<int>(rng() % 4) : mode, k % 2);
        Fixed depth[3];
        for (int k = 0; k < 3; k++) depth[k] = ONE + static_cast<Fixed>(rng() % (30000u * ONE));
        int32_t uv[6];
        for (int k = 0; k < 6; k++) uv[k] = static_cast<int32_t>(rng() % 5) - 2;
        ScreenTriangle st;
        render3d_fresh_frame();
        screen_triangle(&st, xy, depth, texel);
        draw_triangle_flat(&st.tri);
        const int flat_count = st.tri.pixels;
        std::memcpy(flat_pixels.data(), fb_pixels, flat_pixels.size());
        std::memcpy(flat_depth.data(), depth_buffer, sizeof depth_buffer);
        render3d_fresh_frame();
        screen_triangle(&st, xy, depth, texel);
        screen_triangle_texture(&st, &single, uv);
        draw_triangle_textured(&st.tri);
        ASSERT_EQ(st.tri.pixels, flat_count) << "round " << round;
        ASSERT_EQ(std::memcmp(fb_pixels, flat_pixels.data(), flat_pixels.size()), 0) << "round " << round;
        ASSERT_EQ(std::memcmp(depth_buffer, flat_depth.data(), sizeof depth_buffer), 0) << "round " << round;
        drawn += flat_count > 0 && flat_count != INT32_MAX;
        const uint64_t count = static_cast<uint64_t>(flat_count);
        hash = hash_words(hash, &count, sizeof count);
        hash = hash_words(hash, flat_pixels.data(), flat_pixels.size());
        hash = hash_words(hash, flat_depth.data(), flat_depth.size() * sizeof flat_depth[0]);
    }
    EXPECT_GT(drawn, 300);
    EXPECT_EQ(hash, 0xdec5daee410d8546ull) << std::hex << hash;
}
