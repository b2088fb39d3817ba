// The voice resampler and the voice bank: step figures, interpolation,
// window refills across 256, restarts, volume, silence, pairing of sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "music/mod_player.h"
#include "music/voice_internal.h"
#include "music/voice_bank_internal.h"
#include "music/voice_filter_internal.h"
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "support/music_reference.h"

namespace {

// A source delivering a known endless stream: sample j is stream_value(j).
struct CountingSource {
    int64_t next;   // index of the next stream sample to deliver
    int refills;
};

int8_t stream_value(int64_t j) {
    return static_cast<int8_t>(((j * 37) % 251) - 125);
}

int counting_source(void *user, int8_t *buffer) {
    CountingSource *s = static_cast<CountingSource *>(user);
    for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++) buffer[i] = stream_value(s->next + i);
    s->next += VOICE_WINDOW_SAMPLES;
    s->refills++;
    return 0;
}

int constant_source(void *user, int8_t *buffer) {
    memset(buffer, *static_cast<int8_t *>(user), VOICE_WINDOW_SAMPLES);
    return 0;
}

}  // namespace

TEST(MusicVoice, InitAndSetters) {
    Voice v;
    memset(&v, 0x5A, sizeof v);
    voice_init(&v, 44100);
    EXPECT_EQ(v.rate, 44100u);
    EXPECT_EQ(v.step, 65536u);
    EXPECT_EQ(v.prev, 0);
    EXPECT_EQ(v.cur, 0);
    EXPECT_EQ(v.frac, 65536);
    EXPECT_EQ(v.read_index, 256);
    EXPECT_EQ(v.volume, 0);
    EXPECT_EQ(v.source, nullptr);
    for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++) ASSERT_EQ(v.window[i], 0);

    // 8287 Hz (period 428) at 44100 Hz: 8287 x 65536 / 44100 = 12315.2.
    voice_set_frequency(&v, 8287);
    EXPECT_EQ(v.step, 12315u);
    voice_set_frequency(&v, 44100);
    EXPECT_EQ(v.step, 65536u);
    // Frequencies whose 32-bit product would wrap still give the right step.
    voice_set_frequency(&v, 70000);
    EXPECT_EQ(v.step, static_cast<uint32_t>(70000ull * 65536 / 44100));
    voice_set_frequency(&v, 4000000000u);
    EXPECT_EQ(v.step, VOICE_MAX_STEP);
    voice_set_frequency(&v, 0);
    EXPECT_EQ(v.step, 0u);

    voice_set_volume(&v, 80);
    EXPECT_EQ(v.volume, 64);
    voice_set_volume(&v, -5);
    EXPECT_EQ(v.volume, 0);
    voice_set_volume(&v, 33);
    EXPECT_EQ(v.volume, 33);

    v.read_index = 17;
    voice_restart(&v);
    EXPECT_EQ(v.read_index, 256);

    Voice zero_rate;
    voice_init(&zero_rate, 0);
    voice_set_frequency(&zero_rate, 8287);
    EXPECT_EQ(zero_rate.step, 0u);

    // Null voices are ignored.
    voice_init(nullptr, 1);
    voice_set_frequency(nullptr, 1);
    voice_set_volume(nullptr, 1);
    voice_restart(nullptr);
    voice_mix(nullptr, nullptr, 5);
}

TEST(MusicVoice, UnitStepReadsEverySampleAcrossRefills) {
    // A fresh voice starts with frac 65536 at index 256: its first advance
    // lands on entry 2, so stream samples 0 and 1 are never heard and
    // output k (k >= 2) is exactly stream sample k in 16-bit scale.
    Voice v;
    voice_init(&v, 44100);
    CountingSource src = {0, 0};
    voice_set_source(&v, counting_source, &src);
    voice_set_volume(&v, 64);
    const int n = 1000;
    std::vector<int32_t> out(n, 0);
    voice_mix(&v, out.data(), n);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    for (int k = 2; k < n; k++) ASSERT_EQ(out[k], stream_value(k) * 256) << "output " << k;
    // One refill per 256 source samples, the first at the first advance.
    EXPECT_EQ(src.refills, 4);
}

TEST(MusicVoice, DoubleStepReadsEverySecondSample) {
    Voice v;
    voice_init(&v, 44100);
    CountingSource src = {0, 0};
    voice_set_source(&v, counting_source, &src);
    voice_set_volume(&v, 64);
    v.step = 131072;
    const int n = 600;
    std::vector<int32_t> out(n, 0);
    voice_mix(&v, out.data(), n);
    // The first advance lands on entry 3 (frac 65536 + 131072), then every
    // second sample: output k is stream sample 2k - 1.
    for (int k = 2; k < n; k++) ASSERT_EQ(out[k], stream_value(2 * k - 1) * 256) << "output " << k;
}

