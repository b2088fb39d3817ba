// Presentation through the real SDL 1.2 (dummy video driver): the palette
// conversion into the 32-bit surface, the window surface written exactly
// as SDL's blit writes it, the changed tiles sent to the display, and the
// pacing decision; and in a real window under Xvfb, the display showing
// exactly what a whole update shows, and a window made again getting the
// whole frame; and the browser build's rand().
#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/glibc_rand_internal.h"
#include "platform/screen_changes.h"
#include "platform/screen_lookup.h"
#include "platform/video.h"
#include "platform/window_scale.h"
#include "support/platform_process.h"
#include "support/platform_tools.h"
#include "support/platform_xvfb.h"
#include "support/test_files.h"

TEST(Pacing, WaitsOutTheRestOfSeventeenMilliseconds) {
    EXPECT_EQ(present_wait_ms(0, 0), 17u) << "a frame within the mark's millisecond waits the whole period";
    EXPECT_EQ(present_wait_ms(0, 5), 12u);
    EXPECT_EQ(present_wait_ms(5, 5), 12u) << "a 5 ms frame waits about 12 ms";
    EXPECT_EQ(present_wait_ms(5, 6), 11u) << "the wait uses the second reading";
    EXPECT_EQ(present_wait_ms(1, 1), 16u);
    EXPECT_EQ(present_wait_ms(17, 17), 0u);
    EXPECT_EQ(present_wait_ms(16, 17), 0u) << "no wait once the second reading reaches 17";
    EXPECT_EQ(present_wait_ms(18, 18), 0u) << "a slow frame gets no wait";
    EXPECT_EQ(present_wait_ms(0xFFFFFFFFu, 3), 0u) << "a clock read before the mark wraps to a huge elapsed time";
}

// The browser build's rand() (glibc_rand_internal.h) gives the C
// library's own sequence, seeded or not, so its pictures are the native
// ones: checked against glibc's rand() itself.
TEST(BrowserRand, IsGlibcsRandForEverySeed) {
    for (unsigned seed : {1u, 0u, 2u, 12345u, 0x7FFFFFFFu, 0x80000001u, 0xFFFFFFFFu}) {
        srand(seed);
        GlibcRand g;
        glibc_rand_seed(&g, seed);
        int differ = 0;
        for (int i = 0; i < 2000; i++) differ += glibc_rand_next(&g) != rand();
        EXPECT_EQ(differ, 0) << "seed " << seed;
    }
}

