// Starting the music from the middle of the song, so that a demo can be
// worked on from its middle: the KEVO_FROM=ORDER[:ROW] environment
// variable, honoured by the music start-up of every program, and
// music_seek to restart the playing music at a position. Both move the
// player as if it had played the song from its start up to there (speed,
// tempo, volumes, effect memories, the voices in their samples), and the
// song time (music_sync.h) starts from the time the song reaches that row.
#ifndef PLATFORM_MUSIC_SEEK_H
#define PLATFORM_MUSIC_SEEK_H

#include <cstdint>

#include "music/mod_player.h"

// Reads "ORDER" or "ORDER:ROW" (decimal; ROW 0 when left out) into *order
// and *row: ORDER 0 .. 255, ROW 0 .. 255, the most any format holds
// (whether the song has that row is the seek's to say). 0 on success, -1
// otherwise.
int music_parse_position(const char *text, int *order, int *row);

// The rows of the pattern that order position `order` of the player's song
// plays (1 .. 256; a MOD's are 64, an XM's anything from 1 to 256), or 0
// for a null player or a position outside the song.
int music_position_rows(const ModPlayer *player, int order);

// For the music start-up: when KEVO_FROM is set, moves the new `player`
// there and returns the song frame to start from; 0 when it is not set.
// Set the player's looping first: a looping song is sought as it goes
// round (mod_player_seek). A KEVO_FROM that cannot be read or played is
// named in one "MUSIC: ..." line on standard error (a row past the
// position's pattern names its row count) and the song starts from its
// beginning (0).
int64_t music_seek_from_env(ModPlayer *player);

// Restarts the playing music (music_player) at the start of row `row` of
// order position `order`, taking the audio device's lock while the player
// moves; the music events not yet taken are discarded (they are not
// counted by music_events_dropped, whose count goes on) and the heard
// position starts again from there. 0 on success; -1 when there is no
// music or the song, as it plays (going round when it loops), never plays
// that row (nothing changes then).
int music_seek(int order, int row);

// As music_seek, to the start of played row `played_row` (mod_player.h:
// the rows heard since the song began, through its loops and jumps). 0, or
// -1 when there is no music or the song never plays that many rows.
int music_seek_played_row(int64_t played_row);

#endif
