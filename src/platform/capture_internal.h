// What the capture's files share: its state, read by the stop signals'
// handler too, and the steps one file takes for another. Not part of the
// engine's interface.
#ifndef PLATFORM_CAPTURE_INTERNAL_H
#define PLATFORM_CAPTURE_INTERNAL_H

#include <sys/types.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/capture.h"

struct GifFileType;

constexpr int CAPTURE_STOP_SIGNALS = 4;     // SIGINT, SIGQUIT, SIGHUP, SIGTERM
constexpr long CAPTURE_SAME_STOP_MS = 250;  // a stop signal repeated within this is one stop
constexpr long MS_PER_SECOND = 1000;
constexpr int AUDIO_BLOCK_FRAMES = 4096;
constexpr int RGB_BYTES = 3;
constexpr size_t REASON_BYTES = 256;
constexpr int STOP_SIGNALS[CAPTURE_STOP_SIGNALS] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

// Where a capture is; what a stop signal does depends on it.
enum CapturePhase : int {
    CAPTURE_OFF = 0,        // not capturing, or failed
    CAPTURE_RECORDING = 1,  // frames and sound are being made
    CAPTURE_FINISHING = 2,  // the files are being completed
    CAPTURE_FINISHED = 3,   // the files are complete and in place
};

// The capture's state; all zero (not capturing) until capture_start. The
// volatile fields are read by the stop signals' handler.
struct CaptureState {
    bool decided;                // capture_start or capture_decline has run
    bool active;                 // capturing
    bool video;                  // through ffmpeg, else PNG frames in dir or a GIF
    bool gif;                    // a GIF through giflib (capture_gif.cpp)
    long frames_wanted;          // N
    long frames_done;            // presents captured so far
    long audio_frames;           // audio frames written so far
    int scale;                   // video pixel size, 1 .. 8
    char dir[PATH_MAX];          // PNG directory (DIR mode)
    char output[PATH_MAX];       // the video or GIF file (video and GIF mode)
    char ffmpeg[PATH_MAX];       // the ffmpeg found on PATH (video mode)
    char audio_path[PATH_MAX + 32];   // DIR/audio.wav, or the video's temporary WAV
    char video_temp[PATH_MAX + 32];   // the video's picture before the sound joins it
    char joined_temp[PATH_MAX + 32];  // picture and sound, before the rename
    char gif_temp[PATH_MAX + 32];     // the GIF being written, before the rename
    int gif_fd;                  // its descriptor, or -1
    GifFileType *gif_file;       // giflib's writer, or null
    int gif_write_errno;         // why writing the GIF failed, or 0
    long gif_written;            // bytes written to gif_fd
    volatile long gif_frames_kept;  // frames complete in the file; a stop signal keeps them,
    volatile long gif_kept_bytes;   // the file's first gif_kept_bytes bytes, and a trailer
    FILE *audio_file;            // unbuffered: what was written is in the file
    int audio_fd;                // its descriptor, or -1
    int encoder_input;           // ffmpeg's standard input, or -1
    int ffmpeg_errors;           // a memory file holding ffmpeg's standard error, or -1
    volatile sig_atomic_t phase;         // a CapturePhase
    volatile sig_atomic_t encoder;       // ffmpeg reading raw RGB frames, or 0
    volatile sig_atomic_t joiner;        // ffmpeg joining picture and sound, or 0
    volatile sig_atomic_t frames_kept;   // frames_done, for the handler
    volatile sig_atomic_t stops_seen;    // stop signals since the capture took them
    volatile sig_atomic_t last_stop_signal;  // the last of them, and when (monotonic ms)
    volatile long last_stop_ms;
    // DIR mode: the frame being written is frame_paths[frame_at], number
    // frame_numbers[frame_at]; not yet kept while that is >= frames_kept.
    char frame_paths[2][PATH_MAX + 32];
    volatile sig_atomic_t frame_numbers[2];
    volatile sig_atomic_t frame_at;
    // The program's handlers, which the capture's own calls.
    struct sigaction program_actions[CAPTURE_STOP_SIGNALS];
    CaptureAudioCallback audio_callback;  // the program's audio callback, or null
    void *audio_userdata;
    bool audio_paused;           // the callback is not called while paused
};
extern CaptureState capture_state;


// True when `text` ends with `suffix`, in either case.
static inline bool has_suffix(const char *text, const char *suffix) {
    const size_t n = strlen(text), m = strlen(suffix);
    return n >= m && strcasecmp(text + n - m, suffix) == 0;
}

// capture.cpp

// The one way a capture fails: one "CAPTURE: ..." line on standard error,
// then whatever was made so far left as a failure leaves it (a video's
// files all gone; DIR mode's complete for the presents made; before
// anything was made, nothing), status 1. A stop signal can no longer change
// that.
[[noreturn]] __attribute__((format(printf, 1, 2))) void capture_fail(const char *format, ...);

// capture_signals.cpp: what is left behind; safe in a signal handler.

// Cuts the WAV file to whole frames, at most `most` of them, and writes the
// header for what it then holds, so that the header always matches the
// sound, whatever was or was not written. True when done.
bool capture_seal_audio(long most);

// DIR mode: the frames kept and the sound of exactly those presents; a
// frame written whose present is not complete goes.
void capture_keep_what_was_made(void);

// Writes `text` on standard error.
void capture_write_text(const char *text);

// capture_signals.cpp: ordinary code.

// Puts the capture's handler in front of each stop signal that has a
// handler of the program's (an ignored or default one is left as it is).
void capture_take_stop_signals(void);

// Blocks the stop signals (their previous mask in *old, when not null).
void capture_block_stop_signals(sigset_t *old);

void capture_restore_signal_mask(const sigset_t *old);

// A new empty file beside the output, named after it and `kind`, in
// `path`. Its descriptor, or -1 (errno says why).
int capture_make_temp_file(const char *kind, char *path, size_t size);

// capture_gif.cpp

// GIF mode: checks the name, makes the temporary file and writes the GIF's
// start (the palette as its colour table, the loop), or exits after one
// line.
void capture_gif_start(const char *target);

// GIF mode: the framebuffer as the next frame, or exits after one line.
void capture_gif_frame(long frame_number);

// GIF mode: ends the GIF and puts it in place. 0, or -1 after one line.
int capture_gif_finish(void);

// GIF mode: the frames complete in the temporary file, with a trailer,
// put in place as the GIF; without any, the file goes. True when a GIF was
// put in place. Safe in a signal handler.
bool capture_gif_keep_what_was_made(void);

// capture_video.cpp

// The ffmpeg container name for a video path, or null for a directory.
const char *capture_video_format(const char *path);

// Video mode: no ffmpeg left running and none of the temporary files. Safe
// in a signal handler.
void capture_drop_video_files(void);

// Waits for the ffmpeg in *slot; true when it ended with status 0.
// Otherwise `reason` says why: ffmpeg's own last line, or how it ended.
bool capture_ffmpeg_succeeded(volatile sig_atomic_t *slot, char *reason, size_t size);

// Video mode: finds ffmpeg, checks the name and makes the temporary files;
// the WAV's descriptor, or exits after one line.
int capture_start_video(const char *target);

// Starts the ffmpeg that takes the frames as raw RGB on its standard input.
void capture_start_encoder(void);

// One frame through the palette as RGB rows, each pixel scale x scale.
void capture_send_frame_to_encoder(void);

// Joins the finished picture and sound into the video file, through the
// temporary name beside it, and puts it in place. 0, or -1 after one line.
int capture_join_video(void);

#endif
