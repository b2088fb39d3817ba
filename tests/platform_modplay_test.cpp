// modplay, the real program: what it plays through SDL's disk audio driver
// is modrender's WAV data, whole, from a position or looping; its terminal
// line; its failures.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "support/music_modbuilder.h"
#include "support/music_wide_songs.h"
#include "support/program_run.h"
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
    return static_cast<size_t>(std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; }) - bytes.begin()) / 4 * 4;
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

// The jump-back song (music_modbuilder.h) written to `path`.
std::vector<uint8_t> write_jump_back_song(const std::string &path) {
    ModBuilder b;
    modbuilder_jump_back_song(&b);
    const std::vector<uint8_t> song = modbuilder_build(&b);
    EXPECT_TRUE(write_whole_file(path, song));
    return song;
}

// What `song` plays from row `row` of position `order` with looping as
// `loop` says, `frames` frames, as bytes of 16-bit stereo.
std::vector<uint8_t> rendered_from(const std::vector<uint8_t> &song, int order, int row, uint8_t loop, int frames) {
    ModPlayer *p = mod_player_create(44100, song.data(), static_cast<long>(song.size()));
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * 4);
    if (!p) return {};
    mod_player_set_loop(p, loop);
    if (mod_player_seek(p, order, row) >= 0) mod_player_render_s16(p, reinterpret_cast<int16_t *>(bytes.data()), frames);
    else bytes.clear();
    mod_player_destroy(p);
    return bytes;
}

long file_size(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Waits until `path` holds more than `bytes` bytes, `timeout_ms` at most.
bool wait_for_size(const std::string &path, long bytes, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (file_size(path) > bytes) return true;
        usleep(10 * 1000);
    }
    return file_size(path) > bytes;
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
    ModPlayer *p = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(p, nullptr);
    const int64_t seek_frame = mod_player_seek(p, 2, 16);
    mod_player_destroy(p);
    ASSERT_GT(seek_frame, 0);
    EXPECT_EQ(modplay({"--from", "2:16", MODULE}, dir + "/from.raw").status, 0);
    expect_plays(bytes_of(dir + "/from.raw"), std::vector<uint8_t>(whole.begin() + seek_frame * 4, whole.end()));

    // An XM and an S3M of many channels alike, from the start and from a
    // row past 64 of a longer pattern; the file named wins over KEVO_MUSIC.
    const struct {
        const char *name;
        std::vector<uint8_t> song;
        int order, row;
    } others[] = {{"wide.xm", wide_xm_song(10), 2, 100}, {"wide.s3m", wide_s3m_song(10), 1, 40},
                  {"wide.it", wide_it_song(10), 2, 90}};
    for (const auto &o : others) {
        const std::string path = dir + "/" + o.name;
        ASSERT_TRUE(write_whole_file(path, o.song));
        p = mod_player_create(44100, o.song.data(), static_cast<long>(o.song.size()));
        ASSERT_NE(p, nullptr);
        const int64_t length = mod_song_length(p, 44100LL * 600, nullptr);
        const int64_t first_row = mod_player_seek(p, 0, 0), from = mod_player_seek(p, o.order, o.row);
        mod_player_destroy(p);
        ASSERT_GT(from, 0) << o.name;
        const std::string position = std::to_string(o.order) + ":" + std::to_string(o.row);
        for (const bool start : {true, false}) {
            std::vector<std::string> args = {path};
            if (!start) args.insert(args.begin(), {"--from", position});
            const ProcessResult played =
                run_program(BIN + "modplay", args,
                            {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + dir + "/other.raw", "SDL_DISKAUDIODELAY=0",
                             "KEVO_MUSIC=" + MODULE},
                            nullptr, -1, SIGINT);
            EXPECT_EQ(played.status, 0) << o.name << ": " << played.err;
            const int row = start ? 0 : o.row, order = start ? 0 : o.order;
            const int64_t skipped = start ? first_row : from;
            expect_plays(bytes_of(dir + "/other.raw"), rendered_from(o.song, order, row, 0, static_cast<int>(length - skipped)));
        }
    }
    remove_tree(dir);
}

TEST(Modplay, LoopingFromARowOnlyTheWayRoundReaches) {
    const std::string dir = make_temp_dir("modplay_loop_from");
    ASSERT_FALSE(dir.empty());
    const std::vector<uint8_t> song = write_jump_back_song(dir + "/song.mod");
    // Position 1 plays only when the song goes round.
    const ProcessResult once = modplay({"--from", "1:0", dir + "/song.mod"}, dir + "/once.raw");
    EXPECT_TRUE(once.exited && once.status == 1);
    EXPECT_NE(once.err.find("never plays row 0 of order position 1"), std::string::npos) << once.err;
    const ProcessResult r = modplay({"--loop", "--from", "1:0", dir + "/song.mod"}, dir + "/out.raw", 1000);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_lines_with(r.err, "modplay:"), 0) << r.err;
    const std::vector<uint8_t> played = bytes_of(dir + "/out.raw");
    const std::vector<uint8_t> reference = rendered_from(song, 1, 0, 1, 44100 * 10);
    ASSERT_FALSE(reference.empty());
    const size_t p = silent_bytes(played), f = silent_bytes(reference);
    ASSERT_GT(played.size() - p, 44100u * 4u * 5u) << "played on for seconds";
    const size_t n = std::min(played.size() - p, reference.size() - f);
    EXPECT_TRUE(std::equal(reference.begin() + f, reference.begin() + f + n, played.begin() + p));
    remove_tree(dir);
}

