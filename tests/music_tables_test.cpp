// The music tables re-derived from their rules, and the committed table
// source checked against its generator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "music/mod_periods_internal.h"
#include "music/mod_tables_internal.h"

TEST(MusicTables, PeriodsAndRates) {
    // Three octaves of falling periods, each about a semitone from the next
    // (the historical values round within half a percent of 2^(1/12)).
    EXPECT_EQ(period_table[0], 856);
    EXPECT_EQ(period_table[12], 428);
    EXPECT_EQ(period_table[24], 214);
    EXPECT_EQ(period_table[35], 113);
    for (int i = 0; i + 1 < PERIOD_TABLE_NOTES; i++) {
        double ratio = static_cast<double>(period_table[i]) / period_table[i + 1];
        EXPECT_NEAR(ratio, pow(2.0, 1.0 / 12), 0.005) << i;
    }
    for (int i = PERIOD_TABLE_NOTES; i < PERIOD_TABLE_ENTRIES; i++) EXPECT_EQ(period_table[i], 0);

    // The finetuned lowest octave: within 0.4% of the equal-tempered
    // period, finetune 0 being the note table's, and each row's periods
    // falling between its neighbours' (an eighth of a semitone apart).
    for (int f = -8; f <= 7; f++) {
        for (int n = 0; n < FINETUNE_PERIOD_NOTES; n++) {
            const int period = finetune_period_table[f + 8][n];
            EXPECT_NEAR(period, 856 * pow(2.0, -n / 12.0 - f / 96.0), 0.004 * period) << f << " " << n;
            if (f == 0) {
                EXPECT_EQ(period, period_table[n]) << n;
            }
            if (f > -8) {
                EXPECT_LE(period, finetune_period_table[f + 7][n]) << f << " " << n;
            }
        }
    }

    for (int p = 113; p <= 856; p++) ASSERT_EQ(period_rate_table[p - 113], 3546895 / p) << p;
    EXPECT_EQ(period_rate_table[0], 31388);
    EXPECT_EQ(period_rate_table[743], 4143);
}

TEST(MusicTables, FinetuneAndSine) {
    for (int f = 1; f <= 15; f++) {
        int eighths = f <= 7 ? f : f - 16;
        double exact = 32768.0 * pow(2.0, eighths / 96.0);
        EXPECT_NEAR(finetune_table[f - 1], exact, 3.0) << f;
    }
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ(vibrato_sine[i], static_cast<int>(floor(255.0 * sin(M_PI * i / 32.0) + 1e-9))) << i;
    }
    EXPECT_EQ(vibrato_sine[16], 255);
    // The fractions of an octave: 2^(i / 768) in 1/32768, rising, a
    // semitone every 64 entries.
    for (int i = 0; i < OCTAVE_FRACTION_ENTRIES; i++)
        ASSERT_EQ(octave_fraction_table[i], lround(32768.0 * pow(2.0, i / 768.0))) << i;
    EXPECT_EQ(octave_fraction_table[0], 32768);
    EXPECT_EQ(octave_fraction_table[64], 34716);   // 2^(1/12)
    EXPECT_EQ(octave_fraction_table[384], 46341);  // sqrt(2)
}

TEST(MusicTables, CommittedSourceMatchesGenerator) {
    std::string tool = std::string(ENGINE_BINARY_DIR) + "/music_tables";
    FILE *pipe = popen(tool.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string generated;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) generated.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0);
    std::ifstream file(std::string(ENGINE_SOURCE_DIR) + "/src/music/mod_tables.cpp");
    std::stringstream committed;
    committed << file.rdbuf();
    EXPECT_EQ(generated, committed.str());
}

// XM's Amiga notes in quarter periods, as openmpt123 plays them (C-4 at
// finetune +37 sounds at 8481.9 Hz: 14317456 / 1688): the finetune in
// sixteenths of a semitone, rounded down, the odd ones between two of
// ProTracker's eighths; octaves by halving.
TEST(MusicTables, XmAmigaNotePeriods) {
    struct Case { int note, relative, finetune, period; } cases[] = {
        {49, 0, 0, 1712}, {49, 0, 37, 1688}, {49, 0, -90, 1788}, {49, 0, -1, 1718},
        {49, 0, -40, 1743},   // (875 + 868) x 16 >> 4
        {49, 0, 124, 1622},   // (814 + C#'s 808) x 16 >> 4
        {48, 0, 124, 1724},   // B-3: 431 x 2 x 16 >> 3
        {78, 0, -40, 326},    // F-6: (655 + 651) x 16 >> 6, the half period dropped
        {34, 0, 0, 4064},     // ProTracker's 508, not 2^(-15/12) x 1712
        {37, 12, 0, 1712}, {1, 0, -128, 29024},  // C-0 at the lowest finetune: 907 x 32
    };
    for (const Case &c : cases) {
        SongSample sample = {};
        sample.finetune = static_cast<int8_t>(c.finetune);
        sample.relative_note = static_cast<int8_t>(c.relative);
        EXPECT_EQ(note_period(SONG_FREQUENCY_AMIGA, c.note, &sample), c.period) << c.note << " " << c.finetune;
    }
}

