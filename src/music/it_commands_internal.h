// Impulse Tracker's commands that the other formats lack, and its ways with
// the shared ones: its parameter memories, the channel and global volume
// slides of the kinds their parameter names, tempo slides, panbrello, S7y's
// control of a channel's notes and the MIDI macros that set the filter;
// and what its note starts set beyond the sample and the period.
// Called by the command interpreter (effects_internal.h) for the cells of
// songs with IT's quirks and commands. Defined in it_commands.cpp.
#ifndef MUSIC_IT_COMMANDS_INTERNAL_H
#define MUSIC_IT_COMMANDS_INTERNAL_H

#include <cstdint>

#include "music/player_state_internal.h"

// The row's parameter with Impulse Tracker's memories
// (SONG_QUIRK_COMMAND_MEMORIES): a 00 recalls what the command's memory
// holds, anything else is remembered (H, U, R and Y nibble by nibble).
void it_recall_parameter(const ModPlayer *player, Channel *c);

// `value` (0 .. top) slid by the kind the parameter names: xF and Fy
// (x, y nonzero) once, on the row's first tick (`first`), up by x or down
// by y; x0 and 0y on the later ticks; anything else nothing. Returns it
// kept within 0 .. top.
int it_kind_slide(int value, uint8_t xy, bool first, int top);

// T0x and T1x on a later tick: the tempo down or up by x, within 32 .. 255.
void it_tempo_slide(ModPlayer *player, uint8_t xy);

// Yxy on a tick: the channel's panbrello_swing for it, then on by x.
void it_panbrello_step(Channel *c);

// Zxx: the macro it plays (Z00 .. Z7F the one SFy chose, with xx for its
// parameter; Z80 .. ZFF their own) sets the channel's filter cutoff or
// resonance; other macros do nothing.
void it_midi_macro(const ModPlayer *player, Channel *c, uint8_t xx);

// S7y on channel `channel`: its past notes (in the pool) cut, released or
// fading (S70 .. S72), the new-note action of its note (S73 .. S76), its
// envelopes off or on (S77 .. S7C).
void it_instrument_control(ModPlayer *player, int channel, uint8_t y);

// The next number of the player's seeded generator, 0 .. 65535.
uint32_t it_random(ModPlayer *player);

// What an IT note start sets on channel c, whose `sample` starts (the cell
// named an instrument when `named`; `previous` is the instrument the
// channel played before the cell): the sample's C5 speed, the envelopes
// of the instrument (S7y's changes forgotten), its
// envelopes restarted but for those that carry a note of the same
// instrument on, the panning of the instrument and the sample moved by the
// pitch-pan separation and the random variation, the volume's random
// variation (named notes), the instrument's filter cutoff and resonance and
// a silent filter history.
void it_note_start(ModPlayer *player, Channel *c, const SongInstrument *instrument, const SongSample *sample,
                   uint8_t previous, bool named);

#endif
