// KEVO_FROM and music_seek: a player moved to a row by the sequencer scan,
// and the sync told where the song now stands.
#include "platform/music_seek.h"

#include <cerrno>
#include <cstdlib>

#include "platform/audio_output.h"
#include "platform/audio_sink.h"
#include "platform/failure_line.h"
#include "platform/music_sync.h"

static int parse_number(const char *text, char **end, int highest) {
    if (*text < '0' || *text > '9') return -1;
    errno = 0;
    const long value = strtol(text, end, 10);
    return errno == 0 && value <= highest ? static_cast<int>(value) : -1;
}

int music_position_rows(const ModPlayer *player, int order) {
    const Song *song = mod_player_song(player);
    if (!song || order < 0 || order >= song->order_count) return 0;
    return song->patterns[song->orders[order]].rows;
}

int music_parse_position(const char *text, int *order, int *row) {
    if (!text || !order || !row) return -1;
    char *end = nullptr;
    const int o = parse_number(text, &end, SONG_MAX_ORDERS - 1);
    if (o < 0) return -1;
    int r = 0;
    if (*end == ':') {
        r = parse_number(end + 1, &end, SONG_MAX_ROWS - 1);
        if (r < 0) return -1;
    }
    if (*end != '\0') return -1;
    *order = o;
    *row = r;
    return 0;
}

int64_t music_seek_from_env(ModPlayer *player) {
    const char *from = getenv("KEVO_FROM");
    if (!from || !*from) return 0;
    int order = 0, row = 0;
    if (music_parse_position(from, &order, &row) != 0) {
        failure_line("MUSIC", "KEVO_FROM wants ORDER or ORDER:ROW (order 0-255, row 0-255), not '%s'; playing from "
                              "the start", from);
        return 0;
    }
    const int64_t frame = mod_player_seek(player, order, row);
    if (frame < 0) {
        const int rows = music_position_rows(player, order);
        if (rows > 0 && row >= rows)
            failure_line("MUSIC", "KEVO_FROM=%s: order position %d has %d rows (0-%d); playing from the start", from,
                         order, rows, rows - 1);
        else
            failure_line("MUSIC", "KEVO_FROM=%s: the song never plays row %d of order position %d (it has %d "
                                  "positions); playing from the start", from, row, order,
                         mod_player_song(player)->order_count);
        return 0;
    }
    return frame;
}

// Restarts the playing music where `seek` moves the player (order and
// row, or a played row).
static int seek_playing_music(int order, int row, int64_t played_row) {
    ModPlayer *player = music_player;
    if (!player) return -1;
    // The callback does not run meanwhile (a capture's runs on this thread,
    // where what is rendered is what is heard).
    audio_lock();
    const int64_t frame = played_row >= 0 ? mod_player_seek_played_row(player, played_row)
                                          : mod_player_seek(player, order, row);
    if (frame >= 0) music_sync_attach(player, frame, audio_sink()->exact);
    audio_unlock();
    return frame >= 0 ? 0 : -1;
}

int music_seek(int order, int row) {
    if (order < 0 || row < 0) return -1;
    return seek_playing_music(order, row, -1);
}

int music_seek_played_row(int64_t played_row) {
    if (played_row < 0) return -1;
    return seek_playing_music(0, 0, played_row);
}