TEST(MusicVoice, HalfStepInterpolatesMidpoints) {
    Voice v;
    voice_init(&v, 44100);
    CountingSource src = {0, 0};
    voice_set_source(&v, counting_source, &src);
    voice_set_volume(&v, 64);
    v.step = 32768;
    const int n = 700;
    std::vector<int32_t> out(n, 0);
    voice_mix(&v, out.data(), n);
    // After the first advance (to entry 1) the read position moves half a
    // sample per output: whole samples and exact midpoints alternate.
    for (int k = 2; k < n; k++) {
        int j = k / 2;  // sample at or before the read position
        if (k % 2 == 0) {
            ASSERT_EQ(out[k], stream_value(j) * 256) << k;
        } else {
            ASSERT_EQ(out[k], (stream_value(j) + stream_value(j + 1)) * 128) << k;
        }
    }
    // A quarter step on a rising pair lands a quarter of the way.
    Voice q;
    voice_init(&q, 44100);
    int8_t unused = 0;
    voice_set_source(&q, constant_source, &unused);
    voice_set_volume(&q, 64);
    q.step = 16384;
    q.prev = 0;
    q.cur = 100 * (1 << 23);
    q.frac = 16384;
    q.read_index = 5;
    int32_t one = 0;
    voice_mix(&q, &one, 1);
    EXPECT_EQ(one, 100 * 256 / 4);
}

TEST(MusicVoice, VolumeScalesAndAccumulates) {
    Voice v;
    voice_init(&v, 44100);
    int8_t value = 100;
    voice_set_source(&v, constant_source, &value);
    voice_set_volume(&v, 32);
    std::vector<int32_t> out(10, 1000);  // mixing adds to what is there
    voice_mix(&v, out.data(), 10);
    for (int k = 2; k < 10; k++) EXPECT_EQ(out[k], 1000 + 100 * 256 / 2);
    voice_set_volume(&v, 0);
    std::vector<int32_t> quiet(10, 7);
    voice_mix(&v, quiet.data(), 10);
    for (int k = 0; k < 10; k++) EXPECT_EQ(quiet[k], 7);
}

TEST(MusicVoice, SilentVoices) {
    // No source: nothing is added and nothing changes.
    Voice v;
    voice_init(&v, 44100);
    voice_set_volume(&v, 64);
    std::vector<int32_t> out(100, 3);
    voice_mix(&v, out.data(), 100);
    for (int32_t s : out) EXPECT_EQ(s, 3);
    EXPECT_EQ(v.read_index, 256);

    // Step 0 (0 Hz): prev and cur drop to 0 and nothing is added.
    int8_t value = 90;
    voice_set_source(&v, constant_source, &value);
    voice_mix(&v, out.data(), 100);
    EXPECT_NE(v.cur, 0);
    voice_set_frequency(&v, 0);
    std::vector<int32_t> after(50, 0);
    voice_mix(&v, after.data(), 50);
    for (int32_t s : after) EXPECT_EQ(s, 0);
    EXPECT_EQ(v.prev, 0);
    EXPECT_EQ(v.cur, 0);
}

TEST(MusicVoice, RestartFetchesFreshWindowSkippingEntryZero) {
    // Refill n delivers the stream again from 0: after a restart the voice
    // reads entry 1 of a fresh window.
    struct Resetting {
        int refills;
    } state = {0};
    auto source = [](void *user, int8_t *buffer) {
        Resetting *s = static_cast<Resetting *>(user);
        s->refills++;
        for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++) buffer[i] = static_cast<int8_t>(s->refills * 10 + (i % 8));
        return 0;
    };
    Voice v;
    voice_init(&v, 44100);
    voice_set_source(&v, source, &state);
    voice_set_volume(&v, 64);
    std::vector<int32_t> out(40, 0);
    voice_mix(&v, out.data(), 40);
    EXPECT_EQ(state.refills, 1);
    int32_t before_prev = v.cur;  // becomes prev at the next advance
    voice_restart(&v);
    // frac is now 0 (unit step): the first output still interpolates the
    // old pair (prev), then the advance fetches the new window's entry 1.
    std::vector<int32_t> next(3, 0);
    voice_mix(&v, next.data(), 3);
    EXPECT_EQ(state.refills, 2);
    EXPECT_EQ(next[1], (before_prev >> 15));
    EXPECT_EQ(next[2], (2 * 10 + 1) * 256);
}

