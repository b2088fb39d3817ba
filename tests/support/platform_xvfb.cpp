// Xvfb started and stopped for window tests. With -displayfd the server
// chooses a free display number itself and writes it, once it accepts
// connections, to the descriptor given: no guessing of a number that
// another server (a developer's own X) may hold.
#include "support/platform_xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

int virtual_display_start(VirtualDisplay *display, int timeout_ms) {
    return virtual_display_start_sized(display, 640, 480, timeout_ms);
}

int virtual_display_start_sized(VirtualDisplay *display, int width, int height, int timeout_ms) {
    display->number = -1;
    display->name.clear();
    display->up = false;
    display->server.pid = -1;
    display->server.stderr_fd = -1;
    int fds[2];
    if (pipe(fds) != 0) return -1;
    // Made before the fork: the child only execs.
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        // The number comes on standard output; the server's chatter is not
        // wanted.
        dup2(fds[1], 1);
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 2);
        close(fds[0]);
        close(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", "1", "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    display->server.pid = pid;
    display->server.stderr_fd = fds[0];
    display->server.stderr_text.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return -1;
        pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[64];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) return -1;  // the server ended without a display
        text.append(buffer, static_cast<size_t>(n));
    }
    display->number = atoi(text.c_str());
    display->name = ":" + std::to_string(display->number);
    display->up = display->number >= 0;
    return display->up ? 0 : -1;
}

void virtual_display_stop(VirtualDisplay *display) {
    if (display->server.pid <= 0) return;
    kill(display->server.pid, SIGTERM);
    child_wait_exit(&display->server, 10000);
    display->server.pid = -1;
}
