// The XM and S3M readers: files built from descriptions read back into
// exactly the song described (cells, envelopes, samples decoded from delta
// or unsigned data, loops, panning), the effects in the song's
// vocabulary, the repairs real files need, one reason for every refusal,
// cuts at every byte, allocation failures, the allocation bound, other
// trackers' formats named, and the tools that write and list modules.
// Every file is read from an exactly sized heap block, so the sanitizer
// build catches any read past its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_readers_internal.h"
#include "music/song.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "music/it_samples_internal.h"
#include "support/music_formatbuilder.h"
#include "support/music_itbuilder.h"
#include "support/music_playback.h"
#include "support/music_song_check.h"
#include "support/program_run.h"
#include "util/alloc.h"

namespace {

// The readers a Reading takes: 0 XM, 1 S3M (so that false and true name
// them), 2 IT.
constexpr int IT_FILE = 2;

// One reading of the first `size` bytes of a file, from an exactly sized
// copy; the song and the copy are released with it.
struct Reading {
    uint8_t *bytes = nullptr;
    Song *song = nullptr;
    ModuleReadResult result = {};
    int ok = 0;
    Reading(const std::vector<uint8_t> &file, size_t size, int kind) {
        bytes = music_copy_module(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(size)));
        song = song_create();
        static int (*const readers[])(const uint8_t *, size_t, Song *, ModuleReadResult *) = {xm_read, s3m_read, it_read};
        ok = readers[kind](bytes, size, song, &result);
    }
    Reading(const std::vector<uint8_t> &file, int kind) : Reading(file, file.size(), kind) {}
    ~Reading() {
        song_destroy(song);
        music_free_module(bytes);
    }
    Reading(const Reading &) = delete;
    Reading &operator=(const Reading &) = delete;
    std::string refusal() const {
        char text[256];
        module_read_refusal_text(&result, "f", text, sizeof text);
        return text;
    }
    SongCell cell(int pattern, int row, int channel) const {
        SongCell cells[SONG_MAX_CHANNELS];
        song_row(song, pattern, row, cells);
        return cells[channel];
    }
};

std::vector<int16_t> sample_frames(const SongSample &s) {
    std::vector<int16_t> v(s.length);
    for (uint32_t i = 0; i < s.length; i++)
        v[i] = s.bits == 16 ? static_cast<const int16_t *>(s.data)[i] : static_cast<const int8_t *>(s.data)[i];
    return v;
}

void put16(std::vector<uint8_t> &bytes, size_t at, uint32_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t> &bytes, size_t at, uint32_t v) {
    put16(bytes, at, v);
    put16(bytes, at + 2, v >> 16);
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// An XM of one pattern on `channels` channels and one instrument of one
// looped 8-bit sample.
XmBuilder small_xm(int channels = 2) {
    XmBuilder b;
    b.channels = static_cast<uint16_t>(channels);
    XmBuilderInstrument in;
    in.name = "one";
    XmBuilderSample s;
    s.frames = {0, 10, 20, 30, 40, 50, 60, 70};
    s.loop_type = 1;
    s.loop_start = 2;
    s.loop_length = 4;
    in.samples = {s};
    b.instruments = {in};
    xmbuilder_cell(&b, 0, 0, 0)->note = 49;
    xmbuilder_cell(&b, 0, 0, 0)->instrument = 1;
    return b;
}

}  // namespace

// ---------------------------------------------------------------- XM

TEST(MusicXm, ShowcaseReadsBackAsDescribed) {
    XmBuilder b;
    xmbuilder_showcase_song(&b);
    XmBuilderLayout layout;
    const std::vector<uint8_t> file = xmbuilder_build(b, &layout);
    Reading r(file, false);
    ASSERT_TRUE(r.ok) << r.refusal();
    const Song *s = r.song;
    ASSERT_TRUE(song_valid(s));
    EXPECT_EQ(s->format, SONG_FORMAT_XM);
    EXPECT_STREQ(s->title, "showcase");
    EXPECT_STREQ(s->format_name, "XM 1.04, kevo test builder");
    EXPECT_EQ(s->channel_count, 5);
    ASSERT_EQ(s->order_count, 4);
    EXPECT_EQ(std::vector<uint8_t>(s->orders, s->orders + 4), (std::vector<uint8_t>{0, 1, 2, 0}));
    EXPECT_EQ(s->restart, 1);
    ASSERT_EQ(s->pattern_count, 3);
    EXPECT_EQ(s->patterns[0].rows, 64);
    EXPECT_EQ(s->patterns[1].rows, 1);
    EXPECT_EQ(s->patterns[2].rows, 100);
    EXPECT_EQ(s->frequency_mode, SONG_FREQUENCY_LINEAR);
    EXPECT_EQ(s->initial_speed, 6);
    EXPECT_EQ(s->initial_tempo, 125);
    EXPECT_EQ(s->initial_global_volume, 64);
    EXPECT_EQ(s->quirks, SONG_QUIRK_NOTE_DELAY_PAST_ROW_IGNORED | SONG_QUIRK_VOLUME_RAMPING |
                             SONG_QUIRK_JUMP_AND_BREAK_COMBINE | SONG_QUIRK_SLIDE_MEMORIES |
                             SONG_QUIRK_OFFSET_PAST_END_SILENT | SONG_QUIRK_ARPEGGIO_TICKS_LEFT |
                             SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE | SONG_QUIRK_TREMOR_MUTES |
                             SONG_QUIRK_LOOP_ROW_IS_BREAK_ROW | SONG_QUIRK_ENDLESS_LOOP_ENDS_SONG);
    for (int ch = 0; ch < 5; ch++) EXPECT_EQ(s->channel_panning[ch], SONG_PANNING_CENTER);

    // Instruments: the map, envelopes, auto-vibrato and fadeout.
    ASSERT_EQ(s->instrument_count, 3);
    ASSERT_EQ(s->sample_count, 3);
    const SongInstrument &lead = s->instruments[0];
    EXPECT_STREQ(lead.name, "lead");
    for (int n = 0; n < 96; n++) EXPECT_EQ(lead.note_samples[n], n < 48 ? 1 : 2) << n;
    const SongEnvelope &ve = lead.volume_envelope;
    ASSERT_EQ(ve.count, 4);
    const uint16_t ticks[] = {0, 10, 30, 60};
    const uint8_t values[] = {64, 48, 32, 0};
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(ve.points[k].tick, ticks[k]);
        EXPECT_EQ(ve.points[k].value, values[k]);
    }
    EXPECT_EQ(ve.flags, SONG_ENVELOPE_ON | SONG_ENVELOPE_SUSTAIN | SONG_ENVELOPE_LOOP);
    EXPECT_EQ(ve.sustain, 1);
    EXPECT_EQ(ve.loop_start, 1);
    EXPECT_EQ(ve.loop_end, 2);
    const SongEnvelope &pe = lead.panning_envelope;
    EXPECT_EQ(pe.count, 3);
    EXPECT_EQ(pe.points[2].value, 64);
    EXPECT_EQ(pe.flags, SONG_ENVELOPE_ON | SONG_ENVELOPE_LOOP);
    EXPECT_EQ(pe.loop_end, 2);
    EXPECT_EQ(lead.vibrato_type, 1);
    EXPECT_EQ(lead.vibrato_sweep, 8);
    EXPECT_EQ(lead.vibrato_depth, 4);
    EXPECT_EQ(lead.vibrato_rate, 20);
    EXPECT_EQ(lead.fadeout, 0x200);
    EXPECT_EQ(s->instruments[1].note_samples[0], 3);
    for (int n = 0; n < SONG_NOTES; n++) EXPECT_EQ(s->instruments[2].note_samples[n], 0);

    // Samples: delta decoding, loops in frames, the header's numbers.
    const XmBuilderInstrument &bl = b.instruments[0];
    const SongSample &s8 = s->samples[0];
    EXPECT_STREQ(s8.name, "square 8");
    EXPECT_EQ(s8.bits, 8);
    EXPECT_EQ(sample_frames(s8), bl.samples[0].frames);
    EXPECT_EQ(s8.loop, SONG_LOOP_FORWARD);
    EXPECT_EQ(s8.loop_start, 64u);
    EXPECT_EQ(s8.loop_length, 128u);
    EXPECT_EQ(s8.finetune, -16);
    EXPECT_EQ(s8.relative_note, 12);
    EXPECT_EQ(s8.panning, 64);
    EXPECT_EQ(s8.has_panning, 1);
    const SongSample &s16 = s->samples[1];
    EXPECT_EQ(s16.bits, 16);
    EXPECT_EQ(sample_frames(s16), bl.samples[1].frames);
    EXPECT_EQ(s16.loop, SONG_LOOP_PING_PONG);
    EXPECT_EQ(s16.loop_start, 10u);
    EXPECT_EQ(s16.loop_length, 200u);
    EXPECT_EQ(s16.volume, 48);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(s16.data) % 2, 0u);
    EXPECT_EQ(sample_frames(s->samples[2]), b.instruments[1].samples[0].frames);  // ADPCM

    // Cells: notes, instruments, key off and the volume column.
    const SongCell c = r.cell(0, 0, 2);
    EXPECT_EQ(c.note, 47);
    EXPECT_EQ(c.instrument, 1);
    EXPECT_EQ(c.volume_command, VOLCMD_SET_VOLUME);
    EXPECT_EQ(c.volume_param, 0);
    EXPECT_EQ(r.cell(0, 9, 3).note, SONG_NOTE_KEY_OFF);
    EXPECT_EQ(r.cell(0, 9, 3).instrument, 0);
    EXPECT_EQ(r.cell(0, 3, 4).instrument, 2);
    EXPECT_EQ(r.cell(1, 0, 3).note, 61);
    EXPECT_EQ(r.cell(1, 0, 3).instrument, 3);
    EXPECT_EQ(r.cell(2, 95, 2).note, 25 + 95 / 2);
    EXPECT_EQ(r.cell(2, 96, 2).note, 0);
    // The packed cells stay within twice the file's packed bytes.
    EXPECT_LE(s->cell_bytes, 2 * layout.patterns_packed_bytes);
}

TEST(MusicXm, EffectsAndTheVolumeColumnInTheSongsVocabulary) {
    struct Case {
        uint8_t effect, param, command, expected;
    };
    const Case cases[] = {
        {0x0, 0x00, CMD_NONE, 0}, {0x0, 0x37, CMD_ARPEGGIO, 0x37}, {0x1, 0x05, CMD_PORTAMENTO_UP, 5},
        {0x2, 0x06, CMD_PORTAMENTO_DOWN, 6}, {0x3, 0x10, CMD_TONE_PORTAMENTO, 0x10},
        {0x4, 0x46, CMD_VIBRATO, 0x46}, {0x5, 0x02, CMD_TONE_PORTAMENTO_VOLUME_SLIDE, 2},
        {0x6, 0x20, CMD_VIBRATO_VOLUME_SLIDE, 0x20}, {0x7, 0x44, CMD_TREMOLO, 0x44},
        {0x8, 0xFF, CMD_SET_PANNING, 0xFF}, {0x9, 0x12, CMD_SAMPLE_OFFSET, 0x12},
        {0xA, 0x0F, CMD_VOLUME_SLIDE, 0x0F}, {0xB, 0x07, CMD_POSITION_JUMP, 7},
        {0xC, 0x30, CMD_SET_VOLUME, 0x30}, {0xC, 0x50, CMD_SET_VOLUME, 64},
        {0xD, 0x25, CMD_PATTERN_BREAK, 25}, {0xD, 0x00, CMD_PATTERN_BREAK, 0},
        {0xE, 0x03, CMD_NONE, 0}, {0xE, 0x12, CMD_FINE_PORTAMENTO_UP, 2},
        {0xE, 0x23, CMD_FINE_PORTAMENTO_DOWN, 3}, {0xE, 0x31, CMD_GLISSANDO, 1},
        {0xE, 0x42, CMD_VIBRATO_WAVEFORM, 2}, {0xE, 0x5F, CMD_SET_FINETUNE, 15},
        {0xE, 0x63, CMD_PATTERN_LOOP, 3}, {0xE, 0x71, CMD_TREMOLO_WAVEFORM, 1}, {0xE, 0x84, CMD_NONE, 0},
        {0xE, 0x92, CMD_RETRIGGER, 2}, {0xE, 0xA1, CMD_FINE_VOLUME_UP, 1},
        {0xE, 0xB4, CMD_FINE_VOLUME_DOWN, 4}, {0xE, 0xC3, CMD_NOTE_CUT, 3}, {0xE, 0xD2, CMD_NOTE_DELAY, 2},
        {0xE, 0xE5, CMD_PATTERN_DELAY, 5}, {0xE, 0xF1, CMD_NONE, 0},
        {0xF, 0x00, CMD_SET_SPEED, 0}, {0xF, 0x1F, CMD_SET_SPEED, 31}, {0xF, 0x20, CMD_SET_TEMPO, 32},
        {0xF, 0xFF, CMD_SET_TEMPO, 255},
        {16, 0x40, CMD_SET_GLOBAL_VOLUME, 64}, {16, 0x7F, CMD_SET_GLOBAL_VOLUME, 64},  // G
        {17, 0x0F, CMD_GLOBAL_VOLUME_SLIDE, 0x0F}, {20, 0x03, CMD_KEY_OFF, 3},         // H, K
        {21, 0x10, CMD_SET_ENVELOPE_POSITION, 0x10}, {25, 0x20, CMD_PANNING_SLIDE, 0x20},  // L, P
        {27, 0x83, CMD_MULTI_RETRIGGER, 0x83}, {29, 0x21, CMD_TREMOR, 0x21},           // R, T
        {33, 0x13, CMD_EXTRA_FINE_PORTAMENTO_UP, 3}, {33, 0x24, CMD_EXTRA_FINE_PORTAMENTO_DOWN, 4},  // X
        {33, 0x35, CMD_NONE, 0}, {18, 0x11, CMD_NONE, 0}, {35, 0x11, CMD_NONE, 0}, {200, 0x11, CMD_NONE, 0},
    };
    struct VolumeCase {
        uint8_t byte, command, param;
    };
    const VolumeCase volumes[] = {
        {0x00, VOLCMD_NONE, 0}, {0x0F, VOLCMD_NONE, 0}, {0x10, VOLCMD_SET_VOLUME, 0},
        {0x50, VOLCMD_SET_VOLUME, 64}, {0x51, VOLCMD_NONE, 0}, {0x5F, VOLCMD_NONE, 0},
        {0x63, VOLCMD_SLIDE_DOWN, 3}, {0x7F, VOLCMD_SLIDE_UP, 15}, {0x81, VOLCMD_FINE_SLIDE_DOWN, 1},
        {0x92, VOLCMD_FINE_SLIDE_UP, 2}, {0xA4, VOLCMD_VIBRATO_SPEED, 4}, {0xB5, VOLCMD_VIBRATO, 5},
        {0xC0, VOLCMD_SET_PANNING, 0}, {0xCF, VOLCMD_SET_PANNING, 15}, {0xD6, VOLCMD_PANNING_SLIDE_LEFT, 6},
        {0xE7, VOLCMD_PANNING_SLIDE_RIGHT, 7}, {0xF8, VOLCMD_TONE_PORTAMENTO, 8},
    };
    XmBuilder b = small_xm(2);
    const int n = static_cast<int>(sizeof cases / sizeof cases[0]);
    ASSERT_LE(n, 64);
    for (int i = 0; i < n; i++) {
        xmbuilder_cell(&b, 0, i, 1)->effect = cases[i].effect;
        xmbuilder_cell(&b, 0, i, 1)->param = cases[i].param;
    }
    const int nv = static_cast<int>(sizeof volumes / sizeof volumes[0]);
    for (int i = 0; i < nv; i++) xmbuilder_cell(&b, 0, i, 0)->volume = volumes[i].byte;
    Reading r(xmbuilder_build(b, nullptr), false);
    ASSERT_TRUE(r.ok) << r.refusal();
    ASSERT_TRUE(song_valid(r.song));
    for (int i = 0; i < n; i++) {
        const SongCell c = r.cell(0, i, 1);
        EXPECT_EQ(c.command, cases[i].command) << "effect " << int(cases[i].effect) << " param " << int(cases[i].param);
        EXPECT_EQ(c.param, cases[i].expected) << "effect " << int(cases[i].effect) << " param " << int(cases[i].param);
    }
    for (int i = 0; i < nv; i++) {
        const SongCell c = r.cell(0, i, 0);
        EXPECT_EQ(c.volume_command, volumes[i].command) << "volume byte " << int(volumes[i].byte);
        EXPECT_EQ(c.volume_param, volumes[i].param) << "volume byte " << int(volumes[i].byte);
    }
}

