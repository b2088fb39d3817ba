// Test helpers for the framebuffer: a headless framebuffer with guard
// regions around it, and pixel-set comparisons.
#ifndef TESTS_SUPPORT_PLATFORM_FB_H
#define TESTS_SUPPORT_PLATFORM_FB_H

#include <cstdint>
#include <set>
#include <utility>

typedef std::set<std::pair<int, int>> PixelSet;

// Points fb_pixels into the middle of a larger block, clears the 400 x 240
// framebuffer to 0 and fills the guard bytes before and after it with
// GUARD_BYTE, so that tests can check nothing was written outside.
constexpr uint8_t GUARD_BYTE = 0xA5;
void guarded_fb_setup(void);
// True when every guard byte is still intact.
bool guarded_fb_intact(void);

// The set of framebuffer pixels that are not 0.
PixelSet fb_nonzero_pixels(void);

#endif
