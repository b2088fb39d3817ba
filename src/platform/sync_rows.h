// Sync tracks in a program: the row its tracks are read at, on the
// music's own clock, and the sync editor's control over the program.
//
// The row is the module's played row (mod_player.h): the rows heard since
// the song began, with the fraction of the current row heard, counted
// through jumps and loops, from the heard position (music_sync.h). So a
// key typed on the row of a drum hit lands on the hit whatever the tempo
// does. A program without music counts rows on the engine's clock at the
// rate it sets (125 beats a minute, 4 rows a beat unless told otherwise:
// a MOD's pace at speed 6). In a capture both clocks are the virtual one,
// so captured values are exact and the same every time.
//
// The editor's commands act on the program: PAUSE stops and resumes the
// music (and the row, so pictures drawn from tracks stand still), SET_ROW
// seeks the music to that played row exactly (music_seek_played_row: the
// song as played there) or moves the counted rows.
//
// KEVO_SYNC=host[:port] (port 1338 unless given) connects the program to a
// sync editor there; in a page ?sync=ws://host:port (1339, the editor's
// WebSocket port), which reaches the program as KEVO_SYNC. Without it the
// tracks play from their files. One "SYNC: ..." line at the start says
// which.
//
//     SyncRows rows;
//     sync_rows_start(&rows, "res/intro");   // after the music has started
//     const SyncTrack *fade = sync_track(rows.device, "fade");
//     each frame:  double row = sync_rows_update(&rows);
//                  ... sync_value(fade, row) ...
//     sync_rows_stop(&rows);
#ifndef PLATFORM_SYNC_ROWS_H
#define PLATFORM_SYNC_ROWS_H

#include <cstdint>

#include "music/mod_player.h"
#include "sync/sync.h"

constexpr double SYNC_ROWS_DEFAULT_BPM = 125.0;
constexpr int SYNC_ROWS_DEFAULT_ROWS_PER_BEAT = 4;

// A program's rows and its sync device.
struct SyncRows {
    SyncDevice *device;     // the tracks; null when it could not be opened
    ModRowClock *clock;     // the music's played rows; null without music
    const ModPlayer *player;  // the player the clock follows
    bool paused;            // by the editor
    double row;             // the row of the last update
    // Rows without music: row = origin_row + (ms - origin_ms) x rows_per_ms
    double rows_per_ms;
    uint32_t origin_ms;     // on the engine's clock
    double origin_row;
};

// The editor's control over the music and the rows; `user` is the
// SyncRows. sync_rows_update passes it.
extern const SyncControl SYNC_ROWS_CONTROL;

// Opens the sync device for `base` (sync_open: BASE_NAME.track files or a
// .rocket project) and, when KEVO_SYNC is set, connects it to the editor
// there. Follows the music playing now (music_player), or counts rows at
// the default rate. One "SYNC: ..." line says where the tracks come from.
// 0; -1 when the device cannot be opened (rows->device null: the tracks
// are then null and read 0; the rows still count).
int sync_rows_start(SyncRows *rows, const char *base);

// For a program without music: rows at `bpm` beats a minute, each beat
// `rows_per_beat` rows, from the row it stands at now. Out-of-range values
// (bpm not above 0 or above 1000, rows_per_beat 1 .. 64) change nothing.
void sync_rows_set_rate(SyncRows *rows, double bpm, int rows_per_beat);

// The row now (heard, counted, or where the editor paused it), after
// exchanging what is waiting with the editor (sync_update); once a frame,
// before drawing. The editor's keys, pauses and seeks that arrived are in
// force in the row and values returned.
double sync_rows_update(SyncRows *rows);

// The row now, without the editor's exchange.
double sync_rows_now(SyncRows *rows);

// Closes the device and forgets the clock. Harmless twice.
void sync_rows_stop(SyncRows *rows);

#endif
