// Voice: its fresh state, the setters and the window refill. The mixing
// itself is in voice_mix.cpp.
#include "music/voice_internal.h"

#include <cstring>

#if defined(__SSE2__) && !defined(VOICE_PORTABLE_MIX)
#include <emmintrin.h>  // SSE2, part of every x86-64
#define VOICE_REFILL_SSE2 1
#endif

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
    int32_t *window = voice->window;
    if (voice->wide_source) {
        int16_t samples[VOICE_WINDOW_SAMPLES];
        if (voice->wide_source(voice->source_user, samples)) voice->ended = 1;
        int i = 0;
#ifdef VOICE_REFILL_SSE2
        // Each sample into the top half of its lane (times 2^16), then
        // halved: times 2^15.
        for (; i < VOICE_WINDOW_SAMPLES; i += 8) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + i));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i *>(window + i), _mm_srai_epi32(_mm_unpacklo_epi16(zero, s), 1));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(window + i + 4), _mm_srai_epi32(_mm_unpackhi_epi16(zero, s), 1));
        }
#endif
        for (; i < VOICE_WINDOW_SAMPLES; i++) window[i] = static_cast<int32_t>(samples[i]) * VOICE_WIDE_WINDOW_SCALE;
        voice->wide_window = 1;
        return;
    }
    int8_t bytes[VOICE_WINDOW_SAMPLES];
    if (voice->source) {
        if (voice->source(voice->source_user, bytes)) voice->ended = 1;
    } else {
        memset(bytes, 0, sizeof bytes);
    }
    int i = 0;
#ifdef VOICE_REFILL_SSE2
    // Each byte into the top byte of a 16-bit half (times 2^8), halved
    // there (times 2^7, still within 16 bits), then into the top half of
    // its lane: times 2^23.
    for (; i < VOICE_WINDOW_SAMPLES; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        const __m128i zero = _mm_setzero_si128();
        const __m128i lo = _mm_srai_epi16(_mm_unpacklo_epi8(zero, b), 1);
        const __m128i hi = _mm_srai_epi16(_mm_unpackhi_epi8(zero, b), 1);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(window + i), _mm_unpacklo_epi16(zero, lo));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(window + i + 4), _mm_unpackhi_epi16(zero, lo));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(window + i + 8), _mm_unpacklo_epi16(zero, hi));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(window + i + 12), _mm_unpackhi_epi16(zero, hi));
    }
#endif
    for (; i < VOICE_WINDOW_SAMPLES; i++) window[i] = static_cast<int32_t>(bytes[i]) * VOICE_WINDOW_SCALE;
    voice->wide_window = 0;
}
