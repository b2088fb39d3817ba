// Rendering a module player: mixing the four voices in slices that end
// exactly at tick boundaries, running the sequencer between them, and the
// two converters to interleaved signed 16-bit and unsigned 8-bit stereo.
#include <cstring>

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
    memset(accum, 0, 2 * plane * sizeof(int32_t));
    if (!player || player->finished) return;
    int32_t *left = accum;
    int32_t *right = accum + plane;

    int pos = 0;
    while (pos < frames) {
        int n = player->samples_per_tick > player->tick_sample
                    ? player->samples_per_tick - player->tick_sample : 0;
        if (n > frames - pos) n = frames - pos;
        voice_mix(&player->voices[0], left + pos, n);
        voice_mix(&player->voices[3], left + pos, n);
        voice_mix(&player->voices[1], right + pos, n);
        voice_mix(&player->voices[2], right + pos, n);
        player->tick_sample += static_cast<uint32_t>(n);
        pos += n;
        if (player->tick_sample < player->samples_per_tick) return;
        mod_player_finish_tick(player);
        if (player->finished) return;
    }
}

void mod_player_finish_tick(ModPlayer *player) {
    if (!player) return;
    // Voices whose samples ran out during this tick stop now, before the
    // next tick can start a note on them. A render call that ends in the
    // middle of the tick leaves them playing their last window's zeros:
    // the tick, not the caller's buffer, decides when they fall silent.
    for (int i = 0; i < MOD_CHANNELS; i++) {
        Voice *voice = &player->voices[i];
        if (!voice->ended) continue;
        voice_set_frequency(voice, 0);
        voice->ended = 0;
    }
    player->tick++;
    player->tick_sample = 0;
    process_tick(player);
}

void mod_player_render_s16(ModPlayer *player, int16_t *out, int frames) {
    if (!out || frames <= 0) return;
    int32_t scratch[2 * RENDER_BLOCK_FRAMES];
    for (int done = 0; done < frames;) {
        int n = frames - done < RENDER_BLOCK_FRAMES ? frames - done : RENDER_BLOCK_FRAMES;
        mod_player_render(player, scratch, n);
        int16_t *o = out + 2 * static_cast<size_t>(done);
        for (int i = 0; i < n; i++) {
            // Halved, two voices always fit: -32768 .. 32512.
            o[2 * i] = static_cast<int16_t>(scratch[i] >> RENDER_S16_SHIFT);
            o[2 * i + 1] = static_cast<int16_t>(scratch[n + i] >> RENDER_S16_SHIFT);
        }
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
