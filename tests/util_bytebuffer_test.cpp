// ByteBuffer: growth from 0 and from 10, finish and detach, string, prefix
// and raw appends, drop and clear, failed growth at every point, and
// agreement with std::string.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/util_models.h"
#include "util/alloc.h"
#include "util/bytebuffer.h"

static std::string contents(const ByteBuffer *b) {
    return std::string(reinterpret_cast<const char *>(b->data), b->length);
}

TEST(UtilByteBuffer, GrowsByDoubling) {
    ByteBuffer *b = bytebuffer_create(0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->capacity, 0u);
    const uint32_t capacities[] = {1, 2, 4, 4, 8};
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(bytebuffer_append_byte(b, static_cast<uint8_t>('a' + i)), 0);
        EXPECT_EQ(b->capacity, capacities[i]) << "after byte " << i + 1;
        EXPECT_EQ(b->length, static_cast<uint32_t>(i + 1));
    }
    EXPECT_EQ(contents(b), "abcde");
    bytebuffer_destroy(b);

    b = bytebuffer_create(10);
    for (int i = 0; i < 10; i++) bytebuffer_append_byte(b, 'x');
    EXPECT_EQ(b->capacity, 10u);
    bytebuffer_append_byte(b, 'y');  // the 11th byte
    EXPECT_EQ(b->capacity, 20u);
    EXPECT_EQ(contents(b), "xxxxxxxxxxy");
    // A 25-byte run grows twice, just as 25 single appends would.
    EXPECT_EQ(bytebuffer_append_bytes(b, "0123456789012345678901234", 25), 25);
    EXPECT_EQ(b->capacity, 40u);
    EXPECT_EQ(contents(b), "xxxxxxxxxxy0123456789012345678901234");
    bytebuffer_destroy(b);
    bytebuffer_destroy(nullptr);
    EXPECT_EQ(bytebuffer_create(uint64_t(1) << 32), nullptr);  // beyond 32 bits
    EXPECT_EQ(bytebuffer_append_byte(nullptr, 1), -1);
}

TEST(UtilByteBuffer, FinishAndDetach) {
    ByteBuffer *b = bytebuffer_create(0);
    uint64_t length = 99, capacity = 99;
    char *text = bytebuffer_finish(b, &length, &capacity);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(capacity, 1u);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(b->length, 1u);  // the zero counts in the buffer
    ASSERT_NE(bytebuffer_finish(b, nullptr, nullptr), nullptr);  // finishing twice
    EXPECT_EQ(b->length, 2u);
    EXPECT_EQ(contents(b), std::string(2, '\0'));
    bytebuffer_destroy(b);

    // xy + abc finished: "xyabc", reported length 5; later bytes go after
    // the zero.
    b = bytebuffer_create(2);
    bytebuffer_append_byte(b, 'x');
    bytebuffer_append_byte(b, 'y');
    EXPECT_EQ(bytebuffer_append_cstring(b, "abc"), 3);
    text = bytebuffer_finish(b, &length, &capacity);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "xyabc");
    EXPECT_EQ(text, reinterpret_cast<char *>(b->data));
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(capacity, 8u);
    EXPECT_EQ(b->length, 6u);
    bytebuffer_append_byte(b, 'z');
    EXPECT_EQ(contents(b), std::string("xyabc\0z", 7));

    // Detach: the storage, now the caller's, with the contents and a zero.
    text = bytebuffer_detach(b, &length, &capacity);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(capacity, 8u);
    EXPECT_EQ(std::string(text, 8), std::string("xyabc\0z\0", 8));
    engine_free(text);
    EXPECT_EQ(bytebuffer_detach(nullptr, &length, &capacity), nullptr);
    EXPECT_EQ(bytebuffer_finish(nullptr, &length, nullptr), nullptr);
}

TEST(UtilByteBuffer, StringPrefixAndRawAppends) {
    ByteBuffer *b = bytebuffer_create(4);
    EXPECT_EQ(bytebuffer_append_prefix(b, "abc", 10), 3);  // stops at the zero
    EXPECT_EQ(bytebuffer_append_prefix(b, "abc", 2), 2);   // stops at n
    EXPECT_EQ(bytebuffer_append_prefix(b, "abc", 0), 0);
    EXPECT_EQ(contents(b), "abcab");
    // A prefix bounded by n may come from an array without a zero.
    const char unterminated[3] = {'p', 'q', 'r'};
    EXPECT_EQ(bytebuffer_append_prefix(b, unterminated, 3), 3);
    EXPECT_EQ(bytebuffer_append_cstring(b, ""), 0);
    const uint8_t raw[4] = {0, 'm', 0, 0};
    EXPECT_EQ(bytebuffer_append_bytes(b, raw, 4), 4);  // zeros included
    EXPECT_EQ(bytebuffer_append_bytes(b, raw, 0), 0);
    EXPECT_EQ(contents(b), std::string("abcabpqr\0m\0\0", 12));

    EXPECT_EQ(bytebuffer_append_cstring(b, nullptr), -1);
    EXPECT_EQ(bytebuffer_append_prefix(b, nullptr, 3), -1);
    EXPECT_EQ(bytebuffer_append_bytes(b, nullptr, 3), -1);
    EXPECT_EQ(bytebuffer_append_cstring(nullptr, "a"), -1);
    EXPECT_EQ(bytebuffer_append_prefix(nullptr, "a", 1), -1);
    EXPECT_EQ(bytebuffer_append_bytes(nullptr, "a", 1), -1);
    EXPECT_EQ(b->length, 12u);
    bytebuffer_destroy(b);
}

