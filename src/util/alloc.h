// Allocation for the whole engine: every block its libraries allocate
// themselves (the containers, the loaders and the images, textures and
// models they make, the module player, fonts, text, sprites, lists and
// scenes) comes from these calls, so that a test can make the n-th
// allocation fail and check the failure path: a container left as it was,
// a constructor or loader returning null with nothing leaked. Only what
// SDL, libpng and the C library (open files) allocate for themselves, and
// the screenshot writer's one row buffer, come from elsewhere.
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
