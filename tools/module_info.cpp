// Reads XM and S3M modules with the engine's readers and prints one line
// per file: what the song holds (format, title, channels, orders,
// patterns, instruments, samples and the bytes they take), or the one
// sentence saying why the file is refused. For checking the readers over
// a corpus of real modules (tools/fetch-real-modules.sh).
//
//   module_info FILE...
//
// Each line reads "FILE: FORMAT | TITLE | N channels, ..." for a song the
// readers took, a line for its notices (Adlib instruments, packed samples)
// and one with the memory the player takes for it against the bound the
// player states; a refusal is one line on standard error. Exit status 0
// when every file was read; 1 when any was refused; 2 with the usage line
// for a wrong command line.
#include <cstdio>
#include <cstring>

#include "music/mod_player.h"
#include "music/module_file.h"
#include "music/module_readers_internal.h"
#include "music/song.h"
#include "platform/program_args.h"
#include "util/alloc.h"
#include "util/std_fds.h"

static const char USAGE[] =
    "usage: module_info FILE...\n"
    "Reads XM and S3M modules and prints what each song holds, or why it is refused.\n";

// The title's printable bytes, others as '?', trailing spaces dropped.
static void printable_title(const char *title, char *out, size_t out_bytes) {
    size_t n = 0;
    for (size_t i = 0; title[i] && n + 1 < out_bytes; i++) {
        const unsigned char c = static_cast<unsigned char>(title[i]);
        out[n++] = (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    while (n > 0 && out[n - 1] == ' ') n--;
    out[n] = '\0';
}

static void print_song(const char *path, const Song *song, const ModuleReadResult *result) {
    uint64_t frames = 0;
    int looped = 0;
    for (int i = 0; i < song->sample_count; i++) {
        frames += song->samples[i].length;
        if (song->samples[i].loop != SONG_LOOP_NONE) looped++;
    }
    char title[SONG_TITLE_BYTES + 1];
    printable_title(song->title, title, sizeof title);
    printf("%s: %s | '%s' | %d channels, %d orders, %d patterns (%u rows, %zu cell bytes), "
           "%d instruments, %d samples (%d looped, %llu frames)",
           path, song->format_name, title, song->channel_count, song->order_count, song->pattern_count,
           song->total_rows, song->cell_bytes, song->instrument_count, song->sample_count, looped,
           static_cast<unsigned long long>(frames));
    if (result->cut_samples || result->cut_instruments)
        printf(", cut by the file's end: %d samples, %d instruments", result->cut_samples,
               result->cut_instruments);
    printf("\n");
    char notice[256];
    if (module_read_notice_text(result, path, notice, sizeof notice)) printf("%s\n", notice);
}

// The player's memory for the song and the bound the player states for
// it: twice the file, the row table and the fixed part.
static void print_player(long size, Song *song) {
    const long rows = static_cast<long>(song->total_rows);
    ModPlayer *player = mod_player_create_song(44100, song);
    if (!player) {
        printf("  the player refuses the song\n");
        return;
    }
    const long memory = mod_player_memory_bytes(player);
    const long bound = 2 * size + 4 * rows + MOD_PLAYER_FIXED_BYTES;
    printf("  player memory %ld bytes (bound %ld)%s\n", memory, bound, memory <= bound ? "" : ": OVER");
    mod_player_destroy(player);
}

// Reads and prints one file; returns 1 when its song was read.
static int show(const char *path) {
    char reason[256];
    long size = 0;
    uint8_t *bytes = mod_file_read(path, &size, reason, sizeof reason);
    if (!bytes) {
        fprintf(stderr, "module_info: %s\n", reason);
        return 0;
    }
    const size_t n = static_cast<size_t>(size);
    ModuleReadResult result = {};
    Song *song = s3m_detect(bytes, n) ? s3m_read_song(bytes, n, &result) : xm_read_song(bytes, n, &result);
    int read = song != nullptr;
    if (song && !song_valid(song)) {
        fprintf(stderr, "module_info: '%s': the reader left a song that breaks its invariants\n", path);
        song_destroy(song);
        read = 0;
    } else if (song) {
        print_song(path, song, &result);
        print_player(size, song);  // the player releases the song
    } else {
        module_read_refusal_text(&result, path, reason, sizeof reason);
        fprintf(stderr, "module_info: %s\n", reason);
    }
    engine_free(bytes);
    return read;
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 1, 1 << 20, USAGE)) return USAGE_ERROR_STATUS;
    int refused = 0;
    for (int i = 1; i < argc; i++) refused += !show(argv[i]);
    return refused ? 1 : 0;
}
