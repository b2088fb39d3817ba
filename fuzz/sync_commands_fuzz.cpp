// Fuzzes the editor's command stream: arbitrary bytes arriving in arbitrary
// slices at a device with three tracks. Taking them never reads past what
// arrived, keeps every track's invariant, passes on only rows and pauses
// the editor could send, and a refused command leaves nothing behind.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sync/sync_internal.h"

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FUZZ: sync command invariant broken: %s\n", what);
        abort();
    }
}

static const SyncControl CONTROL = {
    [](void *, int paused) { check(paused == 0 || paused == 1, "a pause is 0 or 1"); },
    [](void *, int row) { check(row >= 0, "a row is never negative"); },
    [](void *) { return 1; },
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Never saved: the base names a folder that does not exist.
    SyncDevice *device = sync_open("/nonexistent/fuzz");
    if (!device) return 0;
    sync_track(device, "a");
    sync_track(device, "b");
    sync_track(device, "c");
    // The first byte chooses the slice length, so a command is split
    // across arrivals in every way.
    const size_t slice = size > 0 ? 1 + data[0] % 32 : 1;
    for (size_t at = size > 0 ? 1 : 0; at < size; at += slice) {
        const size_t n = at + slice <= size ? slice : size - at;
        if (bytebuffer_append_bytes(device->input, data + at, n) < 0) break;
        if (sync_editor_take(device, &CONTROL, nullptr) != 0) {
            check(device->input->length == 0, "a refused connection keeps no input");
            break;
        }
        check(device->input->length < 14 || device->input->data[0] == 2, "only a part command waits");
    }
    for (uint64_t t = 0; t < device->tracks->count; t++) {
        const SyncTrack *track = static_cast<const SyncTrack *>(device->tracks->items[t]);
        for (uint32_t i = 0; i < track->count; i++) {
            check(sync_key_valid(&track->keys[i]), "every key is valid");
            check(i == 0 || track->keys[i].row > track->keys[i - 1].row, "rows rise strictly");
        }
    }
    sync_close(device);
    return 0;
}
