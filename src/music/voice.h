// Voice: resamples one stream of signed 8-bit samples into a 32-bit mixing
// buffer, with linear interpolation and a volume of 0 to 64. Knows nothing
// of modules, patterns or effects: it pulls its samples 256 at a time from a
// source function it is given.
//
// Scales: a window entry is a signed 8-bit sample shifted left by 23
// ("window scale"); an output sample is in 16-bit scale, a full-scale 8-bit
// value s giving s x 256 before volume. One voice at volume 64 therefore
// adds -32768 .. 32512 per output sample; two voices sum to -65536 .. 65024.
#ifndef MUSIC_VOICE_H
#define MUSIC_VOICE_H

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

struct Voice {
    uint32_t rate;          // output sample rate in Hz
    uint32_t step;          // read advance per output sample, 16.16; 0 = silent
    int32_t prev;           // window sample before `cur`, window scale
    int32_t cur;            // window sample at `read_index`, window scale
    int32_t frac;           // position between prev and cur, 0 .. 65535 (65536 fresh)
    int32_t window[VOICE_WINDOW_SAMPLES];  // last 256 source samples, window scale
    int32_t volume;         // 0 .. 64
    int32_t read_index;     // index of `cur` in window; 256 forces a refill
    VoiceSource source;     // refills the window, or null (the voice adds nothing)
    void *source_user;      // first argument of `source`
    int32_t ended;          // 1 once the source reported the end of its
                            // data; cleared by the voice's owner
};

// Puts `voice` in its fresh state: `rate` = rate_hz, step 65536, prev and
// cur 0, frac 65536, read_index 256, volume 0, window zeroed, no source,
// ended 0.
// Null does nothing.
void voice_init(Voice *voice, uint32_t rate_hz);

// step = (hz x 65536) / rate, truncated, computed without wrapping and
// capped at VOICE_MAX_STEP. 0 Hz, or a voice whose rate is 0, gives step 0
// (the voice falls silent at its next mix). Null does nothing.
void voice_set_frequency(Voice *voice, uint32_t hz);

// volume = v clamped to 0 .. 64. Null does nothing.
void voice_set_volume(Voice *voice, int32_t v);

// Sets `source` and `source_user`; a null function makes the voice add
// nothing. Null voice does nothing.
void voice_set_source(Voice *voice, VoiceSource fn, void *user);

// read_index = 256: the next advance of the read position fetches a fresh
// window from the source. frac, prev and cur are kept. Null does nothing.
void voice_restart(Voice *voice);

// Calls the source for 256 fresh bytes and stores each, as a signed 8-bit
// sample shifted left by 23, into `window`; sets `ended` when the source
// reports the end of its data. Without a source the window is zeroed. Null
// does nothing.
void voice_refill(Voice *voice);

// Adds `count` output samples into out[0 .. count - 1]. Adds nothing when
// the voice has no source, or when its step is 0 (then prev and cur become
// 0). A null voice or out, or count <= 0, does nothing.
void voice_mix(Voice *voice, int32_t *out, int count);

// Moves the voice on by `count` output samples exactly as voice_mix would,
// adding nothing anywhere: the same read position, window refills (the
// source is called as mixing would call it), prev and cur. Used to skip
// through a song without mixing it. Null voice or count <= 0 does nothing.
void voice_advance(Voice *voice, int count);

#endif