TEST(Present, ConvertsThroughThePaletteIntoTheSurfaces) {
    ASSERT_STREQ(getenv("SDL_VIDEODRIVER"), "dummy");
    video_init();
    ASSERT_NE(screen_surface, nullptr);
    ASSERT_NE(frame_surface, nullptr);
    EXPECT_EQ(fb_pixels, fb_storage);
    EXPECT_EQ(fb_width, 400);
    EXPECT_EQ(fb_height, 240);
    EXPECT_EQ(screen_surface->w, 400);
    EXPECT_EQ(screen_surface->h, 240);
    EXPECT_EQ(screen_surface->format->BitsPerPixel, 16);
    EXPECT_EQ(frame_surface->format->BitsPerPixel, 32);
    EXPECT_EQ(frame_surface->format->Rmask, 0xFF000000u);
    EXPECT_EQ(frame_surface->format->Gmask, 0x00FF0000u);
    EXPECT_EQ(frame_surface->format->Bmask, 0x0000FF00u);

    memset(fb_pixels, 0x77, 400 * 240);
    fb_clear();
    for (int i = 0; i < 400 * 240; i++) ASSERT_EQ(fb_pixels[i], 0) << i;
    // Every index appears, in a pattern that differs per row and column.
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 400; x++) fb_pixels[x + y * 400] = static_cast<uint8_t>(x * 7 + y * 13);

    // Capture the frame-rate line from standard error.
    fflush(stderr);
    std::string pattern = temp_base_dir() + "/present_stderr_XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    int saved = dup(2);
    dup2(fd, 2);
    fb_present();
    // A 5 ms frame: the next present waits out the remaining 12 or so.
    const uint32_t before = SDL_GetTicks();
    SDL_Delay(5);
    fb_present();
    const uint32_t after = SDL_GetTicks();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    char text[256] = {0};
    ASSERT_GE(pread(fd, text, sizeof text - 1, 0), 0);
    close(fd);
    unlink(path.data());

    // The window is written straight from the indices; frame_surface gets
    // the 32-bit colours when asked (and when SDL's blit is the way).
    fb_convert();
    const uint32_t *pixels = static_cast<const uint32_t *>(frame_surface->pixels);
    const int stride = frame_surface->pitch / 4;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 400; x++)
            ASSERT_EQ(pixels[x + y * stride], Palette[static_cast<uint8_t>(x * 7 + y * 13)]) << x << "," << y;

    // The 16-bit window holds the same colours, reduced to 5-6-5 bits.
    const SDL_PixelFormat *fmt = screen_surface->format;
    const uint16_t *screen = static_cast<const uint16_t *>(screen_surface->pixels);
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 400; x += 5) {
            Uint8 r, g, b;
            SDL_GetRGB(screen[x + y * screen_surface->pitch / 2], const_cast<SDL_PixelFormat *>(fmt), &r, &g, &b);
            const uint32_t c = Palette[static_cast<uint8_t>(x * 7 + y * 13)];
            EXPECT_NEAR(r, int(c >> 24), 8);
            EXPECT_NEAR(g, int(c >> 16 & 0xFF), 4);
            EXPECT_NEAR(b, int(c >> 8 & 0xFF), 8);
        }

    // Two rate lines, each ending in a carriage return; the second present
    // is paced to 17 ms after the first one's end.
    EXPECT_GE(after - before, 16u);
    float rate1 = 0, rate2 = 0;
    ASSERT_EQ(sscanf(text, "FPS: %f\rFPS: %f\r", &rate1, &rate2), 2) << text;
    EXPECT_EQ(std::string(text).find('\n'), std::string::npos);
    EXPECT_LE(rate2, 1000.0f / 16.0f);
    EXPECT_GE(rate2, 1000.0f / 40.0f);
    EXPECT_NE(last_present_ticks, 0u);
}

namespace {

// Random indices, with runs and repeats as drawn pictures have them.
void random_frame(std::mt19937 *random, uint8_t *pixels, int count) {
    for (int i = 0; i < count;) {
        const uint8_t index = static_cast<uint8_t>((*random)());
        for (int run = 1 + static_cast<int>((*random)() % 9); run > 0 && i < count; run--) pixels[i++] = index;
    }
}

// SDL's own way: the 32-bit surface blitted into a surface like `like`.
SDL_Surface *sdl_blit_of(SDL_Surface *frame, const SDL_Surface *like) {
    const SDL_PixelFormat *f = like->format;
    SDL_Surface *out = SDL_CreateRGBSurface(SDL_SWSURFACE, frame->w, frame->h, f->BitsPerPixel, f->Rmask, f->Gmask,
                                            f->Bmask, f->Amask);
    if (out != nullptr) SDL_UpperBlit(frame, nullptr, out, nullptr);
    return out;
}

// Row by row, the visible bytes of two surfaces of one format; -1 when
// equal, else the offset of the first difference.
long first_difference(const SDL_Surface *a, const SDL_Surface *b) {
    const int row_bytes = a->w * a->format->BytesPerPixel;
    for (int y = 0; y < a->h; y++) {
        const uint8_t *ra = static_cast<const uint8_t *>(a->pixels) + y * a->pitch;
        const uint8_t *rb = static_cast<const uint8_t *>(b->pixels) + y * b->pitch;
        for (int i = 0; i < row_bytes; i++)
            if (ra[i] != rb[i]) return static_cast<long>(y) * row_bytes + i;
    }
    return -1;
}

}  // namespace

