// HashMap: a separately chained hash table keyed by byte strings (or
// zero-terminated strings), hashed with SipHash-2-4 under one fixed key. It
// stores the caller's key pointers and values as they are and copies nothing.
#ifndef UTIL_HASHMAP_H
#define UTIL_HASHMAP_H

#include <cstdint>

// Key equality: 0 when the `length_bytes` bytes at a and b are equal
// (memcmp has this shape and is the usual choice).
typedef int (*HashCompare)(const void *a, const void *b, uint64_t length_bytes);

// One stored key. It lives in bucket hash & (bucket_count - 1); the full
// hash is kept so that growth relinks entries without hashing keys again,
// and so that a lookup passes over entries whose hash differs from the
// search key's without calling the comparison function.
struct HashEntry {
    uint64_t hash;          // SipHash-2-4 of the key's bytes
    const void *key;        // the caller's key, not copied
    void *value;            // the caller's value
    uint64_t length;        // key length in bytes
    HashEntry *next;        // next entry of the same bucket, null at the end
};

// Invariants: bucket_count is a power of two; `count` entries hang off the
// chains, each in the bucket its stored hash selects. Entries with equal
// keys sit in one chain, newest first. The map owns entries and the bucket
// array; keys and values are the caller's (except under
// hashmap_destroy_deep). `buckets` is replaced whenever the map resizes.
struct HashMap {
    uint64_t count;         // entries stored
    uint64_t bucket_count;  // a power of two
    uint64_t key[2];        // SipHash key words k0, k1, copied at creation
    HashEntry **buckets;    // chain heads, null for an empty bucket
    HashCompare compare;    // key equality
};

// The SipHash key every map copies at creation, as its two words.
extern const uint64_t HASHMAP_SIPHASH_KEY[2];

// A new empty map. The bucket count is the largest power of two not above
// `size_hint` (1 -> 1, 5 -> 4, 100 -> 64), or 16 for a hint of 0. Null when
// `compare` is null or an allocation fails (nothing is then kept).
HashMap *hashmap_create(uint64_t size_hint, HashCompare compare);

// Releases every entry, the bucket array and the record; keys and values
// are left alone. Null does nothing.
void hashmap_destroy(HashMap *map);

// As hashmap_destroy, but also releases each entry's key and value with
// engine_free: for maps whose keys and values were each allocated on their
// own. Null does nothing.
void hashmap_destroy_deep(HashMap *map);

// Rebuilds the table with the largest power of two not above `size_hint`
// buckets (it may shrink), relinking every entry by its stored hash and
// keeping equal keys in their order. 0 on success; -1 for a null map, a hint
// of 0 or a failed allocation, which leave the map unchanged.
int hashmap_resize(HashMap *map, uint64_t size_hint);

// The newest entry whose key equals the `length_bytes` bytes at `key`; a
// length of 0 means `key` is a zero-terminated string of its string length.
// Null for a null map or key, or when nothing matches. The value is the
// entry's `value`.
HashEntry *hashmap_find(const HashMap *map, const void *key, uint64_t length_bytes);

// Adds an entry for `key` (length 0: a zero-terminated string) with
// `value`, in front of any entry with an equal key, which it then shadows.
// Doubles the bucket count first when the map would pass three quarters
// full. 0 on success; -1 for a null map or key or a failed allocation, which
// leaves the map exactly as it was.
int hashmap_insert(HashMap *map, const void *key, uint64_t length_bytes, void *value);

// Removes the newest entry whose key equals `key` (length 0: a
// zero-terminated string), releasing the entry but not its key or value.
// 0 on success; -1 for a null map or key or when nothing matches.
int hashmap_remove(HashMap *map, const void *key, uint64_t length_bytes);

#endif
