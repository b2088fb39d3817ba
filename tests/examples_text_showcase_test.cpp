// The text showcase example: headless screenshots, argument errors, and
// the windowed loop ending on a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/platform_tools.h"
#include "support/platform_process.h"
#include "support/test_files.h"

static const std::string SHOWCASE = ENGINE_BINARY_DIR "/text_showcase";

static std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(TextShowcase, HeadlessShotsAreDeterministicScreenImages) {
    ASSERT_EQ(missing_tool("identify", "imagemagick") + missing_tool("compare", "imagemagick"), "");
    const std::string dir = make_temp_dir("text_showcase");
    ASSERT_FALSE(dir.empty());
    const std::string a = dir + "/a.png", b = dir + "/b.png";
    const std::string c = dir + "/c.png";
    ASSERT_EQ(run_command(SHOWCASE + " --frames 120 --shot " + a), 0);
    ASSERT_EQ(run_command(SHOWCASE + " --frames 120 --shot " + b), 0);
    ASSERT_EQ(run_command(SHOWCASE + " --frames 121 --shot " + c), 0);
    // ImageMagick reads the file back: the screen's size, many colours.
    ASSERT_EQ(run_command("identify -format '%wx%h %k' " + a + " > " + a + ".info"), 0);
    const std::string info = read_file(a + ".info");
    EXPECT_EQ(info.substr(0, 8), "400x240 ") << info;
    EXPECT_GT(atoi(info.substr(8).c_str()), 8) << info;
    // rand is never seeded, so the same frame count gives the same picture;
    // one frame more moves it on.
    EXPECT_EQ(run_command("compare -metric AE " + a + " " + b + " null: 2>/dev/null"), 0);
    EXPECT_NE(run_command("compare -metric AE " + a + " " + c + " null: 2>/dev/null"), 0);
    // Bad arguments: the usage status; a shot that cannot be written: 1.
    EXPECT_EQ(run_command(SHOWCASE + " --frames 10 2>/dev/null"), 2);
    EXPECT_EQ(run_command(SHOWCASE + " --shot " + a + " 2>/dev/null"), 2);
    EXPECT_EQ(run_command(SHOWCASE + " --frames x --shot " + a + " 2>/dev/null"), 2);
    EXPECT_EQ(run_command(SHOWCASE + " --bogus 2>/dev/null"), 2);
    EXPECT_EQ(run_command(SHOWCASE + " --frames 2 --shot /nonexistent/dir/x.png 2>/dev/null"), 1);
    remove_tree(dir);
}

TEST(TextShowcase, StopSignalsStartedIgnoredStayIgnored) {
    EXPECT_EQ(ignored_stop_signals_outlived(SHOWCASE, {}, {"SDL_VIDEODRIVER=dummy"}, nullptr, {SIGHUP}, 10000), "");
}

TEST(TextShowcase, WindowedLoopEndsWithStatusZeroOnEachSignal) {
    for (int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The dummy video driver stands in for the window.
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            freopen("/dev/null", "w", stderr);
            stop_signals_to_default();
            execl(SHOWCASE.c_str(), "text_showcase", static_cast<char *>(nullptr));
            _exit(127);
        }
        usleep(400 * 1000);  // some frames in
        kill(child, signal_number);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal_number;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "signal " << signal_number;
    }
}
