// Reads modules with the engine's readers, every format the player plays
// (MOD of any kind, XM, S3M, IT) through the player's own check, and prints
// one line per file: what the song holds (format, title, channels, orders,
// patterns, instruments, samples and the bytes they take), then an IT's
// message, or the one sentence saying why the file is refused. For checking the readers over
// a corpus of real modules (tools/fetch-real-modules.sh).
//
//   module_info FILE...
//
// Each line reads "FILE: FORMAT | TITLE | N channels, ..." for a song the
// readers took (its text with every byte outside printable ASCII shown as
// '?', so that a module cannot drive the terminal), its message's lines
// (each after "  | "), a line for its notices (Adlib instruments, packed
// samples, plugins) and one with the memory the
// player takes for it against the bound the player states; a refusal is
// one line on standard error. Exit status 0 when every file was read; 1
// when any was refused; 2 with the usage line for a wrong command line.
#include <cstdio>
#include <cstring>

#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_file.h"
#include "music/module_read_result.h"
#include "music/song.h"
#include "music/song_text.h"
#include "platform/program_args.h"
#include "util/alloc.h"
#include "util/std_fds.h"

static const char USAGE[] =
    "usage: module_info FILE...\n"
    "Reads MOD, XM, S3M and IT modules and prints what each song holds, or why it is refused.\n";

static void print_song(const char *path, const Song *song, const ModuleReadResult *result) {
    uint64_t frames = 0;
    int looped = 0;
    for (int i = 0; i < song->sample_count; i++) {
        frames += song->samples[i].length;
        if (song->samples[i].loop != SONG_LOOP_NONE) looped++;
    }
    char title[SONG_TITLE_BYTES + 1], format[SONG_FORMAT_NAME_BYTES + 1];
    song_printable_text(title, sizeof title, song->title);
    for (size_t n = strlen(title); n > 0 && title[n - 1] == ' '; n--) title[n - 1] = '\0';
    song_printable_text(format, sizeof format, song->format_name);
    printf("%s: %s | '%s' | %d channels, %d orders, %d patterns (%u rows, %zu cell bytes), "
           "%d instruments, %d samples (%d looped, %llu frames)",
           path, format, title, song->channel_count, song->order_count, song->pattern_count,
           song->total_rows, song->cell_bytes, song->instrument_count, song->sample_count, looped,
           static_cast<unsigned long long>(frames));
    if (result->cut_samples || result->cut_instruments)
        printf(", cut by the file's end: %d samples, %d instruments", result->cut_samples,
               result->cut_instruments);
    printf("\n");
    char line[256];
    for (size_t at = 0; song_message_line(song->message, &at, line, sizeof line);) printf("  | %s\n", line);
    char notice[256];
    if (module_read_notice_text(result, path, notice, sizeof notice)) printf("%s\n", notice);
}

// The player's memory for the song and the bound the player states for
// it: twice the file (sixteen times an IT), the row table, the fixed part
// and the parts of songs with background voices or stereo samples.
static void print_player(long size, Song *song) {
    const long rows = static_cast<long>(song->total_rows);
    const long factor = song->format == SONG_FORMAT_IT ? MOD_PLAYER_IT_FILE_FACTOR : MOD_PLAYER_FILE_FACTOR;
    ModPlayer *player = mod_player_create_song(44100, song);
    if (!player) {
        printf("  the player refuses the song\n");
        return;
    }
    const long memory = mod_player_memory_bytes(player);
    // A song that keeps notes sounding in background voices adds their pool,
    // one with stereo samples the voices' right halves.
    bool pool = song->format == SONG_FORMAT_IT, stereo = false;
    for (int i = 0; i < song->instrument_count; i++) pool = pool || song->instruments[i].new_note_action != SONG_NNA_CUT;
    for (int i = 0; i < song->sample_count; i++) stereo = stereo || song->samples[i].stereo;
    const long bound = factor * size + 4 * rows + MOD_PLAYER_FIXED_BYTES + (pool ? MOD_PLAYER_POOL_BYTES : 0) +
                       (stereo ? MOD_PLAYER_STEREO_BYTES : 0);
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
    // The player's own check: the format by its signature, then its layout
    // or its reader's verdict.
    ModuleCheck check;
    Song *song = nullptr;
    module_check_song(bytes, size, &check, &song);
    int read = song != nullptr;
    if (song && !song_valid(song)) {
        fprintf(stderr, "module_info: '%s': the reader left a song that breaks its invariants\n", path);
        song_destroy(song);
        read = 0;
    } else if (song) {
        print_song(path, song, &check.read);
        print_player(size, song);  // the player releases the song
    } else {
        module_refusal_text(&check, path, reason, sizeof reason);
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
