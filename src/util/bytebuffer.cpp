// ByteBuffer: growth by doubling within 32 bits, and appends that behave
// exactly like a run of single-byte appends but copy in blocks.
#include "util/bytebuffer.h"

#include <cstdint>
#include <cstring>

#include "util/alloc.h"

ByteBuffer *bytebuffer_create(uint64_t capacity_bytes) {
    if (capacity_bytes > UINT32_MAX) return nullptr;
    ByteBuffer *buffer = static_cast<ByteBuffer *>(engine_malloc(sizeof(ByteBuffer)));
    if (!buffer) return nullptr;
    // malloc(0) may return null; an empty buffer needs no storage yet.
    uint8_t *data = nullptr;
    if (capacity_bytes > 0) {
        data = static_cast<uint8_t *>(engine_malloc(static_cast<size_t>(capacity_bytes)));
        if (!data) {
            engine_free(buffer);
            return nullptr;
        }
    }
    buffer->data = data;
    buffer->length = 0;
    buffer->capacity = static_cast<uint32_t>(capacity_bytes);
    return buffer;
}

void bytebuffer_destroy(ByteBuffer *buffer) {
    if (!buffer) return;
    engine_free(buffer->data);
    engine_free(buffer);
}

// Grows a full buffer: capacity 1 from 0, doubled otherwise. 0 on success;
// -1 when the doubled capacity would not fit 32 bits or the reallocation
// fails, with the buffer untouched.
static int bytebuffer_grow(ByteBuffer *buffer) {
    uint32_t capacity;
    if (buffer->capacity == 0)
        capacity = 1;
    else if (buffer->capacity > UINT32_MAX / 2)
        return -1;
    else
        capacity = buffer->capacity * 2;
    uint8_t *data = static_cast<uint8_t *>(engine_realloc(buffer->data, capacity));
    if (!data) return -1;  // realloc left the old storage in place
    buffer->data = data;
    buffer->capacity = capacity;
    return 0;
}

int bytebuffer_append_byte(ByteBuffer *buffer, uint8_t byte) {
    if (!buffer) return -1;
    if (buffer->length == buffer->capacity && bytebuffer_grow(buffer) != 0) return -1;
    buffer->data[buffer->length] = byte;
    buffer->length++;
    return 0;
}

// Appends n bytes: fills the free room, grows once, and again. The buffer
// grows at exactly the points where single-byte appends would, so a failed
// growth keeps the bytes that fitted before it. n, or -1 on failed growth.
static int64_t bytebuffer_append_run(ByteBuffer *buffer, const uint8_t *bytes, uint64_t n) {
    uint64_t done = 0;
    while (done < n) {
        if (buffer->length == buffer->capacity && bytebuffer_grow(buffer) != 0) return -1;
        uint64_t room = buffer->capacity - buffer->length;
        uint64_t chunk = n - done < room ? n - done : room;
        memcpy(buffer->data + buffer->length, bytes + done, static_cast<size_t>(chunk));
        buffer->length += static_cast<uint32_t>(chunk);  // chunk <= room < 2^32
        done += chunk;
    }
    return static_cast<int64_t>(n);
}

int64_t bytebuffer_append_cstring(ByteBuffer *buffer, const char *string) {
    if (!buffer || !string) return -1;
    return bytebuffer_append_run(buffer, reinterpret_cast<const uint8_t *>(string), strlen(string));
}

int64_t bytebuffer_append_prefix(ByteBuffer *buffer, const char *string, uint64_t n) {
    if (!buffer || !string) return -1;
    // strnlen stops at the zero and never looks at more than n bytes. Where
    // size_t is narrower than 64 bits (wasm32) no string can be longer than
    // SIZE_MAX, so a larger n reads the same as SIZE_MAX.
    const size_t limit = n > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(n);
    return bytebuffer_append_run(buffer, reinterpret_cast<const uint8_t *>(string), strnlen(string, limit));
}

int64_t bytebuffer_append_bytes(ByteBuffer *buffer, const void *bytes, uint64_t n) {
    if (!buffer || !bytes) return -1;
    // The result reports n as a signed count; a larger run could neither be
    // reported nor ever fit the 32-bit buffer, so it is refused up front.
    if (n > INT64_MAX) return -1;
    return bytebuffer_append_run(buffer, static_cast<const uint8_t *>(bytes), n);
}

char *bytebuffer_finish(ByteBuffer *buffer, uint64_t *out_length, uint64_t *out_capacity) {
    if (!buffer) return nullptr;
    if (out_length) *out_length = buffer->length;
    if (bytebuffer_append_byte(buffer, 0) != 0) return nullptr;
    if (out_capacity) *out_capacity = buffer->capacity;
    return reinterpret_cast<char *>(buffer->data);
}

char *bytebuffer_detach(ByteBuffer *buffer, uint64_t *out_length, uint64_t *out_capacity) {
    char *string = bytebuffer_finish(buffer, out_length, out_capacity);
    if (!string) return nullptr;
    engine_free(buffer);
    return string;
}

int64_t bytebuffer_drop(ByteBuffer *buffer, uint64_t n) {
    if (!buffer) return -1;
    if (n > buffer->length) n = buffer->length;
    buffer->length -= static_cast<uint32_t>(n);
    return static_cast<int64_t>(n);
}

int64_t bytebuffer_clear(ByteBuffer *buffer) {
    if (!buffer) return -1;
    int64_t former = buffer->length;
    buffer->length = 0;
    return former;
}
