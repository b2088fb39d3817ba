// Pictures in step with what is heard. The audio thread renders a buffer
// or two ahead of the speakers; this module tells the main thread where
// the song is as heard now, and hands it the song's row starts, note
// starts and end, each stamped with the song frame at which it is heard.
//
// Song time: frames (44100 per second) the player has played since the
// song's beginning: 0 at its start, or the time the song reaches a
// position by playing when the music starts there (music_seek,
// KEVO_FROM). With looping on it keeps counting across the song's wrap;
// after the song's end (looping off) it counts the silence that follows.
//
// How the heard position is estimated. At the end of every audio callback
// the audio thread publishes (lock-free, a sequence-numbered snapshot) the
// song frame at the start of the buffer it rendered, the song frame at its
// end, the sequencer's position at each tick boundary inside it, and the
// time of the callback on the engine's clock (engine_ticks()). SDL asks
// for a buffer when the device has room for one, that is while it still
// plays the previous one: so the first frame of the buffer rendered at
// callback time t is heard one device buffer (audio_device_frames, 1024
// at 44100 Hz: 23.2 ms) later, and from then on at the output rate:
//
//   heard(now) = render_start - device_frames + (now - t) x rate / 1000
//
// kept within the frames rendered so far (never more than render_end -
// device_frames), never earlier than a value already returned, and never
// before the song time at which the music started. So the estimate moves
// smoothly between callbacks, at the output rate, and lags the render
// position by the device buffer.
//
// Accuracy: the clock reads whole milliseconds (+-1 ms, 44 frames), and
// the moment SDL's audio thread wakes for a callback jitters with the
// scheduler; each callback re-anchors the estimate, so its error does not
// accumulate. Measured with SDL's disk audio driver taking a 1024-frame
// buffer every 23 ms, against the device's own pace (a straight line
// between consecutive callbacks), polled every millisecond for 3 s: mean
// error 0.2 ms, worst 2.5 to 5 ms (a late wake-up of the audio thread);
// tests/platform_music_sync_test.cpp measures and prints it. Latency that the
// sound system adds beyond SDL's buffer (a sound server's own buffering,
// the hardware FIFO) cannot be seen from SDL 1.2 and is not included. During
// a capture (KEVO_CAPTURE) the position is exact: the sound is rendered in
// step with the virtual clock, and what is rendered is what is heard.
//
// Threads: music_sync_attach and every reader below run on the main
// thread; the callbacks it installs and music_sync_audio_callback run on
// the audio thread. Nothing is locked.
#ifndef PLATFORM_MUSIC_SYNC_H
#define PLATFORM_MUSIC_SYNC_H

#include <cstdint>

#include "music/event_ring.h"
#include "music/mod_player.h"

// Where the song is: the sequencer's position and the song time.
struct MusicPosition {
    uint8_t order;         // order position
    uint8_t row;           // row 0 .. 255
    uint16_t tick;         // tick within the row, 0 at the row's start
    uint32_t tick_frame;   // frames into that tick
    int64_t song_frame;    // song time in output frames
    int64_t song_ms;       // song time in milliseconds
    uint32_t tick_frames;  // that tick's length in frames (882 at tempo 125
                           // and 44100 Hz); 0 while nothing is known of it
};

// Makes `player` the synchronised one, standing at song time
// `start_frame`: installs its row, tick and note callbacks (the row and
// tick callbacks installed before are still called, after), empties the
// event ring (the count of dropped events goes on) and the tick marks. A
// player that a seek has left at the start of a row (start_frame above 0)
// gets that row's note and row events at start_frame, as if it had played
// into it. `exact`: the sound is rendered in step with the engine's clock
// and heard as it is rendered (a capture: capture_active()), so that the
// heard position is the render position; otherwise it is estimated as
// above. Call before the audio device runs the player, or with the audio
// locked.
void music_sync_attach(ModPlayer *player, int64_t start_frame, bool exact);

// Forgets the attached player (its callbacks stay installed).
void music_sync_detach(void);

// The audio callback that keeps the sync: notes the engine time, renders
// through audio_callback, then publishes the snapshot and the song's end.
void music_sync_audio_callback(void *userdata, uint8_t *stream, int len);

// Main thread: the song as heard now. 0 with *position filled; -1 when no
// player is attached (no music).
int music_heard_position(MusicPosition *position);

// Main thread: takes the oldest event not yet taken if it has been heard
// by now (its frame is at most the heard song frame). 1 when one was
// taken into *event, 0 otherwise. Row events follow the note events of
// their row (both carry the row's frame).
int music_event_next(MusicEvent *event);

// Main thread: takes the oldest event not yet taken whatever its frame
// (up to a buffer or two ahead of what is heard): for visuals that
// anticipate. 1 when one was taken, 0 when none is waiting.
int music_event_next_any(MusicEvent *event);

// Main thread: events lost because the main thread took none for longer
// than the ring holds (EVENT_RING_CAPACITY events, several seconds of a
// busy song), counted since the process started: seeks and attaching
// again do not reset it, and the events they discard are not lost ones.
uint64_t music_events_dropped(void);

// Main thread: the heard position for a snapshot and the time `now_ms`,
// for tests and for estimating at a chosen time. -1 when not attached.
int music_heard_position_at(uint32_t now_ms, MusicPosition *position);

// Main thread: what the last audio callback published, read whole (one
// snapshot): its time on the engine's clock in *callback_ms and the song
// frame its buffer began at in *render_start; for measuring the estimate
// against the device. 0, or -1 (nothing written) when no player is
// attached or no callback has rendered since it was.
int music_sync_last_callback(uint32_t *callback_ms, int64_t *render_start);

#endif
