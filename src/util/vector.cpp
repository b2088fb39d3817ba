// Vector: growth by doubling, insertion and removal by block moves.
#include "util/vector.h"

#include <cstddef>
#include <cstring>

#include "util/alloc.h"

// The capacity after growing a full vector: 1 from 0, otherwise doubled.
// 0 when the doubled array could not be addressed, which callers treat as a
// failed growth.
static uint64_t vector_grown_capacity(uint64_t capacity) {
    if (capacity == 0) return 1;
    if (capacity > SIZE_MAX / sizeof(void *) / 2) return 0;
    return capacity * 2;
}

Vector *vector_create(uint64_t capacity) {
    if (capacity > SIZE_MAX / sizeof(void *)) return nullptr;
    Vector *vector = static_cast<Vector *>(engine_malloc(sizeof(Vector)));
    if (!vector) return nullptr;
    // malloc(0) may return null; a zero-capacity vector needs no array.
    void **items = nullptr;
    if (capacity > 0) {
        items = static_cast<void **>(engine_malloc(static_cast<size_t>(capacity) * sizeof(void *)));
        if (!items) {
            engine_free(vector);
            return nullptr;
        }
    }
    vector->items = items;
    vector->count = 0;
    vector->capacity = capacity;
    return vector;
}

void vector_destroy(Vector *vector) {
    if (!vector) return;
    engine_free(vector->items);
    engine_free(vector);
}

int vector_append_growing(Vector *vector, void *item) {
    if (!vector) return -1;
    uint64_t capacity = vector_grown_capacity(vector->capacity);
    if (capacity == 0) return -1;
    void **items = static_cast<void **>(
        engine_realloc(vector->items, static_cast<size_t>(capacity) * sizeof(void *)));
    if (!items) return -1;  // realloc left the old array in place
    vector->items = items;
    vector->capacity = capacity;
    items[vector->count] = item;
    vector->count++;
    return 0;
}

int vector_insert_at(Vector *vector, void *item, uint64_t index) {
    if (!vector || index > vector->count) return -1;
    if (index == vector->count) return vector_append(vector, item);
    if (vector->count == vector->capacity) {
        uint64_t capacity = vector_grown_capacity(vector->capacity);
        if (capacity == 0) return -1;
        void **items = static_cast<void **>(engine_malloc(static_cast<size_t>(capacity) * sizeof(void *)));
        if (!items) return -1;
        memcpy(items, vector->items, static_cast<size_t>(index) * sizeof(void *));
        items[index] = item;
        memcpy(items + index + 1, vector->items + index,
               static_cast<size_t>(vector->count - index) * sizeof(void *));
        engine_free(vector->items);
        vector->items = items;
        vector->capacity = capacity;
    } else {
        memmove(vector->items + index + 1, vector->items + index,
                static_cast<size_t>(vector->count - index) * sizeof(void *));
        vector->items[index] = item;
    }
    vector->count++;
    return 0;
}

void *vector_remove_at(Vector *vector, uint64_t index) {
    if (!vector || vector->count == 0 || index >= vector->count) return nullptr;
    void *item = vector->items[index];
    if (index == vector->count - 1) {
        vector->items[index] = nullptr;
    } else {
        memmove(vector->items + index, vector->items + index + 1,
                static_cast<size_t>(vector->count - 1 - index) * sizeof(void *));
    }
    vector->count--;
    return item;
}
