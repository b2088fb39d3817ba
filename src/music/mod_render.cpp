// Rendering a module player: mixing the four voices in slices that end
// exactly at tick boundaries, running the sequencer between them, and the
// two converters to interleaved signed 16-bit and unsigned 8-bit stereo.
#include <cstring>

#if defined(__SSE2__) && !defined(VOICE_PORTABLE_MIX)
#include <emmintrin.h>  // SSE2, part of every x86-64
#define RENDER_SSE2 1
#endif

#include "music/mod_player.h"
#include "music/sequencer.h"

// Frames converted per block: 8 KB of 32-bit scratch on the stack, so
// that no render call allocates, whatever the caller's frame count.
constexpr int RENDER_BLOCK_FRAMES = 1024;
// A plane value (two voices, -65536 .. 65024) to output scale.
constexpr int RENDER_S16_SHIFT = 1;
constexpr int RENDER_U8_SHIFT = 9;
constexpr int RENDER_U8_SILENCE = 128;

void mod_player_render(ModPlayer *player, int32_t *accum, int frames) {
    if (!accum || frames <= 0) return;
    const size_t plane = static_cast<size_t>(frames);
    int32_t *left = accum;
    int32_t *right = accum + plane;
    if (!player || player->finished) {
        memset(accum, 0, 2 * plane * sizeof(int32_t));
        return;
    }

    int pos = 0;
    while (pos < frames) {
        int n = player->samples_per_tick > player->tick_sample
                    ? static_cast<int>(player->samples_per_tick - player->tick_sample) : 0;
        if (n > frames - pos) n = frames - pos;
        // Each side's two voices in one pass, stored: no clearing first.
        voice_mix_side(&player->voices[0], &player->voices[3], left + pos, n);
        voice_mix_side(&player->voices[1], &player->voices[2], right + pos, n);
        player->tick_sample += static_cast<uint32_t>(n);
        pos += n;
        if (player->tick_sample < player->samples_per_tick) return;
        mod_player_finish_tick(player);
        if (player->finished) {
            // The rest of the planes stays silent.
            const size_t rest = plane - static_cast<size_t>(pos);
            memset(left + pos, 0, rest * sizeof(int32_t));
            memset(right + pos, 0, rest * sizeof(int32_t));
            return;
        }
    }
}

// Interleaves the two planes of `n` frames into signed 16-bit pairs.
static void planes_to_s16(const int32_t *left, const int32_t *right, int16_t *o, int n) {
    int i = 0;
#ifdef RENDER_SSE2
    for (; i + 4 <= n; i += 4) {
        const __m128i l = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(left + i)),
                                         RENDER_S16_SHIFT);
        const __m128i r = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(right + i)),
                                         RENDER_S16_SHIFT);
        // The halved values fit 16 bits, so the saturating pack is exact.
        const __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 2 * i), pairs);
    }
#endif
    for (; i < n; i++) {
        // Halved, two voices always fit: -32768 .. 32512.
        o[2 * i] = static_cast<int16_t>(left[i] >> RENDER_S16_SHIFT);
        o[2 * i + 1] = static_cast<int16_t>(right[i] >> RENDER_S16_SHIFT);
    }
}

void mod_player_render_s16(ModPlayer *player, int16_t *out, int frames) {
    if (!out || frames <= 0) return;
    int32_t scratch[2 * RENDER_BLOCK_FRAMES];
    for (int done = 0; done < frames;) {
        int n = frames - done < RENDER_BLOCK_FRAMES ? frames - done : RENDER_BLOCK_FRAMES;
        mod_player_render(player, scratch, n);
        planes_to_s16(scratch, scratch + n, out + 2 * static_cast<size_t>(done), n);
        done += n;
    }
}

void mod_player_render_u8(ModPlayer *player, uint8_t *out, int frames) {
    if (!out || frames <= 0) return;
    int32_t scratch[2 * RENDER_BLOCK_FRAMES];
    for (int done = 0; done < frames;) {
        int n = frames - done < RENDER_BLOCK_FRAMES ? frames - done : RENDER_BLOCK_FRAMES;
        mod_player_render(player, scratch, n);
        uint8_t *o = out + 2 * static_cast<size_t>(done);
        for (int i = 0; i < n; i++) {
            o[2 * i] = static_cast<uint8_t>((scratch[i] >> RENDER_U8_SHIFT) + RENDER_U8_SILENCE);
            o[2 * i + 1] = static_cast<uint8_t>((scratch[n + i] >> RENDER_U8_SHIFT) + RENDER_U8_SILENCE);
        }
        done += n;
    }
}
