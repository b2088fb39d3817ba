// Whole lines of a model or material file, read through one large buffer:
// the line reader both loaders use. Lines may be as long as
// OBJ_MAX_LINE_CHARS; a longer one is skipped whole with one message naming
// its line, so no part of it is ever taken for a statement of its own.
#ifndef ASSETS_OBJ_LINES_H
#define ASSETS_OBJ_LINES_H

#include <cstddef>

// Longest line the loaders take, in characters (carriage returns counted,
// the line feed not). Real files rarely pass 200; a polygon with a few
// thousand corners still fits.
constexpr size_t OBJ_MAX_LINE_CHARS = 65536;
// Bytes asked of each read() beyond the longest line kept in the buffer.
constexpr size_t OBJ_READ_CHUNK_BYTES = 65536;

// The reader over one open file. Plain data on the caller's stack; the
// buffer is the one allocation.
struct ObjLines {
    int fd;
    const char *path;  // named in the message about a skipped line
    char *buffer;      // OBJ_MAX_LINE_CHARS + OBJ_READ_CHUNK_BYTES + 1 bytes
    size_t start;      // first unread byte in buffer
    size_t end;        // one past the last byte read into buffer
    bool at_end;       // the file has given its last byte (or a read failed)
    int read_error;    // the system's error number of a failed read, 0 if none
    long line_number;  // of the line last returned, counted from 1
};

// Starts reading `fd` (which stays the caller's to close). 0, or -1 when
// the buffer cannot be allocated.
int obj_lines_open(ObjLines *lines, int fd, const char *path);

// The next line, zero-terminated in place, without its line feed and with
// every carriage return dropped; valid until the next call. A line longer
// than OBJ_MAX_LINE_CHARS is skipped with "Skipping line N of '<path>':
// longer than 65536 characters" on standard output. Null at the end of the
// file (a last line without line feed is still returned) or when a read
// fails; read_error then tells the two apart, so a loader can refuse a file
// it could read only in part.
char *obj_lines_next(ObjLines *lines);

// Releases the buffer. Safe on a reader whose open failed.
void obj_lines_close(ObjLines *lines);

#endif
