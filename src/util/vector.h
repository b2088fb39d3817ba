// Vector: a growable array of untyped pointers. It never owns what its items
// point to; whoever stores them frees them.
#ifndef UTIL_VECTOR_H
#define UTIL_VECTOR_H

#include <cstdint>

// Invariant: count <= capacity; slots count .. capacity - 1 hold nothing
// meaningful. `items` moves whenever the vector grows (append or insert into
// a full vector), so a pointer into it stays valid only until then.
struct Vector {
    void **items;       // slots 0 .. count - 1 hold the items, in order
    uint64_t count;     // items in use
    uint64_t capacity;  // slots allocated in items
};

// A new empty vector with room for `capacity` items (0 is allowed: the first
// append allocates one slot), or null when an allocation fails.
Vector *vector_create(uint64_t capacity);

// Releases the array and the record, never the items. Null does nothing.
void vector_destroy(Vector *vector);

// The growing half of vector_append, for a full vector: doubles the
// capacity (0 grows to 1), then stores `item`. Same results as
// vector_append; callers use vector_append.
int vector_append_growing(Vector *vector, void *item);

// Stores `item` after the last one, doubling the capacity first when full
// (0 grows to 1). 0 on success; -1 for a null vector or a failed growth,
// which leaves the vector exactly as it was. Inline so that an append into a
// vector with room costs what a store does; only growth makes a call.
inline int vector_append(Vector *vector, void *item) {
    if (!vector) return -1;
    if (vector->count == vector->capacity) return vector_append_growing(vector, item);
    vector->items[vector->count] = item;
    vector->count++;
    return 0;
}

// Places `item` at `index` (0 .. count), moving the items from there up by
// one. Into a full vector the items are copied once into the grown array
// with the gap already in place. 0 on success; -1 for a null vector, an
// index beyond count, or a failed growth (the vector is then unchanged).
int vector_insert_at(Vector *vector, void *item, uint64_t index);

// Takes out and returns the item at `index`, moving the later items down by
// one; null (and no change) for a null vector or an index >= count.
void *vector_remove_at(Vector *vector, uint64_t index);

#endif
