// Collecting the changed tiles of a frame.
#include "platform/screen_changes.h"

#include <cstring>

constexpr int MAX_TILES_ACROSS = SCREEN_CHANGE_MAX_WIDTH_PX / SCREEN_CHANGE_TILE_PX;

int screen_changes_collect(const uint8_t *pixels, uint8_t *shown, int width, int height, SDL_Rect *rects,
                           int max_rects) {
    if (width > SCREEN_CHANGE_MAX_WIDTH_PX) return -1;
    const int tiles_across = (width + SCREEN_CHANGE_TILE_PX - 1) / SCREEN_CHANGE_TILE_PX;
    const size_t row_bytes = static_cast<size_t>(width);
    // First the rectangles, then the copy: a frame that needs too many
    // leaves `shown` untouched for the caller's whole update.
    int count = 0;
    for (int band_y = 0; band_y < height; band_y += SCREEN_CHANGE_TILE_PX) {
        const int band_h = height - band_y < SCREEN_CHANGE_TILE_PX ? height - band_y : SCREEN_CHANGE_TILE_PX;
        bool changed[MAX_TILES_ACROSS] = {};
        for (int y = band_y; y < band_y + band_h; y++) {
            const uint8_t *now = pixels + y * row_bytes;
            const uint8_t *was = shown + y * row_bytes;
            if (memcmp(now, was, row_bytes) == 0) continue;
            for (int tile = 0; tile < tiles_across; tile++) {
                const int x = tile * SCREEN_CHANGE_TILE_PX;
                const int w = width - x < SCREEN_CHANGE_TILE_PX ? width - x : SCREEN_CHANGE_TILE_PX;
                if (!changed[tile] && memcmp(now + x, was + x, static_cast<size_t>(w)) != 0) changed[tile] = true;
            }
        }
        for (int tile = 0; tile < tiles_across;) {
            if (!changed[tile]) {
                tile++;
                continue;
            }
            const int first = tile;
            while (tile < tiles_across && changed[tile]) tile++;
            if (count == max_rects) return -1;
            const int x = first * SCREEN_CHANGE_TILE_PX;
            const int right = tile * SCREEN_CHANGE_TILE_PX < width ? tile * SCREEN_CHANGE_TILE_PX : width;
            rects[count].x = static_cast<Sint16>(x);
            rects[count].y = static_cast<Sint16>(band_y);
            rects[count].w = static_cast<Uint16>(right - x);
            rects[count].h = static_cast<Uint16>(band_h);
            count++;
        }
    }
    for (int i = 0; i < count; i++)
        for (int y = rects[i].y; y < rects[i].y + rects[i].h; y++)
            memcpy(shown + y * row_bytes + rects[i].x, pixels + y * row_bytes + rects[i].x, rects[i].w);
    return count;
}
