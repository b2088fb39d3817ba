// Renders a four-channel tracker module to a WAV file with the engine's own
// player: 44100 Hz, stereo, signed 16-bit.
//
//   modrender [--seconds N] [--loop] FILE.mod OUT.wav
//
// Without options the song plays once with looping off and the file ends
// where the song ends. --seconds N stops after N seconds (earlier if the
// song ends first); --loop lets the song restart at its end and so needs
// --seconds. Before rendering it prints the title, the samples with their
// names and lengths, the song length in order positions and the duration;
// while rendering it shows a progress bar when standard error is a terminal.
//
// Exit status 0 when OUT.wav was written. Otherwise 1 with one
// "modrender: ..." line on standard error: bad arguments, a FILE that cannot
// be read or is not a module the player accepts (OUT.wav is then not
// touched), or OUT.wav that cannot be written (a partial regular file is
// removed).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_file.h"
#include "platform/wav_file.h"
#include "util/alloc.h"

constexpr int OUTPUT_RATE_HZ = 44100;
constexpr int CHUNK_FRAMES = 4096;
// A song that never ends with looping off (its commands can loop for ever)
// is cut here unless --seconds says otherwise.
constexpr double DEFAULT_LIMIT_SECONDS = 3600.0;
// The WAV data size is a 32-bit byte count.
constexpr double MAX_SECONDS = 6.0 * 3600.0;
constexpr int PROGRESS_BAR_CELLS = 40;

static int report(const char *format, const char *a, const char *b) {
    fprintf(stderr, "modrender: ");
    fprintf(stderr, format, a, b);
    fputc('\n', stderr);
    return 1;
}


// Counts the frames a player has played, tick by tick.
struct SongClock {
    ModPlayer *player;
    long frames;
};

// The tick callback of the counting player. It runs first thing at each
// tick boundary, while samples_per_tick is still the length of the tick
// that just ended.
static void clock_tick(void *user) {
    SongClock *clock = static_cast<SongClock *>(user);
    clock->frames += clock->player->samples_per_tick;
}

// Frames the song lasts with looping off, found by playing it through a
// second player: the sum of its tick lengths up to the tick on which it
// ends. Stops counting at limit_frames. Returns the count, or -1 when the
// player cannot be created.
static long song_frames(const uint8_t *module, long size, long limit_frames) {
    SongClock count = {mod_player_create(OUTPUT_RATE_HZ, module, size), 0};
    if (!count.player) return -1;
    mod_player_set_tick_callback(count.player, clock_tick, &count);
    int32_t *scratch = static_cast<int32_t *>(engine_malloc(2 * CHUNK_FRAMES * sizeof(int32_t)));
    if (!scratch) {
        mod_player_destroy(count.player);
        return -1;
    }
    long rendered = 0;
    while (!mod_player_is_finished(count.player) && rendered < limit_frames) {
        mod_player_render(count.player, scratch, CHUNK_FRAMES);
        rendered += CHUNK_FRAMES;
    }
    const long frames = mod_player_is_finished(count.player) ? count.frames : limit_frames;
    engine_free(scratch);
    mod_player_destroy(count.player);
    return frames < limit_frames ? frames : limit_frames;
}

static void format_time(char *out, size_t out_bytes, long frames) {
    const long tenths = frames * 10 / OUTPUT_RATE_HZ;
    snprintf(out, out_bytes, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
}

static void show_progress(long done, long total) {
    const int cells = total > 0 ? (int)(done * PROGRESS_BAR_CELLS / total) : PROGRESS_BAR_CELLS;
    char bar[PROGRESS_BAR_CELLS + 1];
    for (int i = 0; i < PROGRESS_BAR_CELLS; i++) bar[i] = i < cells ? '#' : '.';
    bar[PROGRESS_BAR_CELLS] = '\0';
    char now[32], all[32];
    format_time(now, sizeof now, done);
    format_time(all, sizeof all, total);
    fprintf(stderr, "\r[%s] %3d%%  %s / %s", bar, total > 0 ? (int)(done * 100 / total) : 100,
            now, all);
    fflush(stderr);
}

static void print_module(const ModPlayer *player, long frames, int cut) {
    printf("Title:    %s\n", player->title);
    printf("Samples:\n");
    for (int i = 0; i < MOD_SAMPLES; i++) {
        const ModSample *s = &player->samples[i];
        int blank = 1;
        for (const char *c = s->name; *c; c++)
            if (*c != ' ') blank = 0;
        if (blank && s->length == 0) continue;
        printf("  %2d  %-22s %7u bytes", i + 1, s->name, (unsigned)s->length);
        // Loop start 0 with 2 bytes is how trackers write "no loop".
        if (s->loop_length > 2 || (s->loop_length && s->loop_start))
            printf("  loop %u+%u", (unsigned)s->loop_start, (unsigned)s->loop_length);
        printf("\n");
    }
    printf("Song:     %d positions\n", player->song_length);
    char duration[32];
    format_time(duration, sizeof duration, frames);
    printf("Duration: %s (%ld frames at %d Hz)%s\n", duration, frames, OUTPUT_RATE_HZ,
           cut ? ", cut short" : "");
    fflush(stdout);
}

// Renders `frames` frames of `player` into `file` after the header.
// Returns 0, or -1 when writing fails.
static int render_to(ModPlayer *player, FILE *file, long frames, int progress) {
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, OUTPUT_RATE_HZ, frames);
    if (fwrite(header, 1, sizeof header, file) != sizeof header) return -1;
    int16_t *samples = static_cast<int16_t *>(engine_malloc(CHUNK_FRAMES * 2 * sizeof(int16_t)));
    int result = samples ? 0 : -1;
    int shown_percent = -1;
    for (long done = 0; result == 0 && done < frames;) {
        const int n = frames - done < CHUNK_FRAMES ? (int)(frames - done) : CHUNK_FRAMES;
        mod_player_render_s16(player, samples, n);
        if (wav_file_write_frames(file, samples, (size_t)n) != 0) result = -1;
        done += n;
        const int percent = (int)(done * 100 / frames);
        if (progress && percent != shown_percent) {
            show_progress(done, frames);
            shown_percent = percent;
        }
    }
    if (progress) fputc('\n', stderr);
    engine_free(samples);
    return result;
}

