// What a stop signal does to a capture: the capture's handler in front of
// the program's, a second stop ending the capture, and what is left behind
// then (or after a failure): a DIR's frames and WAV complete for the
// presents made.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "music/wav_file.h"
#include "platform/capture.h"
#include "platform/capture_internal.h"
#include "util/file_replace.h"

// ---- What is left behind; every function here is safe in a signal handler.

// Cuts the WAV file to whole frames, at most `most` of them, and writes the
// header for what it then holds, so that the header always matches the
// sound, whatever was or was not written. True when done.
bool capture_seal_audio(long most) {
    const int fd = capture_state.audio_fd;
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
void capture_keep_what_was_made(void) {
    const int at = capture_state.frame_at;
    if (capture_state.frame_paths[at][0] && capture_state.frame_numbers[at] >= capture_state.frames_kept)
        unlink(capture_state.frame_paths[at]);
    capture_seal_audio(capture_audio_frames_after(capture_state.frames_kept));
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

void capture_stop_again(void) {
    const int phase = capture_state.phase;
    if (phase != CAPTURE_RECORDING && phase != CAPTURE_FINISHING) return;
    file_replace_remove_pending();  // a frame half written
    if (capture_state.gif) {
        if (capture_gif_keep_what_was_made()) _exit(0);
        capture_write_text("CAPTURE: stopped again before '");
        capture_write_text(capture_state.output);
        capture_write_text("' was finished: no GIF made\n");
        _exit(1);
    }
    if (!capture_state.video) {
        capture_keep_what_was_made();
        _exit(0);
    }
    capture_drop_video_files();
    capture_write_text("CAPTURE: stopped again before '");
    capture_write_text(capture_state.output);
    capture_write_text("' was finished: no video made\n");
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
    if (signal_number == capture_state.last_stop_signal && now_ms - capture_state.last_stop_ms < CAPTURE_SAME_STOP_MS) {
        errno = saved_errno;
        return;
    }
    capture_state.last_stop_signal = signal_number;
    capture_state.last_stop_ms = now_ms;
    if (capture_state.stops_seen > 0) capture_stop_again();
    capture_state.stops_seen = capture_state.stops_seen + 1;
    const int i = stop_signal_index(signal_number);
    if (i >= 0) {
        const struct sigaction *program = &capture_state.program_actions[i];
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
void capture_take_stop_signals(void) {
    for (int i = 0; i < CAPTURE_STOP_SIGNALS; i++) {
        struct sigaction now;
        if (sigaction(STOP_SIGNALS[i], nullptr, &now) != 0) continue;
        if ((now.sa_flags & SA_SIGINFO) && now.sa_sigaction == on_stop_signal) continue;
        if (!(now.sa_flags & SA_SIGINFO) && (now.sa_handler == SIG_DFL || now.sa_handler == SIG_IGN)) continue;
        capture_state.program_actions[i] = now;
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
void capture_block_stop_signals(sigset_t *old) {
    sigset_t stops;
    stop_signal_set(&stops);
    sigprocmask(SIG_BLOCK, &stops, old);
}

void capture_restore_signal_mask(const sigset_t *old) { sigprocmask(SIG_SETMASK, old, nullptr); }
