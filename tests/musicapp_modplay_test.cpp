// modplay, the real program: what it plays through SDL's disk audio driver
// is modrender's WAV data, whole, from a position or looping; its terminal
// line; its failures.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "support/musicapp_process.h"
#include "support/platform_process.h"
#include "support/test_files.h"

namespace {
const std::string BIN = ENGINE_BINARY_DIR "/";
const std::string MODULE = ENGINE_SOURCE_DIR "/res/kevo.mod";

std::vector<uint8_t> bytes_of(const std::string &path) {
    std::vector<uint8_t> bytes;
    read_whole_file(path, &bytes);
    return bytes;
}

// modplay with the disk driver writing as fast as it can to `raw`.
ProcessResult modplay(const std::vector<std::string> &args, const std::string &raw, int run_ms = -1) {
    return run_program(BIN + "modplay", args,
                       {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw, "SDL_DISKAUDIODELAY=0"}, nullptr, run_ms,
                       SIGINT);
}

std::vector<uint8_t> modrender(const std::vector<std::string> &args, const std::string &wav) {
    std::vector<std::string> all = args;
    all.push_back(MODULE);
    all.push_back(wav);
    EXPECT_EQ(run_program(BIN + "modrender", all, {}, nullptr, -1, 0).status, 0);
    std::vector<uint8_t> data = bytes_of(wav);
    return data.size() >= 44 ? std::vector<uint8_t>(data.begin() + 44, data.end()) : data;
}

// Leading silence of a stream: the disk driver writes silence for as long
// as the device is paused, before the music starts.
size_t silent_bytes(const std::vector<uint8_t> &bytes) {
    return (size_t)(std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; }) - bytes.begin()) / 4 * 4;
}

// `played` is `reference` (both from their first sound on), then silence.
void expect_plays(const std::vector<uint8_t> &played, const std::vector<uint8_t> &reference) {
    const size_t p = silent_bytes(played), r = silent_bytes(reference);
    ASSERT_LT(r, reference.size());
    ASSERT_GE(played.size() - p, reference.size() - r);
    EXPECT_TRUE(std::equal(reference.begin() + r, reference.end(), played.begin() + p));
    EXPECT_TRUE(std::all_of(played.begin() + p + (reference.size() - r), played.end(), [](uint8_t b) { return b == 0; }))
        << "only silence after the song";
}
}  // namespace

TEST(Modplay, PlaysExactlyWhatModrenderRendersAndEndsWithTheSong) {
    const std::string dir = make_temp_dir("modplay");
    ASSERT_FALSE(dir.empty());
    const ProcessResult r = modplay({MODULE}, dir + "/out.raw");
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("order"), std::string::npos) << "no live line when standard error is no terminal";
    const std::vector<uint8_t> whole = modrender({}, dir + "/ref.wav");
    ASSERT_GT(whole.size(), 44100u * 4u * 80u);
    expect_plays(bytes_of(dir + "/out.raw"), whole);

    // From row 16 of position 2: the song from there on.
    std::vector<uint8_t> module = bytes_of(MODULE);
    ModPlayer *p = mod_player_create(44100, module.data(), (long)module.size());
    ASSERT_NE(p, nullptr);
    const int64_t seek_frame = mod_player_seek(p, 2, 16);
    mod_player_destroy(p);
    ASSERT_GT(seek_frame, 0);
    EXPECT_EQ(modplay({"--from", "2:16", MODULE}, dir + "/from.raw").status, 0);
    expect_plays(bytes_of(dir + "/from.raw"), std::vector<uint8_t>(whole.begin() + seek_frame * 4, whole.end()));
    remove_tree(dir);
}

