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
    d = ((2 * k - d) << VOICE_FILTER_FRACTION_BITS) / w;  // below 2^31 x 2^28
    const int64_t inverse = (one << FILTER_INVERSE_BITS) / w;  // 1 / w in 1.14
    const int64_t e = inverse * inverse;                      // 1 / w^2 in 1.28, below 2^41
    const int64_t denominator = (one + d + e) >> FILTER_QUOTIENT_SHIFT;
    filter->a0 = (one << (VOICE_FILTER_FRACTION_BITS - FILTER_QUOTIENT_SHIFT)) / denominator;
    filter->b1 = -((e << (VOICE_FILTER_FRACTION_BITS - FILTER_QUOTIENT_SHIFT)) / denominator);  // e x 2^20 < 2^61
    filter->b0 = one - filter->a0 - filter->b1;
}

int32_t voice_filter_step(VoiceFilter *f, int32_t x) {
    if (!f) return x;
    // |a0 x| < 2^28 x 2^17, |b0 y1| and |b1 y2| < 2^30 x 2^16: far from 2^63.
    const int64_t sum = f->a0 * x + f->b0 * f->y1 + f->b1 * f->y2 + (VOICE_FILTER_ONE >> 1);
    int64_t y = sum >> VOICE_FILTER_FRACTION_BITS;
    y = y < VOICE_FILTER_OUT_MIN ? VOICE_FILTER_OUT_MIN : y > VOICE_FILTER_OUT_MAX ? VOICE_FILTER_OUT_MAX : y;
    f->y2 = f->y1;
    f->y1 = static_cast<int32_t>(y);
    return f->y1;
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

void voice_mix_filtered(Voice *voice, VoiceFilter *filter, int32_t *left, int32_t *right, int count, bool store) {
    if (!voice || !filter || !left || !right || count <= 0) return;
    constexpr int GAIN_SHIFT = 14;  // gain 16384 is unity
    const int32_t gain_left = voice->gain_left, gain_right = voice->gain_right;
    int32_t samples[VOICE_WINDOW_SAMPLES];
    for (int done = 0; done < count;) {
        const int n = count - done < VOICE_WINDOW_SAMPLES ? count - done : VOICE_WINDOW_SAMPLES;
        // At volume 64 voice_mix adds (s x 64) >> 6: the voice's sample s itself.
        memset(samples, 0, sizeof(int32_t) * static_cast<size_t>(n));
        const int32_t volume = voice->volume;
        voice->volume = VOICE_MAX_VOLUME;
        voice_mix(voice, samples, n);
        voice->volume = volume;
        int32_t *l = left + done, *r = right + done;
        for (int i = 0; i < n; i++) {
            // |y| <= 2^16, gains <= 2^14: within 32 bits.
            const int32_t y = voice_filter_step(filter, samples[i]);
            if (store) {
                l[i] = (y * gain_left) >> GAIN_SHIFT;
                r[i] = (y * gain_right) >> GAIN_SHIFT;
            } else {
                l[i] += (y * gain_left) >> GAIN_SHIFT;
                r[i] += (y * gain_right) >> GAIN_SHIFT;
            }
        }
        done += n;
    }
}
