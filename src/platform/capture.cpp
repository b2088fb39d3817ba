// Capture: its start from the settings, frames as PNG files or handed to
// the encoder, the audio callback's output as a WAV file, all on the
// virtual clock, and the files completed at the end. The ffmpeg runs are
// capture_video.cpp's, what a stop signal does capture_signals.cpp's.
#include "platform/capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "music/wav_file.h"
#include "platform/capture_internal.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"
#include "platform/program_args.h"
#include "platform/screenshot.h"
#include "platform/video.h"
#include "platform/web.h"

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

// The one way a capture fails: one "CAPTURE: ..." line on standard error,
// then whatever was made so far left as a failure leaves it (a video's
// files all gone; DIR mode's complete for the presents made; before
// anything was made, nothing), status 1. A stop signal can no longer change
// that.
void capture_fail(const char *format, ...) {
    capture_block_stop_signals(nullptr);
    capture_state.active = false;
    capture_state.phase = CAPTURE_OFF;  // the exit-time completion has nothing to do
    va_list args;
    va_start(args, format);
    failure_line_v("CAPTURE", format, args);
    va_end(args);
    if (capture_state.encoder_input >= 0) close(capture_state.encoder_input);
    capture_state.encoder_input = -1;
    if (capture_state.video)
        capture_drop_video_files();
    else if (capture_state.gif)
        capture_gif_keep_what_was_made();
    else
        capture_keep_what_was_made();
    if (capture_state.audio_file) {
        capture_state.audio_fd = -1;
        fclose(capture_state.audio_file);
        capture_state.audio_file = nullptr;
    }
    exit(1);
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

// A whole decimal number in lo .. hi from the environment variable `name`.
static long env_number(const char *name, const char *text, long lo, long hi) {
    long value = 0;
    if (parse_long(text, lo, hi, &value) != 0)
        capture_fail("%s wants a whole number in %ld .. %ld, not '%s'", name, lo, hi, text);
    return value;
}

// Completes the WAV file and, for a video, ends the picture stream and
// joins picture and sound into the output; the video's temporary files go
// whatever happens. A GIF is ended and put in place; should that fail, the
// frames it holds are kept as a failure keeps them. Returns 0, or -1 after
// one line (and then a stop signal no longer acts). Runs at exit too, so it
// never exits itself.
static int complete_files(void) {
    capture_state.active = false;
    capture_state.phase = CAPTURE_FINISHING;
    int result = 0;
    if (capture_state.audio_file) {
        if (!capture_seal_audio(capture_state.audio_frames)) {
            failure_line("CAPTURE", "cannot finish '%s': %s", capture_state.audio_path, strerror(errno));
            result = -1;
        }
        capture_state.audio_fd = -1;
        fclose(capture_state.audio_file);
        capture_state.audio_file = nullptr;
    }
    if (capture_state.gif) result = capture_gif_finish();
    if (capture_state.video) {
        close(capture_state.encoder_input);
        capture_state.encoder_input = -1;
        char reason[REASON_BYTES];
        if (!capture_ffmpeg_succeeded(&capture_state.encoder, reason, sizeof reason) && result == 0) {
            failure_line("CAPTURE", "ffmpeg could not encode the frames of '%s': %s", capture_state.output, reason);
            result = -1;
        }
        if (result == 0) result = capture_join_video();
    }
    if (result != 0) {
        capture_block_stop_signals(nullptr);
        capture_state.phase = CAPTURE_OFF;
        if (capture_state.video) capture_drop_video_files();
        if (capture_state.gif) capture_gif_keep_what_was_made();
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

// DIR mode: the name of a capture file `dir` already holds, in `found`;
// false when it holds none (or cannot be read: writing then says why).
static bool holds_capture_files(const char *dir, char *found, size_t size) {
    DIR *d = opendir(dir);
    if (!d) return false;
    bool holds = false;
    while (const struct dirent *entry = readdir(d)) {
        const char *name = entry->d_name;
        if (strcmp(name, "audio.wav") == 0 || (strncmp(name, "frame_", 6) == 0 && has_suffix(name, ".png"))) {
            snprintf(found, size, "%s", name);
            holds = true;
            break;
        }
    }
    closedir(d);
    return holds;
}

// DIR mode: makes or checks the folder; the WAV's descriptor, or exits
// after one line.
static int start_frames(const char *target, bool scale_given) {
    if (scale_given && capture_state.scale != 1)
        capture_fail("KEVO_CAPTURE_SCALE applies to videos and GIFs; PNG frames are the 400x240 framebuffer");
    snprintf(capture_state.dir, sizeof capture_state.dir, "%s", target);
    struct stat st;
    if (stat(capture_state.dir, &st) != 0 && mkdir(capture_state.dir, 0777) != 0)
        capture_fail("cannot create the directory '%s': %s", capture_state.dir, strerror(errno));
    char found[256];
    if (holds_capture_files(capture_state.dir, found, sizeof found))
        capture_fail("'%s' already holds a capture (%s); capture into an empty or new folder", capture_state.dir,
                     found);
    snprintf(capture_state.audio_path, sizeof capture_state.audio_path, "%s/audio.wav", capture_state.dir);
    const int fd = open(capture_state.audio_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) capture_fail("cannot write '%s': %s", capture_state.audio_path, strerror(errno));
    return fd;
}

// Once the output is ready: the capture records from here on, on the
// virtual clock, and completes its files at exit.
static void start_recording(void) {
    capture_state.active = true;
    capture_state.phase = CAPTURE_RECORDING;
    capture_state.audio_paused = true;
    engine_clock_make_virtual();
    atexit(complete_at_exit);
    // A stop signal that came before counts as the first.
    capture_state.stops_seen = exit_requested() ? 1 : 0;
    capture_take_stop_signals();
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
    capture_state.scale =
        scale && *scale ? static_cast<int>(env_number("KEVO_CAPTURE_SCALE", scale, 1, CAPTURE_MAX_SCALE)) : 1;
    if (strlen(target) + 32 > PATH_MAX) capture_fail("the path in KEVO_CAPTURE is too long");
    if (const char *extension = extension_among(target, UNMADE_VIDEOS))
        capture_fail("'%s' names a %s video, which is not made here: use .mp4, .mkv, .webm or .gif, or a folder name "
               "for PNG frames", target, target + strlen(target) - strlen(extension));
    if (const char *extension = extension_among(target, PICTURES))
        capture_fail("'%s' names a %s picture: a capture makes a folder of PNG frames (a name without an extension), "
                     "a .gif, or a .mp4, .mkv or .webm video", target, target + strlen(target) - strlen(extension));
    capture_state.video = capture_video_format(target) != nullptr;
    capture_state.gif = has_suffix(target, ".gif");
    if (capture_state.gif) {
        // A GIF has no sound: the audio callback still runs on the clock,
        // as for the other captures, and what it makes is not kept.
        capture_gif_start(target);
        start_recording();
        return 1;
    }
    const int audio_fd = capture_state.video ? capture_start_video(target) : start_frames(target, scale && *scale);
    capture_state.audio_file = fdopen(audio_fd, "wb");
    if (!capture_state.audio_file) {
        const int error = errno;
        close(audio_fd);  // the failure removes a video's files
        capture_fail("cannot write '%s': %s", capture_state.video ? capture_state.output : capture_state.audio_path,
                     strerror(error));
    }
    // Unbuffered: the file holds all that was written, which a stop signal
    // or a failure can then seal with a header that matches.
    setvbuf(capture_state.audio_file, nullptr, _IONBF, 0);
    capture_state.audio_fd = audio_fd;
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, CAPTURE_RATE_HZ, 0);
    if (fwrite(header, 1, sizeof header, capture_state.audio_file) != sizeof header)
        capture_fail("cannot write '%s': %s", capture_state.audio_path, strerror(errno));
    if (capture_state.video) capture_start_encoder();
    start_recording();
    return 1;
}

int capture_audio_open(CaptureAudioCallback callback, void *userdata) {
    if (!capture_state.active) return 0;
    capture_state.audio_callback = callback;
    capture_state.audio_userdata = userdata;
    capture_state.audio_paused = true;
    return 1;
}

int capture_audio_pause(int paused) {
    if (!capture_state.active) return 0;
    capture_state.audio_paused = paused != 0;
    return 1;
}

// DIR mode: writes the framebuffer as the next frame's PNG, named where a
// stop signal finds it until the present is complete.
static void save_frame(void) {
#ifdef __EMSCRIPTEN__
    // No PNG in the browser (web.h): the page keeps the indices, the sound
    // goes to DIR/audio.wav in the page's memory as everywhere.
    web_page_frame(fb_pixels, fb_width, fb_height);
    return;
#endif
    const int next = 1 - capture_state.frame_at;
    snprintf(capture_state.frame_paths[next], sizeof capture_state.frame_paths[next], "%s/frame_%06ld.png",
             capture_state.dir, capture_state.frames_done);
    capture_state.frame_numbers[next] = static_cast<sig_atomic_t>(capture_state.frames_done);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture_state.frame_at = next;
    const char *path = capture_state.frame_paths[next];
    if (fb_save_png(path) != 0)
        capture_fail("stopped: frame %s of '%s' could not be saved", path + strlen(capture_state.dir) + 1,
                     capture_state.dir);
}

static void render_audio_to(long target_frames) {
    static int16_t block[2 * AUDIO_BLOCK_FRAMES];
    while (capture_state.audio_frames < target_frames) {
        const long left = target_frames - capture_state.audio_frames;
        const int n = left < AUDIO_BLOCK_FRAMES ? static_cast<int>(left) : AUDIO_BLOCK_FRAMES;
        if (capture_state.audio_callback && !capture_state.audio_paused)
            capture_state.audio_callback(capture_state.audio_userdata, reinterpret_cast<uint8_t *>(block),
                                         n * WAV_FILE_FRAME_BYTES);
        else
            memset(block, 0, sizeof block);
        if (capture_state.audio_file &&
            wav_file_write_frames(capture_state.audio_file, block, static_cast<size_t>(n)) != 0)
            capture_fail("cannot write '%s': %s", capture_state.video ? capture_state.output : capture_state.audio_path,
                         strerror(errno));
        capture_state.audio_frames += n;
    }
}

void capture_frame(void) {
    if (!capture_state.active || capture_state.frames_done >= capture_state.frames_wanted) return;
    // video_init puts back the handlers it found before SDL's start; a
    // program may install its own later: the capture's goes in front again.
    capture_take_stop_signals();
    if (capture_state.video)
        capture_send_frame_to_encoder();
    else if (capture_state.gif)
        capture_gif_frame(capture_state.frames_done);
    else
        save_frame();
    capture_state.frames_done++;
    engine_clock_advance(FRAME_PERIOD_MS);
    render_audio_to(capture_audio_frames_after(capture_state.frames_done));
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture_state.frames_kept = static_cast<sig_atomic_t>(capture_state.frames_done);
}

void capture_end_when_done(void) {
    if (!capture_state.active || capture_state.frames_done < capture_state.frames_wanted) return;
    exit(complete_files() == 0 ? 0 : 1);
}
