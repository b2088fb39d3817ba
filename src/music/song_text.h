// A song put into words for a person at a terminal: its times as minutes,
// seconds and tenths, and the module's own text (title, sample names) made
// harmless to print. Shared by modrender's listing and modplay's live line.
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

#endif
