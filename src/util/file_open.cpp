// Regular-file opening for every reader in the engine.
#include "util/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

static const char *describe_non_regular(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
    if (S_ISFIFO(mode)) return "is a FIFO";
    if (S_ISSOCK(mode)) return "is a socket";
    return "is not a regular file";
}

int open_regular_file(const char *path, const char **why) {
    static const char *unused;
    if (!why) why = &unused;
    // O_NONBLOCK keeps open() itself from waiting for a FIFO's writer; it is
    // cleared again once the descriptor is known to be a regular file.
    int fd;
    do {
        fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) < 0) {
        *why = strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *why = describe_non_regular(info.st_mode);
        close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        *why = strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}