TEST(MusicVoice, AnEndReportedByTheSourceIsOnlyRecorded) {
    // The source's second window ends its data after 10 samples; the voice
    // records the end and plays on through the zeros: stopping it is its
    // owner's decision.
    int calls = 0;
    auto source = [](void *user, int8_t *buffer) {
        int *n = static_cast<int *>(user);
        ++*n;
        memset(buffer, 0, VOICE_WINDOW_SAMPLES);
        memset(buffer, 50, *n == 1 ? VOICE_WINDOW_SAMPLES : 10);
        return *n == 2 ? 1 : 0;
    };
    Voice v;
    voice_init(&v, 44100);
    voice_set_source(&v, source, &calls);
    voice_set_volume(&v, 64);
    std::vector<int32_t> out(300, 0);
    voice_mix(&v, out.data(), 200);
    EXPECT_EQ(v.ended, 0);
    voice_mix(&v, out.data() + 200, 100);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(v.ended, 1);
    EXPECT_EQ(v.step, 65536u);
    EXPECT_EQ(out[260], 50 * 256);  // the second window's 10 samples
    EXPECT_EQ(out[299], 0);
}

TEST(MusicVoice, WideSamplesAndGainsPerSide) {
    // A 16-bit stream is heard at its full resolution: odd values, and
    // values an 8-bit stream cannot hold, come out as they are at unity.
    auto ramp16 = [](void *user, int16_t *buffer) {
        int *next = static_cast<int *>(user);
        for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++, ++*next) buffer[i] = static_cast<int16_t>(*next * 129 - 32768);
        return 0;
    };
    int next = 0;
    Voice v;
    voice_init(&v, 44100);
    voice_set_wide_source(&v, ramp16, &next);
    EXPECT_EQ(v.source, nullptr);
    voice_set_volume(&v, 64);
    std::vector<int32_t> out(600, 0);
    voice_mix(&v, out.data(), 600);
    EXPECT_EQ(v.wide_window, 1);
    for (int k = 2; k < 600; k++) ASSERT_EQ(out[k], static_cast<int16_t>(k * 129 - 32768)) << k;
    // Halfway between two 16-bit samples: the slope keeps 11 bits, so the
    // midpoint of 1000 and 1129 is 1000 + ((129 * 32 >> 5) * 32768 >> 11) >> 5.
    Voice half;
    voice_init(&half, 44100);
    voice_set_wide_source(&half, ramp16, &next);
    voice_set_volume(&half, 64);
    half.step = 32768;
    half.prev = 1000 * (1 << 15);
    half.cur = 1129 * (1 << 15);
    half.frac = 32768;
    half.read_index = 5;
    int32_t one = 0;
    voice_mix(&half, &one, 1);
    EXPECT_EQ(one, 1000 + ((((129 << 15) >> 20) * 32768) >> 11));

    // Two planes at their own gains; the one-plane calls keep the volume.
    Voice s;
    voice_init(&s, 44100);
    int8_t value = 100;
    voice_set_source(&s, constant_source, &value);
    voice_set_gains(&s, 16384, 4096);
    EXPECT_EQ(s.gain_left, 16384);
    EXPECT_EQ(s.gain_right, 4096);
    std::vector<int32_t> left(10, 5), right(10, 7);
    voice_mix_stereo(&s, left.data(), right.data(), 10);
    for (int k = 2; k < 10; k++) {
        EXPECT_EQ(left[k], 5 + 100 * 256);
        EXPECT_EQ(right[k], 7 + 100 * 256 / 4);
    }
    voice_set_gains(&s, 20000, -3);
    EXPECT_EQ(s.gain_left, 16384);
    EXPECT_EQ(s.gain_right, 0);
    // Both gains 0: the voice only moves on, as a silent one does.
    voice_set_gains(&s, 0, 0);
    Voice moved = s;
    std::vector<int32_t> quiet_left(300, 1), quiet_right(300, 2);
    voice_mix_stereo(&s, quiet_left.data(), quiet_right.data(), 300);
    voice_advance(&moved, 300);
    for (int k = 0; k < 300; k++) ASSERT_TRUE(quiet_left[k] == 1 && quiet_right[k] == 2) << k;
    EXPECT_EQ(s.read_index, moved.read_index);
    EXPECT_EQ(s.frac, moved.frac);
    voice_mix_stereo(nullptr, left.data(), right.data(), 10);
    voice_mix_stereo(&s, nullptr, right.data(), 10);
    voice_set_gains(nullptr, 1, 1);
    voice_set_wide_source(nullptr, ramp16, nullptr);
}