TEST(Present, WindowPixelsAreExactlyThoseOfSdlsBlit) {
    video_init();
    std::mt19937 random(12);
    for (int round = 0; round < 20; round++) {
        random_frame(&random, fb_pixels, 400 * 240);
        if (round == 0)
            for (int i = 0; i < 256; i++) fb_pixels[i] = static_cast<uint8_t>(i);  // every index once
        fb_show();
        fb_convert();
        SDL_Surface *reference = sdl_blit_of(frame_surface, screen_surface);
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(first_difference(screen_surface, reference), -1) << "round " << round;
        SDL_FreeSurface(reference);
    }
}

namespace {

// -1 when every pixel of `reference` (a 400 x 240 surface of the window's
// format) fills a k x k block of `window` whose top-left corner is at
// (left + x * k, top + y * k), and every pixel of `window` outside the
// picture is black (0); else the first pixel that is not, as y * 400 + x
// for one of the picture's or -2 for one outside it.
long first_block_difference(const SDL_Surface *window, const SDL_Surface *reference, int k, int left = 0,
                            int top = 0) {
    const int bytes = window->format->BytesPerPixel;
    if (left < 0 || top < 0 || window->w < left + reference->w * k || window->h < top + reference->h * k) return 0;
    for (int y = 0; y < reference->h; y++)
        for (int x = 0; x < reference->w; x++) {
            const uint8_t *want = static_cast<const uint8_t *>(reference->pixels) + y * reference->pitch + x * bytes;
            for (int dy = 0; dy < k; dy++)
                for (int dx = 0; dx < k; dx++) {
                    const uint8_t *got = static_cast<const uint8_t *>(window->pixels) +
                                         (top + y * k + dy) * window->pitch + (left + x * k + dx) * bytes;
                    if (memcmp(got, want, bytes) != 0) return static_cast<long>(y) * reference->w + x;
                }
        }
    const uint8_t black[4] = {0, 0, 0, 0};
    for (int y = 0; y < window->h; y++)
        for (int x = 0; x < window->w; x++) {
            const bool inside = x >= left && x < left + reference->w * k && y >= top && y < top + reference->h * k;
            const uint8_t *got = static_cast<const uint8_t *>(window->pixels) + y * window->pitch + x * bytes;
            if (!inside && memcmp(got, black, bytes) != 0) return -2;
        }
    return -1;
}

}  // namespace

