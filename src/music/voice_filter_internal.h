// The resonant low-pass filter of Impulse Tracker 2.14 and later, a stage
// after a voice's resampling and before its gains: two poles whose
// coefficients come from a cutoff and a resonance (0 .. 127 each), as
// Impulse Tracker computes them, in integers. Knows nothing of modules.
//
// The coefficients, for a cutoff c, a resonance r and an output rate R:
//   f = 110 x 2^(0.25 + c / 24) Hz, at most R / 2;   w = 2 pi f / R;
//   k = 10^(-r x 24 / 128 / 20)                   (the damping);
//   d = (1 - 2k) w, at most 2;   d = (2k - d) / w;   e = 1 / w^2;
//   a0 = 1 / (1 + d + e);   b1 = -e / (1 + d + e);   b0 = 1 - a0 - b1.
// Each is held in 1.28 fixed point (VOICE_FILTER_ONE), 2^(c / 24) and k
// read from tables of 2^(n / 768) (so the cutoff moves in 1/32 steps and
// the damping to the nearest 1/768 octave).
//
// The definition, one output sample at a time: x the voice's interpolated
// sample (voice_internal.h's s, 16-bit scale),
//   y = (a0 x + b0 y1 + b1 y2 + 2^27) >> 28, then kept within -65536 ..
//   65535;  y2 = y1;  y1 = y;
// in 64-bit arithmetic; y goes on to the gains as s would.
#ifndef MUSIC_VOICE_FILTER_INTERNAL_H
#define MUSIC_VOICE_FILTER_INTERNAL_H

#include <cstdint>

#include "music/voice_internal.h"

constexpr int VOICE_FILTER_FRACTION_BITS = 28;
constexpr int64_t VOICE_FILTER_ONE = int64_t{1} << VOICE_FILTER_FRACTION_BITS;
constexpr int VOICE_FILTER_MOST = 127;          // cutoff and resonance
constexpr int32_t VOICE_FILTER_OUT_MIN = -65536;
constexpr int32_t VOICE_FILTER_OUT_MAX = 65535;

struct VoiceFilter {
    int64_t a0, b0, b1;         // coefficients, 1.28 fixed point
    int32_t y1, y2;             // the last two outputs
    uint16_t cutoff;            // what the coefficients were made for: 0 .. 255
                                // (an envelope can open it past 127)
    uint8_t resonance;          // 0 .. 127
    uint8_t on;                 // 1: the voice is filtered
};

// Sets the coefficients for `cutoff` (0 .. 255, beyond taken as 255) and
// `resonance` (0 .. 127, beyond as 127) at `rate_hz`, and switches the
// filter on; the outputs kept are not touched. Null does nothing.
void voice_filter_set(VoiceFilter *filter, int cutoff, int resonance, uint32_t rate_hz);

// Mixes `count` output samples of `voice` through the filter into both
// planes at the voice's gains: left[i] += (y x gain_left) >> 14 and
// right[i] += (y x gain_right) >> 14 for each filtered sample y, or with
// `store` stores them (the planes holding nothing yet). The voice moves
// on exactly as voice_mix_stereo moves it; one that adds nothing (no
// source, step 0) still runs the filter on zeros, so its ring dies out.
// Null voice, filter or planes, or count <= 0, does nothing.
void voice_mix_filtered(Voice *voice, VoiceFilter *filter, int32_t *left, int32_t *right, int count, bool store);

// Moves the voice on by `count` output samples as mixing would: through the
// filter when it is on (so that its history is what mixing leaves), else
// as voice_advance. For seeking. Null voice or count <= 0 does nothing.
void voice_advance_filtered(Voice *voice, VoiceFilter *filter, int count);

#endif
