// UTF-8 helpers: lead-byte classification, validation, decoding, the
// character walks built on utf8_char_size, and encoding.
#include "util/utf8.h"

#include <cstring>

#include <climits>

// Top bits that tell byte kinds apart, and the values they take.
static const uint8_t UTF8_CONTINUATION_MASK = 0xC0;  // 10xxxxxx
static const uint8_t UTF8_CONTINUATION_TAG = 0x80;
static const uint8_t UTF8_LEAD2_MASK = 0xE0;         // 110xxxxx
static const uint8_t UTF8_LEAD2_TAG = 0xC0;
static const uint8_t UTF8_LEAD3_MASK = 0xF0;         // 1110xxxx
static const uint8_t UTF8_LEAD3_TAG = 0xE0;
static const uint8_t UTF8_LEAD4_MASK = 0xF8;         // 11110xxx
static const uint8_t UTF8_LEAD4_TAG = 0xF0;
// Leads C0 and C1 could only start overlong two-byte forms.
static const uint8_t UTF8_LAST_OVERLONG_LEAD = 0xC1;
// Leads above F4 would start code points beyond U+10FFFF.
static const uint8_t UTF8_LAST_LEAD = 0xF4;
// Payload bits per continuation byte, and their mask.
static const int UTF8_CONTINUATION_BITS = 6;
static const uint32_t UTF8_CONTINUATION_PAYLOAD = 0x3F;
// Largest code point of each encoded length 1, 2 and 3.
static const uint32_t UTF8_MAX_1_BYTE = 0x7F;
static const uint32_t UTF8_MAX_2_BYTES = 0x7FF;
static const uint32_t UTF8_MAX_3_BYTES = 0xFFFF;

static inline uint8_t byte_at(const char *p, int i) { return static_cast<uint8_t>(p[i]); }

static inline bool is_continuation(uint8_t b) {
    return (b & UTF8_CONTINUATION_MASK) == UTF8_CONTINUATION_TAG;
}

int utf8_sequence_length(const char *lead) {
    uint8_t b = byte_at(lead, 0);
    if (is_continuation(b)) return 0;
    if (b < 0x80) return 1;
    if ((b & UTF8_LEAD2_MASK) == UTF8_LEAD2_TAG) return 2;
    if ((b & UTF8_LEAD3_MASK) == UTF8_LEAD3_TAG) return 3;
    if ((b & UTF8_LEAD4_MASK) == UTF8_LEAD4_TAG) return 4;
    return 0;
}

// The sequence length at p when the sequence is valid, 0 when it is not.
static inline int valid_sequence_length(const char *p) {
    int n = utf8_sequence_length(p);
    if (n == 0) return 0;
    // Stopping at the first byte that is not a continuation byte keeps the
    // check from reading past a terminating zero.
    for (int i = 1; i < n; i++)
        if (!is_continuation(byte_at(p, i))) return 0;
    uint8_t lead = byte_at(p, 0);
    if (lead == 0xC0 || lead == UTF8_LAST_OVERLONG_LEAD) return 0;
    if (lead > UTF8_LAST_LEAD) return 0;
    return n;
}

int utf8_validate(const char *p) { return valid_sequence_length(p) != 0 ? 0 : -1; }

uint32_t utf8_decode(const char *p) {
    int n = valid_sequence_length(p);
    if (n == 0) return UTF8_REPLACEMENT_CHAR;
    // Payload masks of the lead byte for lengths 1 to 4.
    static const uint8_t lead_payload[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t c = static_cast<uint32_t>(byte_at(p, 0) & lead_payload[n])
                 << (UTF8_CONTINUATION_BITS * (n - 1));
    for (int i = 1; i < n; i++)
        c += static_cast<uint32_t>(byte_at(p, i) & UTF8_CONTINUATION_PAYLOAD)
             << (UTF8_CONTINUATION_BITS * (n - 1 - i));
    return c > UTF8_MAX_CODE_POINT ? UTF8_REPLACEMENT_CHAR : c;
}

// Inlined into the walks: plain ASCII, the common case, needs no further
// test.
static inline int char_size(const char *p) {
    uint8_t b = byte_at(p, 0);
    if (b == 0) return 0;
    if (b < 0x80) return 1;
    int n = valid_sequence_length(p);
    return n == 0 ? 1 : n;
}

int utf8_char_size(const char *p) { return char_size(p); }

int utf8_byte_offset(const char *text, int n) {
    if (n < 0) return -1;
    // 64-bit so that a string beyond INT_MAX bytes cannot wrap the offset.
    int64_t offset = 0;
    int counted = 0;
    while (counted < n) {
        int size = char_size(text + offset);
        if (size == 0) break;
        offset += size;
        counted++;
    }
    if (counted != n || offset > INT_MAX) return -1;
    return static_cast<int>(offset);
}

const char *utf8_char_at(const char *text, int n) {
    int offset = utf8_byte_offset(text, n);
    return offset < 0 ? nullptr : text + offset;
}

int utf8_bytes_for_chars(const char *text, uint32_t n) {
    int64_t offset = 0;
    for (uint32_t i = 0; i < n; i++) {
        int size = char_size(text + offset);
        if (size == 0) break;  // the sum stops growing at the terminator
        offset += size;
        if (offset > INT_MAX) return -1;
    }
    return static_cast<int>(offset);
}

int utf8_char_count(const char *text) {
    int64_t count = 0;
    for (const char *p = text;;) {
        int size = char_size(p);
        if (size == 0) break;
        p += size;
        if (++count > INT_MAX) return -1;
    }
    return static_cast<int>(count);
}

int utf8_encoded_length(uint32_t c) {
    if (c <= UTF8_MAX_1_BYTE) return 1;
    if (c <= UTF8_MAX_2_BYTES) return 2;
    if (c <= UTF8_MAX_3_BYTES) return 3;
    return 4;
}

int utf8_encode(uint32_t c, char *out, int room_bytes) {
    int n = utf8_encoded_length(c);
    if (!out || room_bytes < n) return 0;
    if (n == 1) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    // Lead-byte prefixes for lengths 2 to 4.
    static const uint8_t lead_prefix[5] = {0, 0, UTF8_LEAD2_TAG, UTF8_LEAD3_TAG, UTF8_LEAD4_TAG};
    uint32_t rest = c;
    for (int i = n - 1; i >= 1; i--) {
        out[i] = static_cast<char>(UTF8_CONTINUATION_TAG | (rest & UTF8_CONTINUATION_PAYLOAD));
        rest >>= UTF8_CONTINUATION_BITS;
    }
    out[0] = static_cast<char>(lead_prefix[n] | rest);
    return n;
}

void utf8_printable(char *out, size_t out_bytes, const char *text) {
    if (!out || out_bytes == 0) return;
    size_t at = 0;
    for (const char *p = text ? text : ""; *p;) {
        const int size = char_size(p);
        const uint32_t c = utf8_decode(p);
        const bool shown = c >= 0x20 && c != 0x7F && (c < 0x80 || c > 0x9F) && c != UTF8_REPLACEMENT_CHAR;
        const size_t bytes = shown ? static_cast<size_t>(size) : 1;
        if (at + bytes >= out_bytes) break;
        if (shown)
            memcpy(out + at, p, bytes);
        else
            out[at] = '?';
        at += bytes;
        p += size;
    }
    out[at] = '\0';
}
