// Presentation through the real SDL 1.2 (dummy video driver): the palette
// conversion into the 32-bit surface, the window surface, and the pacing
// decision.
#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "platform/framebuffer.h"
#include "platform/palette.h"
#include "platform/video.h"
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
