// Voice: resamples one stream of signed 8-bit samples into a 32-bit mixing
// buffer with linear interpolation and volume. Knows nothing of patterns or
// effects; its source refills its 256-sample window.
#include "music/voice.h"

#include <cstring>

// A window entry is the 8-bit sample times 2^23 (a multiply rather than a
// left shift, which is undefined for negative values before C++20).
constexpr int32_t VOICE_WINDOW_SCALE = 1 << 23;
// The interpolation's shifts: the difference of two window samples is
// brought down by 20 bits so that its product with frac (< 2^17) stays
// below 2^28, then by 11 more to land in 16-bit scale (2^23 >> 20 >> 11 x
// 2^16 = 2^8, one 8-bit step being 256 in 16-bit scale).
constexpr int VOICE_DIFF_SHIFT = 20;
constexpr int VOICE_FRAC_SHIFT = 11;
constexpr int VOICE_PREV_SHIFT = 15;       // window scale to 16-bit scale
constexpr int VOICE_VOLUME_SHIFT = 6;      // volume 64 is unity
constexpr int32_t VOICE_FRAC_MASK = 0xFFFF;
constexpr int VOICE_INDEX_MASK = VOICE_WINDOW_SAMPLES - 1;

void voice_init(Voice *voice, uint32_t rate_hz) {
    if (!voice) return;
    voice->rate = rate_hz;
    voice->step = VOICE_STEP_ONE;
    voice->prev = 0;
    voice->cur = 0;
    voice->frac = VOICE_STEP_ONE;
    memset(voice->window, 0, sizeof voice->window);
    voice->volume = 0;
    voice->read_index = VOICE_WINDOW_SAMPLES;
    voice->source = nullptr;
    voice->source_user = nullptr;
    voice->ended = 0;
}

void voice_set_frequency(Voice *voice, uint32_t hz) {
    if (!voice) return;
    if (voice->rate == 0) {
        voice->step = 0;
        return;
    }
    // 64-bit so that no frequency wraps to a wrong (or zero) step.
    uint64_t step = (static_cast<uint64_t>(hz) * VOICE_STEP_ONE) / voice->rate;
    voice->step = step > VOICE_MAX_STEP ? VOICE_MAX_STEP : static_cast<uint32_t>(step);
}

void voice_set_volume(Voice *voice, int32_t v) {
    if (!voice) return;
    if (v < 0) v = 0;
    if (v > VOICE_MAX_VOLUME) v = VOICE_MAX_VOLUME;
    voice->volume = v;
}

void voice_set_source(Voice *voice, VoiceSource fn, void *user) {
    if (!voice) return;
    voice->source = fn;
    voice->source_user = user;
}

void voice_restart(Voice *voice) {
    if (!voice) return;
    voice->read_index = VOICE_WINDOW_SAMPLES;
}

void voice_refill(Voice *voice) {
    if (!voice) return;
    int8_t bytes[VOICE_WINDOW_SAMPLES];
    if (voice->source) {
        if (voice->source(voice->source_user, bytes)) voice->ended = 1;
    } else {
        memset(bytes, 0, sizeof bytes);
    }
    for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++) {
        voice->window[i] = static_cast<int32_t>(bytes[i]) * VOICE_WINDOW_SCALE;
    }
}

// The straightforward loop, one output sample at a time: adds into `out`
// when it is not null, else only moves the voice on. The caller has checked
// the voice has a source and a nonzero step.
static void voice_run(Voice *voice, int32_t *out, int count) {
    const int32_t step = static_cast<int32_t>(voice->step > VOICE_MAX_STEP ? VOICE_MAX_STEP
                                                                           : voice->step);
    int32_t volume = voice->volume;
    if (volume < 0) volume = 0;
    if (volume > VOICE_MAX_VOLUME) volume = VOICE_MAX_VOLUME;
    int32_t prev = voice->prev;
    int32_t cur = voice->cur;
    int32_t frac = voice->frac;
    if (frac < 0 || frac > VOICE_STEP_ONE) frac &= VOICE_FRAC_MASK;
    int32_t index = voice->read_index;
    if (index < 0 || index > VOICE_WINDOW_SAMPLES) index = VOICE_WINDOW_SAMPLES;
    const int32_t *window = voice->window;

    for (int i = 0; i < count; i++) {
        if (out) {
            // Headroom: cur - prev spans at most 255 x 2^23 < 2^31; after
            // >> 20 at most 2040, times frac <= 65536 stays below 2^27.
            int32_t s = ((((cur - prev) >> VOICE_DIFF_SHIFT) * frac) >> VOICE_FRAC_SHIFT) +
                        (prev >> VOICE_PREV_SHIFT);
            out[i] += (s * volume) >> VOICE_VOLUME_SHIFT;
        }
        frac += step;  // step <= 255 x 65536: no overflow
        if (frac > VOICE_FRAC_MASK) {
            index += frac >> 16;
            frac &= VOICE_FRAC_MASK;
            if (index > VOICE_INDEX_MASK) {
                // index is at most 255 + 255 here, so one refill reaches it.
                index &= VOICE_INDEX_MASK;
                voice_refill(voice);
            }
            prev = cur;
            cur = window[index];
        }
    }
    voice->prev = prev;
    voice->cur = cur;
    voice->frac = frac;
    voice->read_index = index;
}

void voice_mix(Voice *voice, int32_t *out, int count) {
    if (!voice || !out || count <= 0) return;
    if (!voice->source) return;
    if (voice->step == 0) {
        voice->prev = 0;
        voice->cur = 0;
        return;
    }
    voice_run(voice, out, count);
}

void voice_advance(Voice *voice, int count) {
    if (!voice || count <= 0) return;
    if (!voice->source) return;
    if (voice->step == 0) {
        voice->prev = 0;
        voice->cur = 0;
        return;
    }
    voice_run(voice, nullptr, count);
}