TEST(Modplay, LoopsUntilStoppedWithStatusZero) {
    const std::string dir = make_temp_dir("modplay_loop");
    ASSERT_FALSE(dir.empty());
    const ProcessResult r = modplay({"--loop", MODULE}, dir + "/out.raw", 1500);
    ASSERT_TRUE(r.exited) << "SIGINT ends it by itself";
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> played = bytes_of(dir + "/out.raw");
    // Written faster than real time: past the song's end (87 s) and round.
    ASSERT_GT(played.size(), 44100u * 4u * 100u) << "looped past the end";
    const size_t frames = std::min<size_t>(played.size() / 4, 44100u * 150u);
    const std::vector<uint8_t> looped =
        modrender({"--loop", "--seconds", std::to_string((double)frames / 44100.0)}, dir + "/ref.wav");
    ASSERT_GE(looped.size(), frames * 4 - 8);
    const size_t p = silent_bytes(played), l = silent_bytes(looped);
    const size_t n = std::min(looped.size() - l, played.size() - p);
    EXPECT_TRUE(std::equal(looped.begin() + l, looped.begin() + l + n, played.begin() + p));
    remove_tree(dir);
}

TEST(Modplay, ShowsTitleAndPositionOnATerminal) {
    const std::string dir = make_temp_dir("modplay_tty");
    ASSERT_FALSE(dir.empty());
    // script(1) gives modplay a terminal, flushing what it shows as it
    // comes; the dummy driver plays in real time. It is interrupted once the
    // position has moved on four rows (or after 20 s on a machine that is
    // very busy), as Ctrl-C would.
    const std::string typescript = dir + "/typescript";
    const int status = run_command(
        "cd " + dir + " && { SDL_AUDIODRIVER=dummy timeout -s INT 20 script -qefc '" + BIN + "modplay --from 3:8 " +
        MODULE + "' " + typescript + " >/dev/null 2>&1 & t=$!; for i in $(seq 200); do grep -q 'row 12' " +
        typescript + " 2>/dev/null && break; sleep 0.1; done; kill -INT $t; wait $t; }");
    (void)status;
    std::vector<uint8_t> bytes = bytes_of(typescript);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("kevo"), std::string::npos) << text;
    EXPECT_NE(text.find("\rorder   3/11  row  8  0:24.1 / 1:26.9"), std::string::npos) << text;
    EXPECT_NE(text.find("row 12"), std::string::npos) << "the position moves: " << text;
    remove_tree(dir);
}

TEST(Modplay, FailsWithOneLineAndAnswersHelp) {
    const std::string dir = make_temp_dir("modplay_bad");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(write_whole_file(dir + "/text.mod", std::vector<uint8_t>(2000, 'x')));
    const ProcessResult help = run_program(BIN + "modplay", {"--help"}, {}, nullptr, -1, 0);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: modplay", 0), 0u) << help.out;
    struct Case {
        std::vector<std::string> args;
        std::string driver;
        const char *says;
    };
    const std::vector<Case> cases = {
        {{dir + "/missing.mod"}, "disk", "missing.mod"},
        {{dir + "/text.mod"}, "disk", "is not a module"},
        {{MODULE}, "nosuchdriver", "audio device"},
        {{"--from", "90", MODULE}, "disk", "never plays row 0 of order position 90"},
        {{"--from", "2:64", MODULE}, "disk", "--from"},
        {{}, "disk", "usage"},
        {{"--bogus", MODULE}, "disk", "usage"},
        {{MODULE, MODULE}, "disk", "usage"},
    };
    for (const Case &c : cases) {
        const ProcessResult r = run_program(BIN + "modplay", c.args,
                                            {"SDL_AUDIODRIVER=" + c.driver, "SDL_DISKAUDIOFILE=" + dir + "/out.raw"},
                                            nullptr, -1, 0);
        EXPECT_TRUE(r.exited && r.status == 1) << c.says << ": " << r.status;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        // SDL's disk driver announces itself; modplay's own words are one line.
        EXPECT_EQ(count_lines_with(r.err, "modplay"), 1) << r.err;
    }
    remove_tree(dir);
}
