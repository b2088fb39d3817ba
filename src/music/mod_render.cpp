// Rendering a module player: mixing the voices in slices that end exactly
// at tick boundaries, running the sequencer between them, and the two
// converters to interleaved signed 16-bit and unsigned 8-bit stereo.
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(VOICE_PORTABLE_MIX)
#include <emmintrin.h>  // SSE2, part of every x86-64
#define RENDER_SSE2 1
#endif

#include "music/player_state_internal.h"
#include "music/sequencer_internal.h"
#include "music/stereo_halves_internal.h"
#include "music/voice_filter_internal.h"

// Frames converted per block: 8 KB of 32-bit scratch on the stack, so
// that no render call allocates, whatever the caller's frame count.
constexpr int RENDER_BLOCK_FRAMES = 1024;
// A plane value (two voices, -65536 .. 65024) to output scale at four
// channels' gain.
constexpr int RENDER_S16_SHIFT = 1;
constexpr int32_t RENDER_HALF_GAIN = 32768;
constexpr int RENDER_GAIN_SHIFT = 16;
constexpr int RENDER_U8_SHIFT = 8;
constexpr int RENDER_U8_SILENCE = 128;
// Frames of a volume ramp whose gains are laid out at once.
constexpr int RENDER_RAMP_BLOCK = 256;
// Entries fill_gains may write past the ones asked for.
constexpr int RENDER_FILL_SLACK = 3;

// plane[0 .. n - 1] = 0 in 16-byte stores, inline (memset's string store
// counts once per byte in callgrind, which the cost measurement uses).
static void clear_plane(int32_t *plane, int n) {
    int i = 0;
#ifdef RENDER_SSE2
    for (; i + 4 <= n; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i *>(plane + i), _mm_setzero_si128());
#endif
    for (; i < n; i++) plane[i] = 0;
}

// lefts[0 .. n - 1] = left and rights[0 .. n - 1] = right; with SSE2 in
// 16-byte stores that may also write up to 3 entries past n (the arrays
// have that room, and what follows is filled after).
static void fill_gains(int32_t *lefts, int32_t *rights, int n, int32_t left, int32_t right) {
#ifdef RENDER_SSE2
    const __m128i l = _mm_set1_epi32(left), r = _mm_set1_epi32(right);
    for (int i = 0; i < n; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(lefts + i), l);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rights + i), r);
    }
#else
    for (int i = 0; i < n; i++) {
        lefts[i] = left;
        rights[i] = right;
    }
#endif
}

// Moves a voice on by `n` frames without mixing it when what it has left
// to play is silence: its channel is not playing (so its stream only
// delivers zeros) and nothing but zeros remains in its window. Returns 1
// when the voice was moved on so, 0 when it is to be mixed.
static int pass_silent_voice(ModPlayer *player, int index, int n) {
    return !player->channels[index].playing && voice_pass_silence(&player->voices[index], n);
}

// Mixes the voices of one side pinned to it (`voices`, `count` of them)
// into `plane`: silent ones only moved on, then of the rest the first pair
// stored, the next pairs added, a last voice alone added; a side without
// voices to mix is cleared.
static void mix_side_voices(ModPlayer *player, const uint8_t *voices, int count, int32_t *plane, int n) {
    Voice *mixed[SONG_MAX_CHANNELS];
    int m = 0;
    for (int i = 0; i < count; i++)
        if (!pass_silent_voice(player, voices[i], n)) mixed[m++] = &player->voices[voices[i]];
    if (m == 0) {
        clear_plane(plane, n);
        return;
    }
    voice_mix_side(mixed[0], m > 1 ? mixed[1] : nullptr, plane, n);
    int i = 2;
    for (; i + 1 < m; i += 2) voice_mix_side_add(mixed[i], mixed[i + 1], plane, n);
    if (i < m) voice_mix(mixed[i], plane, n);
}

