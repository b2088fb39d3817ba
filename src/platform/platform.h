// The platform edge: the folder's front page. The only library that
// touches SDL 1.2 (and libpng): the window and the paced present, the
// audio device and the music as heard, signals, files written for a
// person, and deterministic capture of a whole program. Everything here
// runs on the main thread except the audio callbacks (audio_output.h,
// music_sync.h), which run on SDL's audio thread.
//
//   platform_start.h the one start: SIGXFSZ ignored, a capture decided
//   video.h          video_init, fb_present and fb_show: the window, pacing, the rate line
//   frame_hooks.h    what runs after each frame is shown (a capture's recording)
//   frame_pacing.h   the present's wait between frames
//   frame_surface.h  the framebuffer in the palette's 32-bit colours
//   window_scale.h   the window's surface, the --scale option, fullscreen and the scaled window
//   screen_lookup.h  the window pixel of each palette index, made by SDL's blit
//   screen_changes.h the framebuffer tiles that changed since the last frame sent
//   engine_clock.h   the engine's one time source (real, or virtual in a capture)
//   exit_signals.h   SIGINT, SIGQUIT, SIGHUP, SIGTERM: the one handler, the frame loops' stop flag
//   program_args.h   --help, options, strict whole numbers, the usage-error status
//   frame_loop.h     the programs' frame loop: keys, window, --frames/--shot, stopping
//   failure_line.h   one "TAG: ..." line on standard error, and exiting with it
//   screenshot.h     the framebuffer as a PNG file
//   capture.h        KEVO_CAPTURE: every frame and the sound, on a virtual clock
//   audio_output.h   the sound opened, paused and closed, and the callback that renders the player
//   audio_sink.h     where the sound goes: the device (SDL's, Web Audio's) or a capture's clock
//   music_start.h    reading the module, creating the player, opening the device
//   music_seek.h     KEVO_FROM and music_seek: starting mid-song
//   music_sync.h     the song as heard now, and its row, note and end events
//   sync_rows.h      sync tracks' rows on the music's clock, KEVO_SYNC, the editor's control
//   particles_run.h  the particle effect's image and frame loop
//   web.h            the browser build (emscripten): what the web lacks and
//                    what the edge does instead (the *_web.cpp files), the page's calls
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include "platform/audio_output.h"
#include "platform/audio_sink.h"
#include "platform/capture.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"
#include "platform/frame_hooks.h"
#include "platform/frame_loop.h"
#include "platform/music_seek.h"
#include "platform/music_start.h"
#include "platform/music_sync.h"
#include "platform/particles_run.h"
#include "platform/platform_start.h"
#include "platform/program_args.h"
#include "platform/screen_changes.h"
#include "platform/screen_lookup.h"
#include "platform/screenshot.h"
#include "platform/sync_rows.h"
#include "platform/video.h"
#include "platform/web.h"
#include "platform/window_scale.h"

#endif
