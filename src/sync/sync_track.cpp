// The keys of one track and its value at a fractional row: a sorted array,
// the key found last, and a bucket index for rows that jump.
#include <cmath>
#include <cstring>

#include "sync/sync_internal.h"
#include "util/alloc.h"

// Keys a lookup steps over before it searches by halves instead.
constexpr uint32_t SYNC_LOOKUP_STEPS = 8;

bool sync_key_valid(const SyncKey *key) {
    return key && key->interpolation <= SYNC_RAMP && std::isfinite(key->value);
}

SyncTrack *sync_track_new(const char *name) {
    const size_t length = strlen(name);
    SyncTrack *track = static_cast<SyncTrack *>(engine_calloc(1, sizeof(SyncTrack)));
    char *copy = static_cast<char *>(engine_malloc(length + 1));
    if (!track || !copy) {
        engine_free(track);
        engine_free(copy);
        return nullptr;
    }
    memcpy(copy, name, length + 1);
    track->name = copy;
    return track;
}

void sync_track_free(SyncTrack *track) {
    if (!track) return;
    engine_free(track->keys);
    engine_free(track->index);
    engine_free(track->name);
    engine_free(track);
}

void sync_track_clear(SyncTrack *track) {
    track->count = 0;
    track->hint = 0;
    track->index_stale = true;
}

// The first key whose row is at least `row` (count when none).
static uint32_t lower_bound(const SyncTrack *track, uint32_t row) {
    uint32_t low = 0, high = track->count;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (track->keys[middle].row < row)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

int sync_track_set(SyncTrack *track, const SyncKey *key) {
    if (!sync_key_valid(key)) return -1;
    const uint32_t at = lower_bound(track, key->row);
    if (at < track->count && track->keys[at].row == key->row) {
        track->keys[at] = *key;
        track->index_stale = true;
        return 0;
    }
    if (track->count == SYNC_MAX_KEYS) return -1;
    if (track->count == track->capacity) {
        uint32_t capacity = track->capacity ? track->capacity * 2 : 16;
        if (capacity > SYNC_MAX_KEYS) capacity = SYNC_MAX_KEYS;
        SyncKey *keys = static_cast<SyncKey *>(engine_realloc(track->keys, capacity * sizeof(SyncKey)));
        if (!keys) return -1;
        track->keys = keys;
        track->capacity = capacity;
    }
    memmove(track->keys + at + 1, track->keys + at, (track->count - at) * sizeof(SyncKey));
    track->keys[at] = *key;
    track->count++;
    track->index_stale = true;
    return 0;
}

int sync_track_delete(SyncTrack *track, uint32_t row) {
    const uint32_t at = lower_bound(track, row);
    if (at == track->count || track->keys[at].row != row) return -1;
    memmove(track->keys + at, track->keys + at + 1, (track->count - at - 1) * sizeof(SyncKey));
    track->count--;
    track->hint = 0;
    track->index_stale = true;
    return 0;
}

// Rebuilds the bucket index (see SyncTrack). Without memory for it the
// index stays away and lookups search by halves.
static void rebuild_index(const SyncTrack *track) {
    track->index_stale = false;
    track->index_buckets = 0;
    if (track->count < 2) return;
    const uint64_t span = track->keys[track->count - 1].row - track->keys[0].row;
    uint8_t shift = 0;
    while ((span >> shift) + 1 > 2ull * track->count) shift++;
    const uint32_t buckets = static_cast<uint32_t>((span >> shift) + 1);
    uint32_t *index = static_cast<uint32_t *>(engine_realloc(track->index, buckets * sizeof(uint32_t)));
    if (!index) return;
    uint32_t key = 0;
    for (uint32_t b = 0; b < buckets; b++) {
        const uint64_t first_row = track->keys[0].row + (static_cast<uint64_t>(b) << shift);
        while (key + 1 < track->count && track->keys[key + 1].row <= first_row) key++;
        index[b] = key;
    }
    track->index = index;
    track->index_buckets = buckets;
    track->index_shift = shift;
}

// The key deciding row `row`, for keys[0].row <= row < keys[count - 1].row:
// the last key at or before it, never the last key.
static uint32_t deciding_key(const SyncTrack *track, uint32_t row) {
    const SyncKey *keys = track->keys;
    uint32_t i = track->hint;
    // Rows moving forward: the key found last, or the one after it.
    if (i + 1 < track->count && keys[i].row <= row) {
        if (row < keys[i + 1].row) return i;
        if (i + 2 < track->count && row < keys[i + 2].row) return track->hint = i + 1;
    }
    if (track->index_stale) rebuild_index(track);
    uint32_t end = track->count - 1;
    i = 0;
    if (track->index_buckets > 0) {
        const uint32_t b = (row - keys[0].row) >> track->index_shift;
        i = track->index[b];
        if (b + 1 < track->index_buckets) end = track->index[b + 1];
    }
    // keys[i].row <= row < keys[end + 1].row (or end is the last key).
    if (end - i > SYNC_LOOKUP_STEPS) {
        uint32_t low = i, high = end;  // the answer lies in low .. high
        while (low < high) {
            const uint32_t middle = low + (high - low + 1) / 2;
            if (keys[middle].row <= row)
                low = middle;
            else
                high = middle - 1;
        }
        i = low;
    } else {
        while (keys[i + 1].row <= row) i++;
    }
    return track->hint = i;
}

double sync_value(const SyncTrack *track, double row) {
    if (!track || track->count == 0) return 0.0;
    const SyncKey *keys = track->keys;
    // NaN goes to the first key too.
    if (!(row >= keys[0].row)) return keys[0].value;
    if (row >= keys[track->count - 1].row) return keys[track->count - 1].value;
    const SyncKey *k = &keys[deciding_key(track, static_cast<uint32_t>(row))];
    const double v0 = k->value;
    if (k->interpolation == SYNC_STEP) return v0;
    const double t = (row - k->row) / (static_cast<double>(k[1].row) - k->row);
    const double dv = static_cast<double>(k[1].value) - v0;
    switch (k->interpolation) {
    case SYNC_LINEAR: return v0 + dv * t;
    case SYNC_SMOOTH: return v0 + dv * t * t * (3.0 - 2.0 * t);
    default: return v0 + dv * t * t;  // SYNC_RAMP
    }
}

const SyncKey *sync_keys(const SyncTrack *track, uint32_t *count) {
    if (count) *count = track ? track->count : 0;
    return track ? track->keys : nullptr;
}

const char *sync_track_name(const SyncTrack *track) { return track ? track->name : ""; }