// Each mode set (another scale, fullscreen, back) makes a new window
// surface, and from the first frame on it (the picture shown last) every
// framebuffer pixel is a k x k block of exactly what SDL's blit gives it.
// Full screen is a surface of the desktop's size (a 1000 x 700 one here,
// whatever the driver said), with the picture centred at the largest
// scale that fits, 2, and black around it, whatever the window's scale;
// on a desktop smaller than the picture it is the picture's size.
TEST(Present, ScaledAndFullscreenWindowsShowWhatSdlsBlitShows) {
    video_init();
    std::mt19937 random(21);
    std::vector<uint8_t> frame(400 * 240);
    random_frame(&random, frame.data(), 400 * 240);
    for (int i = 0; i < 256; i++) frame[400 * 7 + i] = static_cast<uint8_t>(i);  // every index once
    const struct {
        int desktop_width, desktop_height;
        int scale;
        bool fullscreen;
        int width, height, shown_scale;  // the surface, the picture's scale
    } steps[] = {
        {1000, 700, 1, false, 400, 240, 1},  {1000, 700, 3, false, 1200, 720, 3}, {1000, 700, 2, false, 800, 480, 2},
        {1000, 700, 2, true, 1000, 700, 2},  {1000, 700, 3, true, 1000, 700, 2},  {1000, 700, 1, true, 1000, 700, 2},
        {1000, 700, 1, false, 400, 240, 1},  {1000, 700, 1, false, 400, 240, 1},  {320, 200, 2, true, 400, 240, 1},
        {1000, 300, 1, true, 1000, 300, 1},  {1000, 300, 3, false, 1200, 720, 3}, {1000, 700, 1, false, 400, 240, 1},
    };
    for (const auto &step : steps) {
        window_state.desktop_width = step.desktop_width;
        window_state.desktop_height = step.desktop_height;
        if (window_state.fullscreen != step.fullscreen) {
            ASSERT_EQ(window_toggle_fullscreen(), 0);
        }
        ASSERT_EQ(window_set_scale(step.scale), 0);
        ASSERT_EQ(screen_surface->w, step.width);
        ASSERT_EQ(screen_surface->h, step.height);
        const int left = (step.width - 400 * step.shown_scale) / 2, top = (step.height - 240 * step.shown_scale) / 2;
        // The picture shown last, then another one.
        for (int round = 0; round < 2; round++) {
            if (round == 1) random_frame(&random, frame.data(), 400 * 240);
            memcpy(fb_pixels, frame.data(), frame.size());
            fb_show();
            fb_convert();
            SDL_Surface *reference = sdl_blit_of(frame_surface, screen_surface);
            ASSERT_NE(reference, nullptr);
            EXPECT_EQ(first_block_difference(screen_surface, reference, step.shown_scale, left, top), -1)
                << "scale " << step.scale << (step.fullscreen ? ", fullscreen" : "") << " on " << step.desktop_width
                << "x" << step.desktop_height << ", round " << round;
            SDL_FreeSurface(reference);
        }
    }
    EXPECT_EQ(window_set_scale(0), -1);
    EXPECT_EQ(window_set_scale(WINDOW_MAX_SCALE + 1), -1);
    EXPECT_EQ(screen_surface->w, 400) << "a refused scale leaves the window as it was";
}

TEST(Present, WindowPixelTableMatchesSdlsBlitForEveryFormat) {
    video_init();
    const struct {
        int bits;
        Uint32 r, g, b, a;
        bool usable;
    } formats[] = {
        {16, 0xF800, 0x07E0, 0x001F, 0, true},          {16, 0x7C00, 0x03E0, 0x001F, 0, true},
        {16, 0x001F, 0x07E0, 0xF800, 0, true},          {16, 0x0F00, 0x00F0, 0x000F, 0xF000, true},
        {32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0, true}, {32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0, true},
        {32, 0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF, true}, {24, 0xFF0000, 0x00FF00, 0x0000FF, 0, false},
        {8, 0, 0, 0, 0, false},
    };
    std::mt19937 random(7);
    for (const auto &f : formats) {
        SDL_Surface *window = SDL_CreateRGBSurface(SDL_SWSURFACE, 400, 240, f.bits, f.r, f.g, f.b, f.a);
        ASSERT_NE(window, nullptr);
        ScreenLookup lookup;
        const int built = screen_lookup_build(&lookup, frame_surface, window);
        EXPECT_EQ(built == 0, f.usable) << f.bits << " bits, R " << std::hex << f.r;
        if (built == 0) {
            random_frame(&random, fb_pixels, 400 * 240);
            for (int i = 0; i < 256; i++) fb_pixels[400 * 100 + i] = static_cast<uint8_t>(i);
            screen_lookup_show(&lookup, fb_pixels, 400, 240, window);
            fb_convert();
            SDL_Surface *reference = sdl_blit_of(frame_surface, window);
            ASSERT_NE(reference, nullptr);
            EXPECT_EQ(first_difference(window, reference), -1) << f.bits << " bits, R " << std::hex << f.r;
            SDL_FreeSurface(reference);
            // The same writer at scale 3 with the picture off the corner,
            // then a part of a changed picture alone over it: every pixel
            // ends as a 3 x 3 block of what SDL's blit gives the new one.
            SDL_Surface *large = SDL_CreateRGBSurface(SDL_SWSURFACE, 1200 + 7, 720 + 4, f.bits, f.r, f.g, f.b, f.a);
            ASSERT_NE(large, nullptr);
            SDL_FillRect(large, nullptr, 0);
            SDL_Rect whole = {0, 0, 400, 240};
            EXPECT_EQ(screen_lookup_write(&lookup, fb_pixels, 400, &whole, 3, 5, 2, large), 0);
            SDL_Rect part = {37, 211, 50, 29};
            for (int y = part.y; y < part.y + part.h; y++)
                for (int x = part.x; x < part.x + part.w; x++) fb_pixels[y * 400 + x] = static_cast<uint8_t>(x ^ y);
            EXPECT_EQ(screen_lookup_write(&lookup, fb_pixels, 400, &part, 3, 5, 2, large), 0);
            fb_convert();
            reference = sdl_blit_of(frame_surface, window);
            ASSERT_NE(reference, nullptr);
            EXPECT_EQ(first_block_difference(large, reference, 3, 5, 2), -1) << f.bits << " bits, R " << std::hex << f.r;
            SDL_FreeSurface(reference);
            SDL_FreeSurface(large);
        } else {
            EXPECT_EQ(lookup.bytes_per_pixel, 0);
        }
        SDL_FreeSurface(window);
    }
}

