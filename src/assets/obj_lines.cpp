// The buffered whole-line reader of the model and material loaders.
#include "assets/obj_lines.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/alloc.h"

// Bytes the buffer holds, not counting the zero byte a last line without
// line feed may need after it.
constexpr size_t OBJ_LINES_BUFFER_BYTES = OBJ_MAX_LINE_CHARS + OBJ_READ_CHUNK_BYTES;

int obj_lines_open(ObjLines *lines, int fd, const char *path) {
    lines->fd = fd;
    lines->path = path;
    lines->start = 0;
    lines->end = 0;
    lines->at_end = false;
    lines->read_error = 0;
    lines->line_number = 0;
    lines->buffer = static_cast<char *>(engine_malloc(OBJ_LINES_BUFFER_BYTES + 1));
    return lines->buffer != nullptr ? 0 : -1;
}

void obj_lines_close(ObjLines *lines) {
    engine_free(lines->buffer);
    lines->buffer = nullptr;
}

// Moves the unread bytes to the front of the buffer and reads more after
// them. False, with at_end set, when the file has nothing more or a read
// fails (read_error then says why).
static bool fill(ObjLines *lines) {
    if (lines->start > 0) {
        memmove(lines->buffer, lines->buffer + lines->start, lines->end - lines->start);
        lines->end -= lines->start;
        lines->start = 0;
    }
    for (;;) {
        ssize_t got = read(lines->fd, lines->buffer + lines->end, OBJ_LINES_BUFFER_BYTES - lines->end);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) lines->read_error = errno;
            lines->at_end = true;
            return false;
        }
        lines->end += static_cast<size_t>(got);
        return true;
    }
}

// Drops every carriage return of the `length` characters at `line` and
// zero-terminates what is left.
static char *without_carriage_returns(char *line, size_t length) {
    char *cr = static_cast<char *>(memchr(line, '\r', length));
    if (cr != nullptr) {
        char *to = cr;
        for (char *from = cr; from < line + length; from++)
            if (*from != '\r') *to++ = *from;
        *to = '\0';
    } else {
        line[length] = '\0';
    }
    return line;
}

static void report_long_line(const ObjLines *lines) {
    printf("Skipping line %ld of '%s': longer than %zu characters\n", lines->line_number, lines->path,
           OBJ_MAX_LINE_CHARS);
}

// Skips the rest of a line that has already proved too long: everything up
// to its line feed (or the end of the file).
static void skip_long_line(ObjLines *lines) {
    lines->line_number++;
    report_long_line(lines);
    lines->start = lines->end = 0;
    while (fill(lines)) {
        char *lf = static_cast<char *>(memchr(lines->buffer, '\n', lines->end));
        if (lf != nullptr) {
            lines->start = static_cast<size_t>(lf - lines->buffer) + 1;
            return;
        }
        lines->start = lines->end = 0;
    }
}

char *obj_lines_next(ObjLines *lines) {
    for (;;) {
        char *from = lines->buffer + lines->start;
        size_t unread = lines->end - lines->start;
        char *lf = static_cast<char *>(memchr(from, '\n', unread));
        if (lf != nullptr) {
            size_t length = static_cast<size_t>(lf - from);
            lines->start += length + 1;
            lines->line_number++;
            if (length > OBJ_MAX_LINE_CHARS) {
                report_long_line(lines);
                continue;
            }
            return without_carriage_returns(from, length);
        }
        if (unread > OBJ_MAX_LINE_CHARS) {
            skip_long_line(lines);
            continue;
        }
        if (!lines->at_end && fill(lines)) continue;
        // The end of the file: what is left is a last line without line feed.
        if (lines->start == lines->end) return nullptr;
        from = lines->buffer + lines->start;
        unread = lines->end - lines->start;
        lines->start = lines->end;
        lines->line_number++;
        return without_carriage_returns(from, unread);
    }
}
