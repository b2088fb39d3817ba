// Untrusted modules: truncated at every region, absurd sample numbers,
// periods, commands, order entries and loop points, random headers, and
// extreme output rates, for four-channel MODs and every variant
// (multichannel, FLT8, Soundtracker's 15 samples); and the committed fuzz
// seeds, the builders' modules of each kind. None may crash or read outside the module (the
// module lives in an exactly sized heap block, so AddressSanitizer catches
// any such read in the sanitizer build); every output stays in range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_format_internal.h"
#include "music/player_state_internal.h"  // the player's record, read by white-box checks
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "support/test_files.h"

namespace {

// Deterministic pseudo-random numbers for the generated modules.
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

// Creates a player over an exactly sized copy of the first `size` bytes and
// renders `frames` looped frames; returns whether creation succeeded.
bool create_and_play(const std::vector<uint8_t> &bytes, size_t size, int frames, int rate = 44100) {
    uint8_t *module = music_copy_module(std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
    ModPlayer *p = mod_player_create(rate, module, static_cast<long>(size));
    bool created = p != nullptr;
    if (p) {
        mod_player_set_loop(p, 1);
        // Each voice adds -32768 .. 32512 to its side (two on a side of a
        // four-channel MOD).
        const int voices = std::max(2, std::max<int>(p->layout.left_count, p->layout.right_count));
        std::vector<int32_t> accum(2 * 2048);
        for (int done = 0; done < frames; done += 2048) {
            mod_player_render(p, accum.data(), 2048);
            for (int32_t s : accum) {
                if (s < -32768 * voices || s > 32512 * voices) {
                    ADD_FAILURE() << "sample " << s << " out of range, size " << size;
                    break;
                }
            }
        }
        // The state keeps its invariants.
        EXPECT_LT(p->order, p->song_length);
        EXPECT_LT(p->row, p->song->patterns[p->song->orders[p->order]].rows);
        EXPECT_GE(p->samples_per_tick, 1);
        mod_player_destroy(p);
    }
    music_free_module(module);
    return created;
}

}  // namespace

TEST(MusicMalformed, TruncatedAtEveryRegion) {
    ModBuilder b;
    modbuilder_busy_song(&b);
    // Sample 3 plays from offset 0x40 x 256 on channel 2 too.
    modbuilder_set_cell(&b, 1, 5, 2, 3, 214, 0x940);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    const size_t patterns_end = 1084 + 2 * 1024;
    // Header and patterns: every size is refused.
    for (size_t size = 0; size < patterns_end; size += (size < 1100 ? 1 : 17)) {
        ASSERT_FALSE(create_and_play(bytes, size, 0)) << size;
    }
    // Sample data: every cut is played, each sample ending where the file does.
    for (size_t size = patterns_end; size <= bytes.size(); size += 7) {
        ASSERT_TRUE(create_and_play(bytes, size, 44100 / 4)) << size;
    }
    // Around each sample's first and last bytes.
    for (int n = 1; n <= 5; n++) {
        size_t at = modbuilder_sample_offset(&b, n);
        size_t from = at - 3 < patterns_end ? patterns_end : at - 3;
        for (size_t size = from; size <= at + 3 && size <= bytes.size(); size++) {
            ASSERT_TRUE(create_and_play(bytes, size, 44100 / 4)) << size;
        }
    }
}

TEST(MusicMalformed, AbsurdCellsOrdersAndLoops) {
    for (uint32_t seed = 1; seed <= 12; seed++) {
        Lcg rng = {seed};
        ModBuilder b;
        modbuilder_init(&b);
        modbuilder_set_signature(&b, seed % 2 ? "M.K." : "M!K!");
        for (int n = 1; n <= 31; n++) {
            if (rng.below(3) == 0) continue;
            std::vector<int8_t> data = modbuilder_noise(static_cast<uint32_t>(rng.below(3000)), 127);
            modbuilder_set_sample(&b, n, data, rng.below(256), rng.below(256), 0, 0);
            // Loop points anywhere, including far past the sample.
            b.samples[n - 1].loop_start_words = static_cast<uint16_t>(rng.below(4) == 0 ? 0xFFFF : rng.below(1600));
            b.samples[n - 1].loop_length_words = static_cast<uint16_t>(rng.below(4) == 0 ? 0xFFFF : rng.below(1600));
            // Some headers declare far more data than the file holds.
            if (rng.below(5) == 0) b.samples[n - 1].length_words = 0xFFFF;
        }
        for (int i = 0; i < 128; i++) b.order[i] = static_cast<uint8_t>(rng.below(256));
        b.song_length = static_cast<uint8_t>(rng.below(256));
        int patterns = modbuilder_pattern_count(&b);
        for (int p = 0; p < patterns; p++) {
            for (int row = 0; row < 64; row++) {
                for (int ch = 0; ch < 4; ch++) {
                    modbuilder_set_cell(&b, p, row, ch, rng.below(256), rng.below(4096), rng.below(4096));
                }
            }
        }
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        // The built file holds the declared lengths; cut its end off too.
        EXPECT_TRUE(create_and_play(bytes, bytes.size(), 44100)) << seed;
        EXPECT_TRUE(create_and_play(bytes, bytes.size() - bytes.size() / 3, 44100)) << seed;
    }
}

TEST(MusicMalformed, RandomHeaders) {
    // Random bytes with an accepted signature: whatever the counts say,
    // creation either refuses or plays safely.
    int created = 0;
    for (uint32_t seed = 1; seed <= 150; seed++) {
        Lcg rng = {seed * 7919u};
        size_t size = 1084 + static_cast<size_t>(rng.below(40000));
        std::vector<uint8_t> bytes(size);
        for (uint8_t &byte : bytes) byte = static_cast<uint8_t>(rng.next());
        const char *signatures[] = {"M.K.", "M!K!", "4CHN", "MzKz", "6CHN", "FLT8", "16CH", "TDZ1"};
        memcpy(&bytes[MOD_SIGNATURE_OFFSET], signatures[seed % 8], 4);
        // Small order entries half of the time, so that the patterns fit.
        if (seed % 2) {
            for (int i = 0; i < 128; i++) bytes[MOD_ORDER_TABLE_OFFSET + i] %= 8;
        }
        if (create_and_play(bytes, size, 44100 / 2)) created++;
    }
    EXPECT_GT(created, 20);
}

TEST(MusicMalformed, ExtremeRatesAndTempos) {
    ModBuilder b;
    modbuilder_busy_song(&b);
    modbuilder_set_cell(&b, 0, 0, 3, 0, 0, 0xFFF);   // tempo 255
    modbuilder_set_cell(&b, 0, 1, 3, 0, 0, 0xF01);   // speed 1
    modbuilder_set_cell(&b, 0, 2, 3, 0, 0, 0xEEF);   // long pattern delay
    modbuilder_set_cell(&b, 0, 3, 0, 0, 0, 0x9FF);   // offset far past the sample
    modbuilder_set_cell(&b, 0, 4, 0, 0, 0, 0xEDF);   // delay past the row
    modbuilder_set_cell(&b, 0, 5, 0, 0, 0, 0xE9F);
    modbuilder_set_cell(&b, 0, 6, 1, 0, 4095, 0x2FF);
    modbuilder_set_cell(&b, 0, 7, 1, 0, 1, 0x1FF);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    for (int rate : {102, 103, 1000, 8000, 44100, 65535}) {
        EXPECT_TRUE(create_and_play(bytes, bytes.size(), 30000, rate)) << rate;
    }
    // At 102 Hz and tempo 255 a tick lasts exactly one frame.
    uint8_t *module = music_copy_module(bytes);
    ModPlayer *p = mod_player_create(102, module, static_cast<long>(bytes.size()));
    ASSERT_NE(p, nullptr);
    music_run_ticks(p, 6);
    EXPECT_EQ(p->tempo, 255);
    EXPECT_EQ(p->samples_per_tick, 1);
    mod_player_destroy(p);
    music_free_module(module);
}

namespace {

// A song of every command and sample kind in one of the MOD variants:
// `signature` (channels from it), or Soundtracker's layout when null.
ModBuilder variant_song(const char *signature, int channels, uint32_t seed) {
    ModBuilder b;
    modbuilder_random_song(&b, seed);
    // The random song's cells are four channels wide; spread them over
    // the variant's channels.
    const std::vector<uint8_t> four = b.pattern_bytes;
    modbuilder_set_channels(&b, channels);
    b.pattern_bytes.clear();
    if (signature) {
        modbuilder_set_signature(&b, signature);
    } else {
        b.sample_count = 15;
        memset(b.title, 0, sizeof b.title);
        for (int n = 0; n < 15; n++) {
            memset(b.samples[n].name, 0, sizeof b.samples[n].name);
            b.samples[n].finetune_byte = 0;
            if (b.samples[n].volume > 64) b.samples[n].volume = 64;
        }
    }
    const int patterns = static_cast<int>(four.size() / 1024);
    for (int p = 0; p < patterns; p++)
        for (int row = 0; row < 64; row++)
            for (int ch = 0; ch < channels; ch++) {
                const uint8_t *cell = &four[static_cast<size_t>(((p * 64 + row) * 4 + ch % 4) * 4)];
                const int sample = (cell[0] & 0xF0) | (cell[2] >> 4);
                modbuilder_set_cell(&b, p, row, ch, signature ? sample : sample % 16, ((cell[0] & 0xF) << 8) | cell[1],
                                    ((cell[2] & 0xF) << 8) | cell[3]);
            }
    return b;
}

}  // namespace

// Every variant cut at every region: the header and the patterns are
// refused at every size, every cut of the sample data plays.
TEST(MusicMalformed, EveryVariantTruncatedAtEveryRegion) {
    struct Variant {
        const char *signature;
        int channels;
    } variants[] = {{"6CHN", 6}, {"FLT8", 4}, {"12CH", 12}, {"TDZ1", 1}, {nullptr, 4}};
    for (const Variant &v : variants) {
        ModBuilder b = variant_song(v.signature, v.channels, 5);
        std::vector<uint8_t> bytes = modbuilder_build(&b);
        ModuleCheck check;
        ASSERT_EQ(module_check(bytes.data(), static_cast<long>(bytes.size()), &check), MODULE_ACCEPTED)
            << (v.signature ? v.signature : "15 samples");
        const size_t patterns_end = check.sample_data_offset;
        for (size_t size = 0; size < patterns_end; size += (size < 1100 ? 3 : 101))
            ASSERT_FALSE(create_and_play(bytes, size, 0)) << size;
        for (size_t size = patterns_end; size <= bytes.size(); size += 97)
            ASSERT_TRUE(create_and_play(bytes, size, 44100 / 8)) << size;
        EXPECT_TRUE(create_and_play(bytes, bytes.size(), 44100 * 2));
    }
}

// The committed fuzz seeds are exactly the builders' modules, one of each
// kind the reader takes. MUSIC_WRITE_SEEDS=1 rewrites them.
TEST(MusicMalformed, CommittedFuzzSeedsMatchTheBuilders) {
    struct Seed {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Seed> seeds;
    ModBuilder b = variant_song("8CHN", 8, 3);
    seeds.push_back({"eight_channels.mod", modbuilder_build(&b)});
    b = variant_song("FLT8", 4, 4);
    seeds.push_back({"flt8.mod", modbuilder_build(&b)});
    b = variant_song(nullptr, 4, 6);
    seeds.push_back({"soundtracker.mod", modbuilder_build(&b)});
    b = variant_song("TDZ3", 3, 8);
    seeds.push_back({"three_channels.mod", modbuilder_build(&b)});
    const std::string dir = std::string(ENGINE_SOURCE_DIR) + "/fuzz/corpus/music_module_fuzz";
    const char *write = getenv("MUSIC_WRITE_SEEDS");
    for (const Seed &seed : seeds) {
        const std::string path = dir + "/" + seed.name;
        if (write && std::string(write) == "1") {
            ASSERT_TRUE(write_whole_file(path, seed.bytes));
        }
        std::vector<uint8_t> committed;
        ASSERT_TRUE(read_whole_file(path, &committed)) << path << " missing; run with MUSIC_WRITE_SEEDS=1";
        EXPECT_TRUE(committed == seed.bytes) << path << " is stale";
        // Each is played as the kind it is.
        ModuleCheck check;
        EXPECT_EQ(module_check(seed.bytes.data(), static_cast<long>(seed.bytes.size()), &check), MODULE_ACCEPTED)
            << seed.name;
    }
}
