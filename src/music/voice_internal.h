// Voice: resamples one stream of signed 8- or 16-bit samples into 32-bit
// mixing buffers, with linear interpolation, and a volume of 0 to 64 (one
// plane) or a gain per side (two planes). Knows nothing of modules,
// patterns or effects: it pulls its samples 256 at a time from a source
// function it is given.
//
// Scales: a window entry is a signed 8-bit sample shifted left by 23, or a
// signed 16-bit sample shifted left by 15 ("window scale": an 8-bit sample
// s and the 16-bit sample s x 256 are the same entry); an output sample is
// in 16-bit scale, a full-scale 8-bit value s giving s x 256 before volume.
// One voice at volume 64 (gain 16384) therefore adds -32768 .. 32512 per
// output sample from 8-bit data (-32768 .. 32767 from 16-bit); two voices
// sum to -65536 .. 65024.
#ifndef MUSIC_VOICE_INTERNAL_H
#define MUSIC_VOICE_INTERNAL_H

#include <cstdint>

// Source samples fetched per refill, and the size of the voice's window.
constexpr int VOICE_WINDOW_SAMPLES = 256;
// 1.0 in the 16.16 step and fraction.
constexpr int32_t VOICE_STEP_ONE = 65536;
// Loudest volume; volumes are clamped to 0 .. VOICE_MAX_VOLUME.
constexpr int32_t VOICE_MAX_VOLUME = 64;
// The largest step a voice takes: 255 source samples per output sample.
// Bounding it keeps one advance within the current and the next window and
// keeps `frac` + step far from overflow; the module player never gets near
// it (its fastest note is under one source sample per output sample).
constexpr uint32_t VOICE_MAX_STEP = 255u * 65536u;

// Fills `buffer` with the next VOICE_WINDOW_SAMPLES signed 8-bit samples of
// the stream; `user` is the voice's `source_user`. Returns nonzero when the
// stream's data ended in this buffer (what follows the end is zeros), else
// 0. The voice only records the end (`ended`): what to do about it is its
// owner's decision, the module player's render loop stopping the voice at
// the end of the tick.
typedef int (*VoiceSource)(void *user, int8_t *buffer);

// The same for a stream of signed 16-bit samples: fills `buffer` with the
// next VOICE_WINDOW_SAMPLES of them, returning nonzero when the data ended
// in this buffer.
typedef int (*VoiceWideSource)(void *user, int16_t *buffer);

// A side's gain that passes a sample unchanged: volume 64. Gains are
// clamped to 0 .. VOICE_MAX_GAIN; a volume v mixes as the gain v x 256.
constexpr int32_t VOICE_MAX_GAIN = 16384;

struct Voice {
    uint32_t rate;          // output sample rate in Hz
    uint32_t step;          // read advance per output sample, 16.16; 0 = silent
    int32_t prev;           // window sample before `cur`, window scale
    int32_t cur;            // window sample at `read_index`, window scale
    int32_t frac;           // position between prev and cur, 0 .. 65535 (65536 fresh)
    int32_t window[VOICE_WINDOW_SAMPLES];  // last 256 source samples, window scale
    int32_t volume;         // 0 .. 64
    int32_t read_index;     // index of `cur` in window; 256 forces a refill
    VoiceSource source;     // refills the window with 8-bit samples, or null
    void *source_user;      // first argument of `source` or `wide_source`
    int32_t ended;          // 1 once the source reported the end of its
                            // data; cleared by the voice's owner
    VoiceWideSource wide_source;  // refills it with 16-bit samples instead, or
                                  // null; with neither the voice adds nothing
    int32_t wide_window;    // 1 when the window was last filled with 16-bit samples
    int32_t gain_left;      // voice_mix_stereo's gains, 0 .. VOICE_MAX_GAIN
    int32_t gain_right;
};

// Puts `voice` in its fresh state: `rate` = rate_hz, step 65536, prev and
// cur 0, frac 65536, read_index 256, volume and gains 0, window zeroed (and
// not wide), no source, ended 0.
// Null does nothing.
void voice_init(Voice *voice, uint32_t rate_hz);

// step = (hz x 65536) / rate, truncated, computed without wrapping and
// capped at VOICE_MAX_STEP. 0 Hz, or a voice whose rate is 0, gives step 0
// (the voice falls silent at its next mix). Null does nothing.
void voice_set_frequency(Voice *voice, uint32_t hz);

// volume = v clamped to 0 .. 64. Null does nothing.
void voice_set_volume(Voice *voice, int32_t v);

// Sets `source` and `source_user`, and no wide source; a null function
// makes the voice add nothing. Null voice does nothing.
void voice_set_source(Voice *voice, VoiceSource fn, void *user);

// Sets `wide_source` and `source_user`, and no 8-bit source; a null
// function makes the voice add nothing. Null voice does nothing.
void voice_set_wide_source(Voice *voice, VoiceWideSource fn, void *user);

