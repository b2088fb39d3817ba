// The 16-bit depth buffer and its per-frame clear.
#include "render3d/raster.h"

uint16_t depth_buffer[DEPTH_BUFFER_ENTRIES];

void depth_clear(void) {
    for (int i = 0; i < DEPTH_BUFFER_ENTRIES; i++) depth_buffer[i] = DEPTH_EMPTY;
}
