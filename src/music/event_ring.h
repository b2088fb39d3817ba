// A lock-free single-producer single-consumer ring of music events: the
// audio thread pushes, the main thread takes. Fixed capacity, no locks, no
// allocation, and the producer never waits: when the consumer falls behind,
// the oldest events are overwritten and the consumer counts them as
// dropped.
//
// How "drop the oldest" stays safe without the producer touching the
// consumer's index: the producer alone writes `written` (events pushed so
// far) and, per slot, a sequence number: event w goes into slot w mod
// capacity, whose sequence is 2w + 1 while it is being written and 2w + 2
// once complete (a seqlock per slot). The consumer alone owns `read` and
// `dropped`. It skips straight to the newest `capacity` events when it is
// further behind, and reads a slot only when its sequence is exactly
// 2 x read + 2 before and after the copy; any other value means the
// producer has lapped it there, so that event is counted as dropped and
// skipped. Every event pushed is thus either taken once, in order, or
// counted in `dropped`.
#ifndef MUSIC_EVENT_RING_H
#define MUSIC_EVENT_RING_H

#include <atomic>
#include <cstdint>

constexpr int EVENT_RING_CAPACITY = 1024;  // a power of two

enum MusicEventKind : uint8_t {
    MUSIC_EVENT_ROW = 1,   // a row started
    MUSIC_EVENT_NOTE = 2,  // a note started a sample on a channel
    MUSIC_EVENT_END = 3,   // the song ended (looping off)
};

struct MusicEvent {
    uint8_t kind;          // MusicEventKind
    uint8_t order;         // order position of the row, 0 .. 255 (all kinds)
    uint8_t row;           // row 0 .. 255 (all kinds)
    uint8_t channel;       // note: 0 .. 63
    uint8_t instrument;    // note: the instrument, 1 .. 128 (a MOD's or an
                           // S3M's sample number: their instruments are
                           // their samples)
    uint8_t volume;        // note: 0 .. 64
    uint16_t sample;       // note: the sample the instrument plays for the
                           // note, numbered across the song, 1 .. 2048
                           // (equal to the instrument for MOD and S3M)
    uint16_t period;       // note: the period it starts at, in the song's
                           // frequency mode (song.h): a MOD's Amiga period,
                           // an S3M's quarter period, an XM's linear or
                           // Amiga one
    int64_t frame;         // song frame at which it is heard
};

struct EventRingSlot {
    std::atomic<uint64_t> sequence;
    std::atomic<uint64_t> frame;
    std::atomic<uint64_t> fields;   // kind .. volume and the period
    std::atomic<uint64_t> sample;   // the sample
};

struct EventRing {
    EventRingSlot slots[EVENT_RING_CAPACITY];
    std::atomic<uint64_t> written;  // producer: events pushed so far
    uint64_t read;                  // consumer: events taken or dropped so far
    uint64_t dropped;               // consumer: events lost to overwriting
};

// Empties the ring. Neither side may be using it meanwhile.
void event_ring_init(EventRing *ring);

// Producer: appends `event`, overwriting the oldest when full.
void event_ring_push(EventRing *ring, const MusicEvent *event);

// Consumer: takes the oldest event left if its frame is at most
// `up_to_frame` (INT64_MAX takes any). 1 when one was taken into *event,
// 0 when none (or the next is later).
int event_ring_take(EventRing *ring, MusicEvent *event, int64_t up_to_frame);

// Consumer: forgets every event pushed so far.
void event_ring_discard(EventRing *ring);

#endif
