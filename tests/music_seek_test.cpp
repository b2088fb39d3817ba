// Song length and seeking without mixing: the length equals where a render
// from the start finishes, and a seek followed by rendering equals a render
// from the start with the frames before that row dropped, for the demo's
// module, random songs of every command, songs built around jumps,
// pattern loops, pattern delays and tempo changes, and XM, S3M and MOD
// songs of up to 32 channels with patterns of 1 to 256 rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "music/mod_player.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "support/music_itbuilder.h"
#include "support/music_wide_songs.h"
#include "support/test_files.h"

namespace {

constexpr int RATE = 44100;

std::vector<uint8_t> kevo_bytes() {
    std::vector<uint8_t> bytes;
    read_whole_file(ENGINE_SOURCE_DIR "/res/kevo.mod", &bytes);
    return bytes;
}

ModPlayer *create(const std::vector<uint8_t> &bytes) {
    return mod_player_create(RATE, bytes.data(), static_cast<long>(bytes.size()));
}

// Frames a render from the start yields before the player says it has
// finished, tick by tick; -1 when it plays on past `cap`.
int64_t rendered_length(const std::vector<uint8_t> &bytes, int64_t cap) {
    ModPlayer *p = create(bytes);
    int64_t frames = 0;
    while (!p->finished && frames <= cap) {
        frames += p->samples_per_tick - p->tick_sample;
        music_run_ticks(p, 1);
    }
    const bool finished = p->finished;
    mod_player_destroy(p);
    return finished ? frames : -1;
}

// A song around the commands that move the clock: tempo changes, a
// pattern delay, pattern loops, a forward jump and a break, over four
// positions with notes on every channel.
std::vector<uint8_t> clockwork_song() {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_saw(3000, 40, 100), 50, 0, 1000, 2000);
    modbuilder_set_sample(&b, 2, modbuilder_noise(1200, 110), 64, 3, 0, 0);
    modbuilder_set_sample(&b, 3, modbuilder_sine(4096, 64, 120), 40, 12, 0, 4096);
    const uint8_t order[] = {0, 1, 2, 1, 3};
    modbuilder_set_order(&b, order, 5);
    for (int p = 0; p < 4; p++)
        for (int row = 0; row < 64; row += 3)
            for (int ch = 0; ch < 4; ch++)
                modbuilder_set_cell(&b, p, row, ch, 1 + (row + ch) % 3, 214 + 40 * ((row + p) % 9),
                                    ch == 1 ? 0x401 + (row % 5) * 0x10 : 0xA01);
    modbuilder_set_cell(&b, 0, 4, 3, 0, 0, 0xF8F);   // tempo 143
    modbuilder_set_cell(&b, 0, 10, 3, 0, 0, 0xF03);  // speed 3
    modbuilder_set_cell(&b, 0, 12, 2, 0, 0, 0xE60);
    modbuilder_set_cell(&b, 0, 15, 2, 0, 0, 0xE63);  // rows 12 .. 15 three times
    modbuilder_set_cell(&b, 0, 20, 0, 0, 0, 0xEE2);  // row 20 lasts three rows
    modbuilder_set_cell(&b, 0, 30, 3, 0, 0, 0xF21);  // tempo 33
    modbuilder_set_cell(&b, 0, 33, 3, 0, 0, 0xFE7);  // tempo 231
    modbuilder_set_cell(&b, 0, 50, 1, 0, 0, 0xB02);  // jump over position 1
    modbuilder_set_cell(&b, 2, 40, 0, 0, 0, 0xD16);  // break to row 16 of position 3
    modbuilder_set_cell(&b, 1, 20, 3, 0, 0, 0xF06);
    modbuilder_set_cell(&b, 1, 60, 2, 0, 0, 0xE60);
    modbuilder_set_cell(&b, 1, 62, 2, 0, 0, 0xE61);
    return modbuilder_build(&b);
}

