// Music sync: the event ring alone and under two threads (run it under
// ThreadSanitizer too: make tsan), and, in a real capture, the heard
// position and every note event against the note starts in the rendered
// sound, to the frame.
#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_output.h"
#include "music/mod_player.h"
#include "music/event_ring.h"
#include "music/player_state_internal.h"  // the player's own record: the independent witness below
#include "platform/music_seek.h"
#include "platform/music_start.h"
#include "platform/music_sync.h"
#include "platform/capture.h"
#include "platform/engine_clock.h"
#include "gfx2d/framebuffer.h"
#include "platform/video.h"
#include "support/music_modbuilder.h"
#include "support/music_wide_songs.h"
#include "support/test_files.h"

namespace {

MusicEvent numbered(uint64_t i) {
    // Every field derives from the number, so a torn read shows; channels,
    // instruments and samples reach 31, 128 and 2048.
    MusicEvent e = {static_cast<uint8_t>(1 + i % 3),   static_cast<uint8_t>(i >> 8),  static_cast<uint8_t>(i % 256),
                    static_cast<uint8_t>(i % 32),      static_cast<uint8_t>(i % 128 + 1), static_cast<uint8_t>(i % 65),
                    static_cast<uint16_t>(i % 2048 + 1), static_cast<uint16_t>(i * 7), static_cast<int64_t>(i)};
    return e;
}

bool matches(const MusicEvent &e) {
    const MusicEvent want = numbered(static_cast<uint64_t>(e.frame));
    return e.kind == want.kind && e.order == want.order && e.row == want.row && e.channel == want.channel &&
           e.instrument == want.instrument && e.sample == want.sample && e.volume == want.volume &&
           e.period == want.period;
}

EventRing ring;  // large: not on the stack

}  // namespace

// Runs `child` in a child process (it writes the log at the path it is
// given and ends with _exit) and reads the log into *text. False, with the
// reason in *text, when the child did not end with status 0.
static bool child_log(const std::string &dir, const std::function<void(const std::string &)> &child,
                      std::string *text) {
    const std::string path = dir + "/log.txt";
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) child(path);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *text = "the child ended with status " + std::to_string(status);
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, &bytes)) {
        *text = "no log at " + path;
        return false;
    }
    text->assign(bytes.begin(), bytes.end());
    return true;
}

TEST(MusicEventRing, KeepsOrderFiltersByFrameAndDropsTheOldestWhenFull) {
    event_ring_init(&ring);
    MusicEvent e;
    EXPECT_EQ(event_ring_take(&ring, &e, INT64_MAX), 0);
    for (uint64_t i = 0; i < 10; i++) {
        const MusicEvent x = numbered(i);
        event_ring_push(&ring, &x);
    }
    // Only what has been heard by frame 3.
    for (uint64_t i = 0; i <= 3; i++) {
        ASSERT_EQ(event_ring_take(&ring, &e, 3), 1);
        EXPECT_EQ(e.frame, static_cast<int64_t>(i));
        EXPECT_TRUE(matches(e));
    }
    EXPECT_EQ(event_ring_take(&ring, &e, 3), 0);
    ASSERT_EQ(event_ring_take(&ring, &e, INT64_MAX), 1);
    EXPECT_EQ(e.frame, 4);
    event_ring_discard(&ring);
    EXPECT_EQ(event_ring_take(&ring, &e, INT64_MAX), 0);
    EXPECT_EQ(ring.dropped, 0u);

    // 100 more than it holds: the oldest 100 go, counted.
    const uint64_t base = 10;
    for (uint64_t i = base; i < base + EVENT_RING_CAPACITY + 100; i++) {
        const MusicEvent x = numbered(i);
        event_ring_push(&ring, &x);
    }
    ASSERT_EQ(event_ring_take(&ring, &e, INT64_MAX), 1);
    EXPECT_EQ(e.frame, static_cast<int64_t>(base + 100));
    EXPECT_EQ(ring.dropped, 100u);
    int left = 0;
    while (event_ring_take(&ring, &e, INT64_MAX)) left++;
    EXPECT_EQ(left, EVENT_RING_CAPACITY - 1);
    EXPECT_EQ(e.frame, static_cast<int64_t>(base + EVENT_RING_CAPACITY + 99));
}

