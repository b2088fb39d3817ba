// SipHash-2-4 over a byte string: little-endian message words, the final
// word carrying the 0 to 7 leftover bytes and the length in its top byte.
#include "util/siphash.h"

#include <cstring>

// The published initialisation constants ("somepseudorandomlygeneratedbytes").
static const uint64_t SIPHASH_INIT_V0 = 0x736f6d6570736575ULL;
static const uint64_t SIPHASH_INIT_V1 = 0x646f72616e646f6dULL;
static const uint64_t SIPHASH_INIT_V2 = 0x6c7967656e657261ULL;
static const uint64_t SIPHASH_INIT_V3 = 0x7465646279746573ULL;
// XORed into v2 before the finalisation rounds.
static const uint64_t SIPHASH_FINAL_XOR = 0xff;
static const int SIPHASH_WORD_BYTES = 8;

struct SipState {
    uint64_t v0, v1, v2, v3;
};

static inline uint64_t rotl64(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// One SipRound: the add-rotate-xor network of the published algorithm.
static inline void sip_round(SipState *s) {
    s->v0 += s->v1; s->v1 = rotl64(s->v1, 13); s->v1 ^= s->v0; s->v0 = rotl64(s->v0, 32);
    s->v2 += s->v3; s->v3 = rotl64(s->v3, 16); s->v3 ^= s->v2;
    s->v0 += s->v3; s->v3 = rotl64(s->v3, 21); s->v3 ^= s->v0;
    s->v2 += s->v1; s->v1 = rotl64(s->v1, 17); s->v1 ^= s->v2; s->v2 = rotl64(s->v2, 32);
}

// One message word: the two compression rounds of SipHash-2-4, written out
// so the state stays in registers with no loop counter beside it.
static inline void sip_absorb(SipState *s, uint64_t word) {
    s->v3 ^= word;
    sip_round(s);
    sip_round(s);
    s->v0 ^= word;
}

// The `count` (at most 8) bytes at p as a little-endian word, independent
// of the machine's byte order. With `count` a constant this is one
// unaligned load, byte-swapped only on a big-endian machine, where the
// bytes land at the top of the word and the swap brings them down.
static inline uint64_t load_le(const uint8_t *p, int count) {
    uint64_t word = 0;
    memcpy(&word, p, static_cast<size_t>(count));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

// The `count` (0 to 7) bytes at p as a little-endian word, without reading
// past them. Four to seven bytes are two 4-byte loads that overlap in the
// middle; one to three are the first, middle and last byte, which overlap
// the same way. Overlapping bytes land on the same bits, so OR joins them.
static inline uint64_t load_le_tail(const uint8_t *p, int count) {
    if (count >= 4)
        return load_le(p, 4) | (load_le(p + count - 4, 4) << (8 * (count - 4)));
    if (count == 0) return 0;
    return static_cast<uint64_t>(p[0]) | (static_cast<uint64_t>(p[count / 2]) << (8 * (count / 2))) |
           (static_cast<uint64_t>(p[count - 1]) << (8 * (count - 1)));
}

uint64_t siphash24_words(const void *data, uint64_t length_bytes, uint64_t k0, uint64_t k1) {
    SipState s = {k0 ^ SIPHASH_INIT_V0, k1 ^ SIPHASH_INIT_V1, k0 ^ SIPHASH_INIT_V2,
                  k1 ^ SIPHASH_INIT_V3};
    const uint8_t *p = static_cast<const uint8_t *>(data);
    const uint8_t *body_end = p + (length_bytes - length_bytes % SIPHASH_WORD_BYTES);
    for (; p != body_end; p += SIPHASH_WORD_BYTES) sip_absorb(&s, load_le(p, SIPHASH_WORD_BYTES));
    int left_bytes = static_cast<int>(length_bytes % SIPHASH_WORD_BYTES);
    // Only the low 8 bits of the length go into the last word's top byte.
    uint64_t last = (length_bytes << 56) | load_le_tail(p, left_bytes);
    sip_absorb(&s, last);
    s.v2 ^= SIPHASH_FINAL_XOR;
    // The four finalisation rounds.
    sip_round(&s);
    sip_round(&s);
    sip_round(&s);
    sip_round(&s);
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

uint64_t siphash24(const void *data, uint64_t length_bytes, const uint8_t *key) {
    return siphash24_words(data, length_bytes, load_le(key, SIPHASH_WORD_BYTES),
                           load_le(key + SIPHASH_WORD_BYTES, SIPHASH_WORD_BYTES));
}
