// Capturing the real, unchanged programs through KEVO_CAPTURE: the demo's
// frames and sound are deterministic and equal what demo_shot and modrender
// make; videos come out of ffmpeg as ffprobe reads them; a GIF, read back
// through giflib, holds exactly the PNG capture's frames; bad settings and
// a failing ffmpeg fail with one line; stop signals and write errors leave
// complete files or none.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "gfx2d/font.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/palette.h"
#include "gfx2d/text_object.h"
#include "music/mod_player.h"
#include "platform/capture.h"
#include "support/music_formatbuilder.h"
#include "support/music_wide_songs.h"
#include "support/program_capture.h"
#include "support/program_run.h"
#include "support/platform_process.h"
#include "support/render3d_png.h"
#include "support/test_files.h"

namespace {
const std::string BIN = ENGINE_BINARY_DIR "/";
const std::string MODULE = ENGINE_SOURCE_DIR "/res/kevo.mod";

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

// `path` quoted for the shell and marked as a file for ffmpeg's tools,
// whatever it looks like.
std::string ffmpeg_file(const std::string &path) { return "'file:" + path + "'"; }

// ffprobe's "key=value" lines for the streams (their packets counted) and
// the format of a video.
std::string probe(const std::string &video) {
    return shell_output("ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets"
                        " -show_entries format=duration -of default=noprint_wrappers=1 " + ffmpeg_file(video));
}

// The number after "key=" in ffprobe's output (the first one from `from`), or -1.
double probed(const std::string &text, const std::string &key, size_t from = 0) {
    const size_t at = text.find("\n" + key + "=", from);
    if (at == std::string::npos) return -1;
    return std::atof(text.c_str() + at + key.size() + 2);
}

// Checks that a video decodes without a complaint and holds `frames`
// frames with their sound; empty when it does, else what is wrong.
std::string whole_video_problems(const std::string &video, long frames) {
    std::string problems;
    const std::string info = "\n" + probe(video);
    const size_t picture = info.find("codec_type=video");
    if (picture == std::string::npos || probed(info, "nb_read_packets", picture) != frames)
        problems += "video frames " + std::to_string(probed(info, "nb_read_packets", picture)) + " for " +
                    std::to_string(frames) + "; ";
    // The sound is as long as the picture, no longer.
    if (info.find("codec_type=audio") == std::string::npos)
        problems += "no sound; ";
    else if (std::abs(probed(info, "duration") - frames * 0.017) > 0.05)
        problems += "lasts " + std::to_string(probed(info, "duration")) + " s; ";
    const std::string decoding = shell_output("ffmpeg -nostdin -v error -i " + ffmpeg_file(video) + " -f null - 2>&1");
    if (!decoding.empty()) problems += "decoding says: " + decoding;
    return problems;
}

// Every PNG frame of a capture folder, numbered from 0 without a gap, and
// an audio.wav holding exactly their sound under a header that says so;
// empty when so, else what is wrong.
std::string complete_folder_problems(const std::string &dir, long *frames) {
    const std::vector<std::string> names = directory_names(dir);
    long count = 0;
    std::string problems;
    for (const std::string &name : names) {
        if (name == "audio.wav") continue;
        char expected[64];
        snprintf(expected, sizeof expected, "frame_%06ld.png", count++);
        if (name != expected) problems += "'" + name + "' where " + expected + " belongs; ";
    }
    *frames = count;
    const std::vector<uint8_t> wav = bytes_of(dir + "/audio.wav");
    if (wav.size() < 44) return problems + "no WAV header";
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(wav[at]) | wav[at + 1] << 8 | wav[at + 2] << 16 | static_cast<uint32_t>(wav[at + 3]) << 24;
    };
    if (u32(4) != wav.size() - 8 || u32(40) != wav.size() - 44)
        problems += "header says " + std::to_string(u32(40)) + " bytes of sound, the file holds " +
                    std::to_string(wav.size() - 44) + "; ";
    if (wav.size() != 44 + 4 * static_cast<size_t>(capture_audio_frames_after(count)))
        problems += "sound of " + std::to_string((wav.size() - 44) / 4) + " frames for " + std::to_string(count) +
                    " presents; ";
    return problems;
}

// A GIF as giflib reads it: each frame's rectangle drawn over the frames
// before it, the delays, the global colour table and the loop.
struct DecodedGif {
    int width = 0, height = 0;
    std::vector<uint32_t> colors;               // R << 24 | G << 16 | B << 8, as Palette
    std::vector<std::vector<uint8_t>> frames;   // the whole picture after each frame, as indices
    std::vector<int> left, top, width_px, height_px;  // each frame's rectangle
    std::vector<int> delays;                    // hundredths of a second
    bool loops_forever = false;                 // NETSCAPE2.0 with loop count 0
};

