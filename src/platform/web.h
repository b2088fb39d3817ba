// The browser build's edge (emscripten): what the web lacks, what the
// platform does there instead, and the calls between the engine and the
// page around it (tools/web/page.js). Nothing above the platform library
// knows which of the two builds it is in; inside it the browser's files
// are those named *_web.cpp (the canvas video_window_web.cpp, the sound
// audio_sink_device_web.cpp, the page's calls page_web.cpp ...), which
// the browser build takes in place of their native counterparts and the
// native build leaves out.
//
// What the browser lacks, and what takes its place:
//   threads       the audio callback runs on the main thread, from Web
//                 Audio's timers and inside each SDL_Delay; SDL_LockAudio
//                 does nothing (there is nothing to lock against)
//   a window      the page's canvas, 400 x 240: an 8-bit surface with the
//                 engine's palette (SDL_HWPALETTE), updated when unlocked.
//                 Its size on the page and full screen are the page's
//                 (CSS, at a whole scale with hard edges): --scale and the
//                 window's scaling do nothing; the page itself takes F and
//                 Alt-Enter for full screen
//   pacing        SDL_Delay yields to the browser (the programs are linked
//                 with ASYNCIFY), so the blocking frame loops run unchanged;
//                 the browser's timers wake late by a fraction of a
//                 millisecond or more, so frames keep to a schedule of one
//                 per period instead (video_window_web.cpp)
//   signals       none arrive from outside: Escape or the page end a program
//   libpng        PNG pictures and screenshots are refused with one line
//                 (image_png_absent.cpp, screenshot_absent.cpp); PCX works
//   giflib        no GIF capture (capture_gif_absent.cpp)
//   ffmpeg        no videos (capture_video_absent.cpp), and a capture's frames (KEVO_CAPTURE=DIR, set
//                 by the page from its query) go to the page as indices
//                 instead of PNG files; DIR/audio.wav is written in the
//                 page's memory as anywhere, for the page to read
//   SSE2          the music mixes in the plain loops (the same samples)
//   glibc's rand() the browser's C library has another sequence: glibc's
//                 is linked in its place (glibc_rand_internal.h), so what
//                 is drawn from rand() is the native program's pixels
//   the rate line goes to the page, not to standard error
//
// The heard position there comes from Web Audio's own clock: what is
// rendered minus what is scheduled ahead of the AudioContext's current time.
#ifndef PLATFORM_WEB_H
#define PLATFORM_WEB_H

#include <cstdint>

// A capture's frame for the page: `indices`, width x height (page_web.cpp).
void web_page_frame(const uint8_t *indices, int width, int height);

// The page may call kevo_heard_frame(), the song frame heard now (-1 while
// no music plays), and kevo_palette(), the engine's 256 colours
// (page_web.cpp).

#endif
