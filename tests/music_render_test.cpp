// Rendering and sample streaming: the first row's timing, independence from
// buffer slicing, silence, full-scale headroom, the stream's first pass,
// loops and stops, and silence once the song has finished.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstring>
#include <vector>

#include "music/mod_player.h"
#include "music/sample_stream_internal.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "support/test_files.h"

namespace {

ModPlayer *create(const std::vector<uint8_t> &bytes, int rate = 44100) {
    return mod_player_create(rate, bytes.data(), static_cast<long>(bytes.size()));
}

std::vector<int8_t> ramp(int length) {
    std::vector<int8_t> v(length);
    for (int i = 0; i < length; i++) v[i] = static_cast<int8_t>(i);
    return v;
}

}  // namespace

TEST(MusicRender, FirstNotesAfter5292Frames) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(1000, 100), 64, 0, 0, 1000);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    std::vector<int16_t> out = music_render_s16(p, 6000);
    // 6 ticks of 882 frames: the note starts at frame 5292; that frame still
    // interpolates the silent pair, the next one has moved into the sample.
    for (int i = 0; i <= 5292; i++) ASSERT_EQ(out[2 * i], 0) << i;
    EXPECT_NE(out[2 * 5293], 0);
    EXPECT_EQ(music_channel(p, 0).step, 12315u);  // 8287 Hz at 44100 Hz
    EXPECT_EQ(out[2 * 5999], 100 * 256 / 2);
    for (int i = 0; i < 6000; i++) ASSERT_EQ(out[2 * i + 1], 0);
    mod_player_destroy(p);
}

TEST(MusicRender, OutputIndependentOfSlicing) {
    ModBuilder b;
    modbuilder_busy_song(&b);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    const int frames = 44100 * 3;
    ModPlayer *whole = create(bytes);
    ModPlayer *sliced = create(bytes);
    ModPlayer *whole8 = create(bytes);
    ModPlayer *sliced8 = create(bytes);
    ASSERT_TRUE(whole && sliced && whole8 && sliced8);
    for (ModPlayer *p : {whole, sliced, whole8, sliced8}) mod_player_set_loop(p, 1);

    std::vector<int16_t> a = music_render_s16(whole, frames);
    std::vector<int16_t> c(2 * frames);
    std::vector<uint8_t> a8(2 * frames), c8(2 * frames);
    mod_player_render_u8(whole8, a8.data(), frames);
    const int sizes[] = {1, 7, 881, 882, 883, 1023, 1024, 1025, 4096, 13, 2, 5000};
    int done = 0;
    for (int i = 0; done < frames; i++) {
        int n = std::min(sizes[i % 12], frames - done);
        mod_player_render_s16(sliced, c.data() + 2 * done, n);
        mod_player_render_u8(sliced8, c8.data() + 2 * done, n);
        done += n;
    }
    EXPECT_EQ(a, c);
    EXPECT_EQ(a8, c8);
    // The song really plays on both sides, and u8 is s16's top byte.
    int16_t peak_left = 0, peak_right = 0;
    for (int i = 0; i < frames; i++) {
        peak_left = std::max<int16_t>(peak_left, std::abs(a[2 * i]));
        peak_right = std::max<int16_t>(peak_right, std::abs(a[2 * i + 1]));
        ASSERT_EQ(a8[2 * i], ((a[2 * i] * 2) >> 9) + 128);
    }
    EXPECT_GT(peak_left, 4000);
    EXPECT_GT(peak_right, 4000);
    for (ModPlayer *p : {whole, sliced, whole8, sliced8}) mod_player_destroy(p);
}

