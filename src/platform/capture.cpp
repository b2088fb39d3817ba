// Capture: its start from the settings, the writer of the output asked
// for, each frame shown handed to it on the virtual clock, and the end:
// the files completed once the last frame is made (or at exit, when the
// program ends first), or kept as they are when a second stop or a failure
// comes. The sound on the clock is capture_audio.cpp's; each kind of output
// its writer's (capture_frames.cpp, capture_video.cpp, capture_gif.cpp).
#include "platform/capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/audio_sink.h"
#include "platform/capture_internal.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"
#include "platform/frame_hooks.h"
#include "platform/program_args.h"
#include "util/file_replace.h"

// The capture's state (capture_internal.h).
CaptureState capture_state = {};

long capture_audio_frames_after(long presents) {
    // Exact in whole numbers: presents x 17 x 44100 / 1000, rounded; at
    // most 10^6 presents, 7.5 x 10^11, in 64 bits.
    const int64_t per_period = static_cast<int64_t>(FRAME_PERIOD_MS) * CAPTURE_RATE_HZ;
    return ((static_cast<int64_t>(presents) * per_period + MS_PER_SECOND / 2) / MS_PER_SECOND);
}

// True when KEVO_CAPTURE asks for a capture (set, not empty), whether or
// not its other settings are good.
static bool capture_requested(void) {
    const char *target = getenv("KEVO_CAPTURE");
    return target && *target;
}

bool capture_active(void) { return capture_state.active; }

bool capture_decline(void) {
    if (capture_state.decided) return false;
    capture_state.decided = true;
    return capture_requested();
}

