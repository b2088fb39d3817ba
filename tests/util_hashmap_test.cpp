// HashMap and SipHash-2-4: the published vectors, bucket counts from hints,
// growth points, string and explicit-length keys, shadowing duplicates,
// failed allocations, and agreement with std::unordered_multimap.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/util_models.h"
#include "util/alloc.h"
#include "util/hashmap.h"
#include "util/siphash.h"

static int compare_bytes(const void *a, const void *b, uint64_t length_bytes) {
    return memcmp(a, b, length_bytes);
}

static void *tag(uintptr_t n) { return reinterpret_cast<void *>(n); }

// The SipHash authors' reference outputs, computed independently (see the
// file's header): key 00..0f, message 00..n-1 for n = 0 to 63.
TEST(UtilSipHash, ReproducesAll64PublishedVectors) {
    const char *path = ENGINE_SOURCE_DIR "/tests/data/siphash24-vectors.txt";
    FILE *file = fopen(path, "r");
    ASSERT_NE(file, nullptr) << "cannot open " << path;
    uint8_t key[SIPHASH_KEY_BYTES];
    for (int i = 0; i < SIPHASH_KEY_BYTES; i++) key[i] = static_cast<uint8_t>(i);
    uint8_t message[64];
    for (int i = 0; i < 64; i++) message[i] = static_cast<uint8_t>(i);
    char line[256];
    int checked = 0;
    while (fgets(line, sizeof line, file)) {
        if (line[0] == '#' || line[0] == '\n') continue;
        unsigned n;
        unsigned long long expected;
        char bytes_hex[17];
        ASSERT_EQ(sscanf(line, "%u %llx %16s", &n, &expected, bytes_hex), 3) << line;
        ASSERT_LT(n, 64u);
        EXPECT_EQ(siphash24(message, n, key), expected) << "length " << n;
        // The byte column is the same value in little-endian order.
        uint64_t from_bytes = 0;
        for (int i = 7; i >= 0; i--) {
            unsigned byte;
            ASSERT_EQ(sscanf(bytes_hex + 2 * i, "%2x", &byte), 1);
            from_bytes = (from_bytes << 8) | byte;
        }
        EXPECT_EQ(from_bytes, expected) << "length " << n;
        // The word form with k0, k1 read little-endian from the key bytes.
        EXPECT_EQ(siphash24_words(message, n, 0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL),
                  expected);
        checked++;
    }
    fclose(file);
    EXPECT_EQ(checked, 64);
}

// Every length from 0 to 40 at every alignment, with the message's last
// byte the last byte of its own allocation (so the sanitizer build catches
// any read past the end), against the same bytes in a fresh aligned copy,
// and against a message that differs in that last byte.
TEST(UtilSipHash, ReadsExactlyTheMessageAtAnyAlignment) {
    std::mt19937 rng(7);
    for (uint64_t length = 0; length <= 40; length++) {
        for (uint64_t offset = 0; offset < 8; offset++) {
            std::vector<uint8_t> bytes(offset + length);
            for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng());
            uint8_t *exact = static_cast<uint8_t *>(malloc(bytes.empty() ? 1 : bytes.size()));
            ASSERT_NE(exact, nullptr);
            std::vector<uint64_t> aligned((length + 7) / 8 + 1);
            if (!bytes.empty()) memcpy(exact, bytes.data(), bytes.size());
            if (length > 0) memcpy(aligned.data(), bytes.data() + offset, length);
            uint64_t hash = siphash24_words(exact + offset, length, 1, 2);
            EXPECT_EQ(hash, siphash24_words(aligned.data(), length, 1, 2))
                << "length " << length << " offset " << offset;
            if (length > 0) {
                exact[offset + length - 1] ^= 0x80;
                EXPECT_NE(hash, siphash24_words(exact + offset, length, 1, 2))
                    << "length " << length << " offset " << offset;
            }
            free(exact);
        }
    }
}

TEST(UtilHashMap, BucketCountsFromHints) {
    EXPECT_EQ(hashmap_create(4, nullptr), nullptr);  // no compare function
    const struct { uint64_t hint, buckets; } cases[] = {
        {0, 16}, {1, 1}, {2, 2}, {3, 2}, {5, 4}, {16, 16}, {17, 16}, {100, 64}, {1024, 1024}};
    for (const auto &c : cases) {
        HashMap *map = hashmap_create(c.hint, compare_bytes);
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->bucket_count, c.buckets) << "hint " << c.hint;
        EXPECT_EQ(map->count, 0u);
        EXPECT_EQ(map->key[0], HASHMAP_SIPHASH_KEY[0]);
        EXPECT_EQ(map->key[1], HASHMAP_SIPHASH_KEY[1]);
        for (uint64_t b = 0; b < map->bucket_count; b++) EXPECT_EQ(map->buckets[b], nullptr);
        EXPECT_EQ(hashmap_resize(map, 0), -1);
        EXPECT_EQ(map->bucket_count, c.buckets);
        hashmap_destroy(map);
    }
    EXPECT_EQ(hashmap_resize(nullptr, 8), -1);
    hashmap_destroy(nullptr);
    hashmap_destroy_deep(nullptr);
}

