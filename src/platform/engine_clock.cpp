// The engine's time source: SDL's millisecond tick count, or a virtual
// clock that only presents move on.
#include "platform/engine_clock.h"

#include <SDL/SDL.h>

EngineClock engine_clock = {false, 0};

uint32_t engine_ticks(void) { return engine_clock.is_virtual ? engine_clock.virtual_ms : SDL_GetTicks(); }

void engine_clock_make_virtual(void) {
    engine_clock.is_virtual = true;
    engine_clock.virtual_ms = 0;
}

void engine_clock_advance(uint32_t ms) {
    if (engine_clock.is_virtual) engine_clock.virtual_ms += ms;
}
