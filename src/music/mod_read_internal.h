// The MOD reader: a module that the module check accepted as a MOD, turned
// into a Song (song.h). Sample data stays in the module bytes (signed
// 8-bit, read in place); the rest is copied, repaired where real files get
// it wrong, and translated into the song's command vocabulary.
#ifndef MUSIC_MOD_READ_INTERNAL_H
#define MUSIC_MOD_READ_INTERNAL_H

#include <cstdint>

#include "music/module_format_internal.h"
#include "music/song.h"

// The song of the MOD at `module` (`size_bytes` long), laid out as the
// layout step found it (mod_check_layout or mod_check_soundtracker_layout
// accepted it). Returns null when memory runs out or the layout is not one
// those steps give.
//
// What the song holds: the 20 title bytes as they are; the check's channel
// count (1 .. 32); song length byte 0 as 1 and above 128 as 128, the order
// entries masked with the check's pattern mask (FLT8's halved: they count
// four-channel halves); 64-row patterns of cells with the period as
// written (and the note it is, on the ProTracker table), sample numbers
// above the file's sample count as none, and the command word translated
// (mod_translate_command), FLT8's channels 4 - 7 from each pattern's
// second half; 31 samples (15 for a Soundtracker module, whose header
// ends at byte 600), each its own instrument, with the name's NUL bytes as spaces,
// the data cut to what the file holds, a loop reaching past the sample cut
// to it and one starting at or past its end dropped, and a loop of at most
// 2 bytes from byte 0 read as none; speed 6, tempo 125, global volume 64,
// channels hard left, right, right, left in every four (SONG_QUIRK_HARD_PANNING),
// the MOD period table, and for four channels the rules of this engine's
// MOD player: the other SONG_QUIRK_* flags of song.h (a MOD of any other
// channel count plays without them, as the trackers that write such files
// play them).
Song *mod_read_song(const uint8_t *module, long size_bytes, const ModLayout *layout);

// A MOD command word (command in bits 8 .. 11, parameter in bits 0 .. 7)
// in the song's vocabulary, into cell's command and param: 000 is no
// command; Dxy's parameter becomes the row number (x x 10 + y, bit 7 of
// the byte ignored); Exy keeps y; Fxx below 32 sets the speed and from 32
// the tempo; 8xx and the E commands this engine's MOD player ignores (E0y,
// E3y, E4y, E5y, E7y, E8y, EFy) become CMD_IGNORED with the byte.
void mod_translate_command(uint16_t effect, SongCell *cell);

// The song note of a MOD period: 37 (C-3) for 856 up to 72 (B-5) for 113,
// the notes of the ProTracker table; 0 for a period off the table.
uint8_t mod_note_of_period(uint16_t period);

#endif
