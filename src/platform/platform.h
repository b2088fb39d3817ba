// Platform: the indexed framebuffer and its globals, the fixed palette,
// video start-up through SDL 1.2, the paced present (with the palette's
// window-pixel table and the changed-tile updates behind it), the exit
// signals, PNG screenshots, the programs' command-line helpers and their
// shared frame loop (frame_loop.h) and failure lines, the engine's time
// source (engine_clock.h) and deterministic capture of a whole program
// (capture.h). Everything here runs on the main thread.
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include "platform/capture.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"
#include "platform/frame_loop.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/program_args.h"
#include "platform/screen_changes.h"
#include "platform/screen_lookup.h"
#include "platform/screenshot.h"
#include "platform/video.h"

#endif