// Plays the module bytes read from in_path into out_path: the song once
// (looping off) up to `seconds` (0: no limit but the default one), or with
// `loop` for exactly `seconds`. Returns the exit status: 0, or 1 after one
// line on standard error; out_path is created only once the module is
// accepted and is removed again when writing fails.
static int render_module(const uint8_t *module, long size, const char *in_path,
                         const char *out_path, double seconds, int loop) {
    // Refused modules are explained here, naming the file, before the
    // player is asked; what is left for it to refuse is a lack of memory.
    char reason[160];
    if (mod_rejection_reason(module, size, reason, sizeof reason))
        return report("'%s' is not a module: %s", in_path, reason);
    const double limit_seconds = seconds > 0.0 ? seconds : DEFAULT_LIMIT_SECONDS;
    const long limit_frames = (long)(limit_seconds * OUTPUT_RATE_HZ + 0.5);
    const long frames = loop ? limit_frames : song_frames(module, size, limit_frames);
    ModPlayer *player = frames >= 0 ? mod_player_create(OUTPUT_RATE_HZ, module, size) : nullptr;
    if (!player) return report("out of memory creating the player for '%s'%s", in_path, "");
    mod_player_set_loop(player, (uint8_t)loop);
    FILE *file = fopen(out_path, "wb");
    if (!file) {
        mod_player_destroy(player);
        return report("cannot create '%s': %s", out_path, strerror(errno));
    }
    print_module(player, frames, seconds == 0.0 && frames == limit_frames);
    errno = 0;
    int ok = render_to(player, file, frames, isatty(STDERR_FILENO)) == 0;
    const int write_errno = errno;
    ok = (fclose(file) == 0) && ok;
    mod_player_destroy(player);
    if (!ok) {
        // A partial WAV file is removed; a device or pipe given as the
        // output (say /dev/full) is not a file of ours to delete.
        struct stat st;
        if (lstat(out_path, &st) == 0 && S_ISREG(st.st_mode)) remove(out_path);
        return report("cannot write '%s': %s", out_path, strerror(write_errno ? write_errno : EIO));
    }
    printf("Wrote:    %s\n", out_path);
    return 0;
}

static int usage(void) {
    fprintf(stderr, "usage: modrender [--seconds N] [--loop] FILE.mod OUT.wav\n");
    return 1;
}

int main(int argc, char **argv) {
    double seconds = 0.0;
    int loop = 0;
    const char *paths[2] = {nullptr, nullptr};
    int path_count = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            char *end = nullptr;
            seconds = strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(seconds > 0.0) || seconds > MAX_SECONDS) {
                fprintf(stderr, "modrender: --seconds wants a number above 0 and at most %.0f, not "
                        "'%s'\n", MAX_SECONDS, argv[i]);
                return 1;
            }
        } else if (strcmp(argv[i], "--loop") == 0) {
            loop = 1;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (path_count < 2) {
            paths[path_count++] = argv[i];
        } else {
            return usage();
        }
    }
    if (path_count != 2) return usage();
    if (loop && seconds == 0.0) {
        fprintf(stderr, "modrender: --loop needs --seconds N: a looping song never ends\n");
        return 1;
    }
    const char *in_path = paths[0], *out_path = paths[1];
    long size = 0;
    char reason[PATH_MAX + 160];
    uint8_t *module = mod_file_read(in_path, &size, reason, sizeof reason);
    if (!module) return report("%s%s", reason, "");
    const int status = render_module(module, size, in_path, out_path, seconds, loop);
    engine_free(module);
    return status;
}
