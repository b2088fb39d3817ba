// One frame of the demo scene, drawn with pixels, lines and circles only.
#include "demo/demo_scene.h"

#include <cmath>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "gfx2d/primitives.h"

constexpr uint8_t COLOR_ORANGE = PALETTE_ORANGE;  // A8 57 00
// FF 00 BF: the bright ring's first step from magenta towards red.
constexpr uint8_t COLOR_PINK = palette_ring(PALETTE_RING_BRIGHT, PALETTE_HUE_MAGENTA + 1);

constexpr int WAVE_FIRST_X = 1;
constexpr int WAVE_LAST_X = 299;
constexpr double WAVE_CENTRE_Y = 120.0;
constexpr double WAVE_AMPLITUDE = 50.0;
// The phase drifts 1/400 radian per frame.
constexpr double WAVE_FRAMES_PER_RADIAN = 400.0;
// 20 radians per pixel, not 1/20: the dots repeat about every 5.5 pixels
// (20 radians is about 1.15 past three full turns), which makes the band.
constexpr int WAVE_RADIANS_PER_PIXEL = 20;

constexpr int CIRCLE_POINTS = 200;

static void draw_wave(void) {
    for (int i = WAVE_FIRST_X; i <= WAVE_LAST_X; i++) {
        const double phase = frame_counter / WAVE_FRAMES_PER_RADIAN + (WAVE_RADIANS_PER_PIXEL * i);
        const int y = static_cast<int>(WAVE_CENTRE_Y + WAVE_AMPLITUDE * sin(phase));
        put_pixel_color(i, y, COLOR_ORANGE);
        put_pixel_color(i + 1, y, COLOR_ORANGE);
        put_pixel_color(i - 1, y, COLOR_ORANGE);
        put_pixel_color(i, y + 1, COLOR_ORANGE);
        put_pixel_color(i, y - 1, COLOR_ORANGE);
    }
}

void demo_draw_frame(void) {
    fb_clear();
    set_draw_color(COLOR_PINK);
    draw_wave();
    draw_circle(320, 120, 60, CIRCLE_POINTS);
    // From the circle's rightmost point 40 pixels inwards; it covers that
    // point with its first pixel.
    draw_line(380, 120, 340, 120, COLOR_PINK);
    set_draw_color(COLOR_ORANGE);
    draw_circle(50, 60, 50, CIRCLE_POINTS);
    draw_circle(50, 180, 50, CIRCLE_POINTS);
}
