// Amiga periods to what the voices play: the frequency of a period with
// its finetune, and the arpeggio's semitone steps through the note table.
// Defined in mod_periods.cpp.
#ifndef MUSIC_MOD_PERIODS_H
#define MUSIC_MOD_PERIODS_H

#include <cstdint>

#include "music/voice.h"

// Sets the voice's frequency from an Amiga period and a finetune (0..15):
// floor(3546895 / period), times the finetune multiplier. A period of 0
// leaves the frequency as it is; a period below 113 plays at the rate of
// 113, one above 856 at the rate of 856. A finetune above 15 counts as 0.
// Null voice does nothing.
void set_channel_period(Voice *voice, uint16_t period, uint8_t finetune);

// The period `steps` semitones above `period` in period_table: `period`
// itself when it is not a table note, entry 47 (0) when the step leaves the
// table, so a step beyond the highest note gives 0.
uint16_t arpeggio_period(uint16_t period, int steps);

#endif
