// Mixing voices: the resampler's inner loop. A call is cut into runs that
// end where the voice refills its window; inside a run nothing but the
// interpolation, the volume and the store or add happens, from a table of
// the run's sample pairs, and the voice's state lives in locals until the
// run ends. Both voices of a stereo side are mixed in one pass, and a voice
// at volume 0 is only moved on, without computing samples. On x86-64 the
// run loop works on four output samples at once with SSE2; elsewhere, or
// with VOICE_PORTABLE_MIX defined, a plain loop computes the same values.
// Knows nothing of modules.
//
// Every result equals the resampler's definition (voice.h), one sample at
// a time, bit for bit. That definition is kept here too, as the path for
// states the runs do not cover: a read step above one source sample per
// output sample (output rates below the sample rates), a fresh voice's
// first sample (frac 65536), and values no refill writes.
#include "music/voice.h"

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
constexpr int32_t VOICE_FRAC_MASK = 0xFFFF;
constexpr int VOICE_FRAC_BITS = 16;
constexpr int VOICE_INDEX_MASK = VOICE_WINDOW_SAMPLES - 1;
// Window samples are signed 8-bit values times 2^23.
constexpr int VOICE_WINDOW_SHIFT = 23;
constexpr int32_t VOICE_WINDOW_LOW_BITS = (1 << VOICE_WINDOW_SHIFT) - 1;
constexpr int32_t VOICE_WINDOW_MIN = -128 * (1 << VOICE_WINDOW_SHIFT);
constexpr int32_t VOICE_WINDOW_MAX = 127 * (1 << VOICE_WINDOW_SHIFT);

// ---------------------------------------------------------------------------
// The definition, one output sample at a time

// Adds `count` samples into out, or with out null only moves the voice on.
// The caller has checked that the voice has a source and a nonzero step.
static void mix_each(Voice *voice, int32_t *out, int count) {
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
// With window-scale values p and c (8-bit samples p8 and c8 times 2^23) the
// definition's sample is
//     s = ((d x frac) >> 11) + b,   d = (c - p) >> 20 = 8 (c8 - p8),  b = p >> 15 = 256 p8,
// and, b x 2048 being a multiple of 2048, s = (d x frac + 2048 b) >> 11.
// Writing frac as (frac - 32768) + 32768 turns that into
//     s = (d x (frac - 32768) + 4096 k) >> 11,   k = 8 d + b / 2 = 64 (c8 + p8),
// a sum of two products of 16-bit numbers (d: -2040 .. 2040, k: -16384 ..
// 16256, frac - 32768: -32768 .. 32767, 4096), which is exactly what SSE2's
// pmaddwd computes on a 32-bit lane holding d and k. A pair is stored so:
// d in the low 16 bits, k in the high 16 bits. The products stay within
// 2040 x 32768 + 16384 x 4096 < 2^31.
constexpr int32_t PAIR_FRAC_BIAS = 32768;
constexpr int32_t PAIR_K_WEIGHT = 4096;
constexpr uint32_t PAIR_HALF_MASK = 0xFFFF;
constexpr int PAIR_HIGH_SHIFT = 16;

static inline uint32_t pair_of(int32_t prev, int32_t cur) {
    const int32_t d = (cur - prev) >> VOICE_DIFF_SHIFT;
    const int32_t k = d * 8 + (prev >> (VOICE_PREV_SHIFT + 1));  // b / 2, b being even
    return (static_cast<uint32_t>(d) & PAIR_HALF_MASK) |
           (static_cast<uint32_t>(k) & PAIR_HALF_MASK) << PAIR_HIGH_SHIFT;
}

// One output sample from a pair, the fraction and the volume.
static inline int32_t pair_sample(uint32_t pair, uint32_t frac, int32_t volume) {
    const int32_t d = static_cast<int16_t>(pair & PAIR_HALF_MASK);
    const int32_t k = static_cast<int16_t>(pair >> PAIR_HIGH_SHIFT);
    const int32_t s = (d * (static_cast<int32_t>(frac) - PAIR_FRAC_BIAS) + k * PAIR_K_WEIGHT) >>
                      VOICE_FRAC_SHIFT;
    return (s * volume) >> VOICE_VOLUME_SHIFT;
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
    int32_t volume;          // 0 .. 64
    int32_t index;           // read index at the run's start, 0 .. 256
    int32_t e0, e1;          // prev and cur at the run's start
    uint32_t pos;            // position of the next output sample, 16.16 from E[0]
    int left;                // output samples left in the run
    int refills;             // 1 when the run ends with the refill
    uint32_t pairs[VOICE_WINDOW_SAMPLES + 1];  // pair j: E[j] and E[j + 1]
};

static inline int32_t run_value(const VoiceRun *run, uint32_t j) {
    if (j == 0) return run->e0;
    if (j == 1) return run->e1;
    return run->voice->window[run->index + static_cast<int32_t>(j) - 1];
}

// pairs[j] = the pair of window[j] and window[j + 1], for j below count.
static void fill_pairs(uint32_t *pairs, const int32_t *window, int count) {
    int j = 0;
#ifdef VOICE_MIX_SSE2
    const __m128i half = _mm_set1_epi32(static_cast<int32_t>(PAIR_HALF_MASK));
    for (; j + 4 <= count; j += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + j));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + j + 1));
        const __m128i d = _mm_srai_epi32(_mm_sub_epi32(c, p), VOICE_DIFF_SHIFT);
        const __m128i k = _mm_add_epi32(_mm_slli_epi32(d, 3), _mm_srai_epi32(p, VOICE_PREV_SHIFT + 1));
        const __m128i packed = _mm_or_si128(_mm_and_si128(d, half), _mm_slli_epi32(k, PAIR_HIGH_SHIFT));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(pairs + j), packed);
    }
