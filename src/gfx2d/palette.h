// The fixed 256-colour table through which every framebuffer index is
// shown, and names for its regions, so that programs say which colour they
// draw with instead of a bare index.
#ifndef GFX2D_PALETTE_H
#define GFX2D_PALETTE_H

#include <cstdint>

// Entry i is the colour of index i as R << 24 | G << 16 | B << 8, exactly the
// pixel format of frame_surface, so an entry is stored there unchanged.
// Arranged as the VGA default palette: 16 base colours, 16 greys, nine rings
// of 24 hues, 8 blacks. Index 0 is black, 15 and 31 are white.
extern const uint32_t Palette[256];

// The 16 base colours, 0 .. 15 (R G B in hexadecimal): eight dark ones
// with A8 for "on", then the same eight bright with 57 for "off" and FF for
// "on". Index 6 is VGA's "brown", an orange on screen.
constexpr uint8_t PALETTE_BLACK = 0;           // 00 00 00
constexpr uint8_t PALETTE_BLUE = 1;            // 00 00 A8
constexpr uint8_t PALETTE_GREEN = 2;           // 00 A8 00
constexpr uint8_t PALETTE_CYAN = 3;            // 00 A8 A8
constexpr uint8_t PALETTE_RED = 4;             // A8 00 00
constexpr uint8_t PALETTE_MAGENTA = 5;         // A8 00 A8
constexpr uint8_t PALETTE_ORANGE = 6;          // A8 57 00
constexpr uint8_t PALETTE_LIGHT_GREY = 7;      // A8 A8 A8
constexpr uint8_t PALETTE_DARK_GREY = 8;       // 57 57 57
constexpr uint8_t PALETTE_LIGHT_BLUE = 9;      // 57 57 FF
constexpr uint8_t PALETTE_LIGHT_GREEN = 10;    // 57 FF 57
constexpr uint8_t PALETTE_LIGHT_CYAN = 11;     // 57 FF FF
constexpr uint8_t PALETTE_LIGHT_RED = 12;      // FF 57 57
constexpr uint8_t PALETTE_LIGHT_MAGENTA = 13;  // FF 57 FF
constexpr uint8_t PALETTE_YELLOW = 14;         // FF FF 57
constexpr uint8_t PALETTE_WHITE = 15;          // FF FF FF
constexpr int PALETTE_BASE_COLORS = 16;

// The greys, 16 .. 31: level 0 is black, level 15 white, brighter with
// each level (00 17 20 2F 38 47 50 60 70 80 90 A0 B7 C8 E0 FF).
constexpr int PALETTE_GREYS_FIRST = 16;
constexpr int PALETTE_GREYS = 16;

// Grey `level` (0 .. 15; taken into that range when outside it).
constexpr uint8_t palette_grey(int level) {
    return static_cast<uint8_t>(PALETTE_GREYS_FIRST + (level < 0 ? 0 : level >= PALETTE_GREYS ? PALETTE_GREYS - 1 : level));
}

// The hue rings, 32 .. 247: nine rings of 24 entries, each walking the
// colour wheel from blue through magenta, red, yellow and green to cyan and
// back towards blue. A ring is one brightness (its strongest component:
// FF bright, 70 dim, 40 dark) and one saturation (its weakest component:
// 0 vivid, about half the strongest soft, about three quarters pale).
constexpr int PALETTE_RING_BRIGHT = 0;       // levels 00 .. FF
constexpr int PALETTE_RING_BRIGHT_SOFT = 1;  // 7F .. FF
constexpr int PALETTE_RING_BRIGHT_PALE = 2;  // B7 .. FF
constexpr int PALETTE_RING_DIM = 3;          // 00 .. 70
constexpr int PALETTE_RING_DIM_SOFT = 4;     // 38 .. 70
constexpr int PALETTE_RING_DIM_PALE = 5;     // 50 .. 70
constexpr int PALETTE_RING_DARK = 6;         // 00 .. 40
constexpr int PALETTE_RING_DARK_SOFT = 7;    // 20 .. 40
constexpr int PALETTE_RING_DARK_PALE = 8;    // 2F .. 40
constexpr int PALETTE_RINGS_FIRST = 32;
constexpr int PALETTE_RINGS = 9;
constexpr int PALETTE_RING_HUES = 24;

// Where the six pure hues stand in every ring; the three entries between
// two of them blend from one to the next.
constexpr int PALETTE_HUE_BLUE = 0;
constexpr int PALETTE_HUE_MAGENTA = 4;
constexpr int PALETTE_HUE_RED = 8;
constexpr int PALETTE_HUE_YELLOW = 12;
constexpr int PALETTE_HUE_GREEN = 16;
constexpr int PALETTE_HUE_CYAN = 20;

// Entry `hue` of ring `ring`. The hue goes round the ring: any whole
// number is taken modulo 24 (24 is blue again, -1 the entry before blue),
// so a program can step through the hues without wrapping them itself.
// `ring` is 0 .. 8 (taken into that range when outside it).
constexpr uint8_t palette_ring(int ring, int hue) {
    const int r = ring < 0 ? 0 : ring >= PALETTE_RINGS ? PALETTE_RINGS - 1 : ring;
    const int h = (hue % PALETTE_RING_HUES + PALETTE_RING_HUES) % PALETTE_RING_HUES;
    return static_cast<uint8_t>(PALETTE_RINGS_FIRST + r * PALETTE_RING_HUES + h);
}

// The blacks, 248 .. 255: eight more entries of 00 00 00.
constexpr int PALETTE_BLACKS_FIRST = PALETTE_RINGS_FIRST + PALETTE_RINGS * PALETTE_RING_HUES;
constexpr int PALETTE_BLACKS = 8;
static_assert(PALETTE_GREYS_FIRST == PALETTE_BASE_COLORS && PALETTE_RINGS_FIRST == PALETTE_GREYS_FIRST + PALETTE_GREYS &&
                  PALETTE_BLACKS_FIRST + PALETTE_BLACKS == 256,
              "the regions follow one another and fill the palette");

#endif
