// The containers' allocation calls and their failure countdown for tests.
#include "util/alloc.h"

#include <cstdlib>

// Negative: allocations never fail. Otherwise the number that may still
// succeed before every further one fails.
static long alloc_successes_left = -1;

static bool alloc_may_succeed(void) {
    if (alloc_successes_left < 0) return true;
    if (alloc_successes_left == 0) return false;
    alloc_successes_left--;
    return true;
}

void *engine_malloc(size_t size_bytes) {
    return alloc_may_succeed() ? malloc(size_bytes) : nullptr;
}

void *engine_calloc(size_t count, size_t size_bytes) {
    return alloc_may_succeed() ? calloc(count, size_bytes) : nullptr;
}

void *engine_realloc(void *block, size_t size_bytes) {
    return alloc_may_succeed() ? realloc(block, size_bytes) : nullptr;
}

void engine_free(void *block) { free(block); }

void alloc_fail_after(long successes) { alloc_successes_left = successes; }
