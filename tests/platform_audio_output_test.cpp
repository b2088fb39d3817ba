// The audio output binding, in process through the real SDL 1.2: the
// callback renders len / 4 frames continuing the song, plays silence with
// no player, the row and tick counters count only once unpaused and as the
// song's rows and ticks go, every start-up failure leaves one MUSIC line
// naming the file or device and a silent demo, the start-up's options give
// a program (modplay) its own tag, looping and position, and the stop
// releases it all.
#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/audio_output.h"
#include "music/mod_player.h"
#include "music/module_check.h"
#include "platform/music_start.h"
#include "support/music_playback.h"
#include "support/music_modbuilder.h"
#include "support/program_run.h"
#include "support/music_wide_songs.h"
#include "support/stderr_capture.h"
#include "util/alloc.h"

static const std::string KEVO = ENGINE_SOURCE_DIR "/res/kevo.mod";
constexpr int BUFFER_BYTES = AUDIO_BUFFER_FRAMES * AUDIO_FRAME_BYTES;  // 4096
// Frames per tick at 44100 Hz and the default tempo 125, by the tick-length
// rule: 44100 / ((2 x 125) / 5).
constexpr int DEFAULT_TICK_FRAMES = 44100 / ((2 * 125) / 5);
constexpr int DEFAULT_SPEED = 6;

// Puts the process-wide music state back to "no music" between tests; the
// demo itself never releases it.
static void music_reset(void) {
    SDL_CloseAudio();
    mod_player_destroy(music_player);
    engine_free(music_data);
    music_player = nullptr;
    music_data = nullptr;
    music_size = 0;
    row_counter = 0;
    tick_counter = 0;
}

static std::vector<uint8_t> file_bytes(const std::string &path) {
    int ok = 0;
    std::vector<uint8_t> bytes;
    ok = read_whole_file(path, &bytes);
    EXPECT_TRUE(ok) << path;
    return bytes;
}

// Starts the music from `path` with standard error captured; returns the
// result and puts what was printed in *err.
static int start_captured(const std::string &path, std::string *err) {
    StderrCapture capture;
    EXPECT_EQ(stderr_capture_begin(&capture), 0);
    const int result = music_start_file(path.c_str());
    *err = stderr_capture_end(&capture);
    return result;
}

// music_start_with(options) with standard error captured into *err.
static int start_with_captured(const MusicStartOptions *options, std::string *err) {
    StderrCapture capture;
    EXPECT_EQ(stderr_capture_begin(&capture), 0);
    const int result = music_start_with(options);
    *err = stderr_capture_end(&capture);
    return result;
}

static int all_zero(const uint8_t *bytes, size_t count) {
    for (size_t i = 0; i < count; i++)
        if (bytes[i]) return 0;
    return 1;
}

TEST(AudioOutput, CallbackWithoutPlayerFillsSilence) {
    music_reset();
    std::vector<uint8_t> stream(BUFFER_BYTES + 6, 0x55);
    // A whole buffer, a length with stray bytes past the last frame, and a
    // length shorter than one frame: all silence, nothing past len touched.
    for (int len : {BUFFER_BYTES, BUFFER_BYTES + 2, 3}) {
        std::fill(stream.begin(), stream.end(), 0x55);
        audio_callback(nullptr, stream.data(), len);
        EXPECT_TRUE(all_zero(stream.data(), static_cast<size_t>(len))) << "len " << len;
        EXPECT_EQ(stream[len], 0x55) << "len " << len;
    }
    audio_callback(nullptr, nullptr, BUFFER_BYTES);  // must not crash
    audio_callback(nullptr, stream.data(), 0);
    EXPECT_EQ(stream[0], 0);
}

