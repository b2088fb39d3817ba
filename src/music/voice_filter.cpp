// The resonant low-pass filter: its coefficients in fixed point and the
// filtered mixing of a voice (voice_filter_internal.h holds the formulas).
#include "music/voice_filter_internal.h"

#include <cstring>

#include "music/mod_tables_internal.h"

constexpr int FILTER_MOST_CUTOFF = 255;
constexpr int64_t FILTER_BASE_HZ = 110;
// 2^(0.25 + c / 24) in 768ths of an octave: 192 + 32 c.
constexpr int FILTER_QUARTER_OCTAVE_UNITS = OCTAVE_FRACTION_ENTRIES / 4;
constexpr int FILTER_CUTOFF_UNITS = OCTAVE_FRACTION_ENTRIES / 24;
// 10^(-r x 24 / 128 / 20) is 2^-(r x 768 x log2(10) x 24 / 2560) in 768ths
// of an octave: r x 23.9179 (to 1/10000).
constexpr int64_t FILTER_DAMPING_UNITS_PER_TEN_THOUSAND = 239179;
constexpr int64_t TEN_THOUSAND = 10000;
constexpr int FILTER_HZ_FRACTION_BITS = 8;
constexpr int64_t FILTER_TWO_PI = 1686629713;  // round(2 pi x 2^28)
constexpr int FILTER_INVERSE_BITS = 14;        // 1 / w in 1.14 before squaring
constexpr int FILTER_QUOTIENT_SHIFT = 8;       // a0 and b1 as 2^48 / (denominator / 2^8)
constexpr int OCTAVE_FRACTION_SHIFT = 15;      // octave_fraction_table's 1.0 is 2^15

// 2^(units / 768) times `value`, units >= 0 (at most 2^20 x value fits).
static int64_t scaled_by_units(int64_t value, int units) {
    return (value * octave_fraction_table[units % OCTAVE_FRACTION_ENTRIES]) << (units / OCTAVE_FRACTION_ENTRIES) >>
           OCTAVE_FRACTION_SHIFT;
}

void voice_filter_set(VoiceFilter *filter, int cutoff, int resonance, uint32_t rate_hz) {
    if (!filter || rate_hz == 0) return;
    cutoff = cutoff < 0 ? 0 : cutoff > FILTER_MOST_CUTOFF ? FILTER_MOST_CUTOFF : cutoff;
    resonance = resonance < 0 ? 0 : resonance > VOICE_FILTER_MOST ? VOICE_FILTER_MOST : resonance;
    filter->cutoff = static_cast<uint16_t>(cutoff);
    filter->resonance = static_cast<uint8_t>(resonance);
    filter->on = 1;
    const int64_t one = VOICE_FILTER_ONE;
    // f in Hz x 2^8, at most half the rate; w = 2 pi f / R in 1.28.
    int64_t hz = scaled_by_units(FILTER_BASE_HZ << FILTER_HZ_FRACTION_BITS,
                                 FILTER_QUARTER_OCTAVE_UNITS + FILTER_CUTOFF_UNITS * cutoff);
    const int64_t rate = static_cast<int64_t>(rate_hz) << FILTER_HZ_FRACTION_BITS;
    if (hz > rate / 2) hz = rate / 2;
    int64_t w = FILTER_TWO_PI * hz / rate;  // at most 2^31 x 2^24: no wrap
    if (w < 1) w = 1;
    // The damping k = 2^-(units / 768): 2^28 x 2^15 over the table's 2^(units / 768).
    const int units = static_cast<int>(resonance * FILTER_DAMPING_UNITS_PER_TEN_THOUSAND / TEN_THOUSAND);
    const int64_t k = (one << OCTAVE_FRACTION_SHIFT) /
                      (static_cast<int64_t>(octave_fraction_table[units % OCTAVE_FRACTION_ENTRIES])
                       << (units / OCTAVE_FRACTION_ENTRIES));
    int64_t d = (one - 2 * k) * w >> VOICE_FILTER_FRACTION_BITS;
    if (d > 2 * one) d = 2 * one;
    d = (2 * k - d) * one / w;  // below 2^31 x 2^28 (a product: 2k - d can be negative)
    const int64_t inverse = (one << FILTER_INVERSE_BITS) / w;  // 1 / w in 1.14
    const int64_t e = inverse * inverse;                      // 1 / w^2 in 1.28, below 2^41
    const int64_t denominator = (one + d + e) >> FILTER_QUOTIENT_SHIFT;
    filter->a0 = (one << (VOICE_FILTER_FRACTION_BITS - FILTER_QUOTIENT_SHIFT)) / denominator;
    filter->b1 = -((e << (VOICE_FILTER_FRACTION_BITS - FILTER_QUOTIENT_SHIFT)) / denominator);  // e x 2^20 < 2^61
    filter->b0 = one - filter->a0 - filter->b1;
}

