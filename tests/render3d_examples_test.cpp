// The 3D example programs run headless: their first frames match committed
// golden images exactly (the pipeline is integer and deterministic), and
// each exit signal ends them cleanly with status 0.
//
// To regenerate the golden images after an intended change, run
//   RENDER3D_UPDATE_GOLDEN=1 ctest -R Render3dExamples
// from the build directory, then look at tests/golden/*.png before
// committing them.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "support/platform_process.h"
#include "support/render3d_png.h"
#include "support/test_files.h"

static const std::string SOURCE_DIR = ENGINE_SOURCE_DIR;
static const std::string BINARY_DIR = ENGINE_BINARY_DIR;
// Frames each golden image shows: enough for motion to have happened.
static const int GOLDEN_FRAMES = 30;

static std::string temp_png(const char *name) {
    return temp_base_dir() + "/render3d_" + name + "_" + std::to_string(getpid()) + ".png";
}

static bool copy_file(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    return in.good() && out.good();
}

// Runs `program args --frames N --shot tmp` from the repository root and
// compares the shot with tests/golden/<golden>.png.
static void expect_golden(const char *program, const std::string &args, const char *golden) {
    std::string shot = temp_png(golden);
    std::string command = "cd '" + SOURCE_DIR + "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy '" +
                          BINARY_DIR + "/" + program + "' " + args + " --frames " +
                          std::to_string(GOLDEN_FRAMES) + " --shot '" + shot + "' >/dev/null 2>&1";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    std::string golden_path = SOURCE_DIR + "/tests/golden/" + golden + ".png";
    if (std::getenv("RENDER3D_UPDATE_GOLDEN") != nullptr) {
        ASSERT_TRUE(copy_file(shot, golden_path)) << golden_path;
        std::remove(shot.c_str());
        std::printf("updated %s\n", golden_path.c_str());
        return;
    }
    RgbPicture got, want;
    std::string error;
    ASSERT_TRUE(png_read_rgb(shot, &got, &error)) << shot << ": " << error;
    ASSERT_TRUE(png_read_rgb(golden_path, &want, &error)) << golden_path << ": " << error;
    EXPECT_EQ(got.width_px, 400);
    EXPECT_EQ(got.height_px, 240);
    EXPECT_EQ(rgb_pixels_differing(got, want), 0) << "see " << shot;
    // Something was drawn: a black picture would match a black golden.
    long lit = 0;
    for (size_t i = 0; i < got.rgb.size(); i++) lit += got.rgb[i] != 0;
    EXPECT_GT(lit, 100);
    if (!testing::Test::HasFailure()) std::remove(shot.c_str());
}

TEST(Render3dExamples, SceneViewerGolden) {
    expect_golden("scene_viewer", "", "scene_viewer");
    expect_golden("scene_viewer", "--wireframe", "scene_viewer_wireframe");
}

// Replaces every `from` in `text` with `to`.
static std::string replaced(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The sample model moved to another folder, its material and image named
// by their plain names beside it, shows exactly as it does from the
// repository; a model without faces is refused with status 1.
TEST(Render3dExamples, SceneViewerShowsAModelFromAnyFolder) {
    const std::string dir = make_temp_dir("viewer");
    ASSERT_FALSE(dir.empty());
    for (const char *name : {"crate.obj", "crate.mtl", "crate.pcx"}) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(read_whole_file(SOURCE_DIR + "/res/" + name, &bytes)) << name;
        std::string text(bytes.begin(), bytes.end());
        if (std::string(name) != "crate.pcx") text = replaced(text, " res/", " ");
        ASSERT_TRUE(write_whole_file(dir + "/" + name, std::vector<uint8_t>(text.begin(), text.end()))) << name;
    }
    expect_golden("scene_viewer", "'" + dir + "/crate.obj'", "scene_viewer");

    const std::string points = dir + "/points.obj", errors = dir + "/errors.txt";
    ASSERT_TRUE(write_whole_file(points, {'v', ' ', '1', ' ', '2', ' ', '3', '\n'}));
    const std::string command = "cd '" + SOURCE_DIR + "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy '" +
                                BINARY_DIR + "/scene_viewer' '" + points + "' --frames 1 >/dev/null 2>'" + errors + "'";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << command;
    std::vector<uint8_t> said;
    ASSERT_TRUE(read_whole_file(errors, &said));
    EXPECT_EQ(std::string(said.begin(), said.end()), "VIEWER: model '" + points + "' has no faces to show\n");
    if (!testing::Test::HasFailure()) remove_tree(dir);
}

TEST(Render3dExamples, ParticleFountainGolden) {
    expect_golden("particle_fountain", "", "particle_fountain");
}

// Starts `program` with no frame limit, lets it run a moment once it
// handles the stop signals (a loaded machine may take long to load its
// libraries), sends `signal_number` and returns its wait status (-1 when
// it had to be killed).
static int run_until_signal(const char *program, int signal_number) {
    ChildProcess child;
    if (child_start(&child, BINARY_DIR + "/" + program, {}, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"},
                    SOURCE_DIR.c_str()) != 0)
        return -1;
    child_wait_catching_stop_signals(&child, 10000);
    usleep(400 * 1000);
    kill(child.pid, signal_number);
    return child_wait_exit(&child, 3000);
}

TEST(Render3dExamples, ExitSignalsEndCleanly) {
    const int signals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
    const char *programs[] = {"scene_viewer", "particle_fountain", "showcase"};
    for (const char *program : programs)
        for (int s : signals) {
            int status = run_until_signal(program, s);
            EXPECT_TRUE(WIFEXITED(status)) << program << " signal " << s << " status " << status;
            EXPECT_EQ(WEXITSTATUS(status), 0) << program << " signal " << s;
        }
}

TEST(Render3dExamples, StopSignalsStartedIgnoredStayIgnored) {
    // As a background job under nohup: SIGINT, SIGQUIT and SIGHUP ignored.
    for (const char *program : {"scene_viewer", "particle_fountain", "showcase"})
        EXPECT_EQ(ignored_stop_signals_outlived(BINARY_DIR + "/" + program, {},
                                                {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, SOURCE_DIR.c_str(),
                                                {SIGINT, SIGQUIT, SIGHUP}, 10000),
                  "");
}
