// The model checker itself: arbitrary byte strings, as a fuzzer would feed
// them, must run to agreement for every container, and a run must never
// leave the allocation hook armed.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/util_models.h"
#include "util/alloc.h"
#include "util/vector.h"

TEST(UtilModels, ShortArbitraryInputsAgreeForEveryContainer) {
    std::mt19937 rng(2026);
    std::string why;
    EXPECT_TRUE(util_model_run_bytes(nullptr, 0, &why)) << why;
    for (int kind = 0; kind < UTIL_MODEL_KIND_COUNT; kind++) {
        // Every one- and two-byte input, then many short random ones: the
        // sequences cut off mid-step and the first operations on fresh
        // containers are where decoding slips would show.
        for (int a = 0; a < 256; a++) {
            uint8_t one[2] = {static_cast<uint8_t>(kind), static_cast<uint8_t>(a)};
            ASSERT_TRUE(util_model_run_bytes(one, 2, &why)) << "kind " << kind << ": " << why;
            for (int b = 0; b < 256; b += 7) {
                uint8_t two[3] = {static_cast<uint8_t>(kind), static_cast<uint8_t>(a),
                                  static_cast<uint8_t>(b)};
                ASSERT_TRUE(util_model_run_bytes(two, 3, &why)) << "kind " << kind << ": " << why;
            }
        }
        for (int run = 0; run < 300; run++) {
            std::vector<uint8_t> bytes(1 + rng() % 64);
            for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng());
            bytes[0] = static_cast<uint8_t>(kind);
            ASSERT_TRUE(util_model_run_bytes(bytes.data(), bytes.size(), &why))
                << "kind " << kind << " run " << run << ": " << why;
        }
    }
}

TEST(UtilModels, CheckerLeavesAllocationUnhookedAndReportsUnknownKinds) {
    // A run that ends inside a failure step must not leave the countdown
    // armed: an allocation afterwards succeeds.
    const uint8_t vector_fail_at_end[] = {0, 4};  // capacity 0, append without memory
    std::string why;
    EXPECT_TRUE(util_model_run(UTIL_MODEL_VECTOR, vector_fail_at_end, 2, &why)) << why;
    Vector *v = vector_create(4);
    EXPECT_NE(v, nullptr);
    vector_destroy(v);
    EXPECT_FALSE(util_model_run(UTIL_MODEL_KIND_COUNT, vector_fail_at_end, 2, &why));
    EXPECT_NE(why.find("unknown"), std::string::npos) << why;
}
