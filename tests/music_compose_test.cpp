// The demo's own module: the committed "res/kevo.mod" is exactly what
// tools/compose_kevo writes, and it is what the demo needs: an accepted
// four-channel module, all channels and the promised commands used, looped
// and one-shot samples that join cleanly, over a minute of music before it
// loops, with no silent gap.
#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "support/program_run.h"

static const std::string KEVO = ENGINE_SOURCE_DIR "/res/kevo.mod";
static const std::string COMPOSER = ENGINE_BINARY_DIR "/compose_kevo";

// Module layout, read here straight from the file bytes rather than
// through the player's parser.
constexpr size_t HEADERS = 20, HEADER_BYTES = 30, SONG_LENGTH = 950, ORDERS = 952,
                 SIGNATURE = 1080, PATTERNS = 1084, PATTERN_BYTES = 1024;

static unsigned be16(const std::vector<uint8_t> &m, size_t at) { return m[at] << 8 | m[at + 1]; }

static std::vector<uint8_t> load_kevo() {
    int ok = 0;
    std::vector<uint8_t> bytes;
    ok = read_whole_file(KEVO, &bytes);
    EXPECT_TRUE(ok) << KEVO;
    return bytes;
}

TEST(ComposeKevo, ToolReproducesTheCommittedModuleByteForByte) {
    const std::string dir = make_temp_dir("compose_kevo");
    ASSERT_FALSE(dir.empty());
    const std::string out = dir + "/kevo.mod";
    ProcessResult r = run_program(COMPOSER, {out}, {}, nullptr, -1, SIGTERM);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    int ok = 0;
    std::vector<uint8_t> fresh;
    ok = read_whole_file(out, &fresh);
    ASSERT_TRUE(ok);
    std::vector<uint8_t> committed = load_kevo();
    ASSERT_EQ(fresh.size(), committed.size());
    size_t first_difference = fresh.size();
    for (size_t i = 0; i < fresh.size(); i++)
        if (fresh[i] != committed[i]) {
            first_difference = i;
            break;
        }
    EXPECT_EQ(first_difference, fresh.size()) << "res/kevo.mod differs from the composer's output";

    // Wrong use (the usage status, 2) and an unwritable target (1): a clear
    // line, no file.
    r = run_program(COMPOSER, {}, {}, nullptr, -1, SIGTERM);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: compose_kevo"), std::string::npos);
    const std::string bad = dir + "/missing/dir/kevo.mod";
    r = run_program(COMPOSER, {bad}, {}, nullptr, -1, SIGTERM);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_lines_with(r.err, "compose_kevo: cannot create '" + bad + "'"), 1) << r.err;
    EXPECT_FALSE(file_exists(bad));
    remove_tree(dir);
}

