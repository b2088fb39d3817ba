// The editor's side of a device: connecting and greeting, asking for the
// tracks, taking the editor's commands as they arrive (whole ones only: a
// command split across reads waits for its rest) and telling it the row.
// Nothing here waits, but sync_connect for at most about a second.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sync/sync_internal.h"
#include "util/alloc.h"

// The protocol's bytes (sync.h).
static const char GREETING[] = "hello, synctracker!";
static const char ANSWER[] = "hello, demo!";
constexpr int GREETING_BYTES = sizeof GREETING - 1;  // 19, no terminator
constexpr int ANSWER_BYTES = sizeof ANSWER - 1;      // 12
enum SyncCommand : uint8_t {
    SYNC_SET_KEY = 0,      // u32 track, u32 row, u32 float bits, u8 interpolation
    SYNC_DELETE_KEY = 1,   // u32 track, u32 row
    SYNC_GET_TRACK = 2,    // u32 name length, the name
    SYNC_SET_ROW = 3,      // u32 row
    SYNC_PAUSE = 4,        // u8, nonzero pauses
    SYNC_SAVE_TRACKS = 5,  // nothing
};
constexpr int SET_KEY_BYTES = 14;
constexpr int DELETE_KEY_BYTES = 9;
constexpr int GET_TRACK_HEAD_BYTES = 5;
constexpr int SET_ROW_BYTES = 5;
constexpr int PAUSE_BYTES = 2;
constexpr int SAVE_TRACKS_BYTES = 1;

constexpr double SYNC_RETRY_SECONDS = 1.0;
constexpr int SYNC_CONNECT_WAIT_MS = 1000;
constexpr int SYNC_CONNECT_STEP_MS = 5;
// Received bytes taken per update: an editor that floods the link is
// read a slice a frame.
constexpr int SYNC_RECEIVE_CHUNK = 65536;
constexpr int SYNC_RECEIVE_PER_UPDATE = 16 * SYNC_RECEIVE_CHUNK;

