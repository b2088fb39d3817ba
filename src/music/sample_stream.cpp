// The voices' source in a module player: copies the channel's current
// sample out of the module in blocks, follows its loop after the first
// pass, and reports the end of a sample without a loop.
#include "music/sample_stream.h"

#include <cstring>

#include "music/mod_player.h"

// Where a stopped stream's position is left (a note start's position).
constexpr uint32_t STOPPED_POSITION_BYTES = 2;
// A loop of at most this many bytes starting at 0 is the format's way of
// saying "no loop".
constexpr uint32_t NO_LOOP_MAX_BYTES = 2;

int stream_sample(void *user, int8_t *buffer) {
    if (!buffer) return 0;
    Channel *c = static_cast<Channel *>(user);
    if (!c || !c->samples || !c->playing || c->current_sample == 0 ||
        c->current_sample > MOD_SAMPLES) {
        memset(buffer, 0, VOICE_WINDOW_SAMPLES);
        return 0;
    }
    const ModSample *s = &c->samples[c->current_sample - 1];
    const bool looped = s->loop_length != 0 &&
                        !(s->loop_start == 0 && s->loop_length <= NO_LOOP_MAX_BYTES);
    // Creation keeps loop_start + loop_length <= length <= the module's
    // bytes, so every copy below stays inside the module.
    uint32_t pos = c->position;
    uint32_t end = c->first_pass ? s->length : s->loop_start + s->loop_length;
    int written = 0;
    int ended = 0;
    while (written < VOICE_WINDOW_SAMPLES) {
        if (pos < end) {
            uint32_t n = end - pos;
            uint32_t room = static_cast<uint32_t>(VOICE_WINDOW_SAMPLES - written);
            if (n > room) n = room;
            memcpy(buffer + written, s->data + pos, n);
            pos += n;
            written += static_cast<int>(n);
            if (pos < end) continue;
        }
        // The end of the data: loop back, or report the end. The voice is
        // not stopped here but by the render loop at the end of the tick,
        // which it owns: so the last bytes are heard the same however the
        // caller slices its buffers.
        if (!looped) {
            ended = 1;
            c->playing = 0;
            pos = STOPPED_POSITION_BYTES;
            memset(buffer + written, 0, static_cast<size_t>(VOICE_WINDOW_SAMPLES - written));
            break;
        }
        pos = s->loop_start;
        c->first_pass = 0;
        end = s->loop_start + s->loop_length;
    }
    c->position = pos;
    return ended;
}