TEST(AudioOutput, CallbackRendersLenOver4FramesContinuingTheSong) {
    music_reset();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::string err;
    ASSERT_EQ(start_captured(KEVO, &err), 0) << err;
    EXPECT_EQ(err, "");
    std::vector<uint8_t> file = file_bytes(KEVO);
    ASSERT_EQ(music_size, static_cast<int32_t>(file.size()));
    EXPECT_EQ(memcmp(music_data, file.data(), file.size()), 0);
    ASSERT_NE(music_player, nullptr);
    EXPECT_NE(mod_player_is_looping(music_player), 0);
    EXPECT_EQ(row_counter, 0);
    EXPECT_EQ(tick_counter, 0);

    // The reference: a second player on its own copy of the module.
    ModPlayer *reference = mod_player_create(44100, file.data(), static_cast<long>(file.size()));
    ASSERT_NE(reference, nullptr);
    long frames_played = 0;
    // 4096-byte buffers (1024 frames each), then lengths that are not whole
    // buffers, one with 2 bytes past its last frame that must become 0.
    const int lengths[] = {4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4098, 1000, 4, 8192};
    std::vector<uint8_t> stream(8192 + 8);
    for (int len : lengths) {
        std::fill(stream.begin(), stream.end(), 0x55);
        audio_callback(nullptr, stream.data(), len);
        const int frames = len / 4;
        std::vector<int16_t> expected(2 * frames);
        mod_player_render_s16(reference, expected.data(), frames);
        EXPECT_EQ(memcmp(stream.data(), expected.data(), static_cast<size_t>(frames) * 4), 0) << "len " << len;
        EXPECT_TRUE(all_zero(stream.data() + frames * 4, static_cast<size_t>(len - frames * 4)));
        EXPECT_EQ(stream[len], 0x55);
        frames_played += frames;
    }
    mod_player_destroy(reference);
    // The song has started playing notes by now (its first row starts after
    // one row of default ticks).
    EXPECT_GT(frames_played, static_cast<long>(DEFAULT_SPEED) * DEFAULT_TICK_FRAMES);
    // One tick per DEFAULT_TICK_FRAMES frames; rows start every 6 ticks,
    // the first on tick 6 (the song keeps tempo 125 and speed 6 here).
    EXPECT_EQ(tick_counter, frames_played / DEFAULT_TICK_FRAMES);
    EXPECT_EQ(row_counter, tick_counter / DEFAULT_SPEED);
    music_reset();
}

TEST(AudioOutput, CountersFollowRowsAndTicksIncludingAPatternDelay) {
    music_reset();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // Speed 3; row 2 carries a pattern delay EE2, so it lasts 3 + 2 x 3 = 9
    // ticks. Tick length stays the default.
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_saw(2048, 64, 100), 40, 0, 0, 2048);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0xF03);
    modbuilder_set_cell(&b, 0, 2, 1, 0, 0, 0xEE2);
    const std::string dir = make_temp_dir("audio_counters");
    const std::string path = dir + "/delay.mod";
    ASSERT_TRUE(write_whole_file(path, modbuilder_build(&b)));
    std::string err;
    ASSERT_EQ(start_captured(path, &err), 0) << err;
    // Row starts fall on ticks 6 (row 0, still at the default speed 6), 9
    // (row 1), 12 (row 2, delayed), 21 (row 3), then every 3 ticks.
    std::vector<uint8_t> stream(4 * DEFAULT_TICK_FRAMES);
    for (int tick = 1; tick <= 40; tick++) {
        audio_callback(nullptr, stream.data(), static_cast<int>(stream.size()));
        int rows = (tick >= 6) + (tick >= 9) + (tick >= 12);
        if (tick >= 21) rows += 1 + (tick - 21) / 3;
        ASSERT_EQ(tick_counter, tick);
        ASSERT_EQ(row_counter, rows) << "after tick " << tick;
    }
    music_reset();
    remove_tree(dir);
}

