// glibc's rand() sequence (glibc_rand_internal.h), and in the browser build
// the C library's rand() and srand() made of it.
#include "platform/glibc_rand_internal.h"

#include <cstdlib>

constexpr int GLIBC_RAND_WORDS = 34;    // the ring: r[i - 34] .. r[i - 1]
constexpr int GLIBC_RAND_DISCARD = 310;  // values thrown away after seeding
constexpr int64_t PARK_MILLER_MODULUS = 2147483647;  // 2^31 - 1
constexpr int64_t PARK_MILLER_MULTIPLIER = 16807;

void glibc_rand_seed(GlibcRand *g, unsigned seed) {
    // The seed is used as a signed 32-bit word, as glibc has it.
    int64_t word = static_cast<int32_t>(seed == 0 ? 1 : seed);
    g->r[0] = static_cast<uint32_t>(word);
    for (int i = 1; i < 31; i++) {
        // 16807 x word stays within 2^46: no overflow in 64 bits. glibc
        // computes the same remainder with Schrage's method, keeping it
        // non-negative.
        word = word * PARK_MILLER_MULTIPLIER % PARK_MILLER_MODULUS;
        if (word < 0) word += PARK_MILLER_MODULUS;
        g->r[i] = static_cast<uint32_t>(word);
    }
    for (int i = 31; i < GLIBC_RAND_WORDS; i++) g->r[i] = g->r[i - 31];
    g->next = 0;  // r[34] goes where r[0] was
    for (int i = 0; i < GLIBC_RAND_DISCARD; i++) glibc_rand_next(g);
}

int glibc_rand_next(GlibcRand *g) {
    // r[i - 3] and r[i - 31] sit 31 and 3 places after r[i - 34] in the ring.
    const int at = g->next;
    const uint32_t value = g->r[(at + 31) % GLIBC_RAND_WORDS] + g->r[(at + 3) % GLIBC_RAND_WORDS];
    g->r[at] = value;
    g->next = (at + 1) % GLIBC_RAND_WORDS;
    return static_cast<int>(value >> 1);
}
