// The heard position and the music events: the player's callbacks stamp
// ticks, rows and notes with song frames on the audio thread; each audio
// callback publishes a snapshot that the main thread reads without locks.
#include "platform/music_sync.h"

#include <atomic>
#include <climits>
#include <thread>

#include "platform/audio_output.h"
#include "platform/audio_sink.h"
#include "platform/engine_clock.h"

// Ticks remembered for looking up the heard position: at the fastest
// tempo (432 frames a tick) 256 ticks cover 2.5 s of sound, far more than
// any device buffer.
constexpr int MUSIC_SYNC_MARKS = 256;
// Tick boundaries one callback may publish; a longer buffer keeps the last.
constexpr int MUSIC_SYNC_STAGED_MARKS = 128;

// One tick of the song: where it begins in song frames, and the position.
struct MusicTickMark {
    int64_t start;
    uint8_t order;
    uint8_t row;
    uint16_t tick;
    uint32_t length;  // frames
};

struct MusicSyncMarkSlot {
    std::atomic<int64_t> start;
    std::atomic<uint64_t> position;  // order | row << 8 | tick << 16 | length << 32
};

// The state of the one synchronised player (music_player).
struct MusicSync {
    // Audio thread (and the main thread before the device runs)
    ModPlayer *player;
    ModPlayerCallback chained_row;   // the callbacks installed before attaching
    ModPlayerCallback chained_tick;
    void *chained_row_user;
    void *chained_tick_user;
    int64_t tick_start;              // song frame at which the current tick began
    int64_t rendered_to;             // song frame after the last buffer rendered
    bool end_pushed;
    MusicTickMark staged[MUSIC_SYNC_STAGED_MARKS];
    int staged_total;                // ticks ended during this callback (the last
                                     // MUSIC_SYNC_STAGED_MARKS are kept)
    // Published by the audio thread at the end of each callback, read by
    // the main thread: a snapshot guarded by `sequence` (odd while it is
    // being written).
    std::atomic<uint32_t> sequence;
    std::atomic<bool> rendered;      // at least one callback has rendered
    std::atomic<uint32_t> callback_ms;
    std::atomic<int64_t> render_start;
    std::atomic<int64_t> render_end;
    std::atomic<int64_t> current_start;     // the tick in progress at render_end
    std::atomic<uint64_t> current_position;
    std::atomic<uint64_t> marks_written;
    MusicSyncMarkSlot marks[MUSIC_SYNC_MARKS];
    // Events, audio thread to main thread
    EventRing events;
    // Main thread
    bool attached;
    bool exact;                      // heard is what is rendered (a capture)
    int64_t start_frame;             // song time at which the music started
    int64_t last_heard;
};
static MusicSync music_sync;

constexpr int MS_PER_SECOND = 1000;

static uint64_t pack_position(uint8_t order, uint8_t row, uint16_t tick, uint32_t length) {
    return static_cast<uint64_t>(order) | static_cast<uint64_t>(row) << 8 | static_cast<uint64_t>(tick) << 16 | static_cast<uint64_t>(length) << 32;
}

static MusicTickMark unpack_mark(int64_t start, uint64_t position) {
    return MusicTickMark{start, static_cast<uint8_t>(position), static_cast<uint8_t>(position >> 8), static_cast<uint16_t>(position >> 16),
                         static_cast<uint32_t>(position >> 32)};
}

static void push_event(uint8_t kind, uint8_t channel, uint8_t instrument, uint16_t sample, uint16_t period,
                       uint8_t volume) {
    ModPlayerPosition at;
    mod_player_position(music_sync.player, &at);
    MusicEvent event = {kind, at.order, at.row, channel, instrument, volume, sample, period, music_sync.tick_start};
    event_ring_push(&music_sync.events, &event);
}

// Tick callback: runs first at each tick boundary, while the player still
// describes the tick that has just ended (its `tick` already counted on).
static void sync_tick(void *user) {
    (void)user;
    MusicSync *s = &music_sync;
    ModPlayerPosition at;
    mod_player_position(s->player, &at);
    const MusicTickMark ended = {s->tick_start, at.order, at.row, static_cast<uint16_t>(at.tick - 1), at.tick_frames};
    s->staged[s->staged_total % MUSIC_SYNC_STAGED_MARKS] = ended;
    s->staged_total++;
    s->tick_start += at.tick_frames;
    if (s->chained_tick) s->chained_tick(s->chained_tick_user);
}

static void sync_row(void *user) {
    (void)user;
    push_event(MUSIC_EVENT_ROW, 0, 0, 0, 0, 0);
    if (music_sync.chained_row) music_sync.chained_row(music_sync.chained_row_user);
}