TEST(MusicEventRing, TwoThreadsLoseNothingUncountedAndNeverTear) {
    event_ring_init(&ring);
    constexpr uint64_t TOTAL = 400000;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint64_t i = 0; i < TOTAL; i++) {
            const MusicEvent x = numbered(i);
            event_ring_push(&ring, &x);
            if (i % 5000 == 0) std::this_thread::yield();
        }
        done.store(true, std::memory_order_release);
    });
    uint64_t taken = 0, torn = 0, disorder = 0;
    int64_t last = -1;
    MusicEvent e;
    for (uint64_t round = 0;; round++) {
        const bool finished = done.load(std::memory_order_acquire);
        while (event_ring_take(&ring, &e, INT64_MAX)) {
            taken++;
            torn += !matches(e);
            disorder += e.frame <= last;
            last = e.frame;
        }
        if (finished) break;
        // Now and then fall behind, so that the producer laps the consumer.
        if (round % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    producer.join();
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(disorder, 0u);
    EXPECT_EQ(last, static_cast<int64_t>(TOTAL) - 1) << "the newest event always arrives";
    EXPECT_EQ(taken + ring.dropped, TOTAL);
    EXPECT_GT(taken, static_cast<uint64_t>(EVENT_RING_CAPACITY));
}

namespace {

// A song whose notes never overlap on a side of the stereo output (left:
// channels 0 and 3, right: 1 and 2), so that each note start is the first
// non-silent frame after silence: constant (DC) samples without loops,
// shorter than the gaps. Note delays, retriggers, speed and tempo changes,
// a pattern delay, a sample offset, a silent note, a break and a jump back.
std::vector<uint8_t> onset_song(void) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, std::vector<int8_t>(300, 100), 64, 0, 0, 0);
    modbuilder_set_sample(&b, 2, std::vector<int8_t>(300, -90), 48, 3, 0, 0);
    const uint8_t order[] = {0, 1};
    modbuilder_set_order(&b, order, 2);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0x000);
    modbuilder_set_cell(&b, 0, 1, 1, 2, 428, 0x000);
    modbuilder_set_cell(&b, 0, 2, 3, 1, 320, 0x000);
    modbuilder_set_cell(&b, 0, 2, 2, 0, 0, 0xF05);   // speed 5
    modbuilder_set_cell(&b, 0, 3, 2, 2, 381, 0xED2);  // starts on tick 2
    modbuilder_set_cell(&b, 0, 4, 0, 1, 428, 0xE93);  // again on tick 3
    modbuilder_set_cell(&b, 0, 5, 1, 2, 428, 0xFA0);  // tempo 160
    modbuilder_set_cell(&b, 0, 6, 3, 1, 428, 0xC00);  // heard by nobody
    modbuilder_set_cell(&b, 0, 6, 0, 1, 360, 0x000);
    modbuilder_set_cell(&b, 0, 7, 1, 2, 428, 0xEE1);  // the row lasts twice
    modbuilder_set_cell(&b, 0, 8, 2, 1, 428, 0x901);  // from byte 256
    modbuilder_set_cell(&b, 0, 9, 3, 0, 0, 0xD00);
    modbuilder_set_cell(&b, 1, 0, 0, 2, 254, 0x000);
    modbuilder_set_cell(&b, 1, 1, 3, 1, 508, 0xB00);  // back to the start
    return modbuilder_build(&b);
}

// In a child process: plays `module` under a capture into `dir` for
// `frames` frames and logs, before drawing each frame, the heard position
// ("H frame order row tick tick_frame song_frame tick_frames") and the
// events heard by then ("E frame kind order row channel instrument sample
// period volume at"). With `music` not empty, KEVO_MUSIC names it, and
// the music start-up plays it instead of `module`; with `from` not empty,
// KEVO_FROM starts it there. The capture ends the child with status 0.
void capture_child(const std::string &module, const std::string &dir, int frames, const std::string &log_path,
                   const std::string &music = "", const std::string &from = "") {
    setenv("KEVO_CAPTURE", dir.c_str(), 1);
    setenv("KEVO_CAPTURE_FRAMES", std::to_string(frames).c_str(), 1);
    if (from.empty()) unsetenv("KEVO_FROM");
    else setenv("KEVO_FROM", from.c_str(), 1);
    if (music.empty()) unsetenv("KEVO_MUSIC");
    else setenv("KEVO_MUSIC", music.c_str(), 1);
    if (!freopen("/dev/null", "w", stderr)) _exit(5);  // the rate lines
    FILE *log = fopen(log_path.c_str(), "w");
    if (!log || music_start_file(module.c_str()) != 0) _exit(3);
    video_init();
    audio_unpause();
    for (long k = 0;; k++) {
        MusicPosition at;
        if (music_heard_position(&at) != 0) _exit(4);
        fprintf(log, "H %ld %d %d %d %u %lld %u\n", k, at.order, at.row, at.tick, at.tick_frame, static_cast<long long>(at.song_frame),
                at.tick_frames);
        MusicEvent e;
        while (music_event_next(&e))
            fprintf(log, "E %ld %d %d %d %d %d %d %d %d %lld\n", k, e.kind, e.order, e.row, e.channel, e.instrument,
                    e.sample, e.period, e.volume, static_cast<long long>(e.frame));
        fflush(log);
        fb_clear();
        fb_present();
        frame_counter++;
        if (exit_requested()) exit(0);  // the capture has made its last frame
    }
}

struct Heard {
    int order, row, tick;
    unsigned tick_frame;
    long long song_frame;
    unsigned tick_frames;
};

struct Logged {
    long at_frame;
    int kind, order, row, channel, instrument, sample, period, volume;
    long long frame;
};

