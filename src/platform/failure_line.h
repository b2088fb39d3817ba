// The one-line failure messages of the platform and of programs on it:
// "TAG: what failed and why" on standard error, where TAG names the part
// that failed (CAPTURE, VIDEO ...) or the program, and the exit that
// follows a failure nothing can go on from.
#ifndef PLATFORM_FAILURE_LINE_H
#define PLATFORM_FAILURE_LINE_H

#include <cstdarg>

// Writes "TAG: " and `format` filled in as printf does, then a newline, on
// standard error, all under the stream's lock so that the line stays whole.
void failure_line(const char *tag, const char *format, ...) __attribute__((format(printf, 2, 3)));
void failure_line_v(const char *tag, const char *format, va_list args) __attribute__((format(printf, 2, 0)));

// failure_line, then exit(1) (the functions registered with atexit run).
[[noreturn]] void failure_exit(const char *tag, const char *format, ...) __attribute__((format(printf, 2, 3)));

#endif