static void sync_note(void *user, int channel, uint8_t instrument, uint16_t sample, uint16_t period, uint8_t volume) {
    (void)user;
    push_event(MUSIC_EVENT_NOTE, static_cast<uint8_t>(channel), instrument, sample, period, volume);
}

// Publishes the snapshot of one rendered buffer (audio thread, or the main
// thread while the device does not run).
static void publish(uint32_t callback_ms, int64_t render_start, int64_t render_end, bool rendered) {
    MusicSync *s = &music_sync;
    ModPlayerPosition at;
    mod_player_position(s->player, &at);
    const uint32_t sequence = s->sequence.load(std::memory_order_relaxed);
    s->sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    uint64_t written = s->marks_written.load(std::memory_order_relaxed);
    const int first = s->staged_total > MUSIC_SYNC_STAGED_MARKS ? s->staged_total - MUSIC_SYNC_STAGED_MARKS : 0;
    for (int i = first; i < s->staged_total; i++, written++) {
        const MusicTickMark &m = s->staged[i % MUSIC_SYNC_STAGED_MARKS];
        MusicSyncMarkSlot *slot = &s->marks[written % MUSIC_SYNC_MARKS];
        slot->start.store(m.start, std::memory_order_relaxed);
        slot->position.store(pack_position(m.order, m.row, m.tick, m.length), std::memory_order_relaxed);
    }
    s->staged_total = 0;
    s->marks_written.store(written, std::memory_order_relaxed);
    s->callback_ms.store(callback_ms, std::memory_order_relaxed);
    s->render_start.store(render_start, std::memory_order_relaxed);
    s->render_end.store(render_end, std::memory_order_relaxed);
    s->current_start.store(s->tick_start, std::memory_order_relaxed);
    s->current_position.store(pack_position(at.order, at.row, at.tick, at.tick_frames), std::memory_order_relaxed);
    s->rendered.store(rendered, std::memory_order_relaxed);
    s->sequence.store(sequence + 2, std::memory_order_release);
}

void music_sync_attach(ModPlayer *player, int64_t start_frame, bool exact) {
    MusicSync *s = &music_sync;
    // Attached again (after a seek), the callbacks are already ours.
    void *user = nullptr;
    const ModPlayerCallback row = mod_player_row_callback(player, &user);
    if (row != sync_row) {
        s->chained_row = row;
        s->chained_row_user = user;
    }
    const ModPlayerCallback tick = mod_player_tick_callback(player, &user);
    if (tick != sync_tick) {
        s->chained_tick = tick;
        s->chained_tick_user = user;
    }
    s->player = player;
    mod_player_set_row_callback(player, sync_row, nullptr);
    mod_player_set_tick_callback(player, sync_tick, nullptr);
    mod_player_set_note_callback(player, sync_note, nullptr);
    ModPlayerPosition at;
    mod_player_position(player, &at);
    s->tick_start = start_frame - at.tick_frame;
    s->rendered_to = start_frame;
    s->end_pushed = false;
    s->staged_total = 0;
    s->marks_written.store(0, std::memory_order_relaxed);
    // The events are the new position's; the count of those lost goes on.
    const uint64_t dropped = s->events.dropped;
    event_ring_init(&s->events);
    s->events.dropped = dropped;
    s->attached = true;
    s->exact = exact;
    s->start_frame = start_frame;
    s->last_heard = start_frame;
    // Started at a row by a seek: that row's start and its notes, which the
    // seek kept, are the first events heard.
    mod_player_announce_row(player);
    publish(0, start_frame, start_frame, false);
}

void music_sync_detach(void) {
    music_sync.attached = false;
    music_sync.player = nullptr;
}

void music_sync_audio_callback(void *userdata, uint8_t *stream, int len) {
    const uint32_t now = engine_ticks();
    MusicSync *s = &music_sync;
    // Only the attached player is followed; anything else just plays.
    if (!s->attached || music_player != s->player) {
        audio_callback(userdata, stream, len);
        return;
    }
    // Song time runs on with the device, through the silence after the end.
    const int64_t start = s->rendered_to;
    audio_callback(userdata, stream, len);
    const int64_t end = start + (len > 0 ? len / AUDIO_FRAME_BYTES : 0);
    s->rendered_to = end;
    if (mod_player_is_finished(s->player) && !s->end_pushed) {
        push_event(MUSIC_EVENT_END, 0, 0, 0, 0, 0);
        s->end_pushed = true;
    }
    publish(now, start, end, true);
}

struct Snapshot {
    bool rendered;
    uint32_t callback_ms;
    int64_t render_start, render_end;
    MusicTickMark current;
    MusicTickMark found;  // the tick holding the frame looked for
};