TEST(UtilByteBuffer, DropAndClear) {
    ByteBuffer *b = bytebuffer_create(0);
    bytebuffer_append_cstring(b, "hello");
    uint8_t *data = b->data;
    EXPECT_EQ(bytebuffer_drop(b, 2), 2);
    EXPECT_EQ(contents(b), "hel");
    EXPECT_EQ(bytebuffer_drop(b, 10), 3);  // limited to the length
    EXPECT_EQ(b->length, 0u);
    EXPECT_EQ(bytebuffer_drop(b, 1), 0);
    EXPECT_EQ(b->data, data);  // neither moved nor shrunk
    EXPECT_EQ(b->capacity, 8u);
    bytebuffer_append_cstring(b, "again");
    EXPECT_EQ(bytebuffer_clear(b), 5);
    EXPECT_EQ(b->length, 0u);
    EXPECT_EQ(b->capacity, 8u);
    EXPECT_EQ(bytebuffer_clear(b), 0);
    EXPECT_EQ(bytebuffer_drop(nullptr, 1), -1);
    EXPECT_EQ(bytebuffer_clear(nullptr), -1);
    bytebuffer_destroy(b);
}

TEST(UtilByteBuffer, FailedGrowthAtEveryPoint) {
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(bytebuffer_create(8), nullptr);
    }
    {
        UtilAllocFailScope one(1);
        EXPECT_EQ(bytebuffer_create(8), nullptr);  // storage fails, record released
    }
    ByteBuffer *b = bytebuffer_create(4);
    bytebuffer_append_cstring(b, "abcd");  // full
    uint8_t *data = b->data;
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(bytebuffer_append_byte(b, 'e'), -1);
        EXPECT_EQ(bytebuffer_append_cstring(b, "ef"), -1);
        EXPECT_EQ(bytebuffer_append_prefix(b, "ef", 1), -1);
        EXPECT_EQ(bytebuffer_append_bytes(b, "ef", 2), -1);
        uint64_t length = 0;
        EXPECT_EQ(bytebuffer_finish(b, &length, nullptr), nullptr);
        EXPECT_EQ(bytebuffer_detach(b, nullptr, nullptr), nullptr);  // buffer kept
    }
    EXPECT_EQ(b->data, data);
    EXPECT_EQ(b->capacity, 4u);
    EXPECT_EQ(contents(b), "abcd");

    // One growth allowed, two needed: the bytes that fitted before the
    // failing growth stay, as after a run of single-byte appends.
    {
        UtilAllocFailScope one(1);
        EXPECT_EQ(bytebuffer_append_cstring(b, "0123456789"), -1);
    }
    EXPECT_EQ(b->capacity, 8u);
    EXPECT_EQ(contents(b), "abcd0123");
    // Usable afterwards.
    EXPECT_EQ(bytebuffer_append_cstring(b, "45"), 2);
    EXPECT_EQ(contents(b), "abcd012345");
    EXPECT_EQ(b->capacity, 16u);
    char *text = bytebuffer_detach(b, nullptr, nullptr);
    EXPECT_STREQ(text, "abcd012345");
    engine_free(text);
}

TEST(UtilByteBuffer, RefusesToGrowPast32Bits) {
    // A buffer of 2^31 + 1 bytes cannot double within 32 bits: the append
    // fails instead of wrapping the capacity. Only the record and a lazily
    // touched allocation are made, so this costs no real memory.
    const uint64_t capacity = (static_cast<uint64_t>(1) << 31) + 1;
    ByteBuffer *b = bytebuffer_create(capacity);
    if (!b) GTEST_SKIP() << "no address space for a 2 GiB buffer";
    b->length = b->capacity;  // pretend it is full, without writing 2 GiB
    EXPECT_EQ(bytebuffer_append_byte(b, 'x'), -1);
    EXPECT_EQ(bytebuffer_append_bytes(b, "xy", 2), -1);
    EXPECT_EQ(b->capacity, capacity);
    EXPECT_EQ(b->length, capacity);
    EXPECT_EQ(bytebuffer_drop(b, capacity), static_cast<int64_t>(capacity));
    EXPECT_EQ(bytebuffer_append_byte(b, 'x'), 0);  // room again
    bytebuffer_destroy(b);
}

TEST(UtilByteBuffer, AgreesWithStdStringOnRandomSequences) {
    for (uint32_t seed = 1; seed <= 20; seed++) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> ops(20000);
        for (uint8_t &b : ops) b = static_cast<uint8_t>(rng());
        std::string why;
        EXPECT_TRUE(util_model_run(UTIL_MODEL_BYTEBUFFER, ops.data(), ops.size(), &why))
            << "seed " << seed << ": " << why;
    }
}