// Mixes a panned voice for `n` frames from frame `at` of the tick into both
// planes, adding, or with `store` storing (the planes holding nothing yet).
// Within the tick's first ramp_frames frames a voice whose gains changed
// this tick plays them in MOD_RAMP_STEPS steps from the gains it ended the
// last tick with (step k of the way at k + 1 / steps + 1); the steps lie at
// fixed frames of the tick, so any slicing of a render gives the same
// values.
static void mix_panned(const ModPlayer *player, Voice *voice, const Channel *c, int32_t *left, int32_t *right,
                       int n, uint32_t at, bool store) {
    const uint32_t ramp = player->ramp_frames;
    const int32_t to_left = voice->gain_left, to_right = voice->gain_right;
    if (at >= ramp || (c->ramp_left == to_left && c->ramp_right == to_right)) {
        if (store) voice_mix_stereo_store(voice, left, right, n);
        else voice_mix_stereo(voice, left, right, n);
        return;
    }
    // The ramped frames, their gains a block at a time into one call each;
    // then the rest at the voice's gains.
    const uint32_t step_frames = ramp / MOD_RAMP_STEPS;
    const int ramped = ramp - at < static_cast<uint32_t>(n) ? static_cast<int>(ramp - at) : n;
    int32_t gains_left[RENDER_RAMP_BLOCK + RENDER_FILL_SLACK], gains_right[RENDER_RAMP_BLOCK + RENDER_FILL_SLACK];
    for (int done = 0; done < ramped;) {
        const int block = ramped - done < RENDER_RAMP_BLOCK ? ramped - done : RENDER_RAMP_BLOCK;
        for (int k = 0; k < block;) {
            const uint32_t frame = at + static_cast<uint32_t>(done + k);
            const int step = static_cast<int>(frame / step_frames);
            const uint32_t step_end = (static_cast<uint32_t>(step) + 1) * step_frames;
            int count = block - k;
            if (static_cast<uint32_t>(count) > step_end - frame) count = static_cast<int>(step_end - frame);
            const int32_t gain_left = c->ramp_left + (to_left - c->ramp_left) * (step + 1) / (MOD_RAMP_STEPS + 1);
            const int32_t gain_right = c->ramp_right + (to_right - c->ramp_right) * (step + 1) / (MOD_RAMP_STEPS + 1);
            fill_gains(gains_left + k, gains_right + k, count, gain_left, gain_right);
            k += count;
        }
        if (store) voice_mix_stereo_gains_store(voice, left + done, right + done, gains_left, gains_right, block);
        else voice_mix_stereo_gains(voice, left + done, right + done, gains_left, gains_right, block);
        done += block;
    }
    if (ramped < n && store) voice_mix_stereo_store(voice, left + ramped, right + ramped, n - ramped);
    else if (ramped < n) voice_mix_stereo(voice, left + ramped, right + ramped, n - ramped);
}

// Whether a panned voice adds nothing to the planes in a slice from frame
// `at` of the tick: stopped, without a source, or at gains 0 and not
// ramping from others.
static bool adds_nothing(const ModPlayer *player, const Voice *voice, const Channel *c, uint32_t at) {
    if (voice->step == 0 || (!voice->source && !voice->wide_source)) return true;
    if (voice->gain_left != 0 || voice->gain_right != 0) return false;
    return at >= player->ramp_frames || (c->ramp_left == 0 && c->ramp_right == 0);
}

// Mixes a voice with its own gains for both sides into the planes (a
// channel's panned voice or a pool voice), through its filter when it has
// one on: only moved on when what it has left is silence (and its filter
// rings no more); while *empty (the planes hold nothing yet) the first
// that sounds stores instead of adding, and *empty becomes false.
static void mix_both_sides(const ModPlayer *player, Voice *voice, Channel *c, int32_t *left, int32_t *right, int n,
                           uint32_t at, bool *empty) {
    if (c->filter.on) {
        if (!c->playing && c->filter.y1 == 0 && c->filter.y2 == 0 && voice_pass_silence(voice, n)) return;
        voice_mix_filtered(voice, &c->filter, left, right, n, *empty);
        *empty = false;
        return;
    }
    if (!c->playing && voice_pass_silence(voice, n)) return;
    if (*empty && adds_nothing(player, voice, c, at)) {
        // Not the one to store: it only moves on (or, stopped, drops its
        // prev and cur).
        voice_mix_stereo(voice, left, right, n);
        return;
    }
    if (player->ramp_frames != 0) mix_panned(player, voice, c, left, right, n, at, *empty);
    else if (*empty) voice_mix_stereo_store(voice, left, right, n);
    else voice_mix_stereo(voice, left, right, n);
    *empty = false;
}

