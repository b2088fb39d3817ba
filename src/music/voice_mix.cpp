// Mixing voices: the resampler's inner loop. A call is cut into runs that
// end where the voice refills its window; inside a run nothing but the
// interpolation, the gain and the store or add happens, from a table of
// the run's sample pairs, and the voice's state lives in locals until the
// run ends. Both voices of a stereo side are mixed in one pass, a voice
// with its own left and right gains is interpolated once for both planes,
// and a voice at volume 0 is only moved on, without computing samples. On
// x86-64 the run loop works on four output samples at once with SSE2;
// elsewhere, or with VOICE_PORTABLE_MIX defined, a plain loop computes the
// same values. Knows nothing of modules.
//
// Every result equals the resampler's definition (voice_internal.h), one sample at
// a time, bit for bit. That definition is kept here too, as the path for
// states the runs do not cover: a read step above one source sample per
// output sample (output rates below the sample rates), a fresh voice's
// first sample (frac 65536), and values no refill writes.
#include "music/voice_internal.h"

#if defined(__SSE2__) && !defined(VOICE_PORTABLE_MIX)
#include <emmintrin.h>  // SSE2, part of every x86-64
#define VOICE_MIX_SSE2 1
#endif

// The interpolation of the definition: the difference of two window samples
// is brought down by 20 bits so that its product with frac (< 2^17) stays
// below 2^28, then by 11 more to land in 16-bit scale (2^23 >> 20 >> 11 x
// 2^16 = 2^8, one 8-bit step being 256 in 16-bit scale).
constexpr int VOICE_DIFF_SHIFT = 20;
constexpr int VOICE_FRAC_SHIFT = 11;
constexpr int VOICE_PREV_SHIFT = 15;       // window scale to 16-bit scale
constexpr int VOICE_VOLUME_SHIFT = 6;      // volume 64 is unity
constexpr int VOICE_GAIN_SHIFT = 14;       // gain 16384 is unity
constexpr int VOICE_VOLUME_TO_GAIN = VOICE_GAIN_SHIFT - VOICE_VOLUME_SHIFT;
constexpr int32_t VOICE_FRAC_MASK = 0xFFFF;
constexpr int VOICE_FRAC_BITS = 16;
constexpr int VOICE_INDEX_MASK = VOICE_WINDOW_SAMPLES - 1;
// Window samples are signed 8-bit values times 2^23, or signed 16-bit
// values times 2^15.
constexpr int VOICE_WINDOW_SHIFT = 23;
constexpr int32_t VOICE_WINDOW_LOW_BITS = (1 << VOICE_WINDOW_SHIFT) - 1;
constexpr int32_t VOICE_WINDOW_MIN = -128 * (1 << VOICE_WINDOW_SHIFT);
constexpr int32_t VOICE_WINDOW_MAX = 127 * (1 << VOICE_WINDOW_SHIFT);
constexpr int VOICE_WIDE_SHIFT = 15;
constexpr int32_t VOICE_WIDE_LOW_BITS = (1 << VOICE_WIDE_SHIFT) - 1;
constexpr int32_t VOICE_WIDE_MIN = -32768 * (1 << VOICE_WIDE_SHIFT);
constexpr int32_t VOICE_WIDE_MAX = 32767 * (1 << VOICE_WIDE_SHIFT);

static inline int32_t clamp_volume(int32_t volume) {
    return volume < 0 ? 0 : volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : volume;
}

static inline int32_t clamp_gain(int32_t gain) {
    return gain < 0 ? 0 : gain > VOICE_MAX_GAIN ? VOICE_MAX_GAIN : gain;
}

// ---------------------------------------------------------------------------
// The definition, one output sample at a time

