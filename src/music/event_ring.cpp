// The single-producer single-consumer event ring with per-slot sequence
// numbers; the scheme is described in event_ring.h.
#include "music/event_ring.h"

constexpr uint64_t SLOT_MASK = EVENT_RING_CAPACITY - 1;
static_assert((EVENT_RING_CAPACITY & (EVENT_RING_CAPACITY - 1)) == 0, "capacity is a power of two");

static uint64_t pack(const MusicEvent *e) {
    return static_cast<uint64_t>(e->kind) | static_cast<uint64_t>(e->order) << 8 | static_cast<uint64_t>(e->row) << 16 | static_cast<uint64_t>(e->channel) << 24 |
           static_cast<uint64_t>(e->instrument) << 32 | static_cast<uint64_t>(e->volume) << 40 | static_cast<uint64_t>(e->period) << 48;
}

static void unpack(uint64_t fields, uint64_t sample, uint64_t frame, MusicEvent *e) {
    e->kind = static_cast<uint8_t>(fields);
    e->order = static_cast<uint8_t>(fields >> 8);
    e->row = static_cast<uint8_t>(fields >> 16);
    e->channel = static_cast<uint8_t>(fields >> 24);
    e->instrument = static_cast<uint8_t>(fields >> 32);
    e->volume = static_cast<uint8_t>(fields >> 40);
    e->period = static_cast<uint16_t>(fields >> 48);
    e->sample = static_cast<uint16_t>(sample);
    e->frame = static_cast<int64_t>(frame);
}

void event_ring_init(EventRing *ring) {
    for (EventRingSlot &slot : ring->slots) {
        slot.sequence.store(0, std::memory_order_relaxed);
        slot.frame.store(0, std::memory_order_relaxed);
        slot.fields.store(0, std::memory_order_relaxed);
        slot.sample.store(0, std::memory_order_relaxed);
    }
    ring->read = 0;
    ring->dropped = 0;
    ring->written.store(0, std::memory_order_release);
}

void event_ring_push(EventRing *ring, const MusicEvent *event) {
    const uint64_t w = ring->written.load(std::memory_order_relaxed);
    EventRingSlot *slot = &ring->slots[w & SLOT_MASK];
    slot->sequence.store(2 * w + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot->frame.store(static_cast<uint64_t>(event->frame), std::memory_order_relaxed);
    slot->fields.store(pack(event), std::memory_order_relaxed);
    slot->sample.store(event->sample, std::memory_order_relaxed);
    slot->sequence.store(2 * w + 2, std::memory_order_release);
    ring->written.store(w + 1, std::memory_order_release);
}

int event_ring_take(EventRing *ring, MusicEvent *event, int64_t up_to_frame) {
    for (;;) {
        const uint64_t w = ring->written.load(std::memory_order_acquire);
        if (ring->read == w) return 0;
        if (w - ring->read > EVENT_RING_CAPACITY) {
            ring->dropped += w - EVENT_RING_CAPACITY - ring->read;
            ring->read = w - EVENT_RING_CAPACITY;
        }
        EventRingSlot *slot = &ring->slots[ring->read & SLOT_MASK];
        const uint64_t expected = 2 * ring->read + 2;
        const uint64_t before = slot->sequence.load(std::memory_order_acquire);
        const uint64_t frame = slot->frame.load(std::memory_order_relaxed);
        const uint64_t fields = slot->fields.load(std::memory_order_relaxed);
        const uint64_t sample = slot->sample.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        const uint64_t after = slot->sequence.load(std::memory_order_relaxed);
        if (before != expected || after != expected) {
            // Lapped by the producer: this event is gone.
            ring->dropped++;
            ring->read++;
            continue;
        }
        if (static_cast<int64_t>(frame) > up_to_frame) return 0;
        unpack(fields, sample, frame, event);
        ring->read++;
        return 1;
    }
}

void event_ring_discard(EventRing *ring) { ring->read = ring->written.load(std::memory_order_acquire); }
