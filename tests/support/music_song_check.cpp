// Checks a reader's song or refusal: the invariants, every row and every
// sample frame, and the sentences.
#include "support/music_song_check.h"

int music_check_read(const Song *song, int ok, const ModuleReadResult *result) {
    char text[300];
    if (!ok) {
        return result->refusal != MODULE_READ_OK && module_read_refusal_text(result, "fuzz", text, sizeof text) &&
               text[0] != '\0';
    }
    if (result->refusal != MODULE_READ_OK || !song_valid(song)) return 0;
    module_read_notice_text(result, "fuzz", text, sizeof text);
    SongCell cells[SONG_MAX_CHANNELS];
    for (int p = 0; p < song->pattern_count; p++)
        for (int row = 0; row < song->patterns[p].rows; row++) song_row(song, p, row, cells);
    // Every frame is read; the sum only keeps the reads from being dropped.
    volatile int32_t sum = 0;
    for (int i = 0; i < song->sample_count; i++) {
        const SongSample &s = song->samples[i];
        for (uint32_t f = 0; f < s.length; f++)
            sum += s.bits == 16 ? static_cast<const int16_t *>(s.data)[f] : static_cast<const int8_t *>(s.data)[f];
    }
    (void)sum;
    return 1;
}