// Adds `count` samples into out (at the voice's volume), or into left and
// right (at its gains) when `right` is not null, or with out null only
// moves the voice on. The caller has checked that the voice has a source
// and a nonzero step.
static void mix_each(Voice *voice, int32_t *out, int32_t *right, int count) {
    const int32_t step = static_cast<int32_t>(voice->step > VOICE_MAX_STEP ? VOICE_MAX_STEP
                                                                           : voice->step);
    const int32_t volume = clamp_volume(voice->volume);
    const int32_t gain_left = clamp_gain(voice->gain_left);
    const int32_t gain_right = clamp_gain(voice->gain_right);
    int32_t prev = voice->prev;
    int32_t cur = voice->cur;
    int32_t frac = voice->frac;
    if (frac < 0 || frac > VOICE_STEP_ONE) frac &= VOICE_FRAC_MASK;
    int32_t index = voice->read_index;
    if (index < 0 || index > VOICE_WINDOW_SAMPLES) index = VOICE_WINDOW_SAMPLES;
    const int32_t *window = voice->window;

    for (int i = 0; i < count; i++) {
        if (out) {
            // Headroom: cur - prev spans less than 2^31 (window values lie
            // within -2^30 .. 2^30); after >> 20 at most 2048, times frac
            // <= 65536 stays below 2^28. s stays within 2^17, so s x 16384
            // stays below 2^31.
            const int32_t s = ((((cur - prev) >> VOICE_DIFF_SHIFT) * frac) >> VOICE_FRAC_SHIFT) +
                              (prev >> VOICE_PREV_SHIFT);
            if (right) {
                out[i] += (s * gain_left) >> VOICE_GAIN_SHIFT;
                right[i] += (s * gain_right) >> VOICE_GAIN_SHIFT;
            } else {
                out[i] += (s * volume) >> VOICE_VOLUME_SHIFT;
            }
        }
        frac += step;  // step <= 255 x 65536: no overflow
        if (frac > VOICE_FRAC_MASK) {
            index += frac >> VOICE_FRAC_BITS;
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

// ---------------------------------------------------------------------------
// Sample pairs
//
// With window-scale values p and c the definition's sample is
//     s = ((d x frac) >> 11) + b,   d = (c - p) >> 20,  b = p >> 15,
// and, b x 2048 being a multiple of 2048, s = (d x frac + 2048 b) >> 11.
// Writing frac as (frac - 32768) + 32768 (a signed 16-bit number plus a
// constant) turns that into products of 16-bit numbers, which is what
// SSE2's pmaddwd computes on a 32-bit lane holding two of them:
//
// Narrow pairs (8-bit windows: p = p8 x 2^23, so d = 8 (c8 - p8) and b =
// 256 p8 is even):
//     s = (d x (frac - 32768) + 4096 k) >> 11,   k = 8 d + b / 2 = 64 (c8 + p8),
// one pmaddwd of (d, k) against (frac - 32768, 4096): d is -2040 .. 2040,
// k -16384 .. 16256, and the products stay within 2040 x 32768 + 16384 x
// 4096 < 2^31.
//
// Wide pairs (16-bit windows, and any pair that is not narrow: b may be
// odd, and 16 d + b may not fit 16 bits):
//     s = (d x (frac - 32768) + 2048 b + 32768 d) >> 11,
// one pmaddwd of (d, b) against (frac - 32768, 2048) plus d x 32768 (the
// lane's low half moved to the top and shifted back by one): d is -2048 ..
// 2047, b -32768 .. 32767, each term within 2^26.
//
// Either pair is stored so: d in the low 16 bits, k or b in the high 16.
constexpr int32_t PAIR_FRAC_BIAS = 32768;
constexpr int32_t PAIR_K_WEIGHT = 4096;
constexpr int32_t PAIR_B_WEIGHT = 2048;
constexpr uint32_t PAIR_HALF_MASK = 0xFFFF;
constexpr int PAIR_HIGH_SHIFT = 16;
#ifdef VOICE_MIX_SSE2
// Wide pairs with b below -32736 (and only they) can give a sample below
// -32768: with c >= -32768 their d is -1, s = b - ceil(frac / 2048) >= b -
// 32. As a signed 32-bit pair: b x 65536 + the low half, below this limit.
constexpr int32_t PAIR_LOW_LIMIT = -32736 * 65536;
#endif

static inline uint32_t pack_pair(int32_t low, int32_t high) {
    return (static_cast<uint32_t>(low) & PAIR_HALF_MASK) |
           (static_cast<uint32_t>(high) & PAIR_HALF_MASK) << PAIR_HIGH_SHIFT;
}

static inline uint32_t narrow_pair(int32_t prev, int32_t cur) {
    const int32_t d = (cur - prev) >> VOICE_DIFF_SHIFT;
    return pack_pair(d, d * 8 + (prev >> (VOICE_PREV_SHIFT + 1)));  // b / 2, b being even
}

static inline uint32_t wide_pair(int32_t prev, int32_t cur) {
    return pack_pair((cur - prev) >> VOICE_DIFF_SHIFT, prev >> VOICE_PREV_SHIFT);
}

// The interpolated sample (16-bit scale, before the gain) of a pair at a
// fraction.
template <bool WIDE>
static inline int32_t pair_value(uint32_t pair, uint32_t frac) {
    const int32_t d = static_cast<int16_t>(pair & PAIR_HALF_MASK);
    const int32_t high = static_cast<int16_t>(pair >> PAIR_HIGH_SHIFT);
    const int32_t biased = static_cast<int32_t>(frac) - PAIR_FRAC_BIAS;
    if (WIDE) return (d * biased + high * PAIR_B_WEIGHT + d * PAIR_FRAC_BIAS) >> VOICE_FRAC_SHIFT;
    return (d * biased + high * PAIR_K_WEIGHT) >> VOICE_FRAC_SHIFT;
}

// ---------------------------------------------------------------------------
// Runs
//
// A run starts at read index I with fraction F (0 .. 65535) and lasts until
// the output sample whose step carries the read position past entry 255
// (or, after a restart, I = 256, past its first whole sample): the refill.
// With a step of at most one sample every advance moves the index by
// exactly one, so after a advances the voice holds prev = E[a] and cur =
// E[a + 1] in the sequence E[0] = prev, E[1] = cur, E[j] = window[I + j -
// 1] for j >= 2, and output sample i of the run (position F + i x step, a
// = its whole part) interpolates pair a of that sequence at the position's
// fraction. The run's table holds those pairs.

struct VoiceRun {
    Voice *voice;
    uint32_t step;           // 1 .. 65536
    bool wide;               // wide pairs (else narrow)
    int32_t gain;            // 0 .. 16384: one plane's gain (a volume x 256)
    int32_t gain_right;      // the right plane's, for two planes
    int32_t index;           // read index at the run's start, 0 .. 256
    int32_t e0, e1;          // prev and cur at the run's start
    uint32_t pos;            // position of the next output sample, 16.16 from E[0]
    int left;                // output samples left in the run
    int refills;             // 1 when the run ends with the refill
    bool exact;              // a sample may fall below 16 bits (see four_split)
    uint32_t pairs[VOICE_WINDOW_SAMPLES + 1];  // pair j: E[j] and E[j + 1]
};

// The gains of a pass into two planes: one pair for every sample, or with
// VARY a pair per sample, lefts[i] and rights[i] for the sample at plane
// index i (clamped already).
struct StereoGains {
    int32_t left, right;
    const int32_t *lefts, *rights;
};

// A voice's own gains.
static StereoGains voice_gains(const Voice *voice) {
    StereoGains gains = {clamp_gain(voice->gain_left), clamp_gain(voice->gain_right), nullptr, nullptr};
    return gains;
}

// `gains` for the samples from plane index `at` on.
static inline StereoGains gains_from(StereoGains gains, int at) {
    if (gains.lefts) {
        gains.lefts += at;
        gains.rights += at;
    }
    return gains;
}

#ifdef VOICE_MIX_SSE2
// The gain vectors of samples i .. i + 3 (see gain_vector).
template <bool VARY, bool SPLIT>
static inline __m128i lane_gains(const int32_t *gains, int i, __m128i constant) {
    if (!VARY) return constant;
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(gains + i));
    return SPLIT ? _mm_or_si128(g, _mm_slli_epi32(g, PAIR_HIGH_SHIFT)) : g;
}
#endif

static inline int32_t run_value(const VoiceRun *run, uint32_t j) {
    if (j == 0) return run->e0;
    if (j == 1) return run->e1;
    return run->voice->window[run->index + static_cast<int32_t>(j) - 1];
}

#ifdef VOICE_MIX_SSE2
// A wide pair whose sample can fall below -32768 (PAIR_LOW_LIMIT): see
// four_split.
static inline bool low_pair(uint32_t pair) {
    return static_cast<int32_t>(pair) < PAIR_LOW_LIMIT;
}
#endif

// pairs[j] = the pair of window[j] and window[j + 1], for j below count.
// With SSE2 and wide pairs, returns whether any is a low_pair (else false).
template <bool WIDE>
static bool fill_pairs(uint32_t *pairs, const int32_t *window, int count) {
    int j = 0;
    bool low = false;
#ifdef VOICE_MIX_SSE2
    const __m128i half = _mm_set1_epi32(static_cast<int32_t>(PAIR_HALF_MASK));
    const __m128i limit = _mm_set1_epi32(PAIR_LOW_LIMIT);
    __m128i lows = _mm_setzero_si128();
    for (; j + 4 <= count; j += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + j));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + j + 1));
        const __m128i d = _mm_srai_epi32(_mm_sub_epi32(c, p), VOICE_DIFF_SHIFT);
        const __m128i high = WIDE ? _mm_srai_epi32(p, VOICE_PREV_SHIFT)
                                  : _mm_add_epi32(_mm_slli_epi32(d, 3), _mm_srai_epi32(p, VOICE_PREV_SHIFT + 1));
        const __m128i packed = _mm_or_si128(_mm_and_si128(d, half), _mm_slli_epi32(high, PAIR_HIGH_SHIFT));
        if (WIDE) lows = _mm_or_si128(lows, _mm_cmplt_epi32(packed, limit));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(pairs + j), packed);
    }
    low = WIDE && _mm_movemask_epi8(lows) != 0;