TEST(ScreenChanges, RectanglesCoverEveryChangedPixelAndNothingOutside) {
    std::mt19937 random(3);
    const int sizes[][2] = {{400, 240}, {37, 19}, {16, 16}, {800, 3}, {1, 1}};
    for (const auto &size : sizes) {
        const int width = size[0], height = size[1];
        std::vector<uint8_t> shown(static_cast<size_t>(width) * height), now;
        random_frame(&random, shown.data(), width * height);
        for (int round = 0; round < 60; round++) {
            now = shown;
            const int changes = round % 5 == 0 ? 0 : static_cast<int>(random() % 40);
            for (int c = 0; c < changes; c++) now[random() % now.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            if (round % 7 == 3) std::fill(now.begin(), now.end(), static_cast<uint8_t>(round));  // everything
            const std::vector<uint8_t> before = shown;
            SDL_Rect rects[1000];
            const int count = screen_changes_collect(now.data(), shown.data(), width, height, rects, 1000);
            ASSERT_GE(count, 0);
            std::vector<int> cover(now.size(), 0);
            for (int i = 0; i < count; i++) {
                const SDL_Rect &r = rects[i];
                ASSERT_TRUE(r.w > 0 && r.h > 0 && r.x + r.w <= width && r.y + r.h <= height) << i;
                ASSERT_EQ(r.x % SCREEN_CHANGE_TILE_PX, 0);
                ASSERT_EQ(r.y % SCREEN_CHANGE_TILE_PX, 0);
                for (int y = r.y; y < r.y + r.h; y++)
                    for (int x = r.x; x < r.x + r.w; x++) cover[y * width + x]++;
            }
            for (size_t i = 0; i < now.size(); i++) {
                if (now[i] != before[i]) {
                    ASSERT_EQ(cover[i], 1) << width << "x" << height << " pixel " << i;
                }
                ASSERT_LE(cover[i], 1) << "rectangles overlap at " << i;
            }
            // A rectangle is a run of changed tiles: each of its tiles changed.
            for (int i = 0; i < count; i++)
                for (int tx = rects[i].x; tx < rects[i].x + rects[i].w; tx += SCREEN_CHANGE_TILE_PX) {
                    bool changed = false;
                    for (int y = rects[i].y; y < rects[i].y + rects[i].h; y++)
                        for (int x = tx; x < tx + SCREEN_CHANGE_TILE_PX && x < width; x++)
                            changed = changed || now[y * width + x] != before[y * width + x];
                    ASSERT_TRUE(changed) << "tile at " << tx << "," << rects[i].y << " sent unchanged";
                }
            if (changes == 0 && round % 7 != 3) {
                EXPECT_EQ(count, 0);
            }
            ASSERT_TRUE(shown == now) << "the shown copy follows the frame";
        }
    }
    // Too many rectangles for the room given: -1, and nothing copied.
    std::vector<uint8_t> shown(400 * 240, 0), now(400 * 240, 0);
    for (int y = 0; y < 240; y += 16)
        for (int x = 0; x < 400; x += 32) now[y * 400 + x] = 1;  // every other tile: many runs
    SDL_Rect rects[10];
    EXPECT_EQ(screen_changes_collect(now.data(), shown.data(), 400, 240, rects, 10), -1);
    EXPECT_TRUE(std::all_of(shown.begin(), shown.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(screen_changes_collect(now.data(), shown.data(), 801, 1, rects, 10), -1);
}

namespace {

// The whole X screen as RGB bytes, through xwd and ImageMagick.
std::vector<uint8_t> screen_capture(const std::string &display, const std::string &dir, int n) {
    const std::string raw = dir + "/capture" + std::to_string(n) + ".rgb";
    std::vector<uint8_t> bytes;
    if (run_command("xwd -root -silent -display " + display + " | convert xwd:- -depth 8 rgb:" + raw) != 0)
        return bytes;
    read_whole_file(raw, &bytes);
    return bytes;
}

}  // namespace

TEST(Present, RealWindowShowsWhatAWholeUpdateShows) {
    ASSERT_EQ(missing_tool("Xvfb", "xvfb") + missing_tool("xwd", "x11-apps") + missing_tool("convert", "imagemagick"),
              "");
    VirtualDisplay xvfb;
    const VirtualDisplayStopper stopper = {&xvfb};
    ASSERT_EQ(virtual_display_start(&xvfb, 20000), 0) << "Xvfb starts";
    const std::string dir = make_temp_dir("present_window");
    // This process's SDL moves to the X server: a 16-bit window on a
    // 24-bit display, so SDL converts it for the display at every update.
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_Quit();
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("DISPLAY", xvfb.name.c_str(), 1);
    video_init();
    EXPECT_NE(SDL_GetVideoInfo()->vfmt->BitsPerPixel, 16) << "the display's own format differs from the window's";
    std::mt19937 random(5);
    random_frame(&random, fb_pixels, 400 * 240);
    fb_present();  // the first is sent whole
    for (int round = 0; round < 3; round++) {
        // Frames that change a little: scattered pixels, a bar, the edges.
        for (int frame = 0; frame < 9; frame++) {
            for (int c = static_cast<int>(random() % 30); c > 0; c--)
                fb_pixels[random() % (400 * 240)] = static_cast<uint8_t>(random());
            const int bar_y = static_cast<int>(random() % 240);
            memset(fb_pixels + bar_y * 400 + random() % 200, static_cast<int>(random() % 256), 150);
            fb_pixels[399 + 400 * static_cast<int>(random() % 240)] = static_cast<uint8_t>(random());
            fb_pixels[random() % 400 + 400 * 239] = static_cast<uint8_t>(random());
            fb_present();
        }
        const std::vector<uint8_t> sent = screen_capture(xvfb.name, dir, 2 * round);
        // The whole window made and sent again as every frame once was:
        // the 32-bit surface, SDL's blit, the flip.
        fb_convert();
        SDL_UpperBlit(frame_surface, nullptr, screen_surface, nullptr);
        SDL_Flip(screen_surface);
        const std::vector<uint8_t> whole = screen_capture(xvfb.name, dir, 2 * round + 1);
        ASSERT_EQ(sent.size(), 640u * 480u * 3u) << "round " << round;
        ASSERT_TRUE(sent == whole) << "round " << round << ": the display missed a change";
    }
    // The window made again at the same size and at twice it: each new
    // window surface gets the whole frame, though nothing in it changed.
    for (int scale : {1, 2, 1}) {
        ASSERT_EQ(window_set_scale(scale), 0);
        fb_present();
        fb_convert();
        SDL_Surface *reference = sdl_blit_of(frame_surface, screen_surface);
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(first_block_difference(screen_surface, reference, scale), -1) << "scale " << scale;
        SDL_FreeSurface(reference);
    }
    SDL_Quit();
    remove_tree(dir);
}
