// demo_shot: draws frames of the demo scene headless and saves the last one
// as a PNG, through the palette. Makes the README's screenshot.
//   demo_shot OUT.png [FRAMES]   (FRAMES drawn from the first, default 120)
#include <cstdio>
#include <cstdlib>

#include "demo/demo_scene.h"
#include "platform/framebuffer.h"
#include "platform/screenshot.h"
#include "util/std_fds.h"

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: demo_shot OUT.png [FRAMES]\n");
        return 2;
    }
    const long frames = argc == 3 ? strtol(argv[2], nullptr, 10) : 120;
    if (frames < 1) {
        fprintf(stderr, "demo_shot: FRAMES must be at least 1\n");
        return 2;
    }
    fb_attach_storage();
    for (long i = 0; i < frames; i++) {
        demo_draw_frame();
        if (i + 1 < frames) frame_counter++;
    }
    return fb_save_png(argv[1]) == 0 ? 0 : 1;
}
