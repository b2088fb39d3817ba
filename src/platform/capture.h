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
// frames with a WAV of their sound, the GIF or the video of them. A second stop
// signal before the video is finished abandons it: every temporary file
// and ffmpeg go, one "CAPTURE: ..." line, status 1. (The same signal again
// within 0.25 s counts as the same stop: `timeout`, for one, sends its
// signal to the program and again to its process group.) In DIR mode a second
// stop signal ends the program at once (status 0), the files complete for
// the presents made; in GIF mode it puts in place the GIF of the frames
// written whole (status 0; with none, one line and status 1). After a
// write error the WAV header, too, always matches the sound the file
// holds, and a GIF holds the frames written whole (status 1). To see every stop signal the capture
// keeps a handler of its own in front of the program's for SIGINT,
// SIGQUIT, SIGHUP and SIGTERM (the program's still runs; an ignored signal
// stays ignored).
//
// Starting: once, by the platform's start-up. The first of the music
// start-up (music_start_file, before it opens the audio device), audio_open
// and video_init calls capture_start, which reads KEVO_CAPTURE* then and
// never again; a program may call it itself before them. So any program
// that shows frames is captured unchanged, its sound too. A program that
// shows none (modplay; a program drawing without a window) calls
// capture_decline first, and is then never captured. Everything else only
// asks capture_active().
//
// Hooks: fb_present calls capture_frame after showing the frame and
// capture_end_when_done last; audio_open and audio_unpause hand the audio
// callback to the capture; a second stop signal calls capture_stop_again.
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
// switches the engine to the virtual clock, creates DIR (one level) or
// starts ffmpeg and opens the WAV file, or starts the GIF, puts its
// stop-signal handler in front of the program's and arranges for the files
// to be completed at exit.
// Returns 1 when capturing, 0 when not (nothing asked, or declined). Exits
// with status 1 after one "CAPTURE: ..." line when the settings are bad or
// the output cannot be written.
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

// While capturing, takes the program's audio callback in place of the audio
// device (paused, as a device starts) and returns 1; returns 0 otherwise.
int capture_audio_open(CaptureAudioCallback callback, void *userdata);

// While capturing, lets the callback run (paused 0) or stops it and returns
// 1; returns 0 otherwise.
int capture_audio_pause(int paused);

// Called by fb_present once the frame is shown. While capturing: records
// the framebuffer as the next frame, advances the virtual clock by one
// frame period and renders the sound up to the new time (and puts the
// capture's stop-signal handler back in front should the program have
// replaced it). Exits with status 1 after one line when a file cannot be
// written. Otherwise does nothing.
void capture_frame(void);

// Called last in fb_present: once N frames are captured, completes the
// files and exits with status 0 (1 after one line when they cannot be
// completed). Otherwise does nothing.
void capture_end_when_done(void);

// For a stop signal's handler that has had a stop signal before: while a
// capture is being made or finished it ends the program as a second stop
// signal does (see above) and does not return; otherwise it returns. Safe
// inside a signal handler.
void capture_stop_again(void);

// Audio frames due after `presents` presents: presents frame periods at
// CAPTURE_RATE_HZ, rounded to the nearest frame (17 ms x 44.1 = 749.7 a
// present).
long capture_audio_frames_after(long presents);

#endif
