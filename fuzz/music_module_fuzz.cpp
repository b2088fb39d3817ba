// Fuzzes module parsing and playback: any byte string is offered to
// mod_player_create (every MOD variant: 31 samples with any signature the
// reader takes, FLT8's split patterns, Soundtracker's 15-sample header;
// the seeds hold one of each), and a module it accepts is rendered for a bounded
// number of frames: briefly at 44100 Hz, then looping on at a low output
// rate (a row lasts about 240 frames at 2000 Hz, so many rows and their
// commands are reached cheaply), then looping off at an output rate taken
// from the input, in buffers of awkward sizes; and, for songs that end
// soon, the song's length and a seek to a row named by the input followed
// by a render.
#include <cstdlib>
#include <cstring>

#include "music/mod_player.h"
#include "support/music_song_check.h"

constexpr int FULL_RATE_FRAMES = 4096;
constexpr int LOW_RATE_HZ = 2000;
constexpr int LOOPED_FRAMES = 30000;      // about 125 rows at the low rate
constexpr int UNLOOPED_FRAMES = 30000;    // a bound for songs that never finish
constexpr int MIN_RATE_HZ = 1;            // let creation refuse what it cannot serve

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exact-size copy, so any read past the module's end is caught.
    uint8_t *module = static_cast<uint8_t *>(malloc(size ? size : 1));
    if (size) memcpy(module, data, size);

    ModPlayer *player = mod_player_create(44100, module, static_cast<long>(size));
    if (player) {
        mod_player_set_loop(player, 1);
        music_fuzz_render(player, FULL_RATE_FRAMES, 1024);
        mod_player_destroy(player);
    }
    player = mod_player_create(LOW_RATE_HZ, module, static_cast<long>(size));
    if (player) {
        mod_player_set_loop(player, 1);
        music_fuzz_render(player, LOOPED_FRAMES, 1000);
        mod_player_destroy(player);
    }
    const int rate_hz = size > 2 ? MIN_RATE_HZ + (data[0] << 8 | data[1]) : 22050;
    player = mod_player_create(rate_hz, module, static_cast<long>(size));
    if (player) {
        mod_player_set_loop(player, 0);
        music_fuzz_render(player, UNLOOPED_FRAMES, 1 + (size > 3 ? data[size - 1] : 0) * 7);
        mod_player_destroy(player);
    }
    player = mod_player_create(LOW_RATE_HZ, module, static_cast<long>(size));
    int64_t microseconds = 0;
    // Only songs that end within the bound: a seek scans at most to the
    // song's end, and an endless song would make it scan for hours.
    if (player && mod_song_length(player, UNLOOPED_FRAMES, &microseconds) < UNLOOPED_FRAMES) {
        const int order = size > 4 ? data[2] % 130 : 0;
        const int row = size > 4 ? data[3] % 66 : 0;
        if (mod_player_seek(player, order, row) >= 0) music_fuzz_render(player, LOW_RATE_HZ, 333);
    }
    mod_player_destroy(player);
    free(module);
    return 0;
}
