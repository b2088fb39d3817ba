// Allocation for the containers: every growth of a vector, byte buffer or
// hash map goes through these three calls, so that a test can make the
// n-th allocation fail and check that the container is left as it was.
#ifndef UTIL_ALLOC_H
#define UTIL_ALLOC_H

#include <cstddef>

// Like malloc, calloc and realloc, but fail (return null) once the failure
// countdown set by alloc_fail_after reaches zero.
void *engine_malloc(size_t size_bytes);
void *engine_calloc(size_t count, size_t size_bytes);
void *engine_realloc(void *block, size_t size_bytes);
void engine_free(void *block);

// Test hook: the next `successes` allocations succeed, every one after that
// fails. A negative value (the default) never fails. Not thread-safe: only
// tests on the main thread use it.
void alloc_fail_after(long successes);

#endif
