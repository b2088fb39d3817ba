// The example programs in a real X window under Xvfb: each one draws, and
// the Escape key (typed through the XTEST extension with xdotool) ends it
// with status 0, and so does closing its window (the WM_DELETE_WINDOW
// message a window manager sends when the user clicks the close button);
// a stop signal at any moment of start-up ends it with status 0 too. Each
// program's window, the demo's too, carries the program's name. --scale
// and the fullscreen keys, looked at on the screen.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/platform_process.h"
#include "support/platform_tools.h"
#include "support/platform_xvfb.h"
#include "support/test_files.h"

namespace {

// Calls visit(x, window) for each top-level window on the display and
// returns how many there were (0 when the display cannot be opened).
template <typename Visit>
int for_each_top_level_window(const std::string &display_name, Visit visit) {
    Display *x = XOpenDisplay(display_name.c_str());
    if (x == nullptr) return 0;
    Window root_return, parent_return, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(x, DefaultRootWindow(x), &root_return, &parent_return, &children, &count);
    for (unsigned int i = 0; i < count; i++) visit(x, children[i]);
    if (children != nullptr) XFree(children);
    XCloseDisplay(x);  // flushes what `visit` sent
    return static_cast<int>(count);
}

// Asks every top-level window on the display to close, as a window
// manager's close button does. Returns how many were asked.
int close_all_windows(const std::string &display_name) {
    return for_each_top_level_window(display_name, [](Display *x, Window window) {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, window, False, NoEventMask, &event);
    });
}

// The names (WM_NAME) of the top-level windows on the display.
std::vector<std::string> window_names(const std::string &display_name) {
    std::vector<std::string> names;
    for_each_top_level_window(display_name, [&names](Display *x, Window window) {
        char *name = nullptr;
        if (XFetchName(x, window, &name) && name != nullptr) {
            names.push_back(name);
            XFree(name);
        }
    });
    return names;
}

void expect_close_ends(const VirtualDisplay &display, const std::string &program) {
    ChildProcess child;
    ASSERT_EQ(child_start(&child, std::string(ENGINE_BINARY_DIR) + "/" + program, {},
                          {"SDL_VIDEODRIVER=", "DISPLAY=" + display.name, "SDL_AUDIODRIVER=dummy"}, ENGINE_SOURCE_DIR),
              0);
    const bool drawing = child_wait_for(&child, "FPS: ", 10, 15000);
    const int asked = close_all_windows(display.name);
    const int status = child_wait_exit(&child, 10000);
    ASSERT_TRUE(drawing) << program << ": " << child.stderr_text.substr(0, 400);
    ASSERT_GE(asked, 1) << "the program's window is on the display";
    ASSERT_TRUE(status != -1) << program << " did not end when its window was closed";
    ASSERT_TRUE(WIFEXITED(status)) << program << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << program;
}

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
    ASSERT_EQ(typed, 0) << "xdotool typed Escape";
    ASSERT_TRUE(status != -1) << program << " did not end on Escape";
    ASSERT_TRUE(WIFEXITED(status)) << program << " status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << program;
}

}  // namespace

TEST(ExamplesInAWindow, EscapeOrClosingTheWindowEndsEachExampleWithStatusZero) {
    ASSERT_EQ(missing_tool("Xvfb", "xvfb") + missing_tool("xdotool", "xdotool"), "");
    VirtualDisplay display;
    const VirtualDisplayStopper stopper = {&display};
    const int started = virtual_display_start(&display, 20000);
    if (started == 0) {
        setenv("DISPLAY", display.name.c_str(), 1);  // for xdotool: our own server only
        expect_escape_ends(display, "scene_viewer", {});
        expect_escape_ends(display, "particle_fountain", {});
        expect_escape_ends(display, "text_showcase", {});
        expect_escape_ends(display, "showcase", {});
        expect_close_ends(display, "scene_viewer");
        expect_close_ends(display, "particle_fountain");
        expect_close_ends(display, "text_showcase");
        expect_close_ends(display, "showcase");
        // A stop signal while an example loads or opens its window ends it
        // with status 0 as well.
        for (const char *program : {"scene_viewer", "particle_fountain", "text_showcase", "showcase"})
            EXPECT_EQ(stop_signals_during_startup(std::string(ENGINE_BINARY_DIR) + "/" + program, {},
                                                  {"SDL_VIDEODRIVER=", "DISPLAY=" + display.name, "SDL_AUDIODRIVER=dummy"},
                                                  ENGINE_SOURCE_DIR, 3000),
                      "");
    }
    virtual_display_stop(&display);
    ASSERT_EQ(started, 0) << "Xvfb starts";
}