TEST(MusicRender, OneShotSamplesEndTheSameHoweverTheOutputIsSliced) {
    // Samples without a loop run out in the middle of ticks; a caller's
    // buffer may end right after the stream delivered the last bytes. The
    // tail of the sample must be heard the same either way.
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, ramp(500), 64, 0, 0, 0);
    modbuilder_set_sample(&b, 2, ramp(777), 48, 0, 0, 0);
    modbuilder_set_sample(&b, 3, ramp(1234), 64, 3, 0, 0);
    const int periods[] = {214, 428, 856, 113, 320, 170};
    for (int row = 0; row < 64; row += 2)
        for (int ch = 0; ch < 4; ch++)
            modbuilder_set_cell(&b, 0, row, ch, 1 + (row / 2 + ch) % 3, periods[(row + ch) % 6], 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    const int frames = 5292 * 20;
    ModPlayer *whole = create(bytes);
    ModPlayer *sliced = create(bytes);
    ASSERT_TRUE(whole && sliced);
    std::vector<int16_t> a = music_render_s16(whole, frames);
    std::vector<int16_t> c(2 * frames);
    const int sizes[] = {97, 1, 13, 881, 300, 2};
    for (int done = 0, i = 0; done < frames; i++) {
        int n = std::min(sizes[i % 6], frames - done);
        mod_player_render_s16(sliced, c.data() + 2 * done, n);
        done += n;
    }
    int differing = 0;
    for (int i = 0; i < 2 * frames; i++) differing += a[i] != c[i];
    EXPECT_EQ(differing, 0);
    EXPECT_NE(std::count(a.begin(), a.end(), 0), static_cast<long>(a.size())) << "the notes sound";
    mod_player_destroy(whole);
    mod_player_destroy(sliced);
}

TEST(MusicRender, Silence) {
    // Before the first note, with every voice at volume 0, and from a null
    // player: s16 0 and u8 128.
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(1000, -90), 64, 0, 0, 1000);
    for (int ch = 0; ch < 4; ch++) modbuilder_set_cell(&b, 0, 0, ch, 1, 428, 0xC00);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    std::vector<int16_t> s16 = music_render_s16(p, 20000);
    for (int16_t s : s16) ASSERT_EQ(s, 0);
    EXPECT_EQ(music_channel(p, 0).playing, 1);
    mod_player_destroy(p);

    p = create(bytes);
    std::vector<uint8_t> u8(2 * 20000, 0);
    mod_player_render_u8(p, u8.data(), 20000);
    for (uint8_t s : u8) ASSERT_EQ(s, 128);
    mod_player_destroy(p);

    std::vector<int16_t> none(200, 5);
    mod_player_render_s16(nullptr, none.data(), 100);
    for (int16_t s : none) EXPECT_EQ(s, 0);
    std::vector<uint8_t> none8(200, 5);
    mod_player_render_u8(nullptr, none8.data(), 100);
    for (uint8_t s : none8) EXPECT_EQ(s, 128);
    mod_player_render_s16(nullptr, nullptr, 100);
    mod_player_render(nullptr, nullptr, 10);
}

TEST(MusicRender, FullScaleNeverOverflows) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(2000, -128), 64, 0, 0, 2000);
    modbuilder_set_sample(&b, 2, std::vector<int8_t>(2000, 127), 64, 0, 0, 2000);
    modbuilder_set_sample(&b, 3, modbuilder_square(2000, 2, 127, -128), 64, 0, 0, 2000);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0);
    modbuilder_set_cell(&b, 0, 0, 3, 1, 113, 0);
    modbuilder_set_cell(&b, 0, 0, 1, 2, 856, 0);
    modbuilder_set_cell(&b, 0, 0, 2, 2, 214, 0);
    modbuilder_set_cell(&b, 0, 8, 0, 3, 113, 0);    // alternating extremes
    modbuilder_set_cell(&b, 0, 8, 3, 3, 113, 0);
    modbuilder_set_cell(&b, 0, 8, 1, 3, 120, 0);
    modbuilder_set_cell(&b, 0, 8, 2, 3, 113, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    const int frames = 5292 * 10;
    std::vector<int32_t> accum(2 * frames);
    ModPlayer *q = create(bytes);
    mod_player_render(q, accum.data(), frames);
    std::vector<int16_t> out = music_render_s16(p, frames);
    for (int i = 0; i < frames; i++) {
        ASSERT_GE(accum[i], -65536);
        ASSERT_LE(accum[frames + i], 65024);
        ASSERT_EQ(out[2 * i], accum[i] >> 1);
        ASSERT_EQ(out[2 * i + 1], accum[frames + i] >> 1);
    }
    // The steady part of row 0: both voices of a side at full scale.
    EXPECT_EQ(out[2 * 9000], -32768);
    EXPECT_EQ(out[2 * 9000 + 1], 32512);
    mod_player_destroy(p);
    mod_player_destroy(q);
}

