// demo_shot: draws frames of the demo scene headless and saves the last one
// as a PNG, through the palette. Makes the README's screenshot.
//   demo_shot OUT.png [FRAMES]   (FRAMES drawn from the first, default 120)
#include <cstdint>
#include <cstdio>

#include "demo/demo_scene.h"
#include "gfx2d/framebuffer.h"
#include "platform/program_args.h"
#include "platform/screenshot.h"
#include "util/std_fds.h"

static const char USAGE[] =
    "usage: demo_shot OUT.png [FRAMES]\n"
    "Draws FRAMES frames of the demo scene (default 120) without a window and\n"
    "saves the last one as OUT.png.\n";

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 1, 2, USAGE)) return USAGE_ERROR_STATUS;
    long frames = 120;
    if (argc == 3 && parse_long(argv[2], 1, INT32_MAX, &frames) != 0) {
        fprintf(stderr, "demo_shot: FRAMES must be a whole number from 1 to %d, not '%s'\n", INT32_MAX, argv[2]);
        return USAGE_ERROR_STATUS;
    }
    fb_attach_storage();
    for (long i = 0; i < frames; i++) {
        demo_draw_frame();
        if (i + 1 < frames) frame_counter++;
    }
    return fb_save_png(argv[1]) == 0 ? 0 : 1;
}
