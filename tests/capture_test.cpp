// Capturing the real, unchanged programs through KEVO_CAPTURE: the demo's
// frames and sound are deterministic and equal what demo_shot and modrender
// make; videos come out of ffmpeg as ffprobe reads them; bad settings and a
// failing ffmpeg fail with one line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "platform/capture.h"
#include "support/musicapp_process.h"
#include "support/platform_process.h"
#include "support/render3d_png.h"
#include "support/test_files.h"

namespace {
const std::string BIN = ENGINE_BINARY_DIR "/";
const std::string MODULE = ENGINE_SOURCE_DIR "/res/kevo.mod";

std::vector<uint8_t> bytes_of(const std::string &path) {
    std::vector<uint8_t> bytes;
    read_whole_file(path, &bytes);
    return bytes;
}

ProcessResult run_captured(const std::string &program, const std::string &target, const std::string &frames,
                      std::vector<std::string> args = {}, std::vector<std::string> env = {}) {
    env.push_back("KEVO_CAPTURE=" + target);
    env.push_back("KEVO_CAPTURE_FRAMES=" + frames);
    // The capture chooses the dummy drivers itself: a display or sound
    // device named here must not be needed.
    env.push_back("SDL_VIDEODRIVER=x11");
    env.push_back("DISPLAY=:4321");
    env.push_back("SDL_AUDIODRIVER=alsa");
    return run_program(BIN + program, args, env, ENGINE_SOURCE_DIR, -1, 0);
}

// Runs a shell command and returns its standard output.
std::string shell_output(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
    pclose(p);
    return out;
}
}  // namespace

TEST(Capture, TheDemoCapturedTwiceGivesTheSameFramesAndModrendersSound) {
    const std::string dir = make_temp_dir("capture");
    ASSERT_FALSE(dir.empty());
    // 120 frames of 17 ms: 2.04 s, exactly 89964 audio frames.
    const ProcessResult first = run_captured("demo", dir + "/a", "120");
    const ProcessResult second = run_captured("demo", dir + "/b", "120");
    ASSERT_TRUE(first.exited) << first.err;
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    // On the virtual clock every frame takes exactly 17 ms.
    EXPECT_EQ(count_lines_with(first.err, "FPS: 58.8"), 120) << first.err.substr(0, 300);
    EXPECT_EQ(count_lines_with(first.err, "FPS: "), 120);

    const std::vector<std::string> names = directory_names(dir + "/a");
    ASSERT_EQ(names.size(), 121u);
    EXPECT_EQ(names.front(), "audio.wav");
    EXPECT_EQ(names[1], "frame_000000.png");
    EXPECT_EQ(names.back(), "frame_000119.png");
    EXPECT_EQ(directory_names(dir + "/b"), names);
    for (const std::string &name : names)
        EXPECT_EQ(bytes_of(dir + "/a/" + name), bytes_of(dir + "/b/" + name)) << name;
    EXPECT_NE(bytes_of(dir + "/a/frame_000000.png"), bytes_of(dir + "/a/frame_000001.png")) << "the scene moves";

    const std::vector<uint8_t> wav = bytes_of(dir + "/a/audio.wav");
    EXPECT_EQ(wav.size(), 44u + 89964u * 4u);
    ASSERT_EQ(run_program(BIN + "modrender", {"--loop", "--seconds", "2.04", MODULE, dir + "/ref.wav"}, {}, nullptr, -1, 0).status, 0);
    EXPECT_TRUE(wav == bytes_of(dir + "/ref.wav")) << "the capture's sound is modrender's, byte for byte";

    // Frame k is what demo_shot draws as its (k + 1)-th frame.
    for (int k : {0, 57, 119}) {
        const std::string shot = dir + "/shot.png";
        ASSERT_EQ(run_program(BIN + "demo_shot", {shot, std::to_string(k + 1)}, {}, nullptr, -1, 0).status, 0);
        char name[64];
        snprintf(name, sizeof name, "/a/frame_%06d.png", k);
        EXPECT_TRUE(bytes_of(shot) == bytes_of(dir + name)) << name;
    }
    remove_tree(dir);
}