TEST(Modplay, UnderNohupItOutlivesSighupAndStillEndsOnSigterm) {
    const std::string dir = make_temp_dir("modplay_nohup");
    ASSERT_FALSE(dir.empty());
    const std::string raw = dir + "/out.raw";
    ChildProcess child;
    ASSERT_EQ(child_start(&child, "/usr/bin/nohup", {BIN + "modplay", "--loop", MODULE},
                          {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw, "SDL_DISKAUDIODELAY=1"}, dir.c_str()),
              0);
    // Playing: the disk driver's file grows.
    const bool playing = wait_for_size(raw, 200000, 10000);
    const bool ignores_hup = child_ignores(&child, SIGHUP);
    kill(child.pid, SIGHUP);
    // A handled SIGHUP would end it within one 50 ms turn of its loop;
    // the sound goes on long after.
    const bool outlived = wait_for_size(raw, file_size(raw) + 400000, 10000) && !child_ended(&child);
    kill(child.pid, SIGTERM);
    const int status = child_wait_exit(&child, 10000);
    EXPECT_TRUE(playing) << child.stderr_text;
    EXPECT_TRUE(ignores_hup);
    EXPECT_TRUE(outlived) << "SIGHUP ended it";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " " << child.stderr_text;
    EXPECT_EQ(count_lines_with(child.stderr_text, "modplay:"), 0) << child.stderr_text;
    EXPECT_FALSE(file_exists(dir + "/nohup.out"));
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
        modrender({"--loop", "--seconds", std::to_string(static_cast<double>(frames) / 44100.0)}, dir + "/ref.wav");
    ASSERT_GE(looped.size(), frames * 4 - 8);
    const size_t p = silent_bytes(played), l = silent_bytes(looped);
    const size_t n = std::min(looped.size() - l, played.size() - p);
    EXPECT_TRUE(std::equal(looped.begin() + l, looped.begin() + l + n, played.begin() + p));
    remove_tree(dir);
}

namespace {
// What modplay --from 3:8 shows on a terminal (script(1) gives it one,
// flushing what it shows as it comes) that `stty` sets up first; the dummy
// driver plays in real time. It is interrupted once the position has moved
// on four rows (or after 20 s on a machine that is very busy), as Ctrl-C
// would.
std::string shown_on_a_terminal(const std::string &dir, const std::string &stty) {
    const std::string typescript = dir + "/typescript";
    remove(typescript.c_str());  // the last run's, which holds "row 12" already
    const int status = run_command(
        "cd " + dir + " && { SDL_AUDIODRIVER=dummy timeout -s INT 20 script -qefc '" + stty + BIN +
        "modplay --from 3:8 " + MODULE + "' " + typescript + " >/dev/null 2>&1 & t=$!; for i in $(seq 200); do " +
        "grep -q 'row 12' " + typescript + " 2>/dev/null && break; sleep 0.1; done; kill -INT $t; wait $t; }");
    (void)status;
    std::vector<uint8_t> bytes = bytes_of(typescript);
    return std::string(bytes.begin(), bytes.end());
}
}  // namespace

TEST(Modplay, ShowsTitleFormatAndPositionOnATerminalInItsWidth) {
    const std::string dir = make_temp_dir("modplay_tty");
    ASSERT_FALSE(dir.empty());
    // A terminal that does not tell its width gets the whole line.
    std::string text = shown_on_a_terminal(dir, "stty cols 0; ");
    EXPECT_NE(text.find("kevo"), std::string::npos) << text;
    EXPECT_NE(text.find("MOD M.K., 4 channels"), std::string::npos) << "the format and the channels: " << text;
    EXPECT_NE(text.find("\rorder   3/11  row  8  0:24.1 / 1:26.9"), std::string::npos) << text;
    EXPECT_NE(text.find("row 12"), std::string::npos) << "the position moves: " << text;

    // On 24 columns every rewrite of the line stops short of the last
    // one, so that it never wraps; the title keeps its own line.
    text = shown_on_a_terminal(dir, "stty cols 24; ");
    EXPECT_NE(text.find("kevo"), std::string::npos) << text;
    EXPECT_NE(text.find("\rorder   3/11  row  8  0\r"), std::string::npos) << text;
    EXPECT_NE(text.find("row 12"), std::string::npos) << "the position moves: " << text;
    const size_t first = text.find("\rorder");
    ASSERT_NE(first, std::string::npos) << text;
    // Up to the newline modplay ends the line with (script's own words
    // follow).
    const std::string lines = text.substr(first, text.find('\n', first) - first);
    int rewrites = 0;
    for (size_t at = 0; at < lines.size();) {
        const size_t next = std::min(lines.find('\r', at + 1), lines.size());
        EXPECT_LE(next - at - 1, 23u) << lines.substr(at + 1, next - at - 1);
        rewrites++;
        at = next;
    }
    EXPECT_GT(rewrites, 4);
    remove_tree(dir);
}

