// UTF-8 helpers: walking, measuring, decoding and encoding text held in
// zero-terminated strings, and making it safe to print. They never allocate. A byte that does not start
// a valid sequence is one character of one byte and decodes to U+FFFD.
//
// Acceptance rules: a sequence is valid when its lead byte announces a
// length and that many continuation bytes follow. Leads C0 and C1 (overlong
// two-byte forms), leads above F4, stray continuation bytes and leads F8 to
// FF are invalid. Overlong three- and four-byte forms and encoded
// surrogates are not checked and pass.
#ifndef UTIL_UTF8_H
#define UTIL_UTF8_H

#include <cstddef>
#include <cstdint>

// The code point that stands for an undecodable sequence.
const uint32_t UTF8_REPLACEMENT_CHAR = 0xFFFD;
// The largest code point; decoding anything above gives the replacement.
const uint32_t UTF8_MAX_CODE_POINT = 0x10FFFF;

// The sequence length its lead byte announces: 1 (00-7F, the zero byte
// included), 2 (C0-DF), 3 (E0-EF), 4 (F0-F7), or 0 for a continuation byte
// (80-BF) or F8-FF.
int utf8_sequence_length(const char *lead);

// 0 when the sequence at p is valid (see the acceptance rules above), -1
// otherwise. Reads no further than the first byte that is not a
// continuation byte, so never past a terminating zero.
int utf8_validate(const char *p);

// The code point of the sequence at p; U+FFFD when it is invalid or decodes
// above U+10FFFF. The terminating zero decodes to 0.
uint32_t utf8_decode(const char *p);

// Bytes to step over the character at p: 0 at the terminating zero, 1 for
// an invalid sequence, otherwise its sequence length.
int utf8_char_size(const char *p);

// The byte offset of character n (n equal to the character count gives the
// terminator's offset); -1 when n is negative, beyond the count, or the
// offset would not fit an int.
int utf8_byte_offset(const char *text, int n);

// Pointer to character n of text, or null when utf8_byte_offset gives -1.
const char *utf8_char_at(const char *text, int n);

// The byte length of the first n characters (all of them when the text has
// fewer); -1 when that length would not fit an int.
int utf8_bytes_for_chars(const char *text, uint32_t n);

// The number of characters before the terminating zero; -1 when that number
// would not fit an int.
int utf8_char_count(const char *text);

// Bytes needed to encode code point c: 1 up to 7F, 2 up to 7FF, 3 up to
// FFFF, 4 above. No range test is made.
int utf8_encoded_length(uint32_t c);

// Writes the UTF-8 bytes of c into out (no terminating zero) and returns
// their number, or writes nothing and returns 0 when `room_bytes` is too
// small. No range test is made: code points above U+10FFFF are written by
// the same rule (the lead byte keeps the low 8 bits of its OR).
int utf8_encode(uint32_t c, char *out, int room_bytes);

// Copies `text` into out (NUL-ended, cut to whole characters within
// out_bytes - 1 bytes) with every character that a terminal would act on
// instead of showing (a C0 control, DEL, a C1 control U+0080 .. U+009F)
// and every byte of an invalid sequence shown as '?': a file's own text
// made safe to print. Null text copies as ""; null out or out_bytes 0
// does nothing.
void utf8_printable(char *out, size_t out_bytes, const char *text);

#endif
