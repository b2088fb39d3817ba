// Periods to what the voices play: the frequency of a period in each of
// the song's frequency modes (song.h), a note's period, and the arpeggio's
// semitone steps. Defined in mod_periods.cpp.
#ifndef MUSIC_MOD_PERIODS_INTERNAL_H
#define MUSIC_MOD_PERIODS_INTERNAL_H

#include <cstdint>

#include "music/song.h"
#include "music/voice_internal.h"

// Sets the voice's frequency from an Amiga period and a finetune (0..15):
// floor(3546895 / period), times the finetune multiplier. A period of 0
// leaves the frequency as it is; a period below 113 plays at the rate of
// 113, one above 856 at the rate of 856. A finetune above 15 counts as 0.
// Null voice does nothing.
void set_channel_period(Voice *voice, uint16_t period, uint8_t finetune);

// The MOD finetune nibble (0 .. 15) of a song finetune in 1/128 semitone:
// its sixteenths, two's complement in 4 bits.
inline uint8_t mod_finetune_nibble(int8_t finetune) {
    return static_cast<uint8_t>((finetune >> 4) & 0xF);
}

// The frequency in Hz of `period` in frequency mode `mode`:
//  SONG_FREQUENCY_MOD_TABLE  floor(3546895 / period) for 113 .. 856 (the
//                            nearest end beyond them), no finetune;
//  SONG_FREQUENCY_AMIGA      floor(14317456 / period);
//  SONG_FREQUENCY_LINEAR     8363 x 2^((4608 - period) / 768), truncated
//                            (octave_fraction_table for the fraction).
// 0 for a period of 0 or an unknown mode.
uint32_t period_frequency(uint8_t mode, uint16_t period);

// Sets the voice's frequency for `period` in the song's frequency mode;
// for MOD periods with the finetune's nibble (set_channel_period), or
// under SONG_QUIRK_FINETUNED_PERIODS, for a note of period_table with a
// finetune, at that note's finetuned period (finetuned_frequency); for
// quarter periods with `fraction` 65536ths of a quarter added. A period of
// 0 leaves the frequency as it is. Null voice or song does nothing.
void set_voice_period(Voice *voice, const Song *song, uint16_t period, int8_t finetune, uint16_t fraction);

// The quarter period of `note` (1 .. 96) at C2SPD `c2spd` in 65536ths,
// exactly (C-4 at c2spd x 2^((note - 49) / 12), the fraction kept from the
// octave fraction table's 2^-15): at least 1 and at most 65535 whole
// quarters; 0 for a note outside 1 .. 96 or a C2SPD of 0.
uint32_t exact_note_period(int note, uint32_t c2spd);

// The frequency in Hz of a period_table note `period` at `finetune` (1/128
// semitone, its sixteenths taken) as ProTracker tunes it: 3546895 over the
// finetuned period of the lowest octave halved for each octave up, the
// halves kept (the finetuned C-2 of finetune -3 is 875 / 2 = 437.5). 0 when
// the period is no table note.
uint32_t finetuned_frequency(uint16_t period, int8_t finetune);

// The period of song note `note` (1 .. 96) played on `sample` in mode
// `mode`, 1 .. 65535 (0 for a note outside 1 .. 96 or a null sample):
//  SONG_FREQUENCY_LINEAR  7680 - 64 x (n - 1) - finetune / 2, n the note
//                         plus the sample's relative note (kept in 1 .. 119);
//  SONG_FREQUENCY_AMIGA   with a C2SPD, 14317456 / the note's frequency:
//                         C-4 (note 49) plays at the C2SPD, each semitone
//                         2^(1/12) from there; without one (XM), FastTracker
//                         II's Amiga table at the note plus the relative
//                         note (mod_periods.cpp says how it is built);
//  SONG_FREQUENCY_MOD_TABLE  the ProTracker period of notes 37 .. 72 (C-3
//                         .. B-5), the nearest end beyond them.
uint16_t note_period(uint8_t mode, int note, const SongSample *sample);

// The period of song note `note` (1 .. 120) on `sample` in `mode` when the
// sample sounds at its c2spd on C-5, note 61 (SONG_QUIRK_C5_SPEED):
//  SONG_FREQUENCY_LINEAR  8448 - 64 x (note - 1), heard relative to the
//                         c2spd (c5_period_frequency);
//  SONG_FREQUENCY_AMIGA   14317456 / (c2spd x 2^((note - 61) / 12)).
// 1 .. 65535; 0 for a note outside 1 .. 120, a null sample or another mode.
uint16_t c5_note_period(uint8_t mode, int note, const SongSample *sample);

// The frequency in Hz of `period` from c5_note_period for a sample of
// `c5speed` Hz (0 read as 8363): linear c5speed x 2^((4608 - period) /
// 768), Amiga as period_frequency.
uint32_t c5_period_frequency(uint8_t mode, uint16_t period, uint32_t c5speed);

// `period` in a linear or quarter-period mode moved by `units` 64ths of a
// semitone (positive: up in pitch), at least 1: linear periods by the
// units, quarter periods divided by 2^(units / 768). Other modes and a
// period of 0 keep it.
uint16_t period_moved_by_units(uint8_t mode, uint16_t period, int units);

// The period `steps` (0 .. 15) semitones above `period` in a linear or
// quarter-period mode: 64 x steps linear units lower, or the quarter period
// divided by 2^(steps / 12), at least 1. A period of 0 stays 0; MOD periods
// go through arpeggio_period.
uint16_t semitones_up(uint8_t mode, uint16_t period, int steps);

// The period `steps` semitones above `period` in period_table: `period`
// itself when it is not a table note, entry 47 (0) when the step leaves the
// table, so a step beyond the highest note gives 0.
uint16_t arpeggio_period(uint16_t period, int steps);

#endif
