// The XM, S3M and IT readers: a FastTracker II, Scream Tracker 3 or
// Impulse Tracker module file turned into a Song (song.h), with every
// refusal a reason code and one sentence; and the recognition of the
// tracker formats the engine does not read, so that they are refused by
// name ("MED modules are not supported"). The readers copy what the file
// says into the song's one vocabulary, repairing what real files get
// wrong, and never read outside the bytes they are given.
//
// Allocation bound: a reader allocates nothing the file's size does not
// justify. Packed cells take at most twice the pattern bytes the file
// spends on them (song.h; an IT's at most eight times); decoded sample data
// at most the sample bytes the file holds plus one alignment byte per
// sample (8-bit data stays 8 bits, 16-bit data 2 bytes a frame; an S3M
// stereo sample becomes one mono frame per pair), but an IT's compressed
// samples at most 16 bytes for each byte they spend (a frame can take one
// bit); an IT's message at most its bytes plus one; the rest is bounded
// whatever the file: the row table (4 bytes per row, at most 256 KiB), at
// most 128 instruments (91 KiB) and 2048 sample records (160 KiB). In all:
// at most the file's size plus twice its pattern bytes plus 512 KiB (an
// IT's, sixteen times its size plus 512 KiB).
#ifndef MUSIC_MODULE_READERS_INTERNAL_H
#define MUSIC_MODULE_READERS_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "music/module_read_result.h"
#include "music/song.h"

// 1 when the `size` bytes at `bytes` begin with the XM signature
// "Extended Module: " (the 17 bytes at offset 0), else 0.
int xm_detect(const uint8_t *bytes, size_t size);

// 1 when the `size` bytes at `bytes` carry S3M's "SCRM" at offset 44,
// else 0. (s3m_read then wants the file type 16, a module, at offset 29.)
int s3m_detect(const uint8_t *bytes, size_t size);

// 1 when the `size` bytes at `bytes` begin with IT's "IMPM", else 0.
int it_detect(const uint8_t *bytes, size_t size);

// Reads the XM file at `bytes` into `song`, a new one from song_create.
// Returns 1 with the song filled (song_valid holds), or 0 with
// result->refusal saying why (a file without the signature that carries
// another format's, module_unsupported_format, is MODULE_READ_UNSUPPORTED);
// the song may then hold part of what was read, and the caller destroys
// it either way. A null song refuses with MODULE_READ_EMPTY; a null
// result returns 0 and is not written.
//
// What the song holds: title (20 bytes) and "XM 1.04" with the tracker's
// name as format_name; the song length, restart (0 when past the end),
// channels 1 .. 32 (odd counts too); patterns of 1 .. 256 rows decoded
// from the packed cells (the 0x80 flag byte, else a whole 5-byte cell; a
// pattern of packed size 0 is empty; data past the last row is ignored,
// rows past the data are empty), with an empty 64-row pattern added for
// order entries naming a pattern the file does not store (FastTracker II
// plays those as empty); instruments (the header's size field honoured:
// fields past it read as 0, extra bytes skipped), at least as many as the
// highest instrument number a cell names (instruments past the stored ones
// are empty: their notes play nothing, as in FastTracker II); samples
// delta-decoded (8 and 16 bits, and ModPlug's 4-bit ADPCM), loops in
// frames; note 97 is key off, notes past 97 none; effects and the volume
// column in the song's vocabulary; linear or Amiga frequencies by flag bit
// 0; speed 0 read as 6 and tempo outside 32 .. 255 as 125; global volume
// 64; channels centred; quirks SONG_QUIRK_NOTE_DELAY_PAST_ROW_IGNORED and
// SONG_QUIRK_VOLUME_RAMPING.
//
// Repaired, not refused: envelopes keep their points while the ticks
// increase (at most 12, values above 64 as 64), a sustain or loop naming
// an absent point is dropped; a sample map entry naming an absent sample
// plays nothing; sample data the file's end cuts is kept as far as it
// goes (cut_samples counts them), a loop starting at or past the sample's
// end is dropped and one reaching past it is cut.
//
// Refused: versions other than 1.04 (FastTracker II's 1.02 and 1.03 lay
// out patterns and instruments differently), channels outside 1 .. 32, a
// song length outside 1 .. 256, more than 256 patterns or 128
// instruments, a pattern of 0 or more than 256 rows, an instrument of more
// than 16 samples, and a file that ends inside the song header, a pattern
// header or a pattern's packed data. A file that ends among the
// instruments is read: the instruments it cuts are silent
// (cut_instruments counts them).
int xm_read(const uint8_t *bytes, size_t size, Song *song, ModuleReadResult *result);

