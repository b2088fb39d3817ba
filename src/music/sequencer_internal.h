// The sequencer's clock: ticks and rows, the song's order of positions and
// its end, the tick length, the loading of each row's cells into the
// channels, and the reset to the song's start. The commands it runs at row
// starts and ticks are in effects_internal.h, the period lookups in mod_periods_internal.h;
// together they drive the voices only through voice_set_frequency,
// voice_set_volume and voice_restart and the channels' stream fields.
#ifndef MUSIC_SEQUENCER_INTERNAL_H
#define MUSIC_SEQUENCER_INTERNAL_H

#include <cstdint>

#include "music/player_state_internal.h"

// Called by the render loop each time a tick's frames have been mixed,
// after it has added 1 to `tick`: runs the tick callback, then either the
// per-tick commands of the row or, once the row has lasted speed +
// row_delay ticks, the start of the next row (or the song's end: finished
// becomes 1). Null does nothing.
void process_tick(ModPlayer *player);

// Puts the clock, the channels and the voices in the state creation leaves
// them in: order 0, row 0, tick 0, the song's initial tempo, speed and
// global volume (125, 6 and 64 for a MOD), every channel's state zero but
// its stream's song fields and its initial panning, with row 0 of position
// 0 loaded, every voice fresh and silent, `finished` 0. The song, `loop`
// and the callbacks are kept. Null does nothing.
void mod_player_reset(ModPlayer *player);

// The end of a tick whose frames have all been mixed (or skipped): stops
// the voices whose samples ran out during it, adds 1 to `tick`, sets
// `tick_sample` to 0 and runs process_tick. Shared by rendering and
// seeking, so that both move the song the same way. Null does nothing.
void mod_player_finish_tick(ModPlayer *player);

// samples_per_tick = output_rate x 5 / (2 x tempo), truncated once (a tick
// lasts 2.5 s / tempo; tempo 0 counts as 1), at least 1. Run by the reset
// and by process_tick after the tick's commands, which set the tempo and
// leave the tick length to the clock. Null does nothing.
void update_tick_length(ModPlayer *player);

// Unpacks the current row (order, row) of the song into the player's
// `cells`. Null does nothing.
void unpack_row(ModPlayer *player);

// Reads channel `channel`'s cell of the unpacked row into its state:
// command, note, trigger, period, instrument, sample, volume and finetune,
// then its volume column. A cell whose note delay (EDy, y > 0) waits, on a
// song that sets its voices every tick, only keeps its command: the rest
// is read on the delay's tick.
// Null player or a channel outside 0 .. channel_count - 1 does nothing.
void load_row(ModPlayer *player, int channel);

#endif