// Seeks a player to (order, row) and renders `frames` frames after it;
// the same from a fresh player rendering from the start in uneven slices.
// Both must agree sample for sample. `played` frames are rendered before
// the seek, to seek a player that has already played.
// With played_row >= 0 the seek is to that played row instead, which must
// be row `row` of position `order`.
void expect_seek_matches_playing(const std::vector<uint8_t> &bytes, int order, int row,
                                 int frames, int played, uint8_t loop, const char *name, int64_t played_row = -1) {
    ModPlayer *seeking = create(bytes);
    ASSERT_NE(seeking, nullptr);
    mod_player_set_loop(seeking, loop);
    if (played > 0) music_render_s16(seeking, played);
    const int64_t at = played_row >= 0 ? mod_player_seek_played_row(seeking, played_row)
                                       : mod_player_seek(seeking, order, row);
    ASSERT_GE(at, 0) << name << " " << order << "/" << row;
    EXPECT_EQ(seeking->order, order);
    EXPECT_EQ(seeking->row, row);
    const std::vector<int16_t> after = music_render_s16(seeking, frames);

    ModPlayer *playing = create(bytes);
    mod_player_set_loop(playing, loop);
    std::vector<int16_t> all;
    int64_t done = 0;
    const int64_t total = at + frames;
    for (int slice = 1; done < total; slice = slice * 7 % 3001 + 1) {
        const int n = static_cast<int>(std::min<int64_t>(slice, total - done));
        std::vector<int16_t> part = music_render_s16(playing, n);
        all.insert(all.end(), part.begin(), part.end());
        done += n;
    }
    const std::vector<int16_t> expected(all.end() - 2 * frames, all.end());
    int differing = 0;
    for (size_t i = 0; i < after.size(); i++) differing += after[i] != expected[i];
    EXPECT_EQ(differing, 0) << name << " " << order << "/" << row << " at frame " << at;
    // The seeked player's state is the played one's, bar the stream
    // pointers into each record.
    EXPECT_EQ(seeking->tempo, playing->tempo);
    EXPECT_EQ(seeking->speed, playing->speed);
    EXPECT_EQ(seeking->order, playing->order);
    ASSERT_EQ(seeking->channel_count, playing->channel_count);
    for (int ch = 0; ch < seeking->channel_count; ch++) {
        EXPECT_EQ(seeking->channels[ch].loop_count, playing->channels[ch].loop_count);
        EXPECT_EQ(seeking->channels[ch].porta_target, playing->channels[ch].porta_target);
        EXPECT_EQ(seeking->channels[ch].position, playing->channels[ch].position);
        EXPECT_EQ(seeking->voices[ch].step, playing->voices[ch].step);
    }
    mod_player_destroy(seeking);
    mod_player_destroy(playing);
}

}  // namespace