TEST(MusicVoiceBank, PairsZeroAndOneLeftTwoAndThreeRight) {
    int8_t value = 100;
    for (int lone = 0; lone < 4; lone++) {
        Voice voices[4];
        ASSERT_EQ(voice_bank_init(voices, 44100), voices);
        voice_set_source(&voices[lone], constant_source, &value);
        voice_set_volume(&voices[lone], 64);
        std::vector<uint8_t> out(2 * 3000, 0);
        voice_bank_mix_u8(voices, out.data(), 3000);
        bool left = lone <= 1;
        // 100 x 256 >> 9 = 50, plus 128.
        for (int i = 2; i < 3000; i++) {
            ASSERT_EQ(out[2 * i], left ? 178 : 128) << "voice " << lone;
            ASSERT_EQ(out[2 * i + 1], left ? 128 : 178) << "voice " << lone;
        }
    }
    // Both voices of a side at full scale: -128 x 256 x 2 >> 9 = -128 -> 0.
    int8_t low = -128;
    Voice voices[4];
    voice_bank_init(voices, 44100);
    for (int i = 0; i < 4; i++) {
        voice_set_source(&voices[i], constant_source, &low);
        voice_set_volume(&voices[i], 64);
    }
    std::vector<uint8_t> out(2 * 10, 99);
    voice_bank_mix_u8(voices, out.data(), 10);
    for (int i = 2; i < 10; i++) {
        EXPECT_EQ(out[2 * i], 0);
        EXPECT_EQ(out[2 * i + 1], 0);
    }
    EXPECT_EQ(voice_bank_init(nullptr, 1), nullptr);
}

TEST(MusicVoiceBank, PlayerPairsZeroAndThreeLeft) {
    // The player mixes voices 0 and 3 left, 1 and 2 right: a note on one
    // channel sounds on that channel's side only.
    for (int channel = 0; channel < 4; channel++) {
        ModBuilder b;
        modbuilder_init(&b);
        modbuilder_set_sample(&b, 1, std::vector<int8_t>(512, 60), 64, 0, 0, 512);
        modbuilder_set_cell(&b, 0, 0, channel, 1, 428, 0);
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        ModPlayer *p = mod_player_create(44100, bytes.data(), static_cast<long>(bytes.size()));
        ASSERT_NE(p, nullptr);
        std::vector<int32_t> accum(2 * 8000);
        mod_player_render(p, accum.data(), 8000);
        bool left = channel == 0 || channel == 3;
        int32_t left_peak = 0, right_peak = 0;
        for (int i = 0; i < 8000; i++) {
            left_peak = std::max(left_peak, std::abs(accum[i]));
            right_peak = std::max(right_peak, std::abs(accum[8000 + i]));
        }
        EXPECT_EQ(left_peak, left ? 60 * 256 : 0) << "channel " << channel;
        EXPECT_EQ(right_peak, left ? 0 : 60 * 256) << "channel " << channel;
        mod_player_destroy(p);
    }
}

namespace {

// A source of pseudo-random bytes that ends after `end_at` bytes (then
// zeros), reporting the end once, as a one-shot sample does.
struct NoiseSource {
    uint32_t state;
    int64_t delivered;
    int64_t end_at;   // < 0: never ends
};

int noise_source(void *user, int8_t *buffer) {
    NoiseSource *s = static_cast<NoiseSource *>(user);
    int ended = 0;
    for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++, s->delivered++) {
        s->state = s->state * 1664525u + 1013904223u;
        const bool over = s->end_at >= 0 && s->delivered >= s->end_at;
        ended |= s->end_at >= 0 && s->delivered == s->end_at;
        buffer[i] = over ? 0 : static_cast<int8_t>(s->state >> 24);
    }
    return ended;
}

// The same stream as 16-bit samples: each byte of noise_source's becomes
// the high byte, a second draw the low one.
int noise_source_wide(void *user, int16_t *buffer) {
    NoiseSource *s = static_cast<NoiseSource *>(user);
    int ended = 0;
    for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++, s->delivered++) {
        s->state = s->state * 1664525u + 1013904223u;
        const bool over = s->end_at >= 0 && s->delivered >= s->end_at;
        ended |= s->end_at >= 0 && s->delivered == s->end_at;
        buffer[i] = over ? 0 : static_cast<int16_t>(s->state >> 16);
    }
    return ended;
}

// Gives `to` the kind of source `from` has, reading `source`.
void same_source(Voice *to, const Voice *from, NoiseSource *source) {
    if (from->wide_source) voice_set_wide_source(to, noise_source_wide, source);
    else voice_set_source(to, noise_source, source);
}

struct Dice {
    uint32_t state;
    uint32_t next(uint32_t sides) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % sides;
    }
};

