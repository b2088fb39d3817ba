// The song: packed rows unpacked as written, the room a reader asks for,
// the invariants song_valid guards, and songs built in memory played by
// the player: many channels panned to their sides, notes through the
// instruments' maps in the linear and quarter-period modes, 16-bit
// ping-pong samples, and the memory a player takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "music/mod_periods_internal.h"
#include "music/mod_player.h"
#include "music/song.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "support/test_files.h"
#include "util/alloc.h"

namespace {

struct Dice {
    uint32_t state;
    uint32_t next(uint32_t sides) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % sides;
    }
};

// A random cell, empty about a third of the time, each field set or not.
SongCell random_cell(Dice *dice) {
    SongCell c = {};
    if (dice->next(3) == 0) return c;
    if (dice->next(2)) c.note = static_cast<uint8_t>(1 + dice->next(98));
    if (dice->next(2)) c.instrument = static_cast<uint8_t>(1 + dice->next(8));
    if (dice->next(3) == 0) {
        c.volume_command = static_cast<uint8_t>(dice->next(SONG_VOLUME_COMMAND_COUNT));
        c.volume_param = static_cast<uint8_t>(dice->next(256));
    }
    if (dice->next(2)) {
        c.command = static_cast<uint8_t>(dice->next(SONG_COMMAND_COUNT));
        c.param = static_cast<uint8_t>(dice->next(256));
    }
    if (dice->next(4) == 0) c.period = static_cast<uint16_t>(dice->next(65536));
    return c;
}

bool same_cell(const SongCell &a, const SongCell &b) {
    return a.note == b.note && a.instrument == b.instrument && a.volume_command == b.volume_command &&
           a.volume_param == b.volume_param && a.command == b.command && a.param == b.param &&
           a.period == b.period;
}

// A song of `channels` channels and one pattern of `rows` rows, all cells
// empty, with `samples` samples each its own instrument (every note mapped
// to it); the caller fills cells, samples and playback fields.
struct SongBuilder {
    Song *song;
    std::vector<std::vector<SongCell>> rows;
    SongBuilder(int channels, int row_count, int samples) {
        song = song_create();
        song->format = SONG_FORMAT_XM;
        song->channel_count = static_cast<uint8_t>(channels);
        song->order_count = 1;
        song->initial_speed = 6;
        song->initial_tempo = 125;
        song->initial_global_volume = 64;
        song->frequency_mode = SONG_FREQUENCY_LINEAR;
        for (int ch = 0; ch < SONG_MAX_CHANNELS; ch++) song->channel_panning[ch] = SONG_PANNING_CENTER;
        rows.assign(static_cast<size_t>(row_count), std::vector<SongCell>(static_cast<size_t>(channels), SongCell{}));
        song_alloc_instruments(song, samples, samples);
        for (int n = 1; n <= samples; n++)
            for (uint16_t &s : song->instruments[n - 1].note_samples) s = static_cast<uint16_t>(n);
    }
    // Packs the rows; the player takes the song from here.
    Song *finish() {
        const uint16_t count = static_cast<uint16_t>(rows.size());
        EXPECT_EQ(song_alloc_patterns(song, 1, &count, rows.size() * song->channel_count * SONG_PACKED_CELL_MAX_BYTES), 1);
        for (const std::vector<SongCell> &row : rows) EXPECT_EQ(song_put_row(song, row.data()), 1);
        EXPECT_EQ(song_finish_patterns(song), 1);
        return song;
    }
};

// The peak of each plane over frames [from, to).
void plane_peaks(const std::vector<int32_t> &accum, int frames, int from, int to, int32_t *left, int32_t *right) {
    *left = *right = 0;
    for (int i = from; i < to; i++) {
        *left = std::max(*left, std::abs(accum[static_cast<size_t>(i)]));
        *right = std::max(*right, std::abs(accum[static_cast<size_t>(frames + i)]));
    }
}

}  // namespace

