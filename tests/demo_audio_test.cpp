// The real demo program with music, end to end through SDL 1.2: headless
// video, SDL's disk audio driver capturing what the device was given. The
// capture must be, byte for byte, the start of what the player renders for
// "res/kevo.mod" in 1024-frame buffers; and with a missing or bad module the
// demo still runs, draws, reports its frame rate, says one line about the
// music and ends with status 0 on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "support/music_modbuilder.h"
#include "support/program_run.h"

static const std::string DEMO = ENGINE_BINARY_DIR "/demo";
static const std::string KEVO = ENGINE_SOURCE_DIR "/res/kevo.mod";
constexpr int BUFFER_FRAMES = 1024;
constexpr size_t BUFFER_BYTES = BUFFER_FRAMES * 4;
constexpr int RUN_MS = 2000;

static std::vector<std::string> headless_env(const std::string &capture) {
    return {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + capture,
            "SDL_DISKAUDIODELAY=2"};
}

// The disk driver's `capture` is, from its first sound on, what the
// looping player renders of `module` from row `row` of position `order`.
static void expect_capture_is_render(const std::string &capture, const std::vector<uint8_t> &module, int order,
                                     int row) {
    int ok = 0;
    std::vector<uint8_t> captured;
    ok = read_whole_file(capture, &captured);
    ASSERT_TRUE(ok);
    ModPlayer *player = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(player, nullptr);
    mod_player_set_loop(player, 1);
    if ((order != 0 || row != 0) && mod_player_seek(player, order, row) < 0) {
        mod_player_destroy(player);
        FAIL() << "the song never plays row " << row << " of position " << order;
    }
    const size_t buffers = (captured.size() + BUFFER_BYTES - 1) / BUFFER_BYTES;
    std::vector<uint8_t> expected(buffers * BUFFER_BYTES);
    for (size_t b = 0; b < buffers; b++)
        mod_player_render_s16(player, reinterpret_cast<int16_t *>(&expected[b * BUFFER_BYTES]),
                              BUFFER_FRAMES);
    mod_player_destroy(player);

    // Until audio_unpause the paused device wrote whole buffers of silence;
    // the song itself starts silent too (its first row begins after one
    // row's ticks), so the two are aligned on the first audible byte.
    size_t c0 = 0, e0 = 0;
    while (c0 < captured.size() && !captured[c0]) c0++;
    while (e0 < expected.size() && !expected[e0]) e0++;
    ASSERT_LT(c0, captured.size()) << "the demo played nothing";
    ASSERT_GE(c0, e0);
    const size_t paused_bytes = c0 - e0;
    EXPECT_EQ(paused_bytes % BUFFER_BYTES, 0u) << "silence before the song is not whole buffers";
    size_t played = captured.size() - paused_bytes;
    // Closing the device at exit may catch SDL's audio thread between two
    // buffers, and it then writes one last buffer of silence (SDL 2 under
    // sdl12-compat does): that buffer was never the song's.
    if (played >= BUFFER_BYTES && played <= expected.size()) {
        const auto tail = captured.end() - BUFFER_BYTES;
        const bool silent = std::all_of(tail, captured.end(), [](uint8_t v) { return v == 0; });
        const bool song_silent = std::all_of(expected.begin() + (played - BUFFER_BYTES),
                                             expected.begin() + played, [](uint8_t v) { return v == 0; });
        if (silent && !song_silent) played -= BUFFER_BYTES;
    }
    // A couple of seconds of running give well over a second of music.
    EXPECT_GT(played, 44100u * 4);
    size_t first_difference = played;
    for (size_t i = 0; i < played; i++)
        if (captured[paused_bytes + i] != expected[i]) {
            first_difference = i;
            break;
        }
    EXPECT_EQ(first_difference, played)
        << "capture differs from the offline render at frame " << first_difference / 4;
}

TEST(DemoAudio, CapturedStreamIsTheOfflineRenderOfKevo) {
    const std::string dir = make_temp_dir("demo_demo");
    ASSERT_FALSE(dir.empty());
    const std::string capture = dir + "/capture.raw";
    ProcessResult r = run_program(DEMO, {}, headless_env(capture), ENGINE_SOURCE_DIR, RUN_MS,
                                  SIGTERM);
    ASSERT_TRUE(r.exited) << "ended by signal " << r.status;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count_lines_with(r.err, "MUSIC:"), 0) << r.err;
    EXPECT_GT(count_lines_with(r.err, "FPS: "), 10);
    std::vector<uint8_t> module;
    ASSERT_TRUE(read_whole_file(KEVO, &module));
    expect_capture_is_render(capture, module, 0, 0);
    remove_tree(dir);
}

