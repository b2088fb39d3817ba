// Deterministic capture of any program built on the engine, without a
// change to its code. With KEVO_CAPTURE set in the environment the program
// runs on a virtual clock (each present advances it by exactly one frame
// period, 17 ms), needs no display (SDL's dummy video driver) and no audio
// device (the audio callback is called on the main thread instead, in step
// with the clock), and records:
//
//   KEVO_CAPTURE=DIR        DIR/frame_000000.png, frame_000001.png, ... one
//                           per present, and DIR/audio.wav (44100 Hz,
//                           stereo, 16-bit): after the n-th present the
//                           file holds round(n x 17 x 44.1) frames of what
//                           the audio callback produced (silence while it
//                           is paused or there is none). DIR is made (one
//                           level) when missing; one that already holds
//                           frame_*.png or audio.wav is refused.
//   KEVO_CAPTURE=NAME.mp4   a video through ffmpeg: H.264 (.mp4, .mkv) or
//   (or .mkv, .webm)        VP9 (.webm) at 1000/17 frames per second with
//                           the sound alongside (AAC, FLAC or Opus). Other
//                           video names (.mov, .avi ...) and picture names
//                           (.png, .pcx, .jpg, .webp ...) are refused, never
//                           taken for a DIR.
//   KEVO_CAPTURE=NAME.gif   a GIF through giflib, exact: the palette is its
//                           global colour table; the first frame is whole,
//                           each later one the rectangle that changed since
//                           the frame before (one pixel when none did, so
//                           that its delay counts); frame k's delay is
//                           round(1.7 (k + 1)) - round(1.7 k) hundredths of
//                           a second (2, 1, 2, 2, 2, 1 ...), so frame k
//                           starts within half a hundredth of k x 17 ms; a
//                           NETSCAPE2.0 block loops it for ever. A GIF has
//                           no sound: the audio callback runs on the clock
//                           as for the others and what it makes is dropped.
//                           Browsers show a frame of 1 hundredth for 10:
//                           there the GIF runs at about 0.4 of its speed.
//   KEVO_CAPTURE_FRAMES=N   required: the program ends with status 0 after
//                           its N-th present (1 .. 1000000)
//   KEVO_CAPTURE_SCALE=k    videos and GIFs only: each pixel becomes k x k
//                           (1 .. 8), hard edges
//
// The same program captured twice gives byte-identical PNG, WAV and GIF
// files. A bad setting, a DIR, video or GIF path that cannot be written, a
// folder where the video or GIF should go, or ffmpeg missing for a video
// (no executable file "ffmpeg" on PATH): one "CAPTURE: ..." line on
// standard error and exit status 1, before the first frame. A failure
// later (a file that cannot be written, ffmpeg or giflib refusing) is one
// line too, naming the file and quoting ffmpeg's own last complaint or
// giflib's reason.
//
// A video is made under unique temporary names beside it (NAME.video-*,
// NAME.audio-*, NAME.join-*) and put in place whole at the end, so two
// captures to the same name never mix: the last to finish wins. ffmpeg runs
// in a process group of its own, so the terminal's Ctrl-C reaches only the
// program, and dies with the program. A GIF is written as NAME.part-*
// beside it and renamed at the end.
//
// Stopping: a program that ends (or is stopped by a signal) before N
// presents still leaves complete files for the presents it made: the PNG
// frames with a WAV of their sound, the GIF or the video of them. A second
// stop (exit_signals.h) before the files are finished ends the capture at
// once: in DIR mode the files complete for the presents made (status 0);
// in GIF mode the GIF of the frames written whole (status 0; with none,
// one line and status 1); a video is abandoned, every temporary file and
// ffmpeg gone, one line, status 1. After a write error the WAV header,
// too, always matches the sound the file holds, and a GIF holds the frames
// written whole (status 1).
//
// Starting: once, by the platform's start (platform_start.h), which the
// first of the window's opening, the music's start and the sound's opening
// runs; a program may call capture_start itself before them. A capture
// then puts its clock in place of the sound device (audio_sink.h) and adds
// its hook to those fb_present runs (frame_hooks.h): each frame shown is
// recorded, the virtual clock moved on and the sound rendered up to it.
// After the N-th frame it completes the files and sets the frame loops'
// stop flag (exit_request), and the loop ends the program (status 0; 1
// after one line when the files cannot be completed). A program that
// shows no frames (modplay; a program drawing without a window) calls
// capture_decline first, and is then never captured. Everything else only
// asks capture_active().
//
// Programs on the frame loop (frame_loop.h): --frames N still ends them
// after N frames while capturing (whichever of it and KEVO_CAPTURE_FRAMES
// comes first); their --shot is ignored with one line, the capture's frames
// being the pictures.
#ifndef PLATFORM_CAPTURE_H
#define PLATFORM_CAPTURE_H

#include <cstdint>

constexpr int CAPTURE_RATE_HZ = 44100;
constexpr long CAPTURE_MAX_FRAMES = 1000000;
constexpr int CAPTURE_MAX_SCALE = 8;

typedef void (*CaptureAudioCallback)(void *userdata, uint8_t *stream, int len);

// Starts the capture KEVO_CAPTURE asks for (set, not empty), the first time
// it is called; later calls only return the answer. When capturing:
// switches the engine to the virtual clock, makes the output's folder or
// temporary files (starting ffmpeg for a video) and the WAV file, puts the
// capture's clock in place of the sound device, adds its frame hook, and
// arranges for a second stop and the program's exit to leave the files as
// said above. Returns 1 when capturing, 0 when not (nothing asked, or
// declined). Exits with status 1 after one "CAPTURE: ..." line when the
// settings are bad or the output cannot be written.
int capture_start(void);

// For a program that shows no frames, before its start-up: no capture is
// ever made, whatever KEVO_CAPTURE says (a capture would wait for frames
// that never come). Returns true when KEVO_CAPTURE asks for one, so that
// the program can say that it is ignored. Once capture_start has run it
// changes nothing and returns false.
bool capture_decline(void);

// True while a capture is being recorded: from its start until its files
// are completed or it fails. The question every part of the engine asks;
// it starts nothing.
bool capture_active(void);

// Audio frames due after `presents` presents: presents frame periods at
// CAPTURE_RATE_HZ, rounded to the nearest frame (17 ms x 44.1 = 749.7 a
// present).
long capture_audio_frames_after(long presents);

#endif