// Reads `path` through DGifSlurp; empty when it is a GIF this capture can
// have made (one colour table, frames drawn over each other, no
// transparency), else what is wrong.
std::string decode_gif(const std::string &path, DecodedGif *out) {
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif) return std::string("cannot open: ") + GifErrorString(error);
    std::string problems;
    if (DGifSlurp(gif) != GIF_OK) problems += std::string("cannot read: ") + GifErrorString(gif->Error) + "; ";
    out->width = gif->SWidth;
    out->height = gif->SHeight;
    if (gif->SColorMap)
        for (int i = 0; i < gif->SColorMap->ColorCount; i++) {
            const GifColorType c = gif->SColorMap->Colors[i];
            out->colors.push_back(static_cast<uint32_t>(c.Red) << 24 | c.Green << 16 | c.Blue << 8);
        }
    std::vector<uint8_t> picture(static_cast<size_t>(gif->SWidth) * gif->SHeight, 0);
    for (int k = 0; problems.empty() && k < gif->ImageCount; k++) {
        const SavedImage &image = gif->SavedImages[k];
        const GifImageDesc &d = image.ImageDesc;
        if (d.ColorMap || d.Interlace) problems += "frame " + std::to_string(k) + " has a colour table or is interlaced; ";
        if (d.Left < 0 || d.Top < 0 || d.Width < 1 || d.Height < 1 || d.Left + d.Width > gif->SWidth ||
            d.Top + d.Height > gif->SHeight) {
            problems += "frame " + std::to_string(k) + " outside the screen; ";
            break;
        }
        GraphicsControlBlock control = {};
        if (DGifSavedExtensionToGCB(gif, k, &control) != GIF_OK) problems += "no control block; ";
        if (control.DisposalMode != DISPOSE_DO_NOT || control.TransparentColor != NO_TRANSPARENT_COLOR)
            problems += "frame " + std::to_string(k) + " is disposed of or has a transparent colour; ";
        for (int y = 0; y < d.Height; y++)
            for (int x = 0; x < d.Width; x++)
                picture[static_cast<size_t>(d.Top + y) * gif->SWidth + d.Left + x] = image.RasterBits[y * d.Width + x];
        out->frames.push_back(picture);
        out->left.push_back(d.Left);
        out->top.push_back(d.Top);
        out->width_px.push_back(d.Width);
        out->height_px.push_back(d.Height);
        out->delays.push_back(control.DelayTime);
        for (int e = 0; e + 1 < image.ExtensionBlockCount; e++) {
            const ExtensionBlock &app = image.ExtensionBlocks[e], &sub = image.ExtensionBlocks[e + 1];
            if (app.Function == APPLICATION_EXT_FUNC_CODE && app.ByteCount == 11 &&
                memcmp(app.Bytes, "NETSCAPE2.0", 11) == 0 && sub.Function == CONTINUE_EXT_FUNC_CODE &&
                sub.ByteCount == 3 && sub.Bytes[0] == 1 && sub.Bytes[1] == 0 && sub.Bytes[2] == 0)
                out->loops_forever = true;
        }
    }
    DGifCloseFile(gif, &error);
    return problems;
}

