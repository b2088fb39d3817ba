// Bresenham lines in the all-octant error form, with exact clipping.
//
// The walk: err starts at dx / 2 when dx > dy, else at -(dy / 2); each step
// saves e = err, then steps x when e > -dx (err -= dy) and y when e < dy
// (err += dx). Along the major axis every step moves by one, and the number
// of minor-axis steps after k steps has a closed form (see
// line_minor_steps), so a clipped line can start its walk at the first
// visible step with the very error value the unclipped walk would have
// there.
#include <cstdlib>

#include "gfx2d/framebuffer.h"
#include "gfx2d/primitives.h"

// Products of a step count and a delta reach 2^64; they are formed wider
// (__extension__: a GCC and clang type, not ISO C++).
__extension__ typedef __int128 wide_t;

static bool on_screen(int32_t x, int32_t y) {
    return static_cast<uint32_t>(x) < static_cast<uint32_t>(fb_width) &&
           static_cast<uint32_t>(y) < static_cast<uint32_t>(fb_height);
}

// The plain walk for a line whose end points are both on screen: no test
// per pixel, a running byte offset instead of a multiplication.
static void draw_line_unclipped(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t color) {
    const int32_t dx = abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int32_t dy = abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int32_t err = dx > dy ? dx / 2 : -(dy / 2);
    int32_t offset = x0 + y0 * fb_width;
    const int32_t row_step = sy * fb_width;
    int32_t x = x0, y = y0;
    for (;;) {
        fb_pixels[offset] = color;
        if (x == x1 && y == y1) break;
        const int32_t e = err;
        if (e > -dx) {
            err -= dy;
            x += sx;
            offset += sx;
        }
        if (e < dy) {
            err += dx;
            y += sy;
            offset += row_step;
        }
    }
}

static wide_t floor_div(wide_t a, wide_t d) {  // d > 0
    return a >= 0 ? a / d : -((-a + d - 1) / d);
}

// Minor-axis steps taken after k major steps. The error stays in [0, dmaj)
// (x-major) or (-dmin.., 0] mirrored (y-major), which pins the count to
// ceil((k * dmin - dmaj / 2) / dmaj).
static int64_t line_minor_steps(int64_t k, int64_t dmaj, int64_t dmin) {
    const wide_t a = static_cast<wide_t>(k) * dmin - dmaj / 2;
    return static_cast<int64_t>(floor_div(a + dmaj - 1, dmaj));
}

// Range of k in [0, last] for which start + step * k lies in [0, size - 1];
// false when empty.
static bool axis_range(int64_t start, int64_t step, int64_t size, int64_t last, int64_t *lo, int64_t *hi) {
    int64_t a, b;
    if (step > 0) {
        a = -start;
        b = size - 1 - start;
    } else {
        a = start - (size - 1);
        b = start;
    }
    if (a < 0) a = 0;
    if (b > last) b = last;
    *lo = a;
    *hi = b;
    return a <= b;
}

static void draw_line_clipped(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t color) {
    const int64_t dx = llabs(static_cast<int64_t>(x1) - x0), sx = x0 < x1 ? 1 : -1;
    const int64_t dy = llabs(static_cast<int64_t>(y1) - y0), sy = y0 < y1 ? 1 : -1;
    const bool x_major = dx > dy;
    const int64_t dmaj = x_major ? dx : dy, dmin = x_major ? dy : dx;
    if (dmaj == 0) return;  // a single off-screen point
    const int64_t maj0 = x_major ? x0 : y0, min0 = x_major ? y0 : x0;
    const int64_t smaj = x_major ? sx : sy, smin = x_major ? sy : sx;
    const int64_t maj_size = x_major ? fb_width : fb_height, min_size = x_major ? fb_height : fb_width;

    // Steps whose major coordinate is on screen.
    int64_t k_lo, k_hi;
    if (!axis_range(maj0, smaj, maj_size, dmaj, &k_lo, &k_hi)) return;
    // Minor-step counts whose minor coordinate is on screen; the count never
    // decreases along the walk, so the visible steps form one run.
    int64_t c_lo, c_hi;
    if (!axis_range(min0, smin, min_size, INT64_MAX, &c_lo, &c_hi)) return;
    int64_t lo = k_lo, hi = k_hi + 1;
    while (lo < hi) {  // first k with count >= c_lo
        const int64_t mid = lo + (hi - lo) / 2;
        if (line_minor_steps(mid, dmaj, dmin) >= c_lo) hi = mid; else lo = mid + 1;
    }
    const int64_t first = lo;
    hi = k_hi + 1;
    while (lo < hi) {  // first k with count > c_hi
        const int64_t mid = lo + (hi - lo) / 2;
        if (line_minor_steps(mid, dmaj, dmin) > c_hi) hi = mid; else lo = mid + 1;
    }
    const int64_t last = lo - 1;
    if (first > last) return;

    // Enter the walk at step `first` with the unclipped walk's state there.
    const int64_t c = line_minor_steps(first, dmaj, dmin);
    const int64_t residue = static_cast<int64_t>(dmaj / 2 - static_cast<wide_t>(first) * dmin +
                                                 static_cast<wide_t>(c) * dmaj);  // in [0, dmaj)
    int64_t err = x_major ? residue : -residue;
    int64_t x = x_major ? maj0 + smaj * first : min0 + smin * c;
    int64_t y = x_major ? min0 + smin * c : maj0 + smaj * first;
    int64_t offset = x + y * fb_width;
    const int64_t row_step = sy * fb_width;
    for (int64_t k = first;; k++) {
        fb_pixels[offset] = color;
        if (k == last) break;
        const int64_t e = err;
        if (e > -dx) {
            err -= dy;
            offset += sx;
        }
        if (e < dy) {
            err += dx;
            offset += row_step;
        }
    }
}

void draw_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t color) {
    if (on_screen(x0, y0) && on_screen(x1, y1))
        draw_line_unclipped(x0, y0, x1, y1, color);
    else
        draw_line_clipped(x0, y0, x1, y1, color);
}