#endif
    for (; j < count; j++) pairs[j] = pair_of(window[j], window[j + 1]);
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
    run->pairs[0] = pair_of(run->e0, run->e1);
    if (last >= 1) run->pairs[1] = pair_of(run->e1, voice->window[index + 1]);
    if (last >= 2) fill_pairs(run->pairs + 2, voice->window + index + 1, static_cast<int>(last) - 1);
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
// Run loops: `count` samples of one run (or of two, one per voice) into out

#ifdef VOICE_MIX_SSE2
// The four pairs at the whole parts of positions p, p + s, p + 2s, p + 3s.
static inline __m128i gather_pairs(const uint32_t *pairs, uint32_t p, uint32_t s) {
    const __m128i a = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[p >> VOICE_FRAC_BITS]));
    const __m128i b = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[(p + s) >> VOICE_FRAC_BITS]));
    const __m128i c = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[(p + 2 * s) >> VOICE_FRAC_BITS]));
    const __m128i d = _mm_cvtsi32_si128(static_cast<int32_t>(pairs[(p + 3 * s) >> VOICE_FRAC_BITS]));
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
}

// Four output samples of a run's pairs at positions p, p + s, p + 2s,
// p + 3s (also given as the vector `lanes`), scaled by a volume (the low
// half of each lane of `volume`).
static inline __m128i four_samples(const uint32_t *pairs, uint32_t p, uint32_t step, __m128i lanes,
                                   __m128i volume) {
    // Low half: frac - 32768 (the top bit of frac flipped); high half: 4096.
    const __m128i frac = _mm_xor_si128(_mm_and_si128(lanes, _mm_set1_epi32(VOICE_FRAC_MASK)),
                                       _mm_set1_epi32(PAIR_K_WEIGHT << PAIR_HIGH_SHIFT | PAIR_FRAC_BIAS));
    const __m128i s = _mm_srai_epi32(_mm_madd_epi16(gather_pairs(pairs, p, step), frac),
                                     VOICE_FRAC_SHIFT);
    // s fits 16 bits (-32768 .. 32512), its high half being only its sign:
    // one more pmaddwd against (volume, 0) is s x volume.
    return _mm_srai_epi32(_mm_madd_epi16(s, volume), VOICE_VOLUME_SHIFT);
}

static inline __m128i lane_positions(uint32_t p, uint32_t s) {
    return _mm_setr_epi32(static_cast<int32_t>(p), static_cast<int32_t>(p + s),
                          static_cast<int32_t>(p + 2 * s), static_cast<int32_t>(p + 3 * s));
}
#endif

