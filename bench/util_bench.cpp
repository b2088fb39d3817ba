// Container and UTF-8 speed: HashMap insert/find of 100000 short string
// keys against std::unordered_map<std::string_view, void *>, vector_append
// of a million items against std::vector<void *>, and utf8_char_count over
// 1 MiB of mixed text. The *VsStd benchmarks time the engine's container and
// its standard counterpart alternately inside one benchmark, so both see the
// same machine at the same moment; their `ratio` counter (engine time over
// standard time) is the figure the containers are held to.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "util/hashmap.h"
#include "util/utf8.h"
#include "util/vector.h"

#include "support/bench_side_by_side.h"

static const int BENCH_KEY_COUNT = 100000;
static const int BENCH_VECTOR_ITEMS = 1000000;
static const size_t BENCH_TEXT_BYTES = 1 << 20;

// Short keys "key0" .. "key99999", stored once so every map sees the same
// bytes at the same addresses.
static const std::vector<std::string> &bench_keys(void) {
    static std::vector<std::string> keys;
    if (keys.empty())
        for (int i = 0; i < BENCH_KEY_COUNT; i++) keys.push_back("key" + std::to_string(i));
    return keys;
}

static int compare_bytes(const void *a, const void *b, uint64_t length_bytes) {
    return memcmp(a, b, length_bytes);
}

static void *item_for(size_t i) { return reinterpret_cast<void *>(i + 1); }