// A finetuned sample's MOD notes at ProTracker's finetuned periods, as
// openmpt123 plays a six-channel MOD (each Hz measured from its renders),
// under SONG_QUIRK_FINETUNED_PERIODS only; off the table, and without the
// quirk, the rate times the finetune's multiplier.
TEST(MusicTables, FinetunedModPeriods) {
    struct Case { int period, finetune, hz; } cases[] = {
        {254, -3, 13641},   // 3546895 / 260
        {428, -3, 8107},    // 3546895 / (875 / 2)
        {113, 7, 32917},    // 3546895 / (431 / 4)
        {856, -8, 3910},    // 3546895 / 907
        {428, 0, 8287}, {430, -3, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(finetuned_frequency(c.period, static_cast<int8_t>(c.finetune * 16)), static_cast<uint32_t>(c.hz)) << c.period;
    Song song = {};
    song.frequency_mode = SONG_FREQUENCY_MOD_TABLE;
    Voice v;
    voice_init(&v, 44100);
    const auto step_of = [](uint32_t hz) { return static_cast<uint32_t>(static_cast<uint64_t>(hz) * 65536 / 44100); };
    set_voice_period(&v, &song, 428, -3 * 16, 0);
    EXPECT_EQ(v.step, step_of((8287u * 32066u) >> 15));
    song.quirks = SONG_QUIRK_FINETUNED_PERIODS;
    set_voice_period(&v, &song, 428, -3 * 16, 0);
    EXPECT_EQ(v.step, step_of(8107));
    set_voice_period(&v, &song, 430, -3 * 16, 0);
    EXPECT_EQ(v.step, step_of((8248u * 32066u) >> 15));
}

// Exact quarter periods in 65536ths (Impulse Tracker's S3Ms): C-4 at the
// C2SPD itself, octaves halving and doubling, the fraction kept.
TEST(MusicTables, ExactNotePeriods) {
    EXPECT_NEAR(exact_note_period(49, 44100) / 65536.0, 14317456.0 / 44100, 0.0001);
    EXPECT_NEAR(exact_note_period(49, 8363) / 65536.0, 1712.0, 0.001);
    for (int note = 1; note <= 96; note++) {
        const double exact = 14317456.0 / (19643 * pow(2.0, (note - 49) / 12.0));
        EXPECT_NEAR(exact_note_period(note, 19643) / 65536.0, exact, exact * 0.00004) << note;
    }
    EXPECT_EQ(exact_note_period(1, 100) >> 16, 65535u);   // kept within 16 bits
    EXPECT_EQ(exact_note_period(0, 8363), 0u);
    EXPECT_EQ(exact_note_period(49, 0), 0u);
    // The fraction heard: 324.65 quarters of C2SPD 44100 play 44100 Hz, not
    // the 44190 of 324.
    Song song = {};
    song.frequency_mode = SONG_FREQUENCY_AMIGA;
    Voice v;
    voice_init(&v, 44100);
    const uint32_t fine = exact_note_period(49, 44100);
    set_voice_period(&v, &song, static_cast<uint16_t>(fine >> 16), 0, static_cast<uint16_t>(fine));
    EXPECT_NEAR(v.step, 65536.0, 2);
}

TEST(MusicTables, ArpeggioSteps) {
    EXPECT_EQ(arpeggio_period(428, 7), 285);
    EXPECT_EQ(arpeggio_period(428, 3), 360);
    EXPECT_EQ(arpeggio_period(428, 0), 428);
    EXPECT_EQ(arpeggio_period(428, 15), 180);
    EXPECT_EQ(arpeggio_period(113, 1), 0);     // beyond the highest note
    EXPECT_EQ(arpeggio_period(120, 15), 0);    // index 49: entry 47
    EXPECT_EQ(arpeggio_period(430, 5), 430);   // not a table note
    EXPECT_EQ(arpeggio_period(0, 5), 0);
}

TEST(MusicTables, ChannelPeriodToFrequency) {
    Voice v;
    voice_init(&v, 44100);
    auto step_of = [](uint32_t hz) { return static_cast<uint32_t>(static_cast<uint64_t>(hz) * 65536 / 44100); };
    set_channel_period(&v, 428, 0);
    EXPECT_EQ(v.step, 12315u);
    set_channel_period(&v, 428, 1);
    EXPECT_EQ(v.step, step_of((8287u * 33005u) >> 15));
    set_channel_period(&v, 428, 8);
    EXPECT_EQ(v.step, step_of((8287u * 30930u) >> 15));
    set_channel_period(&v, 113, 7);
    EXPECT_EQ(v.step, step_of((31388u * 34464u) >> 15));
    // Outside the rate table: 0 keeps the frequency, others play the end.
    set_channel_period(&v, 300, 0);
    uint32_t before = v.step;
    set_channel_period(&v, 0, 0);
    EXPECT_EQ(v.step, before);
    set_channel_period(&v, 5, 0);
    EXPECT_EQ(v.step, step_of(31388));
    set_channel_period(&v, 4095, 0);
    EXPECT_EQ(v.step, step_of(4143));
    set_channel_period(&v, 428, 200);  // no such finetune: none
    EXPECT_EQ(v.step, 12315u);
    set_channel_period(nullptr, 428, 0);
}