// The log of capture_child: heard positions and events.
void parse_log(const std::string &text, std::vector<Heard> *heard, std::vector<Logged> *events) {
    std::istringstream log(text);
    for (std::string line; std::getline(log, line);) {
        std::istringstream in(line.substr(2));
        if (line[0] == 'H') {
            long k;
            Heard h;
            in >> k >> h.order >> h.row >> h.tick >> h.tick_frame >> h.song_frame >> h.tick_frames;
            EXPECT_EQ(k, static_cast<long>(heard->size()));
            heard->push_back(h);
        } else {
            Logged e;
            in >> e.at_frame >> e.kind >> e.order >> e.row >> e.channel >> e.instrument >> e.sample >> e.period >>
                e.volume >> e.frame;
            events->push_back(e);
        }
    }
}

}  // namespace

TEST(MusicSync, InACaptureEveryNoteEventIsWhereItsNoteStartsInTheSound) {
    const std::string dir = make_temp_dir("music_sync");
    ASSERT_FALSE(dir.empty());
    const std::vector<uint8_t> song = onset_song();
    ASSERT_TRUE(write_whole_file(dir + "/song.mod", song));
    const int frames = 600;  // 10.2 s: the song twice and more
    std::string text;
    ASSERT_TRUE(child_log(
        dir, [&](const std::string &log_path) { capture_child(dir + "/song.mod", dir + "/capture", frames, log_path); }, &text))
        << text;

    std::vector<Heard> heard;
    std::vector<Logged> events;
    parse_log(text, &heard, &events);
    ASSERT_EQ(heard.size(), static_cast<size_t>(frames));

    // The heard song time is the capture's clock, exactly; each event is
    // handed over on the first frame that hears it.
    for (int k = 0; k < frames; k++) EXPECT_EQ(heard[k].song_frame, capture_audio_frames_after(k)) << k;
    // With the length of the tick in which it stands, at the song's tempo of
    // the moment (the song changes it from 125 to 160).
    for (const Logged &e : events) {
        EXPECT_LE(e.frame, heard[e.at_frame].song_frame);
        if (e.at_frame > 0) {
            EXPECT_GT(e.frame, heard[e.at_frame - 1].song_frame);
        }
    }

    // Independently, from the player's own state: the same song rendered one
    // frame per call; a note has started at the boundary a call ends on when
    // the channel's voice was restarted there (its read index is back at the
    // window's end, where mixing never leaves it) or a stopped channel plays
    // again.
    std::set<std::pair<long long, int>> state_notes, event_notes;
    std::set<long long> state_rows, event_rows;
    std::vector<unsigned> tick_length;  // the length of the tick in progress at each song frame
    {
        ModPlayer *p = mod_player_create(44100, song.data(), static_cast<long>(song.size()));
        ASSERT_NE(p, nullptr);
        mod_player_set_loop(p, 1);
        int32_t scratch[2];
        int last_index[4], last_playing[4];
        for (int c = 0; c < 4; c++) {
            last_index[c] = p->voices[c].read_index;
            last_playing[c] = p->channels[c].playing;
        }
        const long long total = capture_audio_frames_after(frames - 1);
        tick_length.push_back(p->samples_per_tick);
        for (long long f = 1; f <= total; f++) {
            mod_player_render(p, scratch, 1);
            tick_length.push_back(p->samples_per_tick);
            for (int c = 0; c < 4; c++) {
                const int index = p->voices[c].read_index, playing = p->channels[c].playing;
                if ((index == VOICE_WINDOW_SAMPLES && last_index[c] != VOICE_WINDOW_SAMPLES) ||
                    (playing && !last_playing[c]))
                    state_notes.insert({f, c});
                last_index[c] = index;
                last_playing[c] = playing;
            }
            // A call that ends on a boundary leaves tick_sample 0; at a row
            // start the tick is 0 as well.
            if (p->tick == 0 && p->tick_sample == 0) state_rows.insert(f);
        }
        mod_player_destroy(p);
    }
    int silent_notes = 0, delayed = 0;
    for (const Logged &e : events) {
        if (e.kind == MUSIC_EVENT_ROW) event_rows.insert(e.frame);
        if (e.kind != MUSIC_EVENT_NOTE) continue;
        event_notes.insert({e.frame, e.channel});
        silent_notes += e.volume == 0;
    }
    for (const auto &[frame, channel] : event_notes) delayed += !event_rows.count(frame);
    EXPECT_EQ(event_notes, state_notes);
    EXPECT_EQ(event_rows, state_rows);
    std::set<unsigned> lengths;
    for (int k = 0; k < frames; k++) {
        ASSERT_LT(static_cast<size_t>(heard[k].song_frame), tick_length.size());
        EXPECT_EQ(heard[k].tick_frames, tick_length[static_cast<size_t>(heard[k].song_frame)]) << k;
        EXPECT_LT(heard[k].tick_frame, heard[k].tick_frames) << k;
        lengths.insert(heard[k].tick_frames);
    }
    EXPECT_EQ(lengths, (std::set<unsigned>{882, 689})) << "44100 x 2.5 / tempo, at tempo 125 and 160";
    EXPECT_GT(event_notes.size(), 20u);
    EXPECT_GE(silent_notes, 2) << "the C00 note is reported, with volume 0";
    EXPECT_GE(delayed, 4) << "delayed and retriggered notes start off the row boundary";

    // And in the captured sound: per side (left: channels 0 and 3, right: 1
    // and 2), each stretch of sound after silence starts with an audible
    // note. The resampler reaches the new sample's first byte on its first
    // step after the note starts, so the sound begins at most one source
    // sample later: at these periods (508 and shorter) within 8 frames.
    std::vector<uint8_t> wav;
    ASSERT_TRUE(read_whole_file(dir + "/capture/audio.wav", &wav));
    const size_t total = (wav.size() - 44) / 4;
    for (int side = 0; side < 2; side++) {
        std::vector<long long> onsets, audible;
        bool silent = true;
        for (size_t f = 0; f < total; f++) {
            const uint8_t *s = &wav[44 + f * 4 + side * 2];
            const bool quiet = s[0] == 0 && s[1] == 0;
            if (silent && !quiet) onsets.push_back(static_cast<long long>(f));
            silent = quiet;
        }
        for (const Logged &e : events)
            if (e.kind == MUSIC_EVENT_NOTE && e.volume > 0 && ((e.channel == 1 || e.channel == 2) == (side == 1)))
                audible.push_back(e.frame);
        ASSERT_EQ(onsets.size(), audible.size()) << "side " << side;
        for (size_t i = 0; i < onsets.size(); i++) {
            EXPECT_GE(onsets[i], audible[i]) << side << " " << i;
            EXPECT_LE(onsets[i], audible[i] + 8) << side << " " << i;
        }
    }

    // The heard position agrees with the row events: on every frame it is in
    // the row that the last row event at or before it started.
    std::map<long long, int> rows_at;
    for (const Logged &e : events)
        if (e.kind == MUSIC_EVENT_ROW) rows_at[e.frame] = e.order * 64 + e.row;
    auto row_event = rows_at.begin();
    int current = -1;
    for (int k = 0; k < frames; k++) {
        while (row_event != rows_at.end() && row_event->first <= heard[k].song_frame) current = (row_event++)->second;
        if (current >= 0) {
            EXPECT_EQ(heard[k].order * 64 + heard[k].row, current) << k;
        }
    }
    remove_tree(dir);
}