// Checks a decoded GIF against the PNG capture in `png_dir`: its first
// `frames` frames, each pixel k x k, equal the PNGs through the palette;
// each rectangle is the one that changed since the frame before (one pixel
// at 0, 0 when nothing did); the delays add up to within half a hundredth
// of the frames' time; it loops. Empty when so, else what is wrong.
std::string gif_against_pngs(const DecodedGif &gif, const std::string &png_dir, int k, size_t frames) {
    std::string problems;
    if (gif.width != 400 * k || gif.height != 240 * k) problems += "size; ";
    if (gif.colors != std::vector<uint32_t>(Palette, Palette + 256)) problems += "the colour table is not the palette; ";
    if (!gif.loops_forever) problems += "no loop; ";
    if (gif.frames.size() < frames) return problems + "only " + std::to_string(gif.frames.size()) + " frames";
    long total = 0;
    RgbPicture before;
    for (size_t f = 0; f < frames && problems.empty(); f++) {
        total += gif.delays[f];
        if (std::abs(total * 10 - 17 * static_cast<long>(f + 1)) > 5 || gif.delays[f] < 1)
            problems += "frame " + std::to_string(f) + " ends at " + std::to_string(total) + " hundredths; ";
        char name[64];
        snprintf(name, sizeof name, "/frame_%06zu.png", f);
        RgbPicture png;
        std::string error;
        if (!png_read_rgb(png_dir + name, &png, &error)) return problems + error;
        long differing = 0;
        int x0 = 400, y0 = 240, x1 = -1, y1 = -1;
        for (int y = 0; y < 240 * k; y++)
            for (int x = 0; x < 400 * k; x++) {
                const size_t at = (static_cast<size_t>(y / k) * 400 + x / k) * 3;
                const uint32_t shown = gif.colors[gif.frames[f][static_cast<size_t>(y) * gif.width + x]];
                const uint32_t wanted = static_cast<uint32_t>(png.rgb[at]) << 24 | png.rgb[at + 1] << 16 | png.rgb[at + 2] << 8;
                differing += shown != wanted;
                if (f > 0 && y % k == 0 && x % k == 0 && memcmp(&before.rgb[at], &png.rgb[at], 3) != 0) {
                    x0 = std::min(x0, x / k), x1 = std::max(x1, x / k);
                    y0 = std::min(y0, y / k), y1 = std::max(y1, y / k);
                }
            }
        if (differing) problems += "frame " + std::to_string(f) + ": " + std::to_string(differing) + " pixels differ; ";
        if (f == 0) x0 = y0 = 0, x1 = 399, y1 = 239;
        if (x1 < 0) x0 = y0 = x1 = y1 = 0;
        if (gif.left[f] != x0 * k || gif.top[f] != y0 * k || gif.width_px[f] != (x1 - x0 + 1) * k ||
            gif.height_px[f] != (y1 - y0 + 1) * k)
            problems += "frame " + std::to_string(f) + " is not the rectangle that changed; ";
        before = png;
    }
    return problems;
}

