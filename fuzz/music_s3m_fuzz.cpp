// Fuzzes the S3M reader: any byte string is read into a song from an
// exactly sized copy (so a read past its end is caught). A song the reader
// accepts must keep every invariant song_valid checks; then every row is
// unpacked and every sample frame read, so that a pointer or length that
// lies is caught too. Refusals and notices are put into words.
#include <cstdlib>
#include <cstring>

#include "music/module_readers.h"
#include "support/music_song_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t *bytes = static_cast<uint8_t *>(malloc(size ? size : 1));
    if (size) memcpy(bytes, data, size);
    Song *song = song_create();
    ModuleReadResult result;
    if (song) {
        const int ok = s3m_read(bytes, size, song, &result);
        if (!music_check_read(song, ok, &result)) abort();
    }
    song_destroy(song);
    free(bytes);
    return 0;
}
