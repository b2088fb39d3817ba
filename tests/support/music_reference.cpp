// The resampler's definition as a plain loop: interpolate, scale, add,
// step, and on crossing a whole sample take the next from the window,
// refilling it past entry 255.
#include "support/music_reference.h"

// One plane at the volume (right null), or two at the gains.
static void reference_mix(Voice *voice, int32_t *out, int32_t *right, int count) {
    if (!voice || count <= 0 || (!voice->source && !voice->wide_source)) return;
    if (voice->step == 0) {
        voice->prev = 0;
        voice->cur = 0;
        return;
    }
    const int32_t step = static_cast<int32_t>(voice->step > VOICE_MAX_STEP ? VOICE_MAX_STEP : voice->step);
    const int32_t volume = voice->volume < 0 ? 0 : voice->volume > 64 ? 64 : voice->volume;
    const int32_t gain_left = voice->gain_left < 0 ? 0 : voice->gain_left > 16384 ? 16384 : voice->gain_left;
    const int32_t gain_right = voice->gain_right < 0 ? 0 : voice->gain_right > 16384 ? 16384 : voice->gain_right;
    int32_t prev = voice->prev, cur = voice->cur, frac = voice->frac;
    if (frac < 0 || frac > 65536) frac &= 0xFFFF;
    int32_t index = voice->read_index;
    if (index < 0 || index > 256) index = 256;
    for (int i = 0; i < count; i++) {
        if (out) {
            int32_t s = ((((cur - prev) >> 20) * frac) >> 11) + (prev >> 15);
            if (right) {
                out[i] += (s * gain_left) >> 14;
                right[i] += (s * gain_right) >> 14;
            } else {
                out[i] += (s * volume) >> 6;
            }
        }
        frac += step;
        if (frac > 0xFFFF) {
            index += frac >> 16;
            frac &= 0xFFFF;
            if (index > 255) {
                index &= 255;
                voice_refill(voice);
            }
            prev = cur;
            cur = voice->window[index];
        }
    }
    voice->prev = prev;
    voice->cur = cur;
    voice->frac = frac;
    voice->read_index = index;
}

void reference_voice_mix(Voice *voice, int32_t *out, int count) {
    reference_mix(voice, out, nullptr, count);
}

void reference_voice_mix_stereo(Voice *voice, int32_t *left, int32_t *right, int count) {
    if (!left || !right) return;
    reference_mix(voice, left, right, count);
}