// A voice in a random state the mixer may meet: any step from very slow to
// unity (and sometimes beyond, or 0), any volume (also out of range), a
// fresh voice's fraction, a restart's read index, window values, or
// values no refill writes.
void random_voice(Voice *v, NoiseSource *source, Dice *dice) {
    voice_init(v, 44100);
    // A third of the voices stream 16-bit samples, their window holding
    // 16-bit values.
    const bool wide = dice->next(3) == 0;
    if (wide) voice_set_wide_source(v, noise_source_wide, source);
    else voice_set_source(v, noise_source, source);
    v->wide_window = wide;
    for (int32_t &w : v->window)
        w = wide ? (static_cast<int32_t>(dice->next(65536)) - 32768) * (1 << 15)
                 : (static_cast<int32_t>(dice->next(256)) - 128) * (1 << 23);
    v->gain_left = static_cast<int32_t>(dice->next(17000)) - 300;
    v->gain_right = dice->next(5) == 0 ? 0 : static_cast<int32_t>(dice->next(16385));
    const uint32_t kind = dice->next(10);
    v->step = kind == 0 ? 1 + dice->next(200) : kind == 1 ? 65536 : kind == 2 ? 65537 + dice->next(300000)
            : kind == 3 ? 0 : 1 + dice->next(65536);
    v->volume = static_cast<int32_t>(dice->next(90)) - 8;
    v->frac = dice->next(8) == 0 ? 65536 : static_cast<int32_t>(dice->next(65536));
    v->read_index = dice->next(6) == 0 ? 256 : static_cast<int32_t>(dice->next(256));
    v->prev = v->window[dice->next(256)];
    v->cur = v->window[dice->next(256)];
    if (dice->next(12) == 0) v->cur = static_cast<int32_t>(dice->next(1u << 30));  // not a window value
    source->state = dice->next(1u << 30);
    source->delivered = 0;
    source->end_at = dice->next(3) == 0 ? static_cast<int64_t>(dice->next(3000)) : -1;
}

void expect_same_voice(const Voice &a, const Voice &b, int round) {
    EXPECT_EQ(a.wide_window, b.wide_window) << round;
    EXPECT_EQ(a.prev, b.prev) << round;
    EXPECT_EQ(a.cur, b.cur) << round;
    EXPECT_EQ(a.frac, b.frac) << round;
    EXPECT_EQ(a.read_index, b.read_index) << round;
    EXPECT_EQ(a.ended, b.ended) << round;
    EXPECT_EQ(memcmp(a.window, b.window, sizeof a.window), 0) << round;
}

}  // namespace