// Random rows of every field packed and unpacked again, with the room the
// bound promises and not a byte more.
TEST(MusicSong, PackedRowsUnpackAsWritten) {
    Dice dice = {77};
    for (int round = 0; round < 20; round++) {
        Song *song = song_create();
        ASSERT_NE(song, nullptr);
        song->channel_count = static_cast<uint8_t>(1 + dice.next(SONG_MAX_CHANNELS));
        const int patterns = 1 + static_cast<int>(dice.next(6));
        uint16_t rows[6];
        for (int p = 0; p < patterns; p++) rows[p] = static_cast<uint16_t>(1 + dice.next(p == 0 ? 256 : 70));
        std::vector<std::vector<SongCell>> written;
        size_t packed_bytes = 0;
        for (int p = 0; p < patterns; p++)
            for (int r = 0; r < rows[p]; r++) {
                std::vector<SongCell> row(song->channel_count);
                for (SongCell &c : row) {
                    c = random_cell(&dice);
                    // A cell packs into 2 bytes and its fields.
                    const bool any = c.note || c.instrument || c.volume_command || c.volume_param || c.command ||
                                     c.param || c.period;
                    packed_bytes += any ? 2 + (c.note != 0) + (c.instrument != 0) +
                                              2 * (c.volume_command || c.volume_param) + 2 * (c.command || c.param) +
                                              2 * (c.period != 0)
                                        : 0;
                }
                written.push_back(row);
            }
        ASSERT_EQ(song_alloc_patterns(song, patterns, rows, packed_bytes), 1);
        for (const std::vector<SongCell> &row : written) ASSERT_EQ(song_put_row(song, row.data()), 1);
        EXPECT_EQ(song_put_row(song, written[0].data()), 0) << "every row is written";
        EXPECT_EQ(song->cell_bytes, packed_bytes);
        ASSERT_EQ(song_finish_patterns(song), 1);
        size_t at = 0;
        SongCell cells[SONG_MAX_CHANNELS];
        for (int p = 0; p < patterns; p++)
            for (int r = 0; r < rows[p]; r++, at++) {
                memset(cells, 0x5A, sizeof cells);
                song_row(song, p, r, cells);
                for (int ch = 0; ch < song->channel_count; ch++)
                    ASSERT_TRUE(same_cell(cells[ch], written[at][static_cast<size_t>(ch)]))
                        << round << " " << p << " " << r << " " << ch;
            }
        // Outside the song: empty cells.
        song_row(song, patterns, 0, cells);
        song_row(song, 0, rows[0], cells);
        for (int ch = 0; ch < song->channel_count; ch++) ASSERT_TRUE(same_cell(cells[ch], SongCell{}));
        song_destroy(song);
    }

    // A row that does not fit the room asked for is refused, the song left
    // as it was; and so are counts out of range.
    Song *song = song_create();
    song->channel_count = 2;
    const uint16_t two = 2;
    ASSERT_EQ(song_alloc_patterns(song, 1, &two, 5), 1);
    SongCell row[2] = {};
    row[0].note = 49;
    row[1].command = CMD_SET_SPEED;
    row[1].param = 3;
    EXPECT_EQ(song_put_row(song, row), 0);
    EXPECT_EQ(song->rows_written, 0u);
    EXPECT_EQ(song_finish_patterns(song), 0);
    song_destroy(song);
    song = song_create();
    const uint16_t bad[] = {0, 257};
    EXPECT_EQ(song_alloc_patterns(song, 1, bad, 10), 0);
    EXPECT_EQ(song_alloc_patterns(song, 1, bad + 1, 10), 0);
    EXPECT_EQ(song_alloc_patterns(song, 0, &two, 10), 0);
    EXPECT_EQ(song_alloc_patterns(song, 257, &two, 10), 0);
    EXPECT_EQ(song_alloc_instruments(song, 129, 0), 0);
    EXPECT_EQ(song_alloc_instruments(song, 1, SONG_MAX_SAMPLES + 1), 0);
    alloc_fail_after(0);
    EXPECT_EQ(song_alloc_patterns(song, 1, &two, 10), 0);
    EXPECT_EQ(song_create(), nullptr);
    alloc_fail_after(-1);
    song_destroy(song);
    song_destroy(nullptr);
}