// out[i] = (add ? out[i] : 0) + the run's sample i.
static void mix_one(int32_t *out, int count, VoiceRun *run, bool add) {
    uint32_t p = run->pos;
    const uint32_t s = run->step;
    const uint32_t *pairs = run->pairs;
    const int32_t volume = run->volume;
    int i = 0;
#ifdef VOICE_MIX_SSE2
    const __m128i vol = _mm_set1_epi32(volume);
    const __m128i step4 = _mm_set1_epi32(static_cast<int32_t>(4 * s));
    __m128i lanes = lane_positions(p, s);
    for (; i + 4 <= count; i += 4) {
        __m128i v = four_samples(pairs, p, s, lanes, vol);
        __m128i *o = reinterpret_cast<__m128i *>(out + i);
        if (add) v = _mm_add_epi32(v, _mm_loadu_si128(o));
        _mm_storeu_si128(o, v);
        p += 4 * s;
        lanes = _mm_add_epi32(lanes, step4);
    }
#endif
    for (; i < count; i++) {
        const int32_t v = pair_sample(pairs[p >> VOICE_FRAC_BITS], p & VOICE_FRAC_MASK, volume);
        out[i] = add ? out[i] + v : v;
        p += s;
    }
    run->pos = p;
    run->left -= count;
}

// out[i] = sample i of run a + sample i of run b.
static void mix_two(int32_t *out, int count, VoiceRun *a, VoiceRun *b) {
    uint32_t pa = a->pos, pb = b->pos;
    const uint32_t sa = a->step, sb = b->step;
    const uint32_t *pairs_a = a->pairs, *pairs_b = b->pairs;
    const int32_t volume_a = a->volume, volume_b = b->volume;
    int i = 0;
#ifdef VOICE_MIX_SSE2
    const __m128i vola = _mm_set1_epi32(volume_a), volb = _mm_set1_epi32(volume_b);
    const __m128i stepa4 = _mm_set1_epi32(static_cast<int32_t>(4 * sa));
    const __m128i stepb4 = _mm_set1_epi32(static_cast<int32_t>(4 * sb));
    __m128i lanesa = lane_positions(pa, sa), lanesb = lane_positions(pb, sb);
    for (; i + 4 <= count; i += 4) {
        const __m128i v = _mm_add_epi32(four_samples(pairs_a, pa, sa, lanesa, vola),
                                        four_samples(pairs_b, pb, sb, lanesb, volb));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), v);
        pa += 4 * sa;
        pb += 4 * sb;
        lanesa = _mm_add_epi32(lanesa, stepa4);
        lanesb = _mm_add_epi32(lanesb, stepb4);
    }
#endif
    for (; i < count; i++) {
        out[i] = pair_sample(pairs_a[pa >> VOICE_FRAC_BITS], pa & VOICE_FRAC_MASK, volume_a) +
                 pair_sample(pairs_b[pb >> VOICE_FRAC_BITS], pb & VOICE_FRAC_MASK, volume_b);
        pa += sa;
        pb += sb;
    }
    a->pos = pa;
    b->pos = pb;
    a->left -= count;
    b->left -= count;
}

// ---------------------------------------------------------------------------
// Whole calls

// How a voice takes part in a call.
enum VoiceRole {
    ROLE_NONE,      // no source: adds nothing, keeps its state
    ROLE_STOPPED,   // step 0: adds nothing; prev and cur become 0
    ROLE_EACH,      // a state the runs do not cover: the definition's loop
    ROLE_MOVE,      // volume 0: moved on without computing samples
    ROLE_RUNS,      // audible: mixed in runs
};

static bool window_value(int32_t v) {
    return (v & VOICE_WINDOW_LOW_BITS) == 0 && v >= VOICE_WINDOW_MIN && v <= VOICE_WINDOW_MAX;
}

static VoiceRole role_of(const Voice *voice, int32_t *volume) {
    if (!voice || !voice->source) return ROLE_NONE;
    if (voice->step == 0) return ROLE_STOPPED;
    if (voice->step > static_cast<uint32_t>(VOICE_STEP_ONE) || voice->frac < 0 ||
        voice->frac > VOICE_FRAC_MASK || voice->read_index < 0 ||
        voice->read_index > VOICE_WINDOW_SAMPLES || !window_value(voice->prev) ||
        !window_value(voice->cur))
        return ROLE_EACH;
    *volume = voice->volume < 0 ? 0 : voice->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : voice->volume;
    return *volume == 0 ? ROLE_MOVE : ROLE_RUNS;
}

