// SipHash-2-4: the keyed 64-bit hash the hash map uses to pick buckets.
// Implemented exactly as published (two compression rounds, four
// finalisation rounds, the published initialisation constants).
#ifndef UTIL_SIPHASH_H
#define UTIL_SIPHASH_H

#include <cstdint>

// Bytes in a SipHash key: two little-endian 64-bit words, k0 then k1.
enum { SIPHASH_KEY_BYTES = 16 };

// The SipHash-2-4 value of `length_bytes` bytes at `data` under the 16-byte
// `key` (bytes 0-7 are k0, bytes 8-15 are k1, each little-endian). A null
// `data` is allowed only with length 0. Never fails.
uint64_t siphash24(const void *data, uint64_t length_bytes, const uint8_t *key);

// The same hash with the key given as its two words, k0 and k1; the hash map
// keeps its key in this form.
uint64_t siphash24_words(const void *data, uint64_t length_bytes, uint64_t k0, uint64_t k1);

#endif
