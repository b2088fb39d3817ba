// The capture as a video through ffmpeg: finding ffmpeg, the video's
// temporary files beside it, the encoder taking raw RGB frames, the run
// joining picture and sound, what ffmpeg said when one fails, and the video
// put in place whole (or, after a stop or a failure, none of it).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>  // the parent-death signal
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/capture_internal.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"

// The ffmpeg container name for a video path, or null for a directory.
static const char *video_format(const char *path) {
    if (has_suffix(path, ".mp4")) return "mp4";
    if (has_suffix(path, ".mkv")) return "matroska";
    if (has_suffix(path, ".webm")) return "webm";
    return nullptr;
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

// No ffmpeg left running and none of the temporary files. Safe in a
// signal handler.
static void video_drop(void) {
    kill_ffmpeg(&capture_state.encoder);
    kill_ffmpeg(&capture_state.joiner);
    unlink(capture_state.video_temp);
    unlink(capture_state.audio_path);
    unlink(capture_state.joined_temp);
}

// The first executable regular file named ffmpeg in PATH's folders, in
// capture_state.ffmpeg; false when there is none.
static bool find_ffmpeg(void) {
    const char *path = getenv("PATH");
    if (!path || !*path) path = "/usr/bin:/bin";
    for (const char *p = path;;) {
        const char *colon = strchr(p, ':');
        const size_t n = colon ? static_cast<size_t>(colon - p) : strlen(p);
        snprintf(capture_state.ffmpeg, sizeof capture_state.ffmpeg, "%.*s/ffmpeg", static_cast<int>(n), n ? p : ".");
        struct stat st;
        if (stat(capture_state.ffmpeg, &st) == 0 && S_ISREG(st.st_mode) && access(capture_state.ffmpeg, X_OK) == 0)
            return true;
        if (!colon) return false;
        p = colon + 1;
    }
}

// Runs ffmpeg with `args`, its standard input from `input_fd` (or
// /dev/null when -1) and its standard error into capture_state.ffmpeg_errors;
// its pid goes into *slot before a stop signal can see the child. In a
// process group of its own, so that the terminal's Ctrl-C reaches only the
// program (which then finishes the video), and killed should the program
// die. Returns its pid, or -1.
static pid_t spawn_ffmpeg(const char *const *args, int input_fd, volatile sig_atomic_t *slot) {
    sigset_t old;
    exit_signals_block(&old);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        for (int signal_number : exit_stop_signals) {
            struct sigaction now;
            if (sigaction(signal_number, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
                signal(signal_number, SIG_DFL);
        }
        signal(SIGPIPE, SIG_DFL);
        exit_signals_restore_mask(&old);
        const int in = input_fd >= 0 ? input_fd : open("/dev/null", O_RDONLY);
        if (in >= 0 && in != 0) dup2(in, 0);
        if (capture_state.ffmpeg_errors >= 0) dup2(capture_state.ffmpeg_errors, 2);
        execv(capture_state.ffmpeg, const_cast<char *const *>(args));
        const char *why = strerror(errno);
        capture_write_text("cannot run ");
        capture_write_text(capture_state.ffmpeg);
        capture_write_text(": ");
        capture_write_text(why);
        capture_write_text("\n");
        _exit(127);
    }
    if (pid > 0) {
        setpgid(pid, pid);
        *slot = pid;
    }
    exit_signals_restore_mask(&old);
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
    exit_signals_block(&old);
    int status = -1;
    if (ended && waitpid(pid, &status, 0) != pid) status = -1;
    *slot = 0;
    exit_signals_restore_mask(&old);
    return status;
}

// The last line ffmpeg wrote on its standard error, its control
// characters made '?', in `out`; false when it wrote none.
static bool ffmpeg_last_line(char *out, size_t size) {
    struct stat st;
    if (capture_state.ffmpeg_errors < 0 || fstat(capture_state.ffmpeg_errors, &st) != 0 || st.st_size == 0)
        return false;
    char text[4096];
    const off_t from = st.st_size > static_cast<off_t>(sizeof text) ? st.st_size - static_cast<off_t>(sizeof text) : 0;
    const ssize_t got = pread(capture_state.ffmpeg_errors, text, sizeof text, from);
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
    if (capture_state.ffmpeg_errors < 0) return;
    if (ftruncate(capture_state.ffmpeg_errors, 0) == 0) lseek(capture_state.ffmpeg_errors, 0, SEEK_SET);
}

// Starts the ffmpeg that takes the frames as raw RGB on its standard input.
static void start_encoder(void) {
    const char *format = video_format(capture_state.output);
    const bool vp9 = strcmp(format, "webm") == 0;
    char size[32];
    snprintf(size, sizeof size, "%dx%d", SCREEN_WIDTH_PX * capture_state.scale, SCREEN_HEIGHT_PX * capture_state.scale);
    // One frame a frame period: 1000/17 frames per second.
    char rate[32];
    snprintf(rate, sizeof rate, "%ld/%u", MS_PER_SECOND, static_cast<unsigned>(FRAME_PERIOD_MS));
    // "file:" keeps a name such as "12:30.mp4" or "-i x.mp4" a plain file.
    char output[PATH_MAX + 40];
    snprintf(output, sizeof output, "file:%s", capture_state.video_temp);
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
    capture_state.encoder_input = fds[1];
    const pid_t pid = spawn_ffmpeg(args, fds[0], &capture_state.encoder);
    close(fds[0]);
    if (pid < 0) capture_fail("cannot start ffmpeg: %s", strerror(errno));
}

// Joins the finished picture and sound into the video file, through the
// temporary name beside it, and puts it in place. 0, or -1 after one line.
static int join_video(void) {
    const char *format = video_format(capture_state.output);
    const char *audio_codec = strcmp(format, "webm") == 0       ? "libopus"
                              : strcmp(format, "matroska") == 0 ? "flac"
                                                                : "aac";
    char picture[PATH_MAX + 40], sound[PATH_MAX + 40], joined[PATH_MAX + 40];
    snprintf(picture, sizeof picture, "file:%s", capture_state.video_temp);
    snprintf(sound, sizeof sound, "file:%s", capture_state.audio_path);
    snprintf(joined, sizeof joined, "file:%s", capture_state.joined_temp);
    const char *args[] = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                          "-i", picture, "-f", "wav", "-i", sound,
                          "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", audio_codec,
                          "-b:a", "192k", "-f", format, joined, nullptr};
    forget_ffmpeg_errors();
    char reason[REASON_BYTES];
    const pid_t pid = spawn_ffmpeg(args, -1, &capture_state.joiner);
    if (pid < 0) snprintf(reason, sizeof reason, "%s", strerror(errno));
    if (pid < 0 || !ffmpeg_succeeded(&capture_state.joiner, reason, sizeof reason)) {
        failure_line("CAPTURE", "ffmpeg could not join picture and sound into '%s': %s", capture_state.output, reason);
        return -1;
    }
    unlink(capture_state.video_temp);
    unlink(capture_state.audio_path);
    // The video is in place and the capture finished, together: a stop
    // signal sees either no video or the whole one.
    sigset_t old;
    exit_signals_block(&old);
    const bool placed = rename(capture_state.joined_temp, capture_state.output) == 0;
    const int rename_errno = errno;
    if (placed) capture_state.phase = CAPTURE_FINISHED;
    exit_signals_restore_mask(&old);
    if (!placed) {
        failure_line("CAPTURE", "cannot put the video in place as '%s': %s", capture_state.output,
                     strerror(rename_errno));
        return -1;
    }
    return 0;
}

// Finds ffmpeg, checks the name, makes the temporary files and starts the
// encoder; the WAV's descriptor, or exits after one line.
static int video_start(const char *target) {
    if (!find_ffmpeg())
        capture_fail("'%s' is made with ffmpeg, which is not installed (no executable ffmpeg on PATH)", target);
    snprintf(capture_state.output, sizeof capture_state.output, "%s", target);
    struct stat st;
    if (stat(capture_state.output, &st) == 0 && S_ISDIR(st.st_mode))
        capture_fail("'%s' is a folder; the video needs a file name", target);
    const int audio_fd = capture_make_temp_file("audio", capture_state.audio_path, sizeof capture_state.audio_path);
    const int video_fd =
        audio_fd < 0 ? -1 : capture_make_temp_file("video", capture_state.video_temp, sizeof capture_state.video_temp);
    const int joined_fd =
        video_fd < 0 ? -1 : capture_make_temp_file("join", capture_state.joined_temp, sizeof capture_state.joined_temp);
    if (joined_fd < 0) {
        const int error = errno;
        // The failure removes the files that were made.
        if (audio_fd >= 0) close(audio_fd);
        if (video_fd >= 0) close(video_fd);
        capture_fail("cannot write '%s': %s", target, strerror(error));
    }
    close(video_fd);
    close(joined_fd);
    capture_state.ffmpeg_errors = memfd_create("ffmpeg-errors", MFD_CLOEXEC);
    start_encoder();
    return audio_fd;
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
                close(capture_state.encoder_input);
                capture_state.encoder_input = -1;
                ffmpeg_succeeded(&capture_state.encoder, reason, sizeof reason);
            }
            capture_fail("ffmpeg stopped taking frames for '%s': %s", capture_state.output, reason);
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

// One frame through the palette as RGB rows, each pixel scale x scale.
static void video_frame(long number) {
    (void)number;
    // The encoder was promised frames of the window's size; a framebuffer
    // that a program resized is cut or padded with black to it, so no row
    // ever runs past the buffer and the stream keeps its frame size.
    static uint8_t row[SCREEN_WIDTH_PX * CAPTURE_MAX_SCALE * RGB_BYTES];
    const int k = capture_state.scale;
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
        for (int i = 0; i < k; i++) write_all(capture_state.encoder_input, row, row_bytes);
    }
}

// Ends the picture stream, waits for the encoder, then joins picture and
// sound and puts the video in place.
static int video_finish(void) {
    close(capture_state.encoder_input);
    capture_state.encoder_input = -1;
    char reason[REASON_BYTES];
    if (!ffmpeg_succeeded(&capture_state.encoder, reason, sizeof reason)) {
        failure_line("CAPTURE", "ffmpeg could not encode the frames of '%s': %s", capture_state.output, reason);
        return -1;
    }
    return join_video();
}

// A video is whole or it is nothing: what a stop or a failure leaves is
// none of its files.
static bool video_keep(void) {
    video_drop();
    return false;
}

const CaptureWriter capture_video_writer = {"video", video_start, video_frame, video_finish, video_keep, video_drop};