// Reads the S3M file at `bytes` into `song`, as xm_read does. The song's
// signed 8-bit mono samples point into `bytes`, which must then outlive it
// unchanged; every other sample is decoded into the song's own block.
//
// What the song holds: title (28 bytes), "S3M" and the tracker version as
// format_name; the orders without the 254 markers, up to the first 255;
// one song channel for each enabled channel up to the last one enabled
// (settings 0 .. 7 left, 8 .. 15 right; channels the file disables or
// gives to Adlib keep only their cells' speed, tempo, jump, break, global
// volume and pattern delay commands, and no notes); 64-row patterns (a
// pointer of 0 is an empty pattern; the packed data is read to its 64th
// row's end, past its stated length as the trackers read it, but no
// further than the file's end, and no further than the stated length once
// the patterns read would take more than the file's size; a channel met
// twice in a row takes the second cell's fields over the first's); notes as octave x 12 +
// semitone + 1 (254 is SONG_NOTE_CUT; other bytes outside octaves 0 .. 7
// and semitones 0 .. 11 are no note), volumes above 64 as 64; instruments
// one per sample with every note mapped to it: PCM samples with C2SPD (0
// read as 8363), loop, 8 or 16 bits, signed (format 1) or unsigned (format
// 2), a stereo sample's two halves mixed into one mono; Adlib instruments
// read as silent ones (adlib_instruments counts them) and packed samples
// likewise (silent_samples); the A .. Z commands in the song's vocabulary;
// speed 0 read as 6, tempo below 33 as 125; global volume (above 64 as
// 64); panning: with the stereo flag (master volume bit 7) left channels
// at 48 and right ones at 192, else all centred, then the panning table's
// entries that carry bit 0x20 (when byte 53 is 252) as nibble x 16; the
// Amiga frequency mode; quirks SONG_QUIRK_SHARED_EFFECT_MEMORY,
// SONG_QUIRK_VOLUME_RAMPING, SONG_QUIRK_FAST_VOLUME_SLIDES (tracker version
// 0x1300 or flag 64) and SONG_QUIRK_AMIGA_LIMITS (flag 16).
//
// Repaired, not refused: an instrument header past the file's end is a
// silent instrument (cut_instruments counts them), sample data the file's
// end cuts is kept as far as it goes, loops as xm_read treats them.
//
// Refused: a file type other than 16 (a module), no channel enabled or no
// order position left, more than 256 orders or patterns, more than 128
// instruments, and a file that ends inside the header, the pointer tables
// or a pattern's length word.
int s3m_read(const uint8_t *bytes, size_t size, Song *song, ModuleReadResult *result);

