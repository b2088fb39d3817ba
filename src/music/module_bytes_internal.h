// Numbers and names out of module bytes, as the XM and S3M readers take
// them: little-endian unsigned numbers, and fixed-size name fields copied
// into NUL-ended strings. The caller has checked that the bytes are there.
#ifndef MUSIC_MODULE_BYTES_INTERNAL_H
#define MUSIC_MODULE_BYTES_INTERNAL_H

#include <cstddef>
#include <cstdint>

// The 16-bit little-endian unsigned number at `at`.
inline uint32_t module_le16(const uint8_t *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8;
}

// The 32-bit little-endian unsigned number at `at`.
inline uint32_t module_le32(const uint8_t *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// Copies the `field_bytes` bytes at `field` into `out` (room for
// field_bytes + 1) and ends them with a NUL; a NUL inside ends the name
// there.
inline void module_copy_name(char *out, const uint8_t *field, size_t field_bytes) {
    for (size_t i = 0; i < field_bytes; i++) out[i] = static_cast<char>(field[i]);
    out[field_bytes] = '\0';
}

#endif