TEST(MusicXm, InstrumentHeaderSizeIsHonoured) {
    XmBuilder b = small_xm(1);
    XmBuilderInstrument padded = b.instruments[0];
    padded.name = "padded";
    padded.header_size = 300;   // 37 bytes past the fields, full of 0xEE
    padded.padding = 0xEE;
    padded.fadeout = 77;
    XmBuilderInstrument none;   // no samples: the short 29-byte header
    none.name = "none";
    XmBuilderInstrument none33; // no samples, 4 bytes more
    none33.name = "none33";
    none33.header_size = 33;
    XmBuilderInstrument short_fields = b.instruments[0];
    short_fields.name = "short";
    short_fields.header_size = 129;  // the map, but no envelopes, vibrato or fadeout
    short_fields.volume = {{0, 5}, {64, 0}, 0xFF, 0, 0, 0, 1};
    short_fields.fadeout = 500;
    short_fields.sample_map[0] = 0;
    b.instruments = {padded, none, none33, short_fields, b.instruments[0]};
    Reading r(xmbuilder_build(b, nullptr), false);
    ASSERT_TRUE(r.ok) << r.refusal();
    ASSERT_TRUE(song_valid(r.song));
    ASSERT_EQ(r.song->instrument_count, 5);
    const char *names[] = {"padded", "none", "none33", "short", "one"};
    for (int i = 0; i < 5; i++) EXPECT_STREQ(r.song->instruments[i].name, names[i]);
    EXPECT_EQ(r.song->instruments[0].fadeout, 77);
    EXPECT_EQ(r.song->instruments[3].note_samples[0], 2);
    EXPECT_EQ(r.song->instruments[3].volume_envelope.count, 0);
    EXPECT_EQ(r.song->instruments[3].volume_envelope.flags, 0);
    EXPECT_EQ(r.song->instruments[3].fadeout, 0);
    ASSERT_EQ(r.song->sample_count, 3);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(sample_frames(r.song->samples[i]), b.instruments[0].samples[0].frames) << i;
}

TEST(MusicXm, RepairsWhatRealFilesGetWrong) {
    XmBuilder b = small_xm(2);
    XmBuilderInstrument &in = b.instruments[0];
    // Volume envelope: ticks fall at the third point, values above 64.
    in.volume = {{0, 10, 5, 20}, {80, 30, 20, 10}, 0xFF, 3, 0, 1, 1 | 2 | 4};
    // Panning envelope: 14 points claimed, loop reversed.
    in.panning = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, std::vector<uint16_t>(12, 32), 14, 0, 5, 2, 1 | 4};
    in.sample_map[10] = 5;  // names a sample the instrument does not have
    XmBuilderSample past = in.samples[0];
    past.loop_start = 6;
    past.loop_length = 100;  // reaches past the end: cut
    XmBuilderSample beyond = in.samples[0];
    beyond.loop_type = 2;
    beyond.loop_start = 8;   // starts at the end: dropped
    beyond.volume = 90;
    in.samples = {in.samples[0], past, beyond};
    b.restart = 9;           // past the song's end
    b.orders = {0, 7};       // pattern 7 is not stored
    xmbuilder_cell(&b, 0, 1, 0)->instrument = 9;    // past the instruments stored
    xmbuilder_cell(&b, 0, 2, 0)->note = 98;         // past key off
    xmbuilder_cell(&b, 0, 3, 1)->instrument = 200;  // past any instrument
    xmbuilder_cell(&b, 0, 3, 1)->note = 13;
    Reading r(xmbuilder_build(b, nullptr), false);
    ASSERT_TRUE(r.ok) << r.refusal();
    const Song *s = r.song;
    ASSERT_TRUE(song_valid(s));
    const SongEnvelope &ve = s->instruments[0].volume_envelope;
    EXPECT_EQ(ve.count, 2);
    EXPECT_EQ(ve.points[0].value, 64);
    EXPECT_EQ(ve.flags, SONG_ENVELOPE_ON | SONG_ENVELOPE_LOOP);  // sustain 3 is gone
    const SongEnvelope &pe = s->instruments[0].panning_envelope;
    EXPECT_EQ(pe.count, 12);
    EXPECT_EQ(pe.flags, SONG_ENVELOPE_ON);
    EXPECT_EQ(s->instruments[0].note_samples[10], 0);
    EXPECT_EQ(s->instruments[0].note_samples[11], 1);
    EXPECT_EQ(s->samples[1].loop_start, 6u);
    EXPECT_EQ(s->samples[1].loop_length, 2u);
    EXPECT_EQ(s->samples[2].loop, SONG_LOOP_NONE);
    EXPECT_EQ(s->samples[2].loop_length, 0u);
    EXPECT_EQ(s->samples[2].volume, 64);
    EXPECT_EQ(s->restart, 0);
    // The absent pattern 7 plays as an empty 64-row pattern after the stored one.
    ASSERT_EQ(s->pattern_count, 2);
    EXPECT_EQ(s->orders[1], 1);
    EXPECT_EQ(s->patterns[1].rows, 64);
    for (int row = 0; row < 64; row++) EXPECT_EQ(r.cell(1, row, 0).note, 0);
    // Instruments up to the highest a cell names; numbers past 128 are none.
    EXPECT_EQ(s->instrument_count, 9);
    EXPECT_EQ(r.cell(0, 1, 0).instrument, 9);
    EXPECT_EQ(s->instruments[8].note_samples[40], 0);
    EXPECT_EQ(r.cell(0, 2, 0).note, 0);
    EXPECT_EQ(r.cell(0, 3, 1).instrument, 0);
    EXPECT_EQ(r.cell(0, 3, 1).note, 13);
}

TEST(MusicXm, PackedDataShorterOrLongerThanItsPattern) {
    XmBuilder b = small_xm(2);
    for (int row = 0; row < 64; row++) {
        XmBuilderCell *c = xmbuilder_cell(&b, 0, row, 1);
        *c = {static_cast<uint8_t>(1 + row), 1, 0x40, 0xA, 0x01};  // whole 5-byte cells
    }
    b.patterns.resize(2);
    xmbuilder_cell(&b, 1, 5, 0)->note = 60;
    b.orders = {0, 1};
    XmBuilderLayout layout;
    const std::vector<uint8_t> file = xmbuilder_build(b, &layout);

    // Longer: garbage after the cells, counted in the packed size, is skipped.
    std::vector<uint8_t> longer = file;
    const size_t end0 = layout.pattern_at[1];
    longer.insert(longer.begin() + static_cast<long>(end0), {0x9F, 0x9F, 0x9F, 0x9F, 0x9F, 0x9F, 0x9F});
    const uint32_t packed0 = longer[layout.pattern_at[0] + 7] | longer[layout.pattern_at[0] + 8] << 8;
    put16(longer, layout.pattern_at[0] + 7, packed0 + 7);
    Reading r1(longer, false);
    ASSERT_TRUE(r1.ok) << r1.refusal();
    EXPECT_TRUE(song_valid(r1.song));
    EXPECT_EQ(r1.cell(0, 63, 1).note, 64);
    EXPECT_EQ(r1.cell(1, 5, 0).note, 60);
    EXPECT_STREQ(r1.song->instruments[0].name, "one");

    // Shorter: a packed size that ends inside row 10's second cell; the
    // cell keeps the fields before the end, the later rows are empty, and
    // the next pattern starts where the stated size says.
    std::vector<uint8_t> shorter = file;
    // Rows 0 .. 9 (channel 0's note at row 0 is 3 bytes, its empty cells 1,
    // channel 1's whole cells 5), then row 10's empty cell and 2 bytes.
    const uint32_t cut = 3 + 9 + 5 * 10 + 1 + 2;
    const size_t data0 = layout.pattern_at[0] + 9;
    shorter.erase(shorter.begin() + static_cast<long>(data0 + cut), shorter.begin() + static_cast<long>(end0));
    put16(shorter, layout.pattern_at[0] + 7, cut);
    Reading r2(shorter, false);
    ASSERT_TRUE(r2.ok) << r2.refusal();
    EXPECT_TRUE(song_valid(r2.song));
    EXPECT_EQ(r2.cell(0, 9, 1).note, 10);
    EXPECT_EQ(r2.cell(0, 10, 1).note, 11);
    EXPECT_EQ(r2.cell(0, 10, 1).instrument, 1);
    EXPECT_EQ(r2.cell(0, 10, 1).volume_command, VOLCMD_NONE);
    EXPECT_EQ(r2.cell(0, 11, 1).note, 0);
    EXPECT_EQ(r2.cell(1, 5, 0).note, 60);
}

TEST(MusicXm, RefusesWithOneReasonEach) {
    XmBuilder base = small_xm(2);
    base.patterns.resize(2);
    XmBuilderLayout layout;
    const std::vector<uint8_t> file = xmbuilder_build(base, &layout);
    struct Case {
        const char *what;
        size_t at;
        int width;
        uint32_t value;
        ModuleReadRefusal refusal;
        const char *sentence;
    };
    const Case cases[] = {
        {"version 1.03", 58, 2, 0x0103, MODULE_READ_VERSION, "its XM version is 1.03 (only 1.04 is read)"},
        {"0 channels", 68, 2, 0, MODULE_READ_CHANNELS, "its XM header says 0 channels (1 to 32 are read)"},
        {"33 channels", 68, 2, 33, MODULE_READ_CHANNELS, "says 33 channels"},
        {"song length 0", 64, 2, 0, MODULE_READ_ORDERS, "its XM order list has no position to play"},
        {"song length 257", 64, 2, 257, MODULE_READ_ORDERS, "says 257 order positions (1 to 256 are read)"},
        {"257 patterns", 70, 2, 257, MODULE_READ_PATTERNS, "says 257 patterns (at most 256 are read)"},
        {"129 instruments", 72, 2, 129, MODULE_READ_INSTRUMENTS, "says 129 instruments (at most 128 are read)"},
        {"0 rows", layout.pattern_at[1] + 5, 2, 0, MODULE_READ_ROWS, "pattern 1 has 0 rows (1 to 256 are read)"},
        {"257 rows", layout.pattern_at[1] + 5, 2, 257, MODULE_READ_ROWS, "pattern 1 has 257 rows"},
        {"17 samples", layout.instrument_at[0] + 27, 2, 17, MODULE_READ_SAMPLES,
         "instrument 1 has 17 samples (at most 16 are read)"},
        {"packed size past the end", layout.pattern_at[1] + 7, 2, 60000, MODULE_READ_TRUNCATED,
         "truncated: pattern 1 needs"},
        {"pattern header past the end", 60, 4, 0x7FFFFFF0, MODULE_READ_TRUNCATED, "truncated: pattern 0 needs"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = file;
        if (c.width == 2) put16(bytes, c.at, c.value);
        else put32(bytes, c.at, c.value);
        Reading r(bytes, false);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.result.refusal, c.refusal) << c.what;
        EXPECT_TRUE(contains(r.refusal(), c.sentence)) << c.what << ": " << r.refusal();
        EXPECT_EQ(r.refusal().rfind("'f' is not a module: ", 0), 0u) << r.refusal();
    }
    // The header itself cut, no signature at all, nothing.
    Reading cut(file, 300, false);
    EXPECT_EQ(cut.result.refusal, MODULE_READ_TRUNCATED);
    EXPECT_EQ(cut.refusal(), "'f' is not a module: truncated: its header needs 336 bytes, the file has 300");
    std::vector<uint8_t> unsigned_file = file;
    unsigned_file[0] = 'e';
    Reading none(unsigned_file, false);
    EXPECT_EQ(none.result.refusal, MODULE_READ_NOT_FORMAT);
    EXPECT_TRUE(contains(none.refusal(), "no XM signature"));
    Reading empty(file, 0, false);
    EXPECT_EQ(empty.result.refusal, MODULE_READ_EMPTY);
    EXPECT_EQ(empty.refusal(), "'f' is not a module: the file is empty");
}

TEST(MusicXm, CutAtEveryByteIsRefusedOrReadWhole) {
    XmBuilder b;
    xmbuilder_showcase_song(&b);
    XmBuilderLayout layout;
    const std::vector<uint8_t> file = xmbuilder_build(b, &layout);
    const size_t instruments_at = layout.instrument_at[0];
    int refused = 0, read = 0, cut = 0;
    for (size_t size = 0; size <= file.size(); size++) {
        Reading r(file, size, false);
        ASSERT_TRUE(music_check_read(r.song, r.ok, &r.result)) << size;
        if (!r.ok) {
            // Only a file that ends before the instruments is refused.
            ASSERT_LT(size, instruments_at) << r.refusal();
            refused++;
            continue;
        }
        ASSERT_GE(size, instruments_at);
        ASSERT_EQ(r.song->instrument_count, 3);
        if (r.result.cut_instruments || r.result.cut_samples) cut++;
        read++;
    }
    EXPECT_EQ(refused, static_cast<int>(instruments_at));
    EXPECT_EQ(read, static_cast<int>(file.size() - instruments_at + 1));
    EXPECT_EQ(cut, read - 1);  // all but the whole file
}

TEST(MusicXm, RunsOutOfMemoryWithoutLeaking) {
    XmBuilder b;
    xmbuilder_showcase_song(&b);
    ItBuilder it;
    itbuilder_showcase_song(&it);
    const struct {
        std::vector<uint8_t> file;
        int (*read)(const uint8_t *, size_t, Song *, ModuleReadResult *);
    } readers[] = {{xmbuilder_build(b, nullptr), xm_read}, {itbuilder_build(it, nullptr), it_read}};
    for (const auto &reader : readers) {
        uint8_t *bytes = music_copy_module(reader.file);
        bool succeeded = false;
        for (long n = 0; n < 20 && !succeeded; n++) {
            Song *song = song_create();
            ASSERT_NE(song, nullptr);
            ModuleReadResult result;
            alloc_fail_after(n);
            const int ok = reader.read(bytes, reader.file.size(), song, &result);
            alloc_fail_after(-1);
            if (ok) {
                succeeded = true;
                EXPECT_TRUE(song_valid(song));
            } else {
                EXPECT_EQ(result.refusal, MODULE_READ_NO_MEMORY) << n;
            }
            song_destroy(song);
        }
        EXPECT_TRUE(succeeded);
        music_free_module(bytes);
    }
}

TEST(MusicXm, PackedCellsStayWithinTwiceThePatternBytes) {
    // Random cells of every field combination on 32 channels.
    XmBuilder b;
    b.channels = 32;
    b.patterns.resize(1);
    b.patterns[0].rows = 256;
    uint32_t state = 12345;
    auto next = [&state]() { return (state = state * 1664525u + 1013904223u) >> 24; };
    for (int row = 0; row < 256; row++) {
        for (int ch = 0; ch < 32; ch++) {
            XmBuilderCell *c = xmbuilder_cell(&b, 0, row, ch);
            const uint32_t fields = next();
            if (fields & 1) c->note = static_cast<uint8_t>(1 + next() % 97);
            if (fields & 2) c->instrument = static_cast<uint8_t>(next());
            if (fields & 4) c->volume = static_cast<uint8_t>(next());
            if (fields & 8) c->effect = static_cast<uint8_t>(next() % 36);
            if (fields & 16) c->param = static_cast<uint8_t>(next());
        }
    }
    XmBuilderLayout layout;
    Reading r(xmbuilder_build(b, &layout), false);
    ASSERT_TRUE(r.ok) << r.refusal();
    EXPECT_TRUE(song_valid(r.song));
    EXPECT_GT(r.song->cell_bytes, layout.patterns_packed_bytes / 2);
    EXPECT_LE(r.song->cell_bytes, 2 * layout.patterns_packed_bytes);
}

