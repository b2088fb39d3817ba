// Voice bank: four voices mixed straight to unsigned 8-bit stereo, for
// driving voices without a module. Voices 0 and 1 play on the left, 2 and 3
// on the right (the module player pairs them differently: 0 and 3 left).
#ifndef MUSIC_VOICE_BANK_INTERNAL_H
#define MUSIC_VOICE_BANK_INTERNAL_H

#include <cstdint>

#include "music/voice_internal.h"

constexpr int VOICE_BANK_VOICES = 4;

// voice_init(rate_hz) on voices[0 .. 3]. Returns `voices` (null stays null).
Voice *voice_bank_init(Voice *voices, uint32_t rate_hz);

// Writes `frames` interleaved stereo pairs to out (left first): each side is
// the sum of its two voices shifted right by 9, plus 128, so 128 is silence.
// No heap allocation: the 32-bit scratch lives on the stack, in blocks.
// Null voices or out, or frames <= 0, writes nothing.
void voice_bank_mix_u8(Voice *voices, uint8_t *out, int frames);

#endif
