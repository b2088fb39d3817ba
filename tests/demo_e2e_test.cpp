// The real demo program end to end: headless with the four exit signals,
// and in a real X window under Xvfb, screenshotted.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "support/music_wide_songs.h"
#include "support/platform_process.h"
#include "support/program_capture.h"
#include "support/platform_tools.h"
#include "support/platform_xvfb.h"

namespace {
const std::string DEMO = ENGINE_BINARY_DIR "/demo";

void expect_signal_ends_demo_with_status_0(int signal_number) {
    ChildProcess demo;
    ASSERT_EQ(child_start(&demo, DEMO, {}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, ENGINE_SOURCE_DIR), 0);
    const bool running = child_wait_for(&demo, "FPS: ", 5, 10000);
    kill(demo.pid, signal_number);
    const int status = child_wait_exit(&demo, 10000);
    ASSERT_TRUE(running) << demo.stderr_text;
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal_number << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "signal " << signal_number;
    // Each frame's rate overwrites the last: carriage returns, no newlines.
    const size_t first = demo.stderr_text.find("FPS: ");
    const std::string rates = demo.stderr_text.substr(first);
    EXPECT_EQ(rates.find('\n'), std::string::npos) << rates.substr(0, 200);
}

size_t count_of(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) n++;
    return n;
}

struct Rgb {
    int r, g, b;
};
}  // namespace

TEST(DemoProgram, EachExitSignalEndsItWithStatusZero) {
    for (int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) expect_signal_ends_demo_with_status_0(signal_number);
}

TEST(DemoProgram, UnderNohupItOutlivesSighupAndStillEndsOnSigterm) {
    // nohup starts it with SIGHUP ignored; it stays ignored through SDL's
    // start-up, and the other stop signals are still handled.
    ChildProcess demo;
    ASSERT_EQ(child_start(&demo, "/usr/bin/nohup", {DEMO}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"},
                          ENGINE_SOURCE_DIR),
              0);
    const bool running = child_wait_for(&demo, "FPS: ", 5, 10000);
    const bool ignores_hup = child_ignores(&demo, SIGHUP), ignores_term = child_ignores(&demo, SIGTERM);
    kill(demo.pid, SIGHUP);
    // A handled SIGHUP would end it at the next present: many frames later
    // it still presents.
    const size_t frames = count_of(demo.stderr_text, "FPS: ");
    const bool outlived = child_wait_for(&demo, "FPS: ", static_cast<int>(frames) + 30, 10000);
    kill(demo.pid, SIGTERM);
    const int status = child_wait_exit(&demo, 10000);
    ASSERT_TRUE(running) << demo.stderr_text.substr(0, 400);
    EXPECT_TRUE(ignores_hup);
    EXPECT_FALSE(ignores_term);
    EXPECT_TRUE(outlived) << "SIGHUP ended it";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(DemoProgram, StopSignalsAtAnyMomentOfStartUpEndItWithStatusZero) {
    EXPECT_EQ(stop_signals_during_startup(DEMO, {}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"},
                                          ENGINE_SOURCE_DIR, 3000),
              "");
    // In a real window start-up waits on the X server, and SDL's video
    // start-up is where it would put its own handlers.
    ASSERT_EQ(missing_tool("Xvfb", "xvfb"), "");
    VirtualDisplay xvfb;
    const VirtualDisplayStopper stopper = {&xvfb};
    const int started = virtual_display_start(&xvfb, 20000);
    if (started == 0) {
        EXPECT_EQ(stop_signals_during_startup(DEMO, {}, {"SDL_VIDEODRIVER=", "DISPLAY=" + xvfb.name, "SDL_AUDIODRIVER=dummy"},
                                              ENGINE_SOURCE_DIR, 3000),
                  "");
    }
    virtual_display_stop(&xvfb);
    ASSERT_EQ(started, 0) << "Xvfb starts";
}

TEST(DemoProgram, NeverShowsMoreThanOneFramePerSeventeenMilliseconds) {
    // Headless, drawing and presenting take well under a millisecond, so
    // every frame is one that the pacing alone holds back.
    const auto started = std::chrono::steady_clock::now();
    ChildProcess demo;
    ASSERT_EQ(child_start(&demo, DEMO, {}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, ENGINE_SOURCE_DIR), 0);
    const bool running = child_wait_for(&demo, "FPS: ", 40, 10000);
    kill(demo.pid, SIGTERM);
    const int status = child_wait_exit(&demo, 10000);
    const long ran_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - started)
                                              .count());
    ASSERT_TRUE(running) << demo.stderr_text.substr(0, 400);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(demo.stderr_text.find("inf"), std::string::npos) << demo.stderr_text.substr(0, 400);
    long frames = 0;
    for (size_t at = demo.stderr_text.find("FPS: "); at != std::string::npos;
         at = demo.stderr_text.find("FPS: ", at + 5)) {
        const double rate = strtod(demo.stderr_text.c_str() + at + 5, nullptr);
        EXPECT_LE(rate, 58.8) << "frame " << frames;
        frames++;
    }
    EXPECT_GE(frames, 40);
    // The first frame may begin at once; each later one 17 ms after the last.
    EXPECT_LE(frames, ran_ms / 17 + 1) << frames << " frames in " << ran_ms << " ms";
}

