// Music: a tracker module player, the folder's front page. What a program
// built on the engine includes:
//   song.h           the format-neutral song every reader produces: orders,
//                    packed patterns, one command vocabulary, instruments,
//                    samples, the formats' rules as quirk flags
//   mod_player.h     the player: creation, rendering, seeking, its callbacks
//                    and what it tells of where the song stands
//   module_check.h   whether the player takes a module file, and why not in
//                    words: the one check creation runs
//   module_file.h    reading a module file whole, every failure in words
//   event_ring.h     the lock-free ring that carries row, note and end events
//   wav_file.h       16-bit stereo PCM WAV files (modrender, captures)
//   song_text.h      song times and module text as shown on a terminal
// Inside the library (the *_internal.h headers, not installed): the
// player's record (mod_player_internal.h), the sequencer, the commands,
// the channels' output, periods and tables, the sample streams, the
// voices and their mixing, and the readers of each format.
// Rendering (mod_player_render*) is integer-only, allocates nothing and
// includes no SDL: the library links without it. The SDL audio device, the
// music start-up and the song as heard are the platform library's
// (platform/platform.h).
#ifndef MUSIC_MUSIC_H
#define MUSIC_MUSIC_H

#include "music/event_ring.h"
#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_file.h"
#include "music/song.h"
#include "music/song_text.h"
#include "music/wav_file.h"

#endif
