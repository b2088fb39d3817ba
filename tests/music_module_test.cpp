// Module parsing: signature and mask rules, pattern counting over all 128
// order entries, sample decoding with data offsets (also past 65535), names
// and title, cell unpacking and the translation of every MOD command into
// the song's vocabulary, the size checks and repairs of creation, and the
// module check that creation runs with the sentence for each refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "music/mod_periods_internal.h"
#include "music/mod_player.h"
#include "music/mod_read_internal.h"
#include "music/module_check.h"
#include "music/module_format_internal.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "util/alloc.h"

namespace {

ModPlayer *create(const std::vector<uint8_t> &bytes, int rate = 44100) {
    return mod_player_create(rate, bytes.data(), static_cast<long>(bytes.size()));
}

const SongSample &sample_of(const ModPlayer *p, int number) {
    return p->song->samples[number - 1];
}

// Where sample `number`'s data starts in the module.
long data_offset(const ModPlayer *p, int number, const uint8_t *module) {
    return static_cast<const uint8_t *>(sample_of(p, number).data) - module;
}

SongCell cell_of(const ModPlayer *p, int pattern, int row, int channel) {
    SongCell cells[SONG_MAX_CHANNELS];
    song_row(p->song, pattern, row, cells);
    return cells[channel];
}

}  // namespace

TEST(MusicModule, SignatureAndMask) {
    struct Case {
        const char *signature;
        bool accepted;
        int mask;
        int channels;
    } cases[] = {
        {"M.K.", true, 63, 4}, {"M!K!", true, 127, 4}, {"M!K.", true, 63, 4}, {"M.K!", true, 63, 4},
        {"MxKy", true, 63, 4}, {"4CHN", true, 127, 4}, {"6CHN", true, 127, 6}, {"8CHN", true, 127, 8},
        {"FLT4", true, 127, 4}, {"2CHN", true, 127, 2}, {"1CHN", true, 127, 1}, {"9CHN", true, 127, 9},
        {"10CH", true, 127, 10}, {"16CH", true, 127, 16}, {"32CH", true, 127, 32}, {"CD81", true, 127, 8},
        {"OKTA", true, 127, 8}, {"OCTA", true, 127, 8}, {"TDZ1", true, 127, 1}, {"TDZ3", true, 127, 3},
        {"\0\0\0\0", false, 0, 4}, {"m.k.", false, 0, 4}, {"4chn", false, 0, 4}, {"0CHN", false, 0, 4},
        {"09CH", false, 0, 4}, {"33CH", false, 0, 4}, {"99CH", false, 0, 4}, {"FLT5", false, 0, 4},
        {"TDZ4", false, 0, 4}, {"TDZ0", false, 0, 4}, {"8chn", false, 0, 4},
    };
    for (const Case &c : cases) {
        ModBuilder b;
        modbuilder_init(&b);
        modbuilder_set_signature(&b, c.signature);
        modbuilder_set_channels(&b, c.channels);
        // Entry 64 (past the song length): pattern 0 under mask 63, pattern
        // 64 under mask 127. Build the file with the larger count so that
        // both readings find their patterns.
        b.order[100] = 64;
        b.pattern_count_override = 65;
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        int limit = mod_check_signature(bytes.data());
        ModuleCheck check;
        ModPlayer *p = mod_player_create_checked(44100, bytes.data(), static_cast<long>(bytes.size()), &check);
        if (!c.accepted) {
            EXPECT_EQ(limit, 0) << c.signature;
            EXPECT_EQ(p, nullptr) << c.signature;
            continue;
        }
        EXPECT_EQ(limit, c.mask + 1) << c.signature;
        ASSERT_NE(p, nullptr) << c.signature;
        EXPECT_EQ(check.pattern_mask, c.mask) << c.signature;
        EXPECT_EQ(check.channels, c.channels) << c.signature;
        EXPECT_EQ(p->channel_count, c.channels) << c.signature;
        EXPECT_EQ(p->song->pattern_count, c.mask == 63 ? 1 : 65) << c.signature;
        // Sample data starts right after the counted patterns.
        EXPECT_EQ(data_offset(p, 1, bytes.data()), 1084 + 256 * c.channels * p->song->pattern_count) << c.signature;
        mod_player_destroy(p);
    }
}

TEST(MusicModule, PatternCountingOverAllEntries) {
    uint8_t order[128] = {0};
    EXPECT_EQ(mod_count_patterns(order, 64), 1);   // all zero: one pattern
    order[127] = 5;                                // the last entry counts, whatever the song length
    EXPECT_EQ(mod_count_patterns(order, 64), 6);
    order[3] = 64 + 9;                             // 73 & 63 = 9
    EXPECT_EQ(mod_count_patterns(order, 64), 10);
    EXPECT_EQ(mod_count_patterns(order, 128), 74);
    order[50] = 255;                               // & 127 = 127: every slot in use
    EXPECT_EQ(mod_count_patterns(order, 128), 128);
    EXPECT_EQ(mod_pattern_mask(128), 127);
    EXPECT_EQ(mod_count_patterns(order, 64), 64);
    EXPECT_EQ(mod_pattern_mask(64), 63);
    EXPECT_EQ(mod_pattern_mask(0), 127);           // any other limit counts as 128
    EXPECT_EQ(mod_count_patterns(nullptr, 64), 1);
}

