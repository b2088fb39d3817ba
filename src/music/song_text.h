// A song put into words for a person at a terminal: its times as minutes,
// seconds and tenths, and the module's own text (title, sample names, the
// message) made harmless to print. Shared by modrender's and module_info's
// listings and modplay's live line.
#ifndef MUSIC_SONG_TEXT_H
#define MUSIC_SONG_TEXT_H

#include <cstddef>
#include <cstdint>

// Writes `ms` milliseconds (>= 0) as "M:SS.t", truncated to tenths (87000
// gives "1:27.0"), into out, NUL-ended and cut to out_bytes - 1 characters.
// Null out or out_bytes 0 does nothing.
void song_time_text(char *out, size_t out_bytes, int64_t ms);

// Copies `text` into out, NUL-ended and cut to out_bytes - 1 characters,
// with every byte outside printable ASCII (a control character, DEL, or
// any byte above it, where C1 controls such as 0x9B live) shown as '?': so
// escape sequences in a module cannot drive the terminal. Null text copies
// as "". Null out or out_bytes 0 does nothing.
void song_printable_text(char *out, size_t out_bytes, const char *text);

// The line of `message` (lines ending in '\n', as Song.message holds them)
// that starts at *at, made printable as song_printable_text makes text,
// into out, cut to out_bytes - 1 characters; *at moves to the next line.
// Returns 1, or 0 with out "" when no line starts at *at (the message's
// end, or a null message or at). Null out or out_bytes 0 only moves *at.
int song_message_line(const char *message, size_t *at, char *out, size_t out_bytes);

#endif