namespace {

// Note starts as the player's note callback reports them, each with the
// song frame its tick begins at: the frames rendered when it is called.
struct NoteLog {
    long long frame;
    std::vector<std::array<long long, 6>> notes;  // frame, channel, instrument, sample, period, volume
};

void log_note(void *user, int channel, uint8_t instrument, uint16_t sample, uint16_t period, uint8_t volume) {
    NoteLog *log = static_cast<NoteLog *>(user);
    log->notes.push_back({log->frame, channel, instrument, sample, period, volume});
}

}  // namespace

// KEVO_MUSIC hands the music start-up an XM, an S3M, then an IT (whose
// notes sound on in background voices, which start no note of a channel),
// of twelve channels in place of the module the program names. In a
// capture every note the player starts, on any of the twelve channels, is an event with
// its instrument and the sample that instrument plays for the note, at the
// frame where it is heard; and the captured sound is the song's. Started
// by KEVO_FROM at its first row, where every channel starts a note inside
// the seek, the XM gives those notes too.
TEST(MusicSync, KevoMusicPlaysAnXmOrAnS3mWhoseNotesOnEveryChannelAreEvents) {
    const std::string dir = make_temp_dir("music_sync_wide");
    ASSERT_FALSE(dir.empty());
    const int channels = 12, frames = 200;  // 3.4 s: past the XM's one-row pattern
    const struct {
        const char *name, *from;
        std::vector<uint8_t> bytes;
        std::set<std::pair<int, int>> instrument_samples;
    } cases[] = {{"wide.xm", "", wide_xm_song(channels), {{1, 1}, {2, 2}, {2, 3}}},
                 {"wide.s3m", "", wide_s3m_song(channels), {{1, 1}, {2, 2}}},
                 {"wide.it", "", wide_it_song(channels), {{1, 1}, {2, 2}, {2, 3}}},
                 {"wide.xm", "0:0", wide_xm_song(channels), {{1, 1}, {2, 2}, {2, 3}}}};
    for (const auto &c : cases) {
        const std::string path = dir + "/" + c.name, capture = dir + "/capture_" + c.name + c.from;
        ASSERT_TRUE(write_whole_file(path, c.bytes));
        std::string text;
        ASSERT_TRUE(child_log(
            dir,
            [&](const std::string &log_path) {
                capture_child(ENGINE_SOURCE_DIR "/res/kevo.mod", capture, frames, log_path, path, c.from);
            },
            &text))
            << c.name << ": " << text;
        std::vector<Heard> heard;
        std::vector<Logged> events;
        parse_log(text, &heard, &events);
        ASSERT_EQ(heard.size(), static_cast<size_t>(frames)) << c.name;
        const long long last_heard = heard.back().song_frame;

        // The song by a player of our own, looping as the start-up has it,
        // a frame per call from its start; the capture's sound begins where
        // the seek puts it (0 without one).
        ModPlayer *p = mod_player_create(44100, c.bytes.data(), static_cast<long>(c.bytes.size()));
        ASSERT_NE(p, nullptr) << c.name;
        ASSERT_EQ(p->channel_count, channels);
        mod_player_set_loop(p, 1);
        const long long start = *c.from ? mod_player_seek(p, 0, 0) : 0;
        ASSERT_EQ(start, *c.from ? 3 * 882 : 0) << "row 0 starts after one row's ticks";
        mod_player_destroy(p);
        p = mod_player_create(44100, c.bytes.data(), static_cast<long>(c.bytes.size()));
        mod_player_set_loop(p, 1);
        NoteLog played = {0, {}};
        mod_player_set_note_callback(p, log_note, &played);
        const long long sound_frames = capture_audio_frames_after(frames);
        std::vector<int16_t> sound;
        for (long long f = 0; f < start + sound_frames; f++) {
            played.frame = f + 1;
            int16_t pair[2];
            mod_player_render_s16(p, pair, 1);
            if (f >= start) sound.insert(sound.end(), pair, pair + 2);
        }
        mod_player_destroy(p);

        std::vector<std::array<long long, 6>> expected, got;
        for (const auto &n : played.notes)
            if (n[0] >= start && n[0] <= last_heard) expected.push_back(n);
        std::set<int> heard_channels;
        std::set<std::pair<int, int>> instrument_samples;
        for (const Logged &e : events) {
            if (e.kind != MUSIC_EVENT_NOTE) continue;
            got.push_back({e.frame, e.channel, e.instrument, e.sample, e.period, e.volume});
            heard_channels.insert(e.channel);
            instrument_samples.insert({e.instrument, e.sample});
        }
        EXPECT_EQ(got, expected) << c.name;
        EXPECT_EQ(heard_channels.size(), static_cast<size_t>(channels)) << c.name;
        EXPECT_EQ(instrument_samples, c.instrument_samples) << c.name;
        EXPECT_GT(got.size(), 60u) << c.name;

        std::vector<uint8_t> wav;
        ASSERT_TRUE(read_whole_file(capture + "/audio.wav", &wav));
        ASSERT_EQ(wav.size(), 44 + 2 * sound.size()) << c.name;
        EXPECT_EQ(memcmp(&wav[44], sound.data(), 2 * sound.size()), 0) << c.name << ": the capture's sound is the song's";
        long audible[2] = {0, 0};
        for (size_t i = 0; i < sound.size(); i++) audible[i % 2] += sound[i] != 0;
        EXPECT_GT(audible[0], sound_frames / 2) << c.name;
        EXPECT_GT(audible[1], sound_frames / 2) << c.name;
    }
    remove_tree(dir);
}