// song_valid refuses a song that breaks any invariant a reader must keep,
// and the player refuses such a song.
TEST(MusicSong, ValidityGuardsEveryInvariant) {
    std::vector<int8_t> data(100, 1);
    auto valid_song = [&data]() {
        SongBuilder b(3, 4, 2);
        for (int n = 0; n < 2; n++) {
            SongSample *s = &b.song->samples[n];
            s->data = data.data();
            s->length = 100;
            s->bits = 8;
            s->loop = SONG_LOOP_FORWARD;
            s->loop_start = 10;
            s->loop_length = 90;
        }
        b.rows[1][2].note = 49;
        b.rows[1][2].instrument = 2;
        return b.finish();
    };
    Song *song = valid_song();
    EXPECT_EQ(song_valid(song), 1);
    song_destroy(song);
    const std::function<void(Song *)> breaks[] = {
        [](Song *s) { s->channel_count = 0; },
        [](Song *s) { s->channel_count = 65; },
        [](Song *s) { s->order_count = 0; },
        [](Song *s) { s->restart = 1; },
        [](Song *s) { s->orders[0] = 1; },
        [](Song *s) { s->initial_speed = 0; },
        [](Song *s) { s->initial_global_volume = 65; },
        [](Song *s) { s->frequency_mode = 3; },
        [](Song *s) { s->samples[1].bits = 12; },
        [](Song *s) { s->samples[1].loop_length = 91; },
        [](Song *s) { s->samples[1].loop = SONG_LOOP_NONE; },
        [](Song *s) { s->samples[0].data = nullptr; },
        [](Song *s) { s->instruments[1].note_samples[95] = 3; },
        [](Song *s) {
            SongEnvelope *e = &s->instruments[0].volume_envelope;
            e->count = 2;
            e->points[0].tick = 5;
            e->points[1].tick = 5;  // not increasing
        },
        [](Song *s) {
            SongEnvelope *e = &s->instruments[0].panning_envelope;
            e->count = 2;
            e->points[1].tick = 4;
            e->flags = SONG_ENVELOPE_ON | SONG_ENVELOPE_LOOP;
            e->loop_end = 2;  // past the points
        },
        [](Song *s) { s->instrument_count = 1; },  // cells name instrument 2
        [](Song *s) { s->instruments[0].new_note_action = SONG_NNA_COUNT; },
        [](Song *s) { s->instruments[0].duplicate_action = SONG_NNA_CONTINUE; },
        [](Song *s) { s->instruments[0].duplicate_check = SONG_DUPLICATE_COUNT; },
        [](Song *s) { s->instruments[1].note_notes[119] = 121; },
        [](Song *s) {
            s->samples[1].sustain_loop = SONG_LOOP_PING_PONG;
            s->samples[1].sustain_start = 50;
            s->samples[1].sustain_length = 51;  // past the sample
        },
        [](Song *s) { s->samples[0].stereo = 2; },
        [](Song *s) {
            SongEnvelope *e = &s->instruments[1].pitch_envelope;
            e->count = 2;
            e->points[1].tick = 4;
            e->sustain = 1;
            e->flags = SONG_ENVELOPE_ON | SONG_ENVELOPE_SUSTAIN | SONG_ENVELOPE_SUSTAIN_LOOP;  // ends before it starts
        },
        [](Song *s) {
            s->quirks |= SONG_QUIRK_LAYERED_VOLUMES;
            s->initial_global_volume = 129;
        },
        [](Song *s) {
            char *message = song_alloc_message(s, 4);
            memset(message, 'x', 4);  // no NUL
        },
    };
    for (size_t i = 0; i < sizeof breaks / sizeof breaks[0]; i++) {
        song = valid_song();
        breaks[i](song);
        EXPECT_EQ(song_valid(song), 0) << i;
        EXPECT_EQ(mod_player_create_song(44100, song), nullptr) << i;
    }
    EXPECT_EQ(song_valid(nullptr), 0);
    EXPECT_EQ(mod_player_create_song(44100, nullptr), nullptr);
    EXPECT_EQ(mod_player_create_song(101, valid_song()), nullptr);
}