// ---------------------------------------------------------------- S3M

// The quirks of every S3M.
constexpr uint64_t S3M_QUIRKS = SONG_QUIRK_SHARED_EFFECT_MEMORY | SONG_QUIRK_JUMP_AND_BREAK_COMBINE |
                                SONG_QUIRK_SLIDE_KIND_IN_PARAMETER | SONG_QUIRK_FINETUNE_SETS_C2SPD |
                                SONG_QUIRK_FIRST_PATTERN_DELAY | SONG_QUIRK_TREMOR_COUNTS_FIRST_TICK |
                                SONG_QUIRK_SLIDE_PAST_TOP_STOPS | SONG_QUIRK_PATTERN_CHANGE_RESETS_LOOP;
// And of those Scream Tracker 3 wrote.
constexpr uint64_t ST3_QUIRKS = S3M_QUIRKS | SONG_QUIRK_RETRIGGER_COUNTS_ON | SONG_QUIRK_SLIDE_FROM_ARPEGGIO;

TEST(MusicS3m, ShowcaseReadsBackAsDescribed) {
    S3mBuilder b;
    s3mbuilder_showcase_song(&b);
    S3mBuilderLayout layout;
    const std::vector<uint8_t> file = s3mbuilder_build(b, &layout);
    Reading r(file, true);
    ASSERT_TRUE(r.ok) << r.refusal();
    const Song *s = r.song;
    ASSERT_TRUE(song_valid(s));
    EXPECT_EQ(s->format, SONG_FORMAT_S3M);
    EXPECT_STREQ(s->title, "showcase");
    EXPECT_STREQ(s->format_name, "S3M, Scream Tracker 3.20");
    EXPECT_EQ(s->frequency_mode, SONG_FREQUENCY_AMIGA);
    EXPECT_EQ(s->quirks, ST3_QUIRKS);
    // Orders: the 254 marker skipped, everything from the 255 on left out.
    ASSERT_EQ(s->order_count, 3);
    EXPECT_EQ(std::vector<uint8_t>(s->orders, s->orders + 3), (std::vector<uint8_t>{0, 1, 2}));
    ASSERT_EQ(s->pattern_count, 3);
    for (int p = 0; p < 3; p++) EXPECT_EQ(s->patterns[p].rows, 64);
    // Six channels: L R L, a disabled R, Adlib, R; stereo, with the
    // panning table's entries for channels 0 and 5.
    ASSERT_EQ(s->channel_count, 6);
    const uint8_t panning[6] = {2 * 16, 0xC0, 0x30, 0xC0, SONG_PANNING_CENTER, 13 * 16};
    for (int ch = 0; ch < 6; ch++) EXPECT_EQ(s->channel_panning[ch], panning[ch]) << ch;

    // Instruments: one sample each, unsigned data made signed, the stereo
    // one mixed, the Adlib one silent and said so.
    ASSERT_EQ(s->instrument_count, 4);
    ASSERT_EQ(s->sample_count, 4);
    EXPECT_EQ(s->instruments[0].note_samples[0], 1);
    EXPECT_EQ(s->instruments[0].note_samples[95], 1);
    EXPECT_EQ(s->instruments[1].note_samples[40], 2);
    EXPECT_EQ(s->instruments[3].note_samples[40], 0);
    EXPECT_STREQ(s->instruments[3].name, "adlib");
    const SongSample &s8 = s->samples[0];
    EXPECT_EQ(sample_frames(s8), b.samples[0].frames);
    EXPECT_EQ(s8.loop, SONG_LOOP_FORWARD);
    EXPECT_EQ(s8.loop_start, 100u);
    EXPECT_EQ(s8.loop_length, 300u);
    EXPECT_EQ(s8.c2spd, 8363u);
    const SongSample &s16 = s->samples[1];
    EXPECT_EQ(s16.bits, 16);
    EXPECT_EQ(sample_frames(s16), b.samples[1].frames);
    EXPECT_EQ(s16.volume, 40);
    EXPECT_EQ(s16.c2spd, 16726u);
    EXPECT_EQ(s16.loop, SONG_LOOP_NONE);
    std::vector<int16_t> mixed;
    for (size_t i = 0; i < b.samples[2].frames.size(); i++)
        mixed.push_back(static_cast<int16_t>((b.samples[2].frames[i] + b.samples[2].right[i]) >> 1));
    EXPECT_EQ(sample_frames(s->samples[2]), mixed);
    EXPECT_EQ(s->samples[3].length, 0u);
    EXPECT_EQ(r.result.adlib_instruments, 1);
    char notice[200];
    EXPECT_EQ(module_read_notice_text(&r.result, "f", notice, sizeof notice), 1);
    EXPECT_STREQ(notice, "'f': 1 Adlib instrument is not played: its notes stay silent");

    // Cells: notes as octave and semitone, the cut, volumes; the disabled
    // and Adlib channels keep no notes but their speed command.
    const SongCell c = r.cell(0, 4, 1);
    EXPECT_EQ(c.note, 2 * 12 + 5 + 1);
    EXPECT_EQ(c.instrument, 1 + (1 + 1) % 4);
    EXPECT_EQ(c.volume_command, VOLCMD_SET_VOLUME);
    EXPECT_EQ(c.volume_param, 4);
    EXPECT_EQ(r.cell(0, 12, 0).note, SONG_NOTE_CUT);
    EXPECT_EQ(r.cell(1, 48, 5).note, (2 + 3) * 12 + (48 + 5) % 12 + 1);
    for (int row = 0; row < 64; row++) {
        for (int ch : {3, 4}) {
            const SongCell silent = r.cell(row < 32 ? 0 : 1, row, ch);
            EXPECT_EQ(silent.note, 0);
            EXPECT_EQ(silent.instrument, 0);
            EXPECT_EQ(silent.volume_command, VOLCMD_NONE);
        }
    }
    EXPECT_EQ(r.cell(1, 60, 3).command, CMD_SET_SPEED);
    EXPECT_EQ(r.cell(1, 60, 3).param, 4);
    for (int row = 0; row < 64; row++) EXPECT_EQ(r.cell(2, row, 0).note, 0);
    EXPECT_LE(s->cell_bytes, 2 * layout.patterns_packed_bytes);
}

TEST(MusicS3m, CommandsInTheSongsVocabulary) {
    struct Case {
        char letter;
        uint8_t info, command, expected;
    };
    const Case cases[] = {
        {'A', 0x06, CMD_SET_SPEED, 6}, {'B', 0x02, CMD_POSITION_JUMP, 2}, {'C', 0x32, CMD_PATTERN_BREAK, 32},
        {'D', 0x0F, CMD_VOLUME_SLIDE, 0x0F}, {'D', 0xF1, CMD_VOLUME_SLIDE, 0xF1},
        {'E', 0x20, CMD_PORTAMENTO_DOWN, 0x20}, {'E', 0x00, CMD_PORTAMENTO_DOWN, 0},
        // The fine kinds stay in the parameter, told apart when played.
        {'E', 0xF3, CMD_PORTAMENTO_DOWN, 0xF3}, {'E', 0xE4, CMD_PORTAMENTO_DOWN, 0xE4},
        {'F', 0x11, CMD_PORTAMENTO_UP, 0x11}, {'F', 0xF5, CMD_PORTAMENTO_UP, 0xF5},
        {'F', 0xE6, CMD_PORTAMENTO_UP, 0xE6}, {'G', 0x08, CMD_TONE_PORTAMENTO, 8},
        {'H', 0x46, CMD_VIBRATO, 0x46}, {'I', 0x21, CMD_TREMOR, 0x21}, {'J', 0x37, CMD_ARPEGGIO, 0x37},
        {'J', 0x00, CMD_ARPEGGIO, 0}, {'K', 0x02, CMD_VIBRATO_VOLUME_SLIDE, 2},
        {'L', 0x20, CMD_TONE_PORTAMENTO_VOLUME_SLIDE, 0x20}, {'M', 0x20, CMD_NONE, 0}, {'N', 0x20, CMD_NONE, 0},
        {'O', 0x10, CMD_SAMPLE_OFFSET, 0x10}, {'P', 0x20, CMD_NONE, 0}, {'Q', 0x83, CMD_MULTI_RETRIGGER, 0x83},
        {'R', 0x44, CMD_TREMOLO, 0x44}, {'S', 0x01, CMD_NONE, 0}, {'S', 0x11, CMD_GLISSANDO, 1},
        {'S', 0x27, CMD_SET_FINETUNE, 7}, {'S', 0x32, CMD_VIBRATO_WAVEFORM, 2},
        {'S', 0x41, CMD_TREMOLO_WAVEFORM, 1}, {'S', 0x84, CMD_SET_PANNING_COARSE, 4},
        {'S', 0xA1, CMD_NONE, 0}, {'S', 0xB3, CMD_PATTERN_LOOP, 3}, {'S', 0xC2, CMD_NOTE_CUT, 2},
        {'S', 0xD1, CMD_NOTE_DELAY, 1}, {'S', 0xE4, CMD_PATTERN_DELAY, 4}, {'S', 0xF1, CMD_NONE, 0},
        {'T', 0x20, CMD_SET_TEMPO, 32}, {'T', 0x96, CMD_SET_TEMPO, 0x96}, {'T', 0x10, CMD_NONE, 0},
        {'U', 0x23, CMD_FINE_VIBRATO, 0x23}, {'V', 0x30, CMD_SET_GLOBAL_VOLUME, 0x30},
        {'V', 0x41, CMD_NONE, 0}, {'W', 0x10, CMD_NONE, 0}, {'X', 0x00, CMD_SET_PANNING, 0},
        {'X', 0x40, CMD_SET_PANNING, 0x80}, {'X', 0x80, CMD_SET_PANNING, 255}, {'X', 0xA4, CMD_NONE, 0},
        {'Y', 0x11, CMD_NONE, 0}, {'Z', 0x11, CMD_NONE, 0}, {'Z' + 1, 0x11, CMD_NONE, 0},
    };
    S3mBuilder b;
    const int n = static_cast<int>(sizeof cases / sizeof cases[0]);
    ASSERT_LE(n, 64);
    for (int i = 0; i < n; i++) {
        S3mBuilderCell *c = s3mbuilder_cell(&b, 0, i, 2);
        c->command = static_cast<uint8_t>(cases[i].letter - 'A' + 1);
        c->info = cases[i].info;
    }
    Reading r(s3mbuilder_build(b, nullptr), true);
    ASSERT_TRUE(r.ok) << r.refusal();
    ASSERT_TRUE(song_valid(r.song));
    for (int i = 0; i < n; i++) {
        const SongCell c = r.cell(0, i, 2);
        EXPECT_EQ(c.command, cases[i].command) << cases[i].letter << std::hex << int(cases[i].info);
        EXPECT_EQ(c.param, cases[i].expected) << cases[i].letter << std::hex << int(cases[i].info);
    }
}

TEST(MusicS3m, SampleFormatsQuirksAndPanningFromTheHeader) {
    S3mBuilder b;
    b.sample_format = 1;  // signed
    S3mBuilderSample s8;
    s8.frames = {0, -5, 100, -128, 127};
    S3mBuilderSample s16;
    s16.bits = 16;
    s16.frames = {0, -32768, 32767, 1234};
    S3mBuilderSample loose;
    loose.frames = std::vector<int16_t>(50, 3);
    loose.loop = true;
    loose.loop_begin = 20;
    loose.loop_end = 90;  // past the end: cut
    loose.volume = 99;
    loose.c2spd = 0x10000;  // only the low 16 bits count, and 0 is 8363
    S3mBuilderSample packed;
    packed.frames = {1, 2, 3};
    packed.pack = 1;
    b.samples = {s8, s16, loose, packed};
    b.version = 0x1300;
    b.flags = 16;
    b.master_volume = 0x30;  // mono: every channel centred, the table ignored
    b.panning_flag = 252;
    b.panning[0] = 0x20 | 1;
    b.global_volume = 80;
    b.speed = 0;
    b.tempo = 20;
    s3mbuilder_cell(&b, 0, 0, 0)->note = 0x40;
    S3mBuilderLayout layout;
    const std::vector<uint8_t> file = s3mbuilder_build(b, &layout);
    Reading r(file, true);
    ASSERT_TRUE(r.ok) << r.refusal();
    const Song *s = r.song;
    ASSERT_TRUE(song_valid(s));
    // Signed 8-bit mono data is read where it lies.
    EXPECT_EQ(static_cast<const uint8_t *>(s->samples[0].data), r.bytes + layout.sample_data_at[0]);
    EXPECT_EQ(sample_frames(s->samples[0]), s8.frames);
    EXPECT_EQ(sample_frames(s->samples[1]), s16.frames);
    EXPECT_EQ(s->samples[2].loop_start, 20u);
    EXPECT_EQ(s->samples[2].loop_length, 30u);
    EXPECT_EQ(s->samples[2].volume, 64);
    EXPECT_EQ(s->samples[2].c2spd, 8363u);
    EXPECT_EQ(s->samples[3].length, 0u);
    EXPECT_EQ(s->instruments[3].note_samples[0], 0);
    EXPECT_EQ(r.result.silent_samples, 1);
    EXPECT_EQ(s->quirks, ST3_QUIRKS | SONG_QUIRK_FAST_VOLUME_SLIDES | SONG_QUIRK_AMIGA_LIMITS);
    EXPECT_STREQ(s->format_name, "S3M, Scream Tracker 3.00");
    EXPECT_EQ(s->initial_global_volume, 64);
    EXPECT_EQ(s->initial_speed, 6);
    EXPECT_EQ(s->initial_tempo, 125);
    for (int ch = 0; ch < 4; ch++) EXPECT_EQ(s->channel_panning[ch], SONG_PANNING_CENTER);
    EXPECT_EQ(r.cell(0, 0, 0).note, 4 * 12 + 1);

    // The fast slides also come with flag 64 alone.
    b.version = 0x1320;
    b.flags = 64;
    Reading fast(s3mbuilder_build(b, nullptr), true);
    ASSERT_TRUE(fast.ok);
    EXPECT_EQ(fast.song->quirks, ST3_QUIRKS | SONG_QUIRK_FAST_VOLUME_SLIDES);
    // Impulse Tracker's S3Ms play their notes' exact periods and count
    // retriggers its way.
    b.version = 0x3214;
    Reading it(s3mbuilder_build(b, nullptr), true);
    ASSERT_TRUE(it.ok);
    EXPECT_EQ(it.song->quirks, S3M_QUIRKS | SONG_QUIRK_FAST_VOLUME_SLIDES | SONG_QUIRK_EXACT_NOTE_PERIODS |
                                   SONG_QUIRK_RETRIGGER_COUNTS_DOWN);
}

