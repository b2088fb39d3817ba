// A device: its tracks by name and in the order made, where they come
// from (track files or a .rocket project), and saving them.
#include <cstdio>
#include <cstring>

#include "sync/sync_internal.h"
#include "util/alloc.h"

constexpr char ROCKET_SUFFIX[] = ".rocket";
constexpr size_t ROCKET_SUFFIX_BYTES = sizeof ROCKET_SUFFIX - 1;
constexpr int SYNC_PATH_BYTES = 4096;

static int compare_bytes(const void *a, const void *b, uint64_t length) { return memcmp(a, b, length); }

static void free_tracks(Vector *tracks) {
    if (!tracks) return;
    for (uint64_t i = 0; i < tracks->count; i++) sync_track_free(static_cast<SyncTrack *>(tracks->items[i]));
    vector_destroy(tracks);
}

void sync_close(SyncDevice *device) {
    if (!device) return;
    sync_link_destroy(device->link);
    free_tracks(device->tracks);
    free_tracks(device->project);
    hashmap_destroy(device->by_name);
    bytebuffer_destroy(device->input);
    engine_free(device->where);
    engine_free(device->base);
    engine_free(device);
}

SyncDevice *sync_open(const char *base) {
    if (!base || !*base) {
        fprintf(stderr, "SYNC: a device needs a base name for its track files or a .rocket project\n");
        return nullptr;
    }
    const size_t length = strlen(base);
    const bool project = length > ROCKET_SUFFIX_BYTES && strcmp(base + length - ROCKET_SUFFIX_BYTES, ROCKET_SUFFIX) == 0;
    SyncDevice *device = static_cast<SyncDevice *>(engine_calloc(1, sizeof(SyncDevice)));
    if (device) {
        device->base = static_cast<char *>(engine_malloc(length + 1));
        device->tracks = vector_create(16);
        device->project = vector_create(0);
        device->by_name = hashmap_create(64, compare_bytes);
        device->input = bytebuffer_create(1024);
        device->row_told = -1;
    }
    if (!device || !device->base || !device->tracks || !device->project || !device->by_name || !device->input) {
        fprintf(stderr, "SYNC: cannot open '%s': out of memory\n", base);
        sync_close(device);
        return nullptr;
    }
    memcpy(device->base, base, length + 1);
    if (project) {
        device->from_project = true;
        device->base[length - ROCKET_SUFFIX_BYTES] = '\0';
        if (sync_rocket_read(base, device->project) != 0) {
            sync_close(device);
            return nullptr;
        }
    }
    return device;
}

const SyncTrack *sync_track(SyncDevice *device, const char *name) {
    if (!device || !name) return nullptr;
    const size_t length = strlen(name);
    if (length == 0 || length > static_cast<size_t>(SYNC_MAX_NAME_BYTES)) {
        fprintf(stderr, "SYNC: a track name is 1 to %d bytes, not %zu\n", SYNC_MAX_NAME_BYTES, length);
        return nullptr;
    }
    const HashEntry *found = hashmap_find(device->by_name, name, length);
    if (found) return static_cast<const SyncTrack *>(found->value);

    // From the project, or a new one read from its file.
    SyncTrack *track = nullptr;
    uint64_t from = 0;
    for (; from < device->project->count; from++)
        if (strcmp(static_cast<SyncTrack *>(device->project->items[from])->name, name) == 0) break;
    if (from < device->project->count)
        track = static_cast<SyncTrack *>(device->project->items[from]);
    else
        track = sync_track_new(name);
    if (!track || vector_append(device->tracks, track) != 0) {
        if (track && from == device->project->count) sync_track_free(track);
        fprintf(stderr, "SYNC: cannot make track '%s': out of memory\n", name);
        return nullptr;
    }
    if (hashmap_insert(device->by_name, track->name, length, track) != 0) {
        vector_remove_at(device->tracks, device->tracks->count - 1);
        if (from == device->project->count) sync_track_free(track);
        fprintf(stderr, "SYNC: cannot make track '%s': out of memory\n", name);
        return nullptr;
    }
    if (from < device->project->count) {
        vector_remove_at(device->project, from);
    } else if (!device->from_project) {
        char path[SYNC_PATH_BYTES];
        if (sync_track_path(device->base, name, path, sizeof path) < 0)
            fprintf(stderr, "SYNC: the file name of track '%s' is too long\n", name);
        else
            sync_file_read(track, path);
    }
    if (device->state == SYNC_EDITOR_READY) sync_editor_ask(device, track);
    return track;
}

int sync_save(const SyncDevice *device) {
    if (!device) return -1;
    int result = 0;
    for (uint64_t i = 0; i < device->tracks->count; i++) {
        const SyncTrack *track = static_cast<const SyncTrack *>(device->tracks->items[i]);
        char path[SYNC_PATH_BYTES];
        if (sync_track_path(device->base, track->name, path, sizeof path) < 0) {
            fprintf(stderr, "SYNC: the file name of track '%s' is too long\n", track->name);
            result = -1;
        } else if (sync_file_write(track, path) != 0) {
            result = -1;
        }
    }
    return result;
}

int sync_connected(const SyncDevice *device) { return device && device->state == SYNC_EDITOR_READY ? 1 : 0; }

// The tracks a caller holds are the device's own; the device's storage is
// mutable, the pointer handed out const so that only these calls change it.
static SyncTrack *own_track(SyncDevice *device, const SyncTrack *track) {
    if (!device || !track) return nullptr;
    const HashEntry *found = hashmap_find(device->by_name, track->name, strlen(track->name));
    return found && found->value == track ? static_cast<SyncTrack *>(found->value) : nullptr;
}

int sync_set_key(SyncDevice *device, const SyncTrack *track, const SyncKey *key) {
    SyncTrack *own = own_track(device, track);
    return own ? sync_track_set(own, key) : -1;
}

int sync_delete_key(SyncDevice *device, const SyncTrack *track, uint32_t row) {
    SyncTrack *own = own_track(device, track);
    return own ? sync_track_delete(own, row) : -1;
}