// The heard song frame at `now_ms` for a snapshot.
static int64_t estimate(const Snapshot &snap, uint32_t now_ms) {
    const MusicSync *s = &music_sync;
    if (!snap.rendered) return s->start_frame;
    if (s->exact) return snap.render_end;
    const AudioSink *sink = audio_sink();
    const int rate = mod_player_output_rate(s->player);
    const int64_t queued = sink->frames_queued(rate);
    int64_t heard;
    if (sink->queue_now) {
        // A queue measured now (Web Audio plays what was rendered,
        // scheduled back to back): what it has not played is still ahead.
        heard = snap.render_end - queued;
    } else {
        // The device's buffer, as of the callback: from then on the device
        // plays at the output rate.
        const int64_t since_ms = static_cast<int32_t>(now_ms - snap.callback_ms);
        heard = snap.render_start - queued + since_ms * rate / MS_PER_SECOND;
        if (heard > snap.render_end - queued) heard = snap.render_end - queued;
    }
    if (heard < s->last_heard) heard = s->last_heard;
    return heard;
}

// Reads the snapshot, estimates the heard frame at `now_ms` from it and
// finds the tick holding that frame, all inside one consistent read.
static Snapshot read_snapshot(uint32_t now_ms, int64_t *heard) {
    MusicSync *s = &music_sync;
    Snapshot snap;
    for (;;) {
        const uint32_t before = s->sequence.load(std::memory_order_acquire);
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        snap.rendered = s->rendered.load(std::memory_order_relaxed);
        snap.callback_ms = s->callback_ms.load(std::memory_order_relaxed);
        snap.render_start = s->render_start.load(std::memory_order_relaxed);
        snap.render_end = s->render_end.load(std::memory_order_relaxed);
        snap.current = unpack_mark(s->current_start.load(std::memory_order_relaxed),
                                   s->current_position.load(std::memory_order_relaxed));
        *heard = estimate(snap, now_ms);
        snap.found = snap.current;
        const uint64_t written = s->marks_written.load(std::memory_order_relaxed);
        const uint64_t oldest = written > MUSIC_SYNC_MARKS ? written - MUSIC_SYNC_MARKS : 0;
        for (uint64_t i = written; snap.found.start > *heard && i > oldest; i--) {
            const MusicSyncMarkSlot *slot = &s->marks[(i - 1) % MUSIC_SYNC_MARKS];
            snap.found = unpack_mark(slot->start.load(std::memory_order_relaxed),
                                     slot->position.load(std::memory_order_relaxed));
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (s->sequence.load(std::memory_order_relaxed) == before) return snap;
    }
}

int music_heard_position_at(uint32_t now_ms, MusicPosition *position) {
    MusicSync *s = &music_sync;
    if (!s->attached || !position) return -1;
    int64_t heard = 0;
    const Snapshot snap = read_snapshot(now_ms, &heard);
    s->last_heard = heard;
    const MusicTickMark &m = snap.found;
    int64_t into = heard - m.start;
    if (into < 0) into = 0;
    if (m.length > 0 && into >= m.length) into = m.length - 1;
    position->order = m.order;
    position->row = m.row;
    position->tick = m.tick;
    position->tick_frame = static_cast<uint32_t>(into);
    position->song_frame = heard;
    position->song_ms = heard * MS_PER_SECOND / mod_player_output_rate(s->player);
    position->tick_frames = m.length;
    return 0;
}

int music_sync_last_callback(uint32_t *callback_ms, int64_t *render_start) {
    MusicSync *s = &music_sync;
    if (!s->attached || !callback_ms || !render_start) return -1;
    for (;;) {
        const uint32_t before = s->sequence.load(std::memory_order_acquire);
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        const bool rendered = s->rendered.load(std::memory_order_relaxed);
        const uint32_t ms = s->callback_ms.load(std::memory_order_relaxed);
        const int64_t start = s->render_start.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (s->sequence.load(std::memory_order_relaxed) != before) continue;
        if (!rendered) return -1;
        *callback_ms = ms;
        *render_start = start;
        return 0;
    }
}

int music_heard_position(MusicPosition *position) { return music_heard_position_at(engine_ticks(), position); }

int music_event_next(MusicEvent *event) {
    MusicPosition heard;
    if (!event || music_heard_position(&heard) != 0) return 0;
    return event_ring_take(&music_sync.events, event, heard.song_frame);
}

int music_event_next_any(MusicEvent *event) {
    if (!event || !music_sync.attached) return 0;
    return event_ring_take(&music_sync.events, event, INT64_MAX);
}

uint64_t music_events_dropped(void) { return music_sync.events.dropped; }