// The trackers read a pattern's rows, not its stated length: past a length
// too short (Impulse Tracker writes such) to the 64th row's end; but never
// more rows' bytes than the file holds in all. A channel met twice in a
// row keeps the fields the second cell does not have.
TEST(MusicS3m, PatternRowsAreReadPastTheirStatedLength) {
    S3mBuilder b;
    for (int row = 0; row < 64; row++) s3mbuilder_cell(&b, 0, row, 1)->note = static_cast<uint8_t>(0x30 | (row % 12));
    b.patterns.resize(2);
    s3mbuilder_cell(&b, 1, 7, 0)->note = 0x51;
    b.orders = {0, 1};
    S3mBuilderLayout layout;
    std::vector<uint8_t> file = s3mbuilder_build(b, &layout);
    // Each row is 3 bytes of cell and its end byte: say 10 rows and 2 bytes.
    put16(file, layout.pattern_at[0], 4 * 10 + 2);
    Reading r(file, true);
    ASSERT_TRUE(r.ok) << r.refusal();
    EXPECT_TRUE(song_valid(r.song));
    EXPECT_EQ(r.cell(0, 9, 1).note, 3 * 12 + 9 + 1);
    EXPECT_EQ(r.cell(0, 11, 1).note, 3 * 12 + 11 + 1);
    EXPECT_EQ(r.cell(0, 63, 1).note, 3 * 12 + 3 + 1);
    EXPECT_EQ(r.cell(1, 7, 0).note, 5 * 12 + 1 + 1);

    // A channel met twice in a row: the later cell's fields over the
    // earlier's (A03, then C-4 with instrument 1 and no command).
    std::vector<uint8_t> twice = s3mbuilder_build(b, &layout);
    const uint8_t row[] = {0x80, 'A' - 64, 3, 0x20, 0x40, 1, 0};
    memcpy(&twice[layout.pattern_at[0] + 2], row, sizeof row);
    Reading merged(twice, true);
    ASSERT_TRUE(merged.ok) << merged.refusal();
    EXPECT_EQ(merged.cell(0, 0, 0).command, CMD_SET_SPEED);
    EXPECT_EQ(merged.cell(0, 0, 0).param, 3);
    EXPECT_EQ(merged.cell(0, 0, 0).note, 4 * 12 + 1);

    // Forty patterns on the first one's bytes, each with a length of 0:
    // the rows are read while their bytes in all stay within the file's
    // size, the other patterns are empty.
    b.patterns.resize(40);
    b.orders.assign(40, 0);
    for (int p = 0; p < 40; p++) b.orders[static_cast<size_t>(p)] = static_cast<uint8_t>(p);
    file = s3mbuilder_build(b, &layout);
    for (int p = 0; p < 40; p++) {
        put16(file, layout.pattern_pointers_at + 2 * static_cast<size_t>(p), static_cast<uint16_t>(layout.pattern_at[0] / 16));
        put16(file, layout.pattern_at[0], 0);
    }
    Reading shared(file, true);
    ASSERT_TRUE(shared.ok) << shared.refusal();
    EXPECT_EQ(shared.cell(0, 63, 1).note, 3 * 12 + 3 + 1);
    EXPECT_EQ(shared.cell(39, 0, 1).note, 0);
    EXPECT_LE(shared.song->cell_bytes, 2 * file.size());
}

TEST(MusicS3m, RefusesWithOneReasonEachAndRepairsTheRest) {
    S3mBuilder b;
    b.samples.resize(2);
    b.samples[0].frames = std::vector<int16_t>(64, 10);
    b.samples[1].frames = std::vector<int16_t>(64, 20);
    b.patterns.resize(2);
    b.orders = {0, 1, 255};
    s3mbuilder_cell(&b, 1, 3, 0)->instrument = 7;  // past the two stored
    S3mBuilderLayout layout;
    const std::vector<uint8_t> file = s3mbuilder_build(b, &layout);
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        ModuleReadRefusal refusal;
        const char *sentence;
    };
    const Case cases[] = {
        {"257 orders", 32, 257, MODULE_READ_ORDERS, "its S3M header says 257 order positions"},
        {"129 instruments", 34, 129, MODULE_READ_INSTRUMENTS, "its S3M header says 129 instruments"},
        {"257 patterns", 36, 257, MODULE_READ_PATTERNS, "its S3M header says 257 patterns"},
        {"pattern past the end", layout.pattern_pointers_at + 2, 0xFFFF, MODULE_READ_TRUNCATED,
         "truncated: pattern 1 needs 1048562 bytes"},
        {"no order to play", 96, 0xFFFF, MODULE_READ_ORDERS, "its S3M order list has no position to play"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = file;
        put16(bytes, c.at, c.value);
        Reading r(bytes, true);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.result.refusal, c.refusal) << c.what;
        EXPECT_TRUE(contains(r.refusal(), c.sentence)) << c.what << ": " << r.refusal();
    }
    Reading tables(file, layout.pattern_pointers_at + 3, true);
    EXPECT_EQ(tables.result.refusal, MODULE_READ_TRUNCATED);
    EXPECT_TRUE(contains(tables.refusal(), "truncated: its order list needs")) << tables.refusal();
    std::vector<uint8_t> no_channels = file;
    memset(&no_channels[64], 255, 32);
    Reading silent(no_channels, true);
    EXPECT_EQ(silent.refusal(), "'f' is not a module: its S3M header enables no channel");

    // Repaired: the instrument a cell names past the stored ones is a
    // silent one; an instrument header and sample data past the end.
    Reading whole(file, true);
    ASSERT_TRUE(whole.ok);
    EXPECT_EQ(whole.song->instrument_count, 7);
    EXPECT_EQ(whole.song->instruments[6].note_samples[0], 0);
    std::vector<uint8_t> lost = file;
    put16(lost, layout.instrument_pointers_at + 2, 0xFFFF);
    Reading r1(lost, true);
    ASSERT_TRUE(r1.ok) << r1.refusal();
    EXPECT_TRUE(song_valid(r1.song));
    EXPECT_EQ(r1.result.cut_instruments, 1);
    EXPECT_EQ(r1.song->instruments[1].note_samples[0], 0);
    Reading r2(file, layout.sample_data_at[1] + 10, true);
    ASSERT_TRUE(r2.ok) << r2.refusal();
    EXPECT_EQ(r2.song->samples[1].length, 10u);
    EXPECT_EQ(r2.result.cut_samples, 1);
}

TEST(MusicS3m, CutAtEveryByteIsRefusedOrValid) {
    S3mBuilder b;
    s3mbuilder_showcase_song(&b);
    S3mBuilderLayout layout;
    const std::vector<uint8_t> file = s3mbuilder_build(b, &layout);
    int read = 0;
    for (size_t size = 0; size <= file.size(); size++) {
        Reading r(file, size, true);
        ASSERT_TRUE(music_check_read(r.song, r.ok, &r.result)) << size;
        read += r.ok;
    }
    // Every cut from the last pattern's length word on is read.
    EXPECT_GE(read, static_cast<int>(file.size() - layout.pattern_at[1] - 1));
}

// ---------------------------------------------------------------- IT

TEST(MusicIt, ShowcaseReadsBackAsDescribed) {
    ItBuilder b;
    itbuilder_showcase_song(&b);
    ItBuilderLayout layout;
    const std::vector<uint8_t> file = itbuilder_build(b, &layout);
    Reading r(file, IT_FILE);
    ASSERT_TRUE(r.ok) << r.refusal();
    const Song *s = r.song;
    ASSERT_TRUE(song_valid(s));
    EXPECT_EQ(s->format, SONG_FORMAT_IT);
    EXPECT_STREQ(s->title, "showcase");
    EXPECT_STREQ(s->format_name, "IT 2.14, Impulse Tracker 2.15");
    EXPECT_STREQ(s->message, "an IT showcase\nwith two lines");
    EXPECT_EQ(s->frequency_mode, SONG_FREQUENCY_LINEAR);
    EXPECT_EQ(s->initial_global_volume, 128);
    EXPECT_EQ(s->mixing_volume, 48);
    EXPECT_EQ(s->panning_separation, 128);
    // Orders without the 254 marker and from the 255 on.
    ASSERT_EQ(s->order_count, 4);
    EXPECT_EQ(std::vector<uint8_t>(s->orders, s->orders + 4), (std::vector<uint8_t>{0, 1, 2, 0}));
    ASSERT_EQ(s->pattern_count, 3);
    EXPECT_EQ(s->patterns[1].rows, 32);
    EXPECT_EQ(s->patterns[2].rows, 200);
    // Six channels used: left, right, surround and disabled ones centred.
    ASSERT_EQ(s->channel_count, 6);
    const uint8_t panning[6] = {128, 0, 255, 128, 128, 128};
    for (int ch = 0; ch < 6; ch++) EXPECT_EQ(s->channel_panning[ch], panning[ch]) << ch;
    EXPECT_EQ(s->channel_volume[0], 48);
    EXPECT_EQ(s->channel_volume[1], 64);
    // The embedded macros that set the filter, the rest none.
    EXPECT_EQ(s->macros[0].kind, SONG_MACRO_CUTOFF);
    EXPECT_EQ(s->macros[0].value, SONG_MACRO_VALUE_PARAMETER);
    EXPECT_EQ(s->macros[1].kind, SONG_MACRO_RESONANCE);
    EXPECT_EQ(s->macros[SONG_MACRO_PARAMETERED].value, 0x40);
    EXPECT_EQ(s->macros[SONG_MACRO_PARAMETERED + 1].kind, SONG_MACRO_NONE);

    // Samples: every coding decoded to the frames described.
    ASSERT_EQ(s->sample_count, 5);
    for (int n : {0, 1, 3, 4}) EXPECT_EQ(sample_frames(s->samples[n]), b.samples[static_cast<size_t>(n)].frames) << n;
    const SongSample &s8 = s->samples[0];
    EXPECT_EQ(s8.loop, SONG_LOOP_FORWARD);
    EXPECT_EQ(s8.loop_start, 200u);
    EXPECT_EQ(s8.loop_length, 800u);
    EXPECT_EQ(s8.sustain_loop, SONG_LOOP_PING_PONG);
    EXPECT_EQ(s8.sustain_start, 100u);
    EXPECT_EQ(s8.sustain_length, 200u);
    EXPECT_EQ(s8.autovibrato_depth, 16);
    EXPECT_EQ(s8.autovibrato_rate, 40);
    const SongSample &s16 = s->samples[1];
    EXPECT_EQ(s16.c2spd, 16000u);
    EXPECT_EQ(s16.global_volume, 40);
    EXPECT_EQ(s16.has_panning, 1);
    EXPECT_EQ(s16.panning, 191);
    EXPECT_EQ(s16.loop, SONG_LOOP_PING_PONG);
    EXPECT_EQ(s16.loop_length, 38990u);
    const SongSample &stereo = s->samples[2];
    ASSERT_EQ(stereo.stereo, 1);
    ASSERT_EQ(stereo.length, 300u);
    const int8_t *halves = static_cast<const int8_t *>(stereo.data);
    EXPECT_EQ(std::vector<int16_t>(halves, halves + 300), b.samples[2].frames);
    EXPECT_EQ(std::vector<int16_t>(halves + 300, halves + 600), b.samples[2].right);

    // Instruments: the note map, the three envelopes and the rest.
    ASSERT_EQ(s->instrument_count, 3);
    const SongInstrument &lead = s->instruments[0];
    EXPECT_EQ(lead.note_samples[59], 1);
    EXPECT_EQ(lead.note_samples[60], 2);
    EXPECT_EQ(lead.note_notes[61], 74);
    EXPECT_EQ(lead.note_notes[62], 0);
    EXPECT_EQ(lead.new_note_action, SONG_NNA_CONTINUE);
    EXPECT_EQ(lead.duplicate_check, SONG_DUPLICATE_NOTE);
    EXPECT_EQ(lead.duplicate_action, SONG_NNA_NOTE_FADE);
    EXPECT_EQ(lead.fadeout, 64 * 32);
    EXPECT_EQ(lead.pitch_pan_separation, -8);
    EXPECT_EQ(lead.pitch_pan_center, 61);
    EXPECT_EQ(lead.panning, 80);
    EXPECT_EQ(lead.random_volume, 25);
    EXPECT_EQ(lead.filter_cutoff, 100);
    EXPECT_EQ(lead.filter_resonance, 30);
    const SongEnvelope &ve = lead.volume_envelope;
    ASSERT_EQ(ve.count, 5);
    EXPECT_EQ(ve.points[3].tick, 30);
    EXPECT_EQ(ve.points[3].value, 16);
    EXPECT_EQ(ve.flags, SONG_ENVELOPE_ON | SONG_ENVELOPE_LOOP | SONG_ENVELOPE_SUSTAIN | SONG_ENVELOPE_SUSTAIN_LOOP);
    EXPECT_EQ(ve.loop_end, 3);
    EXPECT_EQ(ve.sustain_end, 2);
    EXPECT_EQ(lead.panning_envelope.flags, SONG_ENVELOPE_ON | SONG_ENVELOPE_CARRY);
    EXPECT_EQ(lead.panning_envelope.points[0].value, 0);
    EXPECT_EQ(lead.panning_envelope.points[1].value, 64);
    EXPECT_EQ(lead.pitch_envelope.flags, SONG_ENVELOPE_ON | SONG_ENVELOPE_LOOP | SONG_ENVELOPE_FILTER);
    EXPECT_EQ(lead.pitch_envelope.points[2].value, 0);
    const SongInstrument &pad = s->instruments[1];
    EXPECT_EQ(pad.new_note_action, SONG_NNA_NOTE_FADE);
    EXPECT_EQ(pad.duplicate_check, SONG_DUPLICATE_INSTRUMENT);
    EXPECT_EQ(pad.filter_cutoff, SONG_FILTER_UNSET);
    EXPECT_EQ(pad.note_samples[4], 4);
    EXPECT_EQ(pad.pitch_envelope.points[0].value, 24);

    // Cells: commands, the volume column, notes repeating their channel's
    // last values, note off, cut and fade; the disabled channel's none.
    EXPECT_EQ(r.cell(0, 2, 0).command, CMD_SET_SPEED);
    EXPECT_EQ(r.cell(0, 6, 0).command, CMD_PATTERN_BREAK);
    EXPECT_EQ(r.cell(0, 6, 0).param, 0x10);
    EXPECT_EQ(r.cell(0, 26, 0).command, CMD_NONE);  // M67: past 64
    EXPECT_EQ(r.cell(0, 40, 0).command, CMD_SET_TEMPO);
    EXPECT_EQ(r.cell(0, 52, 0).command, CMD_MIDI_MACRO);
    const uint8_t s_commands[16] = {CMD_NONE, CMD_GLISSANDO, CMD_IGNORED, CMD_VIBRATO_WAVEFORM, CMD_TREMOLO_WAVEFORM,
                                    CMD_PANBRELLO_WAVEFORM, CMD_FINE_PATTERN_DELAY, CMD_INSTRUMENT_CONTROL,
                                    CMD_SET_PANNING_COARSE, CMD_SURROUND, CMD_HIGH_OFFSET, CMD_PATTERN_LOOP,
                                    CMD_NOTE_CUT, CMD_NOTE_DELAY, CMD_PATTERN_DELAY, CMD_SET_ACTIVE_MACRO};
    for (int x = 0; x < 16; x++) EXPECT_EQ(r.cell(1, x * 2, 1).command, s_commands[x]) << x;
    EXPECT_EQ(r.cell(1, 14, 1).param, 3);
    const uint8_t volumes[][2] = {{VOLCMD_SET_VOLUME, 0}, {VOLCMD_SET_VOLUME, 64}, {VOLCMD_FINE_SLIDE_UP, 1},
                                  {VOLCMD_FINE_SLIDE_DOWN, 1}, {VOLCMD_SLIDE_UP, 1}, {VOLCMD_SLIDE_DOWN, 1},
                                  {VOLCMD_PORTAMENTO_DOWN, 1}, {VOLCMD_PORTAMENTO_UP, 1}, {VOLCMD_PANNING, 0},
                                  {VOLCMD_PANNING, 128}, {VOLCMD_PANNING, 255}, {VOLCMD_TONE_PORTAMENTO_SPEED, 4},
                                  {VOLCMD_VIBRATO, 2}, {VOLCMD_VIBRATO, 9}};
    for (int i = 0; i < 14; i++) {
        const SongCell c = r.cell(0, i * 4, 2);
        EXPECT_EQ(c.volume_command, volumes[i][0]) << i;
        EXPECT_EQ(c.volume_param, volumes[i][1]) << i;
        EXPECT_EQ(c.note, 49 + i);
    }
    for (int row = 0; row < 200; row += 9) {
        const SongCell c = r.cell(2, row, 0);
        EXPECT_EQ(c.note, 61);
        EXPECT_EQ(c.instrument, 2);
        EXPECT_EQ(c.command, CMD_VIBRATO);
    }
    // Channel 3's notes on rows 2, 4, 6 and 8, then channel 4's (disabled).
    const uint8_t notes[] = {36 + 2 + 1, SONG_NOTE_KEY_OFF, SONG_NOTE_CUT, SONG_NOTE_FADE};
    for (int i = 0; i < 4; i++) EXPECT_EQ(r.cell(0, 2 + 2 * i, 3).note, notes[i]) << i;
    EXPECT_EQ(r.cell(0, 2, 3).instrument, 1);
    EXPECT_EQ(r.cell(0, 2, 4).note, 0);
    EXPECT_LE(s->cell_bytes, 8 * (layout.sample_data_at[0] - layout.pattern_at[0]));
}