#endif
    for (; j < count; j++) pairs[j] = WIDE ? wide_pair(window[j], window[j + 1]) : narrow_pair(window[j], window[j + 1]);
#ifdef VOICE_MIX_SSE2
    if (WIDE)
        for (int i = j < 4 ? 0 : j & ~3; i < count; i++) low = low || low_pair(pairs[i]);
#endif
    return low;
}

// Starts a run of at most `most` output samples (>= 1) at the voice's
// state; with `table`, fills the pairs the run will read.
static void run_begin(VoiceRun *run, int most, bool table) {
    Voice *voice = run->voice;
    const int32_t index = voice->read_index;
    const uint32_t frac = static_cast<uint32_t>(voice->frac);
    run->index = index;
    run->e0 = voice->prev;
    run->e1 = voice->cur;
    run->pos = frac;
    // The samples until the refill: the first i with frac + i x step
    // reaching `target`, the position past entry 255. At most 2^24 + 2^16:
    // no wrap.
    const int32_t whole = index < VOICE_WINDOW_SAMPLES ? VOICE_WINDOW_SAMPLES - index : 1;
    const uint32_t target = static_cast<uint32_t>(whole) << VOICE_FRAC_BITS;
    const uint32_t to_refill = (target - frac + run->step - 1) / run->step;
    run->refills = to_refill <= static_cast<uint32_t>(most);
    run->left = run->refills ? static_cast<int>(to_refill) : most;
    if (!table) return;
    // The last pair read: that of the run's last sample, still before the
    // target, so at most pair 255 - index.
    const uint32_t last = (frac + static_cast<uint32_t>(run->left - 1) * run->step) >> VOICE_FRAC_BITS;
    run->exact = false;
    if (run->wide) {
        run->pairs[0] = wide_pair(run->e0, run->e1);
        if (last >= 1) run->pairs[1] = wide_pair(run->e1, voice->window[index + 1]);
#ifdef VOICE_MIX_SSE2
        run->exact = low_pair(run->pairs[0]) || (last >= 1 && low_pair(run->pairs[1]));
#endif
    } else {
        run->pairs[0] = narrow_pair(run->e0, run->e1);
        if (last >= 1) run->pairs[1] = narrow_pair(run->e1, voice->window[index + 1]);
    }
    if (last < 2) return;
    if (run->wide) run->exact |= fill_pairs<true>(run->pairs + 2, voice->window + index + 1, static_cast<int>(last) - 1);
    else fill_pairs<false>(run->pairs + 2, voice->window + index + 1, static_cast<int>(last) - 1);
}

// Ends a run whose samples have all been produced (run->pos is past the
// last): stores the voice's state, refilling its window when the run ends
// there.
static void run_end(VoiceRun *run) {
    Voice *voice = run->voice;
    const uint32_t advanced = run->pos >> VOICE_FRAC_BITS;
    voice->frac = static_cast<int32_t>(run->pos & VOICE_FRAC_MASK);
    if (advanced == 0) return;
    // Read before the refill replaces the window.
    voice->prev = run_value(run, advanced);
    if (run->refills) {
        voice->read_index = (run->index + static_cast<int32_t>(advanced)) & VOICE_INDEX_MASK;
        voice_refill(voice);
        voice->cur = voice->window[voice->read_index];
    } else {
        voice->read_index = run->index + static_cast<int32_t>(advanced);
        voice->cur = run_value(run, advanced + 1);
    }
}

// ---------------------------------------------------------------------------
// Run loops: `count` samples of one run (or of two, one per voice) into
// one plane, or of one run into two planes

#ifdef VOICE_MIX_SSE2
// The four pairs at the whole parts of positions p, p + s, p + 2s, p + 3s.
static inline __m128i gather_pairs(const uint32_t *pairs, uint32_t p, uint32_t s) {
    const __m128i a = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[p >> VOICE_FRAC_BITS]));
    const __m128i b = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[(p + s) >> VOICE_FRAC_BITS]));
    const __m128i c = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[(p + 2 * s) >> VOICE_FRAC_BITS]));
    const __m128i d = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[(p + 3 * s) >> VOICE_FRAC_BITS]));
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
}

// The four interpolated samples (16-bit scale, before the gain) of a run's
// pairs at positions p, p + s, p + 2s, p + 3s (also given as the vector
// `frac`, the four lanes' fractions as frac_lanes makes them).
template <bool WIDE>
static inline __m128i four_values(const uint32_t *pairs, uint32_t p, uint32_t step, __m128i frac) {
    const __m128i pair = gather_pairs(pairs, p, step);
    __m128i sum = _mm_madd_epi16(pair, frac);
    if (WIDE) sum = _mm_add_epi32(sum, _mm_srai_epi32(_mm_slli_epi32(pair, PAIR_HIGH_SHIFT), 1));
    return _mm_srai_epi32(sum, VOICE_FRAC_SHIFT);
}

// Four samples times a gain (the low half of each lane of `gain`): s fits
// 16 bits, its high half being only its sign, so one pmaddwd against
// (gain, 0) is s x gain. Also for samples in split form (four_split)
// against (gain, gain).
static inline __m128i four_scaled(__m128i s, __m128i gain) {
    return _mm_srai_epi32(_mm_madd_epi16(s, gain), VOICE_GAIN_SHIFT);
}

// A sample of 16-bit data can reach below -32768 (down to -32800: a slope
// of -1 below -32736, e.g. from -32767 to -32768, at a fraction near 1),
// which no 16-bit half holds. Split form: s >> 1 in the low half and s - (s
// >> 1) in the high one, both within 16 bits, for pmaddwd against (gain,
// gain): their sum times the gain is s x gain.
static inline __m128i four_split(__m128i s) {
    const __m128i low = _mm_srai_epi32(s, 1);
    return _mm_or_si128(_mm_and_si128(low, _mm_set1_epi32(static_cast<int32_t>(PAIR_HALF_MASK))),
                        _mm_slli_epi32(_mm_sub_epi32(s, low), PAIR_HIGH_SHIFT));
}

