// Checks what a module reader left, for the fuzz targets and the tests: an
// accepted song keeps song_valid's invariants, and every row unpacks and
// every sample frame can be read (so a data pointer or length that lies is
// caught by the sanitizers); a refusal has a reason and a sentence. And
// plays what the fuzz targets read.
#ifndef SUPPORT_MUSIC_SONG_CHECK_H
#define SUPPORT_MUSIC_SONG_CHECK_H

#include "music/mod_player.h"
#include "music/module_readers_internal.h"
#include "music/song.h"

// `ok` is the reader's return for `song` and `result`. Returns 1 when all
// holds, else 0. Also puts the refusal and any notice into words.
int music_check_read(const Song *song, int ok, const ModuleReadResult *result);

// Renders up to `frames` frames (fewer when the song finishes) in buffers
// of `chunk_frames`, 16-bit and 8-bit output in turn, for the fuzz targets.
void music_fuzz_render(ModPlayer *player, int frames, int chunk_frames);

// Plays a song a reader accepted, for the fuzz targets: looping at 2000 Hz
// for 8000 frames in buffers of awkward sizes (16-bit and 8-bit output in
// turn), then, when it ends within 8000 frames, its length and a seek to
// the order and row named by input[2] and input[3] followed by a second's
// render. Aborts when the player refuses a valid song. Releases the song.
void music_fuzz_play(Song *song, const uint8_t *input, size_t input_size);

#endif
