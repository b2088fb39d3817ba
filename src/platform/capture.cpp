// Capture: frames as PNG files or piped to ffmpeg, the audio callback's
// output as a WAV file, all on the virtual clock.
#include "platform/capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/engine_clock.h"
#include "platform/framebuffer.h"
#include "platform/palette.h"
#include "platform/program_args.h"
#include "platform/screenshot.h"
#include "platform/video.h"
#include "music/wav_file.h"

CaptureState capture = {};

// Audio frames per frame period, in tenths: 17 ms x 44.1 frames per ms.
constexpr long AUDIO_TENTH_FRAMES_PER_PRESENT = 7497;
constexpr int AUDIO_BLOCK_FRAMES = 4096;
constexpr int RGB_BYTES = 3;

long capture_audio_frames_after(long presents) {
    return (presents * AUDIO_TENTH_FRAMES_PER_PRESENT + 5) / 10;
}

// One line on standard error, the half-made files removed, status 1.
[[noreturn]] static void capture_fail(const char *format, const char *a, const char *b) {
    fprintf(stderr, "CAPTURE: ");
    fprintf(stderr, format, a, b);
    fputc('\n', stderr);
    capture.active = false;  // the exit-time completion has nothing to do
    if (capture.encoder_input >= 0) close(capture.encoder_input);
    if (capture.encoder > 0) waitpid(capture.encoder, nullptr, 0);
    if (capture.audio_file) fclose(capture.audio_file);
    if (capture.video) {
        unlink(capture.audio_path);
        unlink(capture.video_temp);
    }
    exit(1);
}

static bool has_suffix(const char *text, const char *suffix) {
    const size_t n = strlen(text), m = strlen(suffix);
    return n >= m && strcasecmp(text + n - m, suffix) == 0;
}

// The ffmpeg container name for a video path, or null for a directory.
static const char *video_format(const char *path) {
    if (has_suffix(path, ".mp4")) return "mp4";
    if (has_suffix(path, ".mkv")) return "matroska";
    if (has_suffix(path, ".webm")) return "webm";
    return nullptr;
}

// A whole decimal number in lo .. hi from the environment variable `name`.
static long env_number(const char *name, const char *text, long lo, long hi) {
    long value = 0;
    if (parse_long(text, lo, hi, &value) != 0) {
        fprintf(stderr, "CAPTURE: %s wants a whole number in %ld .. %ld, not '%s'\n", name, lo, hi, text);
        exit(1);
    }
    return value;
}

static bool ffmpeg_on_path(void) {
    const char *path = getenv("PATH");
    if (!path || !*path) path = "/usr/bin:/bin";
    char candidate[PATH_MAX];
    for (const char *p = path;;) {
        const char *colon = strchr(p, ':');
        const size_t n = colon ? (size_t)(colon - p) : strlen(p);
        snprintf(candidate, sizeof candidate, "%.*s/ffmpeg", (int)n, n ? p : ".");
        if (access(candidate, X_OK) == 0) return true;
        if (!colon) return false;
        p = colon + 1;
    }
}

// Runs ffmpeg with `args`, its standard input from `input_fd` (or
// /dev/null when -1). Returns its pid, or -1.
static pid_t spawn_ffmpeg(const char *const *args, int input_fd, int close_in_child) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (input_fd >= 0) {
            dup2(input_fd, 0);
            close(input_fd);
        } else {
            const int null_fd = open("/dev/null", O_RDONLY);
            if (null_fd >= 0) dup2(null_fd, 0);
        }
        if (close_in_child >= 0) close(close_in_child);
        signal(SIGPIPE, SIG_DFL);
        execvp("ffmpeg", const_cast<char *const *>(args));
        _exit(127);
    }
    return pid;
}

// Waits for an ffmpeg run; true when it ended with status 0.
static bool ffmpeg_succeeded(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static void start_encoder(void) {
    const char *format = video_format(capture.output);
    const bool vp9 = strcmp(format, "webm") == 0;
    char size[32];
    snprintf(size, sizeof size, "%dx%d", SCREEN_WIDTH_PX * capture.scale, SCREEN_HEIGHT_PX * capture.scale);
    const char *args[] = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                          "-f", "rawvideo", "-pixel_format", "rgb24", "-video_size", size,
                          "-framerate", "1000/17", "-i", "pipe:0", "-an",
                          "-c:v", vp9 ? "libvpx-vp9" : "libx264",
                          // H.264: near-lossless for hard pixel edges; VP9:
                          // constant quality, fast enough to keep up.
                          vp9 ? "-b:v" : "-preset", vp9 ? "0" : "medium",
                          "-crf", vp9 ? "24" : "16",
                          vp9 ? "-deadline" : "-tune", vp9 ? "good" : "animation",
                          "-pix_fmt", "yuv420p", "-f", format, capture.video_temp, nullptr};
    int fds[2];
    if (pipe(fds) != 0) capture_fail("cannot make a pipe to ffmpeg: %s%s", strerror(errno), "");
    // A write to an encoder that has died is reported, not fatal.
    signal(SIGPIPE, SIG_IGN);
    capture.encoder = spawn_ffmpeg(args, fds[0], fds[1]);
    close(fds[0]);
    capture.encoder_input = fds[1];
    if (capture.encoder < 0) {
        capture.encoder = 0;
        capture_fail("cannot start ffmpeg: %s%s", strerror(errno), "");
    }
}

