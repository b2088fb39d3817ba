// The demo's music start-up: reads "res/kevo.mod" whole, creates the one
// player at 44100 Hz with looping on and the row and tick counters
// installed, and opens the audio device paused. Also the process-wide
// module bytes and the two counters the audio thread advances.
#ifndef PLATFORM_MUSIC_START_H
#define PLATFORM_MUSIC_START_H

#include <cstdint>

// The demo's module, relative to the working directory.
#define MUSIC_MODULE_PATH "res/kevo.mod"

// The whole module file in memory, which the player reads in place, and its
// size; null and 0 while there is no music. Kept for the life of the
// process.
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

// music_start_file(MUSIC_MODULE_PATH), its result ignored: the demo runs
// silently when the music cannot start.
void music_start(void);

// Reads the module at `path` whole into music_data, creates music_player
// for 44100 Hz output with looping on, installs count_row and count_tick
// and opens the audio device paused. Returns 0 then. The song starts at
// the row KEVO_FROM names, when it is set (music_seek.h), and the player
// is followed by the heard position and the music events (music_sync.h). Returns -1 when the
// file is missing, unreadable, empty, too large, not an accepted module,
// memory runs out or the device cannot be opened: one "MUSIC: ..." line
// naming the file or device and the reason goes to standard error, nothing
// is kept (music_player and music_data null, music_size 0) and the audio
// callback plays silence.
int music_start_file(const char *path);

#endif
