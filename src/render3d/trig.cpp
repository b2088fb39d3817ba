// fixed_sin, fixed_cos and sin_eighths: one reduction and one read of
// sine_table each.
#include "render3d/trig.h"

// Fixed degrees: position inside the quarter 0 .. 5898239.
static const int32_t QUARTER_LAST = FIXED_QUARTER_TURN - 1;

Fixed fixed_sin(Fixed angle) {
    // Truncating remainder keeps the sign of the angle; one full turn added
    // to a negative rest brings it into 0 .. one turn - 1.
    int32_t a = angle % FIXED_FULL_TURN;
    if (a < 0) a += FIXED_FULL_TURN;
    int32_t r = a % FIXED_QUARTER_TURN;
    if (a < FIXED_QUARTER_TURN) return static_cast<Fixed>(sine_table[r >> SINE_STEP_SHIFT]);
    if (a < 2 * FIXED_QUARTER_TURN) return static_cast<Fixed>(sine_table[(QUARTER_LAST - r) >> SINE_STEP_SHIFT]);
    if (a < 3 * FIXED_QUARTER_TURN) return -static_cast<Fixed>(sine_table[r >> SINE_STEP_SHIFT]);
    return -static_cast<Fixed>(sine_table[(QUARTER_LAST - r) >> SINE_STEP_SHIFT]);
}

Fixed fixed_cos(Fixed angle) {
    return fixed_sin(wrap_add(angle, FIXED_QUARTER_TURN));
}

Fixed sin_eighths(int32_t angle) {
    int32_t a = angle % EIGHTHS_FULL_TURN;
    if (a < 0) a += EIGHTHS_FULL_TURN;
    int32_t quadrant = a / EIGHTHS_QUARTER_TURN;
    int32_t r = a % EIGHTHS_QUARTER_TURN;
    const int32_t last = SINE_TABLE_ENTRIES - 1;
    switch (quadrant) {
    case 0: return static_cast<Fixed>(sine_table[r]);
    case 1: return static_cast<Fixed>(sine_table[last - r]);
    case 2: return -static_cast<Fixed>(sine_table[r]);
    default: return -static_cast<Fixed>(sine_table[last - r]);
    }
}