TEST(DemoAudio, KevoFromFindsARowOnlyTheLoopingSongReaches) {
    // res/kevo.mod is a song whose position 1 plays only going round.
    const std::string dir = make_temp_dir("demo_demo_from");
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(mkdir((dir + "/res").c_str(), 0755), 0);
    ModBuilder b;
    modbuilder_jump_back_song(&b);
    const std::vector<uint8_t> module = modbuilder_build(&b);
    ASSERT_TRUE(write_whole_file(dir + "/res/kevo.mod", module));
    std::vector<std::string> env = headless_env(dir + "/capture.raw");
    env.push_back("KEVO_FROM=1:0");
    ProcessResult r = run_program(DEMO, {}, env, dir.c_str(), RUN_MS, SIGTERM);
    ASSERT_TRUE(r.exited) << "ended by signal " << r.status;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count_lines_with(r.err, "MUSIC:"), 0) << r.err;
    expect_capture_is_render(dir + "/capture.raw", module, 1, 0);
    remove_tree(dir);
}

TEST(DemoAudio, BadModuleLeavesTheDemoRunningSilently) {
    int ok = 0;
    std::vector<uint8_t> kevo;
    ok = read_whole_file(KEVO, &kevo);
    ASSERT_TRUE(ok);
    std::vector<uint8_t> not_module(kevo);
    memcpy(&not_module[1080], "FLT9", 4);
    struct Case {
        const char *name;
        int present;
        std::vector<uint8_t> bytes;
        const char *reason;
    } cases[] = {
        {"missing", 0, {}, "cannot open 'res/kevo.mod'"},
        {"empty", 1, {}, "'res/kevo.mod' is not a module: the file is empty"},
        {"truncated", 1, std::vector<uint8_t>(kevo.begin(), kevo.begin() + 5000),
         "'res/kevo.mod' is not a module: truncated"},
        {"not a module", 1, not_module,
         "'res/kevo.mod' is not a module: no MOD, XM, S3M or IT signature (bytes 1080 to 1083 read \"FLT9\")"},
    };
    for (const Case &c : cases) {
        const std::string dir = make_temp_dir("demo_badmod");
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(system(("mkdir -p '" + dir + "/res'").c_str()), 0);
        if (c.present) {
            ASSERT_TRUE(write_whole_file(dir + "/res/kevo.mod", c.bytes));
        }
        const std::string capture = dir + "/capture.raw";
        ProcessResult r = run_program(DEMO, {}, headless_env(capture), dir.c_str(), 1000, SIGTERM);
        EXPECT_TRUE(r.exited) << c.name << ": ended by signal " << r.status;
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(count_lines_with(r.err, "MUSIC: "), 1) << c.name << ": " << r.err;
        EXPECT_EQ(count_lines_with(r.err, "MUSIC: " + std::string(c.reason)), 1)
            << c.name << ": " << r.err;
        // Frames kept coming: the frame-rate line, once per frame.
        EXPECT_GT(count_lines_with(r.err, "FPS: "), 10) << c.name;
        // The device was never opened, so nothing audible can have played.
        std::vector<uint8_t> captured;
        ok = read_whole_file(capture, &captured);
        for (uint8_t byte : captured) {
            ASSERT_EQ(byte, 0) << c.name;
        }
        remove_tree(dir);
    }
}

TEST(DemoAudio, AudioDeviceThatCannotOpenLeavesTheDemoRunning) {
    const std::vector<std::string> env = {"SDL_VIDEODRIVER=dummy",
                                          "SDL_AUDIODRIVER=no_such_driver"};
    ProcessResult r = run_program(DEMO, {}, env, ENGINE_SOURCE_DIR, 1000, SIGTERM);
    EXPECT_TRUE(r.exited) << "ended by signal " << r.status;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count_lines_with(r.err, "MUSIC: "), 1) << r.err;
    EXPECT_EQ(count_lines_with(r.err, "MUSIC: cannot open the audio device: "), 1) << r.err;
    EXPECT_GT(count_lines_with(r.err, "FPS: "), 10);
}

TEST(DemoAudio, ClosedStandardErrorKeepsTheRateLinesOutOfTheCapture) {
    const std::string dir = make_temp_dir("demo_closed_stderr");
    ASSERT_FALSE(dir.empty());
    const std::string capture = dir + "/capture.raw";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Standard input and output on /dev/null, standard error closed.
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        if (null_fd > 2) close(null_fd);
        close(2);
        if (chdir(ENGINE_SOURCE_DIR) != 0) _exit(126);
        for (const std::string &e : headless_env(capture)) putenv(strdup(e.c_str()));
        execl(DEMO.c_str(), "demo", static_cast<char *>(nullptr));
        _exit(127);
    }
    usleep(RUN_MS * 1000);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<uint8_t> captured;
    ASSERT_TRUE(read_whole_file(capture, &captured));
    EXPECT_GT(captured.size(), 44100u * 4) << "the demo played";
    const std::string bytes(captured.begin(), captured.end());
    EXPECT_EQ(bytes.find("FPS: "), std::string::npos) << "a rate line went into the audio capture";
    remove_tree(dir);
}
