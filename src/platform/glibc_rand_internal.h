// The C library's rand() as glibc makes it, for the browser build, whose
// own C library gives another sequence: there the engine's rand() is this
// one (glibc_rand.cpp), so that pictures drawn from rand() (stars,
// particles, jittering text) are the native program's, pixel for pixel.
//
// glibc's rand() is random_r's TYPE_3 generator, an additive feedback
// generator over 31 words: seeded with s (0 counts as 1), r[0] = s and
// r[i] = 16807 r[i - 1] mod (2^31 - 1) for i = 1 .. 30, r[i] = r[i - 31]
// for i = 31 .. 33, then r[i] = r[i - 3] + r[i - 31] (mod 2^32) for ever;
// the first 310 of those are thrown away and each later one gives r[i] >> 1
// (0 .. RAND_MAX, 2^31 - 1). An unseeded rand() is seeded with 1.
#ifndef PLATFORM_GLIBC_RAND_INTERNAL_H
#define PLATFORM_GLIBC_RAND_INTERNAL_H

#include <cstdint>

// The last 34 words of the sequence, r[i - 34] .. r[i - 1] in a ring;
// `next` is where r[i] goes.
struct GlibcRand {
    uint32_t r[34];
    int next;
};

// Seeds *g as srand(seed) seeds glibc's rand().
void glibc_rand_seed(GlibcRand *g, unsigned seed);

// The next value, as glibc's rand() would give it: 0 .. 2^31 - 1.
int glibc_rand_next(GlibcRand *g);

#endif
