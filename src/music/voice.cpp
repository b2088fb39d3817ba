// Voice: its fresh state, the setters and the window refill. The mixing
// itself is in voice_mix.cpp.
#include "music/voice.h"

#include <cstring>

// A window entry is the 8-bit sample times 2^23, or the 16-bit sample
// times 2^15 (multiplies rather than left shifts, which are undefined for
// negative values before C++20).
constexpr int32_t VOICE_WINDOW_SCALE = 1 << 23;
constexpr int32_t VOICE_WIDE_WINDOW_SCALE = 1 << 15;

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
    voice->wide_source = nullptr;
    voice->wide_window = 0;
    voice->gain_left = 0;
    voice->gain_right = 0;
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
    voice->wide_source = nullptr;
    voice->source_user = user;
}

void voice_set_wide_source(Voice *voice, VoiceWideSource fn, void *user) {
    if (!voice) return;
    voice->source = nullptr;
    voice->wide_source = fn;
    voice->source_user = user;
}

static int32_t clamp_gain(int32_t gain) {
    return gain < 0 ? 0 : gain > VOICE_MAX_GAIN ? VOICE_MAX_GAIN : gain;
}

void voice_set_gains(Voice *voice, int32_t left, int32_t right) {
    if (!voice) return;
    voice->gain_left = clamp_gain(left);
    voice->gain_right = clamp_gain(right);
}

void voice_restart(Voice *voice) {
    if (!voice) return;
    voice->read_index = VOICE_WINDOW_SAMPLES;
}

void voice_refill(Voice *voice) {
    if (!voice) return;
    if (voice->wide_source) {
        int16_t samples[VOICE_WINDOW_SAMPLES];
        if (voice->wide_source(voice->source_user, samples)) voice->ended = 1;
        for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++)
            voice->window[i] = static_cast<int32_t>(samples[i]) * VOICE_WIDE_WINDOW_SCALE;
        voice->wide_window = 1;
        return;
    }
    int8_t bytes[VOICE_WINDOW_SAMPLES];
    if (voice->source) {
        if (voice->source(voice->source_user, bytes)) voice->ended = 1;
    } else {
        memset(bytes, 0, sizeof bytes);
    }
    for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++) {
        voice->window[i] = static_cast<int32_t>(bytes[i]) * VOICE_WINDOW_SCALE;
    }
    voice->wide_window = 0;
}