// The compressed coding decoded is what the builder's encoder was given,
// for every width the numbers need, across block ends; blocks that lie
// about their size or name a bad width end the sample there.
TEST(MusicIt, CompressedSamplesDecodeAsTheEncoderWroteThem) {
    uint32_t state = 99;
    auto next = [&state]() { return (state = state * 1664525u + 1013904223u) >> 8; };
    for (uint8_t bits : {8, 16}) {
        const uint32_t block = bits == 8 ? IT_BLOCK_FRAMES_8 : IT_BLOCK_FRAMES_16;
        for (bool double_delta : {false, true}) {
            for (uint32_t frames : {1u, 5u, block - 1, block, block + 1, 2 * block + 77}) {
                std::vector<int16_t> signal(frames);
                int value = 0;
                for (uint32_t i = 0; i < frames; i++) {
                    // Steps of every size: the widths all get used.
                    const int scale = 1 << (next() % (bits == 8 ? 9 : 17));
                    value += static_cast<int>(next() % static_cast<uint32_t>(scale)) - scale / 2;
                    signal[i] = static_cast<int16_t>(bits == 8 ? static_cast<int8_t>(value) : static_cast<int16_t>(value));
                }
                const std::vector<uint8_t> packed = itbuilder_compress(signal, bits, double_delta);
                uint8_t *data = music_copy_module(packed);
                std::vector<int16_t> decoded(frames);
                std::vector<int8_t> narrow(frames);
                size_t used = 0;
                void *out = bits == 8 ? static_cast<void *>(narrow.data()) : static_cast<void *>(decoded.data());
                ASSERT_EQ(it_decompress(data, packed.size(), bits, double_delta, out, frames, &used), frames);
                EXPECT_EQ(used, packed.size());
                if (bits == 8) decoded.assign(narrow.begin(), narrow.end());
                EXPECT_EQ(decoded, signal) << int(bits) << " " << double_delta << " " << frames;
                // Cut anywhere, the decoder keeps to the bytes it has.
                for (size_t cut = 0; cut < packed.size(); cut += 1 + packed.size() / 13)
                    EXPECT_LT(it_decompress(data, cut, bits, double_delta, out, frames, nullptr), frames) << cut;
                music_free_module(data);
            }
        }
    }
    // A block saying more bytes than there are, and one switching to width 0.
    std::vector<uint8_t> lying = itbuilder_compress(std::vector<int16_t>(100, 3), 8, false);
    lying[1] = 0x7F;
    int8_t out[100];
    EXPECT_EQ(it_decompress(lying.data(), lying.size(), 8, false, out, 100, nullptr), 100u);
    const uint8_t bad_width[] = {2, 0, 0xFF, 0x01};  // at width 9: 0x1FF, width (0x1FF + 1) & 0xFF = 0
    EXPECT_EQ(it_decompress(bad_width, sizeof bad_width, 8, false, out, 100, nullptr), 0u);
}

TEST(MusicIt, RefusesWithOneReasonEachAndRepairsTheRest) {
    ItBuilder b;
    itbuilder_showcase_song(&b);
    ItBuilderLayout layout;
    const std::vector<uint8_t> file = itbuilder_build(b, &layout);
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        ModuleReadRefusal refusal;
        const char *sentence;
    };
    const Case cases[] = {
        {"257 orders", 0x20, 257, MODULE_READ_ORDERS, "its IT header says 257 order positions"},
        {"129 instruments", 0x22, 129, MODULE_READ_INSTRUMENTS, "its IT header says 129 instruments"},
        {"2049 samples", 0x24, 2049, MODULE_READ_SAMPLE_COUNT, "its IT header says 2049 samples (at most 2048"},
        {"257 patterns", 0x26, 257, MODULE_READ_PATTERNS, "its IT header says 257 patterns"},
        {"no order to play", layout.orders_at, 0xFFFF, MODULE_READ_ORDERS, "its IT order list has no position to play"},
        {"pattern past the end", layout.orders_at + 7 + 4 * 8 + 6, 0xFFFF, MODULE_READ_TRUNCATED,
         "truncated: pattern 1 needs"},
        {"257 rows", layout.pattern_at[2] + 2, 257, MODULE_READ_ROWS, "pattern 2 has 257 rows (1 to 256 are read)"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = file;
        put16(bytes, c.at, c.value);
        Reading r(bytes, IT_FILE);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.result.refusal, c.refusal) << c.what;
        EXPECT_TRUE(contains(r.refusal(), c.sentence)) << c.what << ": " << r.refusal();
    }
    std::vector<uint8_t> samples_only = file;
    put16(samples_only, 0x2C, 9);  // no instruments: the 129 samples are too many
    put16(samples_only, 0x24, 129);
    EXPECT_EQ(Reading(samples_only, IT_FILE).result.refusal, MODULE_READ_SAMPLE_COUNT);
    EXPECT_EQ(Reading(file, 100, IT_FILE).refusal(), "'f' is not a module: truncated: its header needs 192 bytes, the file has 100");
    EXPECT_TRUE(contains(Reading(file, layout.orders_at + 40, IT_FILE).refusal(), "truncated: its order list needs"));

    // Repaired: an instrument and a sample header past the end, sample data
    // cut, envelope points out of order, a loop past the sample.
    std::vector<uint8_t> lost = file;
    put32(lost, layout.orders_at + 7, 0xFFFFFF);       // instrument 1
    put32(lost, layout.orders_at + 7 + 12 + 4, 0xFFFFFF);  // sample 2
    put16(lost, layout.instrument_at[1] + 0x130 + 6 + 3 * 2 + 1, 1);  // pad's third point before its second
    put32(lost, layout.sample_at[4] + 0x38, 1000);    // loop end past the 150 frames
    lost[layout.sample_at[4] + 0x12] |= 16;
    Reading r1(lost, IT_FILE);
    ASSERT_TRUE(r1.ok) << r1.refusal();
    EXPECT_TRUE(song_valid(r1.song));
    EXPECT_EQ(r1.result.cut_instruments, 1);
    EXPECT_EQ(r1.result.cut_samples, 1);
    EXPECT_EQ(r1.song->instruments[0].volume_envelope.count, 0);
    EXPECT_EQ(r1.song->samples[1].length, 0u);
    EXPECT_EQ(r1.song->instruments[1].volume_envelope.count, 2);
    EXPECT_EQ(r1.song->samples[4].loop_length, 150u);
    Reading r2(file, layout.sample_data_at[4] + 10, IT_FILE);
    ASSERT_TRUE(r2.ok) << r2.refusal();
    EXPECT_EQ(r2.song->samples[4].length, 10u);
    EXPECT_EQ(r2.result.cut_samples, 1);

    // The old instrument layout: one volume envelope of node points.
    b.compatible = 0x0100;
    Reading old(itbuilder_build(b, nullptr), IT_FILE);
    ASSERT_TRUE(old.ok) << old.refusal();
    const SongInstrument &lead = old.song->instruments[0];
    EXPECT_EQ(lead.volume_envelope.count, 5);
    EXPECT_EQ(lead.volume_envelope.points[4].tick, 40);
    EXPECT_EQ(lead.fadeout, 64 * 64);
    EXPECT_EQ(lead.new_note_action, SONG_NNA_CONTINUE);
    EXPECT_EQ(lead.duplicate_check, SONG_DUPLICATE_NOTE);
    EXPECT_EQ(lead.panning_envelope.count, 0);
    EXPECT_STREQ(old.song->format_name, "IT 1.00, Impulse Tracker 2.15");
}

TEST(MusicIt, CutAtEveryByteIsRefusedOrValid) {
    ItBuilder b;
    itbuilder_showcase_song(&b);
    ItBuilderLayout layout;
    const std::vector<uint8_t> file = itbuilder_build(b, &layout);
    int read = 0;
    // Every byte to the sample data, then every 97th.
    for (size_t size = 0; size <= file.size(); size += size < layout.sample_data_at[0] ? 1 : 97) {
        Reading r(file, size, IT_FILE);
        ASSERT_TRUE(music_check_read(r.song, r.ok, &r.result)) << size;
        read += r.ok;
    }
    EXPECT_GT(read, static_cast<int>(layout.sample_data_at[0] - layout.pattern_at[2]));
}

// ---------------------------------------------------------------- both

TEST(MusicModuleReaders, OtherTrackersFormatsAreRefusedByName) {
    struct Case {
        const char *name;
        size_t at;
        const char *signature;
    };
    const Case cases[] = {{"MED", 0, "MMD1"},      {"MTM", 0, "MTM\x10"},
                          {"OKT", 0, "OKTASONG"}, {"STM", 20, "!Scream!"}, {"PTM", 44, "PTMF"},
                          {"ULT", 0, "MAS_UTrack_V00"}, {"FAR", 0, "FAR\xfe"}, {"MO3", 0, "MO3"}};
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes(600, 0);
        memcpy(&bytes[c.at], c.signature, strlen(c.signature));
        for (int kind : {0, 1, IT_FILE}) {
            Reading r(bytes, kind);
            EXPECT_EQ(r.result.refusal, MODULE_READ_UNSUPPORTED) << c.name;
            EXPECT_EQ(r.result.format, SONG_FORMAT_NONE);
            char text[100];
            module_read_refusal_text(&r.result, "song.x", text, sizeof text);
            EXPECT_EQ(std::string(text), std::string("'song.x': ") + c.name + " modules are not supported");
        }
    }
    std::vector<uint8_t> noise(600, 0x55);
    EXPECT_EQ(module_unsupported_format(noise.data(), noise.size()), nullptr);
    Reading r(noise, true);
    EXPECT_EQ(r.refusal(), "'f' is not a module: it has no S3M signature (\"SCRM\" at byte 44)");
}

// The songs the readers make play: the player takes them within the
// memory bound it states, and they sound.
TEST(MusicModuleReaders, ReadSongsPlayWithinTheMemoryBound) {
    XmBuilder xm;
    xmbuilder_showcase_song(&xm);
    S3mBuilder s3m;
    s3mbuilder_showcase_song(&s3m);
    // Its first row's volume column (0) would silence the notes that sound.
    for (int ch = 0; ch < 6; ch++) s3mbuilder_cell(&s3m, 0, 0, ch)->volume = 255;
    ItBuilder it;
    itbuilder_showcase_song(&it);
    const ModuleFormat formats[] = {MODULE_FORMAT_XM, MODULE_FORMAT_S3M, MODULE_FORMAT_IT};
    int f = 0;
    for (const std::vector<uint8_t> &file :
         {xmbuilder_build(xm, nullptr), s3mbuilder_build(s3m, nullptr), itbuilder_build(it, nullptr)}) {
        uint8_t *bytes = music_copy_module(file);
        const bool is_s3m = s3m_detect(bytes, file.size()), is_it = it_detect(bytes, file.size());
        // Through the one check every start-up runs.
        ModuleCheck check;
        ModPlayer *player = mod_player_create_checked(44100, bytes, static_cast<long>(file.size()), &check);
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(check.format, formats[f++]);
        EXPECT_EQ(check.channels, player->channel_count);
        const Song *song = player->song;
        // Decoded sample data within the sample bytes plus an alignment byte
        // each (an IT's compressed ones within sixteen times theirs).
        EXPECT_LE(song->sample_data_bytes, (is_it ? 16 : 1) * file.size());
        const long rows = static_cast<long>(song->total_rows);
        const long factor = is_it ? MOD_PLAYER_IT_FILE_FACTOR : MOD_PLAYER_FILE_FACTOR;
        EXPECT_LE(mod_player_memory_bytes(player), factor * static_cast<long>(file.size()) + 4 * rows +
                                                       MOD_PLAYER_FIXED_BYTES + (player->pool ? MOD_PLAYER_POOL_BYTES : 0) +
                                                       (player->halves ? MOD_PLAYER_STEREO_BYTES : 0));
        std::vector<int16_t> out(2 * 44100);
        mod_player_render_s16(player, out.data(), 44100);
        int loud = 0;
        for (int16_t v : out) loud += v > 512 || v < -512;
        EXPECT_GT(loud, 1000) << (is_s3m ? "S3M" : is_it ? "IT" : "XM");
        mod_player_destroy(player);
        music_free_module(bytes);
    }
    // What a reader refuses, the check refuses in the reader's words.
    std::vector<uint8_t> old_version = xmbuilder_build(xm, nullptr);
    put16(old_version, 58, 0x0103);
    ModuleCheck check;
    EXPECT_EQ(module_check(old_version.data(), static_cast<long>(old_version.size()), &check), MODULE_READ_REFUSED);
    EXPECT_EQ(check.format, MODULE_FORMAT_XM);
    char text[200];
    EXPECT_EQ(module_refusal_text(&check, "f.xm", text, sizeof text), 1);
    EXPECT_STREQ(text, "'f.xm' is not a module: its XM version is 1.03 (only 1.04 is read)");
    EXPECT_EQ(mod_player_create(44100, old_version.data(), static_cast<long>(old_version.size())), nullptr);
}