// The run-based mixer against the definition, one sample at a time, on
// random voices of 8- and 16-bit samples, slower and faster than the
// output (the skipping runs), calls of random lengths: calls
// that add, the side pass that stores two voices and the one that adds
// them, the passes into two planes at a voice's gains or at gains per
// sample (adding and storing), moving on without
// output, and the sequencer's changes of step, volume, gains, sources and
// restarts between calls.
TEST(MusicVoice, RunMixerEqualsTheDefinitionSampleForSample) {
    Dice dice = {2024};
    for (int round = 0; round < 600; round++) {
        NoiseSource sources[4];
        Voice fast[2], reference[2];
        for (int i = 0; i < 2; i++) {
            random_voice(&fast[i], &sources[i], &dice);
            reference[i] = fast[i];
            sources[2 + i] = sources[i];
            same_source(&reference[i], &fast[i], &sources[2 + i]);
        }
        for (int call = 0; call < 12; call++) {
            const int count = 1 + static_cast<int>(dice.next(dice.next(4) == 0 ? 3000 : 300));
            std::vector<int32_t> out(count), expected(count), right(count), expected_right(count);
            for (int i = 0; i < count; i++) {
                out[i] = expected[i] = static_cast<int32_t>(dice.next(2000)) - 1000;
                right[i] = expected_right[i] = static_cast<int32_t>(dice.next(2000)) - 1000;
            }
            const uint32_t op = dice.next(5);
            if (op == 0) {
                voice_mix(&fast[0], out.data(), count);
                reference_voice_mix(&reference[0], expected.data(), count);
            } else if (op == 1) {
                voice_mix_side(&fast[0], &fast[1], out.data(), count);
                std::fill(expected.begin(), expected.end(), 0);
                reference_voice_mix(&reference[0], expected.data(), count);
                reference_voice_mix(&reference[1], expected.data(), count);
            } else if (op == 2) {
                voice_advance(&fast[1], count);
                reference_voice_mix(&reference[1], nullptr, count);
            } else if (op == 3) {
                voice_mix_side_add(&fast[0], &fast[1], out.data(), count);
                reference_voice_mix(&reference[0], expected.data(), count);
                reference_voice_mix(&reference[1], expected.data(), count);
            } else {
                const int which = static_cast<int>(dice.next(2));
                const uint32_t kind = dice.next(4);
                // Gains per sample: steps of random lengths (a volume
                // ramp's), some a sample long.
                std::vector<int32_t> gains_left(count), gains_right(count);
                for (int i = 0; i < count;) {
                    const int n = 1 + static_cast<int>(dice.next(dice.next(3) == 0 ? 3 : 40));
                    const int32_t l = static_cast<int32_t>(dice.next(16385)), r = static_cast<int32_t>(dice.next(16385));
                    for (int j = i; j < i + n && j < count; j++) {
                        gains_left[j] = l;
                        gains_right[j] = r;
                    }
                    i += n;
                }
                if (kind == 0) {
                    voice_mix_stereo(&fast[which], out.data(), right.data(), count);
                } else if (kind == 1) {
                    voice_mix_stereo_gains(&fast[which], out.data(), right.data(), gains_left.data(),
                                           gains_right.data(), count);
                } else if (kind == 2) {
                    voice_mix_stereo_gains_store(&fast[which], out.data(), right.data(), gains_left.data(),
                                                 gains_right.data(), count);
                } else {
                    // The storing pass: what the planes held is replaced.
                    voice_mix_stereo_store(&fast[which], out.data(), right.data(), count);
                }
                if (kind >= 2) {
                    std::fill(expected.begin(), expected.end(), 0);
                    std::fill(expected_right.begin(), expected_right.end(), 0);
                }
                if (kind == 1 || kind == 2) {
                    // The definition one sample at a time at that sample's
                    // gains; the voice's own gains stay as they were.
                    Voice *r = &reference[which];
                    const int32_t own_left = r->gain_left, own_right = r->gain_right;
                    for (int i = 0; i < count; i++) {
                        r->gain_left = gains_left[i];
                        r->gain_right = gains_right[i];
                        reference_voice_mix_stereo(r, expected.data() + i, expected_right.data() + i, 1);
                    }
                    r->gain_left = own_left;
                    r->gain_right = own_right;
                    EXPECT_EQ(fast[which].gain_left, own_left) << round;
                    EXPECT_EQ(fast[which].gain_right, own_right) << round;
                } else {
                    reference_voice_mix_stereo(&reference[which], expected.data(), expected_right.data(), count);
                }
            }
            ASSERT_EQ(out, expected) << "round " << round << " call " << call << " op " << op;
            ASSERT_EQ(right, expected_right) << "round " << round << " call " << call << " op " << op;
            for (int i = 0; i < 2; i++) {
                expect_same_voice(fast[i], reference[i], round);
                EXPECT_EQ(sources[i].delivered, sources[2 + i].delivered) << round;
            }
            // What the sequencer does between ticks, to both alike.
            const uint32_t change = dice.next(8);
            const int which = static_cast<int>(dice.next(2));
            if (change == 0) {
                // Up to nine output rates: steps above one sample skip.
                const uint32_t hz = dice.next(dice.next(3) == 0 ? 400000 : 40000);
                voice_set_frequency(&fast[which], hz);
                voice_set_frequency(&reference[which], hz);
            } else if (change == 1) {
                const int32_t volume = static_cast<int32_t>(dice.next(70));
                voice_set_volume(&fast[which], volume);
                voice_set_volume(&reference[which], volume);
            } else if (change == 2) {
                voice_restart(&fast[which]);
                voice_restart(&reference[which]);
            } else if (change == 3) {
                const int32_t left = static_cast<int32_t>(dice.next(17000)), right_gain = static_cast<int32_t>(dice.next(17000));
                voice_set_gains(&fast[which], left, right_gain);
                voice_set_gains(&reference[which], left, right_gain);
            } else if (change == 4) {
                // The other width of source, with or without a restart:
                // the window keeps what it holds until the next refill.
                if (fast[which].wide_source) {
                    voice_set_source(&fast[which], noise_source, &sources[which]);
                    voice_set_source(&reference[which], noise_source, &sources[2 + which]);
                } else {
                    voice_set_wide_source(&fast[which], noise_source_wide, &sources[which]);
                    voice_set_wide_source(&reference[which], noise_source_wide, &sources[2 + which]);
                }
                if (dice.next(2)) {
                    voice_restart(&fast[which]);
                    voice_restart(&reference[which]);
                }
            }
        }
    }
}