// Six channels mixed to both sides at their panning, notes through the
// instruments' map at the linear table's pitch, a 16-bit ping-pong sample
// heard at full resolution.
TEST(MusicSong, PannedChannelsLinearNotesAndWideSamples) {
    std::vector<int16_t> wave(64);
    for (int i = 0; i < 64; i++) wave[static_cast<size_t>(i)] = static_cast<int16_t>(i < 32 ? 20001 : -20001);
    SongBuilder b(6, 8, 1);
    SongSample *s = &b.song->samples[0];
    s->data = wave.data();
    s->length = 64;
    s->bits = 16;
    s->loop = SONG_LOOP_PING_PONG;
    s->loop_start = 0;
    s->loop_length = 64;
    s->volume = 64;
    const uint8_t pannings[6] = {0, 255, 128, 64, 0, 255};
    for (int ch = 0; ch < 6; ch++) b.song->channel_panning[ch] = pannings[ch];
    // One note per row, on channel `row` for rows 0 .. 5.
    for (int row = 0; row < 6; row++) {
        b.rows[static_cast<size_t>(row)][static_cast<size_t>(row)].note = 49;  // C-4: 8363 Hz
        b.rows[static_cast<size_t>(row)][static_cast<size_t>(row)].instrument = 1;
        // The note of the row before stops.
        if (row > 0) b.rows[static_cast<size_t>(row)][static_cast<size_t>(row - 1)].note = SONG_NOTE_CUT;
    }
    ModPlayer *p = mod_player_create_song(44100, b.finish());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->channel_count, 6);
    EXPECT_EQ(p->layout.panned_count, 6);
    EXPECT_EQ(p->layout.left_count + p->layout.right_count, 0);
    EXPECT_LT(p->output_gain, 32768);  // more than four channels
    const int row_frames = 5292;
    const int frames = row_frames * 7;
    std::vector<int32_t> accum(2 * static_cast<size_t>(frames));
    mod_player_render(p, accum.data(), frames);
    EXPECT_EQ(music_channel(p, 5).step, 8363u * 65536u / 44100u);
    EXPECT_EQ(p->voices[5].wide_window, 1);
    const int32_t full = 20001;  // the wave's level at gain 16384
    for (int row = 0; row < 6; row++) {
        // The row's note, after the voice's first window: the level on
        // each side is the panning's share.
        int32_t left, right;
        plane_peaks(accum, frames, row_frames * (row + 1) + 200, row_frames * (row + 2) - 10, &left, &right);
        const int pan = pannings[row];
        EXPECT_NEAR(left, full * (255 - pan) / 255, 2) << row;
        EXPECT_NEAR(right, full * pan / 255, 2) << row;
    }
    // 16-bit values pass whole: the odd level 20001 is heard as it is.
    EXPECT_EQ(*std::max_element(accum.begin() + row_frames + 200, accum.begin() + 2 * row_frames), full);
    mod_player_destroy(p);
}