// The gain vector for four_scaled: (gain, 0), or (gain, gain) for samples in
// split form.
template <bool SPLIT>
static inline __m128i gain_vector(int32_t gain) {
    return _mm_set1_epi32(SPLIT ? gain | gain << PAIR_HIGH_SHIFT : gain);
}

// The fractions of positions p, p + s, p + 2s, p + 3s as pmaddwd wants
// them: frac - 32768 in the low half of each lane (the top bit of frac
// flipped), in the high half the weight of k (narrow pairs) or b (wide).
// Moving the positions on by 4s adds 4s modulo 65536 to each low half,
// one paddw by frac_advance(s) (high halves 0).
template <bool WIDE>
static inline __m128i frac_lanes(uint32_t p, uint32_t s) {
    const __m128i lanes = _mm_setr_epi32(static_cast<int32_t>(p), static_cast<int32_t>(p + s),
                                         static_cast<int32_t>(p + 2 * s), static_cast<int32_t>(p + 3 * s));
    const int32_t weight = (WIDE ? PAIR_B_WEIGHT : PAIR_K_WEIGHT) << PAIR_HIGH_SHIFT;
    return _mm_xor_si128(_mm_and_si128(lanes, _mm_set1_epi32(VOICE_FRAC_MASK)), _mm_set1_epi32(weight | PAIR_FRAC_BIAS));
}

static inline __m128i frac_advance(uint32_t s) {
    return _mm_set1_epi32(static_cast<int32_t>((4 * s) & VOICE_FRAC_MASK));
}
#endif

// out[i] = (ADD ? out[i] : 0) + the run's sample i; EXACT: the samples in
// split form.
template <bool WIDE, bool ADD, bool EXACT>
static void mix_one(int32_t *out, int count, VoiceRun *run) {
    uint32_t p = run->pos;
    const uint32_t s = run->step;
    const uint32_t *pairs = run->pairs;
    const int32_t gain = run->gain;
    int i = 0;
#ifdef VOICE_MIX_SSE2
    const __m128i gains = gain_vector<EXACT>(gain);
    const __m128i step4 = frac_advance(s);
    __m128i lanes = frac_lanes<WIDE>(p, s);
    for (; i + 4 <= count; i += 4) {
        __m128i v = four_values<WIDE>(pairs, p, s, lanes);
        if (EXACT) v = four_split(v);
        v = four_scaled(v, gains);
        __m128i *o = reinterpret_cast<__m128i *>(out + i);
        if (ADD) v = _mm_add_epi32(v, _mm_loadu_si128(o));
        _mm_storeu_si128(o, v);
        p += 4 * s;
        lanes = _mm_add_epi16(lanes, step4);
    }
#endif
    for (; i < count; i++) {
        const int32_t v = (pair_value<WIDE>(pairs[p >> VOICE_FRAC_BITS], p & VOICE_FRAC_MASK) * gain) >>
                          VOICE_GAIN_SHIFT;
        out[i] = ADD ? out[i] + v : v;
        p += s;
    }
    run->pos = p;
    run->left -= count;
}

// out[i] = (ADD ? out[i] : 0) + sample i of run a + sample i of run b.
template <bool WIDE_A, bool WIDE_B, bool ADD, bool EXACT>
static void mix_two(int32_t *out, int count, VoiceRun *a, VoiceRun *b) {
    uint32_t pa = a->pos, pb = b->pos;
    const uint32_t sa = a->step, sb = b->step;
    const uint32_t *pairs_a = a->pairs, *pairs_b = b->pairs;
    const int32_t gain_a = a->gain, gain_b = b->gain;
    int i = 0;
#ifdef VOICE_MIX_SSE2
    const __m128i gainsa = gain_vector<EXACT>(gain_a), gainsb = gain_vector<EXACT>(gain_b);
    const __m128i stepa4 = frac_advance(sa), stepb4 = frac_advance(sb);
    __m128i lanesa = frac_lanes<WIDE_A>(pa, sa), lanesb = frac_lanes<WIDE_B>(pb, sb);
    for (; i + 4 <= count; i += 4) {
        __m128i va = four_values<WIDE_A>(pairs_a, pa, sa, lanesa);
        __m128i vb = four_values<WIDE_B>(pairs_b, pb, sb, lanesb);
        if (EXACT) {
            va = four_split(va);
            vb = four_split(vb);
        }
        __m128i v = _mm_add_epi32(four_scaled(va, gainsa), four_scaled(vb, gainsb));
        __m128i *o = reinterpret_cast<__m128i *>(out + i);
        if (ADD) v = _mm_add_epi32(v, _mm_loadu_si128(o));
        _mm_storeu_si128(o, v);
        pa += 4 * sa;
        pb += 4 * sb;
        lanesa = _mm_add_epi16(lanesa, stepa4);
        lanesb = _mm_add_epi16(lanesb, stepb4);
    }
#endif
    for (; i < count; i++) {
        const int32_t v =
            ((pair_value<WIDE_A>(pairs_a[pa >> VOICE_FRAC_BITS], pa & VOICE_FRAC_MASK) * gain_a) >> VOICE_GAIN_SHIFT) +
            ((pair_value<WIDE_B>(pairs_b[pb >> VOICE_FRAC_BITS], pb & VOICE_FRAC_MASK) * gain_b) >> VOICE_GAIN_SHIFT);
        out[i] = ADD ? out[i] + v : v;
        pa += sa;
        pb += sb;
    }
    a->pos = pa;
    b->pos = pb;
    a->left -= count;
    b->left -= count;
}

#ifdef VOICE_MIX_SSE2
// Samples i .. i + 3 (in `v`, split when SPLIT) at their left and right
// gains into left[i..] and right[i..]: added, or stored when !ADD.
template <bool ADD, bool VARY, bool SPLIT>
static inline void four_to_sides(int32_t *left, int32_t *right, int i, __m128i v, const StereoGains &gains,
                                 __m128i gainsl0, __m128i gainsr0) {
    __m128i *l = reinterpret_cast<__m128i *>(left + i);
    __m128i *r = reinterpret_cast<__m128i *>(right + i);
    __m128i vl = four_scaled(v, lane_gains<VARY, SPLIT>(gains.lefts, i, gainsl0));
    __m128i vr = four_scaled(v, lane_gains<VARY, SPLIT>(gains.rights, i, gainsr0));
    if (ADD) {
        vl = _mm_add_epi32(vl, _mm_loadu_si128(l));
        vr = _mm_add_epi32(vr, _mm_loadu_si128(r));
    }
    _mm_storeu_si128(l, vl);
    _mm_storeu_si128(r, vr);
}
#endif