TEST(UtilHashMap, GrowsPastThreeQuarters) {
    std::vector<std::string> keys;
    for (int i = 0; i < 40; i++) keys.push_back("key" + std::to_string(i));

    // Hint 0: 16 buckets; the 13th insertion grows to 32, the 25th to 64.
    HashMap *map = hashmap_create(0, compare_bytes);
    for (int i = 0; i < 40; i++) {
        uint64_t before = map->bucket_count;
        ASSERT_EQ(hashmap_insert(map, keys[i].c_str(), 0, tag(i + 1)), 0);
        int n = i + 1;
        uint64_t expected = n < 13 ? 16 : n < 25 ? 32 : n < 49 ? 64 : 128;
        EXPECT_EQ(map->bucket_count, expected) << "after insertion " << n;
        if (n == 13 || n == 25) {
            EXPECT_EQ(map->bucket_count, before * 2);
        }
    }
    EXPECT_EQ(map->count, 40u);
    for (int i = 0; i < 40; i++) {
        HashEntry *e = hashmap_find(map, keys[i].c_str(), 0);
        ASSERT_NE(e, nullptr) << keys[i];
        EXPECT_EQ(e->value, tag(i + 1));
        EXPECT_EQ(e->key, keys[i].c_str());  // the caller's pointer, not a copy
        EXPECT_EQ(e->length, keys[i].size());
        EXPECT_EQ(e->hash & (map->bucket_count - 1),
                  siphash24_words(keys[i].data(), keys[i].size(), map->key[0], map->key[1]) &
                      (map->bucket_count - 1));
    }
    hashmap_destroy(map);

    // Hint 1: one bucket, 2 at the first insertion, 4 at the second.
    map = hashmap_create(1, compare_bytes);
    EXPECT_EQ(map->bucket_count, 1u);
    ASSERT_EQ(hashmap_insert(map, "a", 0, tag(1)), 0);
    EXPECT_EQ(map->bucket_count, 2u);
    ASSERT_EQ(hashmap_insert(map, "b", 0, tag(2)), 0);
    EXPECT_EQ(map->bucket_count, 4u);
    ASSERT_EQ(hashmap_insert(map, "c", 0, tag(3)), 0);
    EXPECT_EQ(map->bucket_count, 4u);  // 3 is not above 3
    ASSERT_EQ(hashmap_insert(map, "d", 0, tag(4)), 0);
    EXPECT_EQ(map->bucket_count, 8u);
    for (const char *k : {"a", "b", "c", "d"}) EXPECT_NE(hashmap_find(map, k, 0), nullptr) << k;
    hashmap_destroy(map);
}

TEST(UtilHashMap, ResizeShrinksAndGrowsKeepingEveryEntry) {
    HashMap *map = hashmap_create(16, compare_bytes);
    std::vector<std::string> keys;
    for (int i = 0; i < 12; i++) keys.push_back("entry-" + std::to_string(i * 7));
    for (int i = 0; i < 12; i++) ASSERT_EQ(hashmap_insert(map, keys[i].c_str(), 0, tag(i + 1)), 0);
    ASSERT_EQ(map->bucket_count, 16u);
    for (uint64_t hint : {5u, 1u, 1000u, 33u}) {
        ASSERT_EQ(hashmap_resize(map, hint), 0);
        uint64_t expected = hint == 5 ? 4 : hint == 1 ? 1 : hint == 1000 ? 512 : 32;
        EXPECT_EQ(map->bucket_count, expected);
        EXPECT_EQ(map->count, 12u);
        uint64_t chained = 0;
        for (uint64_t b = 0; b < map->bucket_count; b++)
            for (HashEntry *e = map->buckets[b]; e; e = e->next) {
                EXPECT_EQ(e->hash & (map->bucket_count - 1), b);
                chained++;
            }
        EXPECT_EQ(chained, 12u);
        for (int i = 0; i < 12; i++) {
            HashEntry *e = hashmap_find(map, keys[i].c_str(), 0);
            ASSERT_NE(e, nullptr) << "hint " << hint << " key " << keys[i];
            EXPECT_EQ(e->value, tag(i + 1));
        }
    }
    hashmap_destroy(map);
}