// Writes the WAV header for the frames written so far; false on failure
// (errno says why).
static bool write_audio_header(void) {
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, CAPTURE_RATE_HZ, capture.audio_frames);
    return fseek(capture.audio_file, 0, SEEK_SET) == 0 &&
           fwrite(header, 1, sizeof header, capture.audio_file) == sizeof header &&
           fseek(capture.audio_file, 0, SEEK_END) == 0;
}

// Joins the finished picture and sound into the video file, through a
// temporary name beside it. 0, or -1 after one line.
static int join_video(void) {
    const char *format = video_format(capture.output);
    const char *audio_codec = strcmp(format, "webm") == 0       ? "libopus"
                              : strcmp(format, "matroska") == 0 ? "flac"
                                                                : "aac";
    char joined[PATH_MAX + 16];
    snprintf(joined, sizeof joined, "%s.part", capture.output);
    const char *args[] = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                          "-i", capture.video_temp, "-i", capture.audio_path,
                          "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", audio_codec,
                          "-b:a", "192k", "-f", format, joined, nullptr};
    const pid_t pid = spawn_ffmpeg(args, -1, -1);
    if (pid < 0 || !ffmpeg_succeeded(pid) || rename(joined, capture.output) != 0) {
        fprintf(stderr, "CAPTURE: ffmpeg could not join picture and sound into '%s'\n", capture.output);
        unlink(joined);
        return -1;
    }
    return 0;
}

// Completes the WAV file and, for a video, ends the picture stream and
// joins picture and sound into the output; the video's temporary files go
// whatever happens. Returns 0, or -1 after one line. Runs at exit too, so
// it never exits itself.
static int complete_files(void) {
    capture.active = false;
    bool audio_ok = write_audio_header();
    audio_ok = fclose(capture.audio_file) == 0 && audio_ok;
    capture.audio_file = nullptr;
    int result = 0;
    if (!audio_ok) {
        fprintf(stderr, "CAPTURE: cannot finish '%s': %s\n", capture.audio_path, strerror(errno));
        result = -1;
    }
    if (!capture.video) return result;
    close(capture.encoder_input);
    capture.encoder_input = -1;
    const bool picture_ok = ffmpeg_succeeded(capture.encoder);
    capture.encoder = 0;
    if (result == 0 && !picture_ok) {
        fprintf(stderr, "CAPTURE: ffmpeg could not encode the frames of '%s'\n", capture.output);
        result = -1;
    }
    if (result == 0) result = join_video();
    unlink(capture.video_temp);
    unlink(capture.audio_path);
    return result;
}

// At exit before N presents (the program ended or was stopped): what was
// captured is completed. exit() cannot be called again from here.
static void complete_at_exit(void) {
    if (capture.active && complete_files() != 0) _exit(1);
}

int capture_start(void) {
    if (capture.checked) return capture.active ? 1 : 0;
    capture.checked = true;
    capture.encoder_input = -1;
    const char *target = getenv("KEVO_CAPTURE");
    if (!target || !*target) return 0;
    const char *frames = getenv("KEVO_CAPTURE_FRAMES");
    if (!frames || !*frames) {
        fprintf(stderr, "CAPTURE: KEVO_CAPTURE needs KEVO_CAPTURE_FRAMES=N, the number of frames to capture\n");
        exit(1);
    }
    capture.frames_wanted = env_number("KEVO_CAPTURE_FRAMES", frames, 1, CAPTURE_MAX_FRAMES);
    const char *scale = getenv("KEVO_CAPTURE_SCALE");
    capture.scale = scale && *scale ? (int)env_number("KEVO_CAPTURE_SCALE", scale, 1, CAPTURE_MAX_SCALE) : 1;
    if (strlen(target) + 32 > PATH_MAX) {
        fprintf(stderr, "CAPTURE: the path in KEVO_CAPTURE is too long\n");
        exit(1);
    }
    capture.video = video_format(target) != nullptr;
    if (capture.video) {
        if (!ffmpeg_on_path()) {
            fprintf(stderr, "CAPTURE: '%s' is made with ffmpeg, which is not installed (not on PATH)\n", target);
            exit(1);
        }
        snprintf(capture.output, sizeof capture.output, "%s", target);
        snprintf(capture.audio_path, sizeof capture.audio_path, "%s.part.wav", target);
        snprintf(capture.video_temp, sizeof capture.video_temp, "%s.part-video", target);
    } else {
        if (scale && *scale && capture.scale != 1) {
            fprintf(stderr, "CAPTURE: KEVO_CAPTURE_SCALE applies to videos; PNG frames are the 400x240 framebuffer\n");
            exit(1);
        }
        snprintf(capture.dir, sizeof capture.dir, "%s", target);
        struct stat st;
        if (stat(capture.dir, &st) != 0 && mkdir(capture.dir, 0777) != 0) {
            fprintf(stderr, "CAPTURE: cannot create the directory '%s': %s\n", capture.dir, strerror(errno));
            exit(1);
        }
        snprintf(capture.audio_path, sizeof capture.audio_path, "%s/audio.wav", capture.dir);
    }
    capture.audio_file = fopen(capture.audio_path, "wb");
    if (!capture.audio_file) {
        fprintf(stderr, "CAPTURE: cannot write '%s': %s\n", capture.video ? capture.output : capture.audio_path,
                strerror(errno));
        exit(1);
    }
    capture.active = true;
    capture.audio_paused = true;
    if (!write_audio_header()) capture_fail("cannot write '%s': %s", capture.audio_path, strerror(errno));
    if (capture.video) start_encoder();
    engine_clock_make_virtual();
    atexit(complete_at_exit);
    return 1;
}