void capture_write_text(const char *text) {
    size_t left = strlen(text);
    while (left > 0) {
        const ssize_t n = write(2, text, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

int capture_make_temp_file(const char *kind, char *path, size_t size) {
    snprintf(path, size, "%s.%s-XXXXXX", capture_state.output, kind);
    const int fd = mkostemp(path, O_CLOEXEC);
    // A name that was not made is no name of ours: nothing removes it.
    if (fd < 0) {
        path[0] = '\0';
        return -1;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return fd;
}

void capture_fail(const char *format, ...) {
    exit_signals_block(nullptr);
    capture_state.active = false;
    capture_state.phase = CAPTURE_OFF;  // the exit-time completion has nothing to do
    va_list args;
    va_start(args, format);
    failure_line_v("CAPTURE", format, args);
    va_end(args);
    if (capture_state.writer) capture_state.writer->keep();
    capture_audio_close();
    exit(1);
}

// What a second stop does while a capture is made or finished: its writer
// keeps what it can (status 0), or says that nothing was made (status 1).
// Safe in a signal handler.
static void capture_stop_again(void) {
    const int phase = capture_state.phase;
    if (phase != CAPTURE_RECORDING && phase != CAPTURE_FINISHING) return;
    file_replace_remove_pending();  // a frame half written
    if (capture_state.writer->keep()) _exit(0);
    capture_write_text("CAPTURE: stopped again before '");
    capture_write_text(capture_state.output);
    capture_write_text("' was finished: no ");
    capture_write_text(capture_state.writer->made);
    capture_write_text(" made\n");
    _exit(1);
}

// The one of `extensions` (a null-ended list) that `path` ends with, else
// null.
static const char *extension_among(const char *path, const char *const *extensions) {
    for (; *extensions; extensions++)
        if (has_suffix(path, *extensions)) return *extensions;
    return nullptr;
}

// Videos and animations of a kind not made here, and still pictures: a
// capture is never made under those names (nor as a folder so named).
static const char *const UNMADE_VIDEOS[] = {".mov", ".avi", ".apng", ".m4v", ".mpg", ".mpeg", ".ogv",
                                            ".flv", ".wmv", ".3gp", ".y4m", ".mjpeg", nullptr};
static const char *const PICTURES[] = {".png", ".pcx", ".jpg", ".jpeg", ".webp", ".bmp", ".tga", ".tif",
                                       ".tiff", nullptr};
static const char *const VIDEOS[] = {".mp4", ".mkv", ".webm", nullptr};

// A whole decimal number in lo .. hi from the environment variable `name`.
static long env_number(const char *name, const char *text, long lo, long hi) {
    long value = 0;
    if (parse_long(text, lo, hi, &value) != 0)
        capture_fail("%s wants a whole number in %ld .. %ld, not '%s'", name, lo, hi, text);
    return value;
}

// Seals the sound and has the writer complete its output. Returns 0, or -1
// after one line, the writer having kept what it could (and then a stop
// signal no longer acts). Runs at exit too, so it never exits itself.
static int complete_files(void) {
    capture_state.active = false;
    capture_state.phase = CAPTURE_FINISHING;
    int result = capture_audio_finish();
    if (result == 0) result = capture_state.writer->finish();
    if (result != 0) {
        exit_signals_block(nullptr);
        capture_state.phase = CAPTURE_OFF;
        capture_state.writer->keep();
    } else {
        capture_state.phase = CAPTURE_FINISHED;
    }
    return result;
}

// At exit before N presents (the program ended or was stopped): what was
// captured is completed. exit() cannot be called again from here.
static void complete_at_exit(void) {
    if (capture_state.active && complete_files() != 0) _exit(1);
}

// The hook fb_present runs once a frame is shown: the frame to the writer,
// the virtual clock a frame period on and the sound rendered up to it.
// After the N-th frame the files are completed and the frame loops are
// told to end the program (exit_request); completing them cannot be, one
// line and status 1.
static void capture_frame(void) {
    if (!capture_state.active) return;
    capture_state.writer->frame(capture_state.frames_done);
    capture_state.frames_done++;
    engine_clock_advance(FRAME_PERIOD_MS);
    capture_render_audio(capture_audio_frames_after(capture_state.frames_done));
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture_state.frames_kept = static_cast<sig_atomic_t>(capture_state.frames_done);
    if (capture_state.frames_done < capture_state.frames_wanted) return;
    if (complete_files() != 0) exit(1);
    exit_request();
}

// The writer for a KEVO_CAPTURE name: a GIF, a video, or else a folder of
// PNG frames; names of other videos and of pictures are refused.
static const CaptureWriter *writer_for(const char *target) {
    if (const char *extension = extension_among(target, UNMADE_VIDEOS))
        capture_fail("'%s' names a %s video, which is not made here: use .mp4, .mkv, .webm or .gif, or a folder name "
                     "for PNG frames", target, target + strlen(target) - strlen(extension));
    if (const char *extension = extension_among(target, PICTURES))
        capture_fail("'%s' names a %s picture: a capture makes a folder of PNG frames (a name without an extension), "
                     "a .gif, or a .mp4, .mkv or .webm video", target, target + strlen(target) - strlen(extension));
    if (has_suffix(target, ".gif")) return &capture_gif_writer;
    if (extension_among(target, VIDEOS)) return &capture_video_writer;
    return &capture_frames_writer;
}

int capture_start(void) {
    if (capture_state.decided) return capture_state.active ? 1 : 0;
    capture_state.decided = true;
    // A file-size limit then ends the capture as any write error does.
    ignore_file_size_signal();
    capture_state.encoder_input = -1;
    capture_state.audio_fd = -1;
    capture_state.ffmpeg_errors = -1;
    capture_state.gif_fd = -1;
    if (!capture_requested()) return 0;
    const char *target = getenv("KEVO_CAPTURE");
    const char *frames = getenv("KEVO_CAPTURE_FRAMES");
    if (!frames || !*frames)
        capture_fail("KEVO_CAPTURE needs KEVO_CAPTURE_FRAMES=N, the number of frames to capture");
    capture_state.frames_wanted = env_number("KEVO_CAPTURE_FRAMES", frames, 1, CAPTURE_MAX_FRAMES);
    const char *scale = getenv("KEVO_CAPTURE_SCALE");
    const bool scale_given = scale && *scale;
    capture_state.scale = scale_given ? static_cast<int>(env_number("KEVO_CAPTURE_SCALE", scale, 1, CAPTURE_MAX_SCALE)) : 1;
    if (strlen(target) + 32 > PATH_MAX) capture_fail("the path in KEVO_CAPTURE is too long");
    const CaptureWriter *writer = writer_for(target);
    if (writer == &capture_frames_writer && scale_given && capture_state.scale != 1)
        capture_fail("KEVO_CAPTURE_SCALE applies to videos and GIFs; PNG frames are the 400x240 framebuffer");
    // A GIF has no sound: the audio callback still runs on the clock, as
    // for the other captures, and what it makes is not kept.
    capture_state.writer = writer;  // a failure from here on has it keep what it made
    const int audio_fd = writer->start(target);
    if (audio_fd >= 0) capture_audio_begin(audio_fd);
    // From here on the capture records, on the virtual clock, and completes
    // its files when the last frame is made or at exit.
    capture_state.active = true;
    capture_state.phase = CAPTURE_RECORDING;
    capture_state.audio_paused = true;
    engine_clock_make_virtual();
    atexit(complete_at_exit);
    exit_signals_on_second_stop(capture_stop_again);
    audio_sink_use(&capture_clock_sink);
    frame_hook_add(capture_frame);
    return 1;
}