// Passing silence: a voice whose source only delivers zeros, with prev, cur
// and the window ahead at 0, is moved on to exactly the state the
// definition reaches (over refills, from a fresh or restarted voice, at
// steps below and above one sample, 8- and 16-bit), and any voice that
// could still sound (a nonzero entry ahead, prev or cur), or that has no
// source or step 0, is refused and left as it was.
TEST(MusicVoice, PassingSilenceEqualsTheDefinitionOnZeros) {
    Dice dice = {77};
    int passed = 0, refused = 0;
    for (int round = 0; round < 2000; round++) {
        NoiseSource source = {}, reference_source = {};
        Voice v;
        random_voice(&v, &source, &dice);
        // A stream already over: every refill delivers zeros.
        source.end_at = 0;
        source.delivered = 1;
        v.prev = v.cur = 0;
        v.volume = 64;
        if (v.step > VOICE_MAX_STEP) v.step = VOICE_MAX_STEP;
        // The window ahead of read_index zeroed, up to an entry kept from
        // zeroing (or none).
        const int keep = dice.next(4) == 0 ? static_cast<int>(dice.next(VOICE_WINDOW_SAMPLES)) : -1;
        for (int i = v.read_index + 1; i < VOICE_WINDOW_SAMPLES; i++)
            if (i != keep) v.window[i] = 0;
        const uint32_t spoil = dice.next(16);
        if (spoil == 0) v.prev = 1 << 23;
        if (spoil == 1) v.cur = -(1 << 15);
        if (spoil == 2) v.step = 0;
        if (spoil == 3) voice_set_source(&v, nullptr, nullptr);
        Voice reference = v;
        reference_source = source;
        if (v.source || v.wide_source) same_source(&reference, &v, &reference_source);
        const bool sounds = v.prev != 0 || v.cur != 0 || (keep > v.read_index && v.window[keep] != 0);
        const bool can_pass = !sounds && v.step != 0 && (v.source || v.wide_source);
        const int count = 1 + static_cast<int>(dice.next(dice.next(3) == 0 ? 5000 : 400));
        const Voice before = v;
        const int result = voice_pass_silence(&v, count);
        ASSERT_EQ(result, can_pass ? 1 : 0) << round;
        if (!result) {
            refused++;
            EXPECT_EQ(memcmp(&v, &before, sizeof v), 0) << round;
            continue;
        }
        passed++;
        std::vector<int32_t> out(count, 0);
        reference_voice_mix(&reference, out.data(), count);
        for (int32_t s : out) ASSERT_EQ(s, 0) << round;
        expect_same_voice(v, reference, round);
    }
    EXPECT_GT(passed, 1000);
    EXPECT_GT(refused, 200);
    Voice none;
    voice_init(&none, 44100);
    EXPECT_EQ(voice_pass_silence(nullptr, 10), 0);
    EXPECT_EQ(voice_pass_silence(&none, 0), 0);
}

// 16-bit data at the bottom of its range: from -32767 down to -32768 the
// slope is -1 and the definition's sample reaches below -32768 (to -32799
// at a fraction near 1), which no 16-bit lane holds. Every pass, at steps
// below and above one sample, equals the definition there.
TEST(MusicVoice, SamplesBelowSixteenBitsEqualTheDefinition) {
    auto bottom = [](void *user, int16_t *buffer) {
        int *calls = static_cast<int *>(user);
        for (int i = 0; i < VOICE_WINDOW_SAMPLES; i++)
            buffer[i] = static_cast<int16_t>((i + *calls) % 3 == 0 ? -32768 : (i % 5 == 0 ? -32740 : -32767));
        ++*calls;
        return 0;
    };
    for (uint32_t step : {65535u, 60000u, 20000u, 65536u, 150000u, 3u * 65536u + 7u}) {
        int calls = 0, reference_calls = 0;
        Voice v, other;
        voice_init(&v, 44100);
        voice_set_wide_source(&v, bottom, &calls);
        v.step = step;
        v.frac = 0;
        voice_set_volume(&v, 64);
        voice_set_gains(&v, 16384, 9001);
        voice_init(&other, 44100);
        Voice reference = v;
        voice_set_wide_source(&reference, bottom, &reference_calls);
        const int count = 1000;
        for (int pass = 0; pass < 5; pass++) {
            std::vector<int32_t> out(count, 7), right(count, -7), expected(count, 7), expected_right(count, -7);
            if (pass == 0) {
                voice_mix(&v, out.data(), count);
                reference_voice_mix(&reference, expected.data(), count);
            } else if (pass == 1) {
                voice_mix_side(&v, &other, out.data(), count);
                std::fill(expected.begin(), expected.end(), 0);
                reference_voice_mix(&reference, expected.data(), count);
            } else if (pass == 2) {
                voice_mix_side_add(&other, &v, out.data(), count);
                reference_voice_mix(&reference, expected.data(), count);
            } else if (pass == 3) {
                voice_mix_stereo(&v, out.data(), right.data(), count);
                reference_voice_mix_stereo(&reference, expected.data(), expected_right.data(), count);
            } else {
                voice_mix_stereo_store(&v, out.data(), right.data(), count);
                std::fill(expected.begin(), expected.end(), 0);
                std::fill(expected_right.begin(), expected_right.end(), 0);
                reference_voice_mix_stereo(&reference, expected.data(), expected_right.data(), count);
            }
            ASSERT_EQ(out, expected) << "step " << step << " pass " << pass;
            ASSERT_EQ(right, expected_right) << "step " << step << " pass " << pass;
            if (step < 65536u && pass == 0) {
                EXPECT_LT(*std::min_element(expected.begin(), expected.end()), -32768) << step;
            }
        }
    }
}