int capture_audio_open(CaptureAudioCallback callback, void *userdata) {
    if (!capture_start()) return 0;
    capture.audio_callback = callback;
    capture.audio_userdata = userdata;
    capture.audio_paused = true;
    return 1;
}

int capture_audio_pause(int paused) {
    if (!capture.active) return 0;
    capture.audio_paused = paused != 0;
    return 1;
}

static void write_all(int fd, const uint8_t *bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) capture_fail("ffmpeg stopped taking frames for '%s': %s", capture.output, strerror(errno));
        bytes += n;
        count -= (size_t)n;
    }
}

// One frame through the palette as RGB rows, each pixel scale x scale.
static void send_frame_to_encoder(void) {
    // The encoder was promised frames of the window's size; a framebuffer
    // that a program resized is cut or padded with black to it, so no row
    // ever runs past the buffer and the stream keeps its frame size.
    static uint8_t row[SCREEN_WIDTH_PX * CAPTURE_MAX_SCALE * RGB_BYTES];
    const int k = capture.scale;
    const size_t row_bytes = (size_t)SCREEN_WIDTH_PX * k * RGB_BYTES;
    for (int y = 0; y < SCREEN_HEIGHT_PX; y++) {
        uint8_t *out = row;
        for (int x = 0; x < SCREEN_WIDTH_PX; x++) {
            const bool inside = x < fb_width && y < fb_height;
            const uint32_t colour = inside ? Palette[fb_pixels[x + y * fb_width]] : 0;
            for (int i = 0; i < k; i++) {
                *out++ = (uint8_t)(colour >> 24);
                *out++ = (uint8_t)(colour >> 16);
                *out++ = (uint8_t)(colour >> 8);
            }
        }
        for (int i = 0; i < k; i++) write_all(capture.encoder_input, row, row_bytes);
    }
}

static void render_audio_to(long target_frames) {
    static int16_t block[2 * AUDIO_BLOCK_FRAMES];
    while (capture.audio_frames < target_frames) {
        const long left = target_frames - capture.audio_frames;
        const int n = left < AUDIO_BLOCK_FRAMES ? (int)left : AUDIO_BLOCK_FRAMES;
        if (capture.audio_callback && !capture.audio_paused)
            capture.audio_callback(capture.audio_userdata, reinterpret_cast<uint8_t *>(block), n * WAV_FILE_FRAME_BYTES);
        else
            memset(block, 0, sizeof block);
        if (wav_file_write_frames(capture.audio_file, block, (size_t)n) != 0)
            capture_fail("cannot write '%s': %s", capture.audio_path, strerror(errno));
        capture.audio_frames += n;
    }
}

void capture_frame(void) {
    if (!capture.active || capture.frames_done >= capture.frames_wanted) return;
    if (capture.video) {
        send_frame_to_encoder();
    } else {
        char path[PATH_MAX + 32];
        snprintf(path, sizeof path, "%s/frame_%06ld.png", capture.dir, capture.frames_done);
        if (fb_save_png(path) != 0) capture_fail("stopped: frame %s of '%s' could not be saved", path + strlen(capture.dir) + 1, capture.dir);
    }
    capture.frames_done++;
    engine_clock_advance(FRAME_PERIOD_MS);
    render_audio_to(capture_audio_frames_after(capture.frames_done));
}

void capture_end_when_done(void) {
    if (!capture.active || capture.frames_done < capture.frames_wanted) return;
    exit(complete_files() == 0 ? 0 : 1);
}