// The processes whose parent is `pid`, from /proc.
std::vector<pid_t> children_of(pid_t pid) {
    std::vector<pid_t> children;
    for (const std::string &name : directory_names("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat("/proc/" + name + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        int parent = 0;
        char state = 0;
        if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == pid)
            children.push_back(std::atoi(name.c_str()));
    }
    return children;
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
    // Sync tracks read at the virtual clock's played rows: captured twice,
    // the same frames (here the rings, which move with the row's fraction).
    for (const char *run : {"/s1", "/s2"})
        ASSERT_EQ(run_captured("sync_tracks", dir + run, "30", {}, {"KEVO_FROM=4:8"}).status, 0) << run;
    const std::vector<std::string> synced = directory_names(dir + "/s1");
    ASSERT_EQ(synced.size(), 31u);
    for (const std::string &name : synced)
        EXPECT_EQ(bytes_of(dir + "/s1/" + name), bytes_of(dir + "/s2/" + name)) << name;
    EXPECT_NE(bytes_of(dir + "/s1/frame_000000.png"), bytes_of(dir + "/s1/frame_000001.png"));
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
        EXPECT_EQ(directory_names(out).size(), static_cast<size_t>(frames) + 1);
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
    // While capturing, an example's --shot is ignored with one line, and
    // whichever of --frames and the capture's count comes first ends it.
    const struct {
        const char *frames, *capture_frames;
        size_t made;
    } shots[] = {{"20", "10", 10}, {"3", "50", 3}};
    for (const auto &c : shots) {
        const std::string out = dir + "/shot" + c.frames, shot = dir + "/x.png";
        const ProcessResult r =
            run_captured("scene_viewer", out, c.capture_frames, {"--frames", c.frames, "--shot", shot});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count_lines_with(r.err, "scene_viewer: --shot is ignored while capturing"), 1) << r.err;
        EXPECT_EQ(directory_names(out).size(), c.made + 1) << c.frames;
        EXPECT_FALSE(file_exists(shot)) << c.frames;
    }
    // text_showcase --frames draws without a window or presents: there the
    // capture is ignored, with one line.
    const ProcessResult text =
        run_captured("text_showcase", dir + "/none", "10", {"--frames", "3", "--shot", dir + "/t.png"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(count_lines_with(text.err, "text_showcase: KEVO_CAPTURE is ignored"), 1) << text.err;
    EXPECT_EQ(count_lines_with(text.err, ""), 1) << text.err;
    EXPECT_TRUE(file_exists(dir + "/t.png"));
    EXPECT_FALSE(file_exists(dir + "/none"));
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

// A GIF holds the PNG capture's frames exactly, each pixel k x k, as
// rectangles of what changed, with delays that keep to 17 ms a frame, and
// loops; captured twice it is the same file; it has no sound and leaves no
// other file.
TEST(Capture, AGifHoldsThePngCapturesFramesExactly) {
    const std::string dir = make_temp_dir("capture_gif");
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(run_captured("demo", dir + "/png", "90").status, 0);
    for (const auto &[name, scale, frames] : {std::tuple<const char *, int, int>{"d.gif", 1, 90}, {"d2.GIF", 2, 40}}) {
        const ProcessResult r = run_captured("demo", dir + "/" + name, std::to_string(frames), {},
                                             {"KEVO_CAPTURE_SCALE=" + std::to_string(scale)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count_lines_with(r.err, "CAPTURE"), 0) << r.err;
        DecodedGif gif;
        ASSERT_EQ(decode_gif(dir + "/" + name, &gif), "") << name;
        EXPECT_EQ(gif.frames.size(), static_cast<size_t>(frames)) << name;
        EXPECT_EQ(gif_against_pngs(gif, dir + "/png", scale, static_cast<size_t>(frames)), "") << name;
        EXPECT_EQ(std::vector<int>(gif.delays.begin(), gif.delays.begin() + 6), (std::vector<int>{2, 1, 2, 2, 2, 1}));
    }
    ASSERT_EQ(run_captured("demo", dir + "/again.gif", "90").status, 0);
    EXPECT_TRUE(bytes_of(dir + "/again.gif") == bytes_of(dir + "/d.gif"));
    EXPECT_EQ(directory_names(dir), (std::vector<std::string>{"again.gif", "d.gif", "d2.GIF", "png"}));
    remove_tree(dir);
}

TEST(Capture, BadSettingsFailWithOneLine) {
    const std::string dir = make_temp_dir("capture_bad");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(write_whole_file(dir + "/file", {1}));
    // A folder named like the video, and a folder named ffmpeg on PATH.
    ASSERT_EQ(mkdir((dir + "/d.mp4").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/d.gif").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/bin/ffmpeg").c_str(), 0755), 0);
    struct Case {
        std::string target, frames;
        std::vector<std::string> env;
        std::string says;
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
        {dir + "/d.mp4", "5", {}, "'" + dir + "/d.mp4' is a folder"},
        {dir + "/v.mp4", "5", {"PATH=" + dir + "/bin"}, "no executable ffmpeg on PATH"},
        // Video names of kinds not made here are never taken for folders.
        {dir + "/v.mov", "5", {}, "'" + dir + "/v.mov' names a .mov video"},
        {dir + "/v.AVI", "5", {}, ".AVI video"},
        {dir + "/v.apng", "5", {}, ".apng video"},
        // Nor are picture names: a capture makes no picture.
        {dir + "/shot.png", "5", {}, "'" + dir + "/shot.png' names a .png picture: a capture makes a folder of PNG "
                                     "frames (a name without an extension), a .gif, or a .mp4, .mkv or .webm video"},
        {dir + "/shot.PCX", "5", {}, ".PCX picture"},
        {dir + "/shot.jpg", "5", {}, ".jpg picture"},
        {dir + "/shot.webp", "5", {}, ".webp picture"},
        {dir + "/missing/v.gif", "5", {}, "cannot write '" + dir + "/missing/v.gif': No such file"},
        {dir + "/d.gif", "5", {}, "'" + dir + "/d.gif' is a folder"},
        {dir + "/v.gif", "5", {"KEVO_CAPTURE_SCALE=9"}, "KEVO_CAPTURE_SCALE"},
    };
    for (const Case &c : cases) {
        const ProcessResult r = run_captured("demo", c.target, c.frames, {}, c.env);
        EXPECT_TRUE(r.exited && r.status == 1) << c.target << " " << c.frames << ": " << r.status;
        EXPECT_EQ(count_lines_with(r.err, ""), 1) << r.err;
        EXPECT_EQ(r.err.rfind("CAPTURE: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(count_lines_with(r.err, "FPS: "), 0) << "refused before the first frame: " << c.target;
    }
    EXPECT_EQ(directory_names(dir), (std::vector<std::string>{"bin", "d.gif", "d.mp4", "file"})) << "nothing is left behind";
    EXPECT_EQ(directory_names(dir + "/d.mp4"), std::vector<std::string>{});
    remove_tree(dir);
}

// A folder that holds an earlier capture is refused and kept as it was;
// an empty folder, or one holding other files, takes a capture.
TEST(Capture, AFolderHoldingACaptureIsRefusedAndKept) {
    const std::string dir = make_temp_dir("capture_folders");
    ASSERT_FALSE(dir.empty());
    const std::string c1 = dir + "/c1";
    ASSERT_EQ(run_captured("demo", c1, "10").status, 0);
    const std::vector<std::string> names = directory_names(c1);
    ASSERT_EQ(names.size(), 11u);
    const std::vector<uint8_t> wav = bytes_of(c1 + "/audio.wav");
    const ProcessResult again = run_captured("demo", c1, "3");
    EXPECT_TRUE(again.exited && again.status == 1) << again.err;
    EXPECT_EQ(count_lines_with(again.err, "CAPTURE: '" + c1 + "' already holds a capture"), 1) << again.err;
    EXPECT_EQ(count_lines_with(again.err, "FPS: "), 0) << again.err;
    EXPECT_EQ(directory_names(c1), names);
    EXPECT_TRUE(bytes_of(c1 + "/audio.wav") == wav);
    // Only the sound of an earlier capture is enough to refuse.
    const std::string sound_only = dir + "/sound_only";
    ASSERT_EQ(mkdir(sound_only.c_str(), 0755), 0);
    ASSERT_TRUE(write_whole_file(sound_only + "/audio.wav", {1, 2}));
    EXPECT_EQ(run_captured("demo", sound_only, "3").status, 1);
    EXPECT_EQ(bytes_of(sound_only + "/audio.wav"), (std::vector<uint8_t>{1, 2}));

    const std::string empty = dir + "/empty", other = dir + "/other";
    ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
    ASSERT_TRUE(write_whole_file(other + "/notes.txt", {1}));
    for (const std::string &folder : {empty, other}) {
        const ProcessResult r = run_captured("demo", folder, "3");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count_lines_with(r.err, "CAPTURE"), 0) << r.err;
        EXPECT_TRUE(bytes_of(folder + "/frame_000002.png") == bytes_of(c1 + "/frame_000002.png")) << folder;
    }
    EXPECT_EQ(directory_names(other).size(), 5u);
    remove_tree(dir);
}

// An ffmpeg that stops reading at once, or takes every frame and then
// fails: one line naming the video and quoting ffmpeg's last complaint,
// status 1, and none of the video's temporary files left beside it.
TEST(Capture, FailingFfmpegIsNamedAndLeavesNoFiles) {
    const std::string dir = make_temp_dir("capture_ffmpeg");
    ASSERT_FALSE(dir.empty());
    const std::string bin = dir + "/bin", out = dir + "/out";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const struct {
        const char *script, *says, *quoted;
    } cases[] = {
        {"#!/bin/sh\nexit 1\n", "ffmpeg stopped taking frames for '", "': it ended with status 1"},
        {"#!/bin/sh\ncat >/dev/null\nexit 1\n", "ffmpeg could not encode the frames of '", "': it ended with status 1"},
        {"#!/bin/sh\necho 'ffmpeg version x' >&2\necho \"Unknown encoder 'libx264'\" >&2\nexit 1\n",
         "ffmpeg stopped taking frames for '", "': Unknown encoder 'libx264'"},
        // Takes the frames, then cannot join them to the sound.
        {"#!/bin/sh\ncase \"$*\" in *rawvideo*) cat >/dev/null; exit 0;; esac\n"
         "printf 'file:x: Invalid data found when processing input\\n\\n' >&2\nexit 1\n",
         "ffmpeg could not join picture and sound into '", "': file:x: Invalid data found when processing input"},
    };
    for (const auto &c : cases) {
        const std::string fake = bin + "/ffmpeg", script = c.script;
        ASSERT_TRUE(write_whole_file(fake, std::vector<uint8_t>(script.begin(), script.end())));
        ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
        const std::string video = out + "/demo.mp4";
        const ProcessResult r = run_captured("demo", video, "5", {}, {"PATH=" + bin + ":/usr/bin:/bin"});
        EXPECT_TRUE(r.exited && r.status == 1) << c.says << ": status " << r.status;
        EXPECT_EQ(count_lines_with(r.err, "CAPTURE: "), 1) << r.err;
        EXPECT_EQ(count_lines_with(r.err, c.says + video + c.quoted), 1) << r.err;
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
    ModPlayer *p = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
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
    snprintf(seconds, sizeof seconds, "%.9f", static_cast<double>(seek_frame + 74970) / 44100.0);
    ASSERT_EQ(run_program(BIN + "modrender", {"--loop", "--seconds", seconds, MODULE, dir + "/ref.wav"}, {}, nullptr, -1, 0).status, 0);
    const std::vector<uint8_t> got = bytes_of(dir + "/c/audio.wav"), ref = bytes_of(dir + "/ref.wav");
    ASSERT_EQ(got.size(), 44u + 74970u * 4u);
    ASSERT_EQ(ref.size(), 44u + static_cast<size_t>(seek_frame + 74970) * 4u);
    EXPECT_TRUE(std::equal(got.begin() + 44, got.end(), ref.begin() + 44 + seek_frame * 4)) << "the song from row 2:16 on";

    // A KEVO_FROM that cannot be played is named, and the song starts at its beginning.
    const std::vector<uint8_t> from_start = [&] {
        EXPECT_EQ(run_captured("demo", dir + "/s", "20").status, 0);
        return bytes_of(dir + "/s/audio.wav");
    }();
    int run = 0;
    for (const char *bad : {"2:64", "x", "1:", "200", "90:0"}) {
        // A folder each: one that holds a capture is refused.
        const std::string out = dir + "/b" + std::to_string(run++);
        const ProcessResult b = run_captured("demo", out, "20", {}, {std::string("KEVO_FROM=") + bad});
        EXPECT_EQ(b.status, 0) << bad;
        EXPECT_EQ(count_lines_with(b.err, "MUSIC: KEVO_FROM"), 1) << bad << ": " << b.err;
        if (std::string(bad) == "2:64") {
            EXPECT_EQ(count_lines_with(b.err, "KEVO_FROM=2:64: order position 2 has 64 rows (0-63); playing from the start"), 1)
                << b.err;
        }
        EXPECT_TRUE(bytes_of(out + "/audio.wav") == from_start) << bad;
    }
    remove_tree(dir);
}

namespace {
// Standard error without the frame-rate lines, for messages.
std::string without_rate_lines(const std::string &text) {
    std::string kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && line.rfind("FPS: ", 0) != 0) kept += line + "\n";
        start = end + 1;
    }
    return kept;
}

bool exited_with(int status, int code) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code; }

bool process_exists(pid_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }
}  // namespace

// Video names are plain files whatever they look like to ffmpeg, and two
// captures to one name each make their video under names of their own:
// the one in place at the end is whole.
TEST(Capture, AnyFileNameMakesAVideoAndTwoCapturesToOneNameNeverMix) {
    const std::string dir = make_temp_dir("capture_names");
    ASSERT_FALSE(dir.empty());
    // As typed in a shell in that folder: ffmpeg would take "take:" and
    // "12:" for protocols and "-i x.mp4" for an option.
    for (const char *name : {"take:1.mp4", "12:30.mkv", "-i x.mp4"}) {
        const ProcessResult r = run_program(BIN + "demo", {}, capture_env(name, "5"), dir.c_str(), -1, 0);
        EXPECT_EQ(r.status, 0) << name << ": " << without_rate_lines(r.err);
        EXPECT_EQ(count_lines_with(r.err, "CAPTURE"), 0) << r.err;
        EXPECT_EQ(whole_video_problems(dir + "/" + name, 5), "") << name;
    }
    EXPECT_EQ(directory_names(dir), (std::vector<std::string>{"-i x.mp4", "12:30.mkv", "take:1.mp4"}));

    const std::string same = dir + "/same.mp4";
    ChildProcess a, b;
    ASSERT_EQ(child_start(&a, BIN + "demo", {}, capture_env(same, "40"), ENGINE_SOURCE_DIR), 0);
    ASSERT_EQ(child_start(&b, BIN + "demo", {}, capture_env(same, "70"), ENGINE_SOURCE_DIR), 0);
    const int status_a = child_wait_exit(&a, 60000), status_b = child_wait_exit(&b, 60000);
    EXPECT_TRUE(exited_with(status_a, 0)) << without_rate_lines(a.stderr_text);
    EXPECT_TRUE(exited_with(status_b, 0)) << without_rate_lines(b.stderr_text);
    const std::string as_40 = whole_video_problems(same, 40), as_70 = whole_video_problems(same, 70);
    EXPECT_TRUE(as_40.empty() || as_70.empty()) << "40 frames: " << as_40 << "\n70 frames: " << as_70;
    EXPECT_EQ(directory_names(dir).size(), 4u) << "no temporary file is left";
    // Made under a temporary name, the video has a new file's permissions.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(same.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    remove_tree(dir);
}

// A stop signal, as a terminal's Ctrl-C sends it to the whole foreground
// process group or `timeout` sends it to its own, ends a video capture
// with the video of every frame made and status 0.
TEST(Capture, AStopSignalFinishesTheVideoOfTheFramesMade) {
    const std::string dir = make_temp_dir("capture_stop");
    ASSERT_FALSE(dir.empty());
    const std::string mp4 = dir + "/tm.mp4";
    ChildProcess c;
    ASSERT_EQ(child_start(&c, "/usr/bin/setsid", {BIN + "demo"}, capture_env(mp4, "20000"), ENGINE_SOURCE_DIR), 0);
    ASSERT_TRUE(child_wait_for(&c, "FPS: ", 30, 30000)) << c.stderr_text;
    EXPECT_EQ(getpgid(c.pid), c.pid) << "the demo leads a process group of its own";
    ASSERT_EQ(kill(-c.pid, SIGINT), 0);
    const int status = child_wait_exit(&c, 60000);
    EXPECT_TRUE(exited_with(status, 0)) << status << ": " << without_rate_lines(c.stderr_text);
    EXPECT_EQ(without_rate_lines(c.stderr_text), "");
    EXPECT_EQ(directory_names(dir), std::vector<std::string>{"tm.mp4"});
    EXPECT_EQ(whole_video_problems(mp4, count_lines_with(c.stderr_text, "FPS: ")), "");

    const std::string mkv = dir + "/t.mkv";
    const ProcessResult t = run_program("/usr/bin/timeout", {"--preserve-status", "2", BIN + "demo"},
                                        capture_env(mkv, "20000"), ENGINE_SOURCE_DIR, -1, 0);
    EXPECT_TRUE(t.exited && t.status == 0) << t.status << ": " << without_rate_lines(t.err);
    EXPECT_GT(count_lines_with(t.err, "FPS: "), 10);
    EXPECT_EQ(whole_video_problems(mkv, count_lines_with(t.err, "FPS: ")), "");
    EXPECT_EQ(directory_names(dir), (std::vector<std::string>{"t.mkv", "tm.mp4"}));
    remove_tree(dir);
}

// However often a video capture is stopped, it ends with the whole video
// and status 0, or with no video, no file and no ffmpeg left and status 1
// after one line.
TEST(Capture, StoppedAgainWhileFinishingLeavesTheWholeVideoOrNothing) {
    const std::string dir = make_temp_dir("capture_twice");
    ASSERT_FALSE(dir.empty());
    // Signals of one kind sent at once may arrive as one; of kinds apart
    // they always arrive apart.
    const struct {
        const char *name, *scale;
        std::vector<int> signals;
        int gap_ms;
        bool group, may_finish;
    } runs[] = {
        {"t.webm", "4", {SIGTERM, SIGTERM}, 300, false, true},        // as `kill -TERM` twice
        {"i.mp4", "1", {SIGINT, SIGTERM, SIGHUP}, 0, true, false},  // all at once to the group
    };
    for (const auto &run : runs) {
        const std::string out = dir + "/" + run.name, video = out + "/" + run.name;
        ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
        ChildProcess c;
        ASSERT_EQ(child_start(&c, "/usr/bin/setsid", {BIN + "demo"},
                              capture_env(video, "20000", {"KEVO_CAPTURE_SCALE=" + std::string(run.scale)}),
                              ENGINE_SOURCE_DIR), 0);
        ASSERT_TRUE(child_wait_for(&c, "FPS: ", 10, 30000)) << c.stderr_text;
        const std::vector<pid_t> encoders = children_of(c.pid);
        EXPECT_EQ(encoders.size(), 1u) << "ffmpeg encodes";
        for (size_t i = 0; i < run.signals.size(); i++) {
            if (i > 0) usleep(static_cast<useconds_t>(run.gap_ms) * 1000);
            kill(run.group ? -c.pid : c.pid, run.signals[i]);
        }
        const int status = child_wait_exit(&c, 60000);
        const std::string said = without_rate_lines(c.stderr_text);
        for (pid_t encoder : encoders) EXPECT_FALSE(process_exists(encoder)) << run.name << ": ffmpeg is left running";
        if (run.may_finish && exited_with(status, 0)) {
            EXPECT_EQ(said, "");
            EXPECT_EQ(directory_names(out), std::vector<std::string>{run.name});
            EXPECT_EQ(whole_video_problems(video, count_lines_with(c.stderr_text, "FPS: ")), "");
        } else {
            EXPECT_TRUE(exited_with(status, 1)) << run.name << ": " << status << " " << said;
            EXPECT_EQ(said, "CAPTURE: stopped again before '" + video + "' was finished: no video made\n");
            EXPECT_EQ(directory_names(out), std::vector<std::string>{}) << run.name;
        }
    }
    remove_tree(dir);
}

// A folder capture stopped twice at once, or failing to write, keeps
// complete files: the frames made, and a WAV of their sound whose header
// says what it holds.
TEST(Capture, AFolderIsLeftCompleteAfterASecondStopOrAWriteError) {
    const std::string dir = make_temp_dir("capture_complete");
    ASSERT_FALSE(dir.empty());
    ChildProcess c;
    ASSERT_EQ(child_start(&c, BIN + "demo", {}, capture_env(dir + "/twice", "20000"), ENGINE_SOURCE_DIR), 0);
    ASSERT_TRUE(child_wait_for(&c, "FPS: ", 20, 30000)) << c.stderr_text;
    kill(c.pid, SIGTERM);
    kill(c.pid, SIGINT);
    const int status = child_wait_exit(&c, 60000);
    EXPECT_TRUE(exited_with(status, 0)) << status << ": " << without_rate_lines(c.stderr_text);
    long frames = 0;
    EXPECT_EQ(complete_folder_problems(dir + "/twice", &frames), "");
    EXPECT_GE(frames, 20);

    // No file may grow past 6000 bytes: the WAV cannot take the second
    // frame's sound (a full disk fails the same way; the limit's signal is
    // ignored, so the write fails). The frame whose sound is missing goes
    // too.
    const std::string limited = "exec prlimit --fsize=6000 \"$0\"";
    const ProcessResult full = run_program("/bin/sh", {"-c", limited, BIN + "demo"}, capture_env(dir + "/full", "50"),
                                           ENGINE_SOURCE_DIR, -1, 0);
    EXPECT_TRUE(full.exited && full.status == 1) << full.status << ": " << full.err;
    EXPECT_EQ(without_rate_lines(full.err), "CAPTURE: cannot write '" + dir + "/full/audio.wav': File too large\n");
    EXPECT_EQ(complete_folder_problems(dir + "/full", &frames), "");
    EXPECT_EQ(frames, 1);
    // A video under the same limit: one line, and nothing left.
    ASSERT_EQ(mkdir((dir + "/video").c_str(), 0755), 0);
    const ProcessResult video = run_program("/bin/sh", {"-c", limited, BIN + "demo"},
                                            capture_env(dir + "/video/v.mp4", "50"), ENGINE_SOURCE_DIR, -1, 0);
    EXPECT_TRUE(video.exited && video.status == 1) << video.status << ": " << video.err;
    EXPECT_EQ(without_rate_lines(video.err), "CAPTURE: cannot write '" + dir + "/video/v.mp4': File too large\n");
    EXPECT_EQ(directory_names(dir + "/video"), std::vector<std::string>{});

    // A GIF stopped twice at once, or failing to write, keeps the frames
    // it holds whole: the first frames of the folder capture above.
    ASSERT_EQ(mkdir((dir + "/gif").c_str(), 0755), 0);
    const std::string twice_gif = dir + "/gif/twice.gif", full_gif = dir + "/gif/full.gif";
    ChildProcess g;
    ASSERT_EQ(child_start(&g, BIN + "demo", {}, capture_env(twice_gif, "20000"), ENGINE_SOURCE_DIR), 0);
    ASSERT_TRUE(child_wait_for(&g, "FPS: ", 20, 30000)) << g.stderr_text;
    kill(g.pid, SIGTERM);
    kill(g.pid, SIGINT);
    EXPECT_TRUE(exited_with(child_wait_exit(&g, 60000), 0)) << without_rate_lines(g.stderr_text);
    const std::string limited_gif = "exec prlimit --fsize=20000 \"$0\"";
    const ProcessResult gif_full = run_program("/bin/sh", {"-c", limited_gif, BIN + "demo"},
                                               capture_env(full_gif, "50"), ENGINE_SOURCE_DIR, -1, 0);
    EXPECT_TRUE(gif_full.exited && gif_full.status == 1) << gif_full.status << ": " << gif_full.err;
    EXPECT_EQ(without_rate_lines(gif_full.err), "CAPTURE: cannot write '" + full_gif + "': File too large\n");
    EXPECT_EQ(directory_names(dir + "/gif"), (std::vector<std::string>{"full.gif", "twice.gif"}));
    for (const std::string &path : {twice_gif, full_gif}) {
        DecodedGif gif;
        ASSERT_EQ(decode_gif(path, &gif), "") << path;
        EXPECT_GE(gif.frames.size(), path == twice_gif ? 20u : 1u) << path;
        EXPECT_LT(gif.frames.size(), path == twice_gif ? 20000u : 50u) << path;
        const size_t pngs = directory_names(dir + "/twice").size() - 1;
        EXPECT_EQ(gif_against_pngs(gif, dir + "/twice", 1, std::min(pngs, gif.frames.size())), "") << path;
    }
    remove_tree(dir);
}