// left[i] (+)= the run's sample i at its left gain, right[i] at its right
// one: added, or stored when !ADD.
template <bool WIDE, bool ADD, bool EXACT, bool VARY>
static void mix_stereo(int32_t *left, int32_t *right, int count, VoiceRun *run, StereoGains gains) {
    uint32_t p = run->pos;
    const uint32_t s = run->step;
    const uint32_t *pairs = run->pairs;
    int i = 0;
#ifdef VOICE_MIX_SSE2
    const __m128i gainsl0 = gain_vector<EXACT>(gains.left), gainsr0 = gain_vector<EXACT>(gains.right);
    const __m128i step4 = frac_advance(s);
    __m128i lanes = frac_lanes<WIDE>(p, s);
    for (; i + 4 <= count; i += 4) {
        __m128i v = four_values<WIDE>(pairs, p, s, lanes);
        if (EXACT) v = four_split(v);
        four_to_sides<ADD, VARY, EXACT>(left, right, i, v, gains, gainsl0, gainsr0);
        p += 4 * s;
        lanes = _mm_add_epi16(lanes, step4);
    }
#endif
    for (; i < count; i++) {
        const int32_t v = pair_value<WIDE>(pairs[p >> VOICE_FRAC_BITS], p & VOICE_FRAC_MASK);
        const int32_t gl = VARY ? gains.lefts[i] : gains.left, gr = VARY ? gains.rights[i] : gains.right;
        const int32_t vl = (v * gl) >> VOICE_GAIN_SHIFT, vr = (v * gr) >> VOICE_GAIN_SHIFT;
        left[i] = ADD ? left[i] + vl : vl;
        right[i] = ADD ? right[i] + vr : vr;
        p += s;
    }
    run->pos = p;
    run->left -= count;
}

// ---------------------------------------------------------------------------
// Skipping runs
//
// With a step above one source sample per output sample every output
// sample advances the read position, by one entry or more: after sample i
// the voice holds cur = E[a_i + 1] and prev = the cur before, E[a_(i-1) +
// 1] (E[0] and E[1] for the run's first sample), a_i being the whole part
// of position F + i x step (E as for runs: prev, cur, then window[I ..]).
// Those pairs are not neighbours in the window, so they are gathered per
// sample rather than tabled, and computed as wide pairs, which every
// refill's values are (an 8-bit entry s x 2^23 is the 16-bit s x 256 x
// 2^15): s = (d x (frac - 32768) + 2048 b + 32768 d) >> 11, exactly the
// definition's value; or, when the window, prev and cur hold 8-bit values,
// as narrow pairs. A run ends at the refill, as above.

// The value of one output sample of the definition from prev and cur.
static inline int32_t definition_value(int32_t prev, int32_t cur, int32_t frac) {
    return ((((cur - prev) >> VOICE_DIFF_SHIFT) * frac) >> VOICE_FRAC_SHIFT) + (prev >> VOICE_PREV_SHIFT);
}

#ifdef VOICE_MIX_SSE2
// The four samples whose prev and cur are the four lanes of `prev` and
// `cur`, at the fractions `frac` (as frac_lanes makes them).
template <bool WIDE>
static inline __m128i four_skipped(__m128i prev, __m128i cur, __m128i frac) {
    if (!WIDE) {
        // 8-bit values: the narrow pair (d, k), k x 65536 being (cur +
        // prev) / 2 exactly (both are multiples of 2^23).
        const __m128i d = _mm_srai_epi32(_mm_sub_epi32(cur, prev), VOICE_DIFF_SHIFT);
        const __m128i pair = _mm_or_si128(_mm_and_si128(d, _mm_set1_epi32(static_cast<int32_t>(PAIR_HALF_MASK))),
                                          _mm_srai_epi32(_mm_add_epi32(cur, prev), 1));
        return _mm_srai_epi32(_mm_madd_epi16(pair, frac), VOICE_FRAC_SHIFT);
    }
    const __m128i d = _mm_srai_epi32(_mm_sub_epi32(cur, prev), VOICE_DIFF_SHIFT);
    const __m128i b = _mm_srai_epi32(prev, VOICE_PREV_SHIFT);
    const __m128i pair = _mm_or_si128(_mm_and_si128(d, _mm_set1_epi32(static_cast<int32_t>(PAIR_HALF_MASK))),
                                      _mm_slli_epi32(b, PAIR_HIGH_SHIFT));
    __m128i sum = _mm_madd_epi16(pair, frac);
    sum = _mm_add_epi32(sum, _mm_srai_epi32(_mm_slli_epi32(pair, PAIR_HIGH_SHIFT), 1));
    return _mm_srai_epi32(sum, VOICE_FRAC_SHIFT);
}
#endif

// left[i] and right[i] (+)= v at sample i's gains.
template <bool ADD, bool VARY>
static inline void store_or_add(int32_t *left, int32_t *right, int i, int32_t v, StereoGains gains) {
    const int32_t gain_left = VARY ? gains.lefts[i] : gains.left;
    const int32_t gain_right = VARY ? gains.rights[i] : gains.right;
    const int32_t vl = (v * gain_left) >> VOICE_GAIN_SHIFT, vr = (v * gain_right) >> VOICE_GAIN_SHIFT;
    left[i] = ADD ? left[i] + vl : vl;
    right[i] = ADD ? right[i] + vr : vr;
}