// out[0 .. count - 1] = 0, in plain stores (a side with no audible voice).
static void clear(int32_t *out, int count) {
    int i = 0;
#ifdef VOICE_MIX_SSE2
    for (; i + 4 <= count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_setzero_si128());
#endif
    for (; i < count; i++) out[i] = 0;
}

static void run_setup(VoiceRun *run, Voice *voice, int32_t volume) {
    run->voice = voice;
    run->step = voice->step;
    run->volume = volume;
}

// Moves a ROLE_MOVE voice on by `count` samples, run by run.
static void move_runs(Voice *voice, int count) {
    VoiceRun run;
    run_setup(&run, voice, 0);
    for (int done = 0; done < count;) {
        run_begin(&run, count - done, false);
        run.pos += static_cast<uint32_t>(run.left) * run.step;
        done += run.left;
        run_end(&run);
    }
}

// Mixes a ROLE_RUNS voice into out (adding, or storing when !add).
static void mix_runs(Voice *voice, int32_t volume, int32_t *out, int count, bool add) {
    VoiceRun run;
    run_setup(&run, voice, volume);
    for (int done = 0; done < count;) {
        run_begin(&run, count - done, true);
        const int n = run.left;
        mix_one(out + done, n, &run, add);
        done += n;
        run_end(&run);
    }
}

// Stores the sum of two ROLE_RUNS voices into out, both in one pass: the
// pass goes on until either run ends, which then refills and starts anew.
static void mix_runs_two(Voice *first, int32_t first_volume, Voice *second, int32_t second_volume,
                         int32_t *out, int count) {
    VoiceRun a, b;
    run_setup(&a, first, first_volume);
    run_setup(&b, second, second_volume);
    run_begin(&a, count, true);
    run_begin(&b, count, true);
    for (int done = 0; done < count;) {
        const int n = a.left < b.left ? a.left : b.left;
        mix_two(out + done, n, &a, &b);
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
// silent ones moved on, unusual states mixed by the definition's loop.
static void mix_other(Voice *voice, VoiceRole role, int32_t *out, int count) {
    switch (role) {
    case ROLE_STOPPED:
        voice->prev = 0;
        voice->cur = 0;
        break;
    case ROLE_EACH:
        mix_each(voice, out, count);
        break;
    case ROLE_MOVE:
        move_runs(voice, count);
        break;
    default:
        break;
    }
}

void voice_mix(Voice *voice, int32_t *out, int count) {
    if (!voice || !out || count <= 0) return;
    int32_t volume = 0;
    const VoiceRole role = role_of(voice, &volume);
    if (role == ROLE_RUNS) mix_runs(voice, volume, out, count, true);
    else mix_other(voice, role, out, count);
}

void voice_mix_side(Voice *first, Voice *second, int32_t *out, int count) {
    if (!out || count <= 0) return;
    int32_t first_volume = 0, second_volume = 0;
    const VoiceRole first_role = role_of(first, &first_volume);
    const VoiceRole second_role = role_of(second, &second_volume);
    if (first_role == ROLE_RUNS && second_role == ROLE_RUNS) {
        mix_runs_two(first, first_volume, second, second_volume, out, count);
    } else if (first_role == ROLE_RUNS) {
        mix_runs(first, first_volume, out, count, false);
    } else if (second_role == ROLE_RUNS) {
        mix_runs(second, second_volume, out, count, false);
    } else {
        clear(out, count);
    }
    if (first_role != ROLE_RUNS) mix_other(first, first_role, out, count);
    if (second_role != ROLE_RUNS) mix_other(second, second_role, out, count);
}

void voice_advance(Voice *voice, int count) {
    if (!voice || count <= 0) return;
    int32_t volume = 0;
    const VoiceRole role = role_of(voice, &volume);
    if (role == ROLE_RUNS || role == ROLE_MOVE) move_runs(voice, count);
    else if (role == ROLE_EACH) mix_each(voice, nullptr, count);
    else mix_other(voice, role, nullptr, count);
}