TEST(MusicSongLength, EqualsWhereRenderingFinishes) {
    struct Song {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Song> songs = {{"kevo", kevo_bytes()},          {"clockwork", clockwork_song()},
                               {"xm 32", wide_xm_song(32)},     {"xm 5", wide_xm_song(5)},
                               {"s3m 32", wide_s3m_song(32)},   {"s3m 9", wide_s3m_song(9)},
                               {"mod 32", wide_mod_song(32)},   {"mod 8", wide_mod_song(8)},
                               {"it 64", wide_it_song(64)},     {"it 7", wide_it_song(7)}};
    ModBuilder b;
    modbuilder_busy_song(&b);
    songs.push_back({"busy", modbuilder_build(&b)});
    for (uint32_t seed = 2; seed < 30; seed++) {
        modbuilder_random_song(&b, seed);
        songs.push_back({"random", modbuilder_build(&b)});
    }
    int ended = 0;
    for (const Song &s : songs) {
        ModPlayer *p = create(s.bytes);
        ASSERT_NE(p, nullptr) << s.name;
        const int64_t cap = 300LL * RATE;
        const int64_t expected = rendered_length(s.bytes, cap);
        int64_t microseconds = -1;
        const int64_t frames = mod_song_length(p, cap, &microseconds);
        if (expected < 0) {
            EXPECT_EQ(frames, cap) << s.name;  // plays on for ever: the limit
        } else {
            ended++;
            EXPECT_EQ(frames, expected) << s.name;
            EXPECT_EQ(microseconds, expected * 1000000 / RATE) << s.name;
            // A shorter limit cuts the count.
            EXPECT_EQ(mod_song_length(p, expected - 1, nullptr), expected - 1) << s.name;
        }
        // The player itself has not moved: it sounds as a fresh one does.
        EXPECT_EQ(p->tick, 0);
        EXPECT_EQ(p->tick_sample, 0u);
        EXPECT_EQ(p->finished, 0);
        ModPlayer *fresh = create(s.bytes);
        EXPECT_TRUE(music_render_s16(p, 2000) == music_render_s16(fresh, 2000)) << s.name;
        mod_player_destroy(fresh);
        mod_player_destroy(p);
    }
    EXPECT_GE(ended, 20);
    EXPECT_EQ(mod_song_length(nullptr, 100, nullptr), -1);

    // Two pattern loops of one channel that rearm each other never end,
    // even with looping off.
    modbuilder_init(&b);
    modbuilder_set_cell(&b, 0, 3, 1, 0, 0, 0xE60);
    modbuilder_set_cell(&b, 0, 4, 1, 0, 0, 0xE62);
    modbuilder_set_cell(&b, 0, 5, 1, 0, 0, 0xE62);
    const std::vector<uint8_t> endless = modbuilder_build(&b);
    ModPlayer *p = create(endless);
    EXPECT_EQ(mod_song_length(p, 10LL * 3600 * RATE, nullptr), 10LL * 3600 * RATE);
    EXPECT_EQ(rendered_length(endless, 60LL * RATE), -1);
    // Its row 30 is never reached: the seek gives up and leaves the player.
    EXPECT_EQ(mod_player_seek(p, 0, 30), -1);
    EXPECT_EQ(mod_player_seek(p, 0, 5), 8 * 5292);  // rows 0 1 2 3 4 3 4, then 5
    mod_player_destroy(p);
}

TEST(MusicSeek, RenderingAfterASeekEqualsPlayingFromTheStart) {
    const std::vector<uint8_t> kevo = kevo_bytes();
    ASSERT_FALSE(kevo.empty());
    expect_seek_matches_playing(kevo, 0, 0, 20000, 0, 1, "kevo");
    expect_seek_matches_playing(kevo, 1, 0, 30000, 0, 1, "kevo");
    expect_seek_matches_playing(kevo, 3, 17, 30000, 0, 0, "kevo");
    expect_seek_matches_playing(kevo, kevo[950] - 1, 40, 30000, 100000, 1, "kevo");

    const std::vector<uint8_t> clockwork = clockwork_song();
    const int targets[][2] = {{0, 13}, {0, 16}, {0, 21}, {0, 35}, {2, 0}, {2, 39}, {4, 16}, {4, 63}};
    for (const auto &t : targets)
        expect_seek_matches_playing(clockwork, t[0], t[1], 25000, 7777, 0, "clockwork");

    ModBuilder b;
    for (uint32_t seed = 2; seed < 14; seed++) {
        modbuilder_random_song(&b, seed);
        const std::vector<uint8_t> song = modbuilder_build(&b);
        // Whichever row the song reaches some way in.
        ModPlayer *p = create(song);
        music_run_ticks(p, 150 + static_cast<int>(seed) * 13);
        const int order = p->order, row = p->row;
        const bool ended = p->finished;
        mod_player_destroy(p);
        if (!ended) expect_seek_matches_playing(song, order, row, 20000, 0, 1, "random");
    }
}

// Played rows: every row start counted through loops, delays, jumps and
// the song going round, as a render from the start meets them. The clock
// gives k at the k-th start and the fraction between; a seek to a played
// row renders what playing there renders.
TEST(MusicSeek, PlayedRowsCountEveryRowStartAndSeekThere) {
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        uint8_t loop;
        int64_t seconds;
    } songs[] = {{"clockwork", clockwork_song(), 0, 40}, {"kevo looping", kevo_bytes(), 1, 100}};
    for (const auto &song : songs) {
        ModPlayer *p = create(song.bytes);
        mod_player_set_loop(p, song.loop);
        struct Start {
            int64_t frame;
            int order, row;
        };
        std::vector<Start> starts;
        int64_t frames = 0;
        while (!p->finished && frames < song.seconds * RATE) {
            frames += p->samples_per_tick - p->tick_sample;
            music_run_ticks(p, 1);
            if (!p->finished && p->tick == 0) starts.push_back({frames, p->order, p->row});
        }
        ModRowClock *clock = mod_row_clock_create(p);
        ASSERT_GT(starts.size(), 200u) << song.name;
        EXPECT_EQ(mod_row_clock_row(clock, starts[0].frame - 1), 0.0);
        for (size_t k = 0; k + 1 < starts.size(); k++) {
            const int64_t length = starts[k + 1].frame - starts[k].frame;
            ASSERT_EQ(mod_row_clock_row(clock, starts[k].frame), static_cast<double>(k)) << song.name << " " << k;
            ASSERT_DOUBLE_EQ(mod_row_clock_row(clock, starts[k].frame + length / 4),
                             k + static_cast<double>(length / 4) / length) << song.name << " " << k;
        }
        // Asked about an earlier frame, it counts again from the start.
        EXPECT_EQ(mod_row_clock_row(clock, starts[7].frame), 7.0);
        const size_t picks[] = {1, 9, 40, 41, 42, 77, starts.size() - 2};
        for (size_t k : picks)
            expect_seek_matches_playing(song.bytes, starts[k].order, starts[k].row, 9000, 5000, song.loop, song.name,
                                        static_cast<int64_t>(k));
        mod_row_clock_destroy(clock);
        mod_player_destroy(p);
    }
    // After the end of a song that does not loop the last row goes on.
    ModPlayer *p = create(clockwork_song());
    const int64_t end = mod_song_length(p, 3600LL * RATE, nullptr);
    ModRowClock *clock = mod_row_clock_create(p);
    const double last = mod_row_clock_row(clock, end - 1);
    EXPECT_NEAR(mod_row_clock_row(clock, end), std::ceil(last), 1e-9);
    EXPECT_EQ(mod_player_seek_played_row(p, 100000), -1);
    EXPECT_EQ(mod_player_seek_played_row(p, -1), -1);
    mod_row_clock_destroy(clock);
    mod_player_destroy(p);
}