// Adds (or with !ADD stores) the samples from `from` to `to` - 1 of a
// skipping run at the given gains, every one from sample 2 on (its prev and
// cur both in the window, at `index` plus the whole parts of its previous
// and its own position; `pos` is sample `from`'s position). WIDE: any
// window values, carried in split form (as 16-bit values can need); else
// 8-bit ones, as narrow pairs.
template <bool ADD, bool WIDE, bool VARY>
static void skip_samples(const int32_t *window, int32_t index, uint32_t pos, uint32_t step, int from, int to,
                         StereoGains gains, int32_t *left, int32_t *right) {
    int i = from;
#ifdef VOICE_MIX_SSE2
    const __m128i gainsl0 = gain_vector<WIDE>(gains.left), gainsr0 = gain_vector<WIDE>(gains.right);
    const __m128i step4 = frac_advance(step);
    const int32_t *w = window + index;
    __m128i lanes = frac_lanes<WIDE>(pos, step);
    // Lane 3 of the last four samples' cur: the prev of the next four's
    // lane 0 (each sample's prev is the cur before it).
    __m128i carried = _mm_cvtsi32_si128(w[(pos - step) >> VOICE_FRAC_BITS]);
    for (; i + 4 <= to; i += 4) {
        const __m128i a = _mm_cvtsi32_si128(w[pos >> VOICE_FRAC_BITS]);
        const __m128i b = _mm_cvtsi32_si128(w[(pos + step) >> VOICE_FRAC_BITS]);
        const __m128i c = _mm_cvtsi32_si128(w[(pos + 2 * step) >> VOICE_FRAC_BITS]);
        const __m128i d = _mm_cvtsi32_si128(w[(pos + 3 * step) >> VOICE_FRAC_BITS]);
        const __m128i cur = _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
        const __m128i prev = _mm_or_si128(_mm_slli_si128(cur, 4), carried);
        carried = _mm_srli_si128(cur, 12);
        __m128i v = four_skipped<WIDE>(prev, cur, lanes);
        if (WIDE) v = four_split(v);
        lanes = _mm_add_epi16(lanes, step4);
        four_to_sides<ADD, VARY, WIDE>(left, right, i, v, gains, gainsl0, gainsr0);
        pos += 4 * step;
    }
#endif
    for (; i < to; i++) {
        const int32_t prev = window[index + static_cast<int32_t>((pos - step) >> VOICE_FRAC_BITS)];
        const int32_t cur = window[index + static_cast<int32_t>(pos >> VOICE_FRAC_BITS)];
        const int32_t v = definition_value(prev, cur, static_cast<int32_t>(pos & VOICE_FRAC_MASK));
        store_or_add<ADD, VARY>(left, right, i, v, gains);
        pos += step;
    }
}

// Moves a voice whose step is above one source sample (and at most
// VOICE_MAX_STEP) on by `count` output samples, adding (or with !ADD
// storing) each sample at its gains into left and right when left is not
// null: the definition, run by run.
template <bool ADD, bool VARY>
static void skip_runs(Voice *voice, int32_t *left, int32_t *right, int count, StereoGains gains) {
    const uint32_t step = voice->step;
    for (int done = 0; done < count;) {
        const int32_t index = voice->read_index;
        const uint32_t frac = static_cast<uint32_t>(voice->frac);
        const int32_t whole = index < VOICE_WINDOW_SAMPLES ? VOICE_WINDOW_SAMPLES - index : 1;
        const uint32_t target = static_cast<uint32_t>(whole) << VOICE_FRAC_BITS;
        const uint32_t to_refill = (target - frac + step - 1) / step;
        const bool refills = to_refill <= static_cast<uint32_t>(count - done);
        const int n = refills ? static_cast<int>(to_refill) : count - done;
        const int32_t *window = voice->window;
        // Sample 0 reads prev and cur as they are, sample 1 cur and the
        // window; the rest the window alone.
        int32_t last_cur = voice->cur;  // cur of the run's last sample
        if (n >= 2) last_cur = window[index + static_cast<int32_t>((frac + static_cast<uint32_t>(n - 1) * step) >> VOICE_FRAC_BITS)];
        if (left) {
            const StereoGains here = gains_from(gains, done);
            int32_t v = definition_value(voice->prev, voice->cur, static_cast<int32_t>(frac));
            store_or_add<ADD, VARY>(left + done, right + done, 0, v, here);
            if (n >= 2) {
                const uint32_t p1 = frac + step;
                v = definition_value(voice->cur, window[index + static_cast<int32_t>(p1 >> VOICE_FRAC_BITS)],
                                     static_cast<int32_t>(p1 & VOICE_FRAC_MASK));
                store_or_add<ADD, VARY>(left + done, right + done, 1, v, here);
            }
            // 8-bit values (a window of them, prev and cur) make narrow
            // pairs.
            const bool wide = voice->wide_window || (voice->prev & VOICE_WINDOW_LOW_BITS) != 0 ||
                              (voice->cur & VOICE_WINDOW_LOW_BITS) != 0;
            if (n > 2 && wide)
                skip_samples<ADD, true, VARY>(window, index, frac + 2 * step, step, 2, n, here, left + done,
                                              right + done);
            else if (n > 2)
                skip_samples<ADD, false, VARY>(window, index, frac + 2 * step, step, 2, n, here, left + done,
                                               right + done);
        }
        // The state after the run's last advance.
        const uint32_t end = frac + static_cast<uint32_t>(n) * step;
        const int32_t next = index + static_cast<int32_t>(end >> VOICE_FRAC_BITS);
        voice->frac = static_cast<int32_t>(end & VOICE_FRAC_MASK);
        voice->prev = last_cur;
        if (refills) {
            voice->read_index = next & VOICE_INDEX_MASK;
            voice_refill(voice);
        } else {
            voice->read_index = next;
        }
        voice->cur = voice->window[voice->read_index];
        done += n;
    }
}

// ---------------------------------------------------------------------------
// Whole calls

// How a voice takes part in a call.
enum VoiceRole {
    ROLE_NONE,      // no source: adds nothing, keeps its state
    ROLE_STOPPED,   // step 0: adds nothing; prev and cur become 0
    ROLE_EACH,      // a state the runs do not cover: the definition's loop
    ROLE_MOVE,      // gain 0: moved on without computing samples
    ROLE_RUNS,      // audible: mixed in runs
    ROLE_SKIPS,     // a step above one sample, refill values: skipping runs
                    // (two planes, or only moved on); one plane: the loop
};

static bool narrow_value(int32_t v) {
    return (v & VOICE_WINDOW_LOW_BITS) == 0 && v >= VOICE_WINDOW_MIN && v <= VOICE_WINDOW_MAX;
}

static bool wide_value(int32_t v) {
    return (v & VOICE_WIDE_LOW_BITS) == 0 && v >= VOICE_WIDE_MIN && v <= VOICE_WIDE_MAX;
}

// The role of a voice whose gains are not yet looked at: ROLE_RUNS when
// runs can mix it, with *wide saying which pairs. Narrow pairs need a
// window of 8-bit samples that stays so (no wide source) and 8-bit prev
// and cur; wide pairs take any refill's values.
static VoiceRole role_of(const Voice *voice, bool *wide) {
    if (!voice || (!voice->source && !voice->wide_source)) return ROLE_NONE;
    if (voice->step == 0) return ROLE_STOPPED;
    if (voice->frac < 0 || voice->frac > VOICE_FRAC_MASK || voice->read_index < 0 ||
        voice->read_index > VOICE_WINDOW_SAMPLES)
        return ROLE_EACH;
    if (voice->step > static_cast<uint32_t>(VOICE_STEP_ONE)) {
        const bool skips = voice->step <= VOICE_MAX_STEP && wide_value(voice->prev) && wide_value(voice->cur);
        return skips ? ROLE_SKIPS : ROLE_EACH;
    }
    if (!voice->wide_source && !voice->wide_window && narrow_value(voice->prev) && narrow_value(voice->cur)) {
        *wide = false;
        return ROLE_RUNS;
    }
    if (wide_value(voice->prev) && wide_value(voice->cur)) {
        *wide = true;
        return ROLE_RUNS;
    }
    return ROLE_EACH;
}