namespace {

// In a child process: plays res/kevo.mod through SDL's disk audio driver,
// which takes a buffer every SDL_DISKAUDIODELAY ms like a sound card
// would, and polls the heard position about every millisecond for
// `run_ms`, logging "time heard callback_ms render_start" for each poll.
void real_time_child(const std::string &log_path, const std::string &raw_path, int run_ms) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw_path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "23", 1);
    unsetenv("KEVO_CAPTURE");
    unsetenv("KEVO_FROM");
    unsetenv("KEVO_MUSIC");
    FILE *log = fopen(log_path.c_str(), "w");
    if (!log || music_start_file(ENGINE_SOURCE_DIR "/res/kevo.mod") != 0) _exit(3);
    if (audio_device_frames != 1024) _exit(4);
    audio_unpause();
    const uint32_t start = SDL_GetTicks();
    for (;;) {
        const uint32_t now = SDL_GetTicks();
        if (now - start > static_cast<uint32_t>(run_ms)) break;
        MusicPosition at;
        if (music_heard_position_at(now, &at) != 0) _exit(5);
        uint32_t callback_ms = 0;  // 0 0: no callback yet
        int64_t render_start = 0;
        music_sync_last_callback(&callback_ms, &render_start);
        fprintf(log, "%u %lld %u %lld %d %d\n", now, static_cast<long long>(at.song_frame), callback_ms, static_cast<long long>(render_start),
                at.order, at.row);
        MusicEvent e;
        while (music_event_next(&e)) {
        }
        SDL_Delay(1);
    }
    fclose(log);
    _exit(0);
}

}  // namespace

