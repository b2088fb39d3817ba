// HashMap: bucket sizing, chained lookup, growth past three quarters full
// and relinking by the stored hash.
#include "util/hashmap.h"

#include <cstddef>
#include <cstring>

#include "util/alloc.h"
#include "util/siphash.h"

// Any fixed value serves: it only spreads keys over buckets and is not a
// secret. These are the fractional parts of the golden ratio and of sqrt(2).
const uint64_t HASHMAP_SIPHASH_KEY[2] = {0x9e3779b97f4a7c15ULL, 0x6a09e667f3bcc908ULL};

static const uint64_t HASHMAP_DEFAULT_BUCKETS = 16;

// The largest power of two not above `hint` (hint > 0).
static uint64_t hashmap_buckets_for_hint(uint64_t hint) {
    uint64_t buckets = 1;
    while (buckets <= hint / 2) buckets *= 2;
    return buckets;
}

// A zeroed array of `bucket_count` chain heads, or null.
static HashEntry **hashmap_alloc_buckets(uint64_t bucket_count) {
    if (bucket_count > SIZE_MAX / sizeof(HashEntry *)) return nullptr;
    return static_cast<HashEntry **>(
        engine_calloc(static_cast<size_t>(bucket_count), sizeof(HashEntry *)));
}

// The key's length: its string length when the caller passed 0.
static uint64_t hashmap_key_length(const void *key, uint64_t length_bytes) {
    return length_bytes != 0 ? length_bytes : strlen(static_cast<const char *>(key));
}

static uint64_t hashmap_hash(const HashMap *map, const void *key, uint64_t length_bytes) {
    return siphash24_words(key, length_bytes, map->key[0], map->key[1]);
}

// Whether `entry` holds the `length` bytes at `key`, whose hash is `hash`.
// Equal keys have equal hashes, so the stored hash settles almost every
// mismatch in the chain without reading the entry's key; the comparison
// function is called only for the entry that is (nearly always) the match.
static inline bool hashmap_entry_matches(const HashMap *map, const HashEntry *entry,
                                         uint64_t hash, const void *key, uint64_t length) {
    return entry->hash == hash && entry->length == length &&
           map->compare(key, entry->key, length) == 0;
}

HashMap *hashmap_create(uint64_t size_hint, HashCompare compare) {
    if (!compare) return nullptr;
    uint64_t bucket_count =
        size_hint == 0 ? HASHMAP_DEFAULT_BUCKETS : hashmap_buckets_for_hint(size_hint);
    HashMap *map = static_cast<HashMap *>(engine_malloc(sizeof(HashMap)));
    if (!map) return nullptr;
    HashEntry **buckets = hashmap_alloc_buckets(bucket_count);
    if (!buckets) {
        engine_free(map);
        return nullptr;
    }
    map->count = 0;
    map->bucket_count = bucket_count;
    map->key[0] = HASHMAP_SIPHASH_KEY[0];
    map->key[1] = HASHMAP_SIPHASH_KEY[1];
    map->buckets = buckets;
    map->compare = compare;
    return map;
}

static void hashmap_release(HashMap *map, bool deep) {
    if (!map) return;
    for (uint64_t b = 0; b < map->bucket_count; b++) {
        HashEntry *entry = map->buckets[b];
        while (entry) {
            HashEntry *next = entry->next;
            if (deep) {
                engine_free(const_cast<void *>(entry->key));
                engine_free(entry->value);
            }
            engine_free(entry);
            entry = next;
        }
    }
    engine_free(map->buckets);
    engine_free(map);
}

void hashmap_destroy(HashMap *map) { hashmap_release(map, false); }

void hashmap_destroy_deep(HashMap *map) { hashmap_release(map, true); }

int hashmap_resize(HashMap *map, uint64_t size_hint) {
    if (!map || size_hint == 0) return -1;
    uint64_t bucket_count = hashmap_buckets_for_hint(size_hint);
    HashEntry **buckets = hashmap_alloc_buckets(bucket_count);
    if (!buckets) return -1;
    uint64_t mask = bucket_count - 1;
    for (uint64_t b = 0; b < map->bucket_count; b++) {
        // Moving entries one by one to the head of their new chain would
        // reverse their order, and an older entry would then shadow a newer
        // one with the same key. Equal keys always share an old chain, so
        // reversing each old chain first keeps them newest first.
        HashEntry *reversed = nullptr;
        HashEntry *entry = map->buckets[b];
        while (entry) {
            HashEntry *next = entry->next;
            entry->next = reversed;
            reversed = entry;
            entry = next;
        }
        while (reversed) {
            HashEntry *next = reversed->next;
            HashEntry **head = &buckets[reversed->hash & mask];
            reversed->next = *head;
            *head = reversed;
            reversed = next;
        }
    }
    engine_free(map->buckets);
    map->buckets = buckets;
    map->bucket_count = bucket_count;
    return 0;
}

HashEntry *hashmap_find(const HashMap *map, const void *key, uint64_t length_bytes) {
    if (!map || !key) return nullptr;
    uint64_t length = hashmap_key_length(key, length_bytes);
    uint64_t hash = hashmap_hash(map, key, length);
    for (HashEntry *entry = map->buckets[hash & (map->bucket_count - 1)]; entry;
         entry = entry->next) {
        if (hashmap_entry_matches(map, entry, hash, key, length)) return entry;
    }
    return nullptr;
}

int hashmap_insert(HashMap *map, const void *key, uint64_t length_bytes, void *value) {
    if (!map || !key) return -1;
    HashEntry *entry = static_cast<HashEntry *>(engine_malloc(sizeof(HashEntry)));
    if (!entry) return -1;
    // Grow when the new entry would pass three quarters of the buckets.
    uint64_t limit = map->bucket_count / 2 + map->bucket_count / 4;
    if (map->count + 1 > limit) {
        if (map->bucket_count > UINT64_MAX / 2 || hashmap_resize(map, map->bucket_count * 2) != 0) {
            engine_free(entry);
            return -1;
        }
    }
    uint64_t length = hashmap_key_length(key, length_bytes);
    entry->hash = hashmap_hash(map, key, length);
    entry->key = key;
    entry->value = value;
    entry->length = length;
    HashEntry **head = &map->buckets[entry->hash & (map->bucket_count - 1)];
    entry->next = *head;
    *head = entry;
    map->count++;
    return 0;
}

int hashmap_remove(HashMap *map, const void *key, uint64_t length_bytes) {
    if (!map || !key) return -1;
    uint64_t length = hashmap_key_length(key, length_bytes);
    uint64_t hash = hashmap_hash(map, key, length);
    HashEntry **link = &map->buckets[hash & (map->bucket_count - 1)];
    while (*link) {
        HashEntry *entry = *link;
        if (hashmap_entry_matches(map, entry, hash, key, length)) {
            *link = entry->next;
            engine_free(entry);
            map->count--;
            return 0;
        }
        link = &entry->next;
    }
    return -1;
}