// One output of the definition from the coefficients and the history.
static inline int32_t filter_output(int64_t a0, int64_t b0, int64_t b1, int32_t x, int32_t y1, int32_t y2) {
    // |a0 x| < 2^28 x 2^17, |b0 y1| and |b1 y2| < 2^30 x 2^16: far from 2^63.
    const int64_t y = (a0 * x + b0 * y1 + b1 * y2 + (VOICE_FILTER_ONE >> 1)) >> VOICE_FILTER_FRACTION_BITS;
    return static_cast<int32_t>(y < VOICE_FILTER_OUT_MIN ? VOICE_FILTER_OUT_MIN
                                : y > VOICE_FILTER_OUT_MAX ? VOICE_FILTER_OUT_MAX : y);
}

void voice_advance_filtered(Voice *voice, VoiceFilter *filter, int count) {
    if (!voice || count <= 0) return;
    if (!filter || !filter->on) {
        voice_advance(voice, count);
        return;
    }
    int32_t left[VOICE_WINDOW_SAMPLES], right[VOICE_WINDOW_SAMPLES];
    for (int done = 0; done < count; done += VOICE_WINDOW_SAMPLES) {
        const int n = count - done < VOICE_WINDOW_SAMPLES ? count - done : VOICE_WINDOW_SAMPLES;
        voice_mix_filtered(voice, filter, left, right, n, true);
    }
}

// The filter's steps on `samples`, added to the planes at the gains or,
// with STORE, stored there; the history kept in locals (the planes could
// otherwise be its memory for all the compiler knows).
template <bool STORE>
static void filter_into(VoiceFilter *filter, const int32_t *samples, int32_t gain_left, int32_t gain_right,
                        int32_t *l, int32_t *r, int n) {
    constexpr int GAIN_SHIFT = 14;  // gain 16384 is unity
    const int64_t a0 = filter->a0, b0 = filter->b0, b1 = filter->b1;
    int32_t y1 = filter->y1, y2 = filter->y2;
    for (int i = 0; i < n; i++) {
        const int32_t y = filter_output(a0, b0, b1, samples[i], y1, y2);
        y2 = y1;
        y1 = y;
        // |y| <= 2^16, gains <= 2^14: within 32 bits.
        l[i] = (STORE ? 0 : l[i]) + ((y * gain_left) >> GAIN_SHIFT);
        r[i] = (STORE ? 0 : r[i]) + ((y * gain_right) >> GAIN_SHIFT);
    }
    filter->y1 = y1;
    filter->y2 = y2;
}

void voice_mix_filtered(Voice *voice, VoiceFilter *filter, int32_t *left, int32_t *right, int count, bool store) {
    if (!voice || !filter || !left || !right || count <= 0) return;
    int32_t samples[VOICE_WINDOW_SAMPLES];
    for (int done = 0; done < count;) {
        const int n = count - done < VOICE_WINDOW_SAMPLES ? count - done : VOICE_WINDOW_SAMPLES;
        // At volume 64 voice_mix adds (s x 64) >> 6: the voice's sample s itself.
        memset(samples, 0, sizeof(int32_t) * static_cast<size_t>(n));
        const int32_t volume = voice->volume;
        voice->volume = VOICE_MAX_VOLUME;
        voice_mix(voice, samples, n);
        voice->volume = volume;
        if (store) filter_into<true>(filter, samples, voice->gain_left, voice->gain_right, left + done, right + done, n);
        else filter_into<false>(filter, samples, voice->gain_left, voice->gain_right, left + done, right + done, n);
        done += n;
    }
}
