// A capture's sound: the audio sink that runs the program's callback in
// step with the virtual clock instead of a device, and the WAV file the
// sound goes to (DIR/audio.wav, or the video's temporary WAV), its header
// always matching what it holds.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "music/wav_file.h"
#include "platform/audio_output.h"
#include "platform/capture_internal.h"
#include "platform/failure_line.h"

// A capture writes what the device would have played.
static_assert(CAPTURE_RATE_HZ == AUDIO_RATE_HZ, "the capture records at the device's rate");

static int clock_open(AudioCallback callback, void *userdata) {
    capture_state.audio_callback = callback;
    capture_state.audio_userdata = userdata;
    capture_state.audio_paused = true;
    return 0;
}

static void clock_pause(int paused) { capture_state.audio_paused = paused != 0; }

static void clock_close(void) { capture_state.audio_callback = nullptr; }

// The callback runs on the main thread, between frames: nothing to lock.
static void clock_lock(void) {}

static void clock_unlock(void) {}

static int64_t clock_frames_queued(int rate_hz) {
    (void)rate_hz;
    return 0;
}

const AudioSink capture_clock_sink = {clock_open,   clock_pause,         clock_close, clock_lock,
                                      clock_unlock, clock_frames_queued, false,       true};

void capture_audio_begin(int fd) {
    capture_state.audio_file = fdopen(fd, "wb");
    if (!capture_state.audio_file) {
        const int error = errno;
        close(fd);
        capture_fail("cannot write '%s': %s", capture_state.audio_path, strerror(error));
    }
    // Unbuffered: the file holds all that was written, which a stop signal
    // or a failure can then seal with a header that matches.
    setvbuf(capture_state.audio_file, nullptr, _IONBF, 0);
    capture_state.audio_fd = fd;
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, CAPTURE_RATE_HZ, 0);
    if (fwrite(header, 1, sizeof header, capture_state.audio_file) != sizeof header)
        capture_fail("cannot write '%s': %s", capture_state.audio_path, strerror(errno));
}

// The file a write error names: the output for a video (its WAV is a
// temporary file of its own), else the WAV itself.
static const char *audio_name(void) {
    return capture_state.writer == &capture_video_writer ? capture_state.output : capture_state.audio_path;
}

void capture_render_audio(long target_frames) {
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
            capture_fail("cannot write '%s': %s", audio_name(), strerror(errno));
        capture_state.audio_frames += n;
    }
}

bool capture_seal_audio(long most) {
    const int fd = capture_state.audio_fd;
    if (fd < 0) return true;
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    const off_t sound_bytes = st.st_size > WAV_FILE_HEADER_BYTES ? st.st_size - WAV_FILE_HEADER_BYTES : 0;
    long held = (sound_bytes / WAV_FILE_FRAME_BYTES);
    if (held > most) held = most;
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, CAPTURE_RATE_HZ, held);
    return ftruncate(fd, WAV_FILE_HEADER_BYTES + static_cast<off_t>(held) * WAV_FILE_FRAME_BYTES) == 0 &&
           pwrite(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
}

void capture_audio_close(void) {
    if (!capture_state.audio_file) return;
    capture_state.audio_fd = -1;
    fclose(capture_state.audio_file);
    capture_state.audio_file = nullptr;
}

int capture_audio_finish(void) {
    if (!capture_state.audio_file) return 0;
    int result = 0;
    if (!capture_seal_audio(capture_state.audio_frames)) {
        failure_line("CAPTURE", "cannot finish '%s': %s", capture_state.audio_path, strerror(errno));
        result = -1;
    }
    capture_audio_close();
    return result;
}
