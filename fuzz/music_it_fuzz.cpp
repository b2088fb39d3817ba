// Fuzzes the IT reader and the player on what it reads, as
// music_xm_fuzz.cpp does the XM reader: any byte string is read into a
// song from an exactly sized copy (so a read past its end is caught); a
// song the reader accepts must keep every invariant song_valid checks and
// every row and sample frame must read (music_check_read); then it plays,
// its length is scanned and a row named by the input is sought.
#include <cstdlib>
#include <cstring>

#include "music/module_readers_internal.h"
#include "support/music_song_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t *bytes = static_cast<uint8_t *>(malloc(size ? size : 1));
    if (size) memcpy(bytes, data, size);
    ModuleReadResult result;
    Song *song = it_read_song(bytes, size, &result);
    if (!music_check_read(song, song != nullptr, &result)) abort();
    if (song) music_fuzz_play(song, data, size);  // releases the song
    free(bytes);
    return 0;
}
