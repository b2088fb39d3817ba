// One-line failure messages on standard error, and the failure exit.
#include "platform/failure_line.h"

#include <cstdio>
#include <cstdlib>

void failure_line_v(const char *tag, const char *format, va_list args) {
    flockfile(stderr);
    fprintf(stderr, "%s: ", tag);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    funlockfile(stderr);
}

void failure_line(const char *tag, const char *format, ...) {
    va_list args;
    va_start(args, format);
    failure_line_v(tag, format, args);
    va_end(args);
}

void failure_exit(const char *tag, const char *format, ...) {
    va_list args;
    va_start(args, format);
    failure_line_v(tag, format, args);
    va_end(args);
    exit(1);
}
