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
// notes sounding.
bool pool_needed(const Song *song);

// Hands the note channel `channel` is sounding to a free pool voice, as its
// instrument's new-note action says (continue, release, fade); when every
// pool voice sounds, the quietest gives way. Nothing for a player without a
// pool, a channel whose note has ended or is silent, or an instrument that
// cuts. Returns 1 when the note was handed over, else 0.
int pool_take_note(ModPlayer *player, int channel);

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