TEST(MusicModule, SampleDecodingAndOffsets) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_title(&b, "title\0with\0nuls");
    memcpy(b.title, "ab\0cd", 5);
    modbuilder_set_sample(&b, 1, modbuilder_saw(100, 10, 50), 64, 0x37, 10, 20);
    modbuilder_set_sample(&b, 2, {}, 12, 0, 0, 0);                 // empty
    modbuilder_set_sample(&b, 3, modbuilder_saw(30, 10, 50), 200, 0xF8, 0, 0);
    memcpy(b.samples[0].name, "kick\0drum", 9);
    b.order[0] = 63;  // 64 patterns: sample data beyond offset 65535
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->song->pattern_count, 64);
    EXPECT_EQ(p->song->sample_count, 31);
    EXPECT_EQ(p->song->instrument_count, 31);
    EXPECT_EQ(data_offset(p, 1, bytes.data()), 1084 + 65536);
    EXPECT_EQ(sample_of(p, 1).length, 100u);
    EXPECT_EQ(sample_of(p, 1).loop_start, 10u);
    EXPECT_EQ(sample_of(p, 1).loop_length, 20u);
    EXPECT_EQ(sample_of(p, 1).loop, SONG_LOOP_FORWARD);
    EXPECT_EQ(sample_of(p, 1).bits, 8);
    EXPECT_EQ(sample_of(p, 1).finetune, 7 * 16);  // 7 eighths of a semitone
    EXPECT_EQ(mod_finetune_nibble(sample_of(p, 1).finetune), 7);
    EXPECT_EQ(sample_of(p, 1).volume, 64);
    // An empty sample occupies no bytes: its data is the next one's.
    EXPECT_EQ(sample_of(p, 2).length, 0u);
    EXPECT_EQ(sample_of(p, 2).data, sample_of(p, 3).data);
    EXPECT_EQ(data_offset(p, 3, bytes.data()), 1084 + 65536 + 100);
    EXPECT_EQ(sample_of(p, 3).volume, 200);   // unclamped
    EXPECT_EQ(sample_of(p, 3).finetune, -8 * 16);  // nibble 8, high nibble ignored
    EXPECT_EQ(mod_finetune_nibble(sample_of(p, 3).finetune), 8);
    EXPECT_EQ(sample_of(p, 3).loop, SONG_LOOP_NONE);
    EXPECT_EQ(memcmp(sample_of(p, 3).data, &bytes[1084 + 65536 + 100], 30), 0);
    // Names: NULs become spaces, exactly 22 characters; each sample is its
    // own instrument, every note mapped to it.
    EXPECT_STREQ(sample_of(p, 1).name, "kick drum             ");
    EXPECT_STREQ(p->song->instruments[0].name, "kick drum             ");
    EXPECT_EQ(strlen(sample_of(p, 6).name), 22u);
    for (int n = 1; n <= 31; n++)
        for (int note = 0; note < SONG_NOTES; note++) ASSERT_EQ(p->song->instruments[n - 1].note_samples[note], n);
    // The title keeps its bytes, NULs included.
    EXPECT_EQ(memcmp(p->title, "ab\0cd", 5), 0);
    EXPECT_EQ(p->title[20], '\0');
    mod_player_destroy(p);
}

TEST(MusicModule, CellUnpacking) {
    ModBuilder b;
    modbuilder_init(&b);
    b.order[0] = 1;
    modbuilder_set_cell(&b, 1, 63, 3, 0x1F, 0xABC, 0xE93);
    modbuilder_set_cell(&b, 0, 5, 2, 0x20, 428, 0xC40);   // sample 32: none
    modbuilder_set_cell(&b, 0, 6, 1, 0xF5, 113, 0x000);   // sample 245: none
    modbuilder_set_cell(&b, 0, 7, 0, 0x10, 0, 0xF06);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    const SongCell c = cell_of(p, 1, 63, 3);
    EXPECT_EQ(c.instrument, 31);
    EXPECT_EQ(c.period, 0xABC);
    EXPECT_EQ(c.note, 0);  // off the note table
    EXPECT_EQ(c.command, CMD_RETRIGGER);
    EXPECT_EQ(c.param, 3);
    EXPECT_EQ(cell_of(p, 0, 5, 2).instrument, 0);
    EXPECT_EQ(cell_of(p, 0, 5, 2).period, 428);
    EXPECT_EQ(cell_of(p, 0, 5, 2).note, 49);  // C-4, ProTracker's C-2
    EXPECT_EQ(cell_of(p, 0, 5, 2).command, CMD_SET_VOLUME);
    EXPECT_EQ(cell_of(p, 0, 5, 2).param, 0x40);
    EXPECT_EQ(cell_of(p, 0, 6, 1).instrument, 0);
    EXPECT_EQ(cell_of(p, 0, 6, 1).note, 72);
    EXPECT_EQ(cell_of(p, 0, 7, 0).instrument, 16);
    EXPECT_EQ(cell_of(p, 0, 7, 0).command, CMD_SET_SPEED);
    EXPECT_EQ(cell_of(p, 0, 7, 0).param, 6);
    // The untouched cells are empty, and a row outside the song too.
    const SongCell empty = cell_of(p, 1, 0, 0);
    EXPECT_EQ(empty.note | empty.instrument | empty.command | empty.param | empty.period, 0);
    const SongCell outside = cell_of(p, 2, 0, 0);
    EXPECT_EQ(outside.note | outside.instrument | outside.command | outside.param | outside.period, 0);
    EXPECT_EQ(p->song->patterns[1].rows, 64);
    EXPECT_EQ(p->song->channel_count, 4);
    mod_player_destroy(p);
}

