// The example programs in a real X window under Xvfb: each one draws, and
// the Escape key (typed through the XTEST extension with xdotool) ends it
// with status 0, and so does closing its window (the WM_DELETE_WINDOW
// message a window manager sends when the user clicks the close button);
// a stop signal at any moment of start-up ends it with status 0 too. Each
// program's window, the demo's too, carries the program's name. --scale
// and the fullscreen keys, looked at on the screen, on a screen larger and
// smaller than the window, with and without a window manager.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
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

struct WindowBox {
    int x, y, width, height;  // on the screen
};

// Where the mapped top-level windows on the display are (with the window
// manager of these tests, which draws no border, a frame is its window).
std::vector<WindowBox> mapped_windows(const std::string &display_name) {
    std::vector<WindowBox> boxes;
    for_each_top_level_window(display_name, [&boxes](Display *x, Window window) {
        XWindowAttributes a;
        if (XGetWindowAttributes(x, window, &a) && a.map_state == IsViewable && a.width > 1)
            boxes.push_back({a.x, a.y, a.width, a.height});
    });
    return boxes;
}

// The first of `boxes` of that size, or null.
const WindowBox *find_size(const std::vector<WindowBox> &boxes, int width, int height) {
    for (const auto &b : boxes)
        if (b.width == width && b.height == height) return &b;
    return nullptr;
}

// True when one of `boxes` covers a width x height screen exactly.
bool covers_screen(const std::vector<WindowBox> &boxes, int width, int height) {
    for (const auto &b : boxes)
        if (b.x == 0 && b.y == 0 && b.width == width && b.height == height) return true;
    return false;
}

// True when the program runs on sdl12-compat (SDL 1.2's interface over
// SDL 2, which it loads at start-up) rather than on SDL 1.2 itself.
bool runs_on_sdl12_compat(pid_t pid) {
    std::vector<uint8_t> maps;
    if (!read_whole_file("/proc/" + std::to_string(pid) + "/maps", &maps)) return false;
    return std::string(maps.begin(), maps.end()).find("libSDL2") != std::string::npos;
}

// The whole screen as RGB bytes, through xwd and ImageMagick; empty when
// that failed.
std::vector<uint8_t> screen_shot(const VirtualDisplay &display) {
    const std::string raw = std::string(ENGINE_BINARY_DIR) + "/scale_shot_" + std::to_string(display.number) + ".rgb";
    std::vector<uint8_t> rgb;
    if (run_command("xwd -root -silent -display " + display.name + " | convert xwd:- -depth 8 rgb:" + raw) == 0)
        read_whole_file(raw, &rgb);
    remove(raw.c_str());
    return rgb;
}

// Looks at the part of a screen_shot of a screen_width wide screen that
// lies inside `box`, where the program's picture is each framebuffer
// pixel a k x k block with its corner at the box's: "" when every block
// whole on the screen is one colour, the picture is lit (the program
// draws) and, for a full screen, everything around the picture is black;
// otherwise what is wrong.
std::string look_at_picture(const std::vector<uint8_t> &rgb, int screen_width, int screen_height, WindowBox box,
                            int k, bool black_around) {
    if (rgb.size() != static_cast<size_t>(screen_width) * screen_height * 3) return "no screen shot";
    auto at = [&](int x, int y) { return &rgb[(static_cast<size_t>(y) * screen_width + x) * 3]; };
    long blocks = 0, uneven = 0, lit = 0, stray = 0;
    for (int by = 0; by < 240; by++)
        for (int bx = 0; bx < 400; bx++) {
            const int x0 = box.x + bx * k, y0 = box.y + by * k;
            if (x0 < 0 || y0 < 0 || x0 + k > screen_width || y0 + k > screen_height) continue;
            blocks++;
            lit += at(x0, y0)[0] + at(x0, y0)[1] + at(x0, y0)[2] > 0;
            bool even = true;
            for (int dy = 0; dy < k; dy++)
                for (int dx = 0; dx < k; dx++) even = even && memcmp(at(x0, y0), at(x0 + dx, y0 + dy), 3) == 0;
            uneven += !even;
        }
    if (black_around)
        for (int y = 0; y < screen_height; y++)
            for (int x = 0; x < screen_width; x++) {
                const bool inside = x >= box.x && x < box.x + 400 * k && y >= box.y && y < box.y + 240 * k;
                stray += !inside && (at(x, y)[0] | at(x, y)[1] | at(x, y)[2]) != 0;
            }
    std::string wrong;
    if (blocks == 0 || lit <= blocks / 20) wrong += "the picture is not on screen; ";
    if (uneven != 0) wrong += std::to_string(uneven) + " of " + std::to_string(blocks) + " blocks are not uniform; ";
    if (stray != 0) wrong += std::to_string(stray) + " pixels around the picture are not black; ";
    return wrong;
}