TEST(Capture, SoundLengthIsRoundedFramePeriodsAndExamplesCaptureToo) {
    const std::string dir = make_temp_dir("capture_lengths");
    ASSERT_FALSE(dir.empty());
    // 7 frames: 7 x 749.7 = 5247.9 -> 5248; 5 frames: 3748.5 -> 3749.
    for (const auto &[frames, audio] : {std::pair<int, size_t>{7, 5248}, {5, 3749}, {1, 750}}) {
        const std::string out = dir + "/n" + std::to_string(frames);
        ASSERT_EQ(run_captured("demo", out, std::to_string(frames)).status, 0);
        EXPECT_EQ(bytes_of(out + "/audio.wav").size(), 44 + 4 * audio) << frames;
        EXPECT_EQ(directory_names(out).size(), (size_t)frames + 1);
    }
    // Programs that never start music record silence; their own loops end
    // where the capture says.
    for (const char *example : {"particle_fountain", "scene_viewer", "text_showcase"}) {
        const std::string out = dir + "/" + example;
        const ProcessResult r = run_captured(example, out, "12");
        EXPECT_EQ(r.status, 0) << example << ": " << r.err;
        EXPECT_EQ(directory_names(out).size(), 13u) << example;
        const std::vector<uint8_t> wav = bytes_of(out + "/audio.wav");
        ASSERT_EQ(wav.size(), 44u + 4u * 8996u) << example;
        EXPECT_TRUE(std::all_of(wav.begin() + 44, wav.end(), [](uint8_t b) { return b == 0; })) << example;
    }
    // An example told to stop earlier still leaves complete files.
    const std::string early = dir + "/early";
    EXPECT_EQ(run_captured("scene_viewer", early, "50", {"--frames", "3"}).status, 0);
    EXPECT_EQ(directory_names(early).size(), 4u);
    EXPECT_EQ(bytes_of(early + "/audio.wav").size(), 44u + 4u * 2249u);
    remove_tree(dir);
}