namespace {

// A player whose sample 1 is `data` with the given loop, and channel 0 set
// up as a note start would leave it.
struct StreamFixture {
    std::vector<uint8_t> bytes;
    ModPlayer *p;
    Channel *c;
    explicit StreamFixture(const std::vector<int8_t> &data, uint32_t loop_start, uint32_t loop_length) {
        ModBuilder b;
        modbuilder_init(&b);
        modbuilder_set_sample(&b, 1, data, 64, 0, loop_start, loop_length);
        bytes = modbuilder_build(&b);
        p = create(bytes);
        c = &p->channels[0];
        c->current_sample = 1;
        c->playing = 1;
        c->first_pass = 1;
        c->position = 2;
        p->voices[0].step = 12345;
    }
    ~StreamFixture() { mod_player_destroy(p); }
    int ended = 0;  // what the last call reported
    std::vector<int8_t> next() {
        std::vector<int8_t> buffer(256, 99);
        ended = stream_sample(c, buffer.data());
        return buffer;
    }
};

}  // namespace

TEST(MusicStream, FirstPassToFullLengthThenLoop) {
    StreamFixture f(ramp(64), 16, 16);
    std::vector<int8_t> expected;
    for (int i = 2; i < 64; i++) expected.push_back(static_cast<int8_t>(i));
    while (expected.size() < 512) {
        for (int i = 16; i < 32; i++) expected.push_back(static_cast<int8_t>(i));
    }
    std::vector<int8_t> got = f.next();
    EXPECT_EQ(f.c->first_pass, 0);
    std::vector<int8_t> second = f.next();
    got.insert(got.end(), second.begin(), second.end());
    expected.resize(512);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(f.c->playing, 1);
    EXPECT_EQ(f.ended, 0);
    EXPECT_EQ(f.p->voices[0].step, 12345u);
}

TEST(MusicStream, TwoByteLoopRule) {
    {
        // loop_start 0, loop_length 2: no loop. The stream reports the end
        // when it delivers the last bytes and rests at position 2; stopping
        // the voice is left to the render loop.
        StreamFixture f(ramp(40), 0, 2);
        std::vector<int8_t> got = f.next();
        for (int i = 0; i < 38; i++) ASSERT_EQ(got[i], i + 2);
        for (int i = 38; i < 256; i++) ASSERT_EQ(got[i], 0);
        EXPECT_EQ(f.ended, 1);
        EXPECT_EQ(f.c->playing, 0);
        EXPECT_EQ(f.c->position, 2u);
        EXPECT_EQ(f.p->voices[0].step, 12345u);
        std::vector<int8_t> after = f.next();
        for (int8_t s : after) ASSERT_EQ(s, 0);
        EXPECT_EQ(f.ended, 0);
        EXPECT_EQ(f.c->position, 2u);
    }
    {
        // The same length from byte 10 repeats bytes 10 and 11.
        StreamFixture f(ramp(40), 10, 2);
        std::vector<int8_t> got = f.next();
        for (int i = 0; i < 38; i++) ASSERT_EQ(got[i], i + 2);
        for (int i = 38; i < 256; i++) ASSERT_EQ(got[i], (i - 38) % 2 == 0 ? 10 : 11) << i;
        EXPECT_EQ(f.c->playing, 1);
        EXPECT_EQ(f.ended, 0);
    }
    {
        // A sample ending exactly at the end of a buffer stops right there.
        StreamFixture f(ramp(258), 0, 0);
        std::vector<int8_t> got = f.next();
        EXPECT_EQ(got[255], static_cast<int8_t>(257));
        EXPECT_EQ(f.ended, 1);
        EXPECT_EQ(f.c->playing, 0);
        EXPECT_EQ(f.c->position, 2u);
    }
    {
        // A position already past the end goes straight to the loop.
        StreamFixture f(ramp(64), 16, 16);
        f.c->position = 5000;
        std::vector<int8_t> got = f.next();
        EXPECT_EQ(got[0], 16);
        EXPECT_EQ(got[16], 16);
        // Not playing: zeros, position kept.
        f.c->playing = 0;
        f.c->position = 7;
        std::vector<int8_t> zeros = f.next();
        for (int8_t s : zeros) ASSERT_EQ(s, 0);
        EXPECT_EQ(f.c->position, 7u);
    }
}

