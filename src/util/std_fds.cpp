// Reopening closed standard descriptors on /dev/null.
#include "util/std_fds.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int keep_standard_fds_open(void) {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // open() returns the lowest free number, which is this one.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0) close(opened);
            return -1;
        }
    }
    return 0;
}