TEST(Capture, VideoThroughFfmpegHasTheFrameRateAndTheSound) {
    const std::string dir = make_temp_dir("capture_video");
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(run_command("command -v ffprobe >/dev/null"), 0) << "ffmpeg is installed by the set-up";
    const std::string mp4 = dir + "/demo.mp4";
    const ProcessResult r = run_captured("demo", mp4, "100", {}, {"KEVO_CAPTURE_SCALE=2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(directory_names(dir), std::vector<std::string>{"demo.mp4"}) << "no temporary files are left";
    const std::string probe = shell_output(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,r_frame_rate,nb_frames,sample_rate,channels"
        " -show_entries format=duration -of default=noprint_wrappers=1 '" + mp4 + "'");
    for (const char *entry : {"codec_name=h264", "width=800", "height=480", "r_frame_rate=1000/17", "nb_frames=100",
                              "codec_name=aac", "sample_rate=44100", "channels=2"})
        EXPECT_NE(probe.find(entry), std::string::npos) << entry << " in\n" << probe;
    const size_t at = probe.find("\nduration=");
    ASSERT_NE(at, std::string::npos) << probe;
    EXPECT_NEAR(std::stod(probe.substr(at + 10)), 1.7, 0.03) << probe;

    // The decoded picture has hard 2 x 2 pixel edges: every pixel pair of a
    // row equals its neighbour closely (H.264 is lossy, so allow a little).
    const std::string raw = dir + "/frame.rgb";
    ASSERT_EQ(run_command("ffmpeg -v error -i '" + mp4 + "' -vf 'select=eq(n\\,50)' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + raw + "'"), 0);
    const std::vector<uint8_t> rgb = bytes_of(raw);
    ASSERT_EQ(rgb.size(), 800u * 480u * 3u);
    long differing = 0, lit = 0;
    for (int y = 0; y < 480; y += 2)
        for (int x = 0; x < 800; x += 2)
            for (int c = 0; c < 3; c++) {
                const int a = rgb[(y * 800 + x) * 3 + c], b = rgb[(y * 800 + x + 1) * 3 + c];
                lit += a > 128;
                differing += std::abs(a - b) > 40;
            }
    EXPECT_GT(lit, 200) << "the scene is in the video";
    EXPECT_LT(differing, lit / 10);

    const std::string webm = dir + "/demo.webm";
    ASSERT_EQ(run_captured("demo", webm, "30").status, 0);
    const std::string webm_probe = shell_output("ffprobe -v error -show_entries stream=codec_name,r_frame_rate -of csv=p=0 '" + webm + "'");
    EXPECT_NE(webm_probe.find("vp9,1000/17"), std::string::npos) << webm_probe;
    EXPECT_NE(webm_probe.find("opus"), std::string::npos) << webm_probe;
    remove_tree(dir);
}

TEST(Capture, BadSettingsFailWithOneLine) {
    const std::string dir = make_temp_dir("capture_bad");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(write_whole_file(dir + "/file", {1}));
    struct Case {
        std::string target, frames;
        std::vector<std::string> env;
        const char *says;
    };
    const std::vector<Case> cases = {
        {dir + "/a", "0", {}, "KEVO_CAPTURE_FRAMES"},
        {dir + "/a", "12x", {}, "KEVO_CAPTURE_FRAMES"},
        {dir + "/a", "99999999999999999999", {}, "KEVO_CAPTURE_FRAMES"},
        {dir + "/a", "", {}, "KEVO_CAPTURE_FRAMES"},
        {dir + "/file/a", "5", {}, "Not a directory"},
        {dir + "/missing/a", "5", {}, "No such file"},
        {dir + "/a", "5", {"KEVO_CAPTURE_SCALE=2"}, "KEVO_CAPTURE_SCALE"},
        {dir + "/v.mp4", "5", {"KEVO_CAPTURE_SCALE=0"}, "KEVO_CAPTURE_SCALE"},
        {dir + "/v.mp4", "5", {"PATH=" + dir}, "ffmpeg"},
        {dir + "/missing/v.mkv", "5", {}, "v.mkv"},
    };
    for (const Case &c : cases) {
        const ProcessResult r = run_captured("demo", c.target, c.frames, {}, c.env);
        EXPECT_TRUE(r.exited && r.status == 1) << c.target << " " << c.frames << ": " << r.status;
        EXPECT_EQ(count_lines_with(r.err, ""), 1) << r.err;
        EXPECT_EQ(r.err.rfind("CAPTURE: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(directory_names(dir), std::vector<std::string>{"file"}) << "nothing is left behind";
    remove_tree(dir);
}

// An ffmpeg that stops reading at once, or takes every frame and then
// fails: one line naming the video, status 1, and none of the video's
// temporary files left beside it.
TEST(Capture, FailingFfmpegIsNamedAndLeavesNoFiles) {
    const std::string dir = make_temp_dir("capture_ffmpeg");
    ASSERT_FALSE(dir.empty());
    const std::string bin = dir + "/bin", out = dir + "/out";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const struct {
        const char *script, *says;
    } cases[] = {
        {"#!/bin/sh\nexit 1\n", "ffmpeg stopped taking frames for '"},
        {"#!/bin/sh\ncat >/dev/null\nexit 1\n", "ffmpeg could not encode the frames of '"},
    };
    for (const auto &c : cases) {
        const std::string fake = bin + "/ffmpeg", script = c.script;
        ASSERT_TRUE(write_whole_file(fake, std::vector<uint8_t>(script.begin(), script.end())));
        ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
        const std::string video = out + "/demo.mp4";
        const ProcessResult r = run_captured("demo", video, "5", {}, {"PATH=" + bin + ":/usr/bin:/bin"});
        EXPECT_TRUE(r.exited && r.status == 1) << c.says << ": status " << r.status;
        EXPECT_EQ(count_lines_with(r.err, "CAPTURE: "), 1) << r.err;
        EXPECT_EQ(count_lines_with(r.err, c.says + video + "'"), 1) << r.err;
        EXPECT_EQ(directory_names(out), std::vector<std::string>{}) << c.says;
    }
    remove_tree(dir);
}

TEST(Capture, KevoFromStartsTheDemosMusicMidSongAsPlayingWouldHaveIt) {
    const std::string dir = make_temp_dir("capture_from");
    ASSERT_FALSE(dir.empty());
    // Where row 16 of position 2 falls in the song, by the player's scan.
    std::vector<uint8_t> module;
    ASSERT_TRUE(read_whole_file(MODULE, &module));
    ModPlayer *p = mod_player_create(44100, module.data(), (long)module.size());
    ASSERT_NE(p, nullptr);
    const int64_t seek_frame = mod_player_seek(p, 2, 16);
    mod_player_destroy(p);
    ASSERT_GT(seek_frame, 44100 * 5);

    // 100 frames from there: 74970 audio frames, which must be frames
    // seek_frame .. seek_frame + 74969 of the song played from its start.
    const ProcessResult r = run_captured("demo", dir + "/c", "100", {}, {"KEVO_FROM=2:16"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("MUSIC"), std::string::npos) << r.err;
    char seconds[64];
    snprintf(seconds, sizeof seconds, "%.9f", (double)(seek_frame + 74970) / 44100.0);
    ASSERT_EQ(run_program(BIN + "modrender", {"--loop", "--seconds", seconds, MODULE, dir + "/ref.wav"}, {}, nullptr, -1, 0).status, 0);
    const std::vector<uint8_t> got = bytes_of(dir + "/c/audio.wav"), ref = bytes_of(dir + "/ref.wav");
    ASSERT_EQ(got.size(), 44u + 74970u * 4u);
    ASSERT_EQ(ref.size(), 44u + (size_t)(seek_frame + 74970) * 4u);
    EXPECT_TRUE(std::equal(got.begin() + 44, got.end(), ref.begin() + 44 + seek_frame * 4)) << "the song from row 2:16 on";

    // A KEVO_FROM that cannot be played is named, and the song starts at its beginning.
    const std::vector<uint8_t> from_start = [&] {
        EXPECT_EQ(run_captured("demo", dir + "/s", "20").status, 0);
        return bytes_of(dir + "/s/audio.wav");
    }();
    for (const char *bad : {"2:64", "x", "1:", "200", "90:0"}) {
        const ProcessResult b = run_captured("demo", dir + "/b", "20", {}, {std::string("KEVO_FROM=") + bad});
        EXPECT_EQ(b.status, 0) << bad;
        EXPECT_EQ(count_lines_with(b.err, "MUSIC: KEVO_FROM"), 1) << bad << ": " << b.err;
        EXPECT_TRUE(bytes_of(dir + "/b/audio.wav") == from_start) << bad;
    }
    remove_tree(dir);
}

namespace {
struct KickLog {
    bool started;
};
void on_note(void *user, int channel, uint8_t sample, uint16_t, uint8_t) {
    // The song's drums are on channel 1; sample 5 is the kick.
    if (channel == 1 && sample == 5) static_cast<KickLog *>(user)->started = true;
}
}  // namespace

// The showcase, captured for a few seconds of the verse: deterministic, its
// sound is the song, and the screen flashes on exactly the frames that
// first hear a kick drum.
TEST(Capture, ShowcaseFlashesOnTheFramesThatHearAKick) {
    const std::string dir = make_temp_dir("capture_showcase");
    ASSERT_FALSE(dir.empty());
    const int frames = 150;
    const ProcessResult first = run_captured("showcase", dir + "/a", std::to_string(frames), {}, {"KEVO_FROM=2:0"});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(run_captured("showcase", dir + "/b", std::to_string(frames), {}, {"KEVO_FROM=2:0"}).status, 0);
    const std::vector<std::string> names = directory_names(dir + "/a");
    ASSERT_EQ(names.size(), (size_t)frames + 1);
    for (const std::string &name : names)
        ASSERT_TRUE(bytes_of(dir + "/a/" + name) == bytes_of(dir + "/b/" + name)) << name;

    // Where the kicks fall, from a player of our own moved to the same row
    // and rendered a frame at a time.
    std::vector<uint8_t> module = bytes_of(MODULE);
    ModPlayer *p = mod_player_create(44100, module.data(), (long)module.size());
    ASSERT_NE(p, nullptr);
    const int64_t start = mod_player_seek(p, 2, 0);
    ASSERT_GT(start, 0);
    KickLog kick = {false};
    std::vector<int64_t> kicks;  // song frames
    // The row sought starts inside the seek: its own kick is read off its cells.
    if (p->channels[1].trigger && p->channels[1].sample == 5) kicks.push_back(start);
    mod_player_set_note_callback(p, on_note, &kick);
    int32_t scratch[2];
    const int64_t heard_last = start + capture_audio_frames_after(frames - 1);
    for (int64_t f = start + 1; f <= heard_last; f++) {
        mod_player_render(p, scratch, 1);
        if (kick.started) kicks.push_back(f);
        kick.started = false;
    }
    mod_player_destroy(p);
    ASSERT_GE(kicks.size(), 4u);

    int flashes = 0;
    for (int k = 0; k < frames; k++) {
        const int64_t heard = start + capture_audio_frames_after(k);
        const int64_t before = k > 0 ? start + capture_audio_frames_after(k - 1) : start - 1;
        bool expected = false;
        for (int64_t f : kicks) expected |= f > before && f <= heard;
        char name[64];
        snprintf(name, sizeof name, "/a/frame_%06d.png", k);
        RgbPicture picture;
        std::string error;
        ASSERT_TRUE(png_read_rgb(dir + name, &picture, &error)) << error;
        // The bottom-left corner is background: the flash's brightest grey
        // (palette 26: 90 90 90) only on the frame that first hears the kick.
        const uint8_t *corner = &picture.rgb[(239 * 400 + 0) * 3];
        const bool lit = corner[0] == 0x90 && corner[1] == 0x90 && corner[2] == 0x90;
        EXPECT_EQ(lit, expected) << "frame " << k;
        flashes += lit;
    }
    EXPECT_EQ(flashes, (int)kicks.size());

    std::vector<uint8_t> wav = bytes_of(dir + "/a/audio.wav");
    EXPECT_EQ(wav.size(), 44u + 4u * (size_t)capture_audio_frames_after(frames));

    // It ends by itself, status 0, before drawing the first frame that
    // hears the song's end.
    p = mod_player_create(44100, module.data(), (long)module.size());
    ASSERT_NE(p, nullptr);
    const int64_t near_end = mod_player_seek(p, 10, 56);
    const int64_t song_end = mod_song_length(p, 44100LL * 3600, nullptr);
    mod_player_destroy(p);
    long last = 0;
    while (near_end + capture_audio_frames_after(last) < song_end) last++;
    const ProcessResult end = run_captured("showcase", dir + "/end", "300", {}, {"KEVO_FROM=10:56"});
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(directory_names(dir + "/end").size() - 1, (size_t)last);
    remove_tree(dir);
}
