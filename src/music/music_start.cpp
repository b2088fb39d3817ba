// The music start-up: the module file read whole, the player created and
// configured, the counters, the device opened paused; every failure named
// in one line and the demo left silent.
#include "music/music_start.h"

#include <SDL/SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "music/audio_output.h"
#include "music/mod_player.h"
#include "music/module_check.h"
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

// Reads `path` whole into a new buffer. Returns the buffer (size in
// *size_bytes) or null after printing the reason.
static uint8_t *read_module_file(const char *path, long *size_bytes) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        fprintf(stderr, "MUSIC: cannot open '%s': %s; %s\n", path, strerror(errno), NO_MUSIC);
        return nullptr;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0 || lseek(fd, 0, SEEK_SET) < 0) {
        fprintf(stderr, "MUSIC: cannot read '%s': %s; %s\n", path, strerror(errno), NO_MUSIC);
        close(fd);
        return nullptr;
    }
    if (end == 0 || end > MOD_MAX_FILE_BYTES) {
        fprintf(stderr, "MUSIC: '%s' is not a module: %s (%ld bytes); %s\n", path,
                end == 0 ? "the file is empty" : "larger than any module", (long)end, NO_MUSIC);
        close(fd);
        return nullptr;
    }
    uint8_t *data = static_cast<uint8_t *>(engine_malloc((size_t)end));
    if (!data) {
        fprintf(stderr, "MUSIC: out of memory reading '%s' (%ld bytes); %s\n", path, (long)end,
                NO_MUSIC);
        close(fd);
        return nullptr;
    }
    // One read normally suffices; a short read is continued, so a slow
    // file system or a signal cannot cut the module.
    long got = 0;
    while (got < (long)end) {
        const ssize_t n = read(fd, data + got, (size_t)(end - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fprintf(stderr, "MUSIC: cannot read '%s': %s; %s\n", path,
                    n < 0 ? strerror(errno) : "the file ended early", NO_MUSIC);
            engine_free(data);
            close(fd);
            return nullptr;
        }
        got += n;
    }
    close(fd);
    *size_bytes = (long)end;
    return data;
}

int music_start_file(const char *path) {
    long size = 0;
    uint8_t *data = read_module_file(path, &size);
    if (!data) return -1;
    // Refused modules are explained here, naming the file, before the
    // player is asked; what is left for it to refuse is a lack of memory.
    char reason[160];
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
    mod_player_set_loop(player, 1);
    mod_player_set_row_callback(player, count_row, nullptr);
    mod_player_set_tick_callback(player, count_tick, nullptr);
    music_data = data;
    music_size = (int32_t)size;
    music_player = player;
    if (audio_open(audio_callback) < 0) {
        fprintf(stderr, "MUSIC: cannot open the audio device: %s; %s\n", SDL_GetError(), NO_MUSIC);
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
