// Sync tracks: named values keyed to rows, edited live in a sync editor
// (GNU Rocket's protocol) and played back from files. The folder's front
// page and the library's whole face. Knows nothing of music, SDL or
// frames: the caller says which row it is on (the platform's sync_rows.h
// gives the music's played row) and what pausing and seeking mean.
//
//   sync_track.cpp    keys of one track and the value at a fractional row
//   sync_file.cpp     BASE_NAME.track files: reading, writing, name escaping
//   sync_rocket.cpp   the editor's .rocket project (XML, through expat);
//                     sync_rocket_absent.cpp in builds without expat
//   sync_device.cpp   a device: its tracks, opening, saving
//   sync_editor.cpp   the editor's commands over a link: greeting, fetch,
//                     keys, rows, pause, save, reconnecting
//   sync_link_tcp.cpp a link over TCP (non-blocking sockets);
//                     sync_link_web.cpp the browser's WebSocket instead
//
//     SyncDevice *sync = sync_open("res/intro");          // res/intro_NAME.track files
//     const SyncTrack *fade = sync_track(sync, "fade");
//     sync_connect(sync, "localhost", SYNC_TCP_PORT);     // or play from the files
//     each frame:  sync_update(sync, (int)row, &control, user);
//                  double f = sync_value(fade, row);
//     sync_close(sync);
//
// Values. A key is (row, value as a 32-bit float, interpolation). The key
// at or before floor(row) decides; with t = (row - r0) / (r1 - r0) towards
// the next key (r1, v1):
//   step    v0
//   linear  v0 + (v1 - v0) t
//   smooth  v0 + (v1 - v0) t^2 (3 - 2t)
//   ramp    v0 + (v1 - v0) t^2
// Before the first key the first key's value, from the last key on the
// last's, a track without keys 0. Computed in double.
//
// Track files (BASE_NAME.track): NAME with every byte outside A-Z a-z 0-9
// . _ / written as -XX (two upper-case hex digits: "cam:pos.x" is
// "cam-3Apos.x"); a 32-bit key count, then per key a 32-bit row, a 32-bit
// float and one interpolation byte, little-endian and packed, 9 bytes a
// key, rows strictly rising. A file that lies is read as far as it holds:
// the keys before the first fault are kept (a count beyond the file's
// size, a row not above the one before, an interpolation above 3, a NaN or
// infinite value), bytes after the last key are ignored, and one
// "SYNC: ..." line names the file, the fault and the keys kept. A file
// shorter than its count gives no keys, also with one line.
//
// The protocol (TCP port 1338; the WebSocket port 1339 carries the same
// commands, the greeting as a text message and then one command per binary
// message). The demo sends "hello, synctracker!", the editor answers
// "hello, demo!"; the demo then empties its tracks and asks for each with
// GET_TRACK in the order they were made, which is each track's index on
// this connection. Commands are a byte and a payload in network byte
// order: 0 SET_KEY (u32 track, u32 row, u32 float bits, u8 interpolation),
// 1 DELETE_KEY (u32 track, u32 row), 2 GET_TRACK (u32 name length, name),
// 3 SET_ROW (u32 row), 4 PAUSE (u8, nonzero pauses), 5 SAVE_TRACKS.
// What the editor sends that this side cannot take (an unknown command, a
// track index out of range, an interpolation above 3, a NaN or infinite
// value, a GET_TRACK, which only demos send) drops the connection with one
// "SYNC: ..." line; the tracks keep the keys they have. A DELETE_KEY for a
// row without a key changes nothing.
#ifndef SYNC_SYNC_H
#define SYNC_SYNC_H

#include <cstdint>

struct SyncDevice;
struct SyncTrack;

constexpr int SYNC_TCP_PORT = 1338;        // the editor's port for demos
constexpr int SYNC_WEBSOCKET_PORT = 1339;  // the editor's port for pages
constexpr int SYNC_MAX_NAME_BYTES = 255;   // longest track name
constexpr uint32_t SYNC_MAX_KEYS = 1u << 22;  // most keys a track holds

enum SyncInterpolation : uint8_t { SYNC_STEP = 0, SYNC_LINEAR = 1, SYNC_SMOOTH = 2, SYNC_RAMP = 3 };