// Reads the IT file at `bytes` into `song`, as xm_read does; every sample
// is decoded into the song's own block.
//
// What the song holds: title (26 bytes), "IT x.yy" (the format version) and
// the tracker that wrote it as format_name, and the song message (carriage
// returns as line ends); the orders without the 254 markers, up to the
// first 255; channels up to the highest any cell uses, with their panning
// (0 .. 64; surround, 100, and other values centred) and volume; a
// disabled channel (panning + 128) keeps only its cells' speed, tempo,
// jump, break, global volume and pattern delay commands; patterns of 1 ..
// 256 rows from their packed cells (a pointer of 0 is an empty 64-row
// pattern; the data is read no further than its stated length and the
// file's end), with an empty 64-row pattern added for orders naming a
// pattern the file does not store; notes 0 .. 119 as 1 .. 120, 255 key
// off, 254 cut, the rest fade; the volume column and the A .. Z commands in
// the song's vocabulary (Cxx's row in hex); with instruments (flag 4) each
// in the old layout (format before 2.00: one volume envelope of node
// points, fadeout of a 512 count, duplicate notes cut or not) or the new
// one (the note map, three envelopes, new-note action, duplicate check and
// action, fadeout of a 1024 count, pitch-pan separation and centre, global
// volume, default panning, random variations, filter cutoff and
// resonance), at least as many instruments as the highest number a cell
// names; without, one instrument a sample, every note mapped to it; the
// samples: 8 or 16 bits, signed or unsigned, little- or big-endian, plain,
// delta-coded or compressed (2.14, and 2.15's double delta), mono or
// stereo (two halves), loop and sustain loop (forward or ping-pong), global
// volume, volume, default panning, C5 speed (0 read as 8363),
// auto-vibrato; the frequency mode by flag 8; speed 0 read as 6, tempo
// below 32 as 125; global volume and mixing volume (above 128 as 128);
// panning separation (0 without the stereo flag); the MIDI macros that set
// the filter, from the embedded configuration (special bit 8) or Impulse
// Tracker's default (SF0 the cutoff, Z80 .. Z8F the resonance 0 .. 120).
//
// Repaired, not refused: envelopes keep their points while the ticks
// increase (at most 25), a loop or sustain loop naming an absent point or
// ending before it starts is dropped; a note map entry naming an absent
// sample plays nothing; an instrument or sample header past the file's
// end is silent (cut_instruments, cut_samples count them); sample data the
// file's end cuts is kept as far as it goes, and compressed data as far as
// its blocks decode (a block whose count runs past the file, or whose
// stream ends early or names a width outside the coding's, ends the
// sample there); loops as xm_read treats them; a message past the file's
// end is cut there. OpenMPT's plugins are counted (skipped_plugins), not
// played.
//
// Refused: more than 256 orders or patterns, more than 128 instruments,
// more than 2048 samples (128 without instruments), no order position left,
// a pattern of 0 or more than 256 rows, and a file that ends inside the
// header, the order list and pointer tables, or a pattern's header.
int it_read(const uint8_t *bytes, size_t size, Song *song, ModuleReadResult *result);

// A new song read from the XM, S3M or IT file at `bytes` by xm_read,
// s3m_read or it_read: the song, or null with result->refusal saying why
// (also MODULE_READ_NO_MEMORY when the song itself cannot be allocated).
// Release it with song_destroy (or hand it to mod_player_create_song).
// `result` must not be null.
Song *xm_read_song(const uint8_t *bytes, size_t size, ModuleReadResult *result);
Song *s3m_read_song(const uint8_t *bytes, size_t size, ModuleReadResult *result);
Song *it_read_song(const uint8_t *bytes, size_t size, ModuleReadResult *result);

// For the readers: a refusal `why` with the count or version and the
// pattern or instrument its sentence names, put into *r; returns 0, which
// the reader returns.
int module_read_refuse(ModuleReadResult *r, ModuleReadRefusal why, long value, long index);

// For the readers: MODULE_READ_TRUNCATED, the file ending inside `part`
// number `index`, which needs `needed` bytes; returns 0.
int module_read_truncated(ModuleReadResult *r, ModuleReadPart part, long index, uint64_t needed);

// For the readers: whether `cell`'s command still acts on a channel that
// plays no notes (one the file disables, or gives to Adlib): the commands
// that steer the whole song.
bool module_cell_steers_song(const SongCell *cell);

// The name of a tracker format the engine does not read, recognised by its
// signature ("MED", "MTM", "OKT", "STM", "PTM", "ULT", "FAR", "669",
// "DBM", "AMF", "MO3", "UMX", and "XM" for XM versions other than 1.04 is
// not here: xm_read names those), or null when the bytes carry none of
// them.
const char *module_unsupported_format(const uint8_t *bytes, size_t size);

#endif
