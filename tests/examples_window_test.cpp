// The example programs in a real X window under Xvfb: each one draws, and
// the Escape key (typed through the XTEST extension with xdotool) ends it
// with status 0.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/platform_process.h"

namespace {

// Starts Xvfb on a display of its own for the life of the fixture.
struct VirtualDisplay {
    ChildProcess server;
    std::string name;
    bool up = false;

    explicit VirtualDisplay(int number) : name(":" + std::to_string(number)) {
        if (child_start(&server, "/usr/bin/Xvfb", {name, "-screen", "0", "640x480x24", "-nolisten", "tcp"}, {},
                        nullptr) != 0)
            return;
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        struct stat st;
        for (int i = 0; i < 100 && !up; i++) {
            up = stat(socket.c_str(), &st) == 0;
            if (!up) usleep(50000);
        }
    }
    ~VirtualDisplay() {
        kill(server.pid, SIGTERM);
        child_wait_exit(&server, 10000);
    }
};

void expect_escape_ends(const VirtualDisplay &display, const std::string &program,
                        const std::vector<std::string> &args) {
    ChildProcess child;
    ASSERT_EQ(child_start(&child, std::string(ENGINE_BINARY_DIR) + "/" + program, args,
                          {"SDL_VIDEODRIVER=", "DISPLAY=" + display.name, "SDL_AUDIODRIVER=dummy"}, ENGINE_SOURCE_DIR),
              0);
    // The programs present through fb_present, which prints a rate per frame.
    const bool drawing = child_wait_for(&child, "FPS: ", 10, 15000);
    // Without a window manager the keyboard focus follows the pointer:
    // put it over the window (at the screen's origin) and type Escape.
    const int typed = run_command("xdotool mousemove --sync 200 120 key Escape >/dev/null 2>&1 </dev/null");
    const int status = child_wait_exit(&child, 10000);
    ASSERT_TRUE(drawing) << program << ": " << child.stderr_text.substr(0, 400);
    ASSERT_EQ(typed, 0) << "xdotool is installed by the set-up script";
    ASSERT_TRUE(status != -1) << program << " did not end on Escape";
    ASSERT_TRUE(WIFEXITED(status)) << program << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << program;
}

}  // namespace

TEST(ExamplesInAWindow, EscapeEndsEachExampleWithStatusZero) {
    VirtualDisplay display(200 + getpid() % 100);
    ASSERT_TRUE(display.up) << "Xvfb is installed by the set-up script";
    setenv("DISPLAY", display.name.c_str(), 1);  // for xdotool
    expect_escape_ends(display, "scene_viewer", {});
    expect_escape_ends(display, "particle_fountain", {});
    expect_escape_ends(display, "text_showcase", {});
}