TEST(MusicStream, StoppedVoiceStaysSilentUntilNextNote) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(600, 77), 64, 0, 0, 0);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0);
    modbuilder_set_cell(&b, 0, 4, 0, 1, 428, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    const int row_frames = 5292;
    std::vector<int16_t> out = music_render_s16(p, row_frames * 5 - 1);
    // 598 bytes at 8287 Hz last about 3183 frames: the voice stops at the
    // end of the tick in which it fetched the last bytes.
    EXPECT_EQ(music_channel(p, 0).playing, 0);
    EXPECT_EQ(music_channel(p, 0).position, 2u);
    EXPECT_EQ(music_channel(p, 0).step, 0u);
    std::vector<int16_t> rest = music_render_s16(p, row_frames + 1);
    out.insert(out.end(), rest.begin(), rest.end());
    int last_sound = 0;
    for (int i = row_frames; i < row_frames * 5; i++) {
        if (out[2 * i] != 0) last_sound = i;
    }
    EXPECT_GT(last_sound, row_frames + 2000);
    EXPECT_LT(last_sound, row_frames + 3600);
    for (int i = row_frames + 3600; i <= row_frames * 5; i++) ASSERT_EQ(out[2 * i], 0) << i;
    EXPECT_EQ(out[2 * (row_frames * 5 + 10)], 77 * 256 / 2);
    mod_player_destroy(p);
}

namespace {

// A channel streaming sample 1 of `samples` as a note start without the
// MOD rules leaves it: from frame 0, the loop in force at once.
Channel stream_channel(const SongSample *samples, int count) {
    Channel c = {};
    c.samples = samples;
    c.sample_count = static_cast<uint16_t>(count);
    c.current_sample = 1;
    c.playing = 1;
    return c;
}

// The frames a sample's stream delivers, `windows` windows of them.
template <typename T>
std::vector<int> streamed(Channel *c, int windows, int *ended) {
    std::vector<int> frames;
    *ended = 0;
    for (int w = 0; w < windows; w++) {
        T buffer[VOICE_WINDOW_SAMPLES];
        int end;
        if (sizeof(T) == 1) end = stream_sample(c, reinterpret_cast<int8_t *>(buffer));
        else end = stream_sample_wide(c, reinterpret_cast<int16_t *>(buffer));
        *ended |= end;
        frames.insert(frames.end(), buffer, buffer + VOICE_WINDOW_SAMPLES);
    }
    return frames;
}

}  // namespace

