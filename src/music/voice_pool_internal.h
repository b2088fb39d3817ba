// The pool of background voices: notes that outlive their channel. When a
// channel starts a new note while its last one still sounds and that
// note's instrument does not cut it (SongInstrument.new_note_action), the
// channel's voice and state are handed to a pool voice whole, so the note
// plays on exactly as it would have on the channel (continued, released
// or fading), shaped by its instrument every tick, and the channel starts
// the new note on its own voice as it always does. A song whose
// instruments all cut their notes has no pool, and nothing here runs.
#ifndef MUSIC_VOICE_POOL_INTERNAL_H
#define MUSIC_VOICE_POOL_INTERNAL_H

#include "music/player_state_internal.h"

// Whether `song` needs a pool: some instrument's new-note action keeps its
// notes sounding, or a cell's S74 .. S76 (CMD_INSTRUMENT_CONTROL) makes one.
bool pool_needed(const Song *song);

// Hands the note channel `channel` is sounding to a free pool voice, as its
// new-note action (Channel.new_note_action) says (continue, release, fade);
// when every pool voice sounds, the quietest gives way. Nothing for a
// player without a pool, a channel whose note has ended or is silent, or a
// note that is cut. Returns 1 when the note was handed over, else 0.
int pool_take_note(ModPlayer *player, int channel);

// Channel `channel` starts `note` (1 .. 120) of `instrument` (its number,
// 0 none): first the duplicate check of that instrument (Impulse
// Tracker's): the channel's notes in the pool of the same instrument that
// match it (SongDuplicateCheck: the same note after the note map, the same
// sample, or any) end by its duplicate action, and so does the note the
// channel sounds instead of taking its new-note action; then the sounding
// note goes to the pool (pool_take_note). Returns 1 when a note was handed
// over, else 0.
int pool_new_note(ModPlayer *player, int channel, uint8_t instrument, uint8_t note);

// S70 .. S72: every note channel `channel` left in the pool is cut,
// released (as by key off) or starts fading, as `action`
// (SONG_NNA_CUT, SONG_NNA_NOTE_OFF, SONG_NNA_NOTE_FADE) says.
void pool_past_notes(ModPlayer *player, int channel, uint8_t action);

// This tick's output of every pool voice (channel_output's shaping of its
// instrument, the global volume), then the pool voices that have fallen
// silent for good (their sample ended, their fadeout reached 0) freed.
void pool_output(ModPlayer *player);

// The end of a tick for the pool voices, as mod_player_finish_tick does
// for the channels' voices: those whose sample ran out stop, and the gains
// they leave the tick with are where the next tick's ramps start.
void pool_finish_tick(ModPlayer *player);

// Moves every pool voice on by `frames` without mixing (seeking).
void pool_advance(ModPlayer *player, int frames);

// Silences and frees every pool voice (the song's start).
void pool_clear(ModPlayer *player);

#endif