// The role of a voice mixed into one plane at its volume, with its gain
// (volume x 256).
static VoiceRole mono_role(const Voice *voice, bool *wide, int32_t *gain) {
    const VoiceRole role = role_of(voice, wide);
    if (role != ROLE_RUNS) return role;
    *gain = clamp_volume(voice->volume) << VOICE_VOLUME_TO_GAIN;
    return *gain == 0 ? ROLE_MOVE : ROLE_RUNS;
}

// out[0 .. count - 1] = 0, in plain stores (a side with no audible voice).
static void clear(int32_t *out, int count) {
    int i = 0;
#ifdef VOICE_MIX_SSE2
    for (; i + 4 <= count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_setzero_si128());
#endif
    for (; i < count; i++) out[i] = 0;
}

static void run_setup(VoiceRun *run, Voice *voice, bool wide, int32_t gain) {
    run->voice = voice;
    run->step = voice->step;
    run->wide = wide;
    run->gain = gain;
    run->gain_right = 0;
    run->exact = false;
}

// Moves a voice that runs could mix on by `count` samples, run by run.
static void move_runs(Voice *voice, int count) {
    VoiceRun run;
    run_setup(&run, voice, false, 0);
    for (int done = 0; done < count;) {
        run_begin(&run, count - done, false);
        run.pos += static_cast<uint32_t>(run.left) * run.step;
        done += run.left;
        run_end(&run);
    }
}

// Mixes a ROLE_RUNS voice into out (adding, or storing when !add).
static void mix_runs(Voice *voice, bool wide, int32_t gain, int32_t *out, int count, bool add) {
    VoiceRun run;
    run_setup(&run, voice, wide, gain);
    for (int done = 0; done < count;) {
        run_begin(&run, count - done, true);
        const int n = run.left;
        if (wide && run.exact) {
            if (add) mix_one<true, true, true>(out + done, n, &run);
            else mix_one<true, false, true>(out + done, n, &run);
        } else if (wide) {
            if (add) mix_one<true, true, false>(out + done, n, &run);
            else mix_one<true, false, false>(out + done, n, &run);
        } else {
            if (add) mix_one<false, true, false>(out + done, n, &run);
            else mix_one<false, false, false>(out + done, n, &run);
        }
        done += n;
        run_end(&run);
    }
}

template <bool ADD>
static void mix_two_runs(int32_t *out, int count, VoiceRun *a, VoiceRun *b) {
    if (a->exact || b->exact) {
        if (a->wide && b->wide) mix_two<true, true, ADD, true>(out, count, a, b);
        else if (a->wide) mix_two<true, false, ADD, true>(out, count, a, b);
        else mix_two<false, true, ADD, true>(out, count, a, b);
    } else if (a->wide) {
        if (b->wide) mix_two<true, true, ADD, false>(out, count, a, b);
        else mix_two<true, false, ADD, false>(out, count, a, b);
    } else {
        if (b->wide) mix_two<false, true, ADD, false>(out, count, a, b);
        else mix_two<false, false, ADD, false>(out, count, a, b);
    }
}

// Stores (or with `add` adds) the sum of two ROLE_RUNS voices into out,
// both in one pass: the pass goes on until either run ends, which then
// refills and starts anew.
static void mix_runs_two(Voice *first, bool first_wide, int32_t first_gain, Voice *second, bool second_wide,
                         int32_t second_gain, int32_t *out, int count, bool add) {
    VoiceRun a, b;
    run_setup(&a, first, first_wide, first_gain);
    run_setup(&b, second, second_wide, second_gain);
    run_begin(&a, count, true);
    run_begin(&b, count, true);
    for (int done = 0; done < count;) {
        const int n = a.left < b.left ? a.left : b.left;
        if (add) mix_two_runs<true>(out + done, n, &a, &b);
        else mix_two_runs<false>(out + done, n, &a, &b);
        done += n;
        if (a.left == 0) {
            run_end(&a);
            if (done < count) run_begin(&a, count - done, true);
        }
        if (b.left == 0) {
            run_end(&b);
            if (done < count) run_begin(&b, count - done, true);
        }
    }
}

// The part of a call that does not add audible runs: stopped voices reset,
// silent ones moved on, unusual states mixed by the definition's loop
// (into out alone at the volume, or into out and right at the gains).
static void mix_other(Voice *voice, VoiceRole role, int32_t *out, int32_t *right, int count) {
    switch (role) {
    case ROLE_STOPPED:
        voice->prev = 0;
        voice->cur = 0;
        break;
    case ROLE_EACH:
        mix_each(voice, out, right, count);
        break;
    case ROLE_MOVE:
        move_runs(voice, count);
        break;
    case ROLE_SKIPS:
        if (out && !right) mix_each(voice, out, nullptr, count);
        else skip_runs<true, false>(voice, out, right, count, voice_gains(voice));
        break;
    default:
        break;
    }
}

void voice_mix(Voice *voice, int32_t *out, int count) {
    if (!voice || !out || count <= 0) return;
    bool wide = false;
    int32_t gain = 0;
    const VoiceRole role = mono_role(voice, &wide, &gain);
    if (role == ROLE_RUNS) mix_runs(voice, wide, gain, out, count, true);
    else mix_other(voice, role, out, nullptr, count);
}

// voice_mix_side and voice_mix_side_add: the sum of two voices stored into
// out, or added to it.
static void mix_side(Voice *first, Voice *second, int32_t *out, int count, bool add) {
    if (!out || count <= 0) return;
    bool first_wide = false, second_wide = false;
    int32_t first_gain = 0, second_gain = 0;
    const VoiceRole first_role = mono_role(first, &first_wide, &first_gain);
    const VoiceRole second_role = mono_role(second, &second_wide, &second_gain);
    if (first_role == ROLE_RUNS && second_role == ROLE_RUNS) {
        mix_runs_two(first, first_wide, first_gain, second, second_wide, second_gain, out, count, add);
    } else if (first_role == ROLE_RUNS) {
        mix_runs(first, first_wide, first_gain, out, count, add);
    } else if (second_role == ROLE_RUNS) {
        mix_runs(second, second_wide, second_gain, out, count, add);
    } else if (!add) {
        clear(out, count);
    }
    if (first_role != ROLE_RUNS) mix_other(first, first_role, out, nullptr, count);
    if (second_role != ROLE_RUNS) mix_other(second, second_role, out, nullptr, count);
}