// Ping-pong loops turn at both ends, each end frame heard once; 16-bit
// samples stream through the wide source exactly as 8-bit ones through the
// narrow one; a stream never reads a sample of the other width.
TEST(MusicStream, PingPongLoopsAndSixteenBitSamples) {
    std::vector<int8_t> bytes(20);
    std::vector<int16_t> words(20);
    for (int i = 0; i < 20; i++) {
        bytes[i] = static_cast<int8_t>(i);
        words[i] = static_cast<int16_t>(1000 * i - 9999);
    }
    SongSample samples[2] = {};
    samples[0].data = bytes.data();
    samples[0].bits = 8;
    samples[1].data = words.data();
    samples[1].bits = 16;
    for (SongSample &s : samples) {
        s.length = 20;
        s.loop_start = 5;
        s.loop_length = 5;
        s.loop = SONG_LOOP_PING_PONG;
    }
    // Frames 0 .. 9, then 8 down to 5 and 6 up to 9, over and over.
    std::vector<int> expected;
    for (int i = 0; i < 10; i++) expected.push_back(i);
    while (expected.size() < 1024)
        for (int i : {8, 7, 6, 5, 6, 7, 8, 9}) expected.push_back(i);
    expected.resize(1024);
    int ended = 0;
    Channel c = stream_channel(samples, 2);
    EXPECT_EQ(streamed<int8_t>(&c, 4, &ended), expected);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(c.first_pass, 0);
    EXPECT_EQ(c.playing, 1);

    c = stream_channel(samples + 1, 1);
    std::vector<int> wide = streamed<int16_t>(&c, 4, &ended);
    for (size_t i = 0; i < wide.size(); i++) ASSERT_EQ(wide[i], 1000 * expected[i] - 9999) << i;

    // The first pass to the sample's end (MOD's rule), then back from the
    // loop's end.
    c = stream_channel(samples, 2);
    c.first_pass = 1;
    c.position = 2;
    std::vector<int> first = streamed<int8_t>(&c, 1, &ended);
    for (int i = 0; i < 18; i++) ASSERT_EQ(first[i], i + 2) << i;
    const int after[] = {8, 7, 6, 5, 6, 7, 8, 9, 8};
    for (int i = 0; i < 9; i++) EXPECT_EQ(first[18 + i], after[i]) << i;

    // A ping-pong loop of one frame repeats it; a position past the loop
    // while running backwards reads from the loop's end.
    samples[0].loop_length = 1;
    c = stream_channel(samples, 2);
    std::vector<int> one = streamed<int8_t>(&c, 1, &ended);
    for (int i = 5; i < 256; i++) ASSERT_EQ(one[i], 5) << i;
    samples[0].loop_length = 5;
    c = stream_channel(samples, 2);
    c.backwards = 1;
    c.position = 17;
    std::vector<int> back = streamed<int8_t>(&c, 1, &ended);
    EXPECT_EQ(back[0], 9);
    EXPECT_EQ(back[4], 5);
    EXPECT_EQ(back[5], 6);

    // The wrong width: zeros, the stream left where it is.
    c = stream_channel(samples + 1, 1);
    c.position = 3;
    std::vector<int> zeros = streamed<int8_t>(&c, 1, &ended);
    for (int v : zeros) ASSERT_EQ(v, 0);
    EXPECT_EQ(c.position, 3u);

    // A 16-bit sample without a loop ends, resting at the note start.
    samples[1].loop = SONG_LOOP_NONE;
    samples[1].loop_start = samples[1].loop_length = 0;
    c = stream_channel(samples + 1, 1);
    std::vector<int> once = streamed<int16_t>(&c, 1, &ended);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(c.playing, 0);
    EXPECT_EQ(c.position, 0u);
    EXPECT_EQ(once[19], 1000 * 19 - 9999);
    EXPECT_EQ(once[20], 0);
}