TEST(AudioOutput, StartFailuresLeaveOneLineAndSilence) {
    music_reset();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::string dir = make_temp_dir("audio_start");
    std::vector<uint8_t> kevo = file_bytes(KEVO);
    std::vector<uint8_t> wrong_signature = kevo;
    memcpy(&wrong_signature[1080], "6CHX", 4);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        int write;
        const char *reason;
    } cases[] = {
        {"missing.mod", {}, 0, "cannot open"},
        {"empty.mod", {}, 1, "empty"},
        {"short.mod", std::vector<uint8_t>(kevo.begin(), kevo.begin() + 600), 1, "too short"},
        {"signature.mod", wrong_signature, 1, "no MOD, XM, S3M or IT signature (bytes 1080 to 1083 read \"6CHX\")"},
        {"truncated.mod", std::vector<uint8_t>(kevo.begin(), kevo.begin() + 3000), 1, "truncated"},
        {"text.mod", std::vector<uint8_t>(2000, 'x'), 1, "read \"xxxx\")"},
    };
    for (const Case &c : cases) {
        const std::string path = dir + "/" + c.name;
        if (c.write) {
            ASSERT_TRUE(write_whole_file(path, c.bytes));
        }
        std::string err;
        EXPECT_EQ(start_captured(path, &err), -1) << c.name;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(count_lines_with(err, "MUSIC: "), 1) << err;
        EXPECT_EQ(err.rfind("MUSIC: ", 0), 0u) << err;
        EXPECT_NE(err.find("'" + path + "'"), std::string::npos) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(music_player, nullptr);
        EXPECT_EQ(music_data, nullptr);
        EXPECT_EQ(music_size, 0);
    }
    // A file larger than any module is refused before it is read (a
    // sparse file: no disk space is used).
    const std::string huge = dir + "/huge.mod";
    ASSERT_TRUE(write_whole_file(huge, kevo));
    ASSERT_EQ(truncate(huge.c_str(), MODULE_MAX_FILE_BYTES + 1), 0);
    std::string huge_err;
    EXPECT_EQ(start_captured(huge, &huge_err), -1);
    EXPECT_EQ(count_lines_with(huge_err, "MUSIC: '" + huge + "' is not a module: larger than any "
                                         "module"), 1) << huge_err;
    EXPECT_EQ(music_data, nullptr);

    // Only a regular file is a module: a directory, a device and a FIFO
    // without a writer are refused at once, each named with what it is.
    const std::string fifo = dir + "/pipe.mod";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> specials[] = {
        {dir, "is a directory"}, {"/dev/zero", "is a device"}, {fifo, "is a FIFO"}};
    std::string err;
    alarm(60);  // a start-up that blocks on the FIFO ends the test program here
    for (const auto &special : specials) {
        EXPECT_EQ(start_captured(special.first, &err), -1);
        EXPECT_EQ(count_lines_with(err, "MUSIC: "), 1) << err;
        EXPECT_EQ(count_lines_with(err, "MUSIC: cannot open '" + special.first + "': " + special.second), 1)
            << err;
        EXPECT_EQ(music_player, nullptr);
        EXPECT_EQ(music_data, nullptr);
    }
    alarm(0);

    // Memory running out for the file's bytes, then for the player (which
    // may say so itself too; the line naming the file is this binding's).
    alloc_fail_after(0);
    EXPECT_EQ(start_captured(KEVO, &err), -1);
    alloc_fail_after(-1);
    EXPECT_EQ(count_lines_with(err, "MUSIC: out of memory reading '" + KEVO + "'"), 1) << err;
    alloc_fail_after(1);
    EXPECT_EQ(start_captured(KEVO, &err), -1);
    alloc_fail_after(-1);
    EXPECT_EQ(count_lines_with(err, "MUSIC: out of memory creating the player for '" + KEVO + "'"),
              1) << err;
    EXPECT_EQ(music_player, nullptr);
    EXPECT_EQ(music_data, nullptr);

    // With no music, the callback still serves the device: silence.
    std::vector<uint8_t> stream(BUFFER_BYTES, 0x55);
    audio_callback(nullptr, stream.data(), BUFFER_BYTES);
    EXPECT_TRUE(all_zero(stream.data(), stream.size()));
    audio_unpause();  // with no device open: harmless
    remove_tree(dir);
}

