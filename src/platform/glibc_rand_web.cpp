// The browser build's rand() and srand(): glibc's sequence
// (glibc_rand_internal.h), so that pictures drawn from rand() are the
// native program's.
#include <cstdlib>

#include "platform/glibc_rand_internal.h"

// The engine's programs are linked with these in place of the browser C
// library's own: the first rand() without an srand() is seeded with 1.
static GlibcRand browser_rand;
static bool browser_rand_seeded = false;

extern "C" void srand(unsigned seed) {
    glibc_rand_seed(&browser_rand, seed);
    browser_rand_seeded = true;
}

extern "C" int rand(void) {
    if (!browser_rand_seeded) srand(1);
    return glibc_rand_next(&browser_rand);
}
