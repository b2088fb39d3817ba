// Whole-file reading of modules with every failure put into words.
#include "music/module_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "music/module_check.h"
#include "util/alloc.h"
#include "util/file_open.h"

uint8_t *mod_file_read(const char *path, long *size_bytes, char *reason, size_t reason_bytes) {
    // Only a regular file: a FIFO would block the start-up, a device such
    // as /dev/zero has no end, and a directory is no module at all.
    const char *why = nullptr;
    const int fd = open_regular_file(path, &why);
    if (fd < 0) {
        snprintf(reason, reason_bytes, "cannot open '%s': %s", path, why);
        return nullptr;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0 || lseek(fd, 0, SEEK_SET) < 0) {
        snprintf(reason, reason_bytes, "cannot read '%s': %s", path, strerror(errno));
        close(fd);
        return nullptr;
    }
    if (end == 0 || end > MODULE_MAX_FILE_BYTES) {
        snprintf(reason, reason_bytes, "'%s' is not a module: %s (%ld bytes)", path,
                 end == 0 ? "the file is empty" : "larger than any module", static_cast<long>(end));
        close(fd);
        return nullptr;
    }
    uint8_t *data = static_cast<uint8_t *>(engine_malloc(static_cast<size_t>(end)));
    if (!data) {
        snprintf(reason, reason_bytes, "out of memory reading '%s' (%ld bytes)", path, static_cast<long>(end));
        close(fd);
        return nullptr;
    }
    // One read normally suffices; a short read is continued, so a slow
    // file system or a signal cannot cut the module.
    long got = 0;
    while (got < static_cast<long>(end)) {
        const ssize_t n = read(fd, data + got, static_cast<size_t>(end - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            snprintf(reason, reason_bytes, "cannot read '%s': %s", path,
                     n < 0 ? strerror(errno) : "the file ended early");
            engine_free(data);
            close(fd);
            return nullptr;
        }
        got += n;
    }
    close(fd);
    *size_bytes = static_cast<long>(end);
    return data;
}
