// Song length and seeking: stepping a player's sequencer tick by tick
// without mixing. The length needs only the clock and the commands; a seek
// also moves the voices through their samples, so that rendering goes on
// exactly as if the song had been played up to there.
#include <cstring>

#include "music/player_state_internal.h"
#include "music/sequencer_internal.h"
#include "music/voice_pool_internal.h"
#include "util/alloc.h"

constexpr int64_t MICROSECONDS_PER_SECOND = 1000000;
constexpr int64_t SECONDS_PER_HOUR = 3600;

// A copy of `player` standing at the song's start with looping set to
// `loop` and no callbacks, for scanning. Null when it cannot be allocated;
// release it with engine_free.
static ModPlayer *scan_copy(const ModPlayer *player, uint8_t loop) {
    ModPlayer *copy = static_cast<ModPlayer *>(engine_malloc(sizeof(ModPlayer)));
    if (!copy) return nullptr;
    memcpy(copy, player, sizeof(ModPlayer));
    copy->loop = loop;
    copy->row_callback = nullptr;
    copy->tick_callback = nullptr;
    copy->note_callback = nullptr;
    // The clock does not depend on the notes still sounding: no pool.
    copy->pool = nullptr;
    copy->pool_size = 0;
    mod_player_reset(copy);
    return copy;
}

// Whether the tick just run started row `row` of position `order`: only a
// row start leaves `tick` at 0.
static bool row_started(const ModPlayer *player, int order, int row) {
    return !player->finished && player->tick == 0 && player->order == order && player->row == row;
}

// Steps `scan` (a scan_copy) tick by tick, without the voices, until the
// song ends, limit_frames are reached or, with order >= 0, row `row` of
// position `order` starts. Returns the frames elapsed, at most limit_frames;
// *reached tells whether the row started.
static int64_t scan_ticks(ModPlayer *scan, int64_t limit_frames, int order, int row, bool *reached) {
    int64_t frames = 0;
    *reached = false;
    while (!scan->finished && frames < limit_frames) {
        // The copy never mixes: its samples never run out, no voice waits
        // to be stopped, and the clock does not depend on them.
        frames += scan->samples_per_tick;
        scan->tick++;
        process_tick(scan);
        if (order >= 0 && row_started(scan, order, row)) {
            *reached = true;
            break;
        }
    }
    return frames < limit_frames ? frames : limit_frames;
}

int64_t mod_song_length(const ModPlayer *player, int64_t limit_frames, int64_t *microseconds) {
    if (!player || limit_frames < 0) return -1;
    ModPlayer *scan = scan_copy(player, 0);
    if (!scan) return -1;
    bool reached;
    const int64_t frames = scan_ticks(scan, limit_frames, -1, 0, &reached);
    engine_free(scan);
    // At most 2^63 / 10^6 frames before the product wraps: far beyond any
    // limit a caller passes (a year at 65535 Hz is 2^41 frames).
    if (microseconds) *microseconds = frames * MICROSECONDS_PER_SECOND / player->output_rate;
    return frames;
}

int64_t mod_player_seek(ModPlayer *player, int order, int row) {
    if (!player || order < 0 || order >= player->song_length || row < 0 ||
        row >= player->song->patterns[player->song->orders[order]].rows)
        return -1;
    // First the clock alone on a copy: is the row reached, and when? With
    // looping on, the song goes round instead of ending, so rows that only
    // the way round reaches count too (a jump back to a position that the
    // first pass skipped).
    ModPlayer *scan = scan_copy(player, player->loop ? 1 : 0);
    if (!scan) return -1;
    bool reached;
    const int64_t limit = MOD_SEEK_LIMIT_HOURS * SECONDS_PER_HOUR * player->output_rate;
    const int64_t frames = scan_ticks(scan, limit, order, row, &reached);
    engine_free(scan);
    if (!reached) return -1;

    // Then the player itself, with its voices moved through their samples
    // tick by tick as rendering moves them, with its own `loop` as the scan
    // had it. Before the row is reached the song cannot have ended: with
    // looping off the scan would have stopped there, with it on it never
    // ends.
    // The note starts of the row reached are kept for
    // mod_player_announce_row: each tick forgets those of the one before.
    const ModPlayerCallback row_callback = player->row_callback;
    const ModPlayerCallback tick_callback = player->tick_callback;
    player->row_callback = nullptr;
    player->tick_callback = nullptr;
    player->landing_recording = 1;
    mod_player_reset(player);
    do {
        const int n = static_cast<int>(player->samples_per_tick - player->tick_sample);
        for (int i = 0; i < player->channel_count; i++) voice_advance(&player->voices[i], n);
        if (player->pool) pool_advance(player, n);
        player->landing_count = 0;
        mod_player_finish_tick(player);
    } while (!row_started(player, order, row));
    player->landing_recording = 0;
    player->landing_pending = 1;
    player->row_callback = row_callback;
    player->tick_callback = tick_callback;
    return frames;
}