// Multichannel MODs sit hard left or right as four-channel ones do, L R R
// L in every four channels, and more than four channels share the output
// at 1 / sqrt(channels) each.
TEST(MusicRender, MultichannelModulesSitLeftRightRightLeft) {
    const std::pair<int, const char *> kinds[] = {{2, "2CHN"}, {6, "6CHN"}, {8, "8CHN"}, {32, "32CH"}};
    for (const auto &kind : kinds) {
        const int channels = kind.first;
        const char *signature = kind.second;
        for (int channel = 0; channel < channels; channel++) {
            ModBuilder b;
            modbuilder_init(&b);
            modbuilder_set_signature(&b, signature);
            modbuilder_set_channels(&b, channels);
            modbuilder_set_sample(&b, 1, std::vector<int8_t>(512, 60), 64, 0, 0, 512);
            modbuilder_set_cell(&b, 0, 0, channel, 1, 428, 0);
            std::vector<uint8_t> bytes = modbuilder_build(&b);
            ModPlayer *p = create(bytes);
            ASSERT_NE(p, nullptr) << signature;
            const int frames = 8000;
            std::vector<int32_t> accum(2 * frames);
            mod_player_render(p, accum.data(), frames);
            const bool left = channel % 4 == 0 || channel % 4 == 3;
            int32_t left_peak = 0, right_peak = 0;
            for (int i = 0; i < frames; i++) {
                left_peak = std::max(left_peak, std::abs(accum[i]));
                right_peak = std::max(right_peak, std::abs(accum[frames + i]));
            }
            ASSERT_EQ(left_peak, left ? 60 * 256 : 0) << signature << " channel " << channel;
            ASSERT_EQ(right_peak, left ? 0 : 60 * 256) << signature << " channel " << channel;
            mod_player_destroy(p);
        }
        // The output gain: a half up to four channels, then 1 / sqrt(n).
        ModBuilder b;
        modbuilder_init(&b);
        modbuilder_set_signature(&b, signature);
        modbuilder_set_channels(&b, channels);
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        ModPlayer *p = create(bytes);
        ASSERT_NE(p, nullptr);
        const double expected = channels <= 4 ? 32768.0 : 65536.0 / std::sqrt(static_cast<double>(channels));
        EXPECT_NEAR(p->output_gain, expected, expected * 0.001) << signature;
        EXPECT_EQ(p->layout.left_count + p->layout.right_count, channels);
        EXPECT_EQ(p->layout.panned_count, 0);
        mod_player_destroy(p);
    }
}

// Eight channels of full-scale samples saturate the 16-bit output instead
// of wrapping.
TEST(MusicRender, ManyLoudChannelsSaturate) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_signature(&b, "8CHN");
    modbuilder_set_channels(&b, 8);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(512, 127), 64, 0, 0, 512);
    modbuilder_set_sample(&b, 2, std::vector<int8_t>(512, -128), 64, 0, 0, 512);
    for (int ch = 0; ch < 8; ch++) modbuilder_set_cell(&b, 0, 0, ch, ch % 4 == 1 || ch % 4 == 2 ? 2 : 1, 428, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    std::vector<int16_t> out = music_render_s16(p, 9000);
    EXPECT_EQ(out[2 * 8000], 32767);
    EXPECT_EQ(out[2 * 8000 + 1], -32768);
    mod_player_destroy(p);
    p = create(bytes);
    std::vector<uint8_t> u8(2 * 9000);
    mod_player_render_u8(p, u8.data(), 9000);
    EXPECT_EQ(u8[2 * 8000], 255);
    EXPECT_EQ(u8[2 * 8000 + 1], 0);
    mod_player_destroy(p);
}

TEST(MusicRender, FinishedAndLooping) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(1000, 50), 64, 0, 0, 1000);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0);
    modbuilder_set_cell(&b, 0, 0, 1, 0, 0, 0xF01);   // speed 1: 64 rows in 64 ticks
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    const int song_frames = 5292 + 64 * 882;

    ModPlayer *once = create(bytes);
    ASSERT_NE(once, nullptr);
    std::vector<int16_t> out = music_render_s16(once, song_frames + 3000);
    EXPECT_EQ(mod_player_is_finished(once), 1);
    EXPECT_EQ(out[2 * (song_frames - 1)], 50 * 256 / 2);   // the last row plays in full
    for (int i = song_frames; i < song_frames + 3000; i++) ASSERT_EQ(out[2 * i], 0) << i;
    std::vector<uint8_t> u8(2 * 500, 0);
    mod_player_render_u8(once, u8.data(), 500);
    for (uint8_t s : u8) ASSERT_EQ(s, 128);
    mod_player_destroy(once);

    ModPlayer *looped = create(bytes);
    mod_player_set_loop(looped, 1);
    out = music_render_s16(looped, song_frames * 3);
    EXPECT_EQ(mod_player_is_finished(looped), 0);
    EXPECT_EQ(out[2 * (song_frames * 3 - 1)], 50 * 256 / 2);
    mod_player_destroy(looped);
}

