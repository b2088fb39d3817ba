// Platform: the indexed framebuffer and its globals, the fixed palette,
// video start-up through SDL 1.2, the paced present, the exit signals, PNG
// screenshots, the engine's time source (engine_clock.h) and
// deterministic capture of a whole program (capture.h). Everything here
// runs on the main thread.
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include "platform/capture.h"
#include "platform/engine_clock.h"
#include "platform/framebuffer.h"
#include "platform/palette.h"
#include "platform/screenshot.h"
#include "platform/video.h"

#endif
