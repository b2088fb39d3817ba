// The sequencer: tick length, row timing, every command's row-start and
// per-tick behaviour with the listed figures, position commands and their
// channel order, pattern loops and delays, the song's end and looping.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "music/mod_player.h"
#include "music/sequencer_internal.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "support/music_modbuilder.h"
#include "support/music_playback.h"

namespace {

constexpr int RATE = 44100;
constexpr int VOLUME_1 = 40;  // default volumes of samples 1 and 2
constexpr int VOLUME_2 = 50;

// A song under test: two looped samples, cells set by the test, a player
// that records each row start (order, row) and counts ticks.
class MusicSequencer : public ::testing::Test {
protected:
    ModBuilder b;
    std::vector<uint8_t> bytes;
    ModPlayer *p = nullptr;
    std::vector<std::pair<int, int>> rows;
    int ticks = 0;
    std::vector<int> ticks_per_row;

    void SetUp() override {
        modbuilder_init(&b);
        modbuilder_set_sample(&b, 1, modbuilder_saw(30000, 100, 80), VOLUME_1, 0, 0, 30000);
        modbuilder_set_sample(&b, 2, modbuilder_square(4000, 50, 70, -70), VOLUME_2, 0, 0, 4000);
    }
    void TearDown() override { mod_player_destroy(p); }

    void cell(int row, int channel, int sample, int period, int effect, int pattern = 0) {
        modbuilder_set_cell(&b, pattern, row, channel, sample, period, effect);
    }
    // Creates the player; the first row boundary comes after `speed` ticks.
    void start(uint8_t loop = 1) {
        bytes = modbuilder_build(&b);
        p = mod_player_create(RATE, bytes.data(), static_cast<long>(bytes.size()));
        ASSERT_NE(p, nullptr);
        mod_player_set_loop(p, loop);
        mod_player_set_row_callback(p, on_row, this);
        mod_player_set_tick_callback(p, on_tick, this);
    }
    static void on_row(void *user) {
        MusicSequencer *s = static_cast<MusicSequencer *>(user);
        s->rows.emplace_back(s->p->order, s->p->row);
        s->ticks_per_row.push_back(s->ticks);
        s->ticks = 0;
    }
    static void on_tick(void *user) { static_cast<MusicSequencer *>(user)->ticks++; }
    // Runs the rest of the current row; the next row has then just started.
    void next_row() { music_run_ticks(p, p->speed + p->row_delay - p->tick); }
    void tick() { music_run_ticks(p, 1); }
    Channel &ch(int i) { return p->channels[i]; }
    Voice &voice(int i) { return p->voices[i]; }
};

uint32_t step_for(int period) { return music_expected_step(period, RATE); }

}  // namespace

TEST(MusicSequencerClock, TickLength) {
    ModPlayer *p = static_cast<ModPlayer *>(calloc(1, sizeof(ModPlayer)));
    p->output_rate = 44100;
    // 2.5 s / tempo, truncated once: a truncated 2 x tempo / 5 first would
    // give 127 and 126 the length of 125, 133 that of 132.5, 32 that of 30.
    struct Case { int tempo, frames; } cases[] = {
        {125, 882}, {126, 875}, {127, 868}, {133, 828}, {111, 993}, {32, 3445}, {255, 432},
        {124, 889}, {2, 55125}, {1, 110250}, {0, 110250}};
    for (const Case &c : cases) {
        p->tempo = static_cast<uint8_t>(c.tempo);
        update_tick_length(p);
        EXPECT_EQ(p->samples_per_tick, c.frames) << c.tempo;
    }
    p->output_rate = 102;  // the lowest rate still gives a frame per tick
    p->tempo = 255;
    update_tick_length(p);
    EXPECT_EQ(p->samples_per_tick, 1);
    free(p);
}