// The estimate on a real audio thread. Its error is measured against the
// device's own pace: between two callbacks the device plays one buffer,
// so the truth at time t is the straight line from one callback's
// (time, first frame - buffer) to the next one's. The figure is printed;
// the bound only catches a broken estimate (wrong units, no lag, jumps).
TEST(MusicSync, HeardPositionOnARealAudioThreadLagsTheRenderAndFollowsTheDevice) {
    const std::string dir = make_temp_dir("music_sync_rt");
    ASSERT_FALSE(dir.empty());
    std::string text;
    ASSERT_TRUE(child_log(
        dir, [&](const std::string &log_path) { real_time_child(log_path, dir + "/out.raw", 3000); }, &text))
        << text;
    struct Poll {
        long long t, heard, cb, start;
        int order, row;
    };
    std::vector<Poll> polls;
    {
        std::istringstream in(text);
        Poll p;
        while (in >> p.t >> p.heard >> p.cb >> p.start >> p.order >> p.row) polls.push_back(p);
    }
    ASSERT_GT(polls.size(), 500u);
    // Callbacks as the main thread saw them.
    std::vector<std::pair<long long, long long>> callbacks;  // time, first frame - buffer
    for (const Poll &p : polls)
        if (p.cb != 0 && (callbacks.empty() || callbacks.back().first != p.cb || callbacks.back().second != p.start - 1024))
            callbacks.push_back({p.cb, p.start - 1024});
    ASSERT_GT(callbacks.size(), 60u) << "about 43 callbacks a second";
    long long previous = 0, worst = 0, beyond_render = 0;
    double sum = 0;
    int measured = 0;
    size_t k = 0;
    for (const Poll &p : polls) {
        EXPECT_GE(p.heard, previous) << "never backwards";
        previous = p.heard;
        beyond_render += p.cb != 0 && p.heard > p.start;
        while (k + 1 < callbacks.size() && callbacks[k + 1].first <= p.t) k++;
        if (k + 1 >= callbacks.size() || callbacks[k].first > p.t || k < 2) continue;
        const auto [t0, f0] = callbacks[k];
        const auto [t1, f1] = callbacks[k + 1];
        if (t1 == t0) continue;
        const double truth = f0 + static_cast<double>(f1 - f0) * (p.t - t0) / static_cast<double>(t1 - t0);
        const long long error = std::llabs(p.heard - static_cast<long long>(truth));
        worst = std::max(worst, error);
        sum += static_cast<double>(error);
        measured++;
    }
    EXPECT_EQ(beyond_render, 0) << "what is heard lags what is rendered by a buffer";
    EXPECT_GT(polls.back().heard, 44100 * 2) << "the song moves on";
    ASSERT_GT(measured, 500);
    printf("heard-position error against the device's pace: mean %.2f ms, worst %.2f ms over %d polls\n",
           sum / measured / 44.1, static_cast<double>(worst) / 44.1, measured);
    EXPECT_LT(worst, 44100 / 20) << "within 50 ms even on a loaded machine";
    remove_tree(dir);
}

TEST(MusicSeek, PositionsAreOrderAndOptionalRow) {
    int order = -1, row = -1;
    EXPECT_EQ(music_parse_position("3", &order, &row), 0);
    EXPECT_EQ(order, 3);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(music_parse_position("127:63", &order, &row), 0);
    EXPECT_EQ(order, 127);
    EXPECT_EQ(row, 63);
    // As far as any format goes: 256 positions, patterns of 256 rows.
    EXPECT_EQ(music_parse_position("255:255", &order, &row), 0);
    EXPECT_EQ(order, 255);
    EXPECT_EQ(row, 255);
    for (const char *bad : {"", ":", "3:", ":4", "3:256", "256", "-1", "3:-1", "3:1x", " 3", "3 ", "+3", "0x3",
                            "99999999999999999999", "3:99999999999999999999"})
        EXPECT_EQ(music_parse_position(bad, &order, &row), -1) << bad;

    // Whether a row is in a position's pattern is the song's to say: the
    // XM's positions 0 .. 4 play patterns of 16, 1, 130, 1 and 256 rows.
    const std::vector<uint8_t> xm = wide_xm_song(6);
    ModPlayer *p = mod_player_create(44100, xm.data(), static_cast<long>(xm.size()));
    ASSERT_NE(p, nullptr);
    const int rows[] = {16, 1, 130, 1, 256, 0};
    for (int position = 0; position < 6; position++) EXPECT_EQ(music_position_rows(p, position), rows[position]);
    EXPECT_EQ(music_position_rows(p, -1), 0);
    EXPECT_EQ(music_position_rows(nullptr, 0), 0);
    mod_player_destroy(p);
}

namespace {

// In a child process: a capture of res/kevo.mod that restarts the music at
// row 16 of position 1 after `before` frames, logging the heard position
// ("H frame order row song_frame") and row events ("R frame order row at").
void seek_child(const std::string &dir, const std::string &log_path, int before, int frames) {
    setenv("KEVO_CAPTURE", dir.c_str(), 1);
    setenv("KEVO_CAPTURE_FRAMES", std::to_string(frames).c_str(), 1);
    unsetenv("KEVO_FROM");
    unsetenv("KEVO_MUSIC");
    if (!freopen("/dev/null", "w", stderr)) _exit(5);
    FILE *log = fopen(log_path.c_str(), "w");
    if (!log || music_start_file(ENGINE_SOURCE_DIR "/res/kevo.mod") != 0) _exit(3);
    video_init();
    audio_unpause();
    for (long k = 0;; k++) {
        if (k == before && (music_seek(1, 16) != 0 || music_seek(99, 0) != -1)) _exit(6);
        MusicPosition at;
        music_heard_position(&at);
        fprintf(log, "H %ld %d %d %lld\n", k, at.order, at.row, static_cast<long long>(at.song_frame));
        MusicEvent e;
        while (music_event_next(&e))
            if (e.kind == MUSIC_EVENT_ROW) fprintf(log, "R %ld %d %d %lld\n", k, e.order, e.row, static_cast<long long>(e.frame));
        fflush(log);
        fb_present();
        frame_counter++;
        if (exit_requested()) exit(0);  // the capture has made its last frame
    }
}

}  // namespace

