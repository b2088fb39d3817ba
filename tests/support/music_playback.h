// Test helpers that drive a module player tick by tick and keep module
// bytes in exactly sized heap blocks (so AddressSanitizer sees any read past
// their end).
#ifndef SUPPORT_MUSIC_PLAYBACK_H
#define SUPPORT_MUSIC_PLAYBACK_H

#include <cstdint>
#include <vector>

#include "music/mod_player.h"

// Renders exactly the frames left in the current tick, `ticks` times, so
// that each pass ends right after the sequencer has run for that tick
// (nothing of the next tick is mixed yet). Stops early once finished.
void music_run_ticks(ModPlayer *player, int ticks);

// Where the player stands (mod_player_position), all zero for null.
ModPlayerPosition music_position(const ModPlayer *player);

// What channel `channel` plays (mod_player_channel), all zero when it has
// no such channel.
ModChannelState music_channel(const ModPlayer *player, int channel);

// Renders `frames` frames of signed 16-bit stereo in one call.
std::vector<int16_t> music_render_s16(ModPlayer *player, int frames);

// A copy of `bytes` in a heap block of exactly their size; free with
// music_free_module. An empty input still gets a (1-byte) block.
uint8_t *music_copy_module(const std::vector<uint8_t> &bytes);
void music_free_module(uint8_t *module);

// The step a voice gets for an Amiga period without finetune at `rate_hz`,
// derived directly from the Amiga clock: (3546895 / period) x 65536 / rate.
uint32_t music_expected_step(int period, int rate_hz);

#endif