// A window manager on the display (evilwm, drawing no border) until the
// scope ends: it makes full-screen windows of programs that ask it to, as
// a desktop's does. Ended with the display it manages.
struct WindowManager {
    ChildProcess process;
    ~WindowManager() {
        if (process.pid > 0) {
            kill(process.pid, SIGTERM);
            child_wait_exit(&process, 5000);
        }
    }
};

// Starts the window manager and waits until it has announced itself on
// the root window (_NET_SUPPORTING_WM_CHECK). 0, or -1.
int window_manager_start(WindowManager *wm, const std::string &display_name) {
    wm->process.pid = -1;
    if (child_start(&wm->process, "/bin/sh", {"-c", "exec evilwm -fn fixed -bw 0"}, {"DISPLAY=" + display_name},
                    nullptr) != 0)
        return -1;
    Display *x = XOpenDisplay(display_name.c_str());
    if (x == nullptr) return -1;
    const Atom check = XInternAtom(x, "_NET_SUPPORTING_WM_CHECK", False);
    bool up = false;
    for (int tries = 0; tries < 200 && !up; tries++) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char *data = nullptr;
        up = XGetWindowProperty(x, DefaultRootWindow(x), check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                                &data) == Success &&
             count == 1;
        if (data != nullptr) XFree(data);
        if (!up) usleep(25000);
    }
    XCloseDisplay(x);
    return up ? 0 : -1;
}

// The frames the program has presented so far (one "FPS: " line each).
int frames_shown(const ChildProcess &child) {
    int count = 0;
    for (size_t at = child.stderr_text.find("FPS: "); at != std::string::npos;
         at = child.stderr_text.find("FPS: ", at + 1))
        count++;
    return count;
}

// Lets the program draw until the display's mapped windows are as `want`
// says (up to 5 s: a window manager takes its time), then 10 frames more
// so that the new window holds a picture, and returns the windows.
template <typename Want>
std::vector<WindowBox> windows_when(ChildProcess *child, const std::string &display_name, Want want) {
    std::vector<WindowBox> boxes;
    for (int tries = 0; tries < 50; tries++) {
        child_wait_for(child, "FPS: ", frames_shown(*child) + 2, 100);
        boxes = mapped_windows(display_name);
        if (want(boxes)) break;
    }
    child_wait_for(child, "FPS: ", frames_shown(*child) + 10, 2000);
    return boxes;
}

// Puts the pointer in the middle of what the screen shows of `box` (the
// keyboard focus follows the pointer) and types `keys` with xdotool.
int type_into(const WindowBox &box, int screen_width, int screen_height, const std::string &keys) {
    const int left = std::max(box.x, 0), right = std::min(box.x + box.width, screen_width);
    const int top = std::max(box.y, 0), bottom = std::min(box.y + box.height, screen_height);
    return run_command("xdotool mousemove " + std::to_string((left + right) / 2) + " " +
                       std::to_string((top + bottom) / 2) + " key " + keys + " >/dev/null 2>&1 </dev/null");
}

}  // namespace

// --scale 2 makes the window 800 x 480 with every framebuffer pixel a
// uniform 2 x 2 block; F and then Alt-Enter switch to full screen and
// back. Full screen is a window the size of the 640 x 480 screen (too
// small for 2 x 2 blocks: the picture is shown whole, 1:1, in its middle,
// black around it) at its corner. No window manager runs here: SDL 1.2 makes its own full-screen
// window, while sdl12-compat (through SDL 2) asks the window manager to,
// so there the window has the screen's size but keeps its place.
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
        const bool compat = runs_on_sdl12_compat(child.pid);
        const std::vector<WindowBox> windowed = mapped_windows(display.name);
        const std::vector<uint8_t> shot = screen_shot(display);
        const WindowBox *window = find_size(windowed, 800, 480);
        int typed = window != nullptr ? type_into(*window, 640, 480, "f") : -1;
        const std::vector<WindowBox> full = windows_when(
            &child, display.name, [](const std::vector<WindowBox> &boxes) { return find_size(boxes, 640, 480); });
        const std::vector<uint8_t> full_shot = screen_shot(display);
        const WindowBox *screen = find_size(full, 640, 480);
        typed |= screen != nullptr ? type_into(*screen, 640, 480, "alt+Return") : -1;
        const std::vector<WindowBox> back = windows_when(
            &child, display.name, [](const std::vector<WindowBox> &boxes) { return find_size(boxes, 800, 480); });
        kill(child.pid, SIGTERM);
        const int status = child_wait_exit(&child, 10000);
        ASSERT_TRUE(drawing) << child.stderr_text.substr(0, 400);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_TRUE(window != nullptr) << "an 800 x 480 window";
        EXPECT_EQ(typed, 0) << "xdotool typed the keys";
        ASSERT_TRUE(screen != nullptr) << "a full-screen window of the 640 x 480 screen's size";
        if (!compat) {
            EXPECT_TRUE(covers_screen(full, 640, 480)) << "covering the screen: at " << screen->x << "," << screen->y;
        }
        EXPECT_TRUE(find_size(back, 640, 480) == nullptr) << "back in a window";
        EXPECT_TRUE(find_size(back, 800, 480) != nullptr);
        EXPECT_EQ(look_at_picture(shot, 640, 480, *window, 2, false), "") << "every pixel a 2 x 2 block";
        EXPECT_EQ(look_at_picture(full_shot, 640, 480, {screen->x + 120, screen->y + 120, 400, 240}, 1, true), "")
            << "full screen: the whole picture 1:1 in the middle";
    }
    virtual_display_stop(&display);
    ASSERT_EQ(started, 0) << "Xvfb starts";
}