TEST(MusicSeek, RestartingMidSongMovesTheSoundTheHeardPositionAndTheEvents) {
    const std::string dir = make_temp_dir("music_seek");
    ASSERT_FALSE(dir.empty());
    std::vector<uint8_t> module;
    ASSERT_TRUE(read_whole_file(ENGINE_SOURCE_DIR "/res/kevo.mod", &module));
    ModPlayer *p = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(p, nullptr);
    const int64_t seek_frame = mod_player_seek(p, 1, 16);
    ASSERT_GT(seek_frame, 0);
    // The reference: the song played from row 1:16 on.
    std::vector<int16_t> from_seek(2 * 30000);
    mod_player_set_loop(p, 1);
    mod_player_render_s16(p, from_seek.data(), 30000);
    mod_player_destroy(p);

    const int before = 40, frames = 80;
    std::string text;
    ASSERT_TRUE(child_log(
        dir, [&](const std::string &log_path) { seek_child(dir + "/c", log_path, before, frames); }, &text))
        << text;

    std::istringstream log(text);
    std::vector<long long> heard_frame;
    std::vector<std::pair<int, int>> heard_place;
    std::vector<long long> row_frames_after;
    for (std::string kind; log >> kind;) {
        long k;
        int order, row;
        long long frame;
        log >> k >> order >> row >> frame;
        if (kind == "H") {
            heard_frame.push_back(frame);
            heard_place.push_back({order, row});
        } else if (k >= before) {
            EXPECT_GE(frame, seek_frame) << "no event from before the seek is handed over after it";
            row_frames_after.push_back(frame);
        }
    }
    ASSERT_EQ(heard_frame.size(), static_cast<size_t>(frames));
    // Before: the song from its start; from the seek on: from the row's time.
    EXPECT_EQ(heard_frame[before - 1], capture_audio_frames_after(before - 1));
    for (int k = before; k < frames; k++)
        EXPECT_EQ(heard_frame[k], seek_frame + capture_audio_frames_after(k) - capture_audio_frames_after(before)) << k;
    EXPECT_EQ(heard_place[before], std::make_pair(1, 16));
    ASSERT_FALSE(row_frames_after.empty());
    EXPECT_EQ(row_frames_after.front(), seek_frame) << "the row sought is the first row event";

    // The captured sound from the seek on is the song from that row on.
    std::vector<uint8_t> wav;
    ASSERT_TRUE(read_whole_file(dir + "/c/audio.wav", &wav));
    const size_t at = static_cast<size_t>(capture_audio_frames_after(before));
    const size_t count = (wav.size() - 44) / 4 - at;
    ASSERT_LE(count, 30000u);
    size_t differing = 0;
    for (size_t i = 0; i < 2 * count; i++) {
        const uint8_t *s = &wav[44 + 4 * at + 2 * i];
        differing += static_cast<int16_t>(s[0] | s[1] << 8) != from_seek[i];
    }
    EXPECT_EQ(differing, 0u);
    remove_tree(dir);
}

namespace {

// In a child process, with no audio device: a song of four notes on every
// row at speed 1 (five events a tick) rendered through the sync's audio
// callback by the main thread `buffers` buffers at a time, without taking
// events in between, so the ring overflows. Logs music_events_dropped()
// after taking one event, then after a seek, then after falling behind
// again: "D dropped_1 seek_status after_seek event_row dropped_2".
void dropping_child(const std::string &log_path) {
    unsetenv("KEVO_CAPTURE");
    unsetenv("KEVO_FROM");
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_square(64, 16, 60, -60), 40, 0, 0, 64);
    for (int row = 0; row < 64; row++)
        for (int ch = 0; ch < 4; ch++) modbuilder_set_cell(&b, 0, row, ch, 1, 300 + 4 * row, row == 0 && ch == 0 ? 0xF01 : 0);
    static std::vector<uint8_t> song;
    song = modbuilder_build(&b);
    ModPlayer *p = mod_player_create(44100, song.data(), static_cast<long>(song.size()));
    FILE *log = fopen(log_path.c_str(), "w");
    if (!p || !log) _exit(3);
    mod_player_set_loop(p, 1);
    music_player = p;
    music_sync_attach(p, 0, false);
    static uint8_t buffer[4096];
    auto fall_behind = [&] {
        for (int i = 0; i < 300; i++) music_sync_audio_callback(nullptr, buffer, sizeof buffer);
    };
    MusicEvent e;
    fall_behind();
    const int took = music_event_next_any(&e);
    const uint64_t dropped_1 = music_events_dropped();
    const int seek = music_seek(0, 8);
    const uint64_t after_seek = music_events_dropped();
    const int seek_row = music_event_next_any(&e) ? e.row : -1;
    fall_behind();
    const int took_again = music_event_next_any(&e);
    fprintf(log, "D %llu %d %llu %d %llu\n", static_cast<unsigned long long>(dropped_1), seek, static_cast<unsigned long long>(after_seek),
            seek_row, static_cast<unsigned long long>(music_events_dropped()));
    fclose(log);
    _exit(took == 1 && took_again == 1 ? 0 : 4);
}

}  // namespace