TEST(UtilHashMap, StringKeysExplicitLengthsAndLengthMismatch) {
    HashMap *map = hashmap_create(0, compare_bytes);
    // Inserted with an explicit length, found as a string, and conversely;
    // the search key is a different copy of the same bytes.
    char explicit_key[] = {'a', 'p', 'p', 'l', 'e'};
    ASSERT_EQ(hashmap_insert(map, explicit_key, sizeof explicit_key, tag(1)), 0);
    std::string apple = "apple";
    HashEntry *e = hashmap_find(map, apple.c_str(), 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, tag(1));
    EXPECT_EQ(e->length, 5u);
    ASSERT_EQ(hashmap_insert(map, "pear", 0, tag(2)), 0);
    e = hashmap_find(map, "pear-and-more", 4);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, tag(2));
    EXPECT_EQ(e->length, 4u);

    // Keys agreeing on their first bytes but differing in length.
    EXPECT_EQ(hashmap_find(map, "app", 0), nullptr);
    EXPECT_EQ(hashmap_find(map, "apple", 4), nullptr);
    EXPECT_EQ(hashmap_find(map, "apples", 0), nullptr);
    EXPECT_EQ(hashmap_remove(map, "appl", 0), -1);
    ASSERT_EQ(hashmap_insert(map, "appl", 0, tag(3)), 0);
    EXPECT_EQ(hashmap_find(map, "apple", 0)->value, tag(1));
    EXPECT_EQ(hashmap_find(map, "apple", 4)->value, tag(3));

    // Zero bytes inside a key count when the length is explicit.
    const char with_zero[] = {'x', '\0', 'y'};
    ASSERT_EQ(hashmap_insert(map, with_zero, 3, tag(4)), 0);
    EXPECT_EQ(hashmap_find(map, "x", 0), nullptr);
    EXPECT_EQ(hashmap_find(map, with_zero, 3)->value, tag(4));

    // The empty string is a key like any other.
    ASSERT_EQ(hashmap_insert(map, "", 0, tag(5)), 0);
    e = hashmap_find(map, "", 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, tag(5));
    EXPECT_EQ(e->length, 0u);

    EXPECT_EQ(hashmap_find(map, nullptr, 3), nullptr);
    EXPECT_EQ(hashmap_find(nullptr, "apple", 0), nullptr);
    EXPECT_EQ(hashmap_insert(map, nullptr, 0, tag(9)), -1);
    EXPECT_EQ(hashmap_insert(nullptr, "a", 0, tag(9)), -1);
    EXPECT_EQ(hashmap_remove(map, nullptr, 0), -1);
    EXPECT_EQ(hashmap_remove(nullptr, "a", 0), -1);
    EXPECT_EQ(map->count, 5u);
    hashmap_destroy(map);
}

TEST(UtilHashMap, DuplicateKeysShadowNewestFirstAcrossGrowth) {
    HashMap *map = hashmap_create(1, compare_bytes);
    ASSERT_EQ(hashmap_insert(map, "dup", 0, tag(1)), 0);
    ASSERT_EQ(hashmap_insert(map, "dup", 0, tag(2)), 0);
    EXPECT_EQ(map->count, 2u);
    EXPECT_EQ(hashmap_find(map, "dup", 0)->value, tag(2));
    // Growth relinks both entries; the newer one must still come first.
    for (int i = 0; i < 20; i++) {
        std::string *k = new std::string("filler" + std::to_string(i));
        ASSERT_EQ(hashmap_insert(map, k->c_str(), 0, k), 0);
    }
    ASSERT_EQ(hashmap_insert(map, "dup", 0, tag(3)), 0);
    ASSERT_EQ(hashmap_resize(map, 2), 0);  // shrinking merges chains
    ASSERT_EQ(hashmap_resize(map, 256), 0);
    EXPECT_EQ(hashmap_find(map, "dup", 0)->value, tag(3));
    EXPECT_EQ(hashmap_remove(map, "dup", 0), 0);
    EXPECT_EQ(hashmap_find(map, "dup", 0)->value, tag(2));
    EXPECT_EQ(hashmap_remove(map, "dup", 0), 0);
    EXPECT_EQ(hashmap_find(map, "dup", 0)->value, tag(1));
    EXPECT_EQ(hashmap_remove(map, "dup", 0), 0);
    EXPECT_EQ(hashmap_find(map, "dup", 0), nullptr);
    EXPECT_EQ(hashmap_remove(map, "dup", 0), -1);
    EXPECT_EQ(map->count, 20u);
    for (uint64_t b = 0; b < map->bucket_count; b++)
        for (HashEntry *e = map->buckets[b]; e; e = e->next)
            delete static_cast<std::string *>(e->value);
    hashmap_destroy(map);
}

static int compare_calls;

static int compare_bytes_counted(const void *a, const void *b, uint64_t length_bytes) {
    compare_calls++;
    return memcmp(a, b, length_bytes);
}