// The quarter-period mode plays a note at its sample's C2SPD; the instrument
// map picks the sample per note.
TEST(MusicSong, QuarterPeriodsAndSampleMaps) {
    std::vector<int8_t> low(256, 40), high(256, -60);
    SongBuilder b(1, 4, 2);
    b.song->frequency_mode = SONG_FREQUENCY_AMIGA;
    b.song->format = SONG_FORMAT_S3M;
    for (int n = 0; n < 2; n++) {
        SongSample *s = &b.song->samples[n];
        s->data = n ? high.data() : low.data();
        s->length = 256;
        s->bits = 8;
        s->loop = SONG_LOOP_FORWARD;
        s->loop_length = 256;
        s->volume = 64;
        s->c2spd = n ? 16726 : 8363;
    }
    // Instrument 1 plays sample 1 below C-5 and sample 2 from it.
    for (int note = 61; note <= 96; note++) b.song->instruments[0].note_samples[note - 1] = 2;
    b.rows[0][0].note = 49;  // C-4 on sample 1: 8363 Hz
    b.rows[0][0].instrument = 1;
    b.rows[2][0].note = 61;  // C-5 on sample 2 (C2SPD 16726): 33452 Hz
    ModPlayer *p = mod_player_create_song(44100, b.finish());
    ASSERT_NE(p, nullptr);
    music_run_ticks(p, 7);
    EXPECT_EQ(music_channel(p, 0).sample, 1);
    EXPECT_EQ(music_channel(p, 0).period, 1712);
    EXPECT_EQ(music_channel(p, 0).step, 14317456u / 1712u * 65536u / 44100u);
    music_run_ticks(p, 12);
    EXPECT_EQ(music_channel(p, 0).sample, 2);
    EXPECT_EQ(music_channel(p, 0).period, 14317456u / 33452u);
    std::vector<int16_t> out = music_render_s16(p, 2000);
    // A voice at panning 128: 127/255 of the full gain 16384 on the left,
    // 128/255 on the right, then halved by the output of a song of at most
    // four channels.
    EXPECT_EQ(out[2 * 1500], ((-60 * 256 * (16384 * 127 / 255)) >> 14) >> 1);
    EXPECT_EQ(out[2 * 1500 + 1], ((-60 * 256 * (16384 * 128 / 255)) >> 14) >> 1);
    mod_player_destroy(p);
}

TEST(MusicSong, FrequencyModesAndNotePeriods) {
    SongSample s = {};
    s.bits = 8;
    // The linear table: C-4 is period 4608 at 8363 Hz, an octave 768 units.
    EXPECT_EQ(note_period(SONG_FREQUENCY_LINEAR, 49, &s), 4608);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_LINEAR, 4608), 8363u);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_LINEAR, 4608 - 768), 16726u);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_LINEAR, 4608 + 768), 4181u);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_LINEAR, 4608 - 64), 8860u);  // 8363 x 2^(1/12)
    s.relative_note = 12;
    s.finetune = -128;  // a semitone down
    EXPECT_EQ(note_period(SONG_FREQUENCY_LINEAR, 49, &s), 4608 - 768 + 64);
    // Quarter periods: C-4 at 8363 Hz is 1712; C2SPD moves it.
    s.relative_note = 0;
    s.finetune = 0;
    EXPECT_EQ(note_period(SONG_FREQUENCY_AMIGA, 49, &s), 1712);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_AMIGA, 1712), 8363u);
    s.c2spd = 16726;
    EXPECT_EQ(note_period(SONG_FREQUENCY_AMIGA, 49, &s), 856);
    EXPECT_EQ(note_period(SONG_FREQUENCY_AMIGA, 37, &s), 1712);
    // MOD periods: the ProTracker table.
    EXPECT_EQ(note_period(SONG_FREQUENCY_MOD_TABLE, 49, &s), 428);
    EXPECT_EQ(note_period(SONG_FREQUENCY_MOD_TABLE, 1, &s), 856);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_MOD_TABLE, 428), 3546895u / 428u);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_MOD_TABLE, 5), 3546895u / 113u);
    // Nothing for no note, no sample, period 0 or an unknown mode.
    EXPECT_EQ(note_period(SONG_FREQUENCY_LINEAR, 0, &s), 0);
    EXPECT_EQ(note_period(SONG_FREQUENCY_LINEAR, 121, &s), 0);
    EXPECT_EQ(note_period(SONG_FREQUENCY_LINEAR, 49, nullptr), 0);
    EXPECT_EQ(period_frequency(SONG_FREQUENCY_AMIGA, 0), 0u);
    EXPECT_EQ(period_frequency(7, 100), 0u);
    // Semitone steps: 64 linear units, or a twelfth of an octave in
    // quarter periods.
    EXPECT_EQ(semitones_up(SONG_FREQUENCY_LINEAR, 4608, 7), 4608 - 448);
    EXPECT_EQ(semitones_up(SONG_FREQUENCY_AMIGA, 1712, 12), 856);
    EXPECT_EQ(semitones_up(SONG_FREQUENCY_AMIGA, 1712, 7), 1142);  // 1712 / 2^(7/12)
    EXPECT_EQ(semitones_up(SONG_FREQUENCY_AMIGA, 0, 7), 0);
}

