// The capture's folder of frames: DIR/frame_000000.png, frame_000001.png ...
// one per present (capture_frame_save.cpp; in the browser the page takes
// them instead), and DIR/audio.wav with the sound of exactly those.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/capture_internal.h"

// The name of a capture file `dir` already holds, in `found`; false when it
// holds none (or cannot be read: writing then says why).
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

// Makes or checks the folder and opens DIR/audio.wav.
static int frames_start(const char *target) {
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

// Every frame was written as it came: nothing is left to do.
static int frames_finish(void) { return 0; }

// The frames kept and the sound of exactly those presents; a frame written
// whose present is not complete goes.
static bool frames_keep(void) {
    const int at = capture_state.frame_at;
    if (capture_state.frame_paths[at][0] && capture_state.frame_numbers[at] >= capture_state.frames_kept)
        unlink(capture_state.frame_paths[at]);
    capture_seal_audio(capture_audio_frames_after(capture_state.frames_kept));
    return true;
}

// The frames and the sound are what the folder is for: a folder is never
// emptied.
static void frames_drop(void) {}

const CaptureWriter capture_frames_writer = {"frames", frames_start, capture_frame_save, frames_finish,
                                             frames_keep, frames_drop};
