// The voices' source in a module player: streams a channel's current
// sample out of the song, 256 frames at a time, following its loop
// (forward or ping-pong) or reporting its end.
#ifndef MUSIC_SAMPLE_STREAM_INTERNAL_H
#define MUSIC_SAMPLE_STREAM_INTERNAL_H

#include <cstdint>

// A VoiceSource for 8-bit samples; `channel` is the Channel whose voice
// asks. Fills buffer with the next 256 frames of the sample from `position`
// on. The data ends at the sample's length while `first_pass` is 1 or the
// sample has no loop, else at the loop's end. There a forward loop jumps
// back to loop_start and a ping-pong loop turns round (`backwards` 1),
// reading down to loop_start and turning again; either way `first_pass`
// becomes 0 (a backwards stream reads the frame before `position`, so that
// the turning frames are each read once). At the end of a sample without a
// loop `playing` becomes 0, `position` the channel's note_start, the rest
// of the buffer is zeros and the result is 1: the data ended (the render
// loop then stops the voice at the end of the tick). Otherwise the result
// is 0; a channel not playing, or playing a sample of the other width, gets
// 256 zeros.
int stream_sample(void *channel, int8_t *buffer);

// The same as a VoiceWideSource, for 16-bit samples.
int stream_sample_wide(void *channel, int16_t *buffer);

#endif
