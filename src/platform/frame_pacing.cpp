// The present's pacing decision.
#include "platform/frame_pacing.h"

#include "platform/engine_clock.h"

uint32_t present_wait_ms(uint32_t elapsed_ms, uint32_t elapsed_again_ms) {
    if (elapsed_ms > FRAME_PERIOD_MS) return 0;
    if (elapsed_again_ms >= FRAME_PERIOD_MS) return 0;
    return FRAME_PERIOD_MS - elapsed_again_ms;
}
