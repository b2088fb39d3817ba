// The engine's one time source. Everything in the engine that needs the
// time in milliseconds (the present's pacing and rate line, the estimate of
// what is being heard) reads engine_ticks(), never SDL_GetTicks() itself,
// so that a capture can run the whole program on a virtual clock.
#ifndef PLATFORM_ENGINE_CLOCK_H
#define PLATFORM_ENGINE_CLOCK_H

#include <cstdint>

// One frame period: about 58.8 frames per second at most. The present paces
// to it, and the virtual clock moves on by it at each frame a capture makes.
constexpr uint32_t FRAME_PERIOD_MS = 17;

// The clock's state. Real: engine_ticks() is SDL_GetTicks(). Virtual (a
// capture is running): engine_ticks() is virtual_ms, which only
// engine_clock_advance moves, by exactly one frame period per present.
struct EngineClock {
    bool is_virtual;
    uint32_t virtual_ms;
};
extern EngineClock engine_clock;

// Milliseconds, SDL's tick count or the virtual clock.
uint32_t engine_ticks(void);

// Switches to the virtual clock, standing at 0 ms.
void engine_clock_make_virtual(void);

// Moves the virtual clock on by `ms`; does nothing on the real clock.
void engine_clock_advance(uint32_t ms);

#endif
