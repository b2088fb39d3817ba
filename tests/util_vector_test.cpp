// Vector: growth by doubling, insertion into full vectors with the gap built
// in, removal, and failed growth leaving the vector intact.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/util_models.h"
#include "util/alloc.h"
#include "util/vector.h"

static void *tag(uintptr_t n) { return reinterpret_cast<void *>(n); }

// The vector holds exactly tags[0 .. n - 1].
static void expect_items(const Vector *v, std::initializer_list<uintptr_t> tags) {
    ASSERT_EQ(v->count, tags.size());
    uint64_t i = 0;
    for (uintptr_t t : tags) EXPECT_EQ(v->items[i++], tag(t)) << "slot " << i - 1;
}

TEST(UtilVector, GrowsByDoublingFromZeroAndFromSixteen) {
    Vector *v = vector_create(0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->count, 0u);
    EXPECT_EQ(v->capacity, 0u);
    const uint64_t capacities[] = {1, 2, 4, 4, 8};
    for (uintptr_t i = 1; i <= 5; i++) {
        ASSERT_EQ(vector_append(v, tag(i)), 0);
        EXPECT_EQ(v->capacity, capacities[i - 1]) << "after append " << i;
    }
    expect_items(v, {1, 2, 3, 4, 5});
    vector_destroy(v);

    v = vector_create(16);
    ASSERT_NE(v, nullptr);
    for (uintptr_t i = 1; i <= 33; i++) ASSERT_EQ(vector_append(v, tag(i)), 0);
    EXPECT_EQ(v->capacity, 64u);  // 16 -> 32 at the 17th, -> 64 at the 33rd
    for (uint64_t i = 0; i < 33; i++) EXPECT_EQ(v->items[i], tag(i + 1));
    vector_destroy(v);
    vector_destroy(nullptr);  // ignored
}

TEST(UtilVector, InsertIntoFullAndRoomyVectors) {
    // Index 0 into a full vector of three: new item first, capacity 6.
    Vector *v = vector_create(3);
    for (uintptr_t i = 1; i <= 3; i++) vector_append(v, tag(i));
    ASSERT_EQ(vector_insert_at(v, tag(9), 0), 0);
    expect_items(v, {9, 1, 2, 3});
    EXPECT_EQ(v->capacity, 6u);
    vector_destroy(v);

    // Index 2 into a full vector of four: old items 2 and 3 move up.
    v = vector_create(4);
    for (uintptr_t i = 1; i <= 4; i++) vector_append(v, tag(i));
    ASSERT_EQ(vector_insert_at(v, tag(9), 2), 0);
    expect_items(v, {1, 2, 9, 3, 4});
    EXPECT_EQ(v->capacity, 8u);
    // With room: an overlapping move, no growth.
    ASSERT_EQ(vector_insert_at(v, tag(8), 1), 0);
    expect_items(v, {1, 8, 2, 9, 3, 4});
    EXPECT_EQ(v->capacity, 8u);
    // Index == count is an append, growth included.
    ASSERT_EQ(vector_insert_at(v, tag(7), 6), 0);
    ASSERT_EQ(vector_insert_at(v, tag(6), 7), 0);
    ASSERT_EQ(vector_insert_at(v, tag(5), 8), 0);
    expect_items(v, {1, 8, 2, 9, 3, 4, 7, 6, 5});
    EXPECT_EQ(v->capacity, 16u);
    // Beyond count: refused, nothing changes.
    EXPECT_EQ(vector_insert_at(v, tag(4), 10), -1);
    expect_items(v, {1, 8, 2, 9, 3, 4, 7, 6, 5});
    EXPECT_EQ(vector_insert_at(nullptr, tag(1), 0), -1);
    EXPECT_EQ(vector_append(nullptr, tag(1)), -1);
    vector_destroy(v);

    // Into an empty zero-capacity vector, index 0 is an append.
    v = vector_create(0);
    ASSERT_EQ(vector_insert_at(v, tag(1), 0), 0);
    expect_items(v, {1});
    EXPECT_EQ(v->capacity, 1u);
    vector_destroy(v);
}

TEST(UtilVector, RemoveShiftsDownAndRefusesOutOfRange) {
    Vector *v = vector_create(0);
    EXPECT_EQ(vector_remove_at(v, 0), nullptr);  // empty
    EXPECT_EQ(vector_remove_at(nullptr, 0), nullptr);
    for (uintptr_t i = 1; i <= 5; i++) vector_append(v, tag(i));
    EXPECT_EQ(vector_remove_at(v, 5), nullptr);  // index == count
    EXPECT_EQ(vector_remove_at(v, UINT64_MAX), nullptr);
    expect_items(v, {1, 2, 3, 4, 5});
    EXPECT_EQ(vector_remove_at(v, 1), tag(2));
    expect_items(v, {1, 3, 4, 5});
    EXPECT_EQ(vector_remove_at(v, 3), tag(5));  // the last slot
    EXPECT_EQ(v->items[3], nullptr);            // is cleared
    expect_items(v, {1, 3, 4});
    EXPECT_EQ(vector_remove_at(v, 0), tag(1));
    expect_items(v, {3, 4});
    EXPECT_EQ(v->capacity, 8u);  // removal never shrinks
    vector_destroy(v);

    v = vector_create(1);
    vector_append(v, tag(7));
    EXPECT_EQ(vector_remove_at(v, 0), tag(7));
    EXPECT_EQ(v->count, 0u);
    vector_destroy(v);
}

TEST(UtilVector, FailedGrowthLeavesTheVectorIntact) {
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(vector_create(4), nullptr);  // the record
    }
    {
        UtilAllocFailScope one(1);
        EXPECT_EQ(vector_create(4), nullptr);  // the array, record released
    }
    {
        UtilAllocFailScope one(1);
        Vector *v = vector_create(0);  // needs only the record
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(vector_append(v, tag(1)), -1);  // first growth 0 -> 1
        EXPECT_EQ(v->count, 0u);
        EXPECT_EQ(v->capacity, 0u);
        alloc_fail_after(-1);
        vector_destroy(v);
    }

    Vector *v = vector_create(2);
    vector_append(v, tag(1));
    vector_append(v, tag(2));
    void **items = v->items;
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(vector_append(v, tag(3)), -1);           // realloc growth
        EXPECT_EQ(vector_insert_at(v, tag(3), 0), -1);     // fresh-array growth
        EXPECT_EQ(vector_insert_at(v, tag(3), 1), -1);
        EXPECT_EQ(vector_insert_at(v, tag(3), 2), -1);     // append path
    }
    EXPECT_EQ(v->items, items);
    EXPECT_EQ(v->capacity, 2u);
    expect_items(v, {1, 2});
    // Still usable afterwards.
    ASSERT_EQ(vector_insert_at(v, tag(3), 1), 0);
    expect_items(v, {1, 3, 2});
    EXPECT_EQ(v->capacity, 4u);
    vector_destroy(v);
}

TEST(UtilVector, AgreesWithStdVectorOnRandomSequences) {
    for (uint32_t seed = 1; seed <= 20; seed++) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> ops(20000);
        for (uint8_t &b : ops) b = static_cast<uint8_t>(rng());
        std::string why;
        EXPECT_TRUE(util_model_run(UTIL_MODEL_VECTOR, ops.data(), ops.size(), &why))
            << "seed " << seed << ": " << why;
    }
}