// gain_left and gain_right = left and right, each clamped to 0 ..
// VOICE_MAX_GAIN. Null does nothing.
void voice_set_gains(Voice *voice, int32_t left, int32_t right);

// read_index = 256: the next advance of the read position fetches a fresh
// window from the source. frac, prev and cur are kept. Null does nothing.
void voice_restart(Voice *voice);

// Calls the source for 256 fresh samples and stores each into `window`:
// an 8-bit sample shifted left by 23, a 16-bit one (from the wide source)
// shifted left by 15, setting wide_window to match; sets `ended` when the
// source reports the end of its data. Without a source the window is
// zeroed. Null does nothing.
void voice_refill(Voice *voice);

// Adds `count` output samples into out[0 .. count - 1]. Adds nothing when
// the voice has no source, or when its step is 0 (then prev and cur become
// 0). A null voice or out, or count <= 0, does nothing.
//
// The definition, one output sample at a time (every mixing call and
// voice_advance move the voice exactly so, whatever path computes it):
//   1. s = (((cur - prev) >> 20) x frac) >> 11) + (prev >> 15), in signed
//      32-bit arithmetic with arithmetic shifts: the linear interpolation
//      between prev and cur in 16-bit scale;
//   2. out[i] += (s x volume) >> 6 (two planes: left[i] += (s x gain_left)
//      >> 14 and right[i] += (s x gain_right) >> 14);
//   3. frac += step; when frac passes 65535, read_index += frac >> 16, frac
//      keeps its low 16 bits, a read_index past 255 keeps its low 8 bits
//      and the window is refilled, then prev = cur and cur =
//      window[read_index].
// A 16-bit difference keeps 11 bits in the slope term (cur - prev >> 20);
// an 8-bit one keeps all of its.
void voice_mix(Voice *voice, int32_t *out, int count);

// Mixes the two voices of one stereo side in one pass and stores their sum:
// out[i] = first's sample i + second's sample i, exactly what clearing out
// and then voice_mix(first) and voice_mix(second) give. A null voice
// counts as one without a source. Null out or count <= 0 does nothing.
void voice_mix_side(Voice *first, Voice *second, int32_t *out, int count);

// As voice_mix_side, but adds the sum to what out holds.
void voice_mix_side_add(Voice *first, Voice *second, int32_t *out, int count);

// Adds `count` output samples into both planes: left[i] += (s x gain_left)
// >> 14 and right[i] += (s x gain_right) >> 14 for the voice's sample s.
// Adds nothing when the voice has no source or its step is 0 (then prev
// and cur become 0). A null voice, left or right, or count <= 0, does
// nothing.
void voice_mix_stereo(Voice *voice, int32_t *left, int32_t *right, int count);

// As voice_mix_stereo, but stores the voice's samples (0 where it adds
// nothing) instead of adding them: what clearing both planes first and
// then voice_mix_stereo give.
void voice_mix_stereo_store(Voice *voice, int32_t *left, int32_t *right, int count);

// As voice_mix_stereo, but output sample i at the gains gains_left[i] and
// gains_right[i] instead of the voice's, which are neither used nor
// changed: what calling voice_mix_stereo sample by sample with those gains
// set gives. The gains must lie within 0 .. VOICE_MAX_GAIN (they are not
// clamped here: a volume ramp's gains, between two clamped ones, always
// do); outside it the samples are unspecified. A null voice, plane or gain
// array, or count <= 0, does nothing.
void voice_mix_stereo_gains(Voice *voice, int32_t *left, int32_t *right, const int32_t *gains_left,
                            const int32_t *gains_right, int count);

// As voice_mix_stereo_gains, but storing (as voice_mix_stereo_store).
void voice_mix_stereo_gains_store(Voice *voice, int32_t *left, int32_t *right, const int32_t *gains_left,
                                  const int32_t *gains_right, int count);

// Moves the voice on by `count` output samples exactly as voice_mix would,
// adding nothing anywhere: the same read position, window refills (the
// source is called as mixing would call it), prev and cur. Used to skip
// through a song without mixing it. Null voice or count <= 0 does nothing.
void voice_advance(Voice *voice, int count);

// For a voice whose source, for the next `count` output samples, would
// only deliver zeros and do nothing else when called (the module player's
// stream of a channel that is not playing): when prev, cur and the window
// ahead of read_index are all 0 too, every one of those samples is 0, so
// the voice is moved on as voice_advance would move it (the same frac and
// read_index; a refill leaves a zeroed window, wide when the voice has a
// wide source) without calling the source, and the result is 1. Otherwise,
// or for a voice without a source, with step 0 or with a state outside the
// definition's ranges, the voice is left as it is and the result is 0.
// Null voice or count <= 0: 0.
int voice_pass_silence(Voice *voice, int count);

#endif
