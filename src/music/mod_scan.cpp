// Song length and seeking: stepping a player's sequencer tick by tick
// without mixing. The length needs only the clock and the commands; a seek
// also moves the voices through their samples, so that rendering goes on
// exactly as if the song had been played up to there.
#include <cstring>

#include "music/player_state_internal.h"
#include "music/sequencer_internal.h"
#include "music/stereo_halves_internal.h"
#include "music/voice_filter_internal.h"
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
    // The clock does not depend on the notes still sounding: no pool, and
    // no right halves, whose voices are the player's own.
    copy->pool = nullptr;
    copy->pool_size = 0;
    copy->halves = nullptr;
    copy->half_count = 0;
    mod_player_reset(copy);
    return copy;
}

// The row a scan or a seek looks for: row `row` of position `order`, or,
// with order < 0, the row start numbered `played_row` from the song's
// start (0 the first), counting in `rows_started`.
struct ScanTarget {
    int order;
    int row;
    int64_t played_row;
    int64_t rows_started;
};

// Whether the tick just run started the target row: only a row start
// leaves `tick` at 0.
static bool target_reached(const ModPlayer *player, ScanTarget *target) {
    if (player->finished || player->tick != 0) return false;
    if (target->order >= 0) return player->order == target->order && player->row == target->row;
    return target->rows_started++ == target->played_row;
}

// Steps `scan` (a scan_copy) tick by tick, without the voices, until the
// song ends, limit_frames are reached or the `target` row (when not null)
// starts. Returns the frames elapsed, at most limit_frames; *reached tells
// whether the row started.
static int64_t scan_ticks(ModPlayer *scan, int64_t limit_frames, ScanTarget *target, bool *reached) {
    int64_t frames = 0;
    *reached = false;
    while (!scan->finished && frames < limit_frames) {
        // The copy never mixes: its samples never run out, no voice waits
        // to be stopped, and the clock does not depend on them.
        frames += scan->samples_per_tick;
        scan->tick++;
        process_tick(scan);
        if (target && target_reached(scan, target)) {
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
    const int64_t frames = scan_ticks(scan, limit_frames, nullptr, &reached);
    engine_free(scan);
    // At most 2^63 / 10^6 frames before the product wraps: far beyond any
    // limit a caller passes (a year at 65535 Hz is 2^41 frames).
    if (microseconds) *microseconds = frames * MICROSECONDS_PER_SECOND / player->output_rate;
    return frames;
}

// mod_player_seek and mod_player_seek_played_row for `target`.
static int64_t seek_to(ModPlayer *player, ScanTarget target) {
    // First the clock alone on a copy: is the row reached, and when? With
    // looping on, the song goes round instead of ending, so rows that only
    // the way round reaches count too (a jump back to a position that the
    // first pass skipped).
    ModPlayer *scan = scan_copy(player, player->loop ? 1 : 0);
    if (!scan) return -1;
    bool reached;
    const int64_t limit = MOD_SEEK_LIMIT_HOURS * SECONDS_PER_HOUR * player->output_rate;
    ScanTarget on_scan = target;
    const int64_t frames = scan_ticks(scan, limit, &on_scan, &reached);
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
        for (int i = 0; i < player->channel_count; i++)
            voice_advance_filtered(&player->voices[i], &player->channels[i].filter, n);
        if (player->pool) pool_advance(player, n);
        stereo_advance(player, n);
        player->landing_count = 0;
        mod_player_finish_tick(player);
    } while (!target_reached(player, &target));
    player->landing_recording = 0;
    player->landing_pending = 1;
    player->row_callback = row_callback;
    player->tick_callback = tick_callback;
    return frames;
}

int64_t mod_player_seek(ModPlayer *player, int order, int row) {
    if (!player || order < 0 || order >= player->song_length || row < 0 ||
        row >= player->song->patterns[player->song->orders[order]].rows)
        return -1;
    return seek_to(player, ScanTarget{order, row, 0, 0});
}

int64_t mod_player_seek_played_row(ModPlayer *player, int64_t played_row) {
    if (!player || played_row < 0) return -1;
    return seek_to(player, ScanTarget{-1, 0, played_row, 0});
}

// A scan copy kept one row start ahead of the frames asked about
// (mod_player.h). Invariant: the scan has passed rows_started row starts,
// the last at frame last_start and the one before at previous_start, and
// previous_start <= last_frame.
struct ModRowClock {
    ModPlayer *origin;        // the player's song at its start, as created
    ModPlayer *scan;          // stepped tick by tick from the song's start
    int64_t scan_frames;      // frames the scan has run
    int64_t rows_started;
    int64_t previous_start;
    int64_t last_start;
    int64_t last_frame;       // the frame asked about last
};

// Starts the scan again from the copy made at creation: the player itself,
// which the audio thread may be rendering, is read only then.
static void row_clock_restart(ModRowClock *clock) {
    memcpy(clock->scan, clock->origin, sizeof(ModPlayer));
    clock->scan_frames = 0;
    clock->rows_started = 0;
    clock->previous_start = 0;
    clock->last_start = 0;
    clock->last_frame = 0;
}

ModRowClock *mod_row_clock_create(const ModPlayer *player) {
    if (!player) return nullptr;
    ModRowClock *clock = static_cast<ModRowClock *>(engine_calloc(1, sizeof(ModRowClock)));
    if (!clock) return nullptr;
    clock->origin = scan_copy(player, player->loop ? 1 : 0);
    clock->scan = static_cast<ModPlayer *>(engine_malloc(sizeof(ModPlayer)));
    if (!clock->origin || !clock->scan) {
        mod_row_clock_destroy(clock);
        return nullptr;
    }
    row_clock_restart(clock);
    return clock;
}

void mod_row_clock_destroy(ModRowClock *clock) {
    if (!clock) return;
    engine_free(clock->origin);
    engine_free(clock->scan);
    engine_free(clock);
}

double mod_row_clock_row(ModRowClock *clock, int64_t frame) {
    if (!clock || frame < 0) return 0.0;
    if (frame < clock->last_frame) row_clock_restart(clock);
    clock->last_frame = frame;
    ModPlayer *scan = clock->scan;
    // On until a row starts after `frame` (or the song ends): the row
    // holding it is then the one before, whose length is known.
    while ((clock->rows_started == 0 || clock->last_start <= frame) && !scan->finished) {
        clock->scan_frames += scan->samples_per_tick;
        scan->tick++;
        process_tick(scan);
        if (!scan->finished && scan->tick == 0) {
            clock->previous_start = clock->last_start;
            clock->last_start = clock->scan_frames;
            clock->rows_started++;
        }
    }
    const int64_t row = clock->rows_started;
    if (!scan->finished || clock->last_start > frame) {
        // Before the first row starts (the song's first row of ticks) the
        // row is 0.
        if (row < 2) return 0.0;
        return static_cast<double>(row - 2) + static_cast<double>(frame - clock->previous_start) /
                                                   static_cast<double>(clock->last_start - clock->previous_start);
    }
    // After the end the last row's length goes on counting.
    if (row == 0) return 0.0;
    const int64_t length = clock->scan_frames > clock->last_start ? clock->scan_frames - clock->last_start : 1;
    return static_cast<double>(row - 1) + static_cast<double>(frame - clock->last_start) / static_cast<double>(length);
}
