// The voices' source in a module player: copies the channel's current
// sample out of the song in blocks, forwards or (in a ping-pong loop)
// backwards, follows its loop once the first pass is over, and reports the
// end of a sample without a loop.
#include "music/sample_stream_internal.h"

#include <cstring>

#include "music/player_state_internal.h"

// The stream of 8-bit (T int8_t) or 16-bit (T int16_t) samples.
template <typename T>
static int stream(Channel *c, T *buffer) {
    constexpr int BITS = 8 * static_cast<int>(sizeof(T));
    const SongSample *s = c && c->samples && c->playing && c->current_sample != 0 &&
                                  c->current_sample <= c->sample_count
                              ? &c->samples[c->current_sample - 1]
                              : nullptr;
    // A stereo sample's right half follows its left; a mono sample has none.
    if (!s || s->bits != BITS || (c->right_half && !s->stereo)) {
        memset(buffer, 0, sizeof(T) * VOICE_WINDOW_SAMPLES);
        return 0;
    }
    const T *data = static_cast<const T *>(s->data) + (c->right_half ? s->length : 0);
    // Until its note is released a sample with a sustain loop plays that
    // loop instead of its other one.
    const bool sustained = s->sustain_loop != SONG_LOOP_NONE && !c->released;
    const uint8_t loop = sustained ? s->sustain_loop : s->loop;
    const uint32_t loop_start = sustained ? s->sustain_start : s->loop_start;
    const uint32_t loop_length = sustained ? s->sustain_length : s->loop_length;
    const bool looped = loop != SONG_LOOP_NONE;
    // A ping-pong loop of one frame has nowhere to turn: it repeats forward.
    const bool ping_pong = loop == SONG_LOOP_PING_PONG && loop_length >= 2;
    const uint32_t loop_end = loop_start + loop_length;
    if (!ping_pong) c->backwards = 0;  // a released sustain loop turned round
    // The song keeps loop_start + loop_length <= length and its data holds
    // `length` frames, so every copy below stays inside the sample.
    uint32_t pos = c->position;
    uint32_t written = 0;
    int ended = 0;
    while (written < VOICE_WINDOW_SAMPLES) {
        const uint32_t room = VOICE_WINDOW_SAMPLES - written;
        if (c->backwards) {
            // Frames pos - 1 down to loop_start.
            if (pos > loop_end) pos = loop_end;
            uint32_t n = pos > loop_start ? pos - loop_start : 0;
            if (n > room) n = room;
            for (uint32_t i = 0; i < n; i++) buffer[written + i] = data[pos - 1 - i];
            pos -= n;
            written += n;
            if (pos > loop_start) continue;
            // loop_start was read last: on from the frame after it.
            c->backwards = 0;
            pos = loop_start + 1;
            continue;
        }
        const uint32_t end = c->first_pass || !looped ? s->length : loop_end;
        if (pos < end) {
            uint32_t n = end - pos;
            if (n > room) n = room;
            memcpy(buffer + written, data + pos, sizeof(T) * n);
            pos += n;
            written += n;
            if (pos < end) continue;
        }
        // The end of the data: loop back, turn round, or report the end.
        // The voice is not stopped here but by the render loop at the end
        // of the tick, which it owns: so the last frames are heard the same
        // however the caller slices its buffers.
        if (!looped) {
            ended = 1;
            c->playing = 0;
            pos = c->note_start;
            memset(buffer + written, 0, sizeof(T) * (VOICE_WINDOW_SAMPLES - written));
            break;
        }
        c->first_pass = 0;
        if (ping_pong) {
            // loop_end - 1 was read last: back from the frame before it.
            c->backwards = 1;
            pos = loop_end - 1;
        } else {
            pos = loop_start;
        }
    }
    c->position = pos;
    return ended;
}

int stream_sample(void *user, int8_t *buffer) {
    if (!buffer) return 0;
    return stream(static_cast<Channel *>(user), buffer);
}

int stream_sample_wide(void *user, int16_t *buffer) {
    if (!buffer) return 0;
    return stream(static_cast<Channel *>(user), buffer);
}
