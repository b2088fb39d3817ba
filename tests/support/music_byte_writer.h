// The one byte writer of the test module builders (MOD, XM, S3M): numbers
// appended to a file being built, or set where a header field was left,
// in the byte order each format uses, and fixed-size text fields.
#ifndef SUPPORT_MUSIC_BYTE_WRITER_H
#define SUPPORT_MUSIC_BYTE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline void put8(std::vector<uint8_t> &out, uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }

// Little-endian, as XM and S3M store their numbers.
inline void put16(std::vector<uint8_t> &out, uint32_t v) {
    put8(out, v);
    put8(out, v >> 8);
}

inline void put32(std::vector<uint8_t> &out, uint32_t v) {
    put16(out, v);
    put16(out, v >> 16);
}

inline void set16(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Big-endian at `p`, as a MOD stores its numbers.
inline void put_be16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// `text` in a field of `bytes` bytes, cut or padded with NULs.
inline void put_text(std::vector<uint8_t> &out, const std::string &text, size_t bytes) {
    for (size_t i = 0; i < bytes; i++) put8(out, i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

#endif