static void BM_HashMapInsert(benchmark::State &state) {
    const auto &keys = bench_keys();
    for (auto _ : state) {
        HashMap *map = hashmap_create(0, compare_bytes);
        for (size_t i = 0; i < keys.size(); i++)
            hashmap_insert(map, keys[i].data(), keys[i].size(), item_for(i));
        benchmark::DoNotOptimize(map->count);
        hashmap_destroy(map);
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}
BENCHMARK(BM_HashMapInsert)->Unit(benchmark::kMillisecond);

static void BM_StdUnorderedMapInsert(benchmark::State &state) {
    const auto &keys = bench_keys();
    for (auto _ : state) {
        std::unordered_map<std::string_view, void *> map;
        for (size_t i = 0; i < keys.size(); i++) map.emplace(keys[i], item_for(i));
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}
BENCHMARK(BM_StdUnorderedMapInsert)->Unit(benchmark::kMillisecond);

static void BM_HashMapFind(benchmark::State &state) {
    const auto &keys = bench_keys();
    HashMap *map = hashmap_create(0, compare_bytes);
    for (size_t i = 0; i < keys.size(); i++)
        hashmap_insert(map, keys[i].data(), keys[i].size(), item_for(i));
    for (auto _ : state) {
        for (const std::string &key : keys) {
            HashEntry *entry = hashmap_find(map, key.data(), key.size());
            benchmark::DoNotOptimize(entry->value);
        }
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
    hashmap_destroy(map);
}
BENCHMARK(BM_HashMapFind)->Unit(benchmark::kMillisecond);

static void BM_StdUnorderedMapFind(benchmark::State &state) {
    const auto &keys = bench_keys();
    std::unordered_map<std::string_view, void *> map;
    for (size_t i = 0; i < keys.size(); i++) map.emplace(keys[i], item_for(i));
    for (auto _ : state) {
        for (const std::string &key : keys) {
            auto it = map.find(key);
            benchmark::DoNotOptimize(it->second);
        }
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}
BENCHMARK(BM_StdUnorderedMapFind)->Unit(benchmark::kMillisecond);

// Every key looked up once in each map holding the same 100000 keys; in
// insertion order (argument 0) or in a fixed shuffled order (argument 1).
static void BM_HashMapFindVsStd(benchmark::State &state) {
    const auto &keys = bench_keys();
    HashMap *map = hashmap_create(0, compare_bytes);
    std::unordered_map<std::string_view, void *> reference;
    for (size_t i = 0; i < keys.size(); i++) {
        hashmap_insert(map, keys[i].data(), keys[i].size(), item_for(i));
        reference.emplace(keys[i], item_for(i));
    }
    std::vector<std::string_view> order(keys.begin(), keys.end());
    if (state.range(0) == 1) std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    bench_side_by_side(
        state, order.size(),
        [&] {
            for (std::string_view key : order)
                benchmark::DoNotOptimize(hashmap_find(map, key.data(), key.size())->value);
        },
        [&] {
            for (std::string_view key : order) benchmark::DoNotOptimize(reference.find(key)->second);
        });
    hashmap_destroy(map);
}
BENCHMARK(BM_HashMapFindVsStd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A million appends to an empty vector against push_back on an empty
// std::vector, each grown from nothing and released every time.
static void BM_VectorAppendVsStd(benchmark::State &state) {
    bench_side_by_side(
        state, BENCH_VECTOR_ITEMS,
        [] {
            Vector *vector = vector_create(0);
            for (int i = 0; i < BENCH_VECTOR_ITEMS; i++) vector_append(vector, item_for(i));
            benchmark::DoNotOptimize(vector->items);
            vector_destroy(vector);
        },
        [] {
            std::vector<void *> vector;
            for (int i = 0; i < BENCH_VECTOR_ITEMS; i++) vector.push_back(item_for(i));
            benchmark::DoNotOptimize(vector.data());
        });
}
BENCHMARK(BM_VectorAppendVsStd)->Unit(benchmark::kMillisecond);

// The append itself: a million appends into a vector that already has room
// for them (emptied by resetting its count) against push_back after clear()
// on a std::vector of the same capacity, so no allocation or page fault is
// timed on either side.
static void BM_VectorAppendWithRoomVsStd(benchmark::State &state) {
    Vector *vector = vector_create(BENCH_VECTOR_ITEMS);
    std::vector<void *> reference;
    reference.reserve(BENCH_VECTOR_ITEMS);
    bench_side_by_side(
        state, BENCH_VECTOR_ITEMS,
        [&] {
            vector->count = 0;
            for (int i = 0; i < BENCH_VECTOR_ITEMS; i++) vector_append(vector, item_for(i));
            benchmark::DoNotOptimize(vector->items);
            benchmark::ClobberMemory();
        },
        [&] {
            reference.clear();
            for (int i = 0; i < BENCH_VECTOR_ITEMS; i++) reference.push_back(item_for(i));
            benchmark::DoNotOptimize(reference.data());
            benchmark::ClobberMemory();
        });
    vector_destroy(vector);
}
BENCHMARK(BM_VectorAppendWithRoomVsStd)->Unit(benchmark::kMillisecond);

static void BM_VectorAppend(benchmark::State &state) {
    for (auto _ : state) {
        Vector *vector = vector_create(0);
        for (int i = 0; i < BENCH_VECTOR_ITEMS; i++) vector_append(vector, item_for(i));
        benchmark::DoNotOptimize(vector->items);
        vector_destroy(vector);
    }
    state.SetItemsProcessed(state.iterations() * BENCH_VECTOR_ITEMS);
}
BENCHMARK(BM_VectorAppend)->Unit(benchmark::kMillisecond);

static void BM_StdVectorPushBack(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<void *> vector;
        for (int i = 0; i < BENCH_VECTOR_ITEMS; i++) vector.push_back(item_for(i));
        benchmark::DoNotOptimize(vector.data());
    }
    state.SetItemsProcessed(state.iterations() * BENCH_VECTOR_ITEMS);
}
BENCHMARK(BM_StdVectorPushBack)->Unit(benchmark::kMillisecond);

// 1 MiB of text cycling through ASCII words, Latin-1 letters (2 bytes), the
// euro sign and CJK (3 bytes) and emoji (4 bytes).
static std::string bench_mixed_text(void) {
    static const char *pieces[] = {"The quick brown fox ", "\xC3\xA9t\xC3\xA9 ",
                                   ("\xE2\x82\xAC" "42 "), "\xE6\x97\xA5\xE6\x9C\xAC ",
                                   "\xF0\x9F\x98\x80 ", "jumps over "};
    std::string text;
    for (size_t i = 0; text.size() < BENCH_TEXT_BYTES; i++) text += pieces[i % 6];
    text.resize(BENCH_TEXT_BYTES);
    // Cutting may split a character; that is fine, the tail is one more
    // invalid-byte character or two.
    return text;
}

static void BM_Utf8CharCount(benchmark::State &state) {
    std::string text = bench_mixed_text();
    for (auto _ : state) benchmark::DoNotOptimize(utf8_char_count(text.c_str()));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_Utf8CharCount)->Unit(benchmark::kMillisecond);
