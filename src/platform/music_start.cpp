// The music start-up: the module file read whole, the player created and
// configured, the counters, the device opened paused; every failure named
// in one line and the demo left silent.
#include "platform/music_start.h"

#include <SDL/SDL.h>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/audio_output.h"
#include "platform/capture.h"
#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_file.h"
#include "platform/music_seek.h"
#include "platform/music_sync.h"
#include "util/alloc.h"

uint8_t *music_data = nullptr;
int32_t music_size = 0;
int32_t row_counter = 0;
int32_t tick_counter = 0;

void count_row(void *user) {
    (void)user;
    row_counter++;
}

void count_tick(void *user) {
    (void)user;
    tick_counter++;
}

static const char NO_MUSIC[] = "the demo runs without music";

int music_start_file(const char *path) {
    long size = 0;
    char reason[PATH_MAX + 160];
    uint8_t *data = mod_file_read(path, &size, reason, sizeof reason);
    if (!data) {
        fprintf(stderr, "MUSIC: %s; %s\n", reason, NO_MUSIC);
        return -1;
    }
    // Refused modules are explained here, naming the file, before the
    // player is asked; what is left for it to refuse is a lack of memory.
    if (mod_rejection_reason(data, size, reason, sizeof reason)) {
        fprintf(stderr, "MUSIC: '%s' is not a module: %s; %s\n", path, reason, NO_MUSIC);
        engine_free(data);
        return -1;
    }
    ModPlayer *player = mod_player_create(AUDIO_RATE_HZ, data, size);
    if (!player) {
        fprintf(stderr, "MUSIC: out of memory creating the player for '%s'; %s\n", path, NO_MUSIC);
        engine_free(data);
        return -1;
    }
    // Looping first: KEVO_FROM finds the rows the song reaches going round.
    mod_player_set_loop(player, 1);
    // KEVO_FROM: the song starts where the work on the demo is.
    const int64_t start_frame = music_seek_from_env(player);
    mod_player_set_row_callback(player, count_row, nullptr);
    mod_player_set_tick_callback(player, count_tick, nullptr);
    music_data = data;
    music_size = (int32_t)size;
    music_player = player;
    // What is heard, and the music's events, for the main thread. The music
    // start-up is platform start-up: a capture asked for starts here at the
    // latest, before the device opens (capture.h); in a capture what is
    // rendered is what is heard.
    music_sync_attach(player, start_frame, capture_start() != 0);
    if (audio_open(music_sync_audio_callback) < 0) {
        fprintf(stderr, "MUSIC: cannot open the audio device: %s; %s\n", SDL_GetError(), NO_MUSIC);
        music_sync_detach();
        music_player = nullptr;
        music_data = nullptr;
        music_size = 0;
        mod_player_destroy(player);
        engine_free(data);
        return -1;
    }
    return 0;
}

void music_start(void) { (void)music_start_file(MUSIC_MODULE_PATH); }
