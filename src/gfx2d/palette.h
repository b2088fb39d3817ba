// The fixed 256-colour table through which every framebuffer index is shown.
#ifndef GFX2D_PALETTE_H
#define GFX2D_PALETTE_H

#include <cstdint>

// Entry i is the colour of index i as R << 24 | G << 16 | B << 8, exactly the
// pixel format of frame_surface, so an entry is stored there unchanged.
// Arranged as the VGA default palette: 16 base colours, 16 greys, nine rings
// of 24 hues, 8 blacks. Index 0 is black, 15 and 31 are white.
extern const uint32_t Palette[256];

#endif