TEST(MusicSync, DroppedEventsAreCountedAcrossSeeks) {
    const std::string dir = make_temp_dir("music_dropped");
    ASSERT_FALSE(dir.empty());
    std::string text;
    ASSERT_TRUE(child_log(
        dir, [&](const std::string &log_path) { dropping_child(log_path); }, &text))
        << text;
    std::istringstream log(text);
    std::string tag;
    unsigned long long dropped_1 = 0, after_seek = 0, dropped_2 = 0;
    int seek = -1, seek_row = -1;
    ASSERT_TRUE(log >> tag >> dropped_1 >> seek >> after_seek >> seek_row >> dropped_2);
    // 300 buffers of 1024 frames hold some 340 rows, 1700 events: all but
    // the ring's newest EVENT_RING_CAPACITY are lost.
    EXPECT_GT(dropped_1, 600u);
    EXPECT_EQ(seek, 0);
    EXPECT_EQ(after_seek, dropped_1) << "a seek keeps the count";
    EXPECT_EQ(seek_row, 8) << "the events start again at the row sought";
    EXPECT_GE(dropped_2, dropped_1 + 600) << "and it goes on counting";
    remove_tree(dir);
}

namespace {

// In a child process, with no audio device and on the virtual clock: 12
// buffers of 1024 frames of a song with four notes a row and a row a tick
// (882 frames) rendered through the sync's callback at 0 ms, so that what
// is heard is the last buffer's start. Logs the heard song frame, the
// events music_event_next takes then (count, last frame), those
// music_event_next_any takes after them (count, first and last frame),
// and how many music_event_next takes once the clock has moved on past
// the buffer: "A heard now last ahead first_ahead last_ahead later".
void anticipating_child(const std::string &log_path) {
    unsetenv("KEVO_CAPTURE");
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_square(64, 16, 60, -60), 40, 0, 0, 64);
    for (int row = 0; row < 64; row++)
        for (int ch = 0; ch < 4; ch++) modbuilder_set_cell(&b, 0, row, ch, 1, 300 + 4 * row, row == 0 && ch == 0 ? 0xF01 : 0);
    static std::vector<uint8_t> song;
    song = modbuilder_build(&b);
    ModPlayer *p = mod_player_create(44100, song.data(), static_cast<long>(song.size()));
    FILE *log = fopen(log_path.c_str(), "w");
    if (!p || !log) _exit(3);
    engine_clock_make_virtual();
    music_player = p;
    music_sync_attach(p, 0, false);
    static uint8_t buffer[4096];
    for (int i = 0; i < 12; i++) music_sync_audio_callback(nullptr, buffer, sizeof buffer);
    MusicPosition at;
    if (music_heard_position(&at) != 0) _exit(4);
    MusicEvent e;
    int now = 0, ahead = 0, later = 0;
    long long last = -1, first_ahead = -1, last_ahead = -1;
    while (music_event_next(&e)) {
        now++;
        last = static_cast<long long>(e.frame);
    }
    while (music_event_next_any(&e)) {
        if (ahead++ == 0) first_ahead = static_cast<long long>(e.frame);
        last_ahead = static_cast<long long>(e.frame);
    }
    engine_clock_advance(1000);
    while (music_event_next(&e)) later++;
    fprintf(log, "A %lld %d %lld %d %lld %lld %d\n", static_cast<long long>(at.song_frame), now, last, ahead, first_ahead, last_ahead,
            later);
    fclose(log);
    _exit(0);
}

}  // namespace

// music_event_next hands over only what has been heard; music_event_next_any
// what has been rendered, ahead of the sound, for pictures that anticipate.
TEST(MusicSync, EventsAheadOfWhatIsHeardAreTakenOnlyByNextAny) {
    const std::string dir = make_temp_dir("music_ahead");
    ASSERT_FALSE(dir.empty());
    std::string text;
    ASSERT_TRUE(child_log(
        dir, [&](const std::string &log_path) { anticipating_child(log_path); }, &text))
        << text;
    std::istringstream log(text);
    std::string tag;
    long long heard = -1, last = -1, first_ahead = -1, last_ahead = -1;
    int now = -1, ahead = -1, later = -1;
    ASSERT_TRUE(log >> tag >> heard >> now >> last >> ahead >> first_ahead >> last_ahead >> later);
    // No device: what is heard is the start of the last buffer rendered.
    EXPECT_EQ(heard, 11 * 1024);
    EXPECT_GT(now, 0);
    EXPECT_LE(last, heard);
    EXPECT_GT(ahead, 0) << "the last buffer holds a row start, heard later";
    EXPECT_GT(first_ahead, heard);
    EXPECT_LT(last_ahead, 12 * 1024) << "only what has been rendered";
    EXPECT_EQ(later, 0) << "each event is handed over once";
    remove_tree(dir);
}