// One slice of `n` frames of every voice into the two planes, from frame
// `at` of the tick. Without voices pinned to a side the first panned voice
// that sounds stores into the planes rather than adding to cleared ones.
static void mix_slice(ModPlayer *player, int32_t *left, int32_t *right, int n, uint32_t at) {
    const ModPlayerLayout *layout = &player->layout;
    bool empty = layout->left_count == 0 && layout->right_count == 0;
    if (!empty) {
        // Each side's pinned voices in pairs, stored first: no clearing first.
        mix_side_voices(player, layout->left, layout->left_count, left, n);
        mix_side_voices(player, layout->right, layout->right_count, right, n);
    }
    for (int i = 0; i < layout->panned_count; i++) {
        const int v = layout->panned[i];
        mix_both_sides(player, &player->voices[v], &player->channels[v], left, right, n, at, &empty);
    }
    // The pool's voices: with their own gains, after the channels'.
    for (int i = 0; i < player->pool_size; i++) {
        PoolVoice *v = &player->pool[i];
        if (v->active) mix_both_sides(player, &v->voice, &v->state, left, right, n, at, &empty);
    }
    // The right halves of stereo samples.
    for (int i = 0; i < player->half_count; i++) {
        StereoHalf *h = &player->halves[i];
        mix_both_sides(player, &h->voice, &h->stream, left, right, n, at, &empty);
    }
    if (empty) {
        clear_plane(left, n);
        clear_plane(right, n);
    }
}

void mod_player_render(ModPlayer *player, int32_t *accum, int frames) {
    if (!accum || frames <= 0) return;
    const size_t plane = static_cast<size_t>(frames);
    int32_t *left = accum;
    int32_t *right = accum + plane;
    if (!player || player->finished) {
        memset(accum, 0, 2 * plane * sizeof(int32_t));
        return;
    }
    // A seek's landing row is told before anything of it is heard.
    if (player->landing_pending) mod_player_announce_row(player);

    int pos = 0;
    while (pos < frames) {
        int n = player->samples_per_tick > player->tick_sample
                    ? static_cast<int>(player->samples_per_tick - player->tick_sample) : 0;
        if (n > frames - pos) n = frames - pos;
        mix_slice(player, left + pos, right + pos, n, player->tick_sample);
        player->tick_sample += static_cast<uint32_t>(n);
        pos += n;
        if (player->tick_sample < player->samples_per_tick) return;
        mod_player_finish_tick(player);
        if (player->finished) {
            // The rest of the planes stays silent.
            const size_t rest = plane - static_cast<size_t>(pos);
            memset(left + pos, 0, rest * sizeof(int32_t));
            memset(right + pos, 0, rest * sizeof(int32_t));
            return;
        }
    }
}

// A plane value at `gain` (65536 = 1) in 16-bit output scale, rounded down
// and saturated. The product stays within 2^52: 32 voices add at most 2^21
// a plane, gains are below 2^17.
static inline int16_t scaled_sample(int32_t value, int32_t gain) {
    const int64_t v = (static_cast<int64_t>(value) * gain) >> RENDER_GAIN_SHIFT;
    return static_cast<int16_t>(v < INT16_MIN ? INT16_MIN : v > INT16_MAX ? INT16_MAX : v);
}

