// Dotted circles: points only, no arcs between them.
#include <cmath>

#include "gfx2d/primitives.h"

// Deliberately 6.28 rather than 2 pi: the ring stops just short of a full
// turn, so the last point never lands on the first.
constexpr double CIRCLE_TURN = 6.28;

void draw_circle(int32_t cx, int32_t cy, int32_t radius, int32_t count) {
    if (count <= 0) return;
    const double step = CIRCLE_TURN / count;
    for (int32_t i = 0; i < count; i++) {
        const double angle = i * step;
        // 64-bit sums: a centre near the int32 limits must not wrap onto
        // the screen.
        const int64_t x = cx + static_cast<int64_t>(cos(angle) * radius);
        const int64_t y = cy + static_cast<int64_t>(sin(angle) * radius);
        if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) continue;
        put_pixel(static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
}