// The memory a player takes stays within twice the file's size plus the
// fixed amount its header states, for the demo's module, the busy song and
// random songs.
TEST(MusicSong, PlayerMemoryWithinTheStatedBound) {
    std::vector<std::vector<uint8_t>> modules(1);
    ASSERT_TRUE(read_whole_file(ENGINE_SOURCE_DIR "/res/kevo.mod", &modules[0]));
    ModBuilder b;
    modbuilder_busy_song(&b);
    modules.push_back(modbuilder_build(&b));
    for (uint32_t seed = 2; seed < 12; seed++) {
        modbuilder_random_song(&b, seed);
        modules.push_back(modbuilder_build(&b));
    }
    // Patterns only, every cell full: the packed cells' worst case.
    modbuilder_init(&b);
    for (int row = 0; row < 64; row++)
        for (int ch = 0; ch < 4; ch++) modbuilder_set_cell(&b, 0, row, ch, 31, 1000 + row, 0x123);
    modules.push_back(modbuilder_build(&b));
    for (const std::vector<uint8_t> &m : modules) {
        ModPlayer *p = mod_player_create(44100, m.data(), static_cast<long>(m.size()));
        ASSERT_NE(p, nullptr);
        const long bytes = mod_player_memory_bytes(p);
        const long rows = static_cast<long>(p->song->total_rows);
        EXPECT_LE(bytes, MOD_PLAYER_FILE_FACTOR * static_cast<long>(m.size()) + 4 * rows + MOD_PLAYER_FIXED_BYTES);
        // The cells alone within twice the file's pattern bytes.
        EXPECT_LE(static_cast<long>(p->song->cell_capacity), 2 * 1024L * p->song->pattern_count);
        EXPECT_GT(bytes, static_cast<long>(sizeof(ModPlayer)));
        mod_player_destroy(p);
    }
    EXPECT_EQ(mod_player_memory_bytes(nullptr), 0);
}

// Without the MOD rules: a pattern loop of y repeats its section y times,
// a pattern delay of y plays the row y + 1 times at the speed that
// follows, and the quirks that are set change exactly that.
TEST(MusicSong, PatternLoopAndDelayWithoutTheModRules) {
    struct Case {
        uint64_t quirks;
        int loop_rows;    // rows played before row 4 starts
        int delay_ticks;  // ticks of row 5
    } cases[] = {
        {0, 4 + 2 * 3, 3 * 3},
        {SONG_QUIRK_PATTERN_LOOP_ONE_SHORT, 4 + 1 * 3, 3 * 3},
        // Two rows' worth at the speed its cell meets (2), kept in ticks.
        {SONG_QUIRK_PATTERN_DELAY_TICKS, 4 + 2 * 3, 3 + 2 * 2},
    };
    for (const Case &c : cases) {
        SongBuilder b(2, 8, 0);
        b.song->quirks = c.quirks;
        b.song->initial_speed = 2;
        b.rows[1][0].command = CMD_PATTERN_LOOP;   // loop start at row 1
        b.rows[3][0].command = CMD_PATTERN_LOOP;   // rows 1 .. 3 again, twice
        b.rows[3][0].param = 2;
        b.rows[5][0].command = CMD_PATTERN_DELAY;  // row 5 twice more ...
        b.rows[5][0].param = 2;
        b.rows[5][1].command = CMD_SET_SPEED;      // ... at speed 3, set after it
        b.rows[5][1].param = 3;
        ModPlayer *p = mod_player_create_song(44100, b.finish());
        ASSERT_NE(p, nullptr);
        std::vector<int> rows, ticks;
        struct Log {
            ModPlayer *p;
            std::vector<int> *rows;
            std::vector<int> *ticks;
            int count;
        } log = {p, &rows, &ticks, 0};
        mod_player_set_row_callback(p, [](void *user) {
            Log *l = static_cast<Log *>(user);
            l->rows->push_back(l->p->row);
            l->ticks->push_back(l->count);
            l->count = 0;
        }, &log);
        mod_player_set_tick_callback(p, [](void *user) { static_cast<Log *>(user)->count++; }, &log);
        music_run_ticks(p, 60);
        const auto four = std::find(rows.begin(), rows.end(), 4);
        ASSERT_NE(four, rows.end());
        EXPECT_EQ(four - rows.begin(), c.loop_rows) << c.quirks;
        const auto six = std::find(rows.begin(), rows.end(), 6);
        ASSERT_NE(six, rows.end());
        EXPECT_EQ(ticks[static_cast<size_t>(six - rows.begin())], c.delay_ticks) << c.quirks;
        mod_player_destroy(p);
    }
}