TEST_F(MusicSequencer, RowTimingAndSpeedTempo) {
    cell(0, 0, 0, 0, 0xF1F);
    cell(1, 0, 0, 0, 0xF20);
    cell(2, 0, 0, 0, 0xFFF);
    cell(3, 0, 0, 0, 0xF00);  // ignored: the speed stays
    cell(4, 0, 0, 0, 0xF02);
    start();
    // The first row starts after 6 ticks of 882 frames.
    std::vector<int32_t> accum(2 * 5291);
    mod_player_render(p, accum.data(), 5291);
    EXPECT_TRUE(rows.empty());
    mod_player_render(p, accum.data(), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(ticks_per_row[0], 6);
    EXPECT_EQ(p->speed, 31);
    next_row();
    EXPECT_EQ(ticks_per_row[1], 31);
    EXPECT_EQ(p->tempo, 32);
    EXPECT_EQ(p->samples_per_tick, 3445);
    next_row();
    EXPECT_EQ(p->tempo, 255);
    EXPECT_EQ(p->samples_per_tick, 432);
    next_row();
    EXPECT_EQ(p->speed, 31);
    next_row();
    EXPECT_EQ(ticks_per_row.back(), 31);
    next_row();
    EXPECT_EQ(ticks_per_row.back(), 2);
    EXPECT_EQ(rows.back(), std::make_pair(0, 5));
}

TEST_F(MusicSequencer, ArpeggioFigures) {
    cell(0, 0, 1, 428, 0x037);
    cell(1, 0, 0, 0, 0x037);
    cell(0, 1, 1, 428, 0x000);
    cell(1, 1, 0, 0, 0x105);   // slides channel 1 off the table ...
    cell(2, 1, 0, 0, 0x037);   // ... so its arpeggio plays one period
    start();
    next_row();
    EXPECT_EQ(voice(0).step, step_for(428));
    const int expected[] = {285, 360, 428, 285, 360};  // +7, +3, base
    for (int t = 0; t < 5; t++) {
        tick();
        EXPECT_EQ(voice(0).step, step_for(expected[t])) << "tick " << t + 1;
        EXPECT_EQ(ch(0).period, 428);
    }
    next_row();
    next_row();
    ASSERT_EQ(ch(1).period, 428 - 5 * 5);
    for (int t = 0; t < 5; t++) {
        tick();
        EXPECT_EQ(voice(1).step, step_for(403)) << t;
    }
}

TEST_F(MusicSequencer, SlidesAreClamped) {
    cell(0, 0, 1, 300, 0x196);    // 1xx: 300 -> 150 -> 113
    cell(0, 1, 1, 800, 0x210);    // 2xx: +16 up to 856
    cell(0, 2, 1, 50, 0);         // note periods clamped on load
    cell(0, 3, 1, 1000, 0);
    cell(1, 0, 1, 120, 0xE1F);    // E1y: 105 -> 113
    cell(1, 1, 1, 850, 0xE2F);    // E2y: 865 -> 856
    cell(1, 2, 0, 0, 0xE13);      // fine slide on 113: stays
    start();
    next_row();
    EXPECT_EQ(ch(2).period, 113);
    EXPECT_EQ(ch(2).note, 113);
    EXPECT_EQ(ch(3).period, 856);
    tick();
    EXPECT_EQ(ch(0).period, 150);
    EXPECT_EQ(ch(1).period, 816);
    tick();
    EXPECT_EQ(ch(0).period, 113);
    EXPECT_EQ(voice(0).step, step_for(113));
    tick();
    tick();
    EXPECT_EQ(ch(1).period, 856);
    EXPECT_EQ(voice(1).step, step_for(856));
    next_row();
    EXPECT_EQ(ch(0).period, 113);
    EXPECT_EQ(voice(0).step, step_for(113));
    EXPECT_EQ(ch(1).period, 856);
    EXPECT_EQ(ch(2).period, 113);
}

TEST_F(MusicSequencer, FineSlideFromNoNoteDoesNotWrap) {
    cell(0, 0, 0, 0, 0xE1F);   // period 0 - 15: becomes 113, not 65521
    cell(0, 1, 0, 0, 0x1FF);
    start();
    next_row();
    EXPECT_EQ(ch(0).period, 113);
    tick();
    EXPECT_EQ(ch(1).period, 113);
}

TEST_F(MusicSequencer, TonePortamento) {
    cell(0, 0, 1, 428, 0);
    cell(1, 0, 0, 400, 0x305);
    cell(2, 0, 1, 0, 0x300);      // sample number under 3xx: no restart
    cell(3, 0, 0, 450, 0x503);    // 5xy: towards 450 at the remembered speed 5, sliding volume down 3
    start();
    next_row();
    next_row();
    uint32_t pos = ch(0).position;
    EXPECT_EQ(ch(0).porta_target, 400);
    EXPECT_EQ(ch(0).period, 428);
    EXPECT_NE(voice(0).read_index, 256);  // not restarted
    const int expected[] = {423, 418, 413, 408, 403};
    for (int t = 0; t < 5; t++) {
        tick();
        EXPECT_EQ(ch(0).period, expected[t]);
        EXPECT_EQ(voice(0).step, step_for(expected[t]));
    }
    EXPECT_GT(ch(0).position, pos);
    next_row();
    EXPECT_NE(voice(0).read_index, 256);
    tick();
    EXPECT_EQ(ch(0).period, 400);  // the gap (3) was below the speed
    next_row();
    EXPECT_EQ(ch(0).porta_target, 450);
    EXPECT_EQ(ch(0).porta_volume_memory, 0x03);
    int volume = ch(0).volume;
    tick();
    EXPECT_EQ(ch(0).period, 405);
    EXPECT_EQ(ch(0).volume, volume - 3);
}

TEST_F(MusicSequencer, VibratoAndTremolo) {
    cell(0, 3, 0, 0, 0xF0F);          // speed 15
    cell(0, 0, 1, 428, 0x448);        // vibrato speed 4, depth 8
    cell(0, 1, 2, 428, 0xC20);        // voice 1 at 32
    cell(1, 0, 0, 0, 0x602);          // vibrato goes on, volume slides down 2
    cell(1, 1, 2, 0, 0x748);          // restart at volume 50 with tremolo
    start();
    next_row();
    EXPECT_EQ(voice(1).volume, 32);
    tick();
    // Position 4: sine 97, 97 x 8 >> 7 = 6.
    EXPECT_EQ(ch(0).vibrato_period, 434);
    EXPECT_EQ(voice(0).step, step_for(434));
    EXPECT_EQ(ch(0).period, 428);
    for (int t = 2; t <= 9; t++) tick();
    // Position 36: -97: -776 >> 7 = -7 (arithmetic shift).
    EXPECT_EQ(ch(0).vibrato_period, 421);
    EXPECT_EQ(voice(0).step, step_for(421));

    next_row();
    EXPECT_EQ(ch(0).vibrato_pos, 0);
    EXPECT_EQ(ch(0).vibrato_param, 0x48);
    // 7xy leaves the voice volume as it was at the row start.
    EXPECT_EQ(ch(1).volume, VOLUME_2);
    EXPECT_EQ(voice(1).volume, 32);
    int volume = ch(0).volume;
    tick();
    EXPECT_EQ(ch(0).vibrato_period, 434);
    EXPECT_EQ(ch(0).volume, volume - 2);
    // 97 x 8 >> 6 = 12: plays 62, the channel volume stays 50.
    EXPECT_EQ(ch(1).tremolo_volume, 62);
    EXPECT_EQ(voice(1).volume, 62);
    EXPECT_EQ(ch(1).volume, VOLUME_2);
    for (int t = 2; t <= 9; t++) tick();
    EXPECT_EQ(ch(1).tremolo_volume, 50 - 13);  // -776 >> 6 = -13
    EXPECT_EQ(voice(1).volume, 50 - 13);
}

TEST_F(MusicSequencer, VolumeCommands) {
    cell(0, 0, 1, 428, 0xC50);   // stores 80, plays 64
    cell(1, 0, 0, 0, 0xA32);     // both nibbles: only up (80 + 3 -> 64)
    cell(2, 0, 0, 0, 0xC10);
    cell(3, 0, 0, 0, 0xA0F);     // down 15 a tick, stops at 0
    cell(4, 0, 0, 0, 0xC20);
    cell(5, 0, 0, 0, 0xA00);     // memory: 0F
    cell(6, 0, 0, 0, 0xEA5);
    cell(7, 0, 0, 0, 0xEBF);
    cell(8, 0, 0, 0, 0xC3E);
    cell(9, 0, 0, 0, 0xEA9);     // at most 64
    cell(10, 0, 0, 428, 0);      // a note alone: the sample's default volume
    cell(11, 0, 0, 0, 0xEC3);
    cell(12, 0, 1, 428, 0xEC0);
    start();
    next_row();
    EXPECT_EQ(ch(0).volume, 80);
    EXPECT_EQ(voice(0).volume, 64);
    next_row();
    tick();
    EXPECT_EQ(ch(0).volume, 64);
    next_row();
    next_row();
    tick();
    EXPECT_EQ(ch(0).volume, 1);
    tick();
    EXPECT_EQ(ch(0).volume, 0);
    EXPECT_EQ(voice(0).volume, 0);
    next_row();
    next_row();
    EXPECT_EQ(ch(0).slide_memory, 0x0F);
    tick();
    EXPECT_EQ(ch(0).volume, 32 - 15);
    next_row();  // ticks 2..5 slid on to 0
    EXPECT_EQ(ch(0).volume, 0 + 5);
    next_row();
    EXPECT_EQ(ch(0).volume, 0);
    next_row();
    next_row();
    EXPECT_EQ(ch(0).volume, 64);
    next_row();
    EXPECT_EQ(ch(0).volume, VOLUME_1);
    EXPECT_EQ(voice(0).volume, VOLUME_1);
    // ECy: silent from tick y.
    next_row();
    tick();
    tick();
    EXPECT_EQ(voice(0).volume, VOLUME_1);
    tick();
    EXPECT_EQ(ch(0).volume, 0);
    EXPECT_EQ(voice(0).volume, 0);
    // EC0: no effect.
    next_row();
    for (int t = 1; t < 6; t++) {
        tick();
        EXPECT_EQ(voice(0).volume, VOLUME_1);
    }
}

TEST_F(MusicSequencer, SampleOffset) {
    cell(0, 0, 1, 428, 0x940);
    cell(1, 0, 1, 428, 0x900);   // the remembered 40: 16384 again
    cell(2, 0, 0, 0, 0x920);     // no note: the playing sample jumps
    start();
    next_row();
    EXPECT_EQ(ch(0).position, 16384u);
    EXPECT_EQ(voice(0).read_index, 256);
    next_row();
    EXPECT_EQ(ch(0).offset_memory, 0x40);
    EXPECT_EQ(ch(0).position, 16384u);
    tick();
    EXPECT_EQ(ch(0).position, 16384u + 256);
    next_row();
    EXPECT_EQ(ch(0).position, 8192u);
    EXPECT_EQ(voice(0).read_index, 256);
    EXPECT_EQ(ch(0).playing, 1);
}

TEST_F(MusicSequencer, NoteAndSampleNumberRules) {
    cell(0, 0, 1, 428, 0);
    cell(1, 0, 0, 0, 0xC10);
    cell(2, 0, 0, 381, 0);        // note alone: default volume, no sample change
    cell(3, 0, 0, 0, 0xC08);
    cell(4, 0, 2, 0, 0);          // sample alone: restart at the current period
    cell(5, 0, 1, 0, 0x300);      // sample alone under 3xx: no restart
    cell(0, 1, 0, 428, 0);        // a note with no sample ever: silent
    start();
    next_row();
    EXPECT_EQ(ch(0).current_sample, 1);
    EXPECT_EQ(ch(0).playing, 1);
    EXPECT_EQ(ch(0).position, 2u);
    EXPECT_EQ(ch(0).first_pass, 1);
    EXPECT_EQ(ch(1).playing, 0);
    EXPECT_EQ(ch(1).sample, 0);
    EXPECT_EQ(ch(1).volume, 0);
    next_row();
    EXPECT_EQ(ch(0).volume, 0x10);
    next_row();
    EXPECT_EQ(ch(0).volume, VOLUME_1);
    EXPECT_EQ(ch(0).position, 2u);
    EXPECT_EQ(voice(0).step, step_for(381));
    next_row();
    tick();
    next_row();
    EXPECT_EQ(ch(0).current_sample, 2);
    EXPECT_EQ(ch(0).volume, VOLUME_2);
    EXPECT_EQ(ch(0).position, 2u);
    EXPECT_EQ(voice(0).read_index, 256);
    EXPECT_EQ(voice(0).step, step_for(381));
    tick();
    next_row();
    EXPECT_EQ(ch(0).current_sample, 2);   // no restart under 3xx
    EXPECT_NE(voice(0).read_index, 256);
    EXPECT_EQ(ch(0).volume, VOLUME_1);    // the volume is still taken
}

TEST_F(MusicSequencer, PositionCommandsInChannelOrder) {
    const uint8_t order[] = {0, 1, 2, 3, 4};
    modbuilder_set_order(&b, order, 5);
    cell(0, 0, 0, 0, 0xB03);         // a later channel's break wins
    cell(0, 2, 0, 0, 0xD10);
    cell(10, 0, 0, 0, 0xD05, 1);     // and a later jump wins over a break
    cell(10, 3, 0, 0, 0xB03, 1);
    cell(0, 1, 0, 0, 0xD32, 3);      // two decimal digits
    cell(32, 1, 0, 0, 0xDB2, 4);     // bit 7 ignored; last position: to 0
    cell(32, 1, 0, 0, 0xD79, 0);     // row 79: row 0 of the next position
    cell(0, 2, 0, 0, 0xB09, 1);      // beyond the song: position 0
    start();
    std::vector<std::pair<int, int>> expected = {{0, 0}, {1, 10}, {3, 0}, {4, 32}, {0, 32}, {1, 0}, {0, 0}};
    for (int i = 0; i < 7; i++) next_row();
    EXPECT_EQ(rows, expected);
}

TEST_F(MusicSequencer, PatternLoops) {
    const uint8_t order[] = {0, 1, 2};
    modbuilder_set_order(&b, order, 3);
    cell(1, 2, 0, 0, 0xE60);          // loop state is per channel
    cell(3, 2, 0, 0, 0xE62);          // twice
    cell(3, 0, 0, 0, 0xE61);          // another channel's E61 changes nothing
    cell(1, 1, 0, 0, 0xE60, 1);
    cell(2, 1, 0, 0, 0xE63, 1);       // three times
    cell(0, 3, 0, 0, 0xE60, 2);
    cell(1, 3, 0, 0, 0xE61, 2);       // no repeat
    start();
    for (int i = 0; i < 64 + 64 + 64; i++) next_row();
    std::vector<int> pass0, pass1, pass2;
    for (auto &r : rows) {
        if (r.first == 0 && r.second < 6) pass0.push_back(r.second);
        if (r.first == 1 && r.second < 5) pass1.push_back(r.second);
        if (r.first == 2 && r.second < 4) pass2.push_back(r.second);
    }
    EXPECT_EQ(pass0, (std::vector<int>{0, 1, 2, 3, 1, 2, 3, 4, 5}));
    EXPECT_EQ(pass1, (std::vector<int>{0, 1, 2, 1, 2, 1, 2, 3, 4}));
    EXPECT_EQ(pass2, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(MusicSequencer, RetriggerNoteDelayAndPatternDelay) {
    cell(0, 3, 0, 0, 0xF07);          // speed 7
    cell(0, 0, 1, 428, 0xE93);        // restarts on ticks 3 and 6
    cell(0, 1, 1, 428, 0xE90);        // starts once
    cell(1, 0, 2, 214, 0xED2);        // starts on tick 2
    cell(2, 0, 2, 428, 0xED7);        // never starts at speed 7 (ticks 0..6)
    cell(3, 0, 0, 0, 0xEE2);          // the row lasts 7 + 14 ticks
    start();
    next_row();
    EXPECT_EQ(voice(0).read_index, 256);
    for (int t = 1; t < 7; t++) {
        tick();
        bool restarted = t % 3 == 0;
        EXPECT_EQ(voice(0).read_index == 256 && ch(0).position == 2, restarted) << "tick " << t;
        EXPECT_NE(voice(1).read_index, 256) << "tick " << t;
    }
    // ED2: the old sample goes on, with the row's period and volume from
    // tick 1; the note starts on tick 2.
    tick();
    EXPECT_EQ(p->row, 1);
    EXPECT_EQ(ch(0).current_sample, 1);
    EXPECT_NE(voice(0).read_index, 256);
    tick();
    EXPECT_EQ(ch(0).current_sample, 1);
    EXPECT_EQ(voice(0).step, step_for(214));
    EXPECT_EQ(voice(0).volume, VOLUME_2);
    tick();
    EXPECT_EQ(ch(0).current_sample, 2);
    EXPECT_EQ(ch(0).position, 2u);
    EXPECT_EQ(voice(0).read_index, 256);
    next_row();
    ASSERT_EQ(p->row, 2);
    for (int t = 1; t < 7; t++) tick();
    EXPECT_EQ(ch(0).current_sample, 2);   // still the previous note's
    next_row();
    EXPECT_EQ(p->row, 3);
    next_row();
    EXPECT_EQ(p->row, 4);
    EXPECT_EQ(ticks_per_row.back(), 21);
    EXPECT_EQ(p->row_delay, 0);
}

TEST_F(MusicSequencer, PatternDelayAtSpeedSix) {
    cell(0, 1, 0, 0, 0xEE2);
    start();
    next_row();
    next_row();
    EXPECT_EQ(ticks_per_row[1], 18);
    // Every tick reaches the tick callback; a plain row has `speed` ticks.
    next_row();
    EXPECT_EQ(ticks_per_row[2], 6);
}

TEST_F(MusicSequencer, SongEndWithLoopingOff) {
    const uint8_t order[] = {0, 0};
    modbuilder_set_order(&b, order, 2);
    cell(0, 0, 1, 428, 0);
    start(0);
    std::vector<int32_t> accum(2 * 882 * 6);
    int renders = 0;
    while (!p->finished && renders < 1000) {
        mod_player_render(p, accum.data(), 882 * 6);
        renders++;
    }
    // The last row (63 of position 1) plays in full; the song ends at the
    // boundary after it.
    ASSERT_EQ(rows.size(), 128u);
    EXPECT_EQ(rows.back(), std::make_pair(1, 63));
    EXPECT_EQ(renders, 129);
    EXPECT_EQ(mod_player_is_finished(p), 1);
    // Afterwards: silence, no more ticks.
    std::vector<int32_t> after(2 * 4000, 123);
    int ticks_before = ticks;
    mod_player_render(p, after.data(), 4000);
    for (int32_t s : after) ASSERT_EQ(s, 0);
    EXPECT_EQ(ticks, ticks_before);
}

TEST_F(MusicSequencer, SongEndOnJumpBackAndLoopingOn) {
    const uint8_t order[] = {0, 1};
    modbuilder_set_order(&b, order, 2);
    cell(0, 0, 0, 0, 0xF05);
    cell(3, 0, 0, 0, 0xF7D, 1);       // tempo 125 again
    cell(4, 0, 0, 0, 0xF04, 1);
    cell(5, 0, 0, 0, 0xB00, 1);
    start(0);
    for (int i = 0; i < 64 + 6 + 2; i++) next_row();
    EXPECT_EQ(p->finished, 1);
    EXPECT_EQ(rows.back(), std::make_pair(1, 5));
    EXPECT_EQ(rows.size(), 64u + 6);

    // With looping on the jump is followed; speed persists (4 from 1/4, not
    // reset to 6 at the wrap, until row 0's own F05).
    mod_player_destroy(p);
    rows.clear();
    ticks_per_row.clear();
    ticks = 0;
    start(1);
    for (int i = 0; i < 64 + 6 + 1; i++) next_row();
    EXPECT_EQ(p->finished, 0);
    EXPECT_EQ(rows[64 + 6], std::make_pair(0, 0));
    EXPECT_EQ(ticks_per_row[64 + 6], 4);
}

// The rows a song plays with looping off, (order, row) each, up to its end
// or at most `cap` rows; `ended` tells which.
static std::vector<std::pair<int, int>> rows_until_end(const ModBuilder &b, bool *ended,
                                                       int cap = 1000) {
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = mod_player_create(RATE, bytes.data(), static_cast<long>(bytes.size()));
    std::vector<std::pair<int, int>> rows;
    if (!p) return rows;
    struct Log { ModPlayer *p; std::vector<std::pair<int, int>> *rows; } log = {p, &rows};
    mod_player_set_row_callback(p, [](void *user) {
        Log *l = static_cast<Log *>(user);
        l->rows->emplace_back(l->p->order, l->p->row);
    }, &log);
    while (!p->finished && static_cast<int>(rows.size()) < cap) music_run_ticks(p, 1);
    *ended = p->finished != 0;
    mod_player_destroy(p);
    return rows;
}

TEST(MusicSequencerSongEnd, JumpsToTheSameOrAnEarlierPositionEndTheSong) {
    struct Case {
        const char *name;
        int song_length;
        int pattern, row, effect;         // the position command
        std::pair<int, int> last_row;     // the last row played
    } cases[] = {
        {"B00 in a one-position song", 1, 0, 5, 0xB00, {0, 5}},
        {"Bxx to the current position", 3, 1, 3, 0xB01, {1, 3}},
        {"Bxx past the song's end from position 0", 2, 0, 2, 0xB05, {0, 2}},
        {"D00 in a one-position song", 1, 0, 7, 0xD00, {0, 7}},
        {"D10 on the last position", 2, 1, 9, 0xD10, {1, 9}},
        {"B00 from a later position", 3, 2, 0, 0xB00, {2, 0}},
    };
    for (const Case &c : cases) {
        ModBuilder b;
        modbuilder_init(&b);
        const uint8_t order[] = {0, 1, 2};
        modbuilder_set_order(&b, order, c.song_length);
        modbuilder_set_cell(&b, c.pattern, c.row, 2, 0, 0, c.effect);
        bool ended = false;
        std::vector<std::pair<int, int>> rows = rows_until_end(b, &ended);
        EXPECT_TRUE(ended) << c.name;
        ASSERT_FALSE(rows.empty()) << c.name;
        EXPECT_EQ(rows.back(), c.last_row) << c.name;
        EXPECT_EQ(rows.size(), static_cast<size_t>(64 * c.last_row.first + c.last_row.second + 1))
            << c.name;
    }

    // Forward jumps and breaks go on, and the song ends past its last position.
    ModBuilder b;
    modbuilder_init(&b);
    const uint8_t order[] = {0, 1, 2};
    modbuilder_set_order(&b, order, 3);
    modbuilder_set_cell(&b, 0, 2, 0, 0, 0, 0xB02);
    modbuilder_set_cell(&b, 2, 4, 1, 0, 0, 0xD20);  // a break to the position after the last
    bool ended = false;
    std::vector<std::pair<int, int>> rows = rows_until_end(b, &ended);
    EXPECT_TRUE(ended);
    std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {0, 2}};
    for (int r = 0; r <= 4; r++) expected.emplace_back(2, r);
    EXPECT_EQ(rows, expected);

    // A pattern loop repeats rows of its own position: no jump, the song
    // plays on to its end; also when it overrides a break of an earlier
    // channel in the same row, and when the same position is the only one.
    modbuilder_init(&b);
    modbuilder_set_cell(&b, 0, 1, 1, 0, 0, 0xE60);
    modbuilder_set_cell(&b, 0, 3, 0, 0, 0, 0xD00);
    modbuilder_set_cell(&b, 0, 3, 1, 0, 0, 0xE62);
    rows = rows_until_end(b, &ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(rows.size(), 7u);  // 0 1 2 3 1 2 3, then the break on the last pass
    EXPECT_EQ(rows[4], std::make_pair(0, 1));
    EXPECT_EQ(rows.back(), std::make_pair(0, 3));
    modbuilder_init(&b);
    modbuilder_set_cell(&b, 0, 60, 3, 0, 0, 0xE60);
    modbuilder_set_cell(&b, 0, 63, 3, 0, 0, 0xE63);
    rows = rows_until_end(b, &ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(rows.size(), 64u + 4 + 4);
    EXPECT_EQ(rows.back(), std::make_pair(0, 63));
}

TEST_F(MusicSequencer, LoopingSwitchedOnAtTheLastRow) {
    start(0);
    for (int i = 0; i < 64; i++) next_row();
    EXPECT_EQ(rows.back(), std::make_pair(0, 63));
    EXPECT_EQ(p->finished, 0);
    mod_player_set_loop(p, 1);
    next_row();
    EXPECT_EQ(p->finished, 0);
    EXPECT_EQ(rows.back(), std::make_pair(0, 0));
}

TEST_F(MusicSequencer, IgnoredCommandsOnlyReplayPeriodAndVolume) {
    // 8xx, E0y, E3y, E4y, E5y, E7y, E8y and EFy do nothing of their own: a
    // row with one of them sounds exactly as the same row without command.
    const int ignored[] = {0x8FF, 0xE01, 0xE3F, 0xE47, 0xE5F, 0xE72, 0xE8A, 0xEF9};
    cell(0, 0, 1, 428, 0);
    cell(1, 0, 0, 0, 0);
    start();
    next_row();
    next_row();
    tick();
    tick();
    Voice reference_voice = voice(0);
    Channel reference = ch(0);
    for (int effect : ignored) {
        mod_player_destroy(p);
        p = nullptr;
        cell(1, 0, 0, 0, effect);
        start();
        next_row();
        next_row();
        tick();
        tick();
        Voice v = voice(0);
        v.source_user = reference_voice.source_user;  // this player's channel
        EXPECT_EQ(memcmp(&v, &reference_voice, sizeof(Voice)), 0) << std::hex << effect;
        Channel c = ch(0);
        EXPECT_EQ(c.command, CMD_IGNORED);
        EXPECT_EQ(c.param, effect & 0xFF);
        c.command = CMD_NONE;
        c.param = 0;
        c.samples = reference.samples;
        EXPECT_EQ(memcmp(&c, &reference, sizeof(Channel)), 0) << std::hex << effect;
    }
}

TEST_F(MusicSequencer, ArpeggioAndVibratoAtTheTableEnds) {
    cell(0, 3, 0, 0, 0xF0F);          // speed 15
    cell(0, 0, 1, 113, 0x0FF);        // both steps leave the table: period 0
    cell(0, 1, 1, 113, 0x4FF);        // vibrato clamped to 113 .. 856
    cell(0, 2, 1, 856, 0x4FF);
    start();
    next_row();
    for (int t = 1; t < 15; t++) {
        tick();
        // Period 0 keeps the frequency: the voice stays at period 113.
        ASSERT_EQ(voice(0).step, step_for(113)) << t;
        ASSERT_GE(ch(1).vibrato_period, 113);
        ASSERT_LE(ch(2).vibrato_period, 856);
    }
    // Positions 15 and 30 are in the rising half, 45 and 60 in the falling.
    EXPECT_EQ(ch(1).vibrato_pos, 14 * 15 % 256);
}