// Interleaves the two planes of `n` frames into signed 16-bit pairs at the
// player's output gain.
static void planes_to_s16(const int32_t *left, const int32_t *right, int16_t *o, int n, int32_t gain) {
    int i = 0;
    if (gain != RENDER_HALF_GAIN) {
#ifdef RENDER_SSE2
        // A gain below 2^15 (more than four channels): with v = 65536 h + l
        // (l the low 16 bits, unsigned), v x gain >> 16 is h x gain + (l x
        // gain >> 16) exactly: one pmaddwd of v against (0, gain) (h being
        // v's high half) and one unsigned high multiply against (gain, 0)
        // (whose high half gives 0).
        if (gain > 0 && gain < RENDER_HALF_GAIN) {
            const __m128i g = _mm_set1_epi32(gain);
            const __m128i g_high = _mm_slli_epi32(g, RENDER_GAIN_SHIFT);
            for (; i + 4 <= n; i += 4) {
                const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + i));
                const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + i));
                const __m128i ls = _mm_add_epi32(_mm_madd_epi16(l, g_high), _mm_mulhi_epu16(l, g));
                const __m128i rs = _mm_add_epi32(_mm_madd_epi16(r, g_high), _mm_mulhi_epu16(r, g));
                const __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(ls, rs), _mm_unpackhi_epi32(ls, rs));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 2 * i), pairs);
            }
        }
#endif
        for (; i < n; i++) {
            o[2 * i] = scaled_sample(left[i], gain);
            o[2 * i + 1] = scaled_sample(right[i], gain);
        }
        return;
    }
    // Half gain, a shift by 1: (x x 32768) >> 16 is x >> 1.
#ifdef RENDER_SSE2
    for (; i + 4 <= n; i += 4) {
        const __m128i l = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(left + i)),
                                         RENDER_S16_SHIFT);
        const __m128i r = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(right + i)),
                                         RENDER_S16_SHIFT);
        // Saturating, as scaled_sample: four channels' halved values always
        // fit 16 bits.
        const __m128i pairs = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 2 * i), pairs);
    }
#endif
    for (; i < n; i++) {
        o[2 * i] = scaled_sample(left[i], RENDER_HALF_GAIN);
        o[2 * i + 1] = scaled_sample(right[i], RENDER_HALF_GAIN);
    }
}

static inline uint8_t half_gain_u8(int32_t value) {
    int32_t v = value >> (RENDER_S16_SHIFT + RENDER_U8_SHIFT);
    v = v < INT8_MIN ? INT8_MIN : v > INT8_MAX ? INT8_MAX : v;
    return static_cast<uint8_t>(v + RENDER_U8_SILENCE);
}

static int32_t output_gain(const ModPlayer *player) {
    return player ? player->output_gain : RENDER_HALF_GAIN;
}

void mod_player_render_s16(ModPlayer *player, int16_t *out, int frames) {
    if (!out || frames <= 0) return;
    int32_t scratch[2 * RENDER_BLOCK_FRAMES];
    for (int done = 0; done < frames;) {
        int n = frames - done < RENDER_BLOCK_FRAMES ? frames - done : RENDER_BLOCK_FRAMES;
        mod_player_render(player, scratch, n);
        planes_to_s16(scratch, scratch + n, out + 2 * static_cast<size_t>(done), n, output_gain(player));
        done += n;
    }
}

void mod_player_render_u8(ModPlayer *player, uint8_t *out, int frames) {
    if (!out || frames <= 0) return;
    int32_t scratch[2 * RENDER_BLOCK_FRAMES];
    const int32_t gain = output_gain(player);
    for (int done = 0; done < frames;) {
        int n = frames - done < RENDER_BLOCK_FRAMES ? frames - done : RENDER_BLOCK_FRAMES;
        mod_player_render(player, scratch, n);
        uint8_t *o = out + 2 * static_cast<size_t>(done);
        if (gain == RENDER_HALF_GAIN) {
            // Half gain: the top byte of x >> 1 is x >> 9, saturated.
            for (int i = 0; i < n; i++) {
                o[2 * i] = half_gain_u8(scratch[i]);
                o[2 * i + 1] = half_gain_u8(scratch[n + i]);
            }
        } else {
            for (int i = 0; i < n; i++) {
                o[2 * i] = static_cast<uint8_t>((scaled_sample(scratch[i], gain) >> RENDER_U8_SHIFT) + RENDER_U8_SILENCE);
                o[2 * i + 1] =
                    static_cast<uint8_t>((scaled_sample(scratch[n + i], gain) >> RENDER_U8_SHIFT) + RENDER_U8_SILENCE);
            }
        }
        done += n;
    }
}