TEST(Modplay, TakesFileNamesAfterDoubleDashAndSaysCaptureIsIgnored) {
    const std::string dir = make_temp_dir("modplay_names");
    ASSERT_FALSE(dir.empty());
    const std::vector<uint8_t> song = write_jump_back_song(dir + "/-song.mod");
    const std::vector<std::string> disk = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + dir + "/out.raw",
                                           "SDL_DISKAUDIODELAY=0"};
    // After "--" an option-looking name is a file; before it, an option.
    ProcessResult r = run_program(BIN + "modplay", {"--", "-song.mod"}, disk, dir.c_str(), -1, 0);
    EXPECT_TRUE(r.exited && r.status == 0) << r.status << " " << r.err;
    EXPECT_EQ(count_lines_with(r.err, "modplay:"), 0) << r.err;
    const std::vector<uint8_t> whole = rendered_from(song, 0, 0, 0, 44100 * 2);
    expect_plays(bytes_of(dir + "/out.raw"), whole);
    r = run_program(BIN + "modplay", {"-song.mod"}, disk, dir.c_str(), -1, 0);
    EXPECT_TRUE(r.exited && r.status == 2);
    EXPECT_EQ(r.err.rfind("usage: modplay", 0), 0u) << r.err;
    r = run_program(BIN + "modplay", {"--", "--loop"}, disk, dir.c_str(), -1, 0);
    EXPECT_TRUE(r.exited && r.status == 1);
    EXPECT_NE(r.err.find("'--loop'"), std::string::npos) << "a file of that name: " << r.err;

    // Asked to capture, it plays as ever and says once that it does not.
    r = run_program(BIN + "modplay", {"--", "-song.mod"},
                    {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + dir + "/captured.raw", "SDL_DISKAUDIODELAY=0",
                     "KEVO_CAPTURE=" + dir + "/capture", "KEVO_CAPTURE_FRAMES=10"},
                    dir.c_str(), -1, 0);
    EXPECT_TRUE(r.exited && r.status == 0) << r.status << " " << r.err;
    EXPECT_EQ(count_lines_with(r.err, "modplay:"), 1) << r.err;
    EXPECT_EQ(count_lines_with(r.err, "modplay: KEVO_CAPTURE is ignored: modplay shows no frames to capture"), 1);
    expect_plays(bytes_of(dir + "/captured.raw"), whole);
    EXPECT_FALSE(file_exists(dir + "/capture"));
    remove_tree(dir);
}

TEST(Modplay, FailsWithOneLineAndAnswersHelp) {
    const std::string dir = make_temp_dir("modplay_bad");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(write_whole_file(dir + "/text.mod", std::vector<uint8_t>(2000, 'x')));
    const ProcessResult help = run_program(BIN + "modplay", {"--help"}, {}, nullptr, -1, 0);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: modplay", 0), 0u) << help.out;
    // Status 1 for what went wrong, 2 for arguments it cannot take.
    struct Case {
        std::vector<std::string> args;
        std::string driver;
        std::string says;
        int status;
    };
    const std::vector<Case> cases = {
        {{dir + "/missing.mod"}, "disk", "missing.mod", 1},
        {{dir + "/text.mod"}, "disk", "is not a module", 1},
        {{MODULE}, "nosuchdriver", "audio device", 1},
        {{"--from", "90", MODULE}, "disk", "never plays row 0 of order position 90", 1},
        {{"--from", "2:64", MODULE}, "disk", "order position 2 of the song in '" + MODULE + "' has 64 rows (0-63)", 1},
        {{"--from", "2:256", MODULE}, "disk", "--from", 2},
        {{}, "disk", "usage", 2},
        {{"--bogus", MODULE}, "disk", "usage", 2},
        {{MODULE, MODULE}, "disk", "usage", 2},
    };
    for (const Case &c : cases) {
        const ProcessResult r = run_program(BIN + "modplay", c.args,
                                            {"SDL_AUDIODRIVER=" + c.driver, "SDL_DISKAUDIOFILE=" + dir + "/out.raw"},
                                            nullptr, -1, 0);
        EXPECT_TRUE(r.exited && r.status == c.status) << c.says << ": " << r.status;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        // SDL's disk driver announces itself; modplay's own words are one line.
        EXPECT_EQ(count_lines_with(r.err, "modplay"), 1) << r.err;
    }
    remove_tree(dir);
}