TEST(MusicModule, CreationChecksSizeAndRate) {
    ModBuilder b;
    modbuilder_init(&b);
    b.order[10] = 2;  // three patterns
    modbuilder_set_sample(&b, 1, modbuilder_saw(64, 8, 40), 64, 0, 0, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    const long patterns_end = 1084 + 3 * 1024;
    ASSERT_EQ(static_cast<long>(bytes.size()), patterns_end + 64);

    EXPECT_EQ(mod_player_create(44100, nullptr, 5000), nullptr);
    for (long size : {0L, 1L, 1079L, 1083L, 1084L, patterns_end - 1}) {
        uint8_t *m = music_copy_module(std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
        EXPECT_EQ(mod_player_create(44100, m, size), nullptr) << size;
        music_free_module(m);
    }
    // The patterns complete, the sample data missing or short: accepted,
    // the sample cut to what is there.
    for (long extra : {0L, 1L, 33L, 64L}) {
        uint8_t *m = music_copy_module(std::vector<uint8_t>(bytes.begin(), bytes.begin() + patterns_end + extra));
        ModPlayer *p = mod_player_create(44100, m, patterns_end + extra);
        ASSERT_NE(p, nullptr) << extra;
        EXPECT_EQ(sample_of(p, 1).length, static_cast<uint32_t>(extra));
        mod_player_destroy(p);
        music_free_module(m);
    }
    EXPECT_EQ(mod_player_create(44100, bytes.data(), -5), nullptr);
    // No memory for the record: null, nothing leaked (the sanitizer build
    // checks the leak).
    alloc_fail_after(0);
    EXPECT_EQ(create(bytes), nullptr);
    alloc_fail_after(-1);

    // Output rates: 0, too low for a tick of one frame at tempo 255, too
    // wide for 16 bits.
    for (int rate : {-1, 0, 1, 101, 65536, 96000}) EXPECT_EQ(create(bytes, rate), nullptr) << rate;
    for (int rate : {102, 8000, 44100, 65535}) {
        ModPlayer *p = create(bytes, rate);
        ASSERT_NE(p, nullptr) << rate;
        EXPECT_EQ(p->output_rate, rate);
        mod_player_destroy(p);
    }
}

// The check's sentence for `bytes` cut to `size`, named "x.mod".
static std::string refusal_of(const std::vector<uint8_t> &bytes, long size, ModuleCheck *check) {
    uint8_t *m = music_copy_module(std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
    module_check(m, size, check);
    music_free_module(m);
    char text[256];
    module_refusal_text(check, "x.mod", text, sizeof text);
    return text;
}

TEST(MusicModule, CheckNamesEveryRefusalInItsOwnWords) {
    ModBuilder b;
    modbuilder_init(&b);
    b.order[10] = 2;  // three patterns
    modbuilder_set_sample(&b, 1, modbuilder_saw(64, 8, 40), 64, 0, 0, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    const long size = static_cast<long>(bytes.size());
    const long patterns_end = 1084 + 3 * 1024;
    ModuleCheck check;

    EXPECT_EQ(module_check(nullptr, 5000, &check), MODULE_EMPTY);
    EXPECT_EQ(module_check(bytes.data(), -5, &check), MODULE_EMPTY);
    EXPECT_EQ(refusal_of(bytes, 0, &check), "'x.mod' is not a module: the file is empty");
    EXPECT_EQ(refusal_of(bytes, 600, &check),
              "'x.mod' is not a module: 600 bytes is too short for a module header (1084 bytes)");
    EXPECT_EQ(check.refusal, MODULE_SHORT_HEADER);
    EXPECT_EQ(check.format, MODULE_FORMAT_NONE);
    EXPECT_EQ(refusal_of(bytes, 1083, &check),
              "'x.mod' is not a module: 1083 bytes is too short for a module header (1084 bytes)");
    for (long cut : {1084L, 2000L, patterns_end - 1}) {
        EXPECT_EQ(refusal_of(bytes, cut, &check), "'x.mod' is not a module: truncated: its 3 patterns need " +
                                                      std::to_string(patterns_end) + " bytes, the file has " +
                                                      std::to_string(cut));
        EXPECT_EQ(check.refusal, MODULE_TRUNCATED_PATTERNS);
        EXPECT_EQ(check.format, MODULE_FORMAT_MOD);
    }
    // Signatures: printable bytes as they are but the quote and the
    // backslash, escaped, any other as \xNN.
    const std::pair<const char *, const char *> signatures[] = {
        {"6CHX", "6CHX"}, {"FLT5", "FLT5"}, {"\x1b[\0A", "\\x1b[\\x00A"},
        {"\x80\x80\x80\x80", "\\x80\\x80\\x80\\x80"}, {"m\"\\k", "m\\\"\\\\k"}, {"4CH\x7f", "4CH\\x7f"}};
    for (const auto &signature : signatures) {
        std::vector<uint8_t> wrong = bytes;
        memcpy(&wrong[MOD_SIGNATURE_OFFSET], signature.first, 4);
        EXPECT_EQ(refusal_of(wrong, size, &check),
                  std::string("'x.mod' is not a module: no MOD, XM, S3M or IT signature (bytes 1080 to 1083 "
                              "read \"") + signature.second + "\")");
        EXPECT_EQ(check.refusal, MODULE_UNKNOWN_SIGNATURE);
    }
    // Accepted: the layout the player is built from, and no words.
    EXPECT_EQ(refusal_of(bytes, size, &check), "");
    EXPECT_EQ(check.refusal, MODULE_ACCEPTED);
    EXPECT_EQ(check.format, MODULE_FORMAT_MOD);
    EXPECT_EQ(check.channels, 4);
    EXPECT_EQ(check.pattern_count, 3);
    EXPECT_EQ(check.pattern_mask, 63);
    EXPECT_EQ(check.sample_data_offset, static_cast<size_t>(patterns_end));
    EXPECT_EQ(module_refusal_text(&check, "x.mod", nullptr, 0), 0);

    // Creation's own refusals, told through the same check.
    EXPECT_EQ(mod_player_create_checked(101, bytes.data(), size, &check), nullptr);
    char text[256];
    EXPECT_EQ(module_refusal_text(&check, "x.mod", text, sizeof text), 1);
    EXPECT_STREQ(text, "cannot create the player for 'x.mod' at 101 Hz (it renders at 102 to 65535 Hz)");
    alloc_fail_after(0);
    EXPECT_EQ(mod_player_create_checked(44100, bytes.data(), size, &check), nullptr);
    alloc_fail_after(-1);
    EXPECT_EQ(module_refusal_text(&check, "x.mod", text, sizeof text), 1);
    EXPECT_STREQ(text, "out of memory creating the player for 'x.mod'");
    // Cut to the buffer; no check, no path, no buffer.
    EXPECT_EQ(module_refusal_text(&check, "x.mod", text, 10), 1);
    EXPECT_STREQ(text, "out of me");
    EXPECT_EQ(module_refusal_text(&check, nullptr, text, sizeof text), 1);
    EXPECT_STREQ(text, "out of memory creating the player for ''");
    EXPECT_EQ(module_refusal_text(nullptr, "x.mod", text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(module_check(bytes.data(), size, nullptr), MODULE_EMPTY);
}

// One decision: at every size a module can be cut to, and under both mask
// widths, creation refuses exactly what the check refuses, reports the
// check's own result, and builds on the layout the check found.
TEST(MusicModule, CreationAndTheCheckAgreeAtEveryCut) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_saw(300, 8, 40), 64, 0, 0, 0);
    b.order[0] = 1;
    b.order[100] = 64 + 2;  // pattern 2 under mask 63, pattern 66 under mask 127
    b.pattern_count_override = 67;
    for (const char *signature : {"M.K.", "M!K!"}) {
        modbuilder_set_signature(&b, signature);
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        const long whole = static_cast<long>(bytes.size());
        int accepted = 0;
        for (long size = 0; size <= whole; size += size < 1100 || whole - size < 400 ? 1 : 97) {
            uint8_t *m = music_copy_module(std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
            ModuleCheck alone, told;
            module_check(m, size, &alone);
            memset(&told, 0x5A, sizeof told);
            ModPlayer *p = mod_player_create_checked(44100, m, size, &told);
            ASSERT_EQ(p != nullptr, alone.refusal == MODULE_ACCEPTED) << signature << " " << size;
            ASSERT_EQ(told.refusal, alone.refusal) << signature << " " << size;
            ASSERT_EQ(told.pattern_count, alone.pattern_count) << signature << " " << size;
            ASSERT_EQ(told.needed_bytes, alone.needed_bytes) << signature << " " << size;
            if (p) {
                accepted++;
                EXPECT_EQ(p->song->pattern_count, alone.pattern_count);
                EXPECT_EQ(told.pattern_mask, alone.pattern_mask);
                EXPECT_EQ(data_offset(p, 1, m), static_cast<long>(alone.sample_data_offset));
            }
            mod_player_destroy(p);
            music_free_module(m);
        }
        EXPECT_GT(accepted, 200) << signature;
    }
}

TEST(MusicModule, RepairsSongLengthAndLoops) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_saw(100, 10, 50), 64, 0, 90, 40);   // reaches past
    modbuilder_set_sample(&b, 2, modbuilder_saw(100, 10, 50), 64, 0, 100, 8);   // starts at end
    modbuilder_set_sample(&b, 3, modbuilder_saw(100, 10, 50), 64, 0, 0, 100);   // whole sample
    modbuilder_set_sample(&b, 4, modbuilder_saw(100, 10, 50), 64, 0, 0, 0);
    b.samples[3].loop_start_words = 0xFFFF;                                      // huge
    b.samples[3].loop_length_words = 0xFFFF;
    modbuilder_set_sample(&b, 5, modbuilder_saw(100, 10, 50), 64, 0, 0, 0);
    b.samples[4].loop_start_words = 2;
    b.samples[4].loop_length_words = 0xFFFF;
    std::vector<uint8_t> bytes = modbuilder_build(&b);

    for (int length : {0, 1, 64, 128, 129, 255}) {
        bytes[MOD_SONG_LENGTH_OFFSET] = static_cast<uint8_t>(length);
        ModPlayer *p = create(bytes);
        ASSERT_NE(p, nullptr);
        int expected = length == 0 ? 1 : length > 128 ? 128 : length;
        EXPECT_EQ(p->song_length, expected) << length;
        if (length != 64) {
            mod_player_destroy(p);
            continue;
        }
        EXPECT_EQ(sample_of(p, 1).loop_start, 90u);
        EXPECT_EQ(sample_of(p, 1).loop_length, 10u);
        EXPECT_EQ(sample_of(p, 2).loop_start, 0u);
        EXPECT_EQ(sample_of(p, 2).loop_length, 0u);
        EXPECT_EQ(sample_of(p, 2).loop, SONG_LOOP_NONE);
        EXPECT_EQ(sample_of(p, 3).loop_start, 0u);
        EXPECT_EQ(sample_of(p, 3).loop_length, 100u);
        EXPECT_EQ(sample_of(p, 4).loop_length, 0u);
        EXPECT_EQ(sample_of(p, 5).loop_start, 4u);
        EXPECT_EQ(sample_of(p, 5).loop_length, 96u);
        EXPECT_EQ(sample_of(p, 5).loop, SONG_LOOP_FORWARD);
        EXPECT_EQ(p->song->order_count, 64);
        EXPECT_EQ(song_valid(p->song), 1);
        mod_player_destroy(p);
    }
}

TEST(MusicModule, NewPlayerState) {
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 2, modbuilder_saw(64, 8, 40), 50, 3, 0, 0);
    modbuilder_set_cell(&b, 0, 0, 1, 2, 428, 0xA05);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = create(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->module, bytes.data());
    EXPECT_EQ(p->song->format, SONG_FORMAT_MOD);
    EXPECT_STREQ(p->song->format_name, "MOD M.K.");
    EXPECT_EQ(p->channel_count, 4);
    EXPECT_EQ(p->song_length, 1);
    EXPECT_EQ(p->tempo, 125);
    EXPECT_EQ(p->speed, 6);
    EXPECT_EQ(p->samples_per_tick, 882);
    EXPECT_EQ(p->order, 0);
    EXPECT_EQ(p->row, 0);
    EXPECT_EQ(p->tick, 0);
    EXPECT_EQ(p->loop, 0);
    EXPECT_EQ(p->finished, 0);
    EXPECT_EQ(mod_player_is_finished(p), 0);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(p->channels[i].samples, p->song->samples);
        EXPECT_EQ(p->channels[i].note_start, 2);
        EXPECT_EQ(p->channels[i].playing, 0);
        EXPECT_EQ(p->voices[i].step, 0u);
        EXPECT_EQ(p->voices[i].volume, 0);
        EXPECT_EQ(p->voices[i].source_user, &p->channels[i]);
    }
    // Row 0 is loaded but not started: no period set, nothing playing.
    const Channel &c = p->channels[1];
    EXPECT_EQ(c.command, CMD_VOLUME_SLIDE);
    EXPECT_EQ(c.param, 0x05);
    EXPECT_EQ(c.note, 428);
    EXPECT_EQ(c.trigger, 1);
    EXPECT_EQ(c.sample, 2);
    EXPECT_EQ(c.volume, 50);
    EXPECT_EQ(mod_finetune_nibble(c.finetune), 3);
    EXPECT_EQ(c.instrument, 2);
    EXPECT_EQ(c.current_sample, 0);

    int counter = 0;
    auto count = [](void *user) { ++*static_cast<int *>(user); };
    mod_player_set_row_callback(p, count, &counter);
    EXPECT_EQ(p->row_callback, count);
    EXPECT_EQ(p->row_user, &counter);
    mod_player_set_tick_callback(p, count, nullptr);
    EXPECT_EQ(p->tick_user, nullptr);
    mod_player_set_loop(p, 1);
    EXPECT_EQ(p->loop, 1);
    // Null players are ignored; a null player counts as finished.
    mod_player_set_loop(nullptr, 1);
    mod_player_set_row_callback(nullptr, count, nullptr);
    mod_player_set_tick_callback(nullptr, count, nullptr);
    EXPECT_EQ(mod_player_is_finished(nullptr), 1);
    mod_player_destroy(nullptr);
    mod_player_destroy(p);
}

// Every MOD command word in the song's vocabulary: the digits the engine's
// MOD player acts on by name, the ones it ignores still commands, Dxy as
// the row it names, Fxx split at 32.
TEST(MusicModule, EveryCommandWordTranslates) {
    struct Case {
        uint16_t word;
        uint8_t command, param;
    } cases[] = {
        {0x000, CMD_NONE, 0}, {0x001, CMD_ARPEGGIO, 0x01}, {0x037, CMD_ARPEGGIO, 0x37},
        {0x1FF, CMD_PORTAMENTO_UP, 0xFF}, {0x200, CMD_PORTAMENTO_DOWN, 0}, {0x305, CMD_TONE_PORTAMENTO, 5},
        {0x4A3, CMD_VIBRATO, 0xA3}, {0x510, CMD_TONE_PORTAMENTO_VOLUME_SLIDE, 0x10},
        {0x601, CMD_VIBRATO_VOLUME_SLIDE, 1}, {0x777, CMD_TREMOLO, 0x77}, {0x880, CMD_IGNORED, 0x80},
        {0x900, CMD_SAMPLE_OFFSET, 0}, {0xA0F, CMD_VOLUME_SLIDE, 0x0F}, {0xB7F, CMD_POSITION_JUMP, 0x7F},
        {0xC99, CMD_SET_VOLUME, 0x99}, {0xD32, CMD_PATTERN_BREAK, 32}, {0xDB2, CMD_PATTERN_BREAK, 32},
        {0xD0F, CMD_PATTERN_BREAK, 15}, {0xDFF, CMD_PATTERN_BREAK, 85},
        {0xE01, CMD_IGNORED, 0x01}, {0xE1A, CMD_FINE_PORTAMENTO_UP, 0xA}, {0xE2F, CMD_FINE_PORTAMENTO_DOWN, 0xF},
        {0xE31, CMD_IGNORED, 0x31}, {0xE42, CMD_IGNORED, 0x42}, {0xE53, CMD_IGNORED, 0x53},
        {0xE60, CMD_PATTERN_LOOP, 0}, {0xE63, CMD_PATTERN_LOOP, 3}, {0xE74, CMD_IGNORED, 0x74},
        {0xE85, CMD_IGNORED, 0x85}, {0xE90, CMD_RETRIGGER, 0}, {0xEA4, CMD_FINE_VOLUME_UP, 4},
        {0xEB5, CMD_FINE_VOLUME_DOWN, 5}, {0xEC0, CMD_NOTE_CUT, 0}, {0xED2, CMD_NOTE_DELAY, 2},
        {0xEE2, CMD_PATTERN_DELAY, 2}, {0xEF0, CMD_IGNORED, 0xF0}, {0xF00, CMD_SET_SPEED, 0},
        {0xF1F, CMD_SET_SPEED, 0x1F}, {0xF20, CMD_SET_TEMPO, 0x20}, {0xFFF, CMD_SET_TEMPO, 0xFF},
    };
    for (const Case &c : cases) {
        SongCell cell = {};
        mod_translate_command(c.word, &cell);
        EXPECT_EQ(cell.command, c.command) << std::hex << c.word;
        EXPECT_EQ(cell.param, c.param) << std::hex << c.word;
    }
    // Only 000 is no command: every other word renews the channel on its
    // ticks, whatever it does.
    for (int word = 1; word < 0x1000; word++) {
        SongCell cell = {};
        mod_translate_command(static_cast<uint16_t>(word), &cell);
        ASSERT_NE(cell.command, CMD_NONE) << std::hex << word;
        ASSERT_LT(cell.command, SONG_COMMAND_COUNT) << std::hex << word;
    }
    mod_translate_command(0x123, nullptr);
    // The notes of the ProTracker table, and none off it.
    EXPECT_EQ(mod_note_of_period(856), 37);
    EXPECT_EQ(mod_note_of_period(428), 49);
    EXPECT_EQ(mod_note_of_period(113), 72);
    EXPECT_EQ(mod_note_of_period(430), 0);
    EXPECT_EQ(mod_note_of_period(0), 0);
}

// Multichannel MODs: every channel's cells where the file puts them, the
// pattern size from the channel count, and FLT8's patterns read from their
// two four-channel halves, its order entries counting halves.
TEST(MusicModule, MultichannelCellsAndFlt8Halves) {
    for (const char *signature : {"6CHN", "12CH", "32CH", "TDZ2"}) {
        ModBuilder b;
        modbuilder_init(&b);
        modbuilder_set_signature(&b, signature);
        ModSignature read;
        std::vector<uint8_t> probe(1084);
        memcpy(&probe[1080], signature, 4);
        ASSERT_EQ(mod_read_signature(probe.data(), &read), 1) << signature;
        modbuilder_set_channels(&b, read.channels);
        b.order[0] = 1;
        modbuilder_set_sample(&b, 1, modbuilder_saw(40, 8, 40), 64, 0, 0, 0);
        for (int ch = 0; ch < read.channels; ch++) {
            modbuilder_set_cell(&b, 1, ch, ch, 1 + ch % 31, 113 + ch, 0xC00 + ch);
            modbuilder_set_cell(&b, 1, 63, ch, 0, 856 - ch, 0xA01);
        }
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        ModPlayer *p = create(bytes);
        ASSERT_NE(p, nullptr) << signature;
        EXPECT_EQ(p->song->pattern_count, 2);
        EXPECT_NE(p->song->quirks & SONG_QUIRK_FINETUNED_PERIODS, 0u) << signature;
        EXPECT_EQ(data_offset(p, 1, bytes.data()), 1084 + 2L * 256 * read.channels);
        for (int ch = 0; ch < read.channels; ch++) {
            const SongCell c = cell_of(p, 1, ch, ch);
            EXPECT_EQ(c.instrument, 1 + ch % 31) << signature << " " << ch;
            EXPECT_EQ(c.period, 113 + ch) << signature << " " << ch;
            EXPECT_EQ(c.command, CMD_SET_VOLUME);
            EXPECT_EQ(c.param, ch);
            EXPECT_EQ(cell_of(p, 1, 63, ch).period, 856 - ch);
            if (ch > 0) {
                EXPECT_EQ(cell_of(p, 1, ch - 1, ch).period, 0) << signature << " " << ch;
            }
        }
        mod_player_destroy(p);
    }

    // FLT8: four-channel patterns 0 .. 5 in the file; order entries 2 and 4
    // name the eight-channel patterns 1 (file patterns 2 and 3) and 2 (4
    // and 5).
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_signature(&b, "FLT8");
    const uint8_t order[] = {2, 4, 2};
    modbuilder_set_order(&b, order, 3);
    for (int half = 0; half < 6; half++)
        for (int ch = 0; ch < 4; ch++) modbuilder_set_cell(&b, half, 10, ch, 1, 200 + 10 * half + ch, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    EXPECT_EQ(bytes.size(), 1084u + 6 * 1024);
    ModuleCheck check;
    ModPlayer *p = mod_player_create_checked(44100, bytes.data(), static_cast<long>(bytes.size()), &check);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(check.split_patterns, 1);
    EXPECT_EQ(check.pattern_count, 3);
    EXPECT_EQ(p->channel_count, 8);
    EXPECT_EQ(p->song->orders[0], 1);
    EXPECT_EQ(p->song->orders[1], 2);
    EXPECT_EQ(p->song->orders[2], 1);
    for (int pattern = 0; pattern < 3; pattern++)
        for (int ch = 0; ch < 8; ch++)
            EXPECT_EQ(cell_of(p, pattern, 10, ch).period, 200 + 10 * (2 * pattern + ch / 4) + ch % 4)
                << pattern << " " << ch;
    mod_player_destroy(p);
    // Cut inside the last half: truncated.
    EXPECT_EQ(module_check(bytes.data(), static_cast<long>(bytes.size()) - 1, &check), MODULE_TRUNCATED_PATTERNS);
    EXPECT_EQ(check.needed_bytes, 1084 + 6 * 1024);
}

namespace {

// A plausible Soundtracker module: 15 samples, two patterns, notes.
ModBuilder soundtracker_song() {
    ModBuilder b;
    modbuilder_init(&b);
    b.sample_count = 15;
    modbuilder_set_title(&b, "st-01: drums");
    memcpy(b.samples[0].name, "st-01:bassdrum", 14);
    modbuilder_set_sample(&b, 1, modbuilder_saw(300, 30, 60), 64, 0, 0, 0);
    modbuilder_set_sample(&b, 15, modbuilder_square(200, 20, 50, -50), 40, 0, 0, 200);
    const uint8_t order[] = {0, 1, 0};
    modbuilder_set_order(&b, order, 3);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0);
    modbuilder_set_cell(&b, 1, 0, 3, 15, 214, 0xC20);
    modbuilder_set_cell(&b, 1, 1, 2, 16, 214, 0);  // no sample 16 in this layout
    return b;
}

std::string refusal_sentence(const std::vector<uint8_t> &bytes, ModuleCheck *check) {
    module_check(bytes.data(), static_cast<long>(bytes.size()), check);
    char text[256];
    module_refusal_text(check, "x.mod", text, sizeof text);
    return text;
}

}  // namespace

// Soundtracker's 15-sample modules are played when their header is
// plausible, and refused as before when it is not.
TEST(MusicModule, SoundtrackerModulesWhenTheHeaderIsPlausible) {
    ModBuilder b = soundtracker_song();
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ASSERT_EQ(bytes.size(), 600u + 2 * 1024 + 300 + 200);
    ModuleCheck check;
    ModPlayer *p = mod_player_create_checked(44100, bytes.data(), static_cast<long>(bytes.size()), &check);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(check.sample_count, 15);
    EXPECT_EQ(p->song->sample_count, 15);
    EXPECT_EQ(p->song->instrument_count, 15);
    EXPECT_EQ(p->song_length, 3);
    EXPECT_EQ(p->channel_count, 4);
    EXPECT_STREQ(p->song->format_name, "MOD (Soundtracker, 15 samples)");
    EXPECT_EQ(data_offset(p, 1, bytes.data()), 600 + 2 * 1024);
    EXPECT_EQ(data_offset(p, 15, bytes.data()), 600 + 2 * 1024 + 300);
    EXPECT_EQ(sample_of(p, 15).loop, SONG_LOOP_FORWARD);
    EXPECT_STREQ(sample_of(p, 1).name, "st-01:bassdrum        ");
    EXPECT_EQ(cell_of(p, 0, 0, 0).period, 428);
    EXPECT_EQ(cell_of(p, 1, 0, 3).instrument, 15);
    EXPECT_EQ(cell_of(p, 1, 1, 2).instrument, 0);
    EXPECT_EQ(song_valid(p->song), 1);
    // It plays: the first note sounds after the first row's ticks.
    std::vector<int16_t> out = music_render_s16(p, 6000);
    EXPECT_NE(out[2 * 5800], 0);
    mod_player_destroy(p);
    // Sample data cut short: still played (cut as a MOD's is).
    EXPECT_EQ(module_check(bytes.data(), static_cast<long>(bytes.size()) - 400, &check), MODULE_ACCEPTED);

    // Each implausible header is no module.
    struct Break {
        const char *what;
        size_t offset;
        uint8_t value;
    } breaks[] = {
        {"control character in the title", 3, 0x07},
        {"control character in a sample name", 20 + 30 * 14 + 5, 0x1b},
        {"volume above 64", 20 + 30 * 2 + 25, 65},
        {"finetune byte above 15", 20 + 30 * 7 + 24, 0x10},
        {"song length 0", 470, 0},
        {"song length 129", 470, 129},
        {"order entry 128", 472 + 100, 128},
        {"patterns past the end", 472 + 5, 90},
    };
    for (const Break &k : breaks) {
        std::vector<uint8_t> wrong = bytes;
        wrong[k.offset] = k.value;
        const std::string sentence = refusal_sentence(wrong, &check);
        EXPECT_EQ(sentence.rfind("'x.mod' is not a module: no MOD, XM, S3M or IT signature", 0), 0u) << k.what << ": " << sentence;
        EXPECT_EQ(check.refusal, MODULE_UNKNOWN_SIGNATURE) << k.what;
        EXPECT_EQ(check.format, MODULE_FORMAT_NONE) << k.what;
    }
    // Far more bytes than the header declares: no Soundtracker's file.
    std::vector<uint8_t> longer = bytes;
    longer.resize(bytes.size() + MOD_SOUNDTRACKER_SLACK_BYTES, 0);
    EXPECT_EQ(module_check(longer.data(), static_cast<long>(longer.size()), &check), MODULE_ACCEPTED);
    longer.push_back(0);
    EXPECT_EQ(module_check(longer.data(), static_cast<long>(longer.size()), &check), MODULE_UNKNOWN_SIGNATURE);
}

// Formats the engine knows but does not play are refused by name.
TEST(MusicModule, UnsupportedFormatsAreRefusedByName) {
    struct Case {
        size_t offset;
        const char *signature;
        size_t named_by;  // the bytes that name the format
        const char *sentence;
    } cases[] = {
        {0, "MMD0", 4, "'x.mod': MED modules are not supported"},
        {0, "MMD3", 4, "'x.mod': MED modules are not supported"},
        {0, "MTM\x10", 4, "'x.mod': MTM modules are not supported"},
        {0, "OKTASONG", 8, "'x.mod': OKT modules are not supported"},
        {0, "DBM0", 4, "'x.mod': DBM modules are not supported"},
        {0, "MO3\x05", 3, "'x.mod': MO3 modules are not supported"},
        {0, "FAR\xFE", 4, "'x.mod': FAR modules are not supported"},
        {0, "MAS_UTrack_V004", 14, "'x.mod': ULT modules are not supported"},
        {0, "MT20", 4, "'x.mod': MT2 modules are not supported"},
        {44, "PTMF", 4, "'x.mod': PTM modules are not supported"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes(3000, 0x41);
        memcpy(&bytes[c.offset], c.signature, strlen(c.signature));
        ModuleCheck check;
        EXPECT_EQ(refusal_sentence(bytes, &check), c.sentence) << c.signature;
        EXPECT_EQ(check.refusal, MODULE_UNSUPPORTED_FORMAT);
        EXPECT_EQ(mod_player_create(44100, bytes.data(), static_cast<long>(bytes.size())), nullptr);
        // Too short to hold the signature: not recognised.
        module_check(bytes.data(), static_cast<long>(c.offset + c.named_by - 1), &check);
        EXPECT_NE(check.refusal, MODULE_UNSUPPORTED_FORMAT) << c.signature;
    }
    // A MOD whose title happens to begin with such a name is still a MOD:
    // signatures at byte 1080 are looked at first.
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_title(&b, "IMPMMMD0 demo");
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModuleCheck check;
    EXPECT_EQ(module_check(bytes.data(), static_cast<long>(bytes.size()), &check), MODULE_ACCEPTED);
}
