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
//                           is paused or there is none)
//   KEVO_CAPTURE=NAME.mp4   a video through ffmpeg: H.264 (.mp4, .mkv) or
//   (or .mkv, .webm)        VP9 (.webm) at 1000/17 frames per second with
//                           the sound alongside (AAC, FLAC or Opus)
//   KEVO_CAPTURE_FRAMES=N   required: the program ends with status 0 after
//                           its N-th present (1 .. 1000000)
//   KEVO_CAPTURE_SCALE=k    videos only: each pixel becomes k x k (1 .. 8),
//                           hard edges
//
// The same program captured twice gives byte-identical PNG and WAV files.
// A bad setting, a DIR or video path that cannot be written, or ffmpeg
// missing: one "CAPTURE: ..." line on standard error and exit status 1.
// A program that ends (or is stopped by a signal) before N presents still
// leaves complete files for the presents it made.
//
// Hooks: video_init and audio_open call capture_start; fb_present calls
// capture_frame after showing the frame and capture_end_when_done last;
// audio_open and audio_unpause hand the audio callback to the capture.
#ifndef PLATFORM_CAPTURE_H
#define PLATFORM_CAPTURE_H

#include <sys/types.h>

#include <climits>
#include <cstdint>
#include <cstdio>

constexpr int CAPTURE_RATE_HZ = 44100;
constexpr long CAPTURE_MAX_FRAMES = 1000000;
constexpr int CAPTURE_MAX_SCALE = 8;

typedef void (*CaptureAudioCallback)(void *userdata, uint8_t *stream, int len);

// The capture's state; all zero (not capturing) until capture_start.
struct CaptureState {
    bool checked;                // capture_start has read the environment
    bool active;                 // capturing
    bool video;                  // through ffmpeg, else PNG frames in dir
    long frames_wanted;          // N
    long frames_done;            // presents captured so far
    long audio_frames;           // audio frames written so far
    int scale;                   // video pixel size, 1 .. 8
    char dir[PATH_MAX];          // PNG directory (DIR mode)
    char output[PATH_MAX];       // the video file (video mode)
    char audio_path[PATH_MAX + 32];  // DIR/audio.wav, or the video's temporary WAV
    char video_temp[PATH_MAX + 32];  // the video's picture before the sound joins it
    FILE *audio_file;
    pid_t encoder;               // ffmpeg reading raw RGB frames, or 0
    int encoder_input;           // its standard input, or -1
    CaptureAudioCallback audio_callback;  // the program's audio callback, or null
    void *audio_userdata;
    bool audio_paused;           // the callback is not called while paused
};
extern CaptureState capture;

// Reads KEVO_CAPTURE* once (later calls only return the answer). When
// capturing: switches the engine to the virtual clock, creates DIR (one
// level) or starts ffmpeg, opens the WAV file and arranges for the files
// to be completed at exit. Returns 1 when capturing, 0 when not. Exits
// with status 1 after one "CAPTURE: ..." line when the settings are bad or
// the output cannot be written.
int capture_start(void);

// In capture mode takes the program's audio callback in place of the audio
// device (paused, as a device starts) and returns 1; returns 0 otherwise.
int capture_audio_open(CaptureAudioCallback callback, void *userdata);

// In capture mode lets the callback run (paused 0) or stops it and returns
// 1; returns 0 otherwise.
int capture_audio_pause(int paused);

// Called by fb_present once the frame is shown. In capture mode: records
// the framebuffer as the next frame, advances the virtual clock by one
// frame period and renders the sound up to the new time. Exits with status
// 1 after one line when a file cannot be written. Otherwise does nothing.
void capture_frame(void);

// Called last in fb_present: once N frames are captured, completes the
// files and exits with status 0 (1 after one line when they cannot be
// completed). Otherwise does nothing.
void capture_end_when_done(void);

// Audio frames due after `presents` presents: round(presents x 17 x 44.1).
long capture_audio_frames_after(long presents);

#endif
