// Song times and module text as they are shown to a person.
#include "music/song_text.h"

#include <cstdio>

constexpr int64_t MS_PER_TENTH = 100;
constexpr int64_t TENTHS_PER_SECOND = 10;
constexpr int64_t TENTHS_PER_MINUTE = 600;
constexpr int64_t SECONDS_PER_MINUTE = 60;

void song_time_text(char *out, size_t out_bytes, int64_t ms) {
    if (!out || out_bytes == 0) return;
    const int64_t tenths = ms / MS_PER_TENTH;
    snprintf(out, out_bytes, "%lld:%02lld.%lld", static_cast<long long>(tenths / TENTHS_PER_MINUTE),
             static_cast<long long>(tenths / TENTHS_PER_SECOND % SECONDS_PER_MINUTE), static_cast<long long>(tenths % TENTHS_PER_SECOND));
}

void song_printable_text(char *out, size_t out_bytes, const char *text) {
    if (!out || out_bytes == 0) return;
    size_t i = 0;
    for (; text && text[i] && i + 1 < out_bytes; i++) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        out[i] = byte < ' ' || byte > '~' ? '?' : static_cast<char>(byte);
    }
    out[i] = '\0';
}

int song_message_line(const char *message, size_t *at, char *out, size_t out_bytes) {
    if (out && out_bytes > 0) out[0] = '\0';
    if (!message || !at || message[*at] == '\0') return 0;
    size_t end = *at;
    while (message[end] != '\0' && message[end] != '\n') end++;
    if (out && out_bytes > 0) {
        size_t n = 0;
        for (size_t i = *at; i < end && n + 1 < out_bytes; i++, n++) {
            const unsigned char byte = static_cast<unsigned char>(message[i]);
            out[n] = byte < ' ' || byte > '~' ? '?' : static_cast<char>(byte);
        }
        out[n] = '\0';
    }
    *at = message[end] == '\n' ? end + 1 : end;
    return 1;
}