struct SyncKey {
    uint32_t row;
    float value;
    uint8_t interpolation;  // SyncInterpolation, 0 .. 3
};

// What the editor's commands do to the program: pause (paused 1) or play
// (0), go to a row, and whether it is playing now. Each is called with the
// `user` given to sync_update; any may be null (nothing is done, and a
// null is_playing counts as playing).
struct SyncControl {
    void (*pause)(void *user, int paused);
    void (*set_row)(void *user, int row);
    int (*is_playing)(void *user);
};

// A device whose tracks come from the files BASE_NAME.track, or, when
// `base` ends in ".rocket", from that editor project, until an editor
// connects. Track files are read when their track is first asked for; a
// .rocket is read here whole. Null and one "SYNC: ..." line when the
// project cannot be read (missing, not XML, not a sync project; in a build
// without an XML reader, any .rocket), when base is null or empty, or
// memory runs out.
SyncDevice *sync_open(const char *base);

// Closes the connection and releases the device and its tracks. Null does
// nothing.
void sync_close(SyncDevice *device);

// The track named `name` (1 .. SYNC_MAX_NAME_BYTES bytes), made on first
// use: its keys from its file (or the project), and asked of the editor
// when connected. Stays valid until sync_close. Null for a null device or
// a bad name (one line), or when memory runs out.
const SyncTrack *sync_track(SyncDevice *device, const char *name);

// The track's value at `row` (see Values above); 0 for a null track.
// Cheap when rows move forward a little from one call to the next and
// about two lookups of a table when they jump.
double sync_value(const SyncTrack *track, double row);

// Connects to the editor at host:port (TCP natively; in the browser a
// WebSocket to ws://host:port) and asks for every known track. 0 when
// connected; -1 with one line when not (the editor not running, a host
// that cannot be found, an answer that is not the editor's). Either way
// the device remembers where the editor is and sync_update tries again, at
// most once a second. Natively it waits at most about a second for the
// editor; a page cannot wait, so there it starts the attempt, says so in
// its line and returns -1, and the next updates complete it.
int sync_connect(SyncDevice *device, const char *host, int port);

// Exchanges what is waiting with the editor, never waiting for it: takes
// the keys, rows, pauses and saves that have arrived (a command split
// across reads waits for its rest; of several SET_ROWs only the last is
// passed on), and while `control` says the program plays tells the editor
// `row` whenever it differs from the row last told. Without a connection,
// starts a new attempt when the last began a second ago or more. Returns 0;
// -1 on the call that lost the connection (the tracks keep their keys).
// A null device returns -1.
int sync_update(SyncDevice *device, int row, const SyncControl *control, void *user);

// Writes every track made by sync_track to its BASE_NAME.track file (for
// a .rocket device, BASE is the project's path without ".rocket"), each
// replaced only when the new file is whole. 0; -1 with one line per file
// that could not be written.
int sync_save(const SyncDevice *device);

// The editor's port this build connects to unless told otherwise:
// SYNC_TCP_PORT natively, SYNC_WEBSOCKET_PORT in the browser.
int sync_default_port(void);

// 1 while an editor is connected (greeted), else 0.
int sync_connected(const SyncDevice *device);

// The track's keys in rising rows, *count of them (0 for a null track);
// valid until the track's keys next change.
const SyncKey *sync_keys(const SyncTrack *track, uint32_t *count);

// Sets (adds or replaces) the key at key->row, or deletes the key at `row`,
// as the editor's SET_KEY and DELETE_KEY do: for tools that write tracks.
// 0; -1 for a bad track or key (interpolation above 3, a value not
// finite), a track full at SYNC_MAX_KEYS, no memory, or no key at `row`.
int sync_set_key(SyncDevice *device, const SyncTrack *track, const SyncKey *key);
int sync_delete_key(SyncDevice *device, const SyncTrack *track, uint32_t row);

// The track's name as given to sync_track; "" for a null track.
const char *sync_track_name(const SyncTrack *track);

// Writes NAME's track file name, BASE_NAME.track with NAME escaped, into
// `out` (`out_bytes` long, zero-terminated). The length written, or -1
// when it does not fit.
int sync_track_path(const char *base, const char *name, char *out, int out_bytes);

#endif
