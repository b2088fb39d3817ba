// Capture: frames as PNG files or piped to ffmpeg, the audio callback's
// output as a WAV file, all on the virtual clock; what a stop signal does
// to a capture.
#include "platform/capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "music/wav_file.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"
#include "platform/program_args.h"
#include "platform/screenshot.h"
#include "platform/video.h"

constexpr int CAPTURE_STOP_SIGNALS = 4;     // SIGINT, SIGQUIT, SIGHUP, SIGTERM
constexpr long CAPTURE_SAME_STOP_MS = 250;  // a stop signal repeated within this is one stop
constexpr long MS_PER_SECOND = 1000;
constexpr int AUDIO_BLOCK_FRAMES = 4096;
constexpr int RGB_BYTES = 3;
constexpr size_t REASON_BYTES = 256;
static const int STOP_SIGNALS[CAPTURE_STOP_SIGNALS] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

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
    bool video;                  // through ffmpeg, else PNG frames in dir
    long frames_wanted;          // N
    long frames_done;            // presents captured so far
    long audio_frames;           // audio frames written so far
    int scale;                   // video pixel size, 1 .. 8
    char dir[PATH_MAX];          // PNG directory (DIR mode)
    char output[PATH_MAX];       // the video file (video mode)
    char ffmpeg[PATH_MAX];       // the ffmpeg found on PATH (video mode)
    char audio_path[PATH_MAX + 32];   // DIR/audio.wav, or the video's temporary WAV
    char video_temp[PATH_MAX + 32];   // the video's picture before the sound joins it
    char joined_temp[PATH_MAX + 32];  // picture and sound, before the rename
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
static CaptureState capture = {};

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

bool capture_active(void) { return capture.active; }

bool capture_decline(void) {
    if (capture.decided) return false;
    capture.decided = true;
    return capture_requested();
}

// ---- What is left behind; every function here is safe in a signal handler.

// Cuts the WAV file to whole frames, at most `most` of them, and writes the
// header for what it then holds, so that the header always matches the
// sound, whatever was or was not written. True when done.
static bool seal_audio(long most) {
    const int fd = capture.audio_fd;
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return false;
    const off_t sound_bytes = st.st_size > WAV_FILE_HEADER_BYTES ? st.st_size - WAV_FILE_HEADER_BYTES : 0;
    long held = (sound_bytes / WAV_FILE_FRAME_BYTES);
    if (held > most) held = most;
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, CAPTURE_RATE_HZ, held);
    return ftruncate(fd, WAV_FILE_HEADER_BYTES + static_cast<off_t>(held) * WAV_FILE_FRAME_BYTES) == 0 &&
           pwrite(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
}

// DIR mode: the frames kept and the sound of exactly those presents; a
// frame written whose present is not complete goes.
static void keep_what_was_made(void) {
    const int at = capture.frame_at;
    if (capture.frame_paths[at][0] && capture.frame_numbers[at] >= capture.frames_kept) unlink(capture.frame_paths[at]);
    seal_audio(capture_audio_frames_after(capture.frames_kept));
}

// Ends an ffmpeg run at once, its process group with it.
static void kill_ffmpeg(volatile sig_atomic_t *slot) {
    const pid_t pid = *slot;
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    *slot = 0;
}

// Video mode: no ffmpeg left running and none of the temporary files.
static void drop_video_files(void) {
    kill_ffmpeg(&capture.encoder);
    kill_ffmpeg(&capture.joiner);
    unlink(capture.video_temp);
    unlink(capture.audio_path);
    unlink(capture.joined_temp);
}

