// Checks what a module reader left, for the fuzz targets and the tests: an
// accepted song keeps song_valid's invariants, and every row unpacks and
// every sample frame can be read (so a data pointer or length that lies is
// caught by the sanitizers); a refusal has a reason and a sentence.
#ifndef SUPPORT_MUSIC_SONG_CHECK_H
#define SUPPORT_MUSIC_SONG_CHECK_H

#include "music/module_readers.h"
#include "music/song.h"

// `ok` is the reader's return for `song` and `result`. Returns 1 when all
// holds, else 0. Also puts the refusal and any notice into words.
int music_check_read(const Song *song, int ok, const ModuleReadResult *result);

#endif
