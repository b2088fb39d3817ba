// The row a program's sync tracks are read at (the music's played row, or
// rows counted at a rate), KEVO_SYNC, and the editor's pause and seek
// acting on the music.
#include "platform/sync_rows.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/audio_output.h"
#include "platform/engine_clock.h"
#include "platform/music_seek.h"
#include "platform/music_sync.h"

constexpr double MS_PER_MINUTE = 60000.0;
constexpr double SYNC_ROWS_MAX_BPM = 1000.0;
constexpr int SYNC_ROWS_MAX_ROWS_PER_BEAT = 64;
static const char WEBSOCKET_PREFIX[] = "ws://";
constexpr int HOST_BYTES = 256;

// The music's clock while the player it was made for still plays.
static ModRowClock *music_clock(SyncRows *rows) {
    if (rows->clock && music_player != rows->player) {
        mod_row_clock_destroy(rows->clock);
        rows->clock = nullptr;
    }
    return rows->clock;
}

double sync_rows_now(SyncRows *rows) {
    if (rows->paused) return rows->row;
    MusicPosition heard;
    ModRowClock *clock = music_clock(rows);
    if (clock && music_heard_position(&heard) == 0) return mod_row_clock_row(clock, heard.song_frame);
    return rows->origin_row + static_cast<double>(engine_ticks() - rows->origin_ms) * rows->rows_per_ms;
}

// Counted rows go on from `row` now.
static void count_from(SyncRows *rows, double row) {
    rows->origin_row = row;
    rows->origin_ms = engine_ticks();
}

static void control_pause(void *user, int paused) {
    SyncRows *rows = static_cast<SyncRows *>(user);
    if (rows->paused == (paused != 0)) return;
    if (paused) {
        rows->row = sync_rows_now(rows);
        if (music_clock(rows)) audio_pause();
    } else {
        count_from(rows, rows->row);
        if (music_clock(rows)) audio_unpause();
    }
    rows->paused = paused != 0;
}

static void control_set_row(void *user, int row) {
    SyncRows *rows = static_cast<SyncRows *>(user);
    // The music as played there; a row past a song's end changes nothing.
    if (music_clock(rows) && music_seek_played_row(row) != 0) return;
    count_from(rows, row);
    rows->row = row;
}

static int control_is_playing(void *user) { return static_cast<SyncRows *>(user)->paused ? 0 : 1; }

const SyncControl SYNC_ROWS_CONTROL = {control_pause, control_set_row, control_is_playing};

void sync_rows_set_rate(SyncRows *rows, double bpm, int rows_per_beat) {
    if (!(bpm > 0.0 && bpm <= SYNC_ROWS_MAX_BPM) || rows_per_beat < 1 || rows_per_beat > SYNC_ROWS_MAX_ROWS_PER_BEAT)
        return;
    count_from(rows, sync_rows_now(rows));
    rows->rows_per_ms = bpm * rows_per_beat / MS_PER_MINUTE;
}

// KEVO_SYNC=[ws://]host[:port]: connects the device. The ws:// form is a
// page's; a native program speaks TCP.
static void connect_from_env(SyncRows *rows, const char *where) {
    const bool websocket = strncmp(where, WEBSOCKET_PREFIX, sizeof WEBSOCKET_PREFIX - 1) == 0;
    const char *host_start = websocket ? where + sizeof WEBSOCKET_PREFIX - 1 : where;
    if (websocket && sync_default_port() == SYNC_TCP_PORT) {
        fprintf(stderr, "SYNC: KEVO_SYNC=%s is a page's WebSocket; a program here connects over TCP "
                        "(KEVO_SYNC=host[:port]); playing the tracks' files\n", where);
        return;
    }
    char host[HOST_BYTES];
    int port = sync_default_port();
    const char *colon = strrchr(host_start, ':');
    size_t host_bytes = strlen(host_start);
    if (colon) {
        char *end = nullptr;
        const long p = strtol(colon + 1, &end, 10);
        if (colon[1] < '0' || colon[1] > '9' || *end != '\0' || p < 1 || p > 65535) {
            fprintf(stderr, "SYNC: KEVO_SYNC wants host[:port] (port 1-65535), not '%s'; playing the tracks' files\n",
                    where);
            return;
        }
        port = static_cast<int>(p);
        host_bytes = static_cast<size_t>(colon - host_start);
    }
    if (host_bytes == 0 || host_bytes >= sizeof host) {
        fprintf(stderr, "SYNC: KEVO_SYNC names no host ('%s'); playing the tracks' files\n", where);
        return;
    }
    memcpy(host, host_start, host_bytes);
    host[host_bytes] = '\0';
    sync_connect(rows->device, host, port);  // its one line says how it went
}

int sync_rows_start(SyncRows *rows, const char *base) {
    memset(rows, 0, sizeof *rows);
    rows->rows_per_ms = SYNC_ROWS_DEFAULT_BPM * SYNC_ROWS_DEFAULT_ROWS_PER_BEAT / MS_PER_MINUTE;
    count_from(rows, 0.0);
    if (music_player) {
        rows->player = music_player;
        rows->clock = mod_row_clock_create(music_player);
    }
    rows->device = sync_open(base);
    if (!rows->device) return -1;
    const char *where = getenv("KEVO_SYNC");
    if (where && *where)
        connect_from_env(rows, where);
    else
        fprintf(stderr, "SYNC: tracks from %s%s (KEVO_SYNC=host[:port] edits them in a sync editor)\n", base,
                strstr(base, ".rocket") ? "" : "_*.track");
    return 0;
}

double sync_rows_update(SyncRows *rows) {
    if (rows->device) sync_update(rows->device, static_cast<int>(std::floor(sync_rows_now(rows))), &SYNC_ROWS_CONTROL, rows);
    const double row = sync_rows_now(rows);
    if (!rows->paused) rows->row = row;
    return row;
}

void sync_rows_stop(SyncRows *rows) {
    sync_close(rows->device);
    mod_row_clock_destroy(rows->clock);
    rows->device = nullptr;
    rows->clock = nullptr;
}