// A note its instrument keeps (new-note action continue or note off) plays
// on in a pool voice when its channel starts the next: what is heard is
// exactly the channel cutting it plus the note alone, played on from that
// row as it would have on its channel (unchanged, or released by a key
// off), sample for sample.
TEST(MusicSong, NotesOutliveTheirChannelInThePool) {
    std::vector<int8_t> saw(1000);
    for (size_t i = 0; i < saw.size(); i++) saw[i] = static_cast<int8_t>(i * 7 % 200 - 100);
    // Note 1 on row 0 of channel 0 (instrument 1, action `action`); on row 2
    // either note 2 follows on channel 0 or, alone, `alone` (none, a key off).
    auto song = [&saw](uint8_t action, bool follow, uint8_t alone) {
        SongBuilder b(2, 6, 2);
        for (int n = 0; n < 2; n++) {
            SongSample *s = &b.song->samples[n];
            s->data = saw.data();
            s->length = 1000;
            s->bits = 8;
            s->loop = SONG_LOOP_FORWARD;
            s->loop_length = 1000;
            s->volume = 48;
        }
        SongInstrument *in = &b.song->instruments[0];
        in->new_note_action = action;
        in->fadeout = 2000;
        in->volume_envelope = {{{0, 64}, {20, 16}}, 2, 0, 0, 0, SONG_ENVELOPE_ON | SONG_ENVELOPE_SUSTAIN, 0};
        b.rows[0][0] = SongCell{49, 1, 0, 0, 0, 0, 0};
        if (follow) b.rows[2][0] = SongCell{56, 2, 0, 0, 0, 0, 0};
        else b.rows[2][0].note = alone;
        return b.finish();
    };
    constexpr int frames = 6 * 5292, row2 = 3 * 5292;  // the first row starts after one row's ticks
    auto render = [](Song *s) {
        ModPlayer *p = mod_player_create_song(44100, s);
        std::vector<int32_t> accum(2 * static_cast<size_t>(frames));
        mod_player_render(p, accum.data(), frames);
        mod_player_destroy(p);
        return accum;
    };
    const std::vector<int32_t> cut = render(song(SONG_NNA_CUT, true, 0));
    for (const auto &[action, alone] : {std::pair<uint8_t, uint8_t>{SONG_NNA_CONTINUE, SONG_NOTE_NONE},
                                        {SONG_NNA_NOTE_OFF, SONG_NOTE_KEY_OFF}}) {
        const std::vector<int32_t> kept = render(song(action, true, 0)), first = render(song(SONG_NNA_CUT, false, alone));
        int differ = 0;
        for (size_t i = 0; i < kept.size(); i++) {
            const int frame = static_cast<int>(i % static_cast<size_t>(frames));
            differ += kept[i] != cut[i] + (frame >= row2 ? first[i] : 0);
        }
        EXPECT_EQ(differ, 0) << static_cast<int>(action);
        EXPECT_NE(kept, cut) << static_cast<int>(action);
    }
}
