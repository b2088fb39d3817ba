// The music start-up: the module file read whole, the player created and
// configured, the counters, the device opened paused; every failure named
// in one line and the program left silent. And the stop that undoes it.
#include "platform/music_start.h"

#include <SDL/SDL.h>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/audio_output.h"
#include "platform/audio_sink.h"
#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_file.h"
#include "platform/music_seek.h"
#include "platform/music_sync.h"
#include "platform/platform_start.h"
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

MusicStartOptions music_start_options(const char *path) {
    MusicStartOptions options;
    options.path = path;
    options.music_env = 1;
    options.tag = "MUSIC";
    options.instead = "the demo runs without music";
    options.loop = 1;
    options.from_env = 1;
    options.from_order = -1;
    options.from_row = 0;
    return options;
}

// The one failure line: "TAG: what[; instead]" on standard error. Returns
// -1, the start-up's failure.
static int fail(const MusicStartOptions *options, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
static int fail(const MusicStartOptions *options, const char *format, ...) {
    char what[PATH_MAX + 256];
    va_list args;
    va_start(args, format);
    vsnprintf(what, sizeof what, format, args);
    va_end(args);
    const char *tag = options->tag ? options->tag : "MUSIC";
    if (options->instead)
        fprintf(stderr, "%s: %s; %s\n", tag, what, options->instead);
    else
        fprintf(stderr, "%s: %s\n", tag, what);
    return -1;
}

int music_start_with(const MusicStartOptions *options) {
    if (!options) return -1;
    // The music start-up is platform start-up: a capture asked for starts
    // here at the latest, before the device opens (capture.h).
    platform_start();
    const char *path = options->path;
    const char *env = options->music_env ? getenv("KEVO_MUSIC") : nullptr;
    if (env && *env) path = env;
    if (!path) return fail(options, "no module file named");
    long size = 0;
    char reason[PATH_MAX + 160];
    uint8_t *data = mod_file_read(path, &size, reason, sizeof reason);
    if (!data) return fail(options, "%s", reason);
    // The player's own check says why it refuses, naming the file.
    ModuleCheck check;
    ModPlayer *player = mod_player_create_checked(AUDIO_RATE_HZ, data, size, &check);
    if (!player) {
        module_refusal_text(&check, path, reason, sizeof reason);
        engine_free(data);
        return fail(options, "%s", reason);
    }
    // Looping first: a looping song is sought as it goes round.
    mod_player_set_loop(player, options->loop ? 1 : 0);
    int64_t start_frame = 0;
    if (options->from_order >= 0) {
        start_frame = mod_player_seek(player, options->from_order, options->from_row);
        if (start_frame < 0) {
            const int rows = music_position_rows(player, options->from_order);
            mod_player_destroy(player);
            engine_free(data);
            if (rows > 0 && options->from_row >= rows)
                return fail(options, "order position %d of the song in '%s' has %d rows (0-%d)", options->from_order,
                            path, rows, rows - 1);
            return fail(options, "the song in '%s' never plays row %d of order position %d", path,
                        options->from_row, options->from_order);
        }
    } else if (options->from_env) {
        // KEVO_FROM: the song starts where the work on the program is.
        start_frame = music_seek_from_env(player);
    }
    mod_player_set_row_callback(player, count_row, nullptr);
    mod_player_set_tick_callback(player, count_tick, nullptr);
    music_data = data;
    music_size = static_cast<int32_t>(size);
    music_player = player;
    // What is heard, and the music's events, for the main thread; in a
    // capture what is rendered is what is heard.
    music_sync_attach(player, start_frame, audio_sink()->exact);
    if (audio_open(music_sync_audio_callback) < 0) {
        const int result = fail(options, "cannot open the audio device: %s", SDL_GetError());
        music_sync_detach();
        music_player = nullptr;
        music_data = nullptr;
        music_size = 0;
        mod_player_destroy(player);
        engine_free(data);
        return result;
    }
    // What the reader could not read as the file has it (an S3M's Adlib
    // instruments): the music plays, without those.
    char notice[PATH_MAX + 160];
    if (module_read_notice_text(&check.read, path, notice, sizeof notice))
        fprintf(stderr, "%s: %s\n", options->tag ? options->tag : "MUSIC", notice);
    return 0;
}

int music_start_file(const char *path) {
    const MusicStartOptions options = music_start_options(path);
    return music_start_with(&options);
}

void music_start(void) { (void)music_start_file(MUSIC_MODULE_PATH); }

void music_stop(void) {
    // Closing joins the audio thread: nothing renders the player after it.
    audio_close();
    music_sync_detach();
    ModPlayer *player = music_player;
    music_player = nullptr;
    mod_player_destroy(player);
    engine_free(music_data);
    music_data = nullptr;
    music_size = 0;
}
