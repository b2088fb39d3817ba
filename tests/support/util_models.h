// Model checking for the containers: runs an operation sequence, encoded in
// a byte string, against a container and a standard-library model of it
// (std::vector, std::unordered_multimap, std::list, std::string), checking
// results, contents and invariants after every step. Seeded tests feed it
// long random sequences; a fuzz target can feed it arbitrary bytes.
#ifndef SUPPORT_UTIL_MODELS_H
#define SUPPORT_UTIL_MODELS_H

#include <cstddef>
#include <cstdint>
#include <string>

enum UtilModelKind {
    UTIL_MODEL_VECTOR,
    UTIL_MODEL_HASHMAP,
    UTIL_MODEL_LIST,
    UTIL_MODEL_BYTEBUFFER,
    UTIL_MODEL_KIND_COUNT
};

// Runs the sequence in data[0 .. size - 1] against a fresh container of the
// given kind. Each step is an operation byte followed by its operands; a
// sequence that ends mid-step reads zeros. Some steps make the next
// allocations fail (alloc_fail_after) and check the exact outcome: the
// failing call returns -1 (or null) and leaves the container as it was.
// Returns true when container and model agreed throughout; otherwise false,
// with the first disagreement described in *disagreement (when given).
// Always restores alloc_fail_after(-1) and releases what it created.
bool util_model_run(UtilModelKind kind, const uint8_t *data, size_t size,
                    std::string *disagreement);

// As util_model_run, with the kind taken from the first byte (modulo the
// number of kinds): the entry point for a fuzz target.
bool util_model_run_bytes(const uint8_t *data, size_t size, std::string *disagreement);

// Sets alloc_fail_after(successes) for its lifetime and restores "never
// fail" when it ends, so a failing check cannot leak the countdown into
// later tests.
struct UtilAllocFailScope {
    explicit UtilAllocFailScope(long successes);
    ~UtilAllocFailScope();
    UtilAllocFailScope(const UtilAllocFailScope &) = delete;
    UtilAllocFailScope &operator=(const UtilAllocFailScope &) = delete;
};

#endif
