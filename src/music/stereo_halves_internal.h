// Stereo samples: a second voice for each voice that can play one, reading
// the sample's right half in step with the first, which reads its left. A
// half keeps its own copy of the stream (where it reads, its loop's
// direction) and its own interpolation and filter history; at every tick it
// takes the step, the right gain and the filter's coefficients of its
// voice, whose right gain becomes 0, and when its voice is about to read a
// fresh window (a note start, an offset) it takes the stream from there.
// Songs without stereo samples have no halves, and nothing here runs.
#ifndef MUSIC_STEREO_HALVES_INTERNAL_H
#define MUSIC_STEREO_HALVES_INTERNAL_H

#include "music/player_state_internal.h"

// One voice's right half.
struct StereoHalf {
    Voice voice;                // its source reads `stream`
    Channel stream;             // the stream's fields and the filter's history
};

// Whether `song` has a stereo sample.
bool stereo_needed(const Song *song);

// After a tick's commands and output: every half takes its voice's step,
// right gain and filter, the voice keeps its left gain only; a half whose
// voice plays a mono sample (or none) falls silent.
void stereo_sync(ModPlayer *player);

// A channel's note handed to pool voice `pool_index`: its half goes with it.
void stereo_take(ModPlayer *player, int channel, int pool_index);

// The end of a tick for the halves: those whose sample ran out stop.
void stereo_finish_tick(ModPlayer *player);

// Moves every half on by `frames` without mixing (seeking).
void stereo_advance(ModPlayer *player, int frames);

#endif
