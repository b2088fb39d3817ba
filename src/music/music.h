// Music: a tracker module player, the folder's front page.
//   voice.h          one resampling voice (window, interpolation, volume
//                    or a gain per side)
//   voice_bank_internal.h     four voices straight to unsigned 8-bit stereo
//   song.h           the format-neutral song every reader produces: orders,
//                    packed patterns, one command vocabulary, instruments,
//                    samples, the formats' rules as quirk flags
//   mod_player.h     the player's records and its public interface
//   module_check.h   whether the player takes a module file, and why not in
//                    words: the one check creation runs, and its readers
//   module_format.h  the MOD file layout and its check steps
//   mod_read_internal.h       the MOD reader: a checked MOD to a song
//   module_readers.h the XM and S3M readers into a song, other formats named
//   module_file.h    reading a module file whole, every failure in words
//   mod_tables_internal.h     note periods, rates, finetune, octave and vibrato tables
//   sequencer_internal.h      the clock: ticks and rows, loading rows, the reset
//   effects_internal.h        the commands at row starts and on later ticks
//   mod_periods_internal.h    periods to voice frequencies, note periods, arpeggio steps
//   sample_stream_internal.h  the voices' source: sample data out of the song
//   event_ring.h     the lock-free ring that carries row, note and end events
//   wav_file.h       16-bit stereo PCM WAV files (modrender, captures)
//   song_text.h      song times and module text as shown on a terminal
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
#include "music/module_format.h"
#include "music/module_readers.h"
#include "music/song.h"
#include "music/song_text.h"
#include "music/voice.h"
#include "music/wav_file.h"

#endif