TEST(ProgramWindows, EachWindowIsNamedAfterItsProgram) {
    ASSERT_EQ(missing_tool("Xvfb", "xvfb"), "");
    VirtualDisplay display;
    const VirtualDisplayStopper stopper = {&display};
    const int started = virtual_display_start(&display, 20000);
    if (started == 0) {
        for (const char *program : {"demo", "scene_viewer", "particle_fountain", "text_showcase", "showcase"}) {
            ChildProcess child;
            ASSERT_EQ(child_start(&child, std::string(ENGINE_BINARY_DIR) + "/" + program, {},
                                  {"SDL_VIDEODRIVER=", "DISPLAY=" + display.name, "SDL_AUDIODRIVER=dummy"},
                                  ENGINE_SOURCE_DIR),
                      0);
            const bool drawing = child_wait_for(&child, "FPS: ", 3, 15000);
            const std::vector<std::string> names = window_names(display.name);
            kill(child.pid, SIGTERM);
            const int status = child_wait_exit(&child, 10000);
            EXPECT_TRUE(drawing) << program << ": " << child.stderr_text.substr(0, 400);
            EXPECT_EQ(names, std::vector<std::string>{program});
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << program << " status " << status;
        }
    }
    virtual_display_stop(&display);
    ASSERT_EQ(started, 0) << "Xvfb starts";
}

namespace {

// Sizes of the mapped top-level windows on the display.
std::vector<std::pair<int, int>> mapped_window_sizes(const std::string &display_name) {
    std::vector<std::pair<int, int>> sizes;
    for_each_top_level_window(display_name, [&sizes](Display *x, Window window) {
        XWindowAttributes a;
        if (XGetWindowAttributes(x, window, &a) && a.map_state == IsViewable) sizes.push_back({a.width, a.height});
    });
    return sizes;
}

bool has_size(const std::vector<std::pair<int, int>> &sizes, int w, int h) {
    for (const auto &s : sizes)
        if (s.first == w && s.second == h) return true;
    return false;
}

}  // namespace

// --scale 2 makes the window 800 x 480 with every framebuffer pixel a
// uniform 2 x 2 block; F and then Alt-Enter switch to full screen and back.
TEST(ExamplesInAWindow, ScaleMakesHardEdgedBlocksAndFullscreenToggles) {
    ASSERT_EQ(missing_tool("Xvfb", "xvfb") + missing_tool("xdotool", "xdotool") + missing_tool("xwd", "x11-apps") +
                  missing_tool("convert", "imagemagick"),
              "");
    VirtualDisplay display;
    const VirtualDisplayStopper stopper = {&display};
    const int started = virtual_display_start(&display, 20000);
    if (started == 0) {
        setenv("DISPLAY", display.name.c_str(), 1);  // for xdotool: our own server only
        ChildProcess child;
        ASSERT_EQ(child_start(&child, std::string(ENGINE_BINARY_DIR) + "/text_showcase", {"--scale", "2"},
                              {"SDL_VIDEODRIVER=", "DISPLAY=" + display.name, "SDL_AUDIODRIVER=dummy"}, ENGINE_SOURCE_DIR),
                  0);
        const bool drawing = child_wait_for(&child, "FPS: ", 10, 15000);
        const std::vector<std::pair<int, int>> windowed = mapped_window_sizes(display.name);
        const std::string raw = std::string(ENGINE_BINARY_DIR) + "/scale_shot_" + std::to_string(display.number) + ".rgb";
        const int shot = run_command("xwd -root -silent -display " + display.name + " | convert xwd:- -depth 8 rgb:" + raw);
        // The keyboard focus follows the pointer (no window manager).
        run_command("xdotool mousemove 200 120 key f >/dev/null 2>&1 </dev/null");
        child_wait_for(&child, "FPS: ", 40, 3000);
        const std::vector<std::pair<int, int>> full = mapped_window_sizes(display.name);
        run_command("xdotool key alt+Return >/dev/null 2>&1 </dev/null");
        child_wait_for(&child, "FPS: ", 80, 3000);
        const std::vector<std::pair<int, int>> back = mapped_window_sizes(display.name);
        kill(child.pid, SIGTERM);
        const int status = child_wait_exit(&child, 10000);
        ASSERT_TRUE(drawing) << child.stderr_text.substr(0, 400);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(has_size(windowed, 800, 480)) << "an 800 x 480 window";
        EXPECT_TRUE(has_size(full, 640, 480)) << "a window covering the 640 x 480 screen";
        EXPECT_FALSE(has_size(back, 640, 480)) << "back in a window";
        EXPECT_TRUE(has_size(back, 800, 480));

        ASSERT_EQ(shot, 0);
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(read_whole_file(raw, &rgb));
        remove(raw.c_str());
        ASSERT_EQ(rgb.size(), 640u * 480u * 3u);
        long blocks = 0, uneven = 0, lit = 0;
        for (int y = 0; y < 480; y += 2)
            for (int x = 0; x < 640; x += 2) {
                const uint8_t *p = &rgb[(y * 640 + x) * 3];
                const uint8_t *right = p + 3, *below = p + 640 * 3, *diagonal = below + 3;
                blocks++;
                lit += p[0] + p[1] + p[2] > 0;
                uneven += memcmp(p, right, 3) != 0 || memcmp(p, below, 3) != 0 || memcmp(p, diagonal, 3) != 0;
            }
        EXPECT_GT(lit, blocks / 20) << "the showcase is on screen";
        EXPECT_EQ(uneven, 0) << "every pixel is a 2 x 2 block";
    }
    virtual_display_stop(&display);
    ASSERT_EQ(started, 0) << "Xvfb starts";
}
