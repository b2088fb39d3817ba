// The voices' source in a module player: streams a channel's current sample
// out of the module bytes, 256 bytes at a time, following its loop or
// reporting its end.
#ifndef MUSIC_SAMPLE_STREAM_H
#define MUSIC_SAMPLE_STREAM_H

#include <cstdint>

// A VoiceSource; `channel` is the Channel whose voice asks. Fills buffer
// with the next 256 bytes of the sample from `position` on: on the first
// pass up to the sample's length, afterwards up to the loop's end, jumping
// back to loop_start at the end. At the end of a sample without a loop
// `playing` becomes 0, `position` 2, the rest of the buffer is zeros and
// the result is 1: the data ended (the render loop then stops the voice at
// the end of the tick). Otherwise the result is 0; a channel not playing
// gets 256 zeros.
int stream_sample(void *channel, int8_t *buffer);

#endif