// The resonant filter: its coefficients are Impulse Tracker's formula,
// computed here in doubles (voice_filter_internal.h), to within what its
// tables round; and a filtered mix equals its one-sample definition: the
// voice's sample s, then y = (a0 s + b0 y1 + b1 y2 + 2^27) >> 28 kept within
// -65536 .. 65535, then the gains; a seek's advance leaves the same voice
// and history.
TEST(MusicVoice, FilterFollowsItsFormulaAndItsDefinition) {
    for (uint32_t rate : {8000u, 44100u, 65535u}) {
        for (int cutoff = 0; cutoff <= 255; cutoff += 5) {
            for (int resonance = 0; resonance <= 127; resonance += 9) {
                VoiceFilter f = {};
                voice_filter_set(&f, cutoff, resonance, rate);
                const double fc = std::min(110.0 * std::pow(2.0, 0.25 + cutoff / 24.0), rate / 2.0);
                const double w = 2 * M_PI * fc / rate, k = std::pow(10.0, -resonance * 24.0 / 128.0 / 20.0);
                double d = std::min((1 - 2 * k) * w, 2.0);
                d = (2 * k - d) / w;
                const double e = 1 / (w * w), a0 = 1 / (1 + d + e), b1 = -e / (1 + d + e), b0 = 1 - a0 - b1;
                const double one = static_cast<double>(VOICE_FILTER_ONE);
                EXPECT_NEAR(f.a0 / one, a0, 2e-3 * a0 + 1e-8) << cutoff << "/" << resonance << " at " << rate;
                EXPECT_NEAR(f.b0 / one, b0, 2e-3 * (a0 - b1) + 1e-8) << cutoff << "/" << resonance;
                EXPECT_NEAR(f.b1 / one, b1, 2e-3 * (a0 - b1) + 1e-8) << cutoff << "/" << resonance;
            }
        }
    }
    Dice dice = {77};
    for (int round = 0; round < 200; round++) {
        NoiseSource source, reference_source, advanced_source;
        Voice v, reference, advanced;
        random_voice(&v, &source, &dice);
        v.volume = VOICE_MAX_VOLUME;
        voice_set_gains(&v, v.gain_left, v.gain_right);
        reference = advanced = v;
        reference_source = advanced_source = source;
        same_source(&reference, &v, &reference_source);
        same_source(&advanced, &v, &advanced_source);
        VoiceFilter f = {};
        voice_filter_set(&f, static_cast<int>(dice.next(256)), static_cast<int>(dice.next(128)), 44100);
        f.y1 = static_cast<int32_t>(dice.next(131072)) - 65536;
        f.y2 = static_cast<int32_t>(dice.next(131072)) - 65536;
        VoiceFilter model = f, seeking = f;
        const int count = 1 + static_cast<int>(dice.next(700));
        const bool store = dice.next(2) == 0;
        std::vector<int32_t> left(count, 5), right(count, -5), expected_left(left), expected_right(right);
        voice_mix_filtered(&v, &f, left.data(), right.data(), count, store);
        for (int i = 0; i < count; i++) {
            int32_t sample = 0;
            reference_voice_mix(&reference, &sample, 1);
            const int64_t sum = model.a0 * sample + model.b0 * model.y1 + model.b1 * model.y2 + (int64_t{1} << 27);
            const int32_t y = static_cast<int32_t>(std::min<int64_t>(65535, std::max<int64_t>(-65536, sum >> 28)));
            model.y2 = model.y1;
            model.y1 = y;
            expected_left[i] = (store ? 0 : expected_left[i]) + ((y * reference.gain_left) >> 14);
            expected_right[i] = (store ? 0 : expected_right[i]) + ((y * reference.gain_right) >> 14);
        }
        ASSERT_EQ(left, expected_left) << round;
        ASSERT_EQ(right, expected_right) << round;
        EXPECT_EQ(f.y1, model.y1);
        EXPECT_EQ(f.y2, model.y2);
        voice_advance_filtered(&advanced, &seeking, count);
        expect_same_voice(advanced, v, round);
        EXPECT_EQ(seeking.y1, f.y1);
    }
}

