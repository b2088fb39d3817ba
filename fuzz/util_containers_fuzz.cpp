// Fuzzes operation sequences on the vector, hash map, list and byte buffer
// (failed allocations included) against standard-library models; any
// disagreement or memory error is a finding.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/util_models.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string disagreement;
    if (!util_model_run_bytes(data, size, &disagreement)) {
        fprintf(stderr, "FUZZ: container disagrees with its model: %s\n", disagreement.c_str());
        abort();
    }
    return 0;
}
