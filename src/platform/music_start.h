// The music start-up every program shares (the demo, the examples, the
// starter and modplay): reads a module file whole (any format the player
// reads: MOD, XM, S3M), creates the one player at 44100 Hz, installs the
// row and tick counters, starts the song where asked and opens the audio
// device paused; and the stop that undoes it. Also the process-wide module
// bytes and the two counters the audio thread advances.
//
// Two environment variables reach every program that starts its music
// here: KEVO_MUSIC=path plays that module instead of the one the program
// names (the demo's res/kevo.mod, the showcase's, the starter's default),
// and KEVO_FROM=ORDER[:ROW] starts it at that row (music_seek.h). A
// module named on a program's own command line (modplay's FILE, the
// starter's argument) wins over KEVO_MUSIC.
#ifndef PLATFORM_MUSIC_START_H
#define PLATFORM_MUSIC_START_H

#include <cstdint>

// The demo's module, relative to the working directory.
#define MUSIC_MODULE_PATH "res/kevo.mod"

// The whole module file in memory, which the player reads in place, and its
// size; null and 0 while there is no music. Kept for the life of the
// process (or until music_stop).
extern uint8_t *music_data;
extern int32_t music_size;

// Rows started and ticks played since start-up. Only the audio thread
// writes them (plain increments, no lock); they stay 0 until the device is
// unpaused. Offered for synchronising pictures to the music; read them only
// while the audio is locked or closed to get exact values.
extern int32_t row_counter;
extern int32_t tick_counter;

// The player's row and tick callbacks: each ignores `user` and adds 1 to
// row_counter or tick_counter.
void count_row(void *user);
void count_tick(void *user);

// How a program starts its music.
struct MusicStartOptions {
    const char *path;     // the module file
    uint8_t music_env;    // nonzero: KEVO_MUSIC, when set and not empty, names
                          // the module file instead of `path`
    const char *tag;      // starts every failure line: "MUSIC" gives "MUSIC: ..."
    const char *instead;  // ends every failure line after "; " (what the program
                          // does without music), or null for nothing
    uint8_t loop;         // nonzero: the song restarts at its end
    uint8_t from_env;     // nonzero: KEVO_FROM may name the row to start at
                          // (music_seek.h; a bad one is named and ignored)
    int from_order;       // >= 0: start at row from_row of this order position,
                          // and fail when the song never plays it; -1: no
    int from_row;         // 0 .. 255 with from_order
};

// The start-up of the demo, the examples and the starter for `path`: tag
// "MUSIC", "the demo runs without music" instead, looping on, KEVO_MUSIC
// and KEVO_FROM honoured, no position of its own.
MusicStartOptions music_start_options(const char *path);

// music_start_file(MUSIC_MODULE_PATH), its result ignored: the demo runs
// silently when the music cannot start.
void music_start(void);

// music_start_with(music_start_options(path)).
int music_start_file(const char *path);

// Reads the module at options->path (KEVO_MUSIC's instead, when set and
// music_env) whole into music_data, creates music_player for 44100 Hz
// output with options->loop, moves it to the row asked for (from_order,
// else KEVO_FROM when from_env; looping is set first, so a looping song is
// sought as it goes round), installs count_row and count_tick, has the
// player followed by the heard position and the music events
// (music_sync.h) from there, and opens the audio device paused. Returns 0
// then, after one "TAG: ..." line on standard error when the module's
// reader has a notice for it (module_read_notice_text: an S3M's Adlib
// instruments or packed samples, which stay silent). Returns -1 when the
// file is missing, unreadable, empty, too large or not an accepted module,
// memory runs out, the song never plays the from_order position, or the
// device cannot be opened: one "TAG: ...[; INSTEAD]" line naming the file
// or device and the reason goes to standard error, nothing is kept
// (music_player and music_data null, music_size 0) and the audio callback
// plays silence. Null options fail with -1 and print nothing.
int music_start_with(const MusicStartOptions *options);

// Closes the audio device (waiting for its thread), forgets the player in
// music_sync and releases the player and the module bytes: music_player
// and music_data null, music_size 0. Harmless with no music.
void music_stop(void);

#endif
