// ByteBuffer: a growable byte array used as a string builder. Bytes,
// strings, bounded string prefixes and raw runs are appended; finishing adds
// a terminating zero, and detaching hands the storage to the caller.
#ifndef UTIL_BYTEBUFFER_H
#define UTIL_BYTEBUFFER_H

#include <cstdint>

// Invariant: length <= capacity < 2^32. The contents are data[0] ..
// data[length - 1], not zero-terminated except through bytebuffer_finish.
// `data` moves whenever an append grows the buffer, so a pointer into it
// (including the one finish returned) stays valid only until then.
struct ByteBuffer {
    uint8_t *data;      // the storage, owned by the buffer
    uint32_t length;    // bytes in use
    uint32_t capacity;  // bytes allocated in data
};

// A new empty buffer with room for `capacity_bytes` (0 is allowed: the first
// append allocates one byte), or null when an allocation fails or the
// capacity does not fit 32 bits.
ByteBuffer *bytebuffer_create(uint64_t capacity_bytes);

// Releases the storage and the record. Null does nothing.
void bytebuffer_destroy(ByteBuffer *buffer);

// Appends one byte, first growing a full buffer to twice its capacity (1
// from 0). 0 on success; -1 for a null buffer or a failed growth, including
// one whose doubled capacity would not fit 32 bits; the buffer is then
// unchanged.
int bytebuffer_append_byte(ByteBuffer *buffer, uint8_t byte);

// Appends the bytes of a zero-terminated string, without its zero. Returns
// their number; -1 for a null buffer or string, or when a growth fails (the
// bytes appended before that growth stay).
int64_t bytebuffer_append_cstring(ByteBuffer *buffer, const char *string);

// Appends bytes of a zero-terminated string until `n` have been appended or
// its zero is reached. Returns the number appended; -1 for a null buffer or
// string, or when a growth fails (the bytes appended before it stay).
int64_t bytebuffer_append_prefix(ByteBuffer *buffer, const char *string, uint64_t n);

// Appends exactly `n` bytes from `bytes`, zeros included. Returns n; -1 for
// a null buffer or pointer, or when a growth fails (the bytes appended
// before it stay).
int64_t bytebuffer_append_bytes(ByteBuffer *buffer, const void *bytes, uint64_t n);

// Stores the length into *out_length (when given), appends a zero byte,
// stores the capacity after it into *out_capacity (when given) and returns
// the storage as a zero-terminated string, still owned by the buffer. The
// zero counts in `length` and a later append goes after it. Null for a null
// buffer or a failed growth (the buffer is then unchanged).
char *bytebuffer_finish(ByteBuffer *buffer, uint64_t *out_length, uint64_t *out_capacity);

// As bytebuffer_finish, then releases the record and returns the storage,
// which the caller now owns and releases with engine_free. Null for a null
// buffer or a failed growth, which leaves the buffer intact and owned by the
// caller as before.
char *bytebuffer_detach(ByteBuffer *buffer, uint64_t *out_length, uint64_t *out_capacity);

// Removes the last `n` bytes (at most all of them); the storage is neither
// moved nor shrunk. Returns the number removed; -1 for a null buffer.
int64_t bytebuffer_drop(ByteBuffer *buffer, uint64_t n);

// Empties the buffer, keeping its storage. Returns the former length; -1
// for a null buffer.
int64_t bytebuffer_clear(ByteBuffer *buffer);

#endif