TEST(MusicSeek, RowsOfPatternsOfEveryLengthInSongsOfManyChannels) {
    // The XM plays patterns of 16, 1, 130, 1 and 256 rows: every row of
    // each is a row to seek to, the last ones too, and no row past them.
    for (int channels : {32, 7}) {
        const std::vector<uint8_t> xm = wide_xm_song(channels);
        const int targets[][2] = {{0, 15}, {1, 0}, {2, 64}, {2, 129}, {3, 0}, {4, 200}, {4, 255}};
        for (const auto &t : targets) expect_seek_matches_playing(xm, t[0], t[1], 12000, 0, 0, "xm");
        expect_seek_matches_playing(xm, 2, 100, 12000, 50000, 1, "xm");
        ModPlayer *p = create(xm);
        ASSERT_NE(p, nullptr);
        const int beyond[][2] = {{0, 16}, {1, 1}, {2, 130}, {3, 1}, {4, 256}, {5, 0}};
        for (const auto &t : beyond) EXPECT_EQ(mod_player_seek(p, t[0], t[1]), -1) << t[0] << "/" << t[1];
        mod_player_destroy(p);
    }
    const std::vector<uint8_t> s3m = wide_s3m_song(32), mod = wide_mod_song(32);
    for (const auto &t : {std::pair<int, int>{0, 63}, {1, 31}, {2, 40}}) {
        expect_seek_matches_playing(s3m, t.first, t.second, 12000, 0, 0, "s3m");
        expect_seek_matches_playing(mod, t.first, t.second, 12000, 0, 0, "mod");
    }
    // IT: notes sounding on in the pool, filters and random variations.
    ItBuilder it;
    itbuilder_showcase_song(&it);
    const std::vector<uint8_t> it_song = itbuilder_build(it, nullptr);
    for (const auto &t : {std::pair<int, int>{0, 3}, {2, 50}, {2, 150}})
        expect_seek_matches_playing(it_song, t.first, t.second, 12000, 0, 0, "it");
}