TEST(DemoProgram, FailsCleanlyWithoutADisplay) {
    ChildProcess demo;
    // No DISPLAY at all: there is no X server it could reach.
    ASSERT_EQ(child_start(&demo, DEMO, {}, {"SDL_VIDEODRIVER=x11", "DISPLAY=", "SDL_AUDIODRIVER=dummy"},
                          ENGINE_SOURCE_DIR),
              0);
    const int status = child_wait_exit(&demo, 10000);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(demo.stderr_text.find("VIDEO: "), std::string::npos) << demo.stderr_text;
}

TEST(DemoProgram, ShowsTheSceneInARealWindowUnderXvfb) {
    ASSERT_EQ(missing_tool("Xvfb", "xvfb") + missing_tool("xwd", "x11-apps") + missing_tool("convert", "imagemagick"), "");
    VirtualDisplay xvfb;
    const VirtualDisplayStopper stopper = {&xvfb};
    ASSERT_EQ(virtual_display_start(&xvfb, 20000), 0) << "Xvfb starts";
    const std::string display_name = xvfb.name;

    ChildProcess demo;
    ASSERT_EQ(child_start(&demo, DEMO, {}, {"SDL_VIDEODRIVER=", "DISPLAY=" + display_name, "SDL_AUDIODRIVER=dummy"},
                          ENGINE_SOURCE_DIR),
              0);
    const bool running = child_wait_for(&demo, "FPS: ", 20, 15000);
    const std::string raw = std::string(ENGINE_BINARY_DIR) + "/xvfb_shot_" + std::to_string(xvfb.number) + ".rgb";
    const int shot = run_command("xwd -root -silent -display " + display_name + " | convert xwd:- -depth 8 rgb:" + raw);
    kill(demo.pid, SIGTERM);
    const int status = child_wait_exit(&demo, 10000);
    virtual_display_stop(&xvfb);
    ASSERT_TRUE(running) << demo.stderr_text;
    ASSERT_EQ(shot, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::ifstream in(raw, std::ios::binary);
    std::vector<unsigned char> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    remove(raw.c_str());
    ASSERT_EQ(pixels.size(), 640u * 480u * 3u);
    auto at = [&](int x, int y) {
        const unsigned char *p = &pixels[(x + y * 640) * 3];
        return Rgb{p[0], p[1], p[2]};
    };
    // Palette 37 is FF 00 BF and 6 is A8 57 00; the window is 16-bit, so
    // allow for the lost low bits.
    auto is_pink = [](Rgb c) { return c.r > 0xF0 && c.g < 0x10 && c.b > 0xB0 && c.b < 0xC8; };
    auto is_orange = [](Rgb c) { return c.r > 0xA0 && c.r < 0xB0 && c.g > 0x50 && c.g < 0x5C && c.b < 0x08; };
    auto is_black = [](Rgb c) { return c.r == 0 && c.g == 0 && c.b == 0; };

    // Find the window by the scene's 41-pixel pink line at (340..380, 120).
    int origin_x = -1, origin_y = -1;
    for (int y = 0; y < 480 && origin_x < 0; y++) {
        int run = 0;
        for (int x = 0; x < 640; x++) {
            run = is_pink(at(x, y)) ? run + 1 : 0;
            if (run == 41) {
                origin_x = x - 380;
                origin_y = y - 120;
                break;
            }
        }
    }
    ASSERT_GE(origin_x, 0) << "the pink line is on screen";
    ASSERT_GE(origin_y, 0);
    ASSERT_LE(origin_x + 400, 640);
    ASSERT_LE(origin_y + 240, 480);
    auto scene = [&](int x, int y) { return at(origin_x + x, origin_y + y); };
    EXPECT_TRUE(is_pink(scene(379, 121)));
    EXPECT_TRUE(is_pink(scene(379, 123)));
    EXPECT_TRUE(is_orange(scene(100, 60))) << "first point of the upper orange circle";
    EXPECT_TRUE(is_orange(scene(100, 180))) << "first point of the lower orange circle";
    EXPECT_TRUE(is_black(scene(200, 10)));
    EXPECT_TRUE(is_black(scene(320, 120))) << "the pink circle's centre";
    int wave_dots = 0;
    for (int y = 69; y <= 171; y++)
        for (int x = 110; x < 250; x++) wave_dots += is_orange(scene(x, y));
    EXPECT_GT(wave_dots, 300) << "the wave band is drawn";
}

// KEVO_MUSIC gives the demo and the showcase any module the player reads:
// an XM and an S3M of ten channels are captured as modrender renders them
// (the demo looping, the showcase once); a module the check refuses is its
// one line and the program runs silently; an S3M's Adlib instrument is
// said once and the rest plays.
TEST(DemoProgram, KevoMusicGivesTheDemoAndTheShowcaseAnXmOrAnS3m) {
    const std::string dir = make_temp_dir("capture_music");
    ASSERT_FALSE(dir.empty());
    std::vector<uint8_t> med(2000, 0);
    memcpy(med.data(), "MMD0", 4);
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
    } files[] = {{"wide.xm", wide_xm_song(10)},
                 {"wide.s3m", wide_s3m_song(10)},
                 {"adlib.s3m", wide_s3m_song(6, true)},
                 {"wide.it", wide_it_song(10)},
                 {"song.med", med}};
    for (const auto &f : files) ASSERT_TRUE(write_whole_file(dir + "/" + f.name, f.bytes));
    const int frames = 60;
    const long sound_frames = capture_audio_frames_after(frames);
    char seconds[64];
    snprintf(seconds, sizeof seconds, "%.9f", static_cast<double>(sound_frames) / 44100.0);
    const struct {
        const char *program, *module, *says;
        bool plays;
    } runs[] = {
        {"demo", "wide.xm", "", true},
        {"showcase", "wide.xm", "", true},
        {"demo", "wide.s3m", "", true},
        {"showcase", "wide.s3m", "", true},
        {"demo", "wide.it", "", true},
        {"showcase", "wide.it", "", true},
        {"demo", "adlib.s3m", "MUSIC: '$': 1 Adlib instrument is not played: its notes stay silent", true},
        {"demo", "song.med", "MUSIC: '$': MED modules are not supported; the demo runs without music", false},
    };
    int n = 0;
    for (const auto &run : runs) {
        const std::string module = dir + "/" + run.module, out = dir + "/c" + std::to_string(n++);
        const ProcessResult r = run_captured(run.program, out, std::to_string(frames), {}, {"KEVO_MUSIC=" + module});
        EXPECT_EQ(r.status, 0) << run.program << " " << run.module << ": " << r.err;
        std::string says = run.says;
        if (!says.empty()) says.replace(says.find('$'), 1, module);
        EXPECT_EQ(count_lines_with(r.err, "MUSIC"), says.empty() ? 0 : 1) << r.err;
        if (!says.empty()) {
            EXPECT_EQ(count_lines_with(r.err, says), 1) << r.err;
        }
        const std::vector<uint8_t> wav = bytes_of(out + "/audio.wav");
        ASSERT_EQ(wav.size(), 44u + 4u * static_cast<size_t>(sound_frames)) << run.program << " " << run.module;
        const long audible = std::count_if(wav.begin() + 44, wav.end(), [](uint8_t b) { return b != 0; });
        if (!run.plays) {
            EXPECT_EQ(audible, 0) << run.module;
            continue;
        }
        EXPECT_GT(audible, sound_frames) << run.program << " " << run.module;
        // The demo loops its music, the showcase plays it once.
        std::vector<std::string> args = {"--seconds", seconds, module, dir + "/ref.wav"};
        if (std::string(run.program) == "demo") args.insert(args.begin(), "--loop");
        ASSERT_EQ(run_program(ENGINE_BINARY_DIR "/modrender", args, {}, nullptr, -1, 0).status, 0);
        EXPECT_TRUE(wav == bytes_of(dir + "/ref.wav")) << run.program << " " << run.module << ": modrender's sound";
    }
    remove_tree(dir);
}
