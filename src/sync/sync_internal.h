// The sync library's records and the calls its files share; not
// installed.
#ifndef SYNC_SYNC_INTERNAL_H
#define SYNC_SYNC_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "sync/sync.h"
#include "util/bytebuffer.h"
#include "util/hashmap.h"
#include "util/vector.h"

// One track. Invariant: keys[0 .. count - 1] have strictly rising rows,
// interpolations 0 .. 3 and finite values; count <= capacity <=
// SYNC_MAX_KEYS. Every change of the keys sets index_stale.
//
// Lookups remember where they were: `hint` is the key found last, and the
// index, rebuilt on the first lookup after a change, maps bucket b (rows
// keys[0].row + (b << index_shift) onwards) to the key deciding its first
// row; index_shift is the smallest that keeps the buckets at most twice the
// keys, so a bucket holds about one key.
struct SyncTrack {
    char *name;
    SyncKey *keys;
    uint32_t count;
    uint32_t capacity;
    mutable uint32_t hint;
    mutable uint32_t *index;          // index_buckets entries, or null
    mutable uint32_t index_buckets;
    mutable uint8_t index_shift;
    mutable bool index_stale;
};

// Tracks (sync_track.cpp)
SyncTrack *sync_track_new(const char *name);
void sync_track_free(SyncTrack *track);
// Sets the key at key->row (replacing one there) or deletes the key at
// row: 0, or -1 (bad key, full, no memory, no such key), the track then
// unchanged.
int sync_track_set(SyncTrack *track, const SyncKey *key);
int sync_track_delete(SyncTrack *track, uint32_t row);
void sync_track_clear(SyncTrack *track);
// Whether a key may be stored: interpolation 0 .. 3 and a finite value.
bool sync_key_valid(const SyncKey *key);

// Track files (sync_file.cpp). Reads the file at `path` into the empty
// `track` as far as it holds (sync.h); a missing file leaves it empty. One
// line for a file that lies or cannot be read. Returns the keys read.
uint32_t sync_file_read(SyncTrack *track, const char *path);
// Reads the track file bytes at data[0 .. size - 1] into the empty track
// as far as they hold; on a fault writes its description into `fault`
// (fault_bytes long) and returns -1, else 0. For files and the fuzzer.
int sync_file_parse(SyncTrack *track, const uint8_t *data, size_t size, char *fault, int fault_bytes);
// Writes the track to `path` through a temporary file renamed into place.
// 0, or -1 with one line.
int sync_file_write(const SyncTrack *track, const char *path);

// The editor's project (sync_rocket.cpp): reads the .rocket at `path` into
// `tracks` (SyncTrack pointers in the file's order). 0, or -1 with one line
// (the tracks read so far stay in `tracks`, the caller's to free).
int sync_rocket_read(const char *path, Vector *tracks);

// A link to the editor (sync_link_tcp.cpp, or sync_link_web.cpp in the
// browser): a byte stream whose connection is made and remade without
// waiting. `why` holds the reason of the last failure.
struct SyncLink;
// Where the editor is (natively the name is looked up here, once: the
// only call that may wait). Null with *why set when it cannot be.
SyncLink *sync_link_create(const char *host, int port, char *why, int why_bytes);
void sync_link_destroy(SyncLink *link);
// Starts a connection attempt (closing any connection first): 0 started,
// -1 failed at once.
int sync_link_start(SyncLink *link);
// 1 connected, 0 still connecting, -1 failed or closed.
int sync_link_poll(SyncLink *link);
// Sends the greeting (on a WebSocket a text message) or one command (a
// binary message): 0 queued, -1 the connection failed.
int sync_link_send(SyncLink *link, const uint8_t *bytes, int n, bool greeting);
// Takes up to `capacity` received bytes into `buffer`: their number, 0
// when none are waiting, -1 when the connection failed or closed.
int sync_link_receive(SyncLink *link, uint8_t *buffer, int capacity);
// Closes the connection, keeping where the editor is.
void sync_link_stop(SyncLink *link);
const char *sync_link_why(const SyncLink *link);
// Seconds on a clock that only goes forward.
double sync_link_now_seconds(void);
// Waits about `ms` milliseconds: 0; -1 where a program cannot wait for
// its link (a page, whose WebSocket moves only between frames).
int sync_link_wait(int ms);

// The connection's state (sync_editor.cpp).
enum SyncEditorState : uint8_t {
    SYNC_EDITOR_NONE,        // no editor asked for
    SYNC_EDITOR_WAITING,     // none connected; the next attempt is due later
    SYNC_EDITOR_CONNECTING,  // an attempt under way
    SYNC_EDITOR_GREETING,    // greeted, waiting for the editor's answer
    SYNC_EDITOR_READY,       // commands flow
};

// A device. `tracks` holds the tracks sync_track made, in the order made
// (their index on a connection); `by_name` finds them; `project` holds a
// .rocket's tracks not yet asked for.
struct SyncDevice {
    char *base;              // BASE of the track files
    bool from_project;       // the tracks came from a .rocket
    Vector *tracks;
    HashMap *by_name;
    Vector *project;
    // The editor
    SyncLink *link;          // null until sync_connect
    char *where;             // "host:port", for the lines
    SyncEditorState state;
    double attempt_seconds;  // when the last attempt began
    ByteBuffer *input;       // received bytes not yet taken
    int64_t row_told;        // the row last sent; -1 none
};

// Starts and advances the connection, takes the commands: sync_update's
// work. Returns 0, or -1 when the connection was lost in this call.
int sync_editor_update(SyncDevice *device, int row, const SyncControl *control, void *user);
// Asks the editor for `track` (index: its place in device->tracks).
void sync_editor_ask(SyncDevice *device, const SyncTrack *track);
// Takes the complete commands at the front of device->input, as
// sync_update does: for the fuzzer and the tests. Returns 0, or -1 when a
// command was refused (the connection is then to be dropped: the line is
// printed).
int sync_editor_take(SyncDevice *device, const SyncControl *control, void *user);

#endif