static void write_text(const char *text) {
    size_t left = strlen(text);
    while (left > 0) {
        const ssize_t n = write(2, text, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

void capture_stop_again(void) {
    const int phase = capture.phase;
    if (phase != CAPTURE_RECORDING && phase != CAPTURE_FINISHING) return;
    if (!capture.video) {
        keep_what_was_made();
        _exit(0);
    }
    drop_video_files();
    write_text("CAPTURE: stopped again before '");
    write_text(capture.output);
    write_text("' was finished: no video made\n");
    _exit(1);
}

static int stop_signal_index(int signal_number) {
    for (int i = 0; i < CAPTURE_STOP_SIGNALS; i++)
        if (STOP_SIGNALS[i] == signal_number) return i;
    return -1;
}

// In front of the program's handler: a second stop signal is the
// capture's; every other one is the program's as before. The same signal
// again within CAPTURE_SAME_STOP_MS is the same stop, sent twice: `timeout`
// sends it to the program and then to its whole process group.
static void on_stop_signal(int signal_number, siginfo_t *info, void *context) {
    const int saved_errno = errno;
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long now_ms = static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    if (signal_number == capture.last_stop_signal && now_ms - capture.last_stop_ms < CAPTURE_SAME_STOP_MS) {
        errno = saved_errno;
        return;
    }
    capture.last_stop_signal = signal_number;
    capture.last_stop_ms = now_ms;
    if (capture.stops_seen > 0) capture_stop_again();
    capture.stops_seen = capture.stops_seen + 1;
    const int i = stop_signal_index(signal_number);
    if (i >= 0) {
        const struct sigaction *program = &capture.program_actions[i];
        if (program->sa_flags & SA_SIGINFO)
            program->sa_sigaction(signal_number, info, context);
        else if (program->sa_handler != SIG_DFL && program->sa_handler != SIG_IGN)
            program->sa_handler(signal_number);
    }
    errno = saved_errno;
}

static void stop_signal_set(sigset_t *set) {
    sigemptyset(set);
    for (int signal_number : STOP_SIGNALS) sigaddset(set, signal_number);
}

// ---- Ordinary code from here on.

// Puts on_stop_signal in front of each stop signal that has a handler of
// the program's (an ignored or default one is left as it is).
static void take_stop_signals(void) {
    for (int i = 0; i < CAPTURE_STOP_SIGNALS; i++) {
        struct sigaction now;
        if (sigaction(STOP_SIGNALS[i], nullptr, &now) != 0) continue;
        if ((now.sa_flags & SA_SIGINFO) && now.sa_sigaction == on_stop_signal) continue;
        if (!(now.sa_flags & SA_SIGINFO) && (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN)) continue;
        capture.program_actions[i] = now;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        struct sigaction mine = {};
        mine.sa_sigaction = on_stop_signal;
        mine.sa_flags = SA_SIGINFO | (now.sa_flags & SA_RESTART);
        // One stop signal at a time: the count and the handlers do not nest.
        stop_signal_set(&mine.sa_mask);
        sigaction(STOP_SIGNALS[i], &mine, nullptr);
    }
}

// Blocks the stop signals (their previous mask in *old, when not null).
static void block_stop_signals(sigset_t *old) {
    sigset_t stops;
    stop_signal_set(&stops);
    sigprocmask(SIG_BLOCK, &stops, old);
}

static void restore_signal_mask(const sigset_t *old) { sigprocmask(SIG_SETMASK, old, nullptr); }

// The one way a capture fails: one "CAPTURE: ..." line on standard error,
// then whatever was made so far left as a failure leaves it (a video's
// files all gone; DIR mode's complete for the presents made; before
// anything was made, nothing), status 1. A stop signal can no longer change
// that.
[[noreturn]] __attribute__((format(printf, 1, 2))) static void capture_fail(const char *format, ...) {
    block_stop_signals(nullptr);
    capture.active = false;
    capture.phase = CAPTURE_OFF;  // the exit-time completion has nothing to do
    va_list args;
    va_start(args, format);
    failure_line_v("CAPTURE", format, args);
    va_end(args);
    if (capture.encoder_input >= 0) close(capture.encoder_input);
    capture.encoder_input = -1;
    if (capture.video)
        drop_video_files();
    else
        keep_what_was_made();
    if (capture.audio_file) {
        capture.audio_fd = -1;
        fclose(capture.audio_file);
        capture.audio_file = nullptr;
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

// The extension when `path` names a video or animation of a kind not made
// here, else null.
static const char *unmade_video_extension(const char *path) {
    static const char *const EXTENSIONS[] = {".mov", ".avi", ".gif", ".apng", ".webp", ".m4v", ".mpg", ".mpeg",
                                             ".ogv", ".flv", ".wmv", ".3gp", ".y4m", ".mjpeg"};
    for (const char *extension : EXTENSIONS)
        if (has_suffix(path, extension)) return extension;
    return nullptr;
}

// A whole decimal number in lo .. hi from the environment variable `name`.
static long env_number(const char *name, const char *text, long lo, long hi) {
    long value = 0;
    if (parse_long(text, lo, hi, &value) != 0)
        capture_fail("%s wants a whole number in %ld .. %ld, not '%s'", name, lo, hi, text);
    return value;
}

// The first executable regular file named ffmpeg in PATH's folders, in
// capture.ffmpeg; false when there is none.
static bool find_ffmpeg(void) {
    const char *path = getenv("PATH");
    if (!path || !*path) path = "/usr/bin:/bin";
    for (const char *p = path;;) {
        const char *colon = strchr(p, ':');
        const size_t n = colon ? static_cast<size_t>(colon - p) : strlen(p);
        snprintf(capture.ffmpeg, sizeof capture.ffmpeg, "%.*s/ffmpeg", static_cast<int>(n), n ? p : ".");
        struct stat st;
        if (stat(capture.ffmpeg, &st) == 0 && S_ISREG(st.st_mode) && access(capture.ffmpeg, X_OK) == 0) return true;
        if (!colon) return false;
        p = colon + 1;
    }
}

// Runs ffmpeg with `args`, its standard input from `input_fd` (or
// /dev/null when -1) and its standard error into capture.ffmpeg_errors;
// its pid goes into *slot before a stop signal can see the child. In a
// process group of its own, so that the terminal's Ctrl-C reaches only the
// program (which then finishes the video), and killed should the program
// die. Returns its pid, or -1.
static pid_t spawn_ffmpeg(const char *const *args, int input_fd, volatile sig_atomic_t *slot) {
    sigset_t old;
    block_stop_signals(&old);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        for (int signal_number : STOP_SIGNALS) {
            struct sigaction now;
            if (sigaction(signal_number, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
                signal(signal_number, SIG_DFL);
        }
        signal(SIGPIPE, SIG_DFL);
        restore_signal_mask(&old);
        const int in = input_fd >= 0 ? input_fd : open("/dev/null", O_RDONLY);
        if (in >= 0 && in != 0) dup2(in, 0);
        if (capture.ffmpeg_errors >= 0) dup2(capture.ffmpeg_errors, 2);
        execv(capture.ffmpeg, const_cast<char *const *>(args));
        const char *why = strerror(errno);
        write_text("cannot run ");
        write_text(capture.ffmpeg);
        write_text(": ");
        write_text(why);
        write_text("\n");
        _exit(127);
    }
    if (pid > 0) {
        setpgid(pid, pid);
        *slot = pid;
    }
    restore_signal_mask(&old);
    return pid;
}

// Waits for the ffmpeg in *slot to end and returns its wait status; the
// slot is emptied as it is reaped, so a stop signal never kills a pid
// that another process may have taken since.
static int wait_ffmpeg(volatile sig_atomic_t *slot) {
    const pid_t pid = *slot;
    siginfo_t info;
    bool ended = true;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno == EINTR) continue;
        ended = false;
        break;
    }
    sigset_t old;
    block_stop_signals(&old);
    int status = -1;
    if (ended && waitpid(pid, &status, 0) != pid) status = -1;
    *slot = 0;
    restore_signal_mask(&old);
    return status;
}

// The last line ffmpeg wrote on its standard error, its control
// characters made '?', in `out`; false when it wrote none.
static bool ffmpeg_last_line(char *out, size_t size) {
    struct stat st;
    if (capture.ffmpeg_errors < 0 || fstat(capture.ffmpeg_errors, &st) != 0 || st.st_size == 0) return false;
    char text[4096];
    const off_t from = st.st_size > static_cast<off_t>(sizeof text) ? st.st_size - static_cast<off_t>(sizeof text) : 0;
    const ssize_t got = pread(capture.ffmpeg_errors, text, sizeof text, from);
    if (got <= 0) return false;
    size_t end = static_cast<size_t>(got);
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) end--;
    size_t start = end;
    while (start > 0 && text[start - 1] != '\n' && text[start - 1] != '\r') start--;
    if (start == end) return false;
    size_t n = 0;
    for (size_t i = start; i < end && n + 1 < size; i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out[n++] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    out[n] = '\0';
    return true;
}

// Waits for the ffmpeg in *slot; true when it ended with status 0.
// Otherwise `reason` says why: ffmpeg's own last line, or how it ended.
static bool ffmpeg_succeeded(volatile sig_atomic_t *slot, char *reason, size_t size) {
    const int status = wait_ffmpeg(slot);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (ffmpeg_last_line(reason, size)) return false;
    if (status != -1 && WIFSIGNALED(status))
        snprintf(reason, size, "it was ended by signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
    else
        snprintf(reason, size, "it ended with status %d", status == -1 ? -1 : WEXITSTATUS(status));
    return false;
}

// Empties the record of ffmpeg's standard error before another run.
static void forget_ffmpeg_errors(void) {
    if (capture.ffmpeg_errors < 0) return;
    if (ftruncate(capture.ffmpeg_errors, 0) == 0) lseek(capture.ffmpeg_errors, 0, SEEK_SET);
}

static void start_encoder(void) {
    const char *format = video_format(capture.output);
    const bool vp9 = strcmp(format, "webm") == 0;
    char size[32];
    snprintf(size, sizeof size, "%dx%d", SCREEN_WIDTH_PX * capture.scale, SCREEN_HEIGHT_PX * capture.scale);
    // One frame a frame period: 1000/17 frames per second.
    char rate[32];
    snprintf(rate, sizeof rate, "%ld/%u", MS_PER_SECOND, static_cast<unsigned>(FRAME_PERIOD_MS));
    // "file:" keeps a name such as "12:30.mp4" or "-i x.mp4" a plain file.
    char output[PATH_MAX + 40];
    snprintf(output, sizeof output, "file:%s", capture.video_temp);
    const char *args[] = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                          "-f", "rawvideo", "-pixel_format", "rgb24", "-video_size", size,
                          "-framerate", rate, "-i", "pipe:0", "-an",
                          "-c:v", vp9 ? "libvpx-vp9" : "libx264",
                          // H.264: near-lossless for hard pixel edges; VP9:
                          // constant quality, fast enough to keep up.
                          vp9 ? "-b:v" : "-preset", vp9 ? "0" : "medium",
                          "-crf", vp9 ? "24" : "16",
                          vp9 ? "-deadline" : "-tune", vp9 ? "good" : "animation",
                          "-pix_fmt", "yuv420p", "-f", format, output, nullptr};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) capture_fail("cannot make a pipe to ffmpeg: %s", strerror(errno));
    // A write to an encoder that has died is reported, not fatal.
    signal(SIGPIPE, SIG_IGN);
    capture.encoder_input = fds[1];
    const pid_t pid = spawn_ffmpeg(args, fds[0], &capture.encoder);
    close(fds[0]);
    if (pid < 0) capture_fail("cannot start ffmpeg: %s", strerror(errno));
}

// Joins the finished picture and sound into the video file, through the
// temporary name beside it, and puts it in place. 0, or -1 after one line.
static int join_video(void) {
    const char *format = video_format(capture.output);
    const char *audio_codec = strcmp(format, "webm") == 0       ? "libopus"
                              : strcmp(format, "matroska") == 0 ? "flac"
                                                                : "aac";
    char picture[PATH_MAX + 40], sound[PATH_MAX + 40], joined[PATH_MAX + 40];
    snprintf(picture, sizeof picture, "file:%s", capture.video_temp);
    snprintf(sound, sizeof sound, "file:%s", capture.audio_path);
    snprintf(joined, sizeof joined, "file:%s", capture.joined_temp);
    const char *args[] = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                          "-i", picture, "-f", "wav", "-i", sound,
                          "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", audio_codec,
                          "-b:a", "192k", "-f", format, joined, nullptr};
    forget_ffmpeg_errors();
    char reason[REASON_BYTES];
    const pid_t pid = spawn_ffmpeg(args, -1, &capture.joiner);
    if (pid < 0) snprintf(reason, sizeof reason, "%s", strerror(errno));
    if (pid < 0 || !ffmpeg_succeeded(&capture.joiner, reason, sizeof reason)) {
        failure_line("CAPTURE", "ffmpeg could not join picture and sound into '%s': %s", capture.output, reason);
        return -1;
    }
    unlink(capture.video_temp);
    unlink(capture.audio_path);
    // The video is in place and the capture finished, together: a stop
    // signal sees either no video or the whole one.
    sigset_t old;
    block_stop_signals(&old);
    const bool placed = rename(capture.joined_temp, capture.output) == 0;
    const int rename_errno = errno;
    if (placed) capture.phase = CAPTURE_FINISHED;
    restore_signal_mask(&old);
    if (!placed) {
        failure_line("CAPTURE", "cannot put the video in place as '%s': %s", capture.output, strerror(rename_errno));
        return -1;
    }
    return 0;
}

// Completes the WAV file and, for a video, ends the picture stream and
// joins picture and sound into the output; the video's temporary files go
// whatever happens. Returns 0, or -1 after one line (and then a stop
// signal no longer acts). Runs at exit too, so it never exits itself.
static int complete_files(void) {
    capture.active = false;
    capture.phase = CAPTURE_FINISHING;
    int result = 0;
    if (!seal_audio(capture.audio_frames)) {
        failure_line("CAPTURE", "cannot finish '%s': %s", capture.audio_path, strerror(errno));
        result = -1;
    }
    capture.audio_fd = -1;
    fclose(capture.audio_file);
    capture.audio_file = nullptr;
    if (capture.video) {
        close(capture.encoder_input);
        capture.encoder_input = -1;
        char reason[REASON_BYTES];
        if (!ffmpeg_succeeded(&capture.encoder, reason, sizeof reason) && result == 0) {
            failure_line("CAPTURE", "ffmpeg could not encode the frames of '%s': %s", capture.output, reason);
            result = -1;
        }
        if (result == 0) result = join_video();
    }
    if (result != 0) {
        block_stop_signals(nullptr);
        capture.phase = CAPTURE_OFF;
        if (capture.video) drop_video_files();
    } else {
        capture.phase = CAPTURE_FINISHED;
    }
    return result;
}

// At exit before N presents (the program ended or was stopped): what was
// captured is completed. exit() cannot be called again from here.
static void complete_at_exit(void) {
    if (capture.active && complete_files() != 0) _exit(1);
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

// Video mode: a new empty file beside the video, named after it and
// `kind`, in `path`. Its descriptor, or -1 (errno says why).
static int make_temp_file(const char *kind, char *path, size_t size) {
    snprintf(path, size, "%s.%s-XXXXXX", capture.output, kind);
    const int fd = mkostemp(path, O_CLOEXEC);
    // A name that was not made is no name of ours: nothing removes it.
    if (fd < 0) path[0] = '\0';
    return fd;
}

// Video mode: finds ffmpeg, checks the name and makes the temporary files;
// the WAV's descriptor, or exits after one line.
static int start_video(const char *target) {
    if (!find_ffmpeg())
        capture_fail("'%s' is made with ffmpeg, which is not installed (no executable ffmpeg on PATH)", target);
    snprintf(capture.output, sizeof capture.output, "%s", target);
    struct stat st;
    if (stat(capture.output, &st) == 0 && S_ISDIR(st.st_mode))
        capture_fail("'%s' is a folder; the video needs a file name", target);
    const int audio_fd = make_temp_file("audio", capture.audio_path, sizeof capture.audio_path);
    const int video_fd = audio_fd < 0 ? -1 : make_temp_file("video", capture.video_temp, sizeof capture.video_temp);
    const int joined_fd = video_fd < 0 ? -1 : make_temp_file("join", capture.joined_temp, sizeof capture.joined_temp);
    if (joined_fd < 0) {
        const int error = errno;
        // The failure removes the files that were made.
        if (audio_fd >= 0) close(audio_fd);
        if (video_fd >= 0) close(video_fd);
        capture_fail("cannot write '%s': %s", target, strerror(error));
    }
    // The video gets the permissions a new file would have.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(joined_fd, 0666 & ~mask);
    close(video_fd);
    close(joined_fd);
    capture.ffmpeg_errors = memfd_create("ffmpeg-errors", MFD_CLOEXEC);
    return audio_fd;
}

// DIR mode: makes or checks the folder; the WAV's descriptor, or exits
// after one line.
static int start_frames(const char *target, bool scale_given) {
    if (scale_given && capture.scale != 1)
        capture_fail("KEVO_CAPTURE_SCALE applies to videos; PNG frames are the 400x240 framebuffer");
    snprintf(capture.dir, sizeof capture.dir, "%s", target);
    struct stat st;
    if (stat(capture.dir, &st) != 0 && mkdir(capture.dir, 0777) != 0)
        capture_fail("cannot create the directory '%s': %s", capture.dir, strerror(errno));
    char found[256];
    if (holds_capture_files(capture.dir, found, sizeof found))
        capture_fail("'%s' already holds a capture (%s); capture into an empty or new folder", capture.dir, found);
    snprintf(capture.audio_path, sizeof capture.audio_path, "%s/audio.wav", capture.dir);
    const int fd = open(capture.audio_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) capture_fail("cannot write '%s': %s", capture.audio_path, strerror(errno));
    return fd;
}

int capture_start(void) {
    if (capture.decided) return capture.active ? 1 : 0;
    capture.decided = true;
    capture.encoder_input = -1;
    capture.audio_fd = -1;
    capture.ffmpeg_errors = -1;
    if (!capture_requested()) return 0;
    const char *target = getenv("KEVO_CAPTURE");
    const char *frames = getenv("KEVO_CAPTURE_FRAMES");
    if (!frames || !*frames)
        capture_fail("KEVO_CAPTURE needs KEVO_CAPTURE_FRAMES=N, the number of frames to capture");
    capture.frames_wanted = env_number("KEVO_CAPTURE_FRAMES", frames, 1, CAPTURE_MAX_FRAMES);
    const char *scale = getenv("KEVO_CAPTURE_SCALE");
    capture.scale = scale && *scale ? static_cast<int>(env_number("KEVO_CAPTURE_SCALE", scale, 1, CAPTURE_MAX_SCALE)) : 1;
    if (strlen(target) + 32 > PATH_MAX) capture_fail("the path in KEVO_CAPTURE is too long");
    if (const char *extension = unmade_video_extension(target))
        capture_fail("'%s' names a %s video, which is not made here: use .mp4, .mkv or .webm, or a folder name for PNG "
               "frames", target, target + strlen(target) - strlen(extension));
    capture.video = video_format(target) != nullptr;
    const int audio_fd = capture.video ? start_video(target) : start_frames(target, scale && *scale);
    capture.audio_file = fdopen(audio_fd, "wb");
    if (!capture.audio_file) {
        const int error = errno;
        close(audio_fd);  // the failure removes a video's files
        capture_fail("cannot write '%s': %s", capture.video ? capture.output : capture.audio_path, strerror(error));
    }
    // Unbuffered: the file holds all that was written, which a stop signal
    // or a failure can then seal with a header that matches.
    setvbuf(capture.audio_file, nullptr, _IONBF, 0);
    capture.audio_fd = audio_fd;
    capture.active = true;
    capture.phase = CAPTURE_RECORDING;
    capture.audio_paused = true;
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, CAPTURE_RATE_HZ, 0);
    if (fwrite(header, 1, sizeof header, capture.audio_file) != sizeof header)
        capture_fail("cannot write '%s': %s", capture.audio_path, strerror(errno));
    if (capture.video) start_encoder();
    engine_clock_make_virtual();
    atexit(complete_at_exit);
    // A stop signal that came before counts as the first.
    capture.stops_seen = exit_requested() ? 1 : 0;
    take_stop_signals();
    return 1;
}

int capture_audio_open(CaptureAudioCallback callback, void *userdata) {
    if (!capture.active) return 0;
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
        if (n <= 0) {
            char reason[REASON_BYTES];
            snprintf(reason, sizeof reason, "%s", strerror(errno));
            if (errno == EPIPE) {
                // It stopped reading: it has ended, or is ending, and says why.
                close(capture.encoder_input);
                capture.encoder_input = -1;
                ffmpeg_succeeded(&capture.encoder, reason, sizeof reason);
            }
            capture_fail("ffmpeg stopped taking frames for '%s': %s", capture.output, reason);
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

// One frame through the palette as RGB rows, each pixel scale x scale.
static void send_frame_to_encoder(void) {
    // The encoder was promised frames of the window's size; a framebuffer
    // that a program resized is cut or padded with black to it, so no row
    // ever runs past the buffer and the stream keeps its frame size.
    static uint8_t row[SCREEN_WIDTH_PX * CAPTURE_MAX_SCALE * RGB_BYTES];
    const int k = capture.scale;
    const size_t row_bytes = static_cast<size_t>(SCREEN_WIDTH_PX) * k * RGB_BYTES;
    for (int y = 0; y < SCREEN_HEIGHT_PX; y++) {
        uint8_t *out = row;
        for (int x = 0; x < SCREEN_WIDTH_PX; x++) {
            const bool inside = x < fb_width && y < fb_height;
            const uint32_t color = inside ? Palette[fb_pixels[x + y * fb_width]] : 0;
            for (int i = 0; i < k; i++) {
                *out++ = static_cast<uint8_t>(color >> 24);
                *out++ = static_cast<uint8_t>(color >> 16);
                *out++ = static_cast<uint8_t>(color >> 8);
            }
        }
        for (int i = 0; i < k; i++) write_all(capture.encoder_input, row, row_bytes);
    }
}

// DIR mode: writes the framebuffer as the next frame's PNG, named where a
// stop signal finds it until the present is complete.
static void save_frame(void) {
    const int next = 1 - capture.frame_at;
    snprintf(capture.frame_paths[next], sizeof capture.frame_paths[next], "%s/frame_%06ld.png", capture.dir,
             capture.frames_done);
    capture.frame_numbers[next] = static_cast<sig_atomic_t>(capture.frames_done);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture.frame_at = next;
    const char *path = capture.frame_paths[next];
    if (fb_save_png(path) != 0)
        capture_fail("stopped: frame %s of '%s' could not be saved", path + strlen(capture.dir) + 1, capture.dir);
}

static void render_audio_to(long target_frames) {
    static int16_t block[2 * AUDIO_BLOCK_FRAMES];
    while (capture.audio_frames < target_frames) {
        const long left = target_frames - capture.audio_frames;
        const int n = left < AUDIO_BLOCK_FRAMES ? static_cast<int>(left) : AUDIO_BLOCK_FRAMES;
        if (capture.audio_callback && !capture.audio_paused)
            capture.audio_callback(capture.audio_userdata, reinterpret_cast<uint8_t *>(block), n * WAV_FILE_FRAME_BYTES);
        else
            memset(block, 0, sizeof block);
        if (wav_file_write_frames(capture.audio_file, block, static_cast<size_t>(n)) != 0)
            capture_fail("cannot write '%s': %s", capture.audio_path, strerror(errno));
        capture.audio_frames += n;
    }
}

void capture_frame(void) {
    if (!capture.active || capture.frames_done >= capture.frames_wanted) return;
    // video_init puts back the handlers it found before SDL's start; a
    // program may install its own later: the capture's goes in front again.
    take_stop_signals();
    if (capture.video)
        send_frame_to_encoder();
    else
        save_frame();
    capture.frames_done++;
    engine_clock_advance(FRAME_PERIOD_MS);
    render_audio_to(capture_audio_frames_after(capture.frames_done));
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture.frames_kept = static_cast<sig_atomic_t>(capture.frames_done);
}

void capture_end_when_done(void) {
    if (!capture.active || capture.frames_done < capture.frames_wanted) return;
    exit(complete_files() == 0 ? 0 : 1);
}