// All keys of one length in a single chain: the stored hashes tell them
// apart, so finding or removing a key calls the comparison function only
// for its own entry, and a missing key never calls it.
TEST(UtilHashMap, ComparesOnlyEntriesWithTheSearchKeysHash) {
    HashMap *map = hashmap_create(64, compare_bytes_counted);
    std::vector<std::string> keys;
    for (int i = 0; i < 40; i++) keys.push_back("same" + std::to_string(1000 + i));
    for (int i = 0; i < 40; i++) ASSERT_EQ(hashmap_insert(map, keys[i].c_str(), 0, tag(i + 1)), 0);
    ASSERT_EQ(hashmap_resize(map, 1), 0);
    compare_calls = 0;
    for (int i = 0; i < 40; i++) {
        HashEntry *e = hashmap_find(map, keys[i].c_str(), 0);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->value, tag(i + 1));
    }
    EXPECT_EQ(compare_calls, 40);
    EXPECT_EQ(hashmap_find(map, "same0999", 0), nullptr);
    EXPECT_EQ(compare_calls, 40);
    EXPECT_EQ(hashmap_remove(map, keys[20].c_str(), 0), 0);
    EXPECT_EQ(compare_calls, 41);
    EXPECT_EQ(hashmap_remove(map, keys[20].c_str(), 0), -1);
    EXPECT_EQ(compare_calls, 41);
    hashmap_destroy(map);
}

TEST(UtilHashMap, DestroyDeepReleasesKeysAndValues) {
    // Keys and values allocated one by one through the general allocator;
    // a leak checker (the sanitizer build) sees any that stay behind.
    HashMap *map = hashmap_create(2, compare_bytes);
    for (int i = 0; i < 10; i++) {
        char *key = static_cast<char *>(engine_malloc(16));
        snprintf(key, 16, "k%d", i);
        int *value = static_cast<int *>(engine_malloc(sizeof(int)));
        *value = i;
        ASSERT_EQ(hashmap_insert(map, key, 0, value), 0);
    }
    EXPECT_EQ(*static_cast<int *>(hashmap_find(map, "k7", 0)->value), 7);
    hashmap_destroy_deep(map);
}

TEST(UtilHashMap, FailedAllocationsLeaveTheMapAsItWas) {
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(hashmap_create(8, compare_bytes), nullptr);  // the record
    }
    {
        UtilAllocFailScope one(1);
        EXPECT_EQ(hashmap_create(8, compare_bytes), nullptr);  // the buckets
    }
    HashMap *map = hashmap_create(4, compare_bytes);  // grows at the 4th insertion
    ASSERT_EQ(hashmap_insert(map, "one", 0, tag(1)), 0);
    ASSERT_EQ(hashmap_insert(map, "two", 0, tag(2)), 0);
    {
        UtilAllocFailScope no_memory(0);  // the entry itself
        EXPECT_EQ(hashmap_insert(map, "three", 0, tag(3)), -1);
    }
    EXPECT_EQ(map->count, 2u);
    EXPECT_EQ(hashmap_find(map, "three", 0), nullptr);
    ASSERT_EQ(hashmap_insert(map, "three", 0, tag(3)), 0);
    HashEntry **buckets = map->buckets;
    {
        UtilAllocFailScope entry_only(1);  // the entry, then not the growth
        EXPECT_EQ(hashmap_insert(map, "four", 0, tag(4)), -1);
    }
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(hashmap_resize(map, 64), -1);
    }
    EXPECT_EQ(map->buckets, buckets);
    EXPECT_EQ(map->bucket_count, 4u);
    EXPECT_EQ(map->count, 3u);
    EXPECT_EQ(hashmap_find(map, "four", 0), nullptr);
    EXPECT_EQ(hashmap_find(map, "one", 0)->value, tag(1));
    EXPECT_EQ(hashmap_find(map, "two", 0)->value, tag(2));
    EXPECT_EQ(hashmap_find(map, "three", 0)->value, tag(3));
    // Usable afterwards.
    ASSERT_EQ(hashmap_insert(map, "four", 0, tag(4)), 0);
    EXPECT_EQ(map->bucket_count, 8u);
    EXPECT_EQ(hashmap_find(map, "four", 0)->value, tag(4));
    hashmap_destroy(map);
}

TEST(UtilHashMap, AgreesWithUnorderedMultimapOnRandomSequences) {
    for (uint32_t seed = 1; seed <= 8; seed++) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> ops(6000);
        for (uint8_t &b : ops) b = static_cast<uint8_t>(rng());
        std::string why;
        EXPECT_TRUE(util_model_run(UTIL_MODEL_HASHMAP, ops.data(), ops.size(), &why))
            << "seed " << seed << ": " << why;
    }
}
