// Xvfb started and stopped for window tests; ready means its socket accepts.
#include "support/platform_xvfb.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

// True when a client can connect to the display's Unix socket.
static bool accepts_connections(int number) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

int virtual_display_start(VirtualDisplay *display, int number, int timeout_ms) {
    display->number = number;
    display->name = ":" + std::to_string(number);
    display->up = false;
    if (child_start(&display->server, "/usr/bin/Xvfb",
                    {display->name, "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"}, {}, nullptr) != 0)
        return -1;
    for (int waited_ms = 0; waited_ms < timeout_ms && !display->up; waited_ms += 50) {
        display->up = accepts_connections(number);
        if (!display->up) usleep(50000);
    }
    return display->up ? 0 : -1;
}

void virtual_display_stop(VirtualDisplay *display) {
    kill(display->server.pid, SIGTERM);
    child_wait_exit(&display->server, 10000);
}
