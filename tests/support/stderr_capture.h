// Captures what the code under test prints on standard error (file
// descriptor 2) into a string, for checking the one-line failure messages.
#ifndef SUPPORT_STDERR_CAPTURE_H
#define SUPPORT_STDERR_CAPTURE_H

#include <string>

struct StderrCapture {
    int saved_fd;   // the original standard error, -1 when not capturing
    int file_fd;    // the temporary file receiving it
};

// Starts sending standard error to a temporary file. Returns 0, or -1 when
// it cannot (nothing changed then).
int stderr_capture_begin(StderrCapture *capture);

// Restores standard error and returns everything written meanwhile.
std::string stderr_capture_end(StderrCapture *capture);

#endif