static uint32_t read_u32_be(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

static void write_u32_be(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Drops a refused connection with its one line.
static int refuse(SyncDevice *device, const char *what, uint32_t number) {
    fprintf(stderr, "SYNC: the editor at %s sent %s (%u); dropped the connection, keeping the keys\n",
            device->where ? device->where : "(none)", what, number);
    return -1;
}

static SyncTrack *track_at(SyncDevice *device, uint32_t index) {
    return index < device->tracks->count ? static_cast<SyncTrack *>(device->tracks->items[index]) : nullptr;
}

int sync_editor_take(SyncDevice *device, const SyncControl *control, void *user) {
    const uint8_t *data = device->input->data;
    const uint32_t length = device->input->length;
    uint32_t at = 0;
    int result = 0;
    int64_t go_to_row = -1;
    while (at < length && result == 0) {
        const uint8_t *c = data + at;
        const uint32_t left = length - at;
        uint32_t size = 0;
        switch (c[0]) {
        case SYNC_SET_KEY: {
            if (left < SET_KEY_BYTES) break;
            size = SET_KEY_BYTES;
            SyncTrack *track = track_at(device, read_u32_be(c + 1));
            const uint32_t bits = read_u32_be(c + 9);
            SyncKey key = {read_u32_be(c + 5), 0.0f, c[13]};
            memcpy(&key.value, &bits, sizeof key.value);
            if (!track)
                result = refuse(device, "SET_KEY for a track it was never asked for", read_u32_be(c + 1));
            else if (key.interpolation > SYNC_RAMP)
                result = refuse(device, "SET_KEY with an interpolation above 3", key.interpolation);
            else if (!std::isfinite(key.value))
                result = refuse(device, "SET_KEY with a value that is not a finite number", bits);
            else if (sync_track_set(track, &key) != 0)
                result = refuse(device, "SET_KEY past the keys a track holds", SYNC_MAX_KEYS);
            break;
        }
        case SYNC_DELETE_KEY: {
            if (left < DELETE_KEY_BYTES) break;
            size = DELETE_KEY_BYTES;
            SyncTrack *track = track_at(device, read_u32_be(c + 1));
            if (!track)
                result = refuse(device, "DELETE_KEY for a track it was never asked for", read_u32_be(c + 1));
            else
                sync_track_delete(track, read_u32_be(c + 5));  // no key there: nothing to do
            break;
        }
        case SYNC_GET_TRACK: {
            // Only demos ask for tracks; the length is judged before its
            // name is waited for, so no length makes the demo wait.
            if (left < GET_TRACK_HEAD_BYTES) break;
            const uint32_t name_bytes = read_u32_be(c + 1);
            if (name_bytes > static_cast<uint32_t>(SYNC_MAX_NAME_BYTES))
                result = refuse(device, "GET_TRACK with a name length beyond 255", name_bytes);
            else
                result = refuse(device, "GET_TRACK, which only demos send; name length", name_bytes);
            break;
        }
        case SYNC_SET_ROW:
            if (left < SET_ROW_BYTES) break;
            size = SET_ROW_BYTES;
            go_to_row = read_u32_be(c + 1);
            break;
        case SYNC_PAUSE:
            if (left < PAUSE_BYTES) break;
            size = PAUSE_BYTES;
            if (control && control->pause) control->pause(user, c[1] != 0);
            break;
        case SYNC_SAVE_TRACKS:
            size = SAVE_TRACKS_BYTES;
            sync_save(device);
            break;
        default:
            result = refuse(device, "an unknown command", c[0]);
            break;
        }
        if (size == 0) break;  // the rest has not arrived yet (or refused)
        at += size;
    }
    // Rows past what an int holds are the editor's own business.
    if (go_to_row >= 0 && go_to_row <= INT32_MAX && control && control->set_row)
        control->set_row(user, static_cast<int>(go_to_row));
    if (result != 0) at = length;
    memmove(device->input->data, device->input->data + at, length - at);
    device->input->length = length - at;
    return result;
}

void sync_editor_ask(SyncDevice *device, const SyncTrack *track) {
    const uint32_t name_bytes = static_cast<uint32_t>(strlen(track->name));
    uint8_t command[GET_TRACK_HEAD_BYTES + SYNC_MAX_NAME_BYTES];
    command[0] = SYNC_GET_TRACK;
    write_u32_be(command + 1, name_bytes);
    memcpy(command + GET_TRACK_HEAD_BYTES, track->name, name_bytes);
    sync_link_send(device->link, command, GET_TRACK_HEAD_BYTES + static_cast<int>(name_bytes), false);
}

// Back to waiting for the next attempt, the link closed.
static void lose(SyncDevice *device) {
    sync_link_stop(device->link);
    device->state = SYNC_EDITOR_WAITING;
    device->input->length = 0;
}

// An established connection that failed: one line, and -1.
static int lost(SyncDevice *device) {
    fprintf(stderr, "SYNC: lost the editor at %s (%s); playing the keys it gave, trying again each second\n",
            device->where, sync_link_why(device->link));
    lose(device);
    return -1;
}

// Reads what has arrived onto device->input; -1 when the link failed.
static int receive(SyncDevice *device) {
    uint8_t chunk[SYNC_RECEIVE_CHUNK];
    for (int taken = 0; taken < SYNC_RECEIVE_PER_UPDATE;) {
        const int got = sync_link_receive(device->link, chunk, sizeof chunk);
        if (got < 0) return -1;
        if (got == 0) return 0;
        if (bytebuffer_append_bytes(device->input, chunk, static_cast<uint64_t>(got)) < 0) return -1;
        taken += got;
    }
    return 0;
}

// One step of the connection, never waiting. Returns 0, or -1 when an
// established connection was lost (an attempt that fails is no loss).
static int advance(SyncDevice *device, const SyncControl *control, void *user) {
    switch (device->state) {
    case SYNC_EDITOR_NONE:
        return 0;
    case SYNC_EDITOR_WAITING: {
        const double now = sync_link_now_seconds();
        if (now - device->attempt_seconds < SYNC_RETRY_SECONDS) return 0;
        device->attempt_seconds = now;
        if (sync_link_start(device->link) != 0) return 0;
        device->state = SYNC_EDITOR_CONNECTING;
    }
        [[fallthrough]];
    case SYNC_EDITOR_CONNECTING: {
        const int state = sync_link_poll(device->link);
        if (state < 0) lose(device);
        if (state <= 0) return 0;
        device->input->length = 0;
        if (sync_link_send(device->link, reinterpret_cast<const uint8_t *>(GREETING), GREETING_BYTES, true) != 0) {
            lose(device);
            return 0;
        }
        device->state = SYNC_EDITOR_GREETING;
    }
        [[fallthrough]];
    case SYNC_EDITOR_GREETING: {
        if (receive(device) != 0) {
            lose(device);
            return 0;
        }
        if (device->input->length < static_cast<uint32_t>(ANSWER_BYTES)) return 0;
        if (memcmp(device->input->data, ANSWER, ANSWER_BYTES) != 0) {
            fprintf(stderr, "SYNC: %s answered, but not as a sync editor does\n", device->where);
            lose(device);
            return 0;
        }
        memmove(device->input->data, device->input->data + ANSWER_BYTES, device->input->length - ANSWER_BYTES);
        device->input->length -= ANSWER_BYTES;
        device->state = SYNC_EDITOR_READY;
        device->row_told = -1;
        fprintf(stderr, "SYNC: connected to the editor at %s\n", device->where);
        // The editor's keys replace the files'. Its first commands (its
        // pause and its cursor's row) wait for the program's update.
        for (uint64_t i = 0; i < device->tracks->count; i++) {
            SyncTrack *track = static_cast<SyncTrack *>(device->tracks->items[i]);
            sync_track_clear(track);
            sync_editor_ask(device, track);
        }
        return 0;
    }
    case SYNC_EDITOR_READY: {
        // What arrived before the editor went away is still taken.
        const int received = receive(device);
        if (sync_editor_take(device, control, user) != 0) {
            lose(device);
            return -1;
        }
        return received == 0 ? 0 : lost(device);
    }
    }
    return 0;
}

int sync_editor_update(SyncDevice *device, int row, const SyncControl *control, void *user) {
    if (advance(device, control, user) != 0) return -1;
    if (device->state != SYNC_EDITOR_READY) return 0;
    const bool playing = !control || !control->is_playing || control->is_playing(user);
    if (playing && row >= 0 && row != device->row_told) {
        uint8_t command[SET_ROW_BYTES] = {SYNC_SET_ROW};
        write_u32_be(command + 1, static_cast<uint32_t>(row));
        if (sync_link_send(device->link, command, SET_ROW_BYTES, false) != 0) return lost(device);
        device->row_told = row;
    }
    return 0;
}

int sync_update(SyncDevice *device, int row, const SyncControl *control, void *user) {
    return device ? sync_editor_update(device, row, control, user) : -1;
}

int sync_connect(SyncDevice *device, const char *host, int port) {
    if (!device || !host || !*host || port <= 0 || port > 65535) {
        fprintf(stderr, "SYNC: an editor is reached at a host and a port 1 .. 65535\n");
        return -1;
    }
    sync_link_destroy(device->link);
    device->link = nullptr;
    device->state = SYNC_EDITOR_NONE;
    engine_free(device->where);
    const size_t where_bytes = strlen(host) + 8;
    device->where = static_cast<char *>(engine_malloc(where_bytes));
    if (!device->where) {
        fprintf(stderr, "SYNC: cannot connect to the editor: out of memory\n");
        return -1;
    }
    snprintf(device->where, where_bytes, "%s:%d", host, port);
    char why[160];
    device->link = sync_link_create(host, port, why, sizeof why);
    if (!device->link) {
        fprintf(stderr, "SYNC: cannot reach the editor at %s: %s\n", device->where, why);
        return -1;
    }
    device->state = SYNC_EDITOR_WAITING;
    device->attempt_seconds = sync_link_now_seconds() - SYNC_RETRY_SECONDS;
    for (int waited = 0; waited <= SYNC_CONNECT_WAIT_MS; waited += SYNC_CONNECT_STEP_MS) {
        advance(device, nullptr, nullptr);
        if (device->state == SYNC_EDITOR_READY) return 0;
        // An attempt that failed at once is the answer: no editor there.
        if (device->state == SYNC_EDITOR_WAITING) break;
        // A page cannot wait for its socket here: the attempt goes on in
        // the updates.
        if (sync_link_wait(SYNC_CONNECT_STEP_MS) != 0) {
            fprintf(stderr, "SYNC: connecting to the editor at %s; the tracks play their files' keys until it "
                            "answers\n", device->where);
            return -1;
        }
    }
    if (device->state != SYNC_EDITOR_WAITING) lose(device);
    fprintf(stderr, "SYNC: no editor at %s (%s); playing the tracks' keys, trying again each second\n", device->where,
            sync_link_why(device->link));
    return -1;
}