void voice_mix_side(Voice *first, Voice *second, int32_t *out, int count) {
    mix_side(first, second, out, count, false);
}

void voice_mix_side_add(Voice *first, Voice *second, int32_t *out, int count) {
    mix_side(first, second, out, count, true);
}

// voice_mix_stereo, and with !ADD voice_mix_stereo_store; with VARY the
// gains of `gains` per sample (voice_mix_stereo_gains), else the voice's.
template <bool ADD, bool VARY>
static void mix_stereo_call(Voice *voice, int32_t *left, int32_t *right, int count, StereoGains gains) {
    if (!voice || !left || !right || count <= 0) return;
    bool wide = false;
    VoiceRole role = role_of(voice, &wide);
    const bool silent = !VARY && gains.left == 0 && gains.right == 0;
    if (role == ROLE_RUNS && silent) role = ROLE_MOVE;
    if (role == ROLE_SKIPS && !silent) {
        skip_runs<ADD, VARY>(voice, left, right, count, gains);
        return;
    }
    if (!ADD && role != ROLE_RUNS) {
        clear(left, count);
        clear(right, count);
    }
    if (role == ROLE_SKIPS) {
        skip_runs<true, false>(voice, nullptr, nullptr, count, gains);
        return;
    }
    if (role == ROLE_EACH && VARY) {
        // The definition's loop, a stretch of equal gains at a time.
        const int32_t keep_left = voice->gain_left, keep_right = voice->gain_right;
        for (int i = 0; i < count;) {
            int n = 1;
            while (i + n < count && gains.lefts[i + n] == gains.lefts[i] && gains.rights[i + n] == gains.rights[i]) n++;
            voice->gain_left = gains.lefts[i];
            voice->gain_right = gains.rights[i];
            mix_each(voice, left + i, right + i, n);
            i += n;
        }
        voice->gain_left = keep_left;
        voice->gain_right = keep_right;
        return;
    }
    if (role != ROLE_RUNS) {
        mix_other(voice, role, left, right, count);
        return;
    }
    VoiceRun run;
    run_setup(&run, voice, wide, 0);
    for (int done = 0; done < count;) {
        run_begin(&run, count - done, true);
        const int n = run.left;
        const StereoGains here = gains_from(gains, done);
        if (wide && run.exact) mix_stereo<true, ADD, true, VARY>(left + done, right + done, n, &run, here);
        else if (wide) mix_stereo<true, ADD, false, VARY>(left + done, right + done, n, &run, here);
        else mix_stereo<false, ADD, false, VARY>(left + done, right + done, n, &run, here);
        done += n;
        run_end(&run);
    }
}

void voice_mix_stereo(Voice *voice, int32_t *left, int32_t *right, int count) {
    if (!voice) return;
    mix_stereo_call<true, false>(voice, left, right, count, voice_gains(voice));
}

void voice_mix_stereo_store(Voice *voice, int32_t *left, int32_t *right, int count) {
    if (!voice) return;
    mix_stereo_call<false, false>(voice, left, right, count, voice_gains(voice));
}

void voice_mix_stereo_gains(Voice *voice, int32_t *left, int32_t *right, const int32_t *gains_left,
                            const int32_t *gains_right, int count) {
    if (!voice || !left || !right || !gains_left || !gains_right || count <= 0) return;
    const StereoGains gains = {0, 0, gains_left, gains_right};
    mix_stereo_call<true, true>(voice, left, right, count, gains);
}

void voice_mix_stereo_gains_store(Voice *voice, int32_t *left, int32_t *right, const int32_t *gains_left,
                                  const int32_t *gains_right, int count) {
    if (!voice || !left || !right || !gains_left || !gains_right || count <= 0) return;
    const StereoGains gains = {0, 0, gains_left, gains_right};
    mix_stereo_call<false, true>(voice, left, right, count, gains);
}

void voice_advance(Voice *voice, int count) {
    if (!voice || count <= 0) return;
    bool wide = false;
    const VoiceRole role = role_of(voice, &wide);
    if (role == ROLE_RUNS) move_runs(voice, count);
    else if (role == ROLE_EACH) mix_each(voice, nullptr, nullptr, count);
    else mix_other(voice, role, nullptr, nullptr, count);
}

int voice_pass_silence(Voice *voice, int count) {
    if (!voice || count <= 0 || (!voice->source && !voice->wide_source)) return 0;
    if (voice->step == 0 || voice->step > VOICE_MAX_STEP || voice->prev != 0 || voice->cur != 0) return 0;
    const int32_t frac = voice->frac, index = voice->read_index;
    if (frac < 0 || frac > VOICE_STEP_ONE || index < 0 || index > VOICE_WINDOW_SAMPLES) return 0;
    // The entries the advances before a refill would read as cur.
    int32_t ahead = 0;
    int32_t i = index + 1;
#ifdef VOICE_MIX_SSE2
    __m128i any = _mm_setzero_si128();
    for (; i + 4 <= VOICE_WINDOW_SAMPLES; i += 4)
        any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i *>(voice->window + i)));
    ahead = _mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128())) != 0xFFFF;
#endif
    for (; i < VOICE_WINDOW_SAMPLES; i++) ahead |= voice->window[i];
    if (ahead != 0) return 0;
    // Every advance carries the whole part of frac into the index, and a
    // refill takes 256 off it (one advance moves at most 255 entries, from
    // at most 256): the sum of the advances, modulo 256 once any refill
    // happened. count x step < 2^31 x 2^24: no wrap in 64 bits.
    const uint64_t end = static_cast<uint64_t>(frac) + static_cast<uint64_t>(count) * voice->step;
    const uint64_t next = static_cast<uint64_t>(index) + (end >> VOICE_FRAC_BITS);
    voice->frac = static_cast<int32_t>(end & VOICE_FRAC_MASK);
    // A restarted voice (index 256) refills only once it advances.
    if ((end >> VOICE_FRAC_BITS) != 0 && next > static_cast<uint64_t>(VOICE_INDEX_MASK)) {
        // What a refill from a source of zeros leaves.
        for (int32_t i = 0; i <= index && i < VOICE_WINDOW_SAMPLES; i++) voice->window[i] = 0;
        voice->wide_window = voice->wide_source ? 1 : 0;
        voice->read_index = static_cast<int32_t>(next & VOICE_INDEX_MASK);
    } else {
        voice->read_index = static_cast<int32_t>(next);
    }
    return 1;
}
