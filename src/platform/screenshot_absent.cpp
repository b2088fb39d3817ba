// Screenshots in a build without libpng (the browser build, where the page
// shows the canvas itself): one line saying so, and a failure.
#include "platform/screenshot.h"

#include <cstdio>

int fb_save_png(const char *path) {
    fprintf(stderr, "SCREENSHOT: cannot write '%s': PNG is not part of this build (it has no libpng)\n",
            path != nullptr ? path : "(null)");
    return -1;
}
