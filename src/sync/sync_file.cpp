// BASE_NAME.track files: the name's escaping, reading a file as far as it
// holds, and writing one whole through a temporary file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>  // mkstemp
#include <cstring>
#include <sys/stat.h>  // fchmod
#include <unistd.h>

#include "sync/sync_internal.h"
#include "util/alloc.h"
#include "util/file_open.h"

// The layout (little-endian, packed): a u32 count, then per key a u32 row,
// a float's 32 bits and a u8 interpolation.
constexpr size_t TRACK_COUNT_BYTES = 4;
constexpr size_t TRACK_KEY_BYTES = 9;
constexpr size_t TRACK_KEY_VALUE_OFFSET = 4;
constexpr size_t TRACK_KEY_INTERPOLATION_OFFSET = 8;
constexpr int FAULT_BYTES = 160;

static bool name_byte_kept(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '/';
}

int sync_track_path(const char *base, const char *name, char *out, int out_bytes) {
    static const char HEX[] = "0123456789ABCDEF";
    if (!base || !name || !out || out_bytes <= 0) return -1;
    int n = snprintf(out, static_cast<size_t>(out_bytes), "%s_", base);
    if (n < 0 || n >= out_bytes) return -1;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(name); *c; c++) {
        if (n + 4 >= out_bytes) return -1;
        if (name_byte_kept(*c)) {
            out[n++] = static_cast<char>(*c);
        } else {
            out[n++] = '-';
            out[n++] = HEX[*c >> 4];
            out[n++] = HEX[*c & 15];
        }
    }
    const int written = snprintf(out + n, static_cast<size_t>(out_bytes - n), ".track");
    if (written < 0 || n + written >= out_bytes) return -1;
    return n + written;
}

static uint32_t read_u32_le(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

static void write_u32_le(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int sync_file_parse(SyncTrack *track, const uint8_t *data, size_t size, char *fault, int fault_bytes) {
    const size_t fault_size = static_cast<size_t>(fault_bytes);
    if (size < TRACK_COUNT_BYTES) {
        snprintf(fault, fault_size, "is %zu bytes, shorter than its key count", size);
        return -1;
    }
    const uint32_t claimed = read_u32_le(data);
    const size_t held = (size - TRACK_COUNT_BYTES) / TRACK_KEY_BYTES;
    uint32_t count = claimed;
    if (count > held) count = static_cast<uint32_t>(held);
    if (count > SYNC_MAX_KEYS) count = SYNC_MAX_KEYS;
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t *k = data + TRACK_COUNT_BYTES + i * TRACK_KEY_BYTES;
        const uint32_t bits = read_u32_le(k + TRACK_KEY_VALUE_OFFSET);
        SyncKey key;
        key.row = read_u32_le(k);
        memcpy(&key.value, &bits, sizeof key.value);
        key.interpolation = k[TRACK_KEY_INTERPOLATION_OFFSET];
        const char *bad = nullptr;
        if (track->count > 0 && key.row <= track->keys[track->count - 1].row)
            bad = "a row not above the one before";
        else if (key.interpolation > SYNC_RAMP)
            bad = "an interpolation above 3";
        else if (!sync_key_valid(&key))
            bad = "a value that is not a finite number";
        if (bad) {
            snprintf(fault, fault_size, "has %s at key %u (row %u); kept the %u keys before it", bad, i, key.row,
                     i);
            return -1;
        }
        if (sync_track_set(track, &key) != 0) {
            snprintf(fault, fault_size, "could not be held in memory past key %u", i);
            return -1;
        }
    }
    if (claimed > count) {
        snprintf(fault, fault_size, "claims %u keys but holds %u; kept those", claimed, count);
        return -1;
    }
    const size_t extra = size - TRACK_COUNT_BYTES - count * TRACK_KEY_BYTES;
    if (extra > 0) {
        snprintf(fault, fault_size, "has %zu bytes after its %u keys; ignored them", extra, count);
        return -1;
    }
    return 0;
}

uint32_t sync_file_read(SyncTrack *track, const char *path) {
    const char *why = nullptr;
    const int fd = open_regular_file(path, &why);
    if (fd < 0) {
        // A track without a file yet is a track without keys.
        if (errno != ENOENT) fprintf(stderr, "SYNC: cannot read '%s': %s\n", path, why);
        return 0;
    }
    ByteBuffer *bytes = bytebuffer_create(4096);
    uint8_t chunk[4096];
    ssize_t got = 0;
    // At most the most a track holds, whatever the file's size.
    const uint64_t most = TRACK_COUNT_BYTES + static_cast<uint64_t>(SYNC_MAX_KEYS) * TRACK_KEY_BYTES + 1;
    while (bytes && (got = read(fd, chunk, sizeof chunk)) > 0 && bytes->length < most)
        if (bytebuffer_append_bytes(bytes, chunk, static_cast<uint64_t>(got)) < 0) break;
    close(fd);
    if (!bytes || got < 0) {
        fprintf(stderr, "SYNC: cannot read '%s': %s\n", path, bytes ? strerror(errno) : "out of memory");
        bytebuffer_destroy(bytes);
        return 0;
    }
    char fault[FAULT_BYTES];
    if (sync_file_parse(track, bytes->data, bytes->length, fault, sizeof fault) != 0)
        fprintf(stderr, "SYNC: '%s' %s\n", path, fault);
    bytebuffer_destroy(bytes);
    return track->count;
}

int sync_file_write(const SyncTrack *track, const char *path) {
    const size_t size = TRACK_COUNT_BYTES + static_cast<size_t>(track->count) * TRACK_KEY_BYTES;
    uint8_t *bytes = static_cast<uint8_t *>(engine_malloc(size));
    char temporary[4096];
    const int n = snprintf(temporary, sizeof temporary, "%s.part-XXXXXX", path);
    if (!bytes || n < 0 || static_cast<size_t>(n) >= sizeof temporary) {
        fprintf(stderr, "SYNC: cannot write '%s': %s\n", path, bytes ? "the name is too long" : "out of memory");
        engine_free(bytes);
        return -1;
    }
    write_u32_le(bytes, track->count);
    for (uint32_t i = 0; i < track->count; i++) {
        uint8_t *k = bytes + TRACK_COUNT_BYTES + i * TRACK_KEY_BYTES;
        uint32_t bits;
        memcpy(&bits, &track->keys[i].value, sizeof bits);
        write_u32_le(k, track->keys[i].row);
        write_u32_le(k + TRACK_KEY_VALUE_OFFSET, bits);
        k[TRACK_KEY_INTERPOLATION_OFFSET] = track->keys[i].interpolation;
    }
    const int fd = mkstemp(temporary);
    bool ok = fd >= 0 && fchmod(fd, 0644) == 0;
    size_t done = 0;
    while (ok && done < size) {
        const ssize_t w = write(fd, bytes + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        ok = w > 0;
        if (ok) done += static_cast<size_t>(w);
    }
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (ok && rename(temporary, path) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "SYNC: cannot write '%s': %s\n", path, strerror(errno));
        if (fd >= 0) unlink(temporary);
    }
    engine_free(bytes);
    return ok ? 0 : -1;
}