// 64-bit FNV-1a over the signed 16-bit output, low byte first.
static uint64_t fnv1a(const std::vector<int16_t> &samples, uint64_t hash = 14695981039346656037ull) {
    for (int16_t v : samples) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= static_cast<uint8_t>(static_cast<uint16_t>(v) >> shift);
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

// Renders up to `frames` frames (fewer when the song ends) in slices of
// pseudo-random sizes from 1 to 3000 frames and returns the checksum of
// the output and the frames rendered before the end.
static uint64_t sliced_checksum(ModPlayer *p, long frames, uint32_t seed, long *rendered) {
    uint64_t hash = 14695981039346656037ull;
    long done = 0;
    while (done < frames && !mod_player_is_finished(p)) {
        seed = seed * 1664525u + 1013904223u;
        const int n = static_cast<int>(std::min<long>(1 + (seed >> 8) % 3000, frames - done));
        hash = fnv1a(music_render_s16(p, n), hash);
        done += n;
    }
    *rendered = done;
    return hash;
}

// The player's output, pinned: checksums recorded from the straightforward
// one-voice-at-a-time mixer, so that any change to mixing, streaming or
// the render loop that alters a single sample shows here. Covers the
// demo's module, the busy song and random songs of every command and
// sample kind, looping on and off, in random slices.
TEST(MusicRender, OutputMatchesTheRecordedChecksums) {
    struct Case {
        const char *name;
        uint32_t seed;     // 0: res/kevo.mod, 1: the busy song, else a random song
        uint8_t loop;
        long frames;
        uint64_t checksum;
        long rendered;
    } cases[] = {
        {"kevo", 0, 0, 4410000, 0x2e18f23267147eddull, 3835923},
        {"busy", 1, 1, 1323000, 0x8230a80bcc593f42ull, 1323000},
        {"random 2", 2, 1, 882000, 0x0213482c6de3c9e3ull, 882000},
        {"random 3", 3, 1, 882000, 0xcc199b70f3ecc682ull, 882000},
        {"random 4", 4, 0, 2646000, 0xe8be2c8c551c21f8ull, 85163},
        {"random 5", 5, 0, 2646000, 0x1fc0eb3f593b65bcull, 30198},
        {"random 6", 6, 1, 882000, 0xfd0c929dcb4240b8ull, 882000},
        {"random 7", 7, 0, 2646000, 0x3111731d4f096939ull, 2646000},
        {"random 8", 8, 1, 882000, 0xd8debb27d65e35d2ull, 882000},
        {"random 9", 9, 1, 882000, 0x999656315f865a26ull, 882000},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes;
        if (c.seed == 0) {
            ASSERT_TRUE(read_whole_file(ENGINE_SOURCE_DIR "/res/kevo.mod", &bytes));
        } else {
            ModBuilder b;
            if (c.seed == 1) modbuilder_busy_song(&b);
            else modbuilder_random_song(&b, c.seed);
            bytes = modbuilder_build(&b);
        }
        ModPlayer *p = create(bytes);
        ASSERT_NE(p, nullptr) << c.name;
        mod_player_set_loop(p, c.loop);
        long rendered = 0;
        const uint64_t checksum = sliced_checksum(p, c.frames, c.seed + 17, &rendered);
        EXPECT_EQ(checksum, c.checksum) << c.name;
        EXPECT_EQ(rendered, c.rendered) << c.name;
        mod_player_destroy(p);
    }
}
