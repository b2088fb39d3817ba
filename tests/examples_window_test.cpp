// The example programs in a real X window under Xvfb: each one draws, and
// the Escape key (typed through the XTEST extension with xdotool) ends it
// with status 0.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/platform_process.h"
#include "support/platform_xvfb.h"

namespace {

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
    const int typed = run_command("xdotool mousemove 200 120 key Escape >/dev/null 2>&1 </dev/null");
    const int status = child_wait_exit(&child, 10000);
    ASSERT_TRUE(drawing) << program << ": " << child.stderr_text.substr(0, 400);
    ASSERT_EQ(typed, 0) << "xdotool is installed by the set-up script";
    ASSERT_TRUE(status != -1) << program << " did not end on Escape";
    ASSERT_TRUE(WIFEXITED(status)) << program << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << program;
}

}  // namespace

TEST(ExamplesInAWindow, EscapeEndsEachExampleWithStatusZero) {
    VirtualDisplay display;
    const int started = virtual_display_start(&display, 200 + getpid() % 100, 20000);
    if (started == 0) {
        setenv("DISPLAY", display.name.c_str(), 1);  // for xdotool
        expect_escape_ends(display, "scene_viewer", {});
        expect_escape_ends(display, "particle_fountain", {});
        expect_escape_ends(display, "text_showcase", {});
    }
    virtual_display_stop(&display);
    ASSERT_EQ(started, 0) << "Xvfb is installed by the set-up script";
}