// The tools end to end: make_test_modules writes the seeds, module_info
// lists them and names what it refuses.
TEST(MusicModuleReaders, ToolsWriteAndListModules) {
    const std::string dir = make_temp_dir("formats");
    ASSERT_FALSE(dir.empty());
    ProcessResult made = run_program(ENGINE_BINARY_DIR "/make_test_modules", {dir}, {}, nullptr, -1, SIGTERM);
    ASSERT_TRUE(made.exited && made.status == 0) << made.err;
    const std::vector<std::string> names = directory_names(dir);
    ASSERT_GE(names.size(), 8u);
    std::vector<std::string> args;
    for (const std::string &n : names) {
        args.push_back(dir + "/" + n);
        // Each is its format's committed fuzz seed. MUSIC_WRITE_SEEDS=1 rewrites them.
        const std::string format = n.substr(n.rfind('.') + 1);
        const std::string seed = std::string(ENGINE_SOURCE_DIR) + "/fuzz/corpus/music_" + format + "_fuzz/" + n;
        std::vector<uint8_t> made_bytes, committed;
        ASSERT_TRUE(read_whole_file(args.back(), &made_bytes));
        const char *write = getenv("MUSIC_WRITE_SEEDS");
        if (write && std::string(write) == "1") {
            ASSERT_TRUE(write_whole_file(seed, made_bytes));
        }
        ASSERT_TRUE(read_whole_file(seed, &committed)) << seed << " missing; run with MUSIC_WRITE_SEEDS=1";
        EXPECT_TRUE(committed == made_bytes) << seed << " is stale";
    }
    ASSERT_TRUE(write_whole_file(dir + "/song.it", {'I', 'M', 'P', 'M', 0, 0, 0, 0}));
    args.push_back(dir + "/song.it");
    // Every format the player reads; Scream Tracker's mark on a file of
    // another type; no format's signature.
    args.push_back(ENGINE_SOURCE_DIR "/res/kevo.mod");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(read_whole_file(dir + "/showcase.s3m", &bytes));
    bytes[29] = 17;
    ASSERT_TRUE(write_whole_file(dir + "/type.s3m", bytes));
    std::vector<uint8_t> noise(1084, ' ');
    memcpy(&noise[1080], "NONE", 4);
    ASSERT_TRUE(write_whole_file(dir + "/noise.mod", noise));
    for (const char *name : {"/type.s3m", "/noise.mod"}) args.push_back(dir + name);
    ProcessResult listed = run_program(ENGINE_BINARY_DIR "/module_info", args, {}, nullptr, -1, SIGTERM);
    EXPECT_TRUE(listed.exited);
    EXPECT_EQ(listed.status, 1);  // the short IT file is refused
    EXPECT_EQ(count_lines_with(listed.out, "/res/kevo.mod: MOD M.K. | 'kevo' | 4 channels"), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.err, "type.s3m' is not a module: its S3M header says file type 17 at byte 29 "
                                           "(16, a module, is read)"), 1) << listed.err;
    EXPECT_EQ(count_lines_with(listed.err, "noise.mod' is not a module: no MOD, XM, S3M or IT signature (bytes 1080 "
                                           "to 1083 read \"NONE\")"), 1) << listed.err;
    EXPECT_EQ(count_lines_with(listed.out, ": XM 1.04, kevo test builder | 'showcase' | 5 channels, 4 orders, "
                                           "3 patterns (165 rows"), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, ": S3M, Scream Tracker 3.20 | 'showcase' | 6 channels, 3 orders, "
                                           "3 patterns (192 rows"), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, "showcase.it: IT 2.14, Impulse Tracker 2.15 | 'showcase' | 6 channels, "
                                           "4 orders, 3 patterns (296 rows"), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, "old.it: IT 1.00, Impulse Tracker 1.00 | "), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, "  | with two lines"), 3) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, "1 Adlib instrument is not played"), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, "2 OpenMPT plugins are not played"), 1) << listed.out;
    EXPECT_EQ(count_lines_with(listed.out, "OVER"), 0) << listed.out;
    EXPECT_EQ(count_lines_with(listed.err, "song.it' is not a module: truncated: its header needs 192 bytes"), 1)
        << listed.err;
    EXPECT_EQ(count_lines_with(listed.out, " | '"), static_cast<int>(names.size()) + 1) << listed.out;
    remove_tree(dir);
}

// ---------------------------------------------------------------- playback
//
// XM and S3M songs built for one rule each and played tick by tick: a
// looped sample of one constant value makes each tick's level the gain
// the player gave the voice, a looped square wave makes the zero crossings
// count its pitch.

namespace {

// A player of a module copy; released with it.
struct Playing {
    uint8_t *bytes;
    ModPlayer *player;
    explicit Playing(const std::vector<uint8_t> &file) {
        bytes = music_copy_module(file);
        player = mod_player_create(44100, bytes, static_cast<long>(file.size()));
    }
    ~Playing() {
        mod_player_destroy(player);
        music_free_module(bytes);
    }
    Playing(const Playing &) = delete;
    Playing &operator=(const Playing &) = delete;
};

// The level of each of `ticks` ticks from the song's first row on (the
// lead-in before it skipped): the mean of |left| + |right| over each tick's
// second half, past any ramp.
std::vector<double> tick_levels(const std::vector<uint8_t> &file, int ticks, bool right_only = false) {
    Playing p(file);
    std::vector<double> levels;
    if (!p.player) return levels;
    music_run_ticks(p.player, p.player->speed);
    for (int t = 0; t < ticks && !p.player->finished; t++) {
        const int frames = static_cast<int>(p.player->samples_per_tick - p.player->tick_sample);
        const std::vector<int16_t> out = music_render_s16(p.player, frames);
        double sum = 0;
        for (int i = frames / 2; i < frames; i++) sum += (right_only ? 0 : std::abs(out[2 * i])) + std::abs(out[2 * i + 1]);
        levels.push_back(sum / (frames - frames / 2));
    }
    return levels;
}

// Sign changes of the left channel over `frames` frames after the lead-in.
int zero_crossings(const std::vector<uint8_t> &file, int frames) {
    Playing p(file);
    if (!p.player) return -1;
    music_run_ticks(p.player, p.player->speed);
    const std::vector<int16_t> out = music_render_s16(p.player, frames);
    int crossings = 0;
    for (int i = 1; i < frames; i++) crossings += (out[2 * i - 2] < 0) != (out[2 * i] < 0);
    return crossings;
}

constexpr int LEVEL_VALUE = 100;
constexpr size_t SAMPLE_OFFSET_UNIT = 256;  // 9xx and Oxx count in 256 frames
constexpr int SQUARE_FRAMES = 32;  // one period of the square wave

XmBuilderSample constant_xm_sample() {
    XmBuilderSample s;
    s.frames.assign(64, LEVEL_VALUE);
    s.loop_type = 1;
    s.loop_length = 64;
    return s;
}

XmBuilderSample square_xm_sample() {
    XmBuilderSample s;
    for (int i = 0; i < SQUARE_FRAMES; i++) s.frames.push_back(i < SQUARE_FRAMES / 2 ? LEVEL_VALUE : -LEVEL_VALUE);
    s.loop_type = 1;
    s.loop_length = SQUARE_FRAMES;
    return s;
}

// An XM of one channel and one instrument mapping every note to `sample`,
// C-4 with the instrument on row 0; 16-row patterns at speed 6.
XmBuilder one_voice_xm(const XmBuilderSample &sample) {
    XmBuilder b;
    b.channels = 1;
    XmBuilderInstrument in;
    in.samples = {sample};
    b.instruments = {in};
    b.patterns.resize(1);
    b.patterns[0].rows = 16;
    xmbuilder_cell(&b, 0, 0, 0)->note = 49;
    xmbuilder_cell(&b, 0, 0, 0)->instrument = 1;
    return b;
}

// An S3M of one channel (left) and one constant looped sample, its note
// C-4 with the instrument on row 0.
S3mBuilder one_voice_s3m() {
    S3mBuilder b;
    memset(b.channel_settings, 255, sizeof b.channel_settings);
    b.channel_settings[0] = 0;
    S3mBuilderSample s;
    s.frames.assign(64, LEVEL_VALUE);
    s.loop = true;
    s.loop_end = 64;
    b.sample_format = 1;
    b.samples = {s};
    s3mbuilder_cell(&b, 0, 0, 0)->note = 0x40;
    s3mbuilder_cell(&b, 0, 0, 0)->instrument = 1;
    return b;
}

// An IT of one channel (centred) and one instrument mapping every note to
// `sample`, C-5 with the instrument on row 0; 16-row patterns at speed 6.
ItBuilder one_voice_it(const ItBuilderSample &sample) {
    ItBuilder b;
    b.samples = {sample};
    b.instruments.resize(1);
    b.patterns.resize(1);
    b.patterns[0].rows = 16;
    *itbuilder_cell(&b, 0, 0, 0) = ItBuilderCell{3, 60, 1, 0, 0, 0};
    return b;
}

ItBuilderSample looped_it_sample(std::vector<int16_t> frames) {
    ItBuilderSample s;
    s.frames = std::move(frames);
    s.loop = true;
    s.loop_end = static_cast<uint32_t>(s.frames.size());
    return s;
}

// Levels as fractions of the first tick's.
std::vector<double> relative(const std::vector<double> &levels) {
    std::vector<double> out;
    for (double v : levels) out.push_back(levels.empty() || levels[0] == 0 ? 0 : v / levels[0]);
    return out;
}

void expect_levels(const std::vector<double> &levels, const std::vector<double> &model, const char *what) {
    ASSERT_GE(levels.size(), model.size()) << what;
    const std::vector<double> got = relative(levels);
    for (size_t t = 0; t < model.size(); t++) EXPECT_NEAR(got[t], model[t], 0.02) << what << ", tick " << t;
}

}  // namespace

TEST(MusicXmPlay, VolumeEnvelopeShapesEveryTickAndKeyOffLeavesItsSustain) {
    // 64 falling to 32 by tick 4, held there (sustain) until the key off on
    // row 2 (tick 12), then on to 0 by 4 ticks more.
    XmBuilder b = one_voice_xm(constant_xm_sample());
    XmBuilderEnvelope &e = b.instruments[0].volume;
    e.ticks = {0, 4, 8};
    e.values = {64, 32, 0};
    e.sustain = 1;
    e.type = 1 | 2;
    xmbuilder_cell(&b, 0, 2, 0)->note = 97;
    std::vector<double> model;
    for (int t = 0; t < 20; t++) {
        const int at = t <= 4 ? t : t <= 12 ? 4 : t - 8;
        model.push_back(at >= 8 ? 0 : at <= 4 ? (64 - 8 * at) / 64.0 : (32 - 8 * (at - 4)) / 64.0);
    }
    expect_levels(tick_levels(xmbuilder_build(b, nullptr), 20), model, "sustained envelope");

    // A loop from tick 2 to tick 6 over a rise and a fall repeats every 4 ticks.
    e.ticks = {0, 2, 4, 6};
    e.values = {64, 16, 48, 16};
    e.type = 1 | 4;
    e.loop_start = 1;
    e.loop_end = 3;
    xmbuilder_cell(&b, 0, 2, 0)->note = 0;
    const std::vector<double> loop = relative(tick_levels(xmbuilder_build(b, nullptr), 16));
    ASSERT_EQ(loop.size(), 16u);
    for (int t = 6; t < 16; t++) EXPECT_NEAR(loop[static_cast<size_t>(t)], loop[static_cast<size_t>(t - 4)], 0.02) << t;
    EXPECT_NEAR(loop[4], 48 / 64.0, 0.02);
    EXPECT_NEAR(loop[6], 16 / 64.0, 0.02);

    // A loop end that is also the sustain point loops until the key off
    // (row 2, tick 12, envelope tick 4), then lets the envelope run on
    // through it: 16 at tick 14, 8 and 0 after.
    e.ticks = {0, 2, 4, 6, 8};
    e.values = {64, 16, 48, 16, 0};
    e.type = 1 | 2 | 4;
    e.sustain = 3;
    xmbuilder_cell(&b, 0, 2, 0)->note = 97;
    const std::vector<double> released = relative(tick_levels(xmbuilder_build(b, nullptr), 22));
    ASSERT_EQ(released.size(), 22u);
    EXPECT_NEAR(released[12], 48 / 64.0, 0.02);
    EXPECT_NEAR(released[15], 8 / 64.0, 0.02);
    for (int t = 16; t < 22; t++) EXPECT_EQ(released[static_cast<size_t>(t)], 0.0) << t;
}

TEST(MusicXmPlay, KeyOffFadesOutOrSilencesAndANoteAloneStaysReleased) {
    // With a volume envelope the fadeout takes 8192 of 32768 a tick from
    // the key off's own tick (row 2) on.
    XmBuilder b = one_voice_xm(constant_xm_sample());
    b.instruments[0].volume.ticks = {0};
    b.instruments[0].volume.values = {64};
    b.instruments[0].volume.type = 1;
    b.instruments[0].fadeout = 8192;
    xmbuilder_cell(&b, 0, 2, 0)->note = 97;
    std::vector<double> model(12, 1.0);
    for (double f : {0.75, 0.5, 0.25, 0.0, 0.0, 0.0}) model.push_back(f);
    expect_levels(tick_levels(xmbuilder_build(b, nullptr), 18), model, "fadeout");

    // Without one the key off (here Kxx on tick 3 of row 1) silences at
    // once, and a note without an instrument stays silent; with the
    // instrument it sounds again.
    b.instruments[0].volume = XmBuilderEnvelope{};
    xmbuilder_cell(&b, 0, 2, 0)->note = 0;
    *xmbuilder_cell(&b, 0, 1, 0) = XmBuilderCell{0, 0, 0, 20, 3};  // K03
    xmbuilder_cell(&b, 0, 3, 0)->note = 49;
    xmbuilder_cell(&b, 0, 4, 0)->note = 49;
    xmbuilder_cell(&b, 0, 4, 0)->instrument = 1;
    const std::vector<double> levels = relative(tick_levels(xmbuilder_build(b, nullptr), 30));
    ASSERT_EQ(levels.size(), 30u);
    EXPECT_NEAR(levels[8], 1.0, 0.02);
    for (int t = 9; t < 24; t++) EXPECT_EQ(levels[static_cast<size_t>(t)], 0.0) << t;
    EXPECT_NEAR(levels[24], 1.0, 0.02);
}

TEST(MusicXmPlay, LinearAndAmigaTablesPlayTheNotesPitch) {
    // C-4 plays the sample at 8363 Hz in both tables: 8363 / 32 square
    // periods a second, two crossings each. Up an octave by note or by
    // relative note doubles it; a finetune of +64 (half a semitone) in the
    // linear table adds 2^(1 / 24).
    const double c4 = 2.0 * 8363 / SQUARE_FRAMES;
    struct Case {
        uint16_t flags;
        uint8_t note;
        int8_t relative_note, finetune;
        double crossings;
    } cases[] = {
        {1, 49, 0, 0, c4}, {0, 49, 0, 0, c4}, {1, 61, 0, 0, 2 * c4}, {0, 61, 0, 0, 2 * c4},
        {1, 49, 12, 0, 2 * c4}, {0, 37, 12, 0, c4}, {1, 49, 0, 64, c4 * 1.0293}, {1, 56, 0, 0, c4 * 1.4983},
    };
    for (const Case &c : cases) {
        XmBuilderSample s = square_xm_sample();
        s.relative_note = c.relative_note;
        s.finetune = c.finetune;
        XmBuilder b = one_voice_xm(s);
        b.flags = c.flags;
        xmbuilder_cell(&b, 0, 0, 0)->note = c.note;
        const int crossings = zero_crossings(xmbuilder_build(b, nullptr), 44100);
        EXPECT_NEAR(crossings, c.crossings, c.crossings * 0.004 + 2)
            << (c.flags ? "linear" : "amiga") << " note " << int(c.note) << " relative " << int(c.relative_note);
    }
}

TEST(MusicXmPlay, VolumeColumnAndInstrumentAloneSetTheVolume) {
    // Row 0: volume column 32. Row 1: C10 (16). Row 2: the instrument
    // alone, back to the sample's 64 without restarting. Row 3: fine slide
    // down 8 in the column. Row 4: slide down 4 a tick after the first.
    XmBuilder b = one_voice_xm(constant_xm_sample());
    xmbuilder_cell(&b, 0, 0, 0)->volume = 0x10 + 32;
    *xmbuilder_cell(&b, 0, 1, 0) = XmBuilderCell{0, 0, 0, 0xC, 16};
    xmbuilder_cell(&b, 0, 2, 0)->instrument = 1;
    xmbuilder_cell(&b, 0, 3, 0)->volume = 0x88;
    xmbuilder_cell(&b, 0, 4, 0)->volume = 0x64;
    const std::vector<double> levels = tick_levels(xmbuilder_build(b, nullptr), 30);
    ASSERT_EQ(levels.size(), 30u);
    const double unit = levels[0] / 32;
    const int model[] = {32, 16, 64, 56, 56, 52, 48, 44, 40, 36};
    for (int i = 0; i < 4; i++) EXPECT_NEAR(levels[static_cast<size_t>(6 * i + 3)] / unit, model[i], 0.5) << i;
    for (int t = 0; t < 6; t++) EXPECT_NEAR(levels[static_cast<size_t>(24 + t)] / unit, model[4 + t], 0.5) << t;
}

