// The present's pacing decision: how long to wait so that frames are a
// frame period (17 ms) apart, whatever the window.
#ifndef PLATFORM_FRAME_PACING_H
#define PLATFORM_FRAME_PACING_H

#include <cstdint>

// The pacing decision. `elapsed_ms` is the time since the mark at the
// pacing step, `elapsed_again_ms` a second reading taken just before the
// wait. Returns the delay in milliseconds: 17 - elapsed_again_ms when
// elapsed_ms is 0..17 and the second reading is still below 17, else 0. A
// frame that ends within the mark's own millisecond waits like any other
// fast frame, so no paced program shows more than one frame per 17 ms.
uint32_t present_wait_ms(uint32_t elapsed_ms, uint32_t elapsed_again_ms);

#endif