TEST(AudioOutput, DeviceThatCannotOpenIsNamedAndLeavesNoPlayer) {
    music_reset();
    setenv("SDL_AUDIODRIVER", "no_such_audio_driver", 1);
    std::string err;
    EXPECT_EQ(start_captured(KEVO, &err), -1);
    EXPECT_EQ(count_lines_with(err, "MUSIC: cannot open the audio device: "), 1) << err;
    EXPECT_EQ(count_lines_with(err, "MUSIC: "), 1) << err;
    EXPECT_EQ(music_player, nullptr);
    EXPECT_EQ(music_data, nullptr);
    EXPECT_EQ(music_size, 0);
    std::vector<uint8_t> stream(BUFFER_BYTES, 0x55);
    audio_callback(nullptr, stream.data(), BUFFER_BYTES);
    EXPECT_TRUE(all_zero(stream.data(), stream.size()));
    audio_unpause();
    SDL_Quit();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Through SDL's disk driver: nothing is rendered while paused; once
// unpaused the captured stream is the song from its start and the counters
// match the frames captured.
TEST(AudioOutput, DiskDeviceCountsOnlyAfterUnpauseAndCapturesTheSong) {
    music_reset();
    const std::string dir = make_temp_dir("audio_disk");
    const std::string capture = dir + "/capture.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "2", 1);
    std::string err;
    ASSERT_EQ(start_captured(KEVO, &err), 0) << err;
    SDL_Delay(150);
    EXPECT_EQ(tick_counter, 0);  // paused: the callback has not run
    EXPECT_EQ(row_counter, 0);
    audio_unpause();
    SDL_Delay(400);
    SDL_CloseAudio();  // joins the audio thread and closes the file
    const int32_t ticks = tick_counter, rows = row_counter;
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    std::vector<uint8_t> captured = file_bytes(capture);
    ASSERT_EQ(captured.size() % BUFFER_BYTES, 0u);
    std::vector<uint8_t> kevo = file_bytes(KEVO);
    ModPlayer *reference = mod_player_create(44100, kevo.data(), static_cast<long>(kevo.size()));
    ASSERT_NE(reference, nullptr);
    mod_player_set_loop(reference, 1);
    std::vector<uint8_t> expected(captured.size());
    for (size_t at = 0; at < expected.size(); at += BUFFER_BYTES)
        mod_player_render_s16(reference, reinterpret_cast<int16_t *>(&expected[at]),
                              AUDIO_BUFFER_FRAMES);
    mod_player_destroy(reference);
    // The paused device wrote silent buffers first; the song's own start is
    // silent too, so align on the first sound.
    size_t c0 = 0, e0 = 0;
    while (c0 < captured.size() && !captured[c0]) c0++;
    while (e0 < expected.size() && !expected[e0]) e0++;
    ASSERT_LT(c0, captured.size()) << "nothing audible was captured";
    ASSERT_GE(c0, e0);
    const size_t paused_bytes = c0 - e0;
    EXPECT_EQ(paused_bytes % BUFFER_BYTES, 0u);
    const size_t rendered = captured.size() - paused_bytes;
    EXPECT_EQ(memcmp(&captured[paused_bytes], expected.data(), rendered), 0);
    const long frames = static_cast<long>(rendered / AUDIO_FRAME_BYTES);
    EXPECT_EQ(ticks, frames / DEFAULT_TICK_FRAMES);
    EXPECT_EQ(rows, ticks / DEFAULT_SPEED);
    music_reset();
    remove_tree(dir);
}

TEST(AudioOutput, StartOptionsServeModplayAndTheStopReleasesAll) {
    music_reset();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // Not asked to honour KEVO_FROM and KEVO_MUSIC: not even read.
    setenv("KEVO_FROM", "oops", 1);
    const std::string dir = make_temp_dir("audio_options");
    const std::string text = dir + "/text.mod";
    ASSERT_TRUE(write_whole_file(text, std::vector<uint8_t>(2000, 'x')));
    setenv("KEVO_MUSIC", text.c_str(), 1);
    MusicStartOptions options = music_start_options(KEVO.c_str());
    EXPECT_EQ(options.music_env, 1);
    options.tag = "modplay";
    options.instead = nullptr;
    options.loop = 0;
    options.from_env = 0;
    options.music_env = 0;
    options.from_order = 90;
    options.from_row = 0;
    std::string err;
    EXPECT_EQ(start_with_captured(&options, &err), -1);
    EXPECT_EQ(err, "modplay: the song in '" + KEVO + "' never plays row 0 of order position 90\n");
    EXPECT_EQ(music_player, nullptr);
    EXPECT_EQ(music_data, nullptr);
    // A refused module in the check's words, with the caller's tag and
    // what it does instead.
    MusicStartOptions refused = music_start_options(text.c_str());
    refused.music_env = 0;
    refused.tag = "TEST";
    refused.instead = "the test goes on";
    EXPECT_EQ(start_with_captured(&refused, &err), -1);
    EXPECT_EQ(err, "TEST: '" + text + "' is not a module: no MOD, XM, S3M or IT signature (bytes 1080 to "
                   "1083 read \"xxxx\"); the test goes on\n");
    refused.path = nullptr;
    EXPECT_EQ(start_with_captured(&refused, &err), -1);
    EXPECT_EQ(err, "TEST: no module file named; the test goes on\n");
    EXPECT_EQ(start_with_captured(nullptr, &err), -1);
    EXPECT_EQ(err, "");

    // Started at row 5 of position 2, looping off: the audio is what a
    // player moved there renders, and the counters count from there.
    options.from_order = 2;
    options.from_row = 5;
    ASSERT_EQ(start_with_captured(&options, &err), 0) << err;
    EXPECT_EQ(err, "");
    ASSERT_NE(music_player, nullptr);
    EXPECT_EQ(mod_player_is_looping(music_player), 0);
    EXPECT_EQ(music_position(music_player).order, 2);
    EXPECT_EQ(music_position(music_player).row, 5);
    std::vector<uint8_t> kevo = file_bytes(KEVO);
    ModPlayer *reference = mod_player_create(44100, kevo.data(), static_cast<long>(kevo.size()));
    ASSERT_NE(reference, nullptr);
    ASSERT_GT(mod_player_seek(reference, 2, 5), 0);
    std::vector<uint8_t> stream(BUFFER_BYTES);
    std::vector<int16_t> expected(2 * AUDIO_BUFFER_FRAMES);
    for (int i = 0; i < 20; i++) {
        audio_callback(nullptr, stream.data(), BUFFER_BYTES);
        mod_player_render_s16(reference, expected.data(), AUDIO_BUFFER_FRAMES);
        ASSERT_EQ(memcmp(stream.data(), expected.data(), BUFFER_BYTES), 0) << "buffer " << i;
    }
    mod_player_destroy(reference);
    EXPECT_GT(tick_counter, 0);
    EXPECT_GT(row_counter, 0);

    music_stop();
    EXPECT_EQ(music_player, nullptr);
    EXPECT_EQ(music_data, nullptr);
    EXPECT_EQ(music_size, 0);
    std::fill(stream.begin(), stream.end(), 0x55);
    audio_callback(nullptr, stream.data(), BUFFER_BYTES);
    EXPECT_TRUE(all_zero(stream.data(), stream.size()));
    music_stop();  // with no music: harmless

    // No position of its own: the song's start, KEVO_FROM still unread.
    options.from_order = -1;
    ASSERT_EQ(start_with_captured(&options, &err), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(music_position(music_player).order, 0);
    EXPECT_EQ(music_position(music_player).row, 0);
    EXPECT_EQ(music_position(music_player).tick, 0);
    music_stop();
    unsetenv("KEVO_FROM");

    // KEVO_MUSIC, honoured, names the module instead of the path: refused
    // in the check's words naming it, or an XM started at a row past 64 of
    // its 130-row pattern (one past its last row is named with the count).
    // Set but empty, it names nothing.
    MusicStartOptions music = music_start_options(KEVO.c_str());
    music.tag = "TEST";
    music.instead = "the test goes on";
    EXPECT_EQ(start_with_captured(&music, &err), -1);
    EXPECT_EQ(err.rfind("TEST: '" + text + "' is not a module: ", 0), 0u) << err;
    const std::string xm_path = dir + "/wide.xm";
    const std::vector<uint8_t> xm = wide_xm_song(9);
    ASSERT_TRUE(write_whole_file(xm_path, xm));
    setenv("KEVO_MUSIC", xm_path.c_str(), 1);
    music.from_order = 2;
    music.from_row = 130;
    EXPECT_EQ(start_with_captured(&music, &err), -1);
    EXPECT_EQ(err, "TEST: order position 2 of the song in '" + xm_path + "' has 130 rows (0-129); the test goes on\n");
    music.from_row = 129;
    ASSERT_EQ(start_with_captured(&music, &err), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(mod_player_song(music_player)->channel_count, 9);
    EXPECT_EQ(music_position(music_player).order, 2);
    EXPECT_EQ(music_position(music_player).row, 129);
    EXPECT_EQ(music_size, static_cast<int32_t>(xm.size()));
    music_stop();
    setenv("KEVO_MUSIC", "", 1);
    music.from_order = -1;
    ASSERT_EQ(start_with_captured(&music, &err), 0) << err;
    EXPECT_EQ(mod_player_song(music_player)->channel_count, 4);
    EXPECT_EQ(music_size, static_cast<int32_t>(file_bytes(KEVO).size()));
    music_stop();
    unsetenv("KEVO_MUSIC");
    music_reset();
    remove_tree(dir);
}