TEST(MusicSeek, UnreachedRowsAndBadArgumentsLeaveThePlayer) {
    const std::vector<uint8_t> clockwork = clockwork_song();
    ModPlayer *p = create(clockwork);
    ASSERT_NE(p, nullptr);
    int rows = 0;
    mod_player_set_row_callback(p, [](void *user) { ++*static_cast<int *>(user); }, &rows);
    music_render_s16(p, 40000);
    const int rows_before = rows;
    std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(p),
                                reinterpret_cast<uint8_t *>(p) + sizeof(ModPlayer));
    // Position 1 is jumped over and rows 51 .. 63 of position 0 are never
    // played; rows 12 .. 15 repeat but are reached.
    const int bad[][2] = {{1, 0}, {0, 51}, {0, 63}, {3, 5}, {5, 0}, {-1, 0}, {0, 64}, {0, -1}};
    for (const auto &t : bad) EXPECT_EQ(mod_player_seek(p, t[0], t[1]), -1) << t[0] << "/" << t[1];
    EXPECT_EQ(memcmp(before.data(), p, sizeof(ModPlayer)), 0);
    EXPECT_EQ(mod_player_seek(nullptr, 0, 0), -1);

    // A finished player starts over; the callbacks stay installed but are
    // not called while seeking: the first render tells the row sought, then
    // plays on into the next.
    while (!mod_player_is_finished(p)) music_render_s16(p, 50000);
    const int rows_at_end = rows;
    EXPECT_GT(rows_at_end, rows_before);
    EXPECT_GT(mod_player_seek(p, 2, 10), 0);
    EXPECT_EQ(mod_player_is_finished(p), 0);
    EXPECT_EQ(rows, rows_at_end);
    music_run_ticks(p, music_position(p).speed);
    EXPECT_EQ(rows, rows_at_end + 2);
    EXPECT_EQ(music_position(p).row, 11);
    mod_player_destroy(p);
}

TEST(MusicSeek, LoopingFindsRowsOnlyTheWayRoundReaches) {
    // Position 0 jumps to 2, position 2 back to 1.
    ModBuilder b;
    modbuilder_jump_back_song(&b);
    const std::vector<uint8_t> song = modbuilder_build(&b);
    ModPlayer *p = create(song);
    ASSERT_NE(p, nullptr);
    // Looping off: position 1 is never played, as before.
    EXPECT_EQ(mod_player_seek(p, 1, 0), -1);
    const int64_t first_pass = mod_player_seek(p, 2, 2);
    EXPECT_EQ(first_pass, 5292 * (1 + 8 + 2));  // rows 0 .. 7 of position 0, then 2:0 and 2:1
    // Looping on: position 1 starts after 8 rows of position 0 and 4 of
    // position 2; a row of the first pass is found where it was.
    mod_player_set_loop(p, 1);
    EXPECT_EQ(mod_player_seek(p, 1, 0), 5292 * (1 + 8 + 4));
    EXPECT_EQ(p->loop, 1);
    EXPECT_EQ(mod_player_seek(p, 2, 2), first_pass);
    // Rows behind the jumps stay out of reach however long the song goes
    // round, and such a seek leaves the player where it was.
    std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(p), reinterpret_cast<uint8_t *>(p) + sizeof(ModPlayer));
    EXPECT_EQ(mod_player_seek(p, 0, 8), -1);
    EXPECT_EQ(mod_player_seek(p, 2, 4), -1);
    EXPECT_EQ(memcmp(before.data(), p, sizeof(ModPlayer)), 0);
    mod_player_destroy(p);

    // Rendering from such a seek is the looping song from its start, also
    // on a player that has played and past position 1's speed change.
    expect_seek_matches_playing(song, 1, 0, 30000, 0, 1, "jump back");
    expect_seek_matches_playing(song, 1, 40, 60000, 9000, 1, "jump back");
    expect_seek_matches_playing(song, 2, 1, 60000, 0, 1, "jump back");
}