// The voice's step on each of `ticks` ticks from the song's first row on,
// in semitones above the first tick's.
std::vector<double> tick_semitones(const std::vector<uint8_t> &file, int ticks) {
    Playing p(file);
    std::vector<double> semitones;
    if (!p.player) return semitones;
    music_run_ticks(p.player, music_position(p.player).speed);
    const double first = music_channel(p.player, 0).step;
    for (int t = 0; t < ticks && first > 0; t++) {
        semitones.push_back(12 * std::log2(music_channel(p.player, 0).step / first));
        music_run_ticks(p.player, 1);
    }
    return semitones;
}

// Checks a model of a song's ticks from `first` on: with
// `units_per_semitone` the pitch above the first tick's in those units,
// else the level in volume steps, the first tick's being `start`; each
// within `tolerance`.
void expect_ticks(const std::vector<uint8_t> &file, const char *name, int first, const std::vector<int> &model,
                  int units_per_semitone, int start, double tolerance, bool right_only = false) {
    const int ticks = first + static_cast<int>(model.size());
    const std::vector<double> got =
        units_per_semitone ? tick_semitones(file, ticks) : tick_levels(file, ticks, right_only);
    ASSERT_EQ(got.size(), static_cast<size_t>(ticks)) << name;
    const double unit = units_per_semitone ? 1.0 / units_per_semitone : got[0] / start;
    for (size_t t = 0; t < model.size(); t++)
        EXPECT_NEAR(got[static_cast<size_t>(first) + t] / unit, model[t], tolerance) << name << " tick " << first + t;
}

// Envelopes the cases below give their instrument: PANNING moves from the
// middle to the right, 4 a tick, and the right side's level is measured
// (2 volume steps a tick from 64), with a sustained volume envelope too in
// PANNING_SUSTAINED.
enum XmCaseEnvelope { NO_ENVELOPE, FALLING, SUSTAINED, PANNING, PANNING_SUSTAINED };

TEST(MusicXmPlay, EffectsOnTheirTicks) {
    // One channel; row 0 plays C-4 with instrument 1 (a looped sample of one
    // value, or a square wave where pitch is measured) unless a case's
    // cells replace it (the sample goes on past its loop, unheard);
    // instrument 2 plays the same sample at half its
    // level and a default volume of 32. The model gives each tick from `first` on: the level
    // in volume steps (the first tick being `start`), or the pitch in
    // eighths of a semitone above the first tick's.
    struct Case {
        const char *name;
        std::vector<std::pair<int, XmBuilderCell>> cells;  // (row, cell)
        int start;              // level of the first tick; 0: measure pitch
        XmCaseEnvelope envelope;
        int first;
        std::vector<int> model;
    } cases[] = {
        // Multi retrigger R52: every 2 ticks 16 less (x = 5).
        {"R52", {{1, {0, 0, 0, 27, 0x52}}}, 64, NO_ENVELOPE, 6, {64, 64, 48, 48, 32, 32}},
        // Tremor T12: heard 2 ticks, silent 3, counted from the row's second
        // tick; ended silent it leaves the channel silent (C30 too) until an
        // instrument number.
        {"T12", {{1, {0, 0, 0, 29, 0x12}}, {2, {0, 0, 0, 0xC, 0x30}}, {3, {0, 1, 0, 0, 0}}}, 64, NO_ENVELOPE, 6,
         {64, 64, 64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64}},
        // Global volume slide H02 from G30 (48): 2 less each later tick.
        {"H02", {{0, {49, 1, 0, 16, 48}}, {1, {0, 0, 0, 17, 0x02}}}, 48, NO_ENVELOPE, 6, {48, 46, 44, 42, 40, 38}},
        // Note cut EC3.
        {"EC3", {{1, {0, 0, 0, 0xE, 0xC3}}}, 64, NO_ENVELOPE, 6, {64, 64, 64, 0, 0, 0}},
        // A note delayed by ED2 starts on tick 2 with the instrument's volume,
        // after C10 on row 0.
        {"ED2", {{0, {49, 1, 0, 0xC, 16}}, {1, {49, 1, 0, 0xE, 0xD2}}}, 16, NO_ENVELOPE, 6, {16, 16, 64, 64, 64, 64}},
        // ED6 at speed 6 never comes: the cell is not played at all.
        {"ED6", {{0, {49, 1, 0, 0xC, 16}}, {1, {49, 1, 0x10 + 8, 0xE, 0xD6}}}, 16, NO_ENVELOPE, 6, {16, 16, 16, 16, 16, 16}},
        // Arpeggio 047 counts the ticks left in the row: at speed 6 the note,
        // +7, +4, the note, +7, +4.
        {"047", {{0, {49, 1, 0, 0, 0x47}}}, 0, NO_ENVELOPE, 0, {0, 56, 32, 0, 56, 32}},
        // E5F tunes its row's note 7 eighths up; the next note is the sample's again.
        {"E5F", {{1, {49, 0, 0, 0xE, 0x5F}}, {2, {49, 0, 0, 0, 0}}}, 0, NO_ENVELOPE, 6, {7, 7, 7, 7, 7, 7, 0}},
        // E93 starts the envelope (falling 4 a tick) again with the sample.
        {"E93", {{1, {0, 0, 0, 0xE, 0x93}}}, 64, FALLING, 6, {40, 36, 32, 64, 60, 56}},
        // L10 moves the panning envelope to tick 16 only beside a volume
        // envelope with a sustain point.
        {"L10", {{1, {0, 0, 0, 21, 16}}}, 64, PANNING, 6, {76, 78, 80}},
        {"L10 sustained", {{1, {0, 0, 0, 21, 16}}}, 64, PANNING_SUSTAINED, 6, {96, 98, 100}},
        // Key off with the instrument number and no volume envelope: the
        // number brings the volume back.
        {"key off 01", {{1, {97, 1, 0, 0, 0}}}, 64, NO_ENVELOPE, 6, {64, 64, 64, 64, 64, 64}},
        // Instrument 2 alone: the sample playing's volume; the next note
        // plays instrument 2's sample (half the level) at that volume.
        {"02 alone", {{1, {0, 2, 0, 0, 0}}, {2, {49, 0, 0, 0, 0}}}, 64, NO_ENVELOPE, 6, {64, 64, 64, 64, 64, 64, 32}},
        // With a tone portamento instrument 2 is forgotten.
        {"3xx 02", {{1, {51, 2, 0, 3, 0x10}}, {2, {49, 0, 0, 0, 0}}}, 64, NO_ENVELOPE, 6, {64, 64, 64, 64, 64, 64, 64}},
        // A sample offset past the loop's end (at 256 of 1024 frames) plays nothing.
        {"901", {{1, {49, 1, 0, 9, 0x01}}}, 64, NO_ENVELOPE, 6, {0, 0, 0, 0, 0, 0}},
        // ED2 without a note starts the note again on tick 2: the envelope
        // (falling 4 a tick) from its start.
        {"ED2 alone", {{1, {0, 0, 0, 0xE, 0xD2}}}, 64, FALLING, 6, {40, 36, 64, 60, 56, 52}},
        // A key off under ED2 is followed by the note again: the sustain holds.
        {"key off ED2", {{1, {97, 0, 0, 0xE, 0xD2}}}, 64, SUSTAINED, 6, {64, 64, 64, 64, 64, 64, 64, 64}},
    };
    for (const Case &c : cases) {
        XmBuilderSample sample = c.start ? constant_xm_sample() : square_xm_sample();
        sample.frames.resize(4 * SAMPLE_OFFSET_UNIT, sample.frames[0]);  // past the loop
        XmBuilder b = one_voice_xm(sample);
        b.instruments.push_back(b.instruments[0]);
        b.instruments[1].samples[0].volume = 32;
        for (int16_t &v : b.instruments[1].samples[0].frames) v = static_cast<int16_t>(v / 2);
        XmBuilderEnvelope &e = b.instruments[0].volume;
        if (c.envelope != NO_ENVELOPE && c.envelope != PANNING) {
            e.ticks = {0, 16, 32};
            e.values = {64, 0, 0};
            e.type = 1;
        }
        if (c.envelope == SUSTAINED || c.envelope == PANNING_SUSTAINED) {
            e.values = {64, 64, 0};
            e.sustain = 1;
            e.type = 1 | 2;
            b.instruments[0].fadeout = 4096;
        }
        const bool panned = c.envelope == PANNING || c.envelope == PANNING_SUSTAINED;
        if (panned) {
            b.instruments[0].panning.ticks = {0, 32};
            b.instruments[0].panning.values = {32, 64};
            b.instruments[0].panning.type = 1;
        }
        for (const auto &cell : c.cells) *xmbuilder_cell(&b, 0, cell.first, 0) = cell.second;
        // Pitch in eighths of a semitone.
        expect_ticks(xmbuilder_build(b, nullptr), c.name, c.first, c.model, c.start ? 0 : 8, c.start, c.start ? 0.5 : 0.4,
                     panned);
    }
}

// The (order, row) of each row start of a song of four 4-row patterns.
static std::vector<std::pair<int, int>> rows_seen(const std::vector<uint8_t> &file, int64_t *length_frames) {
    Playing p(file);
    std::vector<std::pair<int, int>> seen;
    if (!p.player) return seen;
    for (int t = 0; t < 6 * 40 && !mod_player_is_finished(p.player); t++) {
        music_run_ticks(p.player, 1);
        const ModPlayerPosition at = music_position(p.player);
        if (at.tick == 0 && !at.finished) seen.push_back({at.order, at.row});
    }
    int64_t us = 0;
    *length_frames = mod_song_length(p.player, 1LL << 40, &us);
    return seen;
}

TEST(MusicXmPlay, PatternLoopsCountPerChannelAndJumpAndBreakCombine) {
    // Channel 0 loops rows 0 .. 1 twice more (E62), channel 1 loops rows 2
    // .. 3 once more (E61) on a 4-row pattern: 2 x 3 + 2 x 2 rows. The
    // loop played out last leaves its start row to the next pattern, as
    // FastTracker II does: order 1 starts at row 2. Then order 2 jumps
    // (B03, channel 1) and breaks (D02, channel 0) to row 2 of order 3.
    XmBuilder b;
    b.channels = 2;
    b.orders = {0, 1, 2, 3};
    b.patterns.resize(4);
    for (XmBuilderPattern &p : b.patterns) p.rows = 4;
    *xmbuilder_cell(&b, 0, 1, 0) = XmBuilderCell{0, 0, 0, 0xE, 0x62};
    *xmbuilder_cell(&b, 0, 2, 1) = XmBuilderCell{0, 0, 0, 0xE, 0x60};
    *xmbuilder_cell(&b, 0, 3, 1) = XmBuilderCell{0, 0, 0, 0xE, 0x61};
    *xmbuilder_cell(&b, 2, 0, 0) = XmBuilderCell{0, 0, 0, 0xD, 0x02};
    *xmbuilder_cell(&b, 2, 0, 1) = XmBuilderCell{0, 0, 0, 0xB, 0x03};
    xmbuilder_cell(&b, 3, 0, 0);
    int64_t frames = 0;
    std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {0, 0}, {0, 1}, {0, 0}, {0, 1}, {0, 2}, {0, 3},
                                                 {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 0}, {3, 2}, {3, 3}};
    EXPECT_EQ(rows_seen(xmbuilder_build(b, nullptr), &frames), expected);
    EXPECT_EQ(frames, static_cast<int64_t>(expected.size() + 1) * 6 * 882);

    // A loop and a break on one row: the first in channel order decides.
    // E62 (channel 0) then D00 (channel 1) on row 3 after E60 on row 1: the
    // loop goes back to the break's row 0, twice, then the break moves on.
    // In the other order the break alone counts.
    XmBuilder both;
    both.channels = 2;
    both.orders = {0, 1};
    both.patterns.resize(2);
    for (XmBuilderPattern &p : both.patterns) p.rows = 4;
    *xmbuilder_cell(&both, 0, 1, 0) = XmBuilderCell{0, 0, 0, 0xE, 0x60};
    *xmbuilder_cell(&both, 0, 3, 0) = XmBuilderCell{0, 0, 0, 0xE, 0x62};
    *xmbuilder_cell(&both, 0, 3, 1) = XmBuilderCell{0, 0, 0, 0xD, 0x00};
    xmbuilder_cell(&both, 1, 0, 0);
    expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 0}, {0, 1}, {0, 2}, {0, 3},
                {0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}};
    EXPECT_EQ(rows_seen(xmbuilder_build(both, nullptr), &frames), expected);
    std::swap(*xmbuilder_cell(&both, 0, 3, 0), *xmbuilder_cell(&both, 0, 3, 1));
    expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}};
    EXPECT_EQ(rows_seen(xmbuilder_build(both, nullptr), &frames), expected);

    // Two loops on one channel share its counter: E61 on row 3 starts it
    // afresh each time E61 on row 1 has used it up, for ever. The song ends
    // when the loop on row 3 would go back a second time as it went before.
    *xmbuilder_cell(&both, 0, 0, 0) = XmBuilderCell{0, 0, 0, 0xE, 0x60};
    *xmbuilder_cell(&both, 0, 1, 0) = XmBuilderCell{0, 0, 0, 0xE, 0x61};
    *xmbuilder_cell(&both, 0, 3, 0) = XmBuilderCell{0, 0, 0, 0xE, 0x61};
    *xmbuilder_cell(&both, 0, 3, 1) = XmBuilderCell{};
    expected = {{0, 0}, {0, 1}, {0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 0}, {0, 1}, {0, 2}, {0, 3}};
    EXPECT_EQ(rows_seen(xmbuilder_build(both, nullptr), &frames), expected);
    EXPECT_EQ(frames, static_cast<int64_t>(expected.size() + 1) * 6 * 882);
}

