// The command interpreter of the sequencer: each channel's command in two
// halves, the one a row start runs (with the channel's note start) and the
// one every later tick of the row runs. Defined in effects.cpp.
#ifndef MUSIC_EFFECTS_INTERNAL_H
#define MUSIC_EFFECTS_INTERNAL_H

#include "music/player_state_internal.h"

// The row-start half of the channel's command, then its volume and note
// start. Also rerun by the retrigger check (E9y, EDy). Null player or a
// channel outside 0 .. channel_count - 1 does nothing.
void row_effects(ModPlayer *player, int channel);

// The per-tick half of the channel's volume column and command, then its
// period and volume for the tick (where the voice is set every tick: the
// tick's period and volume that channel_output plays). Null player or a
// channel outside 0 .. channel_count - 1 does nothing.
void tick_effects(ModPlayer *player, int channel);

// The row-start half of the channel's volume column (after its note and
// instrument, before its command). Null player or a channel outside 0 ..
// channel_count - 1 does nothing.
void volume_column_row(ModPlayer *player, int channel);

#endif
