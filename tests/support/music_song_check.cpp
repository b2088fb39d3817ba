// Checks a reader's song or refusal: the invariants, every row and every
// sample frame, and the sentences; and plays a song for the fuzz targets.
#include "support/music_song_check.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "music/mod_player.h"

constexpr int FUZZ_RATE_HZ = 2000;
constexpr int FUZZ_FRAMES = 8000;        // 4 s of song: the reader stays the focus

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
        for (uint32_t f = 0; f < s.length * (s.stereo ? 2u : 1u); f++)
            sum += s.bits == 16 ? static_cast<const int16_t *>(s.data)[f] : static_cast<const int8_t *>(s.data)[f];
    }
    (void)sum;
    return 1;
}

void music_fuzz_render(ModPlayer *player, int frames, int chunk_frames) {
    std::vector<int16_t> s16(static_cast<size_t>(chunk_frames) * 2);
    std::vector<uint8_t> u8(static_cast<size_t>(chunk_frames) * 2);
    for (int done = 0, turn = 0; done < frames && !mod_player_is_finished(player); turn++) {
        const int n = std::min(chunk_frames, frames - done);
        if (turn % 2 == 0) mod_player_render_s16(player, s16.data(), n);
        else mod_player_render_u8(player, u8.data(), n);
        done += n;
    }
}

void music_fuzz_play(Song *song, const uint8_t *input, size_t input_size) {
    ModPlayer *player = mod_player_create_song(FUZZ_RATE_HZ, song);
    if (!player) abort();
    mod_player_set_loop(player, 1);
    music_fuzz_render(player, FUZZ_FRAMES, 1 + (input_size > 3 ? input[input_size - 1] : 0) * 7);
    mod_player_set_loop(player, 0);
    int64_t microseconds = 0;
    // Only songs that end within the bound: a seek scans at most to the
    // song's end, and an endless song would make it scan for hours.
    if (mod_song_length(player, FUZZ_FRAMES, &microseconds) < FUZZ_FRAMES) {
        const int order = input_size > 4 ? input[2] % 260 : 0;
        const int row = input_size > 4 ? input[3] : 0;
        if (mod_player_seek(player, order, row) >= 0) music_fuzz_render(player, FUZZ_RATE_HZ, 333);
    }
    mod_player_destroy(player);
}