TEST(ComposeKevo, UsesAllChannelsThePromisedCommandsAndBothKindsOfSample) {
    std::vector<uint8_t> m = load_kevo();
    ASSERT_GT(m.size(), PATTERNS);
    EXPECT_EQ(std::string(m.begin() + SIGNATURE, m.begin() + SIGNATURE + 4), "M.K.");
    const int song_length = m[SONG_LENGTH];
    int patterns = 0;
    for (int i = 0; i < 128; i++) patterns = std::max(patterns, (m[ORDERS + i] & 63) + 1);
    ASSERT_GE(m.size(), PATTERNS + patterns * PATTERN_BYTES);

    // Commands and notes over the order positions actually played.
    std::set<int> commands;  // command number, or 0xE0 + x for Exy
    int notes_per_channel[4] = {0, 0, 0, 0};
    std::set<int> samples_used;
    int jumps_in_last_position = 0;
    for (int pos = 0; pos < song_length; pos++) {
        const int pattern = m[ORDERS + pos] & 63;
        for (int row = 0; row < 64; row++)
            for (int ch = 0; ch < 4; ch++) {
                const size_t at = PATTERNS + pattern * PATTERN_BYTES + (row * 4 + ch) * 4;
                const int sample = (m[at] & 0xF0) | (m[at + 2] >> 4);
                const int period = (m[at] & 0x0F) << 8 | m[at + 1];
                const int command = m[at + 2] & 0x0F, param = m[at + 3];
                if (period) notes_per_channel[ch]++;
                if (sample) samples_used.insert(sample);
                if (command == 0 && param == 0) continue;
                commands.insert(command == 0xE ? 0xE0 + (param >> 4) : command);
                if (command == 0xB && pos == song_length - 1) jumps_in_last_position++;
            }
    }
    for (int ch = 0; ch < 4; ch++) EXPECT_GT(notes_per_channel[ch], 32) << "channel " << ch;
    const int wanted[] = {0x0, 0x1, 0x2, 0x3, 0x4, 0x7, 0x9, 0xA, 0xB, 0xC, 0xD, 0xF,
                          0xE6, 0xE9, 0xEC, 0xED};
    for (int c : wanted) EXPECT_TRUE(commands.count(c)) << "command " << std::hex << c;
    EXPECT_EQ(jumps_in_last_position, 1) << "the song loops with a position jump";

    // At least six distinct instruments, looped and one-shot, every loop
    // inside its sample and joining without a step: the byte before the
    // loop's end leads into its start no more steeply than the sample's own
    // steepest step inside the loop.
    EXPECT_GE(samples_used.size(), 6u);
    int looped = 0, one_shot = 0;
    size_t data = PATTERNS + patterns * PATTERN_BYTES;
    for (int n = 1; n <= 31; n++) {
        const size_t h = HEADERS + (n - 1) * HEADER_BYTES;
        const unsigned length = be16(m, h + 22) * 2, loop_start = be16(m, h + 26) * 2,
                       loop_length = be16(m, h + 28) * 2;
        ASSERT_LE(data + length, m.size()) << "sample " << n;
        if (samples_used.count(n)) {
            EXPECT_GT(length, 0u) << "sample " << n;
            EXPECT_LE(m[h + 25], 64) << "sample " << n;
        }
        if (length && loop_length > 2) {
            looped++;
            ASSERT_LE(loop_start + loop_length, length) << "sample " << n;
            const int8_t *s = reinterpret_cast<const int8_t *>(&m[data]);
            int steepest = 0;
            for (unsigned i = loop_start + 1; i < loop_start + loop_length; i++)
                steepest = std::max(steepest, std::abs(s[i] - s[i - 1]));
            const int seam = std::abs(s[loop_start] - s[loop_start + loop_length - 1]);
            EXPECT_LE(seam, steepest) << "sample " << n << " clicks at its loop";
        } else if (length) {
            one_shot++;
            // A one-shot sample fades out: its last bytes are near 0.
            const int8_t last = static_cast<int8_t>(m[data + length - 1]);
            EXPECT_LE(std::abs(last), 2) << "sample " << n << " ends abruptly";
        }
        data += length;
    }
    EXPECT_GE(looped, 3);
    EXPECT_GE(one_shot, 3);
}

TEST(ComposeKevo, PlaysOverAMinuteBeforeLoopingWithNoSilentGap) {
    std::vector<uint8_t> m = load_kevo();
    ModPlayer *player = mod_player_create(44100, m.data(), static_cast<long>(m.size()));
    ASSERT_NE(player, nullptr);
    mod_player_set_loop(player, 0);
    // RMS level of each half second until the song ends (looping off).
    const int window = 22050;
    std::vector<int16_t> buffer(2 * window);
    std::vector<double> levels;
    int windows = 0;
    while (!mod_player_is_finished(player) && windows < 600) {
        mod_player_render_s16(player, buffer.data(), window);
        double sum = 0.0;
        for (int16_t v : buffer) sum += static_cast<double>(v) * v;
        levels.push_back(std::sqrt(sum / buffer.size()));
        windows++;
    }
    ASSERT_TRUE(mod_player_is_finished(player)) << "the song never ends with looping off";
    mod_player_destroy(player);
    const double seconds = windows * 0.5;
    EXPECT_GE(seconds, 60.0);
    EXPECT_LE(seconds, 180.0);
    // Every half second but the first (the song starts after one row) and
    // the last (it ends part way through) is clearly audible: above -40 dB
    // of full scale.
    for (size_t i = 1; i + 1 < levels.size(); i++)
        EXPECT_GT(levels[i], 327.0) << "near-silence at " << i * 0.5 << " s";
}
