// The text primitives of the model loaders: opening a file, the bounded
// one-byte-at-a-time line reader, tokens, and the decimal-to-Fixed parser.
#include <cerrno>
#include <unistd.h>

#include "assets/obj.h"
#include "util/file_open.h"

int obj_open_read(const char *path, const char **why) {
    if (path == nullptr) {
        *why = "no file name";
        return -1;
    }
    return open_regular_file(path, why);
}

int read_line(int fd, char *buffer, uint64_t size_bytes) {
    if (size_bytes == 0) return 0;
    uint64_t stored = 0;
    // One byte per read: the descriptor must stand right after the line so
    // the next call (or another reader) continues from there.
    while (stored < size_bytes - 1) {
        char c;
        ssize_t got = read(fd, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (stored == 0) return -1;
            break;
        }
        if (c == '\r') continue;
        if (c == '\n') break;
        buffer[stored++] = c;
    }
    buffer[stored] = '\0';
    return (int)stored;
}

static bool is_separator(char c) { return c == ' ' || c == '\t'; }

char *obj_next_token(char **cursor) {
    char *start = *cursor;
    while (is_separator(*start)) start++;
    if (*start == '\0') {
        *cursor = start;
        return nullptr;
    }
    char *end = start;
    while (*end != '\0' && !is_separator(*end)) end++;
    if (*end != '\0') *end++ = '\0';
    *cursor = end;
    return start;
}

Fixed parse_fixed(const char *text) {
    if (text == nullptr) return 0;
    bool negative = *text == '-';
    if (negative) text++;
    uint32_t integer = 0;  // wraps like the 32-bit accumulator it stands for
    while (*text >= '0' && *text <= '9') integer = integer * 10 + (uint32_t)(*text++ - '0');
    uint32_t result = integer << FIXED_SHIFT;
    if (*text == '.') {
        const char *first = ++text;
        while (*text >= '0' && *text <= '9') text++;
        // From the last fraction digit back to the first; f stays below
        // 65536, so f + 9 * 65536 never overflows.
        uint32_t fraction = 0;
        for (const char *digit = text; digit != first;) {
            digit--;
            fraction = (fraction + (uint32_t)(*digit - '0') * (uint32_t)FIXED_ONE) / 10;
        }
        result += fraction;
    }
    return (Fixed)(negative ? 0u - result : result);
}