TEST(MusicXmPlay, RampedRenderDoesNotDependOnSlicingAndStartsFromSilence) {
    XmBuilder b;
    xmbuilder_showcase_song(&b);
    const std::vector<uint8_t> file = xmbuilder_build(b, nullptr);
    Playing whole(file), sliced(file);
    ASSERT_NE(whole.player, nullptr);
    const std::vector<int16_t> expected = music_render_s16(whole.player, 3 * 44100);
    std::vector<int16_t> got;
    uint32_t seed = 7;
    while (got.size() < expected.size()) {
        seed = seed * 1103515245u + 12345u;
        int n = static_cast<int>(1 + (seed >> 16) % 700);
        n = std::min(n, static_cast<int>((expected.size() - got.size()) / 2));
        const std::vector<int16_t> part = music_render_s16(sliced.player, n);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(got == expected);

    // A note's first tick rises over 5 ms in 8 steps instead of at once.
    Playing one(xmbuilder_build(one_voice_xm(constant_xm_sample()), nullptr));
    ASSERT_NE(one.player, nullptr);
    EXPECT_EQ(one.player->ramp_frames, 216);
    music_run_ticks(one.player, one.player->speed);
    const std::vector<int16_t> start = music_render_s16(one.player, 300);
    EXPECT_GT(start[2 * 4], 0);
    EXPECT_LT(start[2 * 4], start[2 * 30]);
    EXPECT_LT(start[2 * 27], start[2 * 200]);
    EXPECT_EQ(start[2 * 216], start[2 * 299]);
}

TEST(MusicS3mPlay, EffectsOnTheirTicks) {
    // Two channels (the second one silent but for commands); row 0 plays
    // C-4 with sample 1 on channel 0 unless a case's cells replace it.
    // Sample 1 is a looped constant or, where pitch is measured, a square
    // wave at C2SPD 8363; sample 2 the same at a default volume of 32 and
    // (square) C2SPD 44100. The model gives each tick from `first` on: the
    // level in volume steps (the first tick 64), or with `pitch` the pitch
    // in cents above the first tick's.
    struct Case {
        const char *name;
        uint16_t version;
        std::vector<std::tuple<int, int, S3mBuilderCell>> cells;  // (row, channel, cell)
        bool pitch;
        int first;
        std::vector<int> model;
    } cases[] = {
        // Both nibbles set: down by y on later ticks.
        {"D82", 0x1320, {{1, 0, {255, 0, 255, 'D' - 64, 0x82}}}, false, 6, {64, 62, 60, 58, 56, 54}},
        // D0F and DF0 slide by 15 on every tick, the first too.
        {"D0F DF0", 0x1320, {{1, 0, {255, 0, 255, 'D' - 64, 0x0F}}, {2, 0, {255, 0, 255, 'D' - 64, 0xF0}}}, false, 6,
         {49, 34, 19, 4, 0, 0, 15, 30, 45, 60, 64, 64}},
        // Only the first of two pattern delays counts: row 0 lasts 3 rows.
        {"SE2 SE4", 0x1320, {{0, 0, {0x40, 1, 255, 'S' - 64, 0xE2}}, {0, 1, {255, 0, 255, 'S' - 64, 0xE4}},
                             {1, 0, {255, 0, 255, 'D' - 64, 0x08}}}, false, 12, {64, 64, 64, 64, 64, 64, 64, 56, 48}},
        // Tremor I12 counts from its rows' first ticks on, row to row.
        {"I12", 0x1320, {{1, 0, {255, 0, 255, 'I' - 64, 0x12}}, {2, 0, {255, 0, 255, 'I' - 64, 0x12}}}, false, 6,
         {64, 64, 0, 0, 0, 64, 64, 0, 0, 0, 64, 64, 64}},
        // A portamento with sample 2 keeps sample 1 but takes 2's volume.
        {"G10 02", 0x1320, {{1, 0, {0x42, 2, 255, 'G' - 64, 0x10}}}, false, 6, {32, 32, 32, 32, 32, 32}},
        // A portamento up past period 0 stops the note (F7F from C-5).
        {"F7F", 0x1320, {{0, 0, {0x50, 1, 255, 'F' - 64, 0x7F}}}, false, 0, {64, 64, 0, 0, 0, 0}},
        // S2F retunes the note playing to C2SPD 8757 (a quarter period of
        // 1634 for 1712: 81 cents up), kept by a note alone, gone with the
        // instrument number.
        {"S2F", 0x1320, {{1, 0, {255, 0, 255, 'S' - 64, 0x2F}}, {2, 0, {0x40, 0, 255, 0, 0}}, {3, 0, {0x40, 1, 255, 0, 0}}},
         true, 6, {81, 81, 81, 81, 81, 81, 81, 81, 81, 81, 81, 81, 0}},
        // C2SPD 44100's C-4: a quarter period of 324 in Scream Tracker 3's
        // S3Ms (2882 cents above 8363 Hz), of exactly 324.65 in Impulse
        // Tracker's (2879).
        {"ST3 C-4", 0x1320, {{1, 0, {0x40, 2, 255, 0, 0}}}, true, 6, {2882}},
        {"IT C-4", 0x3214, {{1, 0, {0x40, 2, 255, 0, 0}}}, true, 6, {2879}},
        // Q42 on rows 1 and 2 (8 less each time): Scream Tracker 3 starts
        // counting on row 1's first tick and counts row 2's; Impulse Tracker
        // restarts at once and every 2 ticks from there. Q40 restarts on
        // every tick.
        {"ST3 Q42", 0x1320, {{1, 0, {255, 0, 255, 'Q' - 64, 0x42}}, {2, 0, {255, 0, 255, 'Q' - 64, 0x42}}}, false, 6,
         {64, 64, 56, 56, 48, 48, 40, 40, 32, 32, 24, 24}},
        {"IT Q42", 0x3214, {{1, 0, {255, 0, 255, 'Q' - 64, 0x42}}, {2, 0, {255, 0, 255, 'Q' - 64, 0x42}}}, false, 6,
         {56, 56, 48, 48, 40, 40, 32, 32, 24, 24, 16, 16}},
        {"ST3 Q40", 0x1320, {{1, 0, {255, 0, 255, 'Q' - 64, 0x40}}}, false, 6, {64, 56, 48, 40, 32, 24}},
        // F04 after J47 slides up 16 quarters a tick from the arpeggio's
        // last note (+7 semitones, a quarter period of 1142) in Scream
        // Tracker 3's S3Ms, from the row's note in Impulse Tracker's.
        {"ST3 J47 F04", 0x1320, {{0, 0, {0x40, 1, 255, 'J' - 64, 0x47}}, {1, 0, {255, 0, 255, 'F' - 64, 0x04}}}, true, 6,
         {701, 725, 750, 775, 801, 827}},
        {"IT J47 F04", 0x3214, {{0, 0, {0x40, 1, 255, 'J' - 64, 0x47}}, {1, 0, {255, 0, 255, 'F' - 64, 0x04}}}, true, 6,
         {0, 16, 33, 49, 66, 83}},
    };
    for (const Case &c : cases) {
        S3mBuilder b = one_voice_s3m();
        b.version = c.version;
        b.channel_settings[1] = 8;
        S3mBuilderSample &s = b.samples[0];
        if (c.pitch) {
            s.frames.clear();
            for (int i = 0; i < SQUARE_FRAMES; i++) s.frames.push_back(i < SQUARE_FRAMES / 2 ? LEVEL_VALUE : -LEVEL_VALUE);
            s.loop_end = SQUARE_FRAMES;
        }
        b.samples.push_back(s);
        b.samples[1].volume = 32;
        if (c.pitch) b.samples[1].c2spd = 44100;
        for (const auto &cell : c.cells) *s3mbuilder_cell(&b, 0, std::get<0>(cell), std::get<1>(cell)) = std::get<2>(cell);
        // Pitch in cents.
        expect_ticks(s3mbuilder_build(b, nullptr), c.name, c.first, c.model, c.pitch ? 100 : 0, 64, c.pitch ? 1.0 : 0.5);
    }
}

TEST(MusicS3mPlay, AnotherPatternStartsItsLoopsAtRowZero) {
    // SB0 on row 2 of pattern 0; SB1 on row 3 of pattern 1 goes back to
    // that pattern's row 0. C00 on row 4 ends each pattern.
    S3mBuilder b = one_voice_s3m();
    b.channel_settings[1] = 8;
    b.orders = {0, 1, 255};
    b.patterns.resize(2);
    *s3mbuilder_cell(&b, 0, 2, 0) = S3mBuilderCell{255, 0, 255, 'S' - 64, 0xB0};
    *s3mbuilder_cell(&b, 1, 3, 0) = S3mBuilderCell{255, 0, 255, 'S' - 64, 0xB1};
    for (int p = 0; p < 2; p++) *s3mbuilder_cell(&b, p, 4, 1) = S3mBuilderCell{255, 0, 255, 'C' - 64, 0};
    int64_t frames = 0;
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 0}, {1, 1},
                                                       {1, 2}, {1, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}};
    EXPECT_EQ(rows_seen(s3mbuilder_build(b, nullptr), &frames), expected);
}

TEST(MusicS3mPlay, SharedMemoryFineSlidesAndGlobalVolume) {
    // D04 slides 4 down each later tick; K00 then recalls 04 from the
    // shared memory (and vibrates); DF2 slides 2 down once, on the first
    // tick, and D00 recalls it as that fine slide; V20 halves the global
    // volume.
    S3mBuilder b = one_voice_s3m();
    *s3mbuilder_cell(&b, 0, 1, 0) = S3mBuilderCell{255, 0, 255, 'D' - 'A' + 1, 0x04};
    *s3mbuilder_cell(&b, 0, 2, 0) = S3mBuilderCell{255, 0, 255, 'K' - 'A' + 1, 0x00};
    *s3mbuilder_cell(&b, 0, 3, 0) = S3mBuilderCell{255, 0, 255, 'D' - 'A' + 1, 0xF2};
    *s3mbuilder_cell(&b, 0, 4, 0) = S3mBuilderCell{255, 0, 255, 'D' - 'A' + 1, 0x00};
    *s3mbuilder_cell(&b, 0, 5, 0) = S3mBuilderCell{255, 0, 255, 'V' - 'A' + 1, 0x20};
    const std::vector<double> levels = tick_levels(s3mbuilder_build(b, nullptr), 36);
    ASSERT_EQ(levels.size(), 36u);
    const double unit = levels[0] / 64;
    const int model[] = {64, 44, 24, 22, 20, 10};  // each row's last tick
    for (int row = 0; row < 6; row++) EXPECT_NEAR(levels[static_cast<size_t>(6 * row + 5)] / unit, model[row], 0.5) << row;
    EXPECT_NEAR(levels[6 * 3] / unit, 22, 0.5);  // the fine slide on the first tick

    // With fast volume slides D04 also slides on the first tick.
    b.flags = 64;
    const std::vector<double> fast = tick_levels(s3mbuilder_build(b, nullptr), 12);
    ASSERT_EQ(fast.size(), 12u);
    EXPECT_NEAR(fast[6] / unit, 60, 0.5);
    EXPECT_NEAR(fast[11] / unit, 40, 0.5);
}

// IT's rules played tick by tick on a constant sample: the layered
// volumes, IT's envelopes, key off, fades and new-note actions; rows 1
// and 2 hold the cells, `setup` changes the instrument.
TEST(MusicItPlay, LayersEnvelopesAndNoteActionsOnTheirTicks) {
    constexpr uint8_t M = 'M' - 'A' + 1, N = 'N' - 'A' + 1, S = 'S' - 'A' + 1, V = 'V' - 'A' + 1, W = 'W' - 'A' + 1;
    struct Case {
        const char *name;
        ItBuilderCell rows[2];
        void (*setup)(ItBuilderInstrument *);
        std::vector<int> model;  // level on ticks 6 .. 17, 64 for the first tick's
    } cases[] = {
        {"M20 halves the channel volume", {{8, 0, 0, 0, M, 0x20}, {}}, nullptr, {32, 32, 32, 32, 32, 32}},
        {"V40 halves the global volume, W08 slides it", {{8, 0, 0, 0, V, 0x40}, {8, 0, 0, 0, W, 0x08}}, nullptr,
         {32, 32, 32, 32, 32, 32, 32, 28, 24, 20, 16, 12}},
        {"N04 slides the channel volume, NF2 once", {{8, 0, 0, 0, N, 0x04}, {8, 0, 0, 0, N, 0xF2}}, nullptr,
         {64, 60, 56, 52, 48, 44, 42, 42, 42, 42, 42, 42}},
        {"an envelope loop plays its end point",
         {{}, {}},
         [](ItBuilderInstrument *in) { in->volume = {1 | 2, {64, 0}, {0, 4}, 0, 1, 0, 0}; },
         {48, 32, 16, 0, 64, 48}},
        {"a sustain loop holds until key off, a silent end ends the note",
         {{}, {1, 255, 0, 0, 0, 0}},
         [](ItBuilderInstrument *in) { in->volume = {1 | 4, {64, 32, 64, 0}, {0, 2, 4, 6}, 0, 0, 1, 2}; },
         {48, 64, 32, 48, 64, 32, 48, 64, 32, 0, 0, 0}},
        {"key off fades an instrument without an envelope", {{1, 255, 0, 0, 0, 0}, {}},
         [](ItBuilderInstrument *in) { in->fadeout = 256; }, {64, 48, 32, 16, 0, 0}},
        {"note fade fades past a sustain", {{1, 200, 0, 0, 0, 0}, {}},
         [](ItBuilderInstrument *in) {
             in->fadeout = 256;
             in->volume = {1 | 4, {64, 64}, {0, 10}, 0, 0, 0, 1};
         },
         {64, 48, 32, 16, 0, 0}},
        {"a new note continues the last", {{3, 60, 1, 0, 0, 0}, {}}, [](ItBuilderInstrument *in) { in->nna = 1; },
         {128, 128, 128, 128, 128, 128}},
        {"the duplicate check cuts the same note", {{3, 60, 1, 0, 0, 0}, {}},
         [](ItBuilderInstrument *in) {
             in->nna = 1;
             in->dct = 1;
         },
         {64, 64, 64, 64, 64, 64}},
        {"S73 cuts the note playing at the next", {{8, 0, 0, 0, S, 0x73}, {3, 60, 1, 0, 0, 0}},
         [](ItBuilderInstrument *in) { in->nna = 1; }, {64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64}},
        {"S71 releases the past notes", {{3, 60, 1, 0, 0, 0}, {8, 0, 0, 0, S, 0x71}},
         [](ItBuilderInstrument *in) {
             in->nna = 1;
             in->fadeout = 256;
         },
         {128, 128, 128, 128, 128, 128, 128, 112, 96, 80, 64, 64}},
    };
    for (const Case &c : cases) {
        ItBuilder b = one_voice_it(looped_it_sample(std::vector<int16_t>(64, LEVEL_VALUE)));
        if (c.setup) c.setup(&b.instruments[0]);
        for (int row = 1; row <= 2; row++) *itbuilder_cell(&b, 0, row, 0) = c.rows[row - 1];
        const std::vector<double> levels = tick_levels(itbuilder_build(b, nullptr), 18);
        ASSERT_EQ(levels.size(), 18u) << c.name;
        for (size_t t = 0; t < c.model.size(); t++)
            EXPECT_NEAR(levels[6 + t] * 64 / levels[0], c.model[t], 0.7) << c.name << ", tick " << 6 + t;
    }
}

// IT's pitch: C-5 sounds at the sample's C5 speed; a stereo sample's halves
// go to their sides; and the resonant filter a Zxx macro sets takes the
// edges off a square wave until Z7F opens it.
TEST(MusicItPlay, C5SpeedStereoHalvesAndTheFilterMacros) {
    std::vector<int16_t> square;
    for (int i = 0; i < SQUARE_FRAMES; i++) square.push_back(i < SQUARE_FRAMES / 2 ? LEVEL_VALUE : -LEVEL_VALUE);
    for (uint32_t c5 : {8363u, 22050u}) {
        ItBuilderSample s = looped_it_sample(square);
        s.c5_speed = c5;
        const int crossings = zero_crossings(itbuilder_build(one_voice_it(s), nullptr), 44100);
        EXPECT_NEAR(crossings, 2.0 * c5 / SQUARE_FRAMES, 0.01 * c5 / SQUARE_FRAMES) << c5;
    }
    ItBuilderSample stereo = looped_it_sample(std::vector<int16_t>(64, LEVEL_VALUE));
    stereo.right.assign(64, -LEVEL_VALUE / 2);
    Playing halves(itbuilder_build(one_voice_it(stereo), nullptr));
    ASSERT_NE(halves.player, nullptr);
    music_run_ticks(halves.player, 6);
    const std::vector<int16_t> out = music_render_s16(halves.player, 1000);
    for (int i = 16; i < 1000; i++) {  // after the interpolation from silence
        ASSERT_GT(out[2 * i], 0) << i;
        ASSERT_NEAR(out[2 * i + 1], -out[2 * i] / 2, 0.01 * out[2 * i]) << i;  // pan 128: right 128 / 127 of left
    }
    ItBuilder b = one_voice_it(looped_it_sample(square));
    constexpr uint8_t Z = 'Z' - 'A' + 1;
    *itbuilder_cell(&b, 0, 1, 0) = ItBuilderCell{8, 0, 0, 0, Z, 0x10};
    *itbuilder_cell(&b, 0, 2, 0) = ItBuilderCell{8, 0, 0, 0, Z, 0x7F};
    *itbuilder_cell(&b, 0, 3, 0) = ItBuilderCell{8, 0, 0, 0, Z, 0x8F};  // resonance 120, still open
    const std::vector<double> levels = tick_levels(itbuilder_build(b, nullptr), 24);
    ASSERT_EQ(levels.size(), 24u);
    EXPECT_LT(levels[11], 0.5 * levels[5]);
    EXPECT_NEAR(levels[17], levels[5], 0.01 * levels[5]);
    // A resonance filters even the open cutoff (2^(0.25 + 127 / 24) x 110 Hz).
    EXPECT_GT(std::abs(levels[23] - levels[5]), 0.01 * levels[5]);
}
