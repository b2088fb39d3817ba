// Output files through a temporary file beside them, renamed into place
// when whole.
#include "util/file_replace.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

// The temporary file being written, for a signal handler; pending_set
// says whether there is one. Both change only while every signal is
// blocked.
static char pending[FILE_REPLACE_PATH_BYTES];
static volatile sig_atomic_t pending_set = 0;

static void block_signals(sigset_t *old) {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, old);
}

static void restore_signals(const sigset_t *old) { sigprocmask(SIG_SETMASK, old, nullptr); }

void file_replace_remove_pending(void) {
    if (pending_set) unlink(pending);
    pending_set = 0;
}

int file_same(const char *a, const char *b) {
    struct stat sa, sb;
    return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Writes `text` into out (FILE_REPLACE_PATH_BYTES); -1 with ENAMETOOLONG
// when it does not fit.
static int copy_path(char *out, const char *text) {
    if (strlen(text) >= static_cast<size_t>(FILE_REPLACE_PATH_BYTES)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    strcpy(out, text);
    return 0;
}

// The temporary file's name for `target`: ".NAME.XXXXXX" in its folder.
static int temp_name(char *out, const char *target) {
    const char *slash = strrchr(target, '/');
    const size_t folder = slash ? static_cast<size_t>(slash - target) + 1 : 0;
    const int n = snprintf(out, FILE_REPLACE_PATH_BYTES, "%.*s.%s.XXXXXX", static_cast<int>(folder), target,
                           target + folder);
    if (n < 0 || n >= FILE_REPLACE_PATH_BYTES) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

int file_replace_open(FileReplace *out, const char *path) {
    out->file = nullptr;
    out->target[0] = out->temp[0] = '\0';
    if (!path || !*path) {
        errno = ENOENT;
        return -1;
    }
    struct stat st;
    const bool exists = stat(path, &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        if (copy_path(out->target, path) != 0) return -1;
        out->file = fopen(path, "wb");
        return out->file ? 0 : -1;
    }
    // Through a symbolic link the file it names is replaced.
    struct stat link;
    if (exists && lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(path, resolved) || copy_path(out->target, resolved) != 0) return -1;
    } else if (copy_path(out->target, path) != 0) {
        return -1;
    }
    if (temp_name(out->temp, out->target) != 0) return -1;
    sigset_t old;
    block_signals(&old);
    const int fd = mkstemp(out->temp);
    if (fd >= 0) {
        strcpy(pending, out->temp);
        pending_set = 1;
    }
    restore_signals(&old);
    if (fd < 0) {
        out->temp[0] = '\0';
        return -1;
    }
    // mkstemp makes the file private: it takes the mode of the file it
    // replaces, or that of any new file.
    mode_t mode = st.st_mode & 07777;
    if (!exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0 || !(out->file = fdopen(fd, "wb"))) {
        const int error = errno;
        close(fd);
        file_replace_close(out, false);
        errno = error;
        return -1;
    }
    return 0;
}

int file_replace_close(FileReplace *out, bool complete) {
    const int writer_errno = errno;
    int result = complete ? 0 : -1;
    int error = writer_errno;
    if (out->file && fclose(out->file) != 0 && result == 0) {
        result = -1;
        error = errno;
    }
    out->file = nullptr;
    if (out->temp[0]) {
        sigset_t old;
        block_signals(&old);
        if (result == 0 && rename(out->temp, out->target) != 0) {
            result = -1;
            error = errno;
        }
        if (result != 0) unlink(out->temp);
        pending_set = 0;
        restore_signals(&old);
        out->temp[0] = '\0';
    }
    errno = error;
    return result;
}
