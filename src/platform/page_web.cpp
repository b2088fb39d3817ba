// The calls between the engine and its page (web.h): a capture's frames
// handed to the page, the song frame heard and the engine's colours asked
// by it.
#include <emscripten.h>

#include "gfx2d/palette.h"
#include "platform/music_sync.h"
#include "platform/web.h"

// clang-format off
EM_JS(void, web_page_frame_js, (const uint8_t *indices, int width, int height), {
    if (Module.kevoCaptureFrame) Module.kevoCaptureFrame(HEAPU8.slice(indices, indices + width * height), width, height);
});
// clang-format on

void web_page_frame(const uint8_t *indices, int width, int height) { web_page_frame_js(indices, width, height); }

// For the page: the song frame heard now (music_heard_position), or -1
// while no music plays.
extern "C" EMSCRIPTEN_KEEPALIVE double kevo_heard_frame(void) {
    MusicPosition position;
    if (music_heard_position(&position) != 0) return -1;
    return static_cast<double>(position.song_frame);
}

// For the page: the engine's 256 colours, 0xRRGGBBAA each (Palette).
extern "C" EMSCRIPTEN_KEEPALIVE const uint32_t *kevo_palette(void) { return Palette; }
