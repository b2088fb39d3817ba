// What the capture's files share: its state (read by a second stop, in a
// signal handler, too), the writer each kind of output is made by, and the
// steps one file takes for another. Not part of the engine's interface.
#ifndef PLATFORM_CAPTURE_INTERNAL_H
#define PLATFORM_CAPTURE_INTERNAL_H

#include <sys/types.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/audio_sink.h"
#include "platform/capture.h"

struct GifFileType;

constexpr long MS_PER_SECOND = 1000;
constexpr int AUDIO_BLOCK_FRAMES = 4096;
constexpr int RGB_BYTES = 3;
constexpr size_t REASON_BYTES = 256;

// One kind of output: the PNG frames of a folder, a video through ffmpeg,
// a GIF. The capture starts it, hands it every frame, and at the end has it
// finish; a stop or a failure before then has it keep what it can.
struct CaptureWriter {
    const char *made;           // what it makes, in messages ("video", "GIF")
    // Checks the name and makes what it writes into (the folder, temporary
    // files beside the output), or exits after one line (capture_fail).
    // The descriptor of the WAV file the sound goes to, or -1: it keeps no
    // sound.
    int (*start)(const char *target);
    // The framebuffer as frame `number` (from 0), or exits after one line.
    void (*frame)(long number);
    // Completes the output and puts it in place (the sound is sealed
    // already). 0, or -1 after one line.
    int (*finish)(void);
    // What a stop or a failure leaves: the frames made whole (the PNG frames
    // with the sound of exactly those, or the GIF of them), or nothing at
    // all where a part is no output (a video). True when something was
    // kept. Safe in a signal handler.
    bool (*keep)(void);
    // Removes every file it made. Safe in a signal handler.
    void (*drop)(void);
};

extern const CaptureWriter capture_frames_writer;  // capture_frames.cpp
extern const CaptureWriter capture_video_writer;   // capture_video.cpp (capture_video_absent.cpp)
extern const CaptureWriter capture_gif_writer;     // capture_gif.cpp (capture_gif_absent.cpp)

// Where a capture is; what a stop signal does depends on it.
enum CapturePhase : int {
    CAPTURE_OFF = 0,        // not capturing, or failed
    CAPTURE_RECORDING = 1,  // frames and sound are being made
    CAPTURE_FINISHING = 2,  // the files are being completed
    CAPTURE_FINISHED = 3,   // the files are complete and in place
};

// The capture's state; all zero (not capturing) until capture_start. The
// volatile fields are read by a second stop's action.
struct CaptureState {
    bool decided;                // capture_start or capture_decline has run
    bool active;                 // capturing
    const CaptureWriter *writer; // the kind of output, once started
    long frames_wanted;          // N
    long frames_done;            // presents captured so far
    long audio_frames;           // audio frames written so far
    int scale;                   // video and GIF pixel size, 1 .. 8
    char dir[PATH_MAX];          // PNG directory (the frames writer)
    char output[PATH_MAX];       // the video or GIF file
    char ffmpeg[PATH_MAX];       // the ffmpeg found on PATH (video)
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
    volatile sig_atomic_t frames_kept;   // frames_done, for a second stop
    // The frames writer: the frame being written is frame_paths[frame_at],
    // number frame_numbers[frame_at]; not yet kept while that is >=
    // frames_kept.
    char frame_paths[2][PATH_MAX + 32];
    volatile sig_atomic_t frame_numbers[2];
    volatile sig_atomic_t frame_at;
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
// then whatever was made so far left as its writer keeps it (a video's
// files all gone; the PNG frames complete for the presents made; the GIF of
// the frames written whole), status 1. A stop signal can no longer change
// that.
[[noreturn]] __attribute__((format(printf, 1, 2))) void capture_fail(const char *format, ...);

// Writes `text` on standard error. Safe in a signal handler.
void capture_write_text(const char *text);

// A new empty file beside the output (a video or a GIF), named after it
// and `kind`, in `path`, with the permissions a new file would have. Its
// descriptor, or -1 (errno says why).
int capture_make_temp_file(const char *kind, char *path, size_t size);

// capture_audio.cpp: the sound on the virtual clock.

// The audio sink a capture puts in place of the device: the program's
// callback is run by capture_render_audio, in step with the clock.
extern const AudioSink capture_clock_sink;

// Writes the WAV file's header (for no sound yet) to `fd`, which takes the
// sound from here on; exits after one line when it cannot.
void capture_audio_begin(int fd);

// Runs the audio callback (silence while paused or without one) up to
// `target_frames` frames since the start, into the WAV file when there is
// one; exits after one line when it cannot be written.
void capture_render_audio(long target_frames);

// Cuts the WAV file to whole frames, at most `most` of them, and writes the
// header for what it then holds, so that the header always matches the
// sound, whatever was or was not written. True when done (or there is no
// sound). Safe in a signal handler.
bool capture_seal_audio(long most);

// Seals the WAV file for all the sound written and closes it: 0, or -1
// after one line.
int capture_audio_finish(void);

// Closes the WAV file as it is (after a failure or a stop has sealed it).
void capture_audio_close(void);

// capture_frames.cpp (and its browser variant capture_frame_save_web.cpp)

// The frames writer's frame: the framebuffer as frame `number` in the
// capture's folder (a PNG file natively, handed to the page in the
// browser), or exits after one line.
void capture_frame_save(long number);

#endif
