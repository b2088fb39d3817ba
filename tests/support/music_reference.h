// The straightforward voice mixer, one output sample at a time exactly as
// the resampler is defined, kept as the reference the engine's run-based
// mixer must equal sample for sample (tests and benchmarks).
#ifndef SUPPORT_MUSIC_REFERENCE_H
#define SUPPORT_MUSIC_REFERENCE_H

#include <cstdint>

#include "music/voice_internal.h"

// Adds `count` output samples of `voice` into out (or only moves the voice
// on when out is null), refilling its window through voice_refill.
void reference_voice_mix(Voice *voice, int32_t *out, int count);

// The same into two planes at the voice's left and right gains.
void reference_voice_mix_stereo(Voice *voice, int32_t *left, int32_t *right, int count);

#endif