// Full screen on a screen smaller than the window (1024 x 600 against
// --scale 3's 1200 x 720), under a window manager as on a desktop: the
// window covers the screen on either SDL, and the picture is in its middle
// at the largest whole scale that fits, 2 x 2 blocks, black around it; the
// same with the default scale, which full screen enlarges to fit. Back in
// a window, the window has its own size again.
TEST(ExamplesInAWindow, FullscreenShowsTheLargestWholeScaleThatFitsTheScreen) {
    ASSERT_EQ(missing_tool("Xvfb", "xvfb") + missing_tool("xdotool", "xdotool") + missing_tool("xwd", "x11-apps") +
                  missing_tool("convert", "imagemagick") + missing_tool("evilwm", "evilwm"),
              "");
    VirtualDisplay display;
    const VirtualDisplayStopper stopper = {&display};
    const int started = virtual_display_start_sized(&display, 1024, 600, 20000);
    WindowManager wm = {};
    if (started == 0) {
        setenv("DISPLAY", display.name.c_str(), 1);  // for xdotool: our own server only
        ASSERT_EQ(window_manager_start(&wm, display.name), 0) << "evilwm starts: " << wm.process.stderr_text;
        const struct {
            std::vector<std::string> args;
            int width, height;  // the window's
        } runs[] = {{{"--scale", "3"}, 1200, 720}, {{}, 400, 240}};
        for (const auto &run : runs) {
            const std::string what = run.args.empty() ? "the default scale" : "--scale 3";
            ChildProcess child;
            ASSERT_EQ(child_start(&child, std::string(ENGINE_BINARY_DIR) + "/text_showcase", run.args,
                                  {"SDL_VIDEODRIVER=", "DISPLAY=" + display.name, "SDL_AUDIODRIVER=dummy"},
                                  ENGINE_SOURCE_DIR),
                      0);
            const bool drawing = child_wait_for(&child, "FPS: ", 10, 15000);
            const std::vector<WindowBox> windowed = mapped_windows(display.name);
            const WindowBox *window = find_size(windowed, run.width, run.height);
            int typed = window != nullptr ? type_into(*window, 1024, 600, "f") : -1;
            const std::vector<WindowBox> full = windows_when(&child, display.name, [](const std::vector<WindowBox> &b) {
                return covers_screen(b, 1024, 600);
            });
            const std::vector<uint8_t> shot = screen_shot(display);
            typed |= type_into({0, 0, 1024, 600}, 1024, 600, "alt+Return");
            const std::vector<WindowBox> back = windows_when(&child, display.name, [&run](const std::vector<WindowBox> &b) {
                return !covers_screen(b, 1024, 600) && find_size(b, run.width, run.height) != nullptr;
            });
            kill(child.pid, SIGTERM);
            const int status = child_wait_exit(&child, 10000);
            ASSERT_TRUE(drawing) << what << ": " << child.stderr_text.substr(0, 400);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << ": status " << status;
            ASSERT_TRUE(window != nullptr) << what << ": a " << run.width << " x " << run.height << " window";
            EXPECT_EQ(typed, 0) << what << ": xdotool typed the keys";
            EXPECT_TRUE(covers_screen(full, 1024, 600)) << what << ": a window covering the screen";
            EXPECT_EQ(look_at_picture(shot, 1024, 600, {112, 60, 800, 480}, 2, true), "") << what << ", full screen";
            EXPECT_TRUE(find_size(back, 1024, 600) == nullptr) << what << ": back in a window";
            EXPECT_TRUE(find_size(back, run.width, run.height) != nullptr) << what << ": back in a window";
        }
    }
    virtual_display_stop(&display);
    ASSERT_EQ(started, 0) << "Xvfb starts";
}
