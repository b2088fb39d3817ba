// Redirects file descriptor 2 into a temporary file and back.
#include "support/stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/test_files.h"

int stderr_capture_begin(StderrCapture *capture) {
    capture->saved_fd = -1;
    std::string pattern = temp_base_dir() + "/stderr_capture_XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    capture->file_fd = mkstemp(path.data());
    if (capture->file_fd < 0) return -1;
    unlink(path.data());
    fflush(stderr);
    capture->saved_fd = dup(2);
    if (capture->saved_fd < 0 || dup2(capture->file_fd, 2) < 0) {
        close(capture->file_fd);
        if (capture->saved_fd >= 0) close(capture->saved_fd);
        capture->saved_fd = -1;
        return -1;
    }
    return 0;
}

std::string stderr_capture_end(StderrCapture *capture) {
    std::string text;
    if (capture->saved_fd < 0) return text;
    fflush(stderr);
    dup2(capture->saved_fd, 2);
    close(capture->saved_fd);
    capture->saved_fd = -1;
    lseek(capture->file_fd, 0, SEEK_SET);
    char chunk[1024];
    ssize_t n;
    while ((n = read(capture->file_fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    close(capture->file_fd);
    return text;
}
