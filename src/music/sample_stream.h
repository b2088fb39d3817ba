// The voices' source in a module player: streams a channel's current sample
// out of the module bytes, 256 bytes at a time, following its loop or
// stopping the voice at its end.
#ifndef MUSIC_SAMPLE_STREAM_H
#define MUSIC_SAMPLE_STREAM_H

#include <cstdint>

// A VoiceSource; `channel` is the Channel whose voice asks. Fills buffer
// with the next 256 bytes of the sample from `position` on: on the first
// pass up to the sample's length, afterwards up to the loop's end, jumping
// back to loop_start at the end. A sample without a loop stops its voice
// (frequency 0), `playing` becomes 0, `position` 2, and the rest of the
// buffer is zeros. A channel not playing gets 256 zeros.
void stream_sample(void *channel, int8_t *buffer);

#endif
